#pragma once

#include "IDesktopAutomation.h"

#include <chrono>

namespace Cogitra {

// macOS: runs AppleScript source through osascript, the source on its standard input.
class OsaScriptAutomation final : public IDesktopAutomation
{
public:
    explicit OsaScriptAutomation(QString program = QStringLiteral("/usr/bin/osascript"),
                                 std::chrono::milliseconds timeLimit = std::chrono::seconds(30));

    void RunAppleScript(const QString &source) override;

private:
    const QString m_Program;
    const std::chrono::milliseconds m_TimeLimit;
};

} // namespace Cogitra
