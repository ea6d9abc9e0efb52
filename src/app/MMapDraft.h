#pragma once

#include "onenote/OneNotePageInfo.h"
#include "online/MWorkerProperties.h"

#include <QDateTime>
#include <QString>

#include <optional>

namespace Cogitra {

// The unsaved edits of the editor's map, kept in "draft.json" in the data folder so that
// they outlive a crash or a kill, together with the page the next save would write them to.
// The file holds a user's map: it is private to the user and its contents are never logged.
struct MapDraft
{
    QString json;
    // Empty when the map belongs to no page yet (a new map).
    QString onlinePageId;
    QString pageTitle;
    OneNotePageInfo page;
    // Where the edited map came from: saved after a restart, it replaces that map without a
    // question, as it would have before. Empty in drafts written before it was kept.
    MapOrigin origin;
    QDateTime savedAt;
};

[[nodiscard]] QString MapDraftPath();
// Atomic and readable by the owner only: the file holds the old draft or the new one.
[[nodiscard]] bool SaveMapDraft(const MapDraft &draft);
// Nothing when there is no draft, or the file is not one this application wrote.
[[nodiscard]] std::optional<MapDraft> LoadMapDraft();
void RemoveMapDraft();

} // namespace Cogitra
