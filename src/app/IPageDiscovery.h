#pragma once

#include <QString>

namespace Cogitra {

// The page selected in the OneNote desktop application, as its link names it.
struct CurrentPage
{
    QString accountId;
    QString clientId;
    QString title;
    QString notebookName;
    QString sectionName;
    QString link; // the page's link, for finding sections inside section groups
};

class IPageDiscovery
{
public:
    virtual ~IPageDiscovery() = default;

    // True when all five values were found. On failure the discovery has shown its own
    // alert and page holds what it had found up to the failing step.
    [[nodiscard]] virtual bool GetCurrentOneNotePageInfo(CurrentPage &page) = 0;
};

} // namespace Cogitra
