#pragma once

#include "service/NotebookService.h"

#include <httplib.h>

#include <QByteArray>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

namespace Cogitra::Service::Testing {

inline QByteArray Fixture(const QString &relative)
{
    QFile file(QStringLiteral(COGITRA_FIXTURES_DIR "/graph/") + relative);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

// The body of an .http transcript.
inline QByteArray FixtureBody(const QString &relative)
{
    const QByteArray all = Fixture(relative);
    const qsizetype split = all.indexOf("\r\n\r\n");
    return split < 0 ? all : all.mid(split + 4);
}

// Keys of a JSON object in the order the text writes them (QJsonObject sorts them).
inline QStringList KeyList(const QByteArray &json)
{
    QStringList keys;
    int depth = 0;
    bool inString = false;
    qsizetype stringStart = 0;
    for (qsizetype i = 0; i < json.size(); ++i) {
        const char c = json[i];
        if (inString) {
            if (c == '\\') {
                ++i;
            } else if (c == '"') {
                inString = false;
                qsizetype j = i + 1;
                while (j < json.size() && (json[j] == ' ' || json[j] == '\n' || json[j] == '\r'))
                    ++j;
                if (depth == 1 && j < json.size() && json[j] == ':')
                    keys << QString::fromUtf8(json.mid(stringStart, i - stringStart));
            }
            continue;
        }
        if (c == '"') {
            inString = true;
            stringStart = i + 1;
        } else if (c == '{' || c == '[') {
            ++depth;
        } else if (c == '}' || c == ']') {
            --depth;
        }
    }
    return keys;
}

inline std::string KeyOrder(const QByteArray &json)
{
    return KeyList(json).join(u',').toStdString();
}

// The first JSON object or array in the text, up to its own closing bracket.
inline QByteArray FirstObject(const QByteArray &text)
{
    int depth = 0;
    bool inString = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (inString) {
            if (c == '\\')
                ++i;
            else if (c == '"')
                inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '{' || c == '[') {
            ++depth;
        } else if ((c == '}' || c == ']') && --depth == 0) {
            return text.left(i + 1);
        }
    }
    return text;
}

// The keys of the first object after the marker, in their order.
inline QStringList KeysAfter(const QByteArray &json, const QByteArray &marker)
{
    const qsizetype at = json.indexOf(marker);
    return at < 0 ? QStringList() : KeyList(FirstObject(json.mid(at + marker.size())));
}

// An error reply's shape: the keys of its error object, then those of its innerError.
inline std::string ErrorShape(const QByteArray &json)
{
    return (KeysAfter(json, "\"error\":") + QStringList(QStringLiteral("/"))
            + KeysAfter(json, "\"innerError\":"))
        .join(u',')
        .toStdString();
}

inline QJsonObject JsonObject(const std::string &body)
{
    return QJsonDocument::fromJson(QByteArray::fromStdString(body)).object();
}

// A service on a free port with its own data folder, and a client for it.
class ServiceTest : public ::testing::Test
{
protected:
    void SetUp() override { startService(); }
    void TearDown() override { service.reset(); }

    void startService(ServiceOptions options = ServiceOptions())
    {
        service.reset();
        ASSERT_TRUE(dataDir.isValid());
        options.dataDir = dataDir.path();
        service = std::make_unique<NotebookService>(options);
        QString error;
        ASSERT_TRUE(service->start(&error)) << qPrintable(error);
        client = std::make_unique<httplib::Client>("127.0.0.1", service->port());
        client->set_read_timeout(10);
    }

    // An account with a notebook, a section and a page, and a valid token.
    void makeAccount()
    {
        account
            = *service->createAccount(QStringLiteral("avery.example@outlook.com"),
                                      QStringLiteral("secret"), QStringLiteral("Avery Example"));
        notebook = *service->createNotebook(account.cid, QStringLiteral("Work Notes"));
        section = *service->createSection(notebook.id, QString(), QStringLiteral("Meetings"));
        page = *service->createPage(section.id, QStringLiteral("Weekly sync"),
                                    QStringLiteral("<p>Agenda</p>"));
        token = service->mintTokens(account.cid)->accessToken;
    }

    httplib::Headers bearer() const { return {{"Authorization", "Bearer " + token.toStdString()}}; }

    httplib::Result get(const QString &target)
    {
        return client->Get(target.toStdString().c_str(), bearer());
    }

    QString graph(const QString &rest) const { return QStringLiteral("/v1.0/me/onenote/") + rest; }

    QTemporaryDir dataDir;
    std::unique_ptr<NotebookService> service;
    std::unique_ptr<httplib::Client> client;
    Account account;
    Notebook notebook;
    Section section;
    Page page;
    QString token;
};

} // namespace Cogitra::Service::Testing
