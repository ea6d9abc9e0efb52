#include "ServiceTestSupport.h"

#include <QJsonArray>

using namespace Cogitra::Service;
using namespace Cogitra::Service::Testing;

namespace {

struct FaultCase
{
    const char *name;
    Fault fault;
    int status; // expected status; 0: no reply at all
    const char *bodyHas;
};

std::ostream &operator<<(std::ostream &out, const FaultCase &c)
{
    return out << c.name;
}

class Faults : public ServiceTest, public ::testing::WithParamInterface<FaultCase>
{
protected:
    void SetUp() override
    {
        ServiceTest::SetUp();
        makeAccount();
        client->set_read_timeout(2);
    }
    QString contentTarget() const { return graph(QStringLiteral("pages/%1/content").arg(page.id)); }
};

TEST_P(Faults, ContentRouteMisbehavesAsToldOnceThenRecovers)
{
    FaultCase c = GetParam();
    c.fault.times = 1;
    service->setFault(QStringLiteral("pageContent"), c.fault);
    const auto res = get(contentTarget());
    if (c.status == 0) {
        EXPECT_FALSE(res) << "a reply came: " << (res ? res->status : 0);
    } else {
        ASSERT_TRUE(res);
        EXPECT_EQ(res->status, c.status);
        EXPECT_NE(res->body.find(c.bodyHas), std::string::npos) << res->body;
    }
    const auto next = get(contentTarget());
    ASSERT_TRUE(next);
    EXPECT_EQ(next->status, 200);
    EXPECT_NE(next->body.find("</html>"), std::string::npos);
    ASSERT_FALSE(service->requestLog().empty());
    EXPECT_EQ(service->requestLog().back().route, QStringLiteral("pageContent"));
}

Fault Make(FaultKind kind, int status = 503, int delayMs = 0)
{
    Fault fault;
    fault.kind = kind;
    fault.status = status;
    fault.delayMs = delayMs;
    return fault;
}

INSTANTIATE_TEST_SUITE_P(
    EveryMode, Faults,
    ::testing::Values(
        FaultCase{"status503", Make(FaultKind::Status, 503), 503, "\"code\":\"10002\""},
        FaultCase{"status404", Make(FaultKind::Status, 404), 404, "\"code\":\"20102\""},
        FaultCase{"status500", Make(FaultKind::Status, 500), 500, "\"innerError\""},
        FaultCase{"expiredToken", Make(FaultKind::ExpiredToken), 401,
                  "Access token has expired or is not yet valid."},
        FaultCase{"throttle", Make(FaultKind::Throttle), 429, "TooManyRequests"},
        FaultCase{"malformed", Make(FaultKind::Malformed), 200, "<html"},
        FaultCase{"drop", Make(FaultKind::Drop), 0, ""},
        FaultCase{"truncate", Make(FaultKind::Truncate), 0, ""},
        // Past the client's read time-out of two seconds.
        FaultCase{"delay", Make(FaultKind::Delay, 0, 4000), 0, ""}),
    [](const auto &param) { return std::string(param.param.name); });

TEST_F(Faults, MalformedRepliesAreCompleteButCut)
{
    service->setFault(QStringLiteral("notebooks"), Make(FaultKind::Malformed));
    const auto res = get(graph(QStringLiteral("notebooks")));
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200);
    QJsonParseError error{};
    (void)QJsonDocument::fromJson(QByteArray::fromStdString(res->body), &error);
    EXPECT_NE(error.error, QJsonParseError::NoError);
}

TEST_F(Faults, ThrottleSaysWhenToRetry)
{
    Fault fault = Make(FaultKind::Throttle);
    fault.retryAfterSeconds = 7;
    service->setFault(QStringLiteral("*"), fault);
    const auto res = get(graph(QStringLiteral("notebooks")));
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 429);
    EXPECT_EQ(res->get_header_value("Retry-After"), "7");
    EXPECT_EQ(KeyOrder(QByteArray::fromStdString(res->body)),
              KeyOrder(FixtureBody("errors/429-graph-generic.docs.http")));
    service->clearFaults();
    const auto after = get(graph(QStringLiteral("notebooks")));
    ASSERT_TRUE(after);
    EXPECT_EQ(after->status, 200);
}

