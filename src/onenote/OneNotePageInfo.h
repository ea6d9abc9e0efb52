#pragma once

#include <QString>

namespace Cogitra {

// A page of the OneNote desktop application, as its link names it: what discovery finds,
// what the application keeps as its current page and what a run is told to open or save.
struct OneNotePageInfo
{
    QString accountId;
    QString clientId;
    QString title;
    QString notebookName;
    QString sectionName;
    // The whole link, normalised: page location needs its folder path to find a section
    // inside a section group.
    QString link;

    friend bool operator==(const OneNotePageInfo &, const OneNotePageInfo &) = default;
};

} // namespace Cogitra
