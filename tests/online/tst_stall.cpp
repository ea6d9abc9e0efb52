#include "OnlineTestSupport.h"

#include "online/MGraphClient.h"
#include "online/MPageTree.h"
#include "util/MGlobals.h"

#include <QLoggingCategory>

#include <algorithm>
#include <chrono>
#include <thread>
#include <tuple>

// The request time-out is an idle time-out: a map that takes longer than the limit to arrive
// gets through as long as bytes keep moving, and a reply that stops part way fails as timed
// out without waiting for the connection to close. Uploads are checked with the transport.
using namespace Cogitra;
using namespace Cogitra::Testing;

namespace {

using Stall = OnlineTest;

TEST_F(Stall, OnlyATransferWithNothingMovingForTheLimitTimesOut)
{
    using Millis = std::chrono::milliseconds;
    constexpr int limitMs = 500;
    qputenv("COGITRA_REQUEST_TIMEOUT_MS", QByteArray::number(limitMs));
    QLoggingCategory::setFilterRules(QStringLiteral("default.info=false"));
    SignIn();
    Save(m_Page.id, AwkwardMapJson(), PreviewPng());
    ASSERT_EQ(g_StepCode.load(), 100) << g_ErrorMessageKey.get().toStdString();
    qsizetype largest = 0;
    for (const Service::Resource &resource : m_Service->pageResources(m_Page.id))
        largest = std::max(largest, resource.data.size());

    // Bytes a second (0: half the body, then nothing for the delay), delay, outcome. A tenth
    // of the rate goes out every 100 ms: the moving map takes three limits to arrive.
    const std::tuple<int, int, int64_t, const char *> rows[] = {
        {static_cast<int>(largest * 10 / (3 * limitMs / 100)) + 10, 0, -100, ""},
        {0, 4 * limitMs, -23, "errDownloadFailed"},
    };
    for (const auto &[bytesPerSecond, delayMs, step, key] : rows) {
        SCOPED_TRACE(key);
        ClearCache();
        g_DownloadedMapJson.set(QString());
        m_Service->setFault(QStringLiteral("resource"), {.kind = Service::FaultKind::Slow,
                                                         .delayMs = delayMs,
                                                         .bytesPerSecond = bytesPerSecond});
        const auto started = std::chrono::steady_clock::now();
        Open(m_Page.id);
        const auto took
            = std::chrono::duration_cast<Millis>(std::chrono::steady_clock::now() - started);
        m_Service->clearFaults();
        ExpectOutcome(step, key);
        EXPECT_EQ(g_DownloadedMapJson.get(), *key ? QString() : AwkwardMapJson());
        EXPECT_TRUE(bytesPerSecond ? took > Millis{2 * limitMs} : took < Millis{delayMs})
            << took.count() << " ms";
    }
}

// A read whose reader has gone (the page picker closed) ends at once as cancelled: the
// request under way, and every one after it is not sent.
TEST_F(Stall, AStoppedReadEndsWithTheRequestUnderWay)
{
    qputenv("COGITRA_REQUEST_TIMEOUT_MS", "20000");
    QLoggingCategory::setFilterRules(QStringLiteral("default.info=false"));
    SignIn();
    m_Service->setFault(QStringLiteral("notebooks"),
                        {.kind = Service::FaultKind::Slow, .delayMs = 30'000});
    std::stop_source stop;
    MGraphReply reply;
    MPageTree tree;
    std::thread reader([&] {
        MOnlineClients clients(stop.get_token());
        reply = clients.graph.Send({.url = m_Service->rootUrl() + QLatin1String(k_TreeTarget),
                                    .form = MUrlForm::ServiceUrl});
        tree = ReadPageTree(clients, {QString(), QString(), true});
    });
    for (int i = 0; i < 1000 && Count(k_TreeTarget) == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    stop.request_stop();
    reader.join();
    EXPECT_EQ(reply.http.error.code, -999); // NSURLErrorCancelled, not timed out
    EXPECT_EQ(tree.failure, MPageTree::Failure::Notebooks);
    EXPECT_EQ(Count(k_TreeTarget), 1);
}

} // namespace
