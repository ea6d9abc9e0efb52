#include "OnlineTestSupport.h"

#include "util/MGlobals.h"

#include <QLoggingCategory>

#include <chrono>

// The request time-out is an idle time-out: a map arriving more slowly than the limit in all
// opens as long as bytes keep coming, and a reply that stops part way fails as timed out
// without waiting for the connection to close.
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

} // namespace
