#include "SystemShell.h"

#include <QProcess>

namespace Cogitra {

SystemShell::SystemShell(std::chrono::milliseconds timeLimit)
    : m_TimeLimit(timeLimit)
{}

int SystemShell::run(const QString &commandLine)
{
    QProcess process;
    // A failing command passes silently (the installer reports nothing), so its messages
    // do not go to the console either.
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    process.setStandardInputFile(QProcess::nullDevice());
    process.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), commandLine});
    if (!process.waitForStarted())
        return -1;
    if (!process.waitForFinished(static_cast<int>(m_TimeLimit.count()))) {
        process.kill();
        process.waitForFinished();
        return -1;
    }
    if (process.exitStatus() != QProcess::NormalExit)
        return -1;
    return process.exitCode();
}

} // namespace Cogitra
