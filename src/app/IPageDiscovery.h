#pragma once

#include "onenote/OneNotePageInfo.h"

#include <functional>

namespace Cogitra {

class IPageDiscovery
{
public:
    using Answer = std::function<void(bool found, const OneNotePageInfo &page)>;

    virtual ~IPageDiscovery() = default;

    // True when all five values were found. On failure the discovery has shown its own
    // alert, unless it left the failure to the caller (untoldFailure), and page holds what it
    // had found up to the failing step.
    [[nodiscard]] virtual bool GetCurrentOneNotePageInfo(OneNotePageInfo &page) = 0;

    // The same without holding the caller through the keystroke script's delays: answer
    // comes later on the calling thread, with what GetCurrentOneNotePageInfo would have
    // returned and after the same alert. This one answers at once.
    // The key of the last failure left to the caller to tell, which can offer other ways to
    // a page: "errGetPageLink" when no page link came at all. Empty otherwise.
    [[nodiscard]] virtual QString untoldFailure() const { return {}; }

    virtual void DiscoverCurrentPage(Answer answer)
    {
        OneNotePageInfo page;
        const bool found = GetCurrentOneNotePageInfo(page);
        answer(found, page);
    }
};

} // namespace Cogitra
