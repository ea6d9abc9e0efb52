#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>

#include <gtest/gtest.h>

// Whole files in and out, for tests that prepare or inspect what the code reads and writes.
namespace Cogitra::Testing {

inline QByteArray ReadBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Writes the file and the folders it needs; a failure fails the test.
inline void WriteBytes(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        ADD_FAILURE() << "cannot write " << path.toStdString();
}

// Files that hold the account's tokens: no one but their owner may read them.
inline bool OwnerOnly(const QString &path)
{
    return QFileInfo::exists(path) && (QFile::permissions(path) & 0x0077) == 0;
}

} // namespace Cogitra::Testing
