#include "app/MWindowTexts.h"
#include "util/MStrings.h"

#include <httplib.h>

#include <gtest/gtest.h>

#include <thread>
#include <tuple>

namespace Cogitra {
namespace {

QString Text(const char *key)
{
    return LocalizedString(QString::fromLatin1(key));
}

// The upload window names the stage by the step code's range, and says done when the run has.
TEST(StateTexts, ByStepCode)
{
    SetLanguage(QStringLiteral("en"));
    const std::tuple<int64_t, bool, const char *> cases[]
        = {{0, false, "strSleep"},          {0, true, "strDone"},
           {1, false, "strUploading"},      {100, false, "strUploading"},
           {101, false, nullptr},           {-1, false, "strDownloading"},
           {-100, false, "strDownloading"}, {-101, false, nullptr},
           {-101, true, "strDone"},         {30, true, "strDone"}};
    for (const auto &[step, finished, key] : cases)
        EXPECT_EQ(StateActionText(step, finished), key ? Text(key) : QString()) << step;
}

TEST(HostsList, TheListIsOnTheMakerRoot)
{
    qputenv("COGITRA_MAKER_ROOT", "http://127.0.0.1:5/");
    EXPECT_EQ(HostsListUrl(), QStringLiteral("http://127.0.0.1:5/uploads/soft/cogitra/hosts.txt"));
    qunsetenv("COGITRA_MAKER_ROOT");
}

TEST(DownloadText, BodyWhateverTheStatusNothingWithoutAServer)
{
    httplib::Server server;
    server.Get("/ok", [](const httplib::Request &, httplib::Response &res) {
        res.set_content("h\xC3\xA9llo\n", "text/plain");
    });
    server.Get("/missing", [](const httplib::Request &, httplib::Response &res) {
        res.status = 404;
        res.set_content("gone", "text/plain");
    });
    server.Get("/slow", [](const httplib::Request &, httplib::Response &res) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2500));
        res.set_content("late", "text/plain");
    });
    const int port = server.bind_to_any_port("127.0.0.1");
    ASSERT_GT(port, 0);
    std::thread thread([&] { server.listen_after_bind(); });
    const QString root = QStringLiteral("http://127.0.0.1:%1").arg(port);

    EXPECT_EQ(DownloadText(root + QStringLiteral("/ok"), 10), QStringLiteral("héllo\n"));
    EXPECT_EQ(DownloadText(root + QStringLiteral("/missing"), 10), QStringLiteral("gone"));
    EXPECT_EQ(DownloadText(root + QStringLiteral("/slow"), 1), std::nullopt);
    server.stop();
    thread.join();
    EXPECT_EQ(DownloadText(root + QStringLiteral("/ok"), 10), std::nullopt);
}

} // namespace
} // namespace Cogitra
