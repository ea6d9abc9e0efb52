// Replies past what the client accepts: downloads and page HTML larger than their limits,
// and notebook trees nested far deeper than any account's. Each must end as a failure the
// job can report, without holding the whole reply, and without recursing without bound.
#include "online/MCurlHandle.h"
#include "online/MGraphClient.h"
#include "online/MHttp.h"
#include "online/MPageContent.h"
#include "online/MPageLocator.h"
#include "online/MReplyCache.h"
#include "online/MTokenClient.h"
#include "util/MGlobals.h"
#include "util/MLimits.h"

#include <httplib.h>

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

using namespace Cogitra;

namespace {

constexpr int64_t kHundredMiB = 100 * kMiB;
constexpr size_t kChunk = 256 * 1024;

class OnlineHostile : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_Dir.isValid());
        InitNetworking();
        m_Server.set_keep_alive_timeout(1);
        const int port = m_Server.bind_to_any_port("127.0.0.1");
        m_Thread = std::thread([this] { m_Server.listen_after_bind(); });
        while (!m_Server.is_running())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        m_Root = "http://127.0.0.1:" + QByteArray::number(port);
        qputenv("COGITRA_GRAPH_ROOT", m_Root);
        InitGlobals(m_Dir.path());
        g_AccessToken.set(QStringLiteral("access"));
        g_UserId.set(QStringLiteral("user"));
    }

    void TearDown() override
    {
        m_Server.stop();
        m_Thread.join();
        qunsetenv("COGITRA_GRAPH_ROOT");
        ResetGlobalsForTesting();
    }

    // Serves `total` bytes of `fill` at path, announced or chunked, counting what the
    // server got to hand to the connection before the client hung up.
    void ServeLarge(const char *path, int64_t total, bool announced, char fill = 'x',
                    const std::string &tail = std::string())
    {
        auto provide = [this, total, fill, tail](size_t offset, httplib::DataSink &sink) {
            if (static_cast<int64_t>(offset) >= total) {
                sink.done();
                return true;
            }
            std::string chunk(std::min<size_t>(kChunk, static_cast<size_t>(total) - offset), fill);
            if (static_cast<int64_t>(offset + chunk.size()) == total && !tail.empty())
                chunk.replace(chunk.size() - tail.size(), tail.size(), tail);
            if (!sink.write(chunk.data(), chunk.size()))
                return false;
            m_Sent += static_cast<int64_t>(chunk.size());
            return true;
        };
        // The path is a pattern to the server: its "$" is no end of line.
        m_Server.Get(QByteArray(path).replace("$", "\\$").toStdString(),
                     [total, announced, provide](const httplib::Request &, httplib::Response &res) {
                         if (announced) {
                             res.set_content_provider(
                                 static_cast<size_t>(total), "application/octet-stream",
                                 [provide](size_t offset, size_t, httplib::DataSink &sink) {
                                     return provide(offset, sink);
                                 });
                         } else {
                             res.set_chunked_content_provider(
                                 "application/octet-stream",
                                 [provide](size_t offset, httplib::DataSink &sink) {
                                     return provide(offset, sink);
                                 });
                         }
                     });
    }

    QTemporaryDir m_Dir;
    httplib::Server m_Server;
    std::thread m_Thread;
    QByteArray m_Root;
    std::atomic<int64_t> m_Sent{0};
    MHttpClient m_Http;
    MTokenClient m_Tokens{m_Http};
    MGraphClient m_Graph{m_Http, m_Tokens};
};

TEST_F(OnlineHostile, HundredMegabyteDownloadStopsAtTheLimitAndLeavesTheFile)
{
    const QString file = m_Dir.filePath(QStringLiteral("ZetFile.gif"));
    {
        QFile old(file);
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write("the last container");
    }
    ServeLarge("/v1.0/users/user/onenote/resources/small/$value", kMiB, false);
    ServeLarge("/v1.0/users/user/onenote/resources/chunked/$value", kHundredMiB, false);
    ServeLarge("/v1.0/users/user/onenote/resources/announced/$value", kHundredMiB, true);
    MPageContent content(m_Graph);
    const QString other = m_Dir.filePath(QStringLiteral("small.gif"));
    ASSERT_TRUE(content.DownloadAttachment(
        QString::fromLatin1(m_Root + "/v1.0/users/user/onenote/resources/small/$value"), other));
    EXPECT_EQ(QFileInfo(other).size(), kMiB);
    m_Sent = 0;

    // Without a length the client counts what arrives and hangs up at the limit.
    EXPECT_FALSE(content.DownloadAttachment(
        QString::fromLatin1(m_Root + "/v1.0/users/user/onenote/resources/chunked/$value"), file));
    EXPECT_LT(m_Sent.load(), kMaxContainerBytes + 16 * kMiB);

    // A length past the limit is refused before the body is read.
    m_Sent = 0;
    EXPECT_FALSE(content.DownloadAttachment(
        QString::fromLatin1(m_Root + "/v1.0/users/user/onenote/resources/announced/$value"), file));
    EXPECT_LT(m_Sent.load(), 16 * kMiB);

    QFile kept(file);
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), "the last container");
}

