#include "MSeenMaps.h"

#include "util/MGlobals.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLockFile>
#include <QSaveFile>

#include <algorithm>
#include <vector>

namespace Cogitra {
namespace {

constexpr const char *kFileName = "seen-maps.json";
// Pages beyond this many are forgotten oldest first; a forgotten page costs one question.
constexpr qsizetype kMaxPages = 2000;
constexpr qint64 kMaxFileBytes = 1024 * 1024;

QJsonObject ReadRecord(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > kMaxFileBytes)
        return {};
    return QJsonDocument::fromJson(file.readAll()).object();
}

} // namespace

MSeenMaps::MSeenMaps()
    : MSeenMaps(QDir(g_AppDataDir.get()).filePath(QLatin1String(kFileName)))
{}

MSeenMaps::MSeenMaps(QString filePath)
    : m_FilePath(std::move(filePath))
{}

QString MSeenMaps::AddressOf(const QString &src)
{
    static const QLatin1String marker("/resources/");
    const qsizetype start = src.lastIndexOf(marker);
    if (start < 0)
        return src;
    const qsizetype idStart = start + marker.size();
    const qsizetype end = src.indexOf(u'/', idStart);
    return src.mid(idStart, end < 0 ? -1 : end - idStart);
}

QString MSeenMaps::Seen(const QString &pageId) const
{
    if (pageId.isEmpty())
        return {};
    return ReadRecord(m_FilePath).value(pageId).toObject().value(QStringLiteral("map")).toString();
}

bool MSeenMaps::Remember(const QString &pageId, const QString &address) const
{
    if (pageId.isEmpty())
        return false;
    // Opening a page again finds what is recorded already; an atomic write waits for the
    // disk, which would cost an open more than its requests on a fast connection.
    const QJsonValue known = ReadRecord(m_FilePath).value(pageId);
    if (known.isObject() && known.toObject().value(QStringLiteral("map")) == address)
        return true;
    // The application and cogitra-cli may both finish a run at once: one writer at a time,
    // each starting from what the other left.
    QLockFile lock(m_FilePath + QStringLiteral(".lock"));
    if (!lock.tryLock(2000))
        return false;
    QJsonObject record = ReadRecord(m_FilePath);
    record.insert(pageId, QJsonObject{{QStringLiteral("map"), address},
                                      {QStringLiteral("at"), QDateTime::currentSecsSinceEpoch()}});
    if (record.size() > kMaxPages) {
        std::vector<std::pair<qint64, QString>> pages;
        for (auto it = record.begin(); it != record.end(); ++it)
            pages.emplace_back(it.value().toObject().value(QStringLiteral("at")).toInteger(),
                               it.key());
        std::sort(pages.begin(), pages.end());
        const qsizetype excess = record.size() - kMaxPages;
        for (qsizetype i = 0; i < excess; ++i)
            record.remove(pages[size_t(i)].second);
    }

    const QByteArray bytes = QJsonDocument(record).toJson(QJsonDocument::Compact);
    QSaveFile file(m_FilePath);
    return file.open(QIODevice::WriteOnly)
           && file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner)
           && file.write(bytes) == bytes.size() && file.commit();
}

} // namespace Cogitra
