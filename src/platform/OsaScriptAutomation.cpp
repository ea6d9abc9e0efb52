#include "OsaScriptAutomation.h"

#include <QProcess>

namespace Cogitra {

OsaScriptAutomation::OsaScriptAutomation(QString program, std::chrono::milliseconds timeLimit)
    : m_Program(std::move(program))
    , m_TimeLimit(timeLimit)
{}

void OsaScriptAutomation::RunAppleScript(const QString &source)
{
    QProcess process;
    // The script's result and any error message are not wanted: its effect is read from
    // the clipboard.
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    process.start(m_Program, {QStringLiteral("-")});
    if (!process.waitForStarted())
        return;
    process.write(source.toUtf8());
    process.closeWriteChannel();
    if (!process.waitForFinished(static_cast<int>(m_TimeLimit.count()))) {
        process.kill();
        process.waitForFinished();
    }
}

} // namespace Cogitra
