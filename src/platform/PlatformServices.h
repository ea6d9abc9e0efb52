#pragma once

#include <memory>

// The implementations of the platform interfaces for the system the program runs on,
// chosen here once.
namespace Cogitra {

class IClipboard;
class IDesktopAutomation;
class IProcessList;
class IShell;

// macOS: AppleScript through osascript. Elsewhere: the desktop notebook named by
// COGITRA_DESKTOP_ROOT answers, putting the link on the given clipboard.
[[nodiscard]] std::unique_ptr<IDesktopAutomation> MakeDesktopAutomation(IClipboard &clipboard);
[[nodiscard]] std::unique_ptr<IProcessList> MakeProcessList();
[[nodiscard]] std::unique_ptr<IShell> MakeShell();

} // namespace Cogitra
