#pragma once

#include "util/MLimits.h"

#include <QByteArray>
#include <QJsonObject>
#include <QSet>
#include <QString>

#include <cstdint>
#include <optional>

// Finds a page's online id from the desktop's notebook name, section name and client id:
// the user's whole notebook tree in one request, an account check, a walk of the notebooks
// and sections of matching names (section groups at any depth), and the page lists of the
// matching sections. List replies are cached in g_CacheDir, for one account at a time.
namespace Cogitra {

class MGraphClient;

class MPageLocator
{
public:
    // pageLink is the desktop link of the page (may be empty); it finds sections in
    // section groups, whose link names the group's folder instead of the notebook's.
    MPageLocator(MGraphClient &graph, QString pageLink);

    // True once g_OnlinePageId holds the page's id. An empty notebook name stands for every
    // notebook. Moves g_StepCode to 10 and 11 and
    // records the failures of those stages: a page not found while a section's list could
    // not be read is such a failure, not a missing page.
    [[nodiscard]] bool GetOnlinePageInfo(const QString &notebookName, const QString &sectionName,
                                         const QString &clientPageId);

    [[nodiscard]] bool GetOnlinePageInfo_LoopNotebooks(const std::optional<QByteArray> &tree,
                                                       const QString &notebookName,
                                                       const QString &sectionName,
                                                       const QString &clientPageId);
    [[nodiscard]] bool GetOnlinePageInfo_LoopSectionGroups(const QJsonObject &node,
                                                           const QString &sectionName,
                                                           const QString &clientPageId,
                                                           int depth = 0);

    // The notebook tree (cached 6 minutes), or none after three failed attempts. Only a
    // 2xx reply that is a collection counts.
    [[nodiscard]] std::optional<QByteArray> GetAllNotebooksSections();
    // The section's pages (cached 3 minutes), following next-page links on the Graph host
    // for at most 50 replies; none when the first reply failed or is no page list. While
    // location looks a second time, a list it took from the cache is fetched anew.
    [[nodiscard]] std::optional<QByteArray> GetSectionPages(const QString &sectionId);

    // True once a list GetSectionPages returned since location started was cut short, or
    // none could be read.
    [[nodiscard]] bool pageListFailed() const { return m_PageListFailed; }
    // Reads past fresh cache files (still writing what it fetches): for a person who asks
    // for the lists anew because a page made a moment ago is missing.
    void setFetchAnew(bool anew) { m_FetchAnew = anew; }

    static constexpr int k_TreeAttempts = 3;
    static constexpr int k_MaxPageListReplies = 50;
    static constexpr int k_MaxGroupDepth = kMaxJsonDepth;
    // What the replies of one section's list may add up to before the rest is left unread.
    static constexpr int64_t k_MaxPageListBytes = 2 * kMaxGraphReplyBytes;

private:
    [[nodiscard]] bool FindInTree(const std::optional<QByteArray> &tree,
                                  const QString &notebookName, const QString &sectionName,
                                  const QString &clientPageId);
    [[nodiscard]] bool FindInNotebookOfFolder(const std::optional<QByteArray> &tree,
                                              const QString &notebookName,
                                              const QString &sectionName,
                                              const QString &clientPageId);

    MGraphClient &m_Graph;
    const QString m_PageLink;
    // A section's list that could not be read whole since location started.
    bool m_PageListFailed = false;
    bool m_PageListBusy = false; // ... because the service stayed busy
    // Sections whose list came from the cache: a page made since is not in it.
    QSet<QString> m_ListsFromCache;
    bool m_Refetching = false;
    bool m_FetchAnew = false;
};

} // namespace Cogitra
