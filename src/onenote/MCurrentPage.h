#pragma once

#include "OneNotePageInfo.h"

#include <QString>

namespace Cogitra {

class IClipboard;
class IDesktopAutomation;

// Current page discovery: asks OneNote for the selected page's link (CopyCurrentPageLink)
// and reads the page's names and ids from it. Main thread only; blocks for the keystroke
// script's delays (one and a half seconds).
class MCurrentPage
{
public:
    MCurrentPage(IDesktopAutomation &automation, IClipboard &clipboard);

    // True when all five values were found. Otherwise shows the failure's text from the
    // string table and returns false; page then holds what was found up to the failing
    // step (all empty when the link was unusable or had no title).
    [[nodiscard]] bool GetCurrentOneNotePageInfo(OneNotePageInfo &page);

    // The same without the alert: the key of the failure ("errGetPageLink",
    // "errPageTitleEmpty", "errServerIndexing"), or the empty text on success.
    [[nodiscard]] QString ReadCurrentPage(OneNotePageInfo &page);

    // The reading of a clipboard text alone, without asking OneNote.
    [[nodiscard]] static QString ReadPageLink(const QString &clip, OneNotePageInfo &page);

private:
    IDesktopAutomation &m_Automation;
    IClipboard &m_Clipboard;
};

} // namespace Cogitra
