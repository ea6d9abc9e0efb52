#include "OnlineTestSupport.h"

#include "online/MRetry.h"
#include "util/MGlobals.h"

#include <QDateTime>

#include <atomic>
#include <thread>

using namespace Cogitra;
using namespace Cogitra::Testing;
using Service::Fault;
using Service::FaultKind;

namespace {

TEST(RetryPlan, PausesGrowWithJitterAndStopAtTheirLimits)
{
    MRetryPlan plan(1.0);
    Millis waited{0};
    Millis last{0};
    for (int retry = 0; retry < k_MaxRetries; ++retry) {
        const std::optional<Millis> pause = plan.NextPause(std::nullopt);
        ASSERT_TRUE(pause) << retry;
        const Millis full = std::min(k_FirstRetryPause * (1 << retry), k_MaxRetryPause);
        EXPECT_GE(*pause, full / 2) << retry;
        EXPECT_LE(*pause, full) << retry;
        EXPECT_GE(*pause, last / 2) << retry;
        last = *pause;
        waited += *pause;
    }
    EXPECT_FALSE(plan.NextPause(std::nullopt));
    EXPECT_LE(waited, k_MaxRetryWait);
}

TEST(RetryPlan, RetryAfterIsHonouredUpToACapWithinTheWholeWait)
{
    MRetryPlan plan(1.0);
    EXPECT_EQ(plan.NextPause(Millis{3'000}), Millis{3'000});
    EXPECT_EQ(plan.NextPause(Millis{3'600'000}), k_MaxRetryAfter);
    // 23 s waited: another 20 s would pass the whole wait, which ends the tries.
    EXPECT_FALSE(plan.NextPause(Millis{20'000}));
    EXPECT_EQ(plan.retries(), 2);
}

TEST(RetryPlan, OnlyPassingFailuresAreWaitedOut)
{
    for (const long status : {429L, 503L, 504L})
        EXPECT_TRUE(IsPassingFailure(status)) << status;
    for (const long status : {200L, 204L, 400L, 401L, 404L, 500L, 502L, 507L})
        EXPECT_FALSE(IsPassingFailure(status)) << status;
}

class Throttling : public OnlineTest
{
protected:
    void ExpectOutcome(int64_t step, const char *key)
    {
        EXPECT_EQ(g_StepCode.load(), step);
        EXPECT_EQ(g_ErrorMessageKey.get(), QString::fromLatin1(key));
    }

    [[nodiscard]] int RouteCount(const QString &route, int status = -1) const
    {
        int count = 0;
        for (const Service::LoggedRequest &request : m_Service->requestLog())
            count += request.route == route && (status < 0 || request.status == status);
        return count;
    }

    // A page that holds a saved map, with the caches emptied so that an open asks for all.
    void SaveMapFirst()
    {
        SignIn();
        Save(m_Page.id, AwkwardMapJson(), PreviewPng());
        ASSERT_EQ(g_StepCode.load(), 100);
        ResetForNextRun();
    }

    void ResetForNextRun()
    {
        g_OnlinePageId.set(QString());
        g_ErrorMessageKey.set(QString());
        g_ErrorCode.store(0);
        ClearCache();
        ClearRequests();
    }
};

struct Burst
{
    const char *route;
    int status;
    int times;
    bool open;
    int through = 1; // requests of the route that go through
};

class ThrottlingBurst : public Throttling, public ::testing::WithParamInterface<Burst>
{
};

// OneNote's 429 without Retry-After (code 20166), 503 (10002) and 504 come in bursts; each
// request waits them out and the job ends as if they had not been.
TEST_P(ThrottlingBurst, JobEndsWellAndTheLogShowsTheRetries)
{
    const Burst burst = GetParam();
    ASSERT_NO_FATAL_FAILURE(SaveMapFirst());
    m_Service->setFault(QString::fromLatin1(burst.route),
                        {.kind = FaultKind::Status, .status = burst.status, .times = burst.times});
    if (burst.open)
        Open(m_Page.id);
    else
        Save(m_Page.id, QStringLiteral("{\"root\":{\"data\":{\"text\":\"again\"}}}"), PreviewPng());

    ExpectOutcome(burst.open ? -100 : 100, "");
    const QString route = QString::fromLatin1(burst.route);
    EXPECT_EQ(RouteCount(route, burst.status), burst.times);
    EXPECT_EQ(RouteCount(route) - RouteCount(route, burst.status), burst.through);
    EXPECT_EQ(g_NextTryAtMs.load(), 0);
    if (burst.open) {
        EXPECT_EQ(g_DownloadedMapJson.get(), AwkwardMapJson());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Routes, ThrottlingBurst,
    ::testing::Values(Burst{"notebooks", 429, 3, true}, Burst{"sectionPages", 503, 2, true},
                      Burst{"pageContent", 504, 4, true}, Burst{"resource", 429, 1, true},
                      Burst{"pageContent", 429, 2, false}, Burst{"patchContent", 429, 2, false, 2},
                      Burst{"patchContent", 503, 1, false, 2}));

TEST_F(Throttling, AfterTheLastTryTheBusyServiceIsSaidAndTheMapStays)
{
    ASSERT_NO_FATAL_FAILURE(SaveMapFirst());

    // The second update (the map) stays throttled: the preview is new, the map the old one.
    m_Service->setFault(QStringLiteral("patchContent"),
                        {.kind = FaultKind::Status, .status = 429, .skip = 1});
    Save(m_Page.id, QStringLiteral("{\"root\":{\"data\":{\"text\":\"lost?\"}}}"), PreviewPng());
    ExpectOutcome(30, "errServiceBusy");
    EXPECT_EQ(RouteCount(QStringLiteral("patchContent"), 429), 1 + k_MaxRetries);
    m_Service->clearFaults();

    ResetForNextRun();
    Open(m_Page.id);
    ExpectOutcome(-100, "");
    EXPECT_EQ(g_DownloadedMapJson.get(), AwkwardMapJson());

    // The tree's attempts share the waits: a service that stays busy ends them all.
    ResetForNextRun();
    m_Service->setFault(QStringLiteral("notebooks"), {.kind = FaultKind::Status, .status = 503});
    Open(m_Page.id);
    ExpectOutcome(10, "errServiceBusy");
    EXPECT_EQ(RouteCount(QStringLiteral("notebooks")), 1 + k_MaxRetries);
}

TEST_F(Throttling, AGatewayTimeOutOnAnUpdateIsNotSentAgain)
{
    // The update may have been carried out behind the gateway: an append sent again would
    // put a second map on the page.
    SignIn();
    m_Service->setFault(QStringLiteral("patchContent"),
                        {.kind = FaultKind::Status, .status = 504, .times = 1});
    Save(m_Page.id, AwkwardMapJson(), PreviewPng());
    ExpectOutcome(24, "errUploadFailed");
    EXPECT_EQ(RouteCount(QStringLiteral("patchContent")), 1);
}

TEST_F(Throttling, TheNextTryIsPublishedWhileTheWorkerWaits)
{
    ASSERT_NO_FATAL_FAILURE(SaveMapFirst());
    qputenv("COGITRA_RETRY_SCALE", "1");
    m_Service->setFault(QStringLiteral("pageContent"),
                        {.kind = FaultKind::Throttle, .retryAfterSeconds = 1, .times = 1});
    std::atomic<int64_t> seen{0};
    std::atomic<bool> done{false};
    std::thread watcher([&] {
        while (!done.load()) {
            const int64_t at = g_NextTryAtMs.load();
            if (at != 0 && seen.load() == 0)
                seen.store(at - QDateTime::currentMSecsSinceEpoch());
            std::this_thread::sleep_for(Millis{2});
        }
    });
    Open(m_Page.id);
    done.store(true);
    watcher.join();
    qputenv("COGITRA_RETRY_SCALE", "0.01");

    ExpectOutcome(-100, "");
    // Retry-After: 1 is the pause: the next try was announced about a second ahead.
    EXPECT_GT(seen.load(), 500);
    EXPECT_LE(seen.load(), 1000);
    EXPECT_EQ(g_NextTryAtMs.load(), 0);
}

} // namespace
