#include "OnlineTestSupport.h"

#include "online/MHttp.h"
#include "util/MGlobals.h"
#include "util/MLimits.h"

#include <QLoggingCategory>

#include <httplib.h>

#include <chrono>
#include <thread>

// The request time-out is an idle time-out: a map that takes longer than the limit to arrive or
// to be sent gets through as long as bytes keep moving, and a reply that stops part way fails
// as timed out without waiting for the connection to close.
using namespace Cogitra;
using namespace Cogitra::Testing;

namespace {

using Millis = std::chrono::milliseconds;
constexpr int k_LimitMs = 500;

using Stall = OnlineTest;

TEST_F(Stall, OnlyATransferWithNothingMovingForTheLimitTimesOut)
{
    qputenv("COGITRA_REQUEST_TIMEOUT_MS", QByteArray::number(k_LimitMs));
    QLoggingCategory::setFilterRules(QStringLiteral("default.info=false"));
    SignIn();
    Save(m_Page.id, AwkwardMapJson(), PreviewPng());
    ASSERT_EQ(g_StepCode.load(), 100) << g_ErrorMessageKey.get().toStdString();
    qsizetype largest = 0;
    for (const Service::Resource &resource : m_Service->pageResources(m_Page.id))
        largest = std::max(largest, resource.data.size());

    struct Row
    {
        const char *name;
        int bytesPerSecond; // 0: half the body, then nothing for delayMs
        int delayMs;
        int64_t step;
        const char *key;
    };
    // A tenth of the rate goes out every 100 ms: the map takes three limits to arrive.
    const Row rows[] = {
        {"moving", static_cast<int>(largest * 10 / (3 * k_LimitMs / 100)) + 10, 0, -100, ""},
        {"stalled", 0, 4 * k_LimitMs, -23, "errDownloadFailed"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        ClearCache();
        g_DownloadedMapJson.set(QString());
        m_Service->setFault(QStringLiteral("resource"), {.kind = Service::FaultKind::Slow,
                                                         .delayMs = row.delayMs,
                                                         .bytesPerSecond = row.bytesPerSecond});
        const auto started = std::chrono::steady_clock::now();
        Open(m_Page.id);
        const auto took = std::chrono::steady_clock::now() - started;
        m_Service->clearFaults();

        EXPECT_EQ(g_StepCode.load(), row.step);
        EXPECT_EQ(g_ErrorMessageKey.get(), QString::fromLatin1(row.key));
        EXPECT_EQ(g_DownloadedMapJson.get(), row.step == -100 ? AwkwardMapJson() : QString());
        if (row.bytesPerSecond > 0)
            EXPECT_GT(took, Millis{2 * k_LimitMs});
        else
            EXPECT_LT(took, Millis{row.delayMs});
    }
}

// The largest map saved over a slow link: the peer takes it in a little at a time, so the upload
// lasts longer than the limit in all and never stands still that long.
TEST(StallUpload, TheLargestMapOnASlowLinkIsSent)
{
    InitNetworking();
    qputenv("COGITRA_REQUEST_TIMEOUT_MS", QByteArray::number(k_LimitMs));
    httplib::Server server;
    size_t taken = 0;
    server.Patch("/page", [&taken](const httplib::Request &, httplib::Response &response,
                                   const httplib::ContentReader &read) {
        // 16 KiB a millisecond, however the reads fall, until what is left fits twice in the
        // sender's buffer (up to 4 MiB over loopback); that part at once, so that bytes counted
        // as sent but still buffered arrive well inside the limit.
        const auto started = std::chrono::steady_clock::now();
        read([&](const char *, size_t length) {
            taken += length;
            if (taken + 8 * kMiB < kMaxContainerBytes)
                std::this_thread::sleep_until(started + Millis{taken / (16 * 1024)});
            return true;
        });
        response.status = 204;
    });
    const int port = server.bind_to_any_port("127.0.0.1");
    std::thread serving([&server] { server.listen_after_bind(); });
    while (!server.is_running())
        std::this_thread::sleep_for(Millis{1});

    MHttpRequest request;
    request.method = "PATCH";
    request.url = "http://127.0.0.1:" + QByteArray::number(port) + "/page";
    request.body = QByteArray(kMaxContainerBytes, 'x');
    const auto started = std::chrono::steady_clock::now();
    const MHttpReply reply = MHttpClient().Send(request);
    const auto took = std::chrono::steady_clock::now() - started;
    server.stop();
    serving.join();

    EXPECT_FALSE(reply.isTransportError()) << reply.error.code;
    EXPECT_EQ(reply.status, 204);
    EXPECT_EQ(taken, size_t(request.body.size()));
    EXPECT_GT(took, Millis{2 * k_LimitMs});
}

} // namespace
