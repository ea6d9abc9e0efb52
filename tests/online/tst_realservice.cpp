#include "OnlineTestSupport.h"

#include "attachment/TZetGifAttachment.h"
#include "online/MPageContent.h"
#include "online/MRetry.h"
#include "online/MTokenClient.h"
#include "service/PageContent.h"
#include "util/MGlobals.h"

#include <QDateTime>

#include <atomic>
#include <thread>

// The client against the notebook service answering as the online service does and our own
// pages never did: throttled in bursts, images with a data-id before their id, and an image
// source that names a rendition holding the picture only.
using namespace Cogitra;
using namespace Cogitra::Testing;
using Service::Fault;
using Service::FaultKind;

namespace {

const QString kMap = QStringLiteral(R"({"root":{"data":{"text":"Road map & plan"}}})");

// Pauses of 2, 4, 8 and 12 s at most, each at least half its full length and of the one
// before; 30 s in all.
TEST(RetryPlan, PausesGrowWithJitterAndStopAtTheirLimits)
{
    MRetryPlan plan(1.0);
    Millis waited{0};
    Millis last{0};
    for (const int full : {2'000, 4'000, 8'000, 12'000}) {
        const std::optional<Millis> pause = plan.NextPause(std::nullopt);
        ASSERT_TRUE(pause) << full;
        EXPECT_GE(*pause, std::max(Millis{full / 2}, last / 2)) << full;
        EXPECT_LE(*pause, Millis{full}) << full;
        last = *pause;
        waited += *pause;
    }
    EXPECT_FALSE(plan.NextPause(std::nullopt));
    EXPECT_LE(waited, Millis{30'000});

    // Retry-After is honoured up to a cap, within the whole wait: after 23 s another 20 s
    // would pass it, which ends the tries.
    MRetryPlan told(1.0);
    EXPECT_EQ(told.NextPause(Millis{3'000}), Millis{3'000});
    EXPECT_EQ(told.NextPause(Millis{3'600'000}), Millis{20'000});
    EXPECT_FALSE(told.NextPause(Millis{20'000}));
    EXPECT_EQ(told.retries(), 2);

    for (const long status : {200L, 204L, 400L, 401L, 404L, 429L, 500L, 502L, 503L, 504L, 507L})
        EXPECT_EQ(IsPassingFailure(status), status == 429 || status == 503 || status == 504);
}

TEST(ReplyTextMember, ReadsDecodedTopLevelMembersAndCutsWhatIsNoJson)
{
    const std::pair<const char *, const char *> rows[] = {
        {R"({"token_type":"Bearer","access_token":"EwB\/a+b\/c==","x":1})", "EwB/a+b/c=="},
        {R"({"error":{"access_token":"inner"},"access_token":"top"})", "top"},
        {R"({"access_token": "spaced"})", "spaced"},
        {R"({"access_token":3600})", ""},
        {R"({"error":"invalid_grant"})", ""},
        // The published sample with a trailing comma is no JSON: cut as before.
        {R"({"refresh_token":"def","access_token":"abc",})", "abc"},
    };
    for (const auto &[reply, member] : rows)
        EXPECT_EQ(ReplyTextMember(reply, QStringLiteral("access_token")), QLatin1String(member))
            << reply;
}

class RealService : public OnlineTest
{
protected:
    [[nodiscard]] int RouteCount(const QString &route) const
    {
        int count = 0;
        for (const Service::LoggedRequest &request : m_Service->requestLog())
            count += request.route == route;
        return count;
    }

    void Switch(const char *route, FaultKind kind, Fault fault = {})
    {
        fault.kind = kind;
        m_Service->setFault(QString::fromLatin1(route), fault);
    }
};

// OneNote's 429 without Retry-After (code 20166), 503 (10002) and 504 come in bursts; each
// request waits them out and the job ends as if they had not been. A service that stays busy
// is said after the last try, and the tree's attempts share the waits. A gateway time-out on
// an update is not sent again: it may have been carried out behind the gateway, and an append
// sent again would put a second map on the page. The saved map is whole after each job, and
// the page holds one map and one picture.
TEST_F(RealService, PassingFailuresAreWaitedOutAndTheLogShowsTheRetries)
{
    struct Row
    {
        const char *route;
        Fault fault;
        bool open;
        int64_t step;
        const char *key;
        int requests; // of the route
    };
    // clang-format off
    const Row rows[] = {
        {"notebooks", {.status = 429, .times = 3}, true, -100, "", 4},
        {"sectionPages", {.status = 503, .times = 2}, true, -100, "", 3},
        {"pageContent", {.status = 504, .times = 4}, true, -100, "", 5},
        {"resource", {.status = 429, .times = 1}, true, -100, "", 2},
        // Two throttled reads, the read and the read back after the save.
        {"pageContent", {.status = 429, .times = 2}, false, 100, "", 4},
        {"patchContent", {.status = 429, .times = 2}, false, 100, "", 4},
        {"patchContent", {.status = 503, .times = 1}, false, 100, "", 3},
        // The second update (the map) stays throttled.
        {"patchContent", {.status = 429, .skip = 1}, false, 30, "errServiceBusy", 2 + k_MaxRetries},
        {"patchContent", {.status = 504, .times = 1}, false, 24, "errUploadFailed", 1},
        {"notebooks", {.status = 503}, true, 10, "errServiceBusy", 1 + k_MaxRetries},
    };
    // clang-format on
    ASSERT_NO_FATAL_FAILURE(PutMap(AwkwardMapJson()));
    QString saved = AwkwardMapJson();
    for (const Row &row : rows) {
        SCOPED_TRACE(row.route + std::to_string(row.fault.status));
        Switch(row.route, FaultKind::Status, row.fault);
        const QString map = row.open ? saved : saved + QLatin1Char(' ');
        if (row.open)
            Open(m_Page.id);
        else
            Save(m_Page.id, map, PreviewPng());
        ExpectOutcome(row.step, row.key);
        EXPECT_EQ(RouteCount(QString::fromLatin1(row.route)), row.requests);
        EXPECT_EQ(g_NextTryAtMs.load(), 0);
        if (row.step == 100)
            saved = map;
        m_Service->clearFaults();
        Reset();
        Open(m_Page.id);
        ExpectOutcome(-100, "");
        EXPECT_EQ(g_DownloadedMapJson.get(), saved);
        EXPECT_EQ(m_Service->pageResources(m_Page.id).size(), 2u); // replaced, never added
        Reset();
    }
}

TEST_F(RealService, TheNextTryIsPublishedWhileTheWorkerWaits)
{
    ASSERT_NO_FATAL_FAILURE(PutMap(AwkwardMapJson()));
    qputenv("COGITRA_RETRY_SCALE", "1");
    Switch("pageContent", FaultKind::Throttle, {.retryAfterSeconds = 1, .times = 1});
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

// The source gives the picture without the map behind it; the open asks once for the
// original, and what that one holds decides.
TEST_F(RealService, OpenOfARenditionAsksOnceForTheOriginal)
{
    // clang-format off
    const struct { QString map; std::optional<Fault> originalFault; int64_t step; const char *key; } rows[] = {
        {kMap, std::nullopt, -100, ""},
        {QString(), std::nullopt, -100, ""},
        {kMap, Fault{.kind = FaultKind::Malformed}, -24, "errMapUnreadable"},
        {kMap, Fault{.status = 404}, -24, "errDownloadFailed"},
    };
    // clang-format on
    for (const auto &row : rows) {
        SCOPED_TRACE(row.key);
        ASSERT_NO_FATAL_FAILURE(PutMap(row.map));
        Switch("pageContent", FaultKind::OptimizedImages);
        if (row.originalFault) {
            Fault fault = *row.originalFault;
            fault.skip = 1;
            fault.times = 1;
            m_Service->setFault(QStringLiteral("resource"), fault);
        }
        const QString html
            = Service::ShapeImages(m_Service->pageHtml(m_Page.id), {.optimizedImages = true});
        const QString rendition = TZetGifAttachment::GetZetGifUrlFromPageHtml(html);
        const QString original = TZetGifAttachment::GetZetGifOriginalUrlFromPageHtml(html);
        ASSERT_EQ(rendition, original + QLatin1String(Service::kRenditionQuery));

        g_DownloadedMapJson.set(QString());
        Open(m_Page.id);
        ExpectOutcome(row.step, row.key);
        EXPECT_EQ(g_DownloadedMapJson.get(), row.step == -100 ? row.map : QString());
        EXPECT_EQ(Targets(),
                  (QList<QByteArray>{k_TreeTarget, SectionPagesTarget(m_Section.id),
                                     ContentTarget(), TargetOf(rendition), TargetOf(original)}));
        ExpectAuthorized(m_AccessToken);
        m_Service->clearFaults();
    }
}

} // namespace
