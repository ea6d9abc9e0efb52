#include "app/MWindowTexts.h"
#include "util/MStepCodes.h"
#include "util/MStrings.h"

#include <QRegularExpression>

#include <httplib.h>

#include <gtest/gtest.h>

#include <thread>
#include <tuple>

namespace Cogitra {
namespace {

// The progress window's action by step range, and every stage in words, in each language.
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
        EXPECT_EQ(StateActionText(step, finished), key ? LocalizedString(key) : QString()) << step;

    for (const char *language : {"en", "cn"}) {
        SetLanguage(QString::fromLatin1(language));
        for (int64_t step = -100; step <= 100; ++step) {
            const char *key = StepTextKey(step);
            if (!key)
                continue;
            const QString text = StateStepText(step);
            EXPECT_NE(text, QString::fromLatin1(key)) << language << " lacks " << key;
            EXPECT_FALSE(text.contains(QRegularExpression(QStringLiteral("\\d")))) << step;
        }
        for (const int64_t step : {Step::OpenLocating, Step::OpenReadingMap, Step::SaveRequested,
                                   Step::SaveUploadingMap, Step::SaveDone})
            EXPECT_FALSE(StateStepText(step).isEmpty()) << language << " " << step;
        EXPECT_TRUE(StateStepText(Step::Idle).isEmpty());
    }
}

TEST(HostsList, OnlyHostNamesOfTheMakersListAreListed)
{
    const std::pair<const char *, QStringList> cases[] = {
        {"a.example\nb.example:8080\n", {"a.example", "b.example:8080"}},
        {"a.example\r\n  b.example \r\n\r\n", {"a.example", "b.example"}},
        {"xn--bcher-kva.example\n127.0.0.1:5\nlocalhost",
         {"xn--bcher-kva.example", "127.0.0.1:5", "localhost"}},
        // What a moved site's redirect page or an error page gives, line by line.
        {"<html><head><title>301 Moved Permanently</title></head>\n<body>\n</html>", {}},
        {"a.example/path\nhttp://b.example\nuser@c.example\nd.example:\ne.example:99999\n"
         "-f.example\ng.example-\nh example\nsé.example",
         {}},
    };
    for (const auto &[text, hosts] : cases)
        EXPECT_EQ(SplitHostsList(QString::fromUtf8(text)), hosts) << text;
}

// The body whatever the status; few redirects, none to a weaker scheme; time-out; no server.
TEST(DownloadText, BodyRedirectsAndFailures)
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
    // /hop/n redirects n times before the list, with a relative address at the last hop.
    server.Get(R"(/hop/(\d+))", [](const httplib::Request &req, httplib::Response &res) {
        const int left = std::stoi(req.matches[1].str());
        res.set_redirect(left <= 1 ? "/ok" : "/hop/" + std::to_string(left - 1), 301);
    });
    server.Get("/to-ftp", [](const httplib::Request &, httplib::Response &res) {
        res.set_redirect("ftp://127.0.0.1/ok", 302);
    });
    const int port = server.bind_to_any_port("127.0.0.1");
    ASSERT_GT(port, 0);
    std::thread thread([&] { server.listen_after_bind(); });
    const QString root = QStringLiteral("http://127.0.0.1:%1").arg(port);
    const auto get = [&](const QString &path, long timeout = 10) {
        return DownloadText(root + path, timeout);
    };

    const QString ok = QStringLiteral("héllo\n");
    EXPECT_EQ(get(QStringLiteral("/ok")), ok);
    EXPECT_EQ(get(QStringLiteral("/missing")), QStringLiteral("gone"));
    EXPECT_EQ(get(QStringLiteral("/slow"), 1), std::nullopt);
    EXPECT_EQ(get(QStringLiteral("/hop/%1").arg(k_MaxRedirects)), ok);
    EXPECT_EQ(get(QStringLiteral("/hop/%1").arg(k_MaxRedirects + 1)), std::nullopt);
    EXPECT_EQ(get(QStringLiteral("/to-ftp")), std::nullopt);
    server.stop();
    thread.join();
    EXPECT_EQ(get(QStringLiteral("/ok")), std::nullopt);

    const std::tuple<const char *, const char *, bool> redirects[] = {
        {"http://a.example/x", "https://b.example/y", true},
        {"http://a.example/x", "http://b.example/y", true},
        {"https://a.example/x", "HTTPS://b.example/y", true},
        {"https://a.example/x", "http://a.example/x", false},
        {"HTTPS://a.example/x", "http://a.example/x", false},
        {"http://a.example/x", "file:///etc/hosts", false},
    };
    for (const auto &[from, to, may] : redirects)
        EXPECT_EQ(MayFollowRedirect(from, to), may) << from << " -> " << to;
}

} // namespace
} // namespace Cogitra
