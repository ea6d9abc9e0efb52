#pragma once

#include "ServiceFixture.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace Cogitra::Service::Testing {

inline QByteArray Fixture(const QString &relative)
{
    QFile file(QStringLiteral(COGITRA_FIXTURES_DIR "/graph/") + relative);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The body of an .http transcript.
inline QByteArray FixtureBody(const QString &relative)
{
    const QByteArray all = Fixture(relative);
    const qsizetype split = all.indexOf("\r\n\r\n");
    return split < 0 ? all : all.mid(split + 4);
}

// The keys of the first object after the marker (of the whole text without one), in the order
// the text writes them: QJsonObject sorts them.
inline std::string KeyOrder(const QByteArray &json, const QByteArray &marker = {})
{
    const qsizetype from = json.indexOf(marker);
    QStringList keys;
    int depth = 0;
    qsizetype string = -1; // where the string being read starts
    for (qsizetype i = from < 0 ? json.size() : from + marker.size(); i < json.size(); ++i) {
        const char c = json[i];
        if (string < 0 && c == '"') {
            string = i + 1;
        } else if (string >= 0 && c == '\\') {
            ++i;
        } else if (string >= 0 && c == '"') {
            qsizetype next = i + 1;
            while (next < json.size() && QChar::isSpace(json[next]))
                ++next;
            if (depth == 1 && next < json.size() && json[next] == ':')
                keys << QString::fromUtf8(json.mid(string, i - string));
            string = -1;
        } else if (string < 0 && (c == '{' || c == '[')) {
            ++depth;
        } else if (string < 0 && (c == '}' || c == ']') && --depth == 0) {
            break;
        }
    }
    return keys.join(u',').toStdString();
}

// An error reply's shape: the keys of its error object, then those of its innerError.
inline std::string ErrorShape(const QByteArray &json)
{
    return KeyOrder(json, "\"error\":") + "/" + KeyOrder(json, "\"innerError\":");
}

inline QJsonObject JsonObject(const std::string &body)
{
    return QJsonDocument::fromJson(QByteArray::fromStdString(body)).object();
}

// A reply's status; -1 when none came.
inline int Status(const httplib::Result &res)
{
    return res ? res->status : -1;
}

// The service with one account that has a notebook, a section, a page and a valid token, and
// a client for it. The tests talk to it directly: the client's endpoints stay as they are.
class ServiceTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(start());
        account
            = *service->createAccount(QStringLiteral("avery.example@outlook.com"),
                                      QStringLiteral("secret"), QStringLiteral("Avery Example"));
        notebook = *service->createNotebook(account.cid, QStringLiteral("Work Notes"));
        section = *service->createSection(notebook.id, QString(), QStringLiteral("Meetings"));
        page = *service->createPage(section.id, QStringLiteral("Weekly sync"),
                                    QStringLiteral("<p>Agenda</p>"));
        token = service->mintTokens(account.cid)->accessToken;
    }

    // A second start restarts the service on the same data folder.
    void start(const ServiceOptions &options = {})
    {
        ASSERT_NO_FATAL_FAILURE(fixture.start({.options = options, .pointClient = false}));
        service = &fixture.service();
        client = std::make_unique<httplib::Client>("127.0.0.1", service->port());
        client->set_read_timeout(10);
    }

    httplib::Headers bearer() const { return {{"Authorization", "Bearer " + token.toStdString()}}; }
    httplib::Result get(const QString &target)
    {
        return client->Get(target.toStdString(), bearer());
    }
    httplib::Result post(const QString &target, const QString &body,
                         const char *type = "application/x-www-form-urlencoded")
    {
        return client->Post(target.toStdString(), body.toStdString(), type);
    }

    Cogitra::Testing::ServiceFixture fixture;
    NotebookService *service = nullptr;
    std::unique_ptr<httplib::Client> client;
    Account account;
    Notebook notebook;
    Section section;
    Page page;
    QString token;
};

inline QString Me(const QString &rest)
{
    return QStringLiteral("/v1.0/me/onenote/") + rest;
}

// The address an item's links give the desktop client.
inline QString ClientUrl(const QJsonValue &item)
{
    return item[u"links"][u"oneNoteClientUrl"][u"href"].toString();
}

} // namespace Cogitra::Service::Testing
