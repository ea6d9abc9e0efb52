#include "ClipFun.h"

#include "platform/IClipboard.h"
#include "platform/IDesktopAutomation.h"

namespace Cogitra {

QString KeystrokeScript()
{
    return QStringLiteral("delay 0.5\n"
                          "tell application \"/Applications/Microsoft OneNote.app\"\n"
                          "reopen\n"
                          "activate\n"
                          "end tell\n"
                          "delay 0.5\n"
                          "tell application \"System Events\"\n"
                          "tell process \"Microsoft OneNote\"\n"
                          "keystroke \"p\" using {command down, control down}\n"
                          "end tell\n"
                          "end tell\n"
                          "delay 0.5\n");
}

std::optional<QString> CopyCurrentPageLink(IDesktopAutomation &automation, IClipboard &clipboard)
{
    const ClipboardContents saved = BorrowClipboard(clipboard);
    automation.RunAppleScript(KeystrokeScript());
    return ReturnClipboard(clipboard, saved);
}

ClipboardContents BorrowClipboard(IClipboard &clipboard)
{
    ClipboardContents saved = clipboard.contents();
    clipboard.clear();
    return saved;
}

std::optional<QString> ReturnClipboard(IClipboard &clipboard, const ClipboardContents &saved)
{
    std::optional<QString> link = clipboard.text();
    clipboard.setContents(saved);
    return link;
}

} // namespace Cogitra
