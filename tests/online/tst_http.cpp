#include "attachment/TZetGifAttachment.h"
#include "online/MCurlHandle.h"
#include "online/MEndpoints.h"
#include "online/MGraphClient.h"
#include "online/MHttp.h"
#include "online/MPageContent.h"
#include "online/MPageLocator.h"
#include "online/MReplyCache.h"
#include "online/MRetry.h"
#include "util/MGlobals.h"
#include "util/MLimits.h"

#include <QDir>
#include <QTemporaryDir>

#include <httplib.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <tuple>

using namespace Cogitra;

namespace {

// A bare loopback server for what only the transport decides.
class WireServer
{
public:
    WireServer()
    {
        m_Server.set_keep_alive_timeout(1);
        m_Port = m_Server.bind_to_any_port("127.0.0.1");
        m_Thread = std::thread([this] { m_Server.listen_after_bind(); });
        while (!m_Server.is_running())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ~WireServer()
    {
        m_Server.stop();
        m_Thread.join();
    }
    httplib::Server &server() { return m_Server; }
    [[nodiscard]] QByteArray url(const char *path) const
    {
        return "http://127.0.0.1:" + QByteArray::number(m_Port) + path;
    }

private:
    httplib::Server m_Server;
    int m_Port = 0;
    std::thread m_Thread;
};

// Addresses after RFC 2396, the service's own next links, and values in a form body.
TEST(Escaping, EscapesOnlyWhatChangesTheMeaning)
{
    // clang-format off
    const std::tuple<QByteArray (*)(const QString &), QString, QByteArray> rows[] = {
        {EscapeUrl, QStringLiteral("https://h/a;b/c?d:e@f&g=h+i$j,k-l_m.n!o~p*q'r(s)t"), "https://h/a;b/c?d:e@f&g=h+i$j,k-l_m.n!o~p*q'r(s)t"},
        {EscapeUrl, QStringLiteral("https://h/sections/0-A B/pages"), "https://h/sections/0-A%20B/pages"},
        {EscapeUrl, QStringLiteral("https://h/r/a%20b/$value"), "https://h/r/a%2520b/$value"},
        {EscapeUrl, QStringLiteral("\"{}<>|\\^`[]#"), "%22%7B%7D%3C%3E%7C%5C%5E%60%5B%5D%23"},
        {EscapeUrl, QStringLiteral(u"https://h/Übung/日"), "https://h/%C3%9Cbung/%E6%97%A5"},
        {EscapeUrl, QStringLiteral("a\r\nb\tc"), "a%0D%0Ab%09c"},
        {EscapeServiceUrl, QStringLiteral("https://h/pages?%24skip=20 x"), "https://h/pages?%24skip=20%20x"},
        {FormValue, QStringLiteral("M.C5_SN1.0.U.-C*!$/~'()"), "M.C5_SN1.0.U.-C*!$/~'()"},
        {FormValue, QStringLiteral("a+b=c&d#e f%g"), "a%2Bb%3Dc%26d%23e%20f%25g"},
        {FormValue, QStringLiteral(u"é€"), "%C3%A9%E2%82%AC"},
    };
    // clang-format on
    for (const auto &[encode, input, escaped] : rows)
        EXPECT_EQ(encode(input), escaped) << qPrintable(input);
}

TEST(Shipped, EndpointsTimeOutsAndRetryPauses)
{
    qunsetenv("COGITRA_GRAPH_ROOT");
    qunsetenv("COGITRA_REQUEST_TIMEOUT_MS");
    EXPECT_EQ(EffectiveTimeout(k_GraphTimeout), std::chrono::milliseconds(30'000));
    EXPECT_EQ(EffectiveTimeout(k_TokenTimeout), std::chrono::milliseconds(10'000));
    const QString graph = QStringLiteral("https://graph.microsoft.com/v1.0");
    EXPECT_EQ(GraphUserBaseUrl(QString()), graph + u"/me");
    EXPECT_EQ(GraphUserBaseUrl(QStringLiteral("5f3a9c0d2b7e4a61")), graph + u"/me");
    EXPECT_EQ(GraphUserBaseUrl(QStringLiteral("1c2d-3e")), graph + u"/users/1c2d-3e");
    EXPECT_EQ(TokenEndpointUrl(),
              QStringLiteral("https://login.microsoftonline.com/common/oauth2/v2.0/token"));
    EXPECT_EQ(RedirectUri(), QStringLiteral("https://login.live.com/oauth20_desktop.srf"));

    qputenv("COGITRA_GRAPH_ROOT", "http://127.0.0.1:9/");
    EXPECT_EQ(GraphUserBaseUrl(QStringLiteral("a-b")),
              QStringLiteral("http://127.0.0.1:9/v1.0/users/a-b"));
    EXPECT_TRUE(IsGraphUrl(QStringLiteral("http://127.0.0.1:9/v1.0/me/x")));
    EXPECT_FALSE(IsGraphUrl(QStringLiteral("http://127.0.0.1:90/v1.0/me/x")));
    EXPECT_FALSE(IsGraphUrl(QStringLiteral("http://127.0.0.1:9@evil.example/v1.0")));
    EXPECT_FALSE(IsGraphUrl(QStringLiteral("https://127.0.0.1:9/v1.0/me/x")));
    qunsetenv("COGITRA_GRAPH_ROOT");

    // Pauses of 2, 4, 8 and 12 s at most, each at least half that and of the one before.
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

    // Retry-After is honoured up to a cap, within the whole wait.
    MRetryPlan told(1.0);
    EXPECT_EQ(told.NextPause(Millis{3'000}), Millis{3'000});
    EXPECT_EQ(told.NextPause(Millis{3'600'000}), Millis{20'000});
    EXPECT_FALSE(told.NextPause(Millis{20'000}));
    EXPECT_EQ(told.retries(), 2);

    for (const long status : {200L, 204L, 400L, 401L, 404L, 429L, 500L, 502L, 503L, 504L, 507L})
        EXPECT_EQ(IsPassingFailure(status), status == 429 || status == 503 || status == 504);
}

class HttpClientTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite() { InitNetworking(); }
    void TearDown() override { qunsetenv("COGITRA_REQUEST_TIMEOUT_MS"); }

    WireServer m_Wire;
    MHttpClient m_Client;
};

// Failures below HTTP carry the URL error domain's codes. The time-out is an idle one: slow
// replies and uploads that keep moving arrive; one that stops part way fails.
TEST_F(HttpClientTest, TransportFailuresCarryTheUrlErrorDomain)
{
    qputenv("COGITRA_REQUEST_TIMEOUT_MS", "500");
    m_Wire.server().Get("/slow", [](const httplib::Request &, httplib::Response &res) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        res.set_content("late", "text/plain");
    });
    m_Wire.server().Get("/big", [](const httplib::Request &, httplib::Response &res) {
        res.set_content(std::string(100'000, 'x'), "text/plain");
    });
    for (const char *path : {"/trickle", "/stall"}) {
        const bool stall = !std::strcmp(path, "/stall");
        m_Wire.server().Get(path, [stall](const httplib::Request &, httplib::Response &res) {
            // Not a text type: a compressed reply would hold the bytes back.
            res.set_chunked_content_provider(
                "application/octet-stream", [stall](size_t offset, httplib::DataSink &sink) {
                    std::this_thread::sleep_for(
                        std::chrono::milliseconds(offset && stall ? 1500 : 100));
                    sink.write(std::string(1000, 'x').data(), 1000);
                    if (offset + 1000 == (stall ? 2000 : 15'000))
                        sink.done();
                    return true;
                });
        });
    }
    std::atomic<size_t> taken = 0;
    m_Wire.server().Patch("/page", [&taken](const httplib::Request &, httplib::Response &response,
                                            const httplib::ContentReader &read) {
        // 16 KiB a millisecond until what is left fits twice in the sender's buffer (up to 4 MiB
        // over loopback), so bytes counted as sent but still buffered arrive inside the limit.
        const auto started = std::chrono::steady_clock::now();
        read([&](const char *, size_t length) {
            if ((taken += length) + 8 * kMiB < kMaxContainerBytes)
                std::this_thread::sleep_until(started
                                              + std::chrono::milliseconds(taken / (16 * 1024)));
            return true;
        });
        response.status = 204;
    });
    const QByteArray gone = WireServer().url("/gone"); // closed again at once
    const std::tuple<QByteArray, int64_t, int> rows[] = {
        {m_Wire.url("/slow"), 0, -1001},     {gone, 0, -1004},
        {"file:///etc/passwd", 0, -1002},    {m_Wire.url("/big"), 100'000, 0},
        {m_Wire.url("/big"), 99'999, -1103}, {m_Wire.url("/trickle"), 15'000, 0},
        {m_Wire.url("/stall"), 0, -1001},    {m_Wire.url("/page"), 0, 0},
    };
    for (const auto &[url, limit, code] : rows) {
        MHttpRequest request;
        request.url = url;
        if (limit)
            request.maxReplyBytes = limit;
        if (url.endsWith("/page")) {
            request.method = "PATCH";
            request.body = QByteArray(kMaxContainerBytes, 'x');
        }
        const MHttpReply reply = m_Client.Send(request);
        EXPECT_EQ(reply.error.code, code) << url.toStdString();
        EXPECT_EQ(reply.error.domain, code ? QStringLiteral("NSURLErrorDomain") : QString());
        EXPECT_EQ(reply.body.size(), code ? 0 : limit);
    }
    EXPECT_EQ(taken.load(), size_t(kMaxContainerBytes));
}

// Graph replies past what the client accepts end as failures, without holding the whole reply,
// recursing, or following links without bound.
class GraphOverWire : public HttpClientTest
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_Dir.isValid());
        m_Root = m_Wire.url("");
        qputenv("COGITRA_GRAPH_ROOT", m_Root);
        ResetGlobalsForTesting();
        InitGlobals(m_Dir.path());
        g_AccessToken.set(QStringLiteral("access"));
        g_UserId.set(QStringLiteral("user"));
    }

    void TearDown() override
    {
        ResetGlobalsForTesting();
        qunsetenv("COGITRA_GRAPH_ROOT");
        HttpClientTest::TearDown();
    }

    // Serves `total` bytes of `fill`, announced or chunked, counting what left before a hang-up.
    void ServeLarge(const QByteArray &path, int64_t total, bool announced, char fill = 'x',
                    const std::string &tail = std::string())
    {
        auto provide = [this, total, fill, tail](size_t offset, httplib::DataSink &sink) {
            if (static_cast<int64_t>(offset) >= total) {
                sink.done();
                return true;
            }
            std::string chunk(std::min<size_t>(256 * 1024, static_cast<size_t>(total) - offset),
                              fill);
            if (static_cast<int64_t>(offset + chunk.size()) == total && !tail.empty())
                chunk.replace(chunk.size() - tail.size(), tail.size(), tail);
            if (!sink.write(chunk.data(), chunk.size()))
                return false;
            m_Sent += static_cast<int64_t>(chunk.size());
            return true;
        };
        // The path is a pattern to the server: its "$" is no end of line.
        m_Wire.server().Get(
            QByteArray(path).replace("$", "\\$").toStdString(),
            [total, announced, provide](const httplib::Request &, httplib::Response &res) {
                if (!announced)
                    return res.set_chunked_content_provider("application/octet-stream", provide);
                res.set_content_provider(size_t(total), "application/octet-stream",
                                         [provide](size_t offset, size_t, httplib::DataSink &sink) {
                                             return provide(offset, sink);
                                         });
            });
    }

    QTemporaryDir m_Dir;
    QByteArray m_Root;
    std::atomic<int64_t> m_Sent{0};
    MOnlineClients m_Clients;
};

TEST_F(GraphOverWire, RepliesPastTheirLimitFailWithoutBeingHeld)
{
    const QString file = m_Dir.filePath(QStringLiteral("ZetFile.gif"));
    ASSERT_TRUE(WriteWholeFile(file, "the last container"));
    const auto download = [&](const char *name, const QString &to) {
        const QByteArray path
            = "/v1.0/users/user/onenote/resources/" + QByteArray(name) + "/$value";
        ServeLarge(path, 100 * kMiB, !std::strcmp(name, "announced"));
        m_Sent = 0;
        return MPageContent(m_Clients.graph)
            .DownloadAttachment(QString::fromLatin1(m_Root + path), to);
    };
    // Without a length the client counts what arrives and hangs up at the limit.
    EXPECT_FALSE(download("chunked", file));
    EXPECT_LT(m_Sent.load(), kMaxContainerBytes + 16 * kMiB);
    // A length past the limit is refused before the body is read.
    EXPECT_FALSE(download("announced", file));
    EXPECT_LT(m_Sent.load(), 16 * kMiB);
    EXPECT_EQ(ReadWholeFile(file), "the last container");

    const std::string page = "<img alt=\"ZetGif\" src=\"x\"></body></html>";
    ServeLarge("/v1.0/me/onenote/pages/large/content", kMiB, false, ' ', page);
    ServeLarge("/v1.0/me/onenote/pages/huge/content", kMaxPageHtmlBytes + kMiB, false, ' ', page);
    MPageContent content(m_Clients.graph);
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

TEST_F(GraphOverWire, SectionGroupsAreSearchedToTheirDepthLimitOnly)
{
    // The section's page list from the cache: no request is needed.
    ASSERT_TRUE(KeepCacheForAccount(g_UserId.get()));
    SaveToCacheFile(QStringLiteral("deep-section.json"),
                    R"({"value":[{"id":"online-page","parentSection":{"id":"deep-section"},)"
                    R"("links":{"oneNoteClientUrl":{"href":"onenote:https://d.docs.live.net/)"
                    R"(x/Documents/Book/Deep.one#P&section-id={s}&page-id={)"
                    R"(11111111-2222-3333-4444-555555555555}&end"}}}]})");
    MPageLocator locator(m_Clients.graph, QString());
    const auto found = [&locator](const QByteArray &tree) {
        return locator.GetOnlinePageInfo_LoopNotebooks(
            tree, QStringLiteral("Book"), QStringLiteral("Deep"),
            QStringLiteral("11111111-2222-3333-4444-555555555555"));
    };
    EXPECT_TRUE(found(TreeWithSectionAtDepth(MPageLocator::k_MaxGroupDepth)));
    EXPECT_EQ(g_OnlinePageId.get(), QStringLiteral("online-page"));
    g_OnlinePageId.set(QString());
    // Past the limit, far past it, and past what the JSON parser takes at all.
    for (const QByteArray &tree : {TreeWithSectionAtDepth(MPageLocator::k_MaxGroupDepth + 1),
                                   TreeWithSectionAtDepth(500), TreeWithSectionAtDepth(100'000),
                                   QByteArray(QByteArray(200'000, '[') + QByteArray(200'000, ']'))})
        EXPECT_FALSE(found(tree)) << tree.size();
    EXPECT_TRUE(g_OnlinePageId.isEmpty());
}

// Next links are followed only on the Graph root and only so far; such a list is never kept.
TEST_F(GraphOverWire, PageListNextLinksStayOnTheServiceAndEnd)
{
    std::atomic<int> loopReplies{0};
    std::atomic<int> awayReplies{0};
    m_Wire.server().Get(R"(/v1.0/me/onenote/sections/(loop|away)/pages)",
                        [&](const httplib::Request &request, httplib::Response &res) {
                            const bool loop = request.matches[1] == "loop";
                            const std::string n
                                = std::to_string(++(loop ? loopReplies : awayReplies));
                            // The same host on another port is another service.
                            const std::string next
                                = (loop ? m_Root.toStdString() : "http://127.0.0.1:1")
                                  + "/v1.0/me/onenote/sections/" + request.matches[1].str()
                                  + "/pages?$skip=" + n;
                            res.set_content("{\"value\":[{\"id\":\"p" + n
                                                + "\"}],\"@odata.nextLink\":\"" + next + "\"}",
                                            "application/json");
                        });
    MPageLocator locator(m_Clients.graph, QString());
    const std::optional<QByteArray> loop = locator.GetSectionPages(QStringLiteral("loop"));
    ASSERT_TRUE(loop);
    EXPECT_EQ(loopReplies.load(), MPageLocator::k_MaxPageListReplies);
    EXPECT_TRUE(loop->contains("\"p1\"") && loop->contains("\"p50\""));
    EXPECT_FALSE(loop->contains("nextLink"));

    const std::optional<QByteArray> away = locator.GetSectionPages(QStringLiteral("away"));
    ASSERT_TRUE(away);
    EXPECT_EQ(awayReplies.load(), 1);
    EXPECT_EQ(m_Clients.http.requestCount(), MPageLocator::k_MaxPageListReplies + 1);

    EXPECT_EQ(QDir(g_CacheDir.get()).entryList({QStringLiteral("*.json")}, QDir::Files),
              QStringList());
}

} // namespace
