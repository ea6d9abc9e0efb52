#pragma once

#include "online/MCurlHandle.h"
#include "service/DemoSeed.h"
#include "service/NotebookService.h"
#include "util/MGlobals.h"

#include <QString>
#include <QTemporaryDir>
#include <QUrl>
#include <QUrlQuery>

#include <httplib.h>

#include <gtest/gtest.h>

#include <memory>
#include <optional>

// The notebook service in-process on a free port with its own data folder; optionally seeded
// with the demo account, and pointing this process's client at it until stopped.
namespace Cogitra::Testing {

struct SeededAccount
{
    Service::Account account;
    Service::Notebook notebook;
    Service::Section section;
    Service::Page page;
};

class ServiceFixture
{
public:
    struct Setup
    {
        Service::ServiceOptions options; // dataDir is the fixture's own
        bool demo = false;
        bool pointClient = true;
        // Fault tests wait for time-outs; the shipped ones are far longer. Empty: shipped.
        QByteArray requestTimeoutMs = "1500";
    };

    ServiceFixture() = default;
    ServiceFixture(const ServiceFixture &) = delete;
    ServiceFixture &operator=(const ServiceFixture &) = delete;
    ~ServiceFixture() { stop(); }

    // Through ASSERT_NO_FATAL_FAILURE; again: a restart on the same data folder.
    void start() { start(Setup()); }
    void start(Setup setup)
    {
        m_Service.reset();
        InitNetworking();
        ASSERT_TRUE(m_DataDir.isValid());
        setup.options.dataDir = m_DataDir.path();
        m_Service = std::make_unique<Service::NotebookService>(setup.options);
        QString error;
        ASSERT_TRUE(m_Service->start(&error)) << error.toStdString();
        if (setup.demo) {
            const std::optional<Service::DemoAccount> demo = m_Service->seedDemo();
            ASSERT_TRUE(demo);
            m_Demo = *demo;
        }
        m_Pointed = setup.pointClient;
        if (!m_Pointed)
            return;
        const QByteArray root = rootUrl().toUtf8();
        for (const char *name : kEndpoints)
            qputenv(name, root);
        if (!setup.requestTimeoutMs.isEmpty())
            qputenv("COGITRA_REQUEST_TIMEOUT_MS", setup.requestTimeoutMs);
        ResetGlobalsForTesting();
    }

    void stop()
    {
        m_Service.reset();
        if (!m_Pointed)
            return;
        m_Pointed = false;
        ResetGlobalsForTesting();
        for (const char *name : kEndpoints)
            qunsetenv(name);
        qunsetenv("COGITRA_REQUEST_TIMEOUT_MS");
    }

    // Avery's "Work Notes/Meetings/Weekly sync"; a missing piece fails the test by exception.
    [[nodiscard]] SeededAccount seedAccount() const
    {
        SeededAccount s;
        s.account = m_Service
                        ->createAccount(QStringLiteral("avery.example@outlook.com"),
                                        QStringLiteral("secret"), QStringLiteral("Avery Example"))
                        .value();
        s.notebook = m_Service->createNotebook(s.account.cid, QStringLiteral("Work Notes")).value();
        s.section = m_Service->createSection(s.notebook.id, {}, QStringLiteral("Meetings")).value();
        s.page = m_Service
                     ->createPage(s.section.id, QStringLiteral("Weekly sync"),
                                  QStringLiteral("<p>Agenda</p>"))
                     .value();
        return s;
    }

    // The demo user's sign-in on the authorize page: the redirect address (with the code) or "".
    [[nodiscard]] QString signInInBrowser(const QString &authorizeUrl) const
    {
        const QUrl url(authorizeUrl);
        httplib::Client client("127.0.0.1", url.port());
        httplib::Params form;
        for (const auto &[key, value] : QUrlQuery(url).queryItems(QUrl::FullyDecoded))
            form.emplace(key.toStdString(), value.toStdString());
        form.emplace("loginfmt", m_Demo.upn.toStdString());
        form.emplace("passwd", m_Demo.password.toStdString());
        const auto reply = client.Post(url.path().toStdString(), form);
        if (!reply || reply->status != 302)
            return {};
        return QString::fromStdString(reply->get_header_value("Location"));
    }

    // The service's state is the tests' to change, also from their const helpers.
    [[nodiscard]] Service::NotebookService &service() const { return *m_Service; }
    [[nodiscard]] QString rootUrl() const { return m_Service->rootUrl(); }
    [[nodiscard]] const Service::DemoAccount &demo() const { return m_Demo; }
    [[nodiscard]] QString dataDir() const { return m_DataDir.path(); }

private:
    static constexpr const char *kEndpoints[] = {"COGITRA_GRAPH_ROOT", "COGITRA_LOGIN_ROOT",
                                                 "COGITRA_ACCOUNT_ROOT", "COGITRA_DESKTOP_ROOT"};

    QTemporaryDir m_DataDir;
    std::unique_ptr<Service::NotebookService> m_Service;
    Service::DemoAccount m_Demo;
    bool m_Pointed = false;
};

} // namespace Cogitra::Testing
