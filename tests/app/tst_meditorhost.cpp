#include "../support/TestFiles.h"
#include "app/MEditorHost.h"

#include <QTemporaryDir>

#include <httplib.h>

#include <gtest/gtest.h>

namespace Cogitra {
namespace {

TEST(EditorHost, ServesItsFolderOnLoopbackOnly)
{
    QTemporaryDir dir;
    const QString site = dir.filePath(QStringLiteral("site"));
    Testing::WriteBytes(site + QStringLiteral("/km/v1.0/en/index-mac.html"), "<title>Zet</title>");
    Testing::WriteBytes(dir.filePath(QStringLiteral("secret.txt")), "not served");
    MEditorHost host(site);
    ASSERT_TRUE(host.start());
    const QString hostAndPort = host.hostAndPort();
    ASSERT_TRUE(hostAndPort.startsWith(QStringLiteral("127.0.0.1:")));
    httplib::Client client("127.0.0.1", hostAndPort.mid(10).toInt());
    auto page = client.Get("/km/v1.0/en/index-mac.html");
    ASSERT_TRUE(page);
    EXPECT_EQ(page->status, 200);
    EXPECT_EQ(page->body, "<title>Zet</title>");
    EXPECT_EQ(page->get_header_value("Content-Type"), "text/html");
    EXPECT_EQ(page->get_header_value("Cache-Control"), "no-cache");
    for (const char *path :
         {"/../secret.txt", "/km/../../secret.txt", "/%2e%2e/secret.txt", "/missing.html"}) {
        auto res = client.Get(path);
        ASSERT_TRUE(res) << path;
        EXPECT_EQ(res->status, 404) << path;
        EXPECT_EQ(res->body.find("not served"), std::string::npos) << path;
    }

    MEditorHost second(site);
    ASSERT_TRUE(second.start());
    EXPECT_NE(second.hostAndPort(), hostAndPort);
    MEditorHost missing(site + QStringLiteral("/nowhere"));
    EXPECT_FALSE(missing.start());
    EXPECT_TRUE(missing.hostAndPort().isEmpty());
    host.stop();
    EXPECT_TRUE(host.hostAndPort().isEmpty());
    EXPECT_FALSE(client.Get("/km/v1.0/en/index-mac.html"));
}

} // namespace
} // namespace Cogitra