TEST_F(OnlineHostile, PageHtmlPastTheLimitIsNoContent)
{
    // A whole document, but larger than any page: read as no content, not as a page
    // without a map (a save would then add a second map to it).
    const std::string page = "<img alt=\"ZetGif\" src=\"x\"></body></html>";
    ServeLarge("/v1.0/me/onenote/pages/large/content", kMiB, false, ' ', page);
    ServeLarge("/v1.0/me/onenote/pages/huge/content", kMaxPageHtmlBytes + kMiB, false, ' ', page);
    MPageContent content(m_Graph);
    EXPECT_EQ(content.GetPageContent(QStringLiteral("large")).size(), kMiB);
    m_Sent = 0;
    EXPECT_TRUE(content.GetPageContent(QStringLiteral("huge")).isEmpty());
    EXPECT_LT(m_Sent.load(), kMaxPageHtmlBytes + 16 * kMiB);
}

// A tree with one notebook whose section "Deep" sits `depth` section groups down.
QByteArray TreeWithSectionAtDepth(int depth)
{
    QByteArray tree = R"({"value":[{"displayName":"Book","sections":[],"sectionGroups":[)";
    for (int i = 1; i < depth; ++i)
        tree += R"({"displayName":"G","sections":[],"sectionGroups":[)";
    tree += R"({"displayName":"G","sections":[{"id":"deep-section","displayName":"Deep"}],)"
            R"("sectionGroups":[]})";
    for (int i = 1; i < depth; ++i)
        tree += "]}";
    tree += "]}]}";
    return tree;
}

TEST_F(OnlineHostile, SectionGroupsAreSearchedToTheirDepthLimitOnly)
{
    // The section's page list as the cache holds it, so that no request is needed.
    SaveToCacheFile(QStringLiteral("deep-section.json"),
                    R"({"value":[{"id":"online-page","parentSection":{"id":"deep-section"},)"
                    R"("links":{"oneNoteClientUrl":{"href":"onenote:https://d.docs.live.net/)"
                    R"(x/Documents/Book/Deep.one#P&section-id={s}&page-id={)"
                    R"(11111111-2222-3333-4444-555555555555}&end"}}}]})");
    const QString client = QStringLiteral("11111111-2222-3333-4444-555555555555");
    MPageLocator locator(m_Graph, QString());

    EXPECT_TRUE(locator.GetOnlinePageInfo_LoopNotebooks(
        TreeWithSectionAtDepth(MPageLocator::k_MaxGroupDepth), QStringLiteral("Book"),
        QStringLiteral("Deep"), client));
    EXPECT_EQ(g_OnlinePageId.get(), QStringLiteral("online-page"));

    g_OnlinePageId.set(QString());
    EXPECT_FALSE(locator.GetOnlinePageInfo_LoopNotebooks(
        TreeWithSectionAtDepth(MPageLocator::k_MaxGroupDepth + 1), QStringLiteral("Book"),
        QStringLiteral("Deep"), client));
    // Far past the limit, and past what the JSON parser takes at all.
    for (const int depth : {500, 100'000}) {
        EXPECT_FALSE(locator.GetOnlinePageInfo_LoopNotebooks(
            TreeWithSectionAtDepth(depth), QStringLiteral("Book"), QStringLiteral("Deep"), client))
            << depth;
    }
    EXPECT_FALSE(locator.GetOnlinePageInfo_LoopNotebooks(
        QByteArray(200'000, '[') + QByteArray(200'000, ']'), QStringLiteral("Book"),
        QStringLiteral("Deep"), client));
    EXPECT_TRUE(g_OnlinePageId.isEmpty());
}

} // namespace
