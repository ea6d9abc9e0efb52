#pragma once

#include <QString>

// What this computer last saw of each page's map: the address of the map image as an open
// read it or a save left it. The application and cogitra-cli share the one file in the data
// folder, so that a map opened with one can be saved with the other. A save compares the
// page's address with what it saw; a replacement made anywhere gets a new address, since
// the notebook service names every image it stores anew.
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
    // not be written; the next save to the page then asks, which loses nothing.
    [[nodiscard]] bool Remember(const QString &pageId, const QString &address) const;

    [[nodiscard]] const QString &filePath() const { return m_FilePath; }

private:
    const QString m_FilePath;
};

} // namespace Cogitra
