#pragma once

// What the cli tests that talk to the local notebook service share: the service started
// in-process with the demo account, the client's endpoints pointed at it, and the sign-in
// a person does in the browser.

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

namespace Cogitra::Test {

inline constexpr const char *kServiceEndpoints[]
    = {"COGITRA_GRAPH_ROOT", "COGITRA_LOGIN_ROOT", "COGITRA_ACCOUNT_ROOT", "COGITRA_DESKTOP_ROOT"};

class DemoService
{
public:
    // Starts the service with the demo account and points this process's client at it.
    void start()
    {
        InitNetworking();
        ASSERT_TRUE(m_ServiceDir.isValid());
        Service::ServiceOptions options;
        options.dataDir = m_ServiceDir.path();
        m_Service = std::make_unique<Service::NotebookService>(options);
        QString error;
        ASSERT_TRUE(m_Service->start(&error)) << error.toStdString();
        const auto demo = m_Service->seedDemo();
        ASSERT_TRUE(demo);
        m_Demo = *demo;
        m_Root = m_Service->rootUrl();
        for (const char *name : kServiceEndpoints)
            qputenv(name, m_Root.toUtf8());
        ResetGlobalsForTesting();
    }

    void stop()
    {
        m_Service.reset();
        ResetGlobalsForTesting();
        for (const char *name : kServiceEndpoints)
            qunsetenv(name);
    }

    // Submits the sign-in form of the authorize page as the demo user; the address of
    // the redirect page, which holds the code, or the empty text.
    QString signInInBrowser(const QString &authorizeUrl) const
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

    // The service's own state is the tests' to change, also from their const helpers.
    Service::NotebookService &service() const { return *m_Service; }
    const Service::DemoAccount &demo() const { return m_Demo; }
    const QString &root() const { return m_Root; }

private:
    QTemporaryDir m_ServiceDir;
    std::unique_ptr<Service::NotebookService> m_Service;
    Service::DemoAccount m_Demo;
    QString m_Root;
};

} // namespace Cogitra::Test
