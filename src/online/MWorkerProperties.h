#pragma once

#include "onenote/OneNotePageInfo.h"

#include <QString>

namespace Cogitra {

// The inputs of one worker run, fixed when the worker is made.
struct MWorkerProperties
{
    bool DownloadCogitra = false; // true: open job; false: save job
    OneNotePageInfo Page;
    QString CogitraJsonForUpload;        // save: the map's JSON
    QString CogitraImageBase64ForUpload; // save: the PNG as Base64 or a whole data URL
};

// The run that opens the page (download) or saves the map onto it. An open run carries
// the account signed in, a save the page's own; no job reads it, since page location
// goes by the signed-in account.
[[nodiscard]] MWorkerProperties RunOfPage(const OneNotePageInfo &page, bool download,
                                          QString jsonForUpload = {}, QString pngForUpload = {});

} // namespace Cogitra
