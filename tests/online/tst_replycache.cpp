#include "online/MReplyCache.h"
#include "util/MGlobals.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace Cogitra;

namespace {

class ReplyCacheTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_Dir.isValid());
        g_CacheDir.set(m_Dir.path());
    }
    void TearDown() override { ResetGlobalsForTesting(); }

    void Age(const QString &name, qint64 seconds)
    {
        QFile file(m_Dir.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        ASSERT_TRUE(file.setFileTime(QDateTime::currentDateTimeUtc().addSecs(-seconds),
                                     QFileDevice::FileModificationTime));
    }

    QTemporaryDir m_Dir;
};

TEST_F(ReplyCacheTest, KeepsTheReplyBytesForItsMinutes)
{
    const QByteArray reply = QStringLiteral(u"{\"value\":[{\"displayName\":\"Übung\"}]}").toUtf8();
    SaveToCacheFile(QStringLiteral("NotebooksSeccions.json"), reply);
    EXPECT_EQ(LoadFromCacheFile(QStringLiteral("NotebooksSeccions.json"), 6), reply);

    Age(QStringLiteral("NotebooksSeccions.json"), 5 * 60 + 59);
    EXPECT_EQ(LoadFromCacheFile(QStringLiteral("NotebooksSeccions.json"), 6), reply);
    Age(QStringLiteral("NotebooksSeccions.json"), 6 * 60);
    EXPECT_FALSE(LoadFromCacheFile(QStringLiteral("NotebooksSeccions.json"), 6));
    // Stale files stay until the next fetch replaces them.
    EXPECT_TRUE(QFile::exists(m_Dir.filePath(QStringLiteral("NotebooksSeccions.json"))));

    EXPECT_FALSE(LoadFromCacheFile(QStringLiteral("absent.json"), 3));
}

TEST_F(ReplyCacheTest, WritesOnlyValidUtf8AndKeepsAByteOrderMark)
{
    SaveToCacheFile(QStringLiteral("bad.json"), QByteArray("{\xff}"));
    EXPECT_FALSE(QFile::exists(m_Dir.filePath(QStringLiteral("bad.json"))));

    const QByteArray withBom("\xEF\xBB\xBF{\"value\":[]}");
    SaveToCacheFile(QStringLiteral("bom.json"), withBom);
    EXPECT_EQ(LoadFromCacheFile(QStringLiteral("bom.json"), 3), withBom);

    QFile invalid(m_Dir.filePath(QStringLiteral("hand.json")));
    ASSERT_TRUE(invalid.open(QIODevice::WriteOnly));
    invalid.write("\xfe\xff");
    invalid.close();
    EXPECT_FALSE(LoadFromCacheFile(QStringLiteral("hand.json"), 3));
}

TEST_F(ReplyCacheTest, NamesFromServiceIdsStayInsideTheFolder)
{
    for (const QString &name :
         {QStringLiteral("../escape.json"), QStringLiteral("a/b.json"), QStringLiteral("a\\b.json"),
          QStringLiteral(".json"), QStringLiteral(".."), QString()}) {
        EXPECT_FALSE(IsSafeCacheFileName(name)) << name.toStdString();
        SaveToCacheFile(name, QByteArray("{}"));
        EXPECT_FALSE(LoadFromCacheFile(name, 3));
    }
    EXPECT_FALSE(
        QFile::exists(QDir(m_Dir.path()).absoluteFilePath(QStringLiteral("../escape.json"))));
    EXPECT_TRUE(IsSafeCacheFileName(QStringLiteral("0-5F3A9C0D2B7E4A61!s8f610ea5.json")));
}

} // namespace
