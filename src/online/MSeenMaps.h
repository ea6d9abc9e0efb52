#pragma once

#include <QString>

// What this computer last saw of each page's map: the address of the map image as an open
// read it or a save left it. The application and cogitra-cli share the one file in the data
// folder, so that a map opened or saved with one can be saved with the other. A replacement
// made anywhere gets a new address, since the notebook service names every image it stores
// anew. cogitra-cli, which keeps nothing between runs, goes by this record; the application
// goes by the address its own map came from, so that a map another program replaced since
// is never taken for the one its editor holds.
namespace Cogitra {

class MSeenMaps
{
public:
    // The record in the data folder.
    MSeenMaps();
    explicit MSeenMaps(QString filePath);

    // The resource part of a map image's src ("…/resources/{id}/$value" gives the id), so
    // that the same image read through another root or user form still matches. Empty for
    // an empty src (the page holds no map).
    [[nodiscard]] static QString AddressOf(const QString &src);

    // The address last seen on the page; empty when it was seen without a map or never: both
    // forbid replacing a map found there.
    [[nodiscard]] QString Seen(const QString &pageId) const;

    // Records the page's address (empty: the page holds no map). False when the file could
    // not be written; cogitra-cli's next save to the page then refuses, which loses nothing.
    [[nodiscard]] bool Remember(const QString &pageId, const QString &address) const;

    [[nodiscard]] const QString &filePath() const { return m_FilePath; }

private:
    const QString m_FilePath;
};

} // namespace Cogitra
