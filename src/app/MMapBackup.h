#pragma once

#include <QString>

namespace Cogitra {

// "cogitra.json" in the data folder: the last map handed to a save, so that the Refresh
// command can bring it back when the upload failed.
[[nodiscard]] QString MapBackupPath();
// Atomic: the file holds the old map or the new one, never a part of either.
[[nodiscard]] bool SaveMapBackup(const QString &json);
// The file's UTF-8 text; the empty text when it is missing, unreadable or too large.
[[nodiscard]] QString LoadMapBackup();

} // namespace Cogitra
