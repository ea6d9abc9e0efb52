#include "online/MReplyCache.h"
#include "util/MGlobals.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace Cogitra;

namespace {

// The reply's bytes as received, byte order mark and all, for its minutes; stale files stay
// until the next fetch replaces them. What is no UTF-8 is neither written nor read.
TEST(ReplyCache, KeepsTheReplyBytesForItsMinutes)
{
    QTemporaryDir dir;
    g_CacheDir.set(dir.path());
    const QString name = QStringLiteral("NotebooksSeccions.json");
    const QByteArray reply
        = QStringLiteral(u"\uFEFF{\"value\":[{\"displayName\":\"Übung\"}]}").toUtf8();
    SaveToCacheFile(name, reply);
    QFile file(dir.filePath(name));
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    for (const auto &[age, fresh] : {std::pair{0, true}, {5 * 60 + 59, true}, {6 * 60, false}}) {
        ASSERT_TRUE(file.setFileTime(QDateTime::currentDateTimeUtc().addSecs(-age),
                                     QFileDevice::FileModificationTime));
        EXPECT_EQ(LoadFromCacheFile(name, 6), fresh ? std::optional(reply) : std::nullopt) << age;
    }
    EXPECT_TRUE(file.exists());

    SaveToCacheFile(QStringLiteral("bad.json"), QByteArray("{\xff}"));
    EXPECT_FALSE(QFile::exists(dir.filePath(QStringLiteral("bad.json"))));
    file.resize(0);
    file.write("\xfe\xff");
    file.close();
    EXPECT_FALSE(LoadFromCacheFile(name, 3));

    // Names come from service ids: they stay inside the folder.
    for (const QString &bad :
         {QStringLiteral("../escape.json"), QStringLiteral("a/b.json"), QStringLiteral("a\\b.json"),
          QStringLiteral(".json"), QStringLiteral(".."), QString()}) {
        EXPECT_FALSE(IsSafeCacheFileName(bad)) << bad.toStdString();
        SaveToCacheFile(bad, QByteArray("{}"));
        EXPECT_FALSE(LoadFromCacheFile(bad, 3));
    }
    EXPECT_FALSE(
        QFile::exists(QDir(dir.path()).absoluteFilePath(QStringLiteral("../escape.json"))));
}

} // namespace
