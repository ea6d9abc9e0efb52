#pragma once

#include "platform/IClipboard.h"

#include <QString>

#include <optional>

namespace Cogitra {

class IDesktopAutomation;

// The AppleScript that brings OneNote to the front and presses Command+Control+P, its
// "Copy Link to Page" shortcut: twelve lines, 243 characters, with half-second delays
// before, between and after.
[[nodiscard]] QString KeystrokeScript();

// Runs the keystroke script with an empty clipboard, so that an old text is never taken
// for OneNote's answer, and returns the plain text OneNote left there (no value when
// none). The user's clipboard, every format of it, is put back before returning.
[[nodiscard]] std::optional<QString> CopyCurrentPageLink(IDesktopAutomation &automation,
                                                         IClipboard &clipboard);

// CopyCurrentPageLink in its two halves, for running the script elsewhere in between: the
// first keeps the user's clipboard and empties it, the second reads OneNote's text and puts
// the user's clipboard back.
[[nodiscard]] ClipboardContents BorrowClipboard(IClipboard &clipboard);
[[nodiscard]] std::optional<QString> ReturnClipboard(IClipboard &clipboard,
                                                     const ClipboardContents &saved);

} // namespace Cogitra
