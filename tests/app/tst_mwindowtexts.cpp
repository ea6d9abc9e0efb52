#include "app/MWindowTexts.h"
#include "util/MStrings.h"

#include <QCoreApplication>

#include <httplib.h>

#include <gtest/gtest.h>

#include <thread>

namespace Cogitra {
namespace {

QString Text(const char *key)
{
    return LocalizedString(QString::fromLatin1(key));
}

struct StateCase
{
    int64_t step;
    bool finished;
    const char *key; // nullptr: no action text
};

class StateAction : public ::testing::TestWithParam<StateCase>
{
protected:
    void SetUp() override { SetLanguage(QStringLiteral("en")); }
};

TEST_P(StateAction, ForStepCode)
{
    const StateCase &c = GetParam();
    EXPECT_EQ(StateActionText(c.step, c.finished), c.key ? Text(c.key) : QString());
}

INSTANTIATE_TEST_SUITE_P(
    Codes, StateAction,
    ::testing::Values(StateCase{0, false, "strSleep"}, StateCase{0, true, "strDone"},
                      StateCase{1, false, "strUploading"}, StateCase{100, false, "strUploading"},
                      StateCase{101, false, nullptr}, StateCase{-1, false, "strDownloading"},
                      StateCase{-99, false, "strDownloading"},
                      StateCase{-100, false, "strDownloading"}, StateCase{-101, false, nullptr},
                      StateCase{-101, true, "strDone"}, StateCase{30, true, "strDone"}));

TEST(StateStep, HasItsTrailingBlank)
{
    SetLanguage(QStringLiteral("en"));
    EXPECT_EQ(StateStepText(-24), Text("strStep") + QStringLiteral(" -24 "));
    EXPECT_EQ(StateStepText(100), Text("strStep") + QStringLiteral(" 100 "));
    EXPECT_FALSE(Text("strStep").isEmpty());
}

TEST(HostsList, EveryPieceIsAnEntryUnchanged)
{
    EXPECT_EQ(SplitHostsList(QStringLiteral("a.example\nb.example\n")),
              (QStringList{QStringLiteral("a.example"), QStringLiteral("b.example"), QString()}));
    EXPECT_EQ(SplitHostsList(QStringLiteral("a.example\r\nb.example")),
              (QStringList{QStringLiteral("a.example\r"), QStringLiteral("b.example")}));
    EXPECT_EQ(SplitHostsList(QString()), QStringList{QString()});
}

TEST(HostsList, AddressFollowsTheMakerRoot)
{
    qputenv("COGITRA_MAKER_ROOT", "http://127.0.0.1:5/");
    EXPECT_EQ(HostsListUrl(), QStringLiteral("http://127.0.0.1:5/uploads/soft/cogitra/hosts.txt"));
    EXPECT_EQ(WebsiteUrl(), QStringLiteral("http://127.0.0.1:5/"));
    qunsetenv("COGITRA_MAKER_ROOT");
    EXPECT_TRUE(HostsListUrl().startsWith(QStringLiteral("http://")));
    EXPECT_TRUE(SupportMailto().startsWith(QStringLiteral("mailto:")));
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

TEST(About, VersionLine)
{
    SetLanguage(QStringLiteral("en"));
    QCoreApplication::setApplicationVersion(QStringLiteral("1.2.3"));
    EXPECT_EQ(AboutVersionLine(), Text("strVersion") + QStringLiteral(" 1.2.3"));
}

} // namespace
} // namespace Cogitra
