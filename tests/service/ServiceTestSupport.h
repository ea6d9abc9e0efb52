#pragma once

#include "ServiceFixture.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace Cogitra::Service::Testing {

// A reply's status; -1 when none came.
inline int Status(const httplib::Result &res)
{
    return res ? res->status : -1;
}

inline QString Me(const QString &rest)
{
    return QStringLiteral("/v1.0/me/onenote/") + rest;
}

// The service with the seeded account and a valid token, and a plain HTTP client for it.
class ServiceTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(start());
        const Cogitra::Testing::SeededAccount seeded = fixture.seedAccount();
        account = seeded.account;
        notebook = seeded.notebook;
        section = seeded.section;
        page = seeded.page;
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

} // namespace Cogitra::Service::Testing
