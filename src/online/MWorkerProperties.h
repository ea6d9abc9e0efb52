#pragma once

#include "onenote/OneNotePageInfo.h"

#include <QString>

#include <optional>

namespace Cogitra {

// Where the editor's map came from: the page it was opened from or last saved to, and the
// address its map had there then (empty: the page held none). An empty page id: a new map.
struct MapOrigin
{
    QString pageId;
    QString address;
};

// The inputs of one worker run, fixed when the worker is made.
struct MWorkerProperties
{
    bool DownloadCogitra = false; // true: open job; false: save job
    OneNotePageInfo Page;
    QString CogitraJsonForUpload;        // save: the map's JSON
    QString CogitraImageBase64ForUpload; // save: the PNG as Base64 or a whole data URL
    // save: where the map came from. Without one, the map is taken to be what this computer
    // last saw on the page (cogitra-cli, which keeps nothing between its runs).
    std::optional<MapOrigin> Origin;
    // save: write even over a map on the page that did not come from here.
    bool Replace = false;
};

// Where the map of the open or save that just finished came from: its page and the address
// the run saw there. Read once the run is seen finished.
[[nodiscard]] MapOrigin OriginOfFinishedRun();

// The run that opens the page (download) or saves the map onto it. An open run carries
// the account signed in, a save the page's own; no job reads it, since page location
// goes by the signed-in account.
[[nodiscard]] MWorkerProperties RunOfPage(const OneNotePageInfo &page, bool download,
                                          QString jsonForUpload = {}, QString pngForUpload = {});

} // namespace Cogitra
