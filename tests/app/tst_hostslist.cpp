#include "app/MWindowTexts.h"

#include <httplib.h>

#include <gtest/gtest.h>

#include <thread>

namespace Cogitra {
namespace {

TEST(HostsList, OnlyHostNamesAreListed)
{
    const struct
    {
        const char *text;
        QStringList hosts;
    } cases[] = {
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

TEST(HostsList, RedirectsFollowedBoundedAndNeverDowngraded)
{
    httplib::Server server;
    server.Get("/list", [](const httplib::Request &, httplib::Response &res) {
        res.set_content("a.example\n", "text/plain");
    });
    // /hop/n redirects n times before the list, with a relative address at the last hop.
    server.Get(R"(/hop/(\d+))", [](const httplib::Request &req, httplib::Response &res) {
        const int left = std::stoi(req.matches[1].str());
        res.set_redirect(left <= 1 ? "/list" : "/hop/" + std::to_string(left - 1), 301);
    });
    server.Get("/to-ftp", [](const httplib::Request &, httplib::Response &res) {
        res.set_redirect("ftp://127.0.0.1/list", 302);
    });
    const int port = server.bind_to_any_port("127.0.0.1");
    ASSERT_GT(port, 0);
    std::thread thread([&] { server.listen_after_bind(); });
    const QString root = QStringLiteral("http://127.0.0.1:%1").arg(port);

    const QString list = QStringLiteral("a.example\n");
    EXPECT_EQ(DownloadText(root + QStringLiteral("/hop/1"), 10), list);
    EXPECT_EQ(DownloadText(root + QStringLiteral("/hop/%1").arg(k_MaxRedirects), 10), list);
    EXPECT_EQ(DownloadText(root + QStringLiteral("/hop/%1").arg(k_MaxRedirects + 1), 10),
              std::nullopt);
    EXPECT_EQ(DownloadText(root + QStringLiteral("/to-ftp"), 10), std::nullopt);
    server.stop();
    thread.join();

    EXPECT_TRUE(MayFollowRedirect("http://a.example/x", "https://b.example/y"));
    EXPECT_TRUE(MayFollowRedirect("http://a.example/x", "http://b.example/y"));
    EXPECT_TRUE(MayFollowRedirect("https://a.example/x", "HTTPS://b.example/y"));
    EXPECT_FALSE(MayFollowRedirect("https://a.example/x", "http://a.example/x"));
    EXPECT_FALSE(MayFollowRedirect("HTTPS://a.example/x", "http://a.example/x"));
    EXPECT_FALSE(MayFollowRedirect("http://a.example/x", "file:///etc/hosts"));
}

} // namespace
} // namespace Cogitra
