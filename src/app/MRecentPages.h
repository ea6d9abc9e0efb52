#pragma once

#include "onenote/OneNotePageInfo.h"

#include <QList>

// The pages last opened or saved, newest first, kept in the configuration under
// "RecentPages" so that File > Open Recent survives a restart and is shared with every
// program using the data folder. Main thread only.
namespace Cogitra {

inline constexpr int k_MaxRecentPages = 10;

// What the configuration holds; entries it cannot use are left out.
[[nodiscard]] QList<OneNotePageInfo> LoadRecentPages();
// Puts the page first (once: the same page under another title moves up), keeps the
// newest ten, and saves.
void RememberRecentPage(const OneNotePageInfo &page);
// Takes a page that no longer exists off the list, and saves.
void ForgetRecentPage(const OneNotePageInfo &page);

} // namespace Cogitra