TEST_F(Faults, IdentityFaultsUseTheIdentityErrorShape)
{
    service->setFault(QStringLiteral("token"), Make(FaultKind::Status, 503));
    const auto res = client->Post("/common/oauth2/v2.0/token", "grant_type=refresh_token",
                                  "application/x-www-form-urlencoded");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 503);
    EXPECT_EQ(JsonObject(res->body).value(QStringLiteral("error")).toString(),
              QStringLiteral("temporarily_unavailable"));
}

TEST_F(Faults, ADroppedUpdateChangesNothing)
{
    service->setFault(QStringLiteral("patchContent"), Make(FaultKind::Drop));
    const QString before = service->pageHtml(page.id);
    const auto res = client->Patch(
        graph(QStringLiteral("pages/%1/content").arg(page.id)).toStdString().c_str(), bearer(),
        "[{'target':'body','action':'append','content':'<p>lost</p>'}]", "application/json");
    EXPECT_FALSE(res);
    EXPECT_EQ(service->pageHtml(page.id), before);
    ASSERT_FALSE(service->requestLog().empty());
    EXPECT_EQ(service->requestLog().back().status, 0);
}

TEST_F(Faults, SkippedRequestsPassUntouched)
{
    Fault fault = Make(FaultKind::Status, 500);
    fault.skip = 1;
    fault.times = 1;
    service->setFault(QStringLiteral("me"), fault);
    std::vector<int> statuses;
    for (int i = 0; i < 3; ++i) {
        const auto res = get(QStringLiteral("/v1.0/me"));
        ASSERT_TRUE(res);
        statuses.push_back(res->status);
    }
    EXPECT_EQ(statuses, (std::vector<int>{200, 500, 200}));
}

TEST_F(Faults, TheTestRouteSetsAndClearsFaults)
{
    const auto off = client->Post("/_test/faults", R"({"route":"me","kind":"status","status":500})",
                                  "application/json");
    ASSERT_TRUE(off);
    EXPECT_EQ(off->status, 404); // only with --test-routes

    ServiceOptions options;
    options.testRoutes = true;
    startService(options);
    token = service->mintTokens(account.cid)->accessToken;
    const auto set = client->Post(
        "/_test/faults", R"({"route":"me","kind":"status","status":500,"times":2,"skip":0})",
        "application/json");
    ASSERT_TRUE(set);
    EXPECT_EQ(set->status, 204);
    EXPECT_EQ(get(QStringLiteral("/v1.0/me"))->status, 500);
    const auto bad
        = client->Post("/_test/faults", R"({"route":"me","kind":"explode"})", "application/json");
    ASSERT_TRUE(bad);
    EXPECT_EQ(bad->status, 400);
    const auto clear
        = client->Post("/_test/faults", R"({"route":"*","kind":"clear"})", "application/json");
    ASSERT_TRUE(clear);
    EXPECT_EQ(clear->status, 204);
    EXPECT_EQ(get(QStringLiteral("/v1.0/me"))->status, 200);

    // Every kind by its name; a fault on every route spares the route that clears it.
    for (const char *kind :
         {"status", "delay", "drop", "truncate", "malformed", "expiredToken", "throttle"}) {
        const auto one = client->Post(
            "/_test/faults", std::string(R"({"route":"*","kind":")") + kind + R"(","delayMs":1})",
            "application/json");
        ASSERT_TRUE(one) << kind;
        EXPECT_EQ(one->status, 204) << kind;
        const auto cleared
            = client->Post("/_test/faults", R"({"route":"*","kind":"clear"})", "application/json");
        ASSERT_TRUE(cleared) << kind;
        EXPECT_EQ(cleared->status, 204) << kind;
    }
    EXPECT_EQ(get(QStringLiteral("/v1.0/me"))->status, 200);
}

} // namespace
