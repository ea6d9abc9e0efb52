#include "MReplyCache.h"

#include "MHttp.h"
#include "util/MGlobals.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace Cogitra {
namespace {

constexpr qint64 k_MaxCacheFileBytes = k_MaxReplyBytes;

QString CachePath(const QString &fileName)
{
    return QDir(g_CacheDir.get()).filePath(fileName);
}

} // namespace

bool IsSafeCacheFileName(const QString &fileName)
{
    if (fileName.isEmpty() || fileName.size() > 200)
        return false;
    if (fileName == QLatin1String(".") || fileName == QLatin1String("..")
        || fileName.startsWith(u'.'))
        return false;
    for (const QChar c : fileName) {
        if (c == u'/' || c == u'\\' || c.unicode() < 0x20)
            return false;
    }
    return true;
}

std::optional<QByteArray> LoadFromCacheFile(const QString &fileName, int64_t minutes)
{
    if (g_CacheDir.isEmpty() || !IsSafeCacheFileName(fileName))
        return std::nullopt;
    const QString path = CachePath(fileName);
    const QFileInfo info(path);
    if (!info.isFile())
        return std::nullopt;
    const QDateTime expiry = info.lastModified().addSecs(minutes * 60);
    if (QDateTime::currentDateTimeUtc() >= expiry)
        return std::nullopt;
    if (info.size() > k_MaxCacheFileBytes)
        return std::nullopt;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    bool valid = false;
    const QString text = DecodeUtf8(file.read(k_MaxCacheFileBytes), &valid);
    if (!valid)
        return std::nullopt;
    return text.toUtf8();
}

bool KeepCacheForAccount(const QString &userId)
{
    if (g_CacheDir.isEmpty())
        return false;
    const QString marker = CachePath(QString::fromLatin1(k_CacheAccountFile));
    QFile current(marker);
    // A marker of any other length is no user id of ours; reading it whole is not needed.
    if (current.open(QIODevice::ReadOnly)
        && current.read(userId.toUtf8().size() + 1) == userId.toUtf8())
        return true;
    current.close();
    // Clearing rather than a folder per account: the files keep their names and places, and
    // one account's replies cost a request or two after a change, not a folder per account
    // that ever signed in on the machine.
    QDir cache(g_CacheDir.get());
    bool cleared = true;
    for (const QString &name :
         cache.entryList({QStringLiteral("*.json")}, QDir::Files | QDir::Hidden))
        cleared = cache.remove(name) && cleared;
    if (!cleared)
        return false;
    QSaveFile file(marker);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(userId.toUtf8());
    return file.commit();
}

void SaveToCacheFile(const QString &fileName, const QByteArray &reply)
{
    if (g_CacheDir.isEmpty() || !IsSafeCacheFileName(fileName))
        return;
    bool valid = false;
    const QString text = DecodeUtf8(reply, &valid);
    if (!valid)
        return;
    QSaveFile file(CachePath(fileName));
    if (!file.open(QIODevice::WriteOnly))
        return;
    file.write(text.toUtf8());
    (void)file.commit();
}

} // namespace Cogitra
