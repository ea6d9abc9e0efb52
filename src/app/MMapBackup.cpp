#include "MMapBackup.h"

#include "util/MGlobals.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>

namespace Cogitra {

namespace {
// Far above any map a person edits; a larger file is not one this application wrote.
constexpr qint64 MaxBackupBytes = 256 * 1024 * 1024;
} // namespace

QString MapBackupPath()
{
    const QString dir = g_AppDataDir.get();
    if (dir.isEmpty())
        return QString();
    return QDir(dir).filePath(QStringLiteral("cogitra.json"));
}

bool SaveMapBackup(const QString &json)
{
    const QString path = MapBackupPath();
    if (path.isEmpty())
        return false;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    const QByteArray bytes = json.toUtf8();
    if (file.write(bytes) != bytes.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

QString LoadMapBackup()
{
    const QString path = MapBackupPath();
    if (path.isEmpty())
        return QString();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > MaxBackupBytes)
        return QString();
    return QString::fromUtf8(file.read(MaxBackupBytes));
}

} // namespace Cogitra
