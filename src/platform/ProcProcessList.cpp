#include "ProcProcessList.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <vector>

namespace Cogitra {

namespace {
// The kernel keeps names to 15 bytes; a longer read means something else is there.
constexpr qint64 kMaxNameBytes = 256;
// Far beyond any pid_max: a bound on the walk, not a limit anyone meets.
constexpr qsizetype kMaxProcesses = 1 << 22;
} // namespace

ProcProcessList::ProcProcessList(QString procRoot)
    : m_ProcRoot(std::move(procRoot))
{}

QStringList ProcProcessList::processNames() const
{
    std::vector<qulonglong> pids;
    const QStringList entries = QDir(m_ProcRoot).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        bool numeric = false;
        const qulonglong pid = entry.toULongLong(&numeric);
        if (numeric && static_cast<qsizetype>(pids.size()) < kMaxProcesses)
            pids.push_back(pid);
    }
    std::sort(pids.begin(), pids.end());

    QStringList names;
    for (const qulonglong pid : pids) {
        // A process that ended since the listing has no file any more: skip it.
        QFile comm(m_ProcRoot + QLatin1Char('/') + QString::number(pid) + QStringLiteral("/comm"));
        if (!comm.open(QIODevice::ReadOnly))
            continue;
        QByteArray name = comm.read(kMaxNameBytes);
        if (name.endsWith('\n'))
            name.chop(1);
        names.append(QString::fromUtf8(name));
    }
    return names;
}

} // namespace Cogitra
