#pragma once

#include "onenote/OneNotePageInfo.h"

namespace Cogitra {

class IPageDiscovery
{
public:
    virtual ~IPageDiscovery() = default;

    // True when all five values were found. On failure the discovery has shown its own
    // alert and page holds what it had found up to the failing step.
    [[nodiscard]] virtual bool GetCurrentOneNotePageInfo(OneNotePageInfo &page) = 0;
};

} // namespace Cogitra
