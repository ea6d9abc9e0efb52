#include "app/MEditorHost.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <httplib.h>

#include <gtest/gtest.h>

namespace Cogitra {
namespace {

class EditorHostTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        site = QDir(dir.path()).filePath(QStringLiteral("site"));
        ASSERT_TRUE(QDir().mkpath(site + QStringLiteral("/km/v1.0/en")));
        write(site + QStringLiteral("/km/v1.0/en/index-mac.html"), "<title>Zet</title>");
        write(dir.path() + QStringLiteral("/secret.txt"), "not served");
    }
    static void write(const QString &path, const QByteArray &bytes)
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }

    QTemporaryDir dir;
    QString site;
};

TEST_F(EditorHostTest, ServesItsFolderOnLoopbackOnly)
{
    MEditorHost host(site);
    ASSERT_TRUE(host.start());
    const QString hostAndPort = host.hostAndPort();
    ASSERT_TRUE(hostAndPort.startsWith(QStringLiteral("127.0.0.1:")));
    const int port = hostAndPort.mid(10).toInt();
    ASSERT_GT(port, 0);

    httplib::Client client("127.0.0.1", port);
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
