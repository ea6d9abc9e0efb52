#pragma once

#include "OneNotePageInfo.h"

#include <QString>

namespace Cogitra {

// Reads any link to a OneNote page that a user can copy into what locating the page needs:
// the desktop application's "onenote:https://" links (also the ones relative to their
// notebook that carry a "base-path"), and the web links of OneDrive and SharePoint whose
// "wd=target(SECTION.one|GUID/TITLE|GUID/)" names the page.
//
// A web link names no desktop link (page.link stays empty) and mostly no notebook: the
// page is then looked for in the sections of its name in every notebook, which its client
// id makes unambiguous. The account is the "cid" (or the "resid" before its "!") in lower
// case, as the desktop links of personal notebooks carry it, or on other hosts the segment
// the desktop links of the same site carry.
//
// Empty text on success; otherwise why the link names no page that can be opened, in
// words for the user, and page is empty.
[[nodiscard]] QString ReadAnyPageLink(const QString &text, OneNotePageInfo &page);

} // namespace Cogitra
