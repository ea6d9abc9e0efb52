#pragma once

#include <QString>

namespace Cogitra {

// Runs the keystroke scripts that drive the OneNote desktop application. On macOS that is
// AppleScript; elsewhere a stand-in answers the same scripts. Synchronous, on the calling
// thread; results and errors are not reported, as a script's effect is read elsewhere
// (the clipboard).
class IDesktopAutomation
{
public:
    virtual ~IDesktopAutomation() = default;

    virtual void RunAppleScript(const QString &source) = 0;
};

} // namespace Cogitra
