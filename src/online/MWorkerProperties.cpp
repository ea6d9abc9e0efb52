#include "MWorkerProperties.h"

#include "util/MGlobals.h"

namespace Cogitra {

MapOrigin OriginOfFinishedRun()
{
    return {g_OnlinePageId.get(), g_MapAddress.get()};
}

MWorkerProperties RunOfPage(const OneNotePageInfo &page, bool download, QString jsonForUpload,
                            QString pngForUpload)
{
    MWorkerProperties properties{download, page, std::move(jsonForUpload), std::move(pngForUpload)};
    if (download)
        properties.Page.accountId = g_AccountId.get();
    return properties;
}

} // namespace Cogitra
