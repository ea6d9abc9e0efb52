#include "MPageLocator.h"

#include "MEndpoints.h"
#include "MGraphClient.h"
#include "MHttp.h"
#include "MPageMatching.h"
#include "MReplyCache.h"
#include "util/MGlobals.h"
#include "util/MStepCodes.h"

#include <QDebug>

namespace Cogitra {
namespace {

const QString k_NotebookTreePath = QStringLiteral(
    "/onenote/notebooks?expand=sections,sectionGroups(expand=sections,sectionGroups(levels=max;"
    "expand=sections))");

void LogSearchReply(const QByteArray &body)
{
    qInfo().noquote() << QStringLiteral("--- Search --- ") + QString::fromUtf8(body);
}

} // namespace

MPageLocator::MPageLocator(MGraphClient &graph, QString pageLink)
    : m_Graph(graph)
    , m_PageLink(std::move(pageLink))
{}

bool MPageLocator::GetOnlinePageInfo(const QString &notebookName, const QString &sectionName,
                                     const QString &clientPageId)
{
    if (g_AccessToken.isEmpty())
        return false;
    g_StepCode.store(Step::ListingNotebooks);
    const std::optional<QByteArray> tree = GetAllNotebooksSections();
    if (!tree) {
        RecordRunFailure(Step::ListingNotebooks, m_Graph.failureKey("errGetNotebooksSections"));
        return false;
    }
    g_StepCode.store(Step::SearchingNotebooks);
    if (FoundAccountInJason(tree, g_AccountId.get()) == 0) {
        RecordRunFailure(Step::SearchingNotebooks, "errAccountDiff");
        return false;
    }
    m_PageListFailed = false;
    m_PageListBusy = false;
    m_ListsFromCache.clear();
    if (FindInTree(tree, notebookName, sectionName, clientPageId))
        return true;
    // A page made after its section's list was cached: once more, with those lists anew.
    if (!m_ListsFromCache.isEmpty()) {
        m_Refetching = true;
        const bool found = FindInTree(tree, notebookName, sectionName, clientPageId);
        m_Refetching = false;
        if (found)
            return true;
    }
    // The page may be in the list that could not be read: "not found" would mislead.
    if (m_PageListFailed)
        RecordRunFailure(Step::SearchingNotebooks,
                         m_PageListBusy ? "errServiceBusy" : "errGetNotebooksSections");
    return false;
}

bool MPageLocator::FindInTree(const std::optional<QByteArray> &tree, const QString &notebookName,
                              const QString &sectionName, const QString &clientPageId)
{
    return GetOnlinePageInfo_LoopNotebooks(tree, notebookName, sectionName, clientPageId)
           || FindInNotebookOfFolder(tree, notebookName, sectionName, clientPageId);
}

bool MPageLocator::GetOnlinePageInfo_LoopNotebooks(const std::optional<QByteArray> &tree,
                                                   const QString &notebookName,
                                                   const QString &sectionName,
                                                   const QString &clientPageId)
{
    const std::optional<QList<QJsonObject>> notebooks = CollectionEntries(tree);
    if (!notebooks)
        return false;
    for (const QJsonObject &notebook : *notebooks) {
        const QJsonValue name = notebook.value(QLatin1String("displayName"));
        // A web link names no notebook: every notebook's sections of the name are walked,
        // and the page's client id tells its page apart.
        if (!notebookName.isEmpty()
            && (!name.isString() || !IsLikeIgnoreCase(notebookName, name.toString())))
            continue;
        if (GetOnlinePageInfo_LoopSectionGroups(notebook, sectionName, clientPageId))
            return true;
    }
    return false;
}

bool MPageLocator::GetOnlinePageInfo_LoopSectionGroups(const QJsonObject &node,
                                                       const QString &sectionName,
                                                       const QString &clientPageId, int depth)
{
    if (depth > k_MaxGroupDepth)
        return false;
    for (const QJsonObject &section : ObjectEntries(node, QStringLiteral("sections"))) {
        const QJsonValue name = section.value(QLatin1String("displayName"));
        if (!name.isString() || !IsLikeIgnoreCase(sectionName, name.toString()))
            continue;
        const std::optional<QByteArray> pages
            = GetSectionPages(section.value(QLatin1String("id")).toString());
        QString pageId;
        QString sectionId;
        if (pages && GetOnlineId(pages, clientPageId, pageId, sectionId)) {
            g_OnlinePageId.set(pageId);
            return true;
        }
    }
    for (const QJsonObject &group : ObjectEntries(node, QStringLiteral("sectionGroups"))) {
        if (GetOnlinePageInfo_LoopSectionGroups(group, sectionName, clientPageId, depth + 1))
            return true;
    }
    return false;
}

bool MPageLocator::FindInNotebookOfFolder(const std::optional<QByteArray> &tree,
                                          const QString &notebookName, const QString &sectionName,
                                          const QString &clientPageId)
{
    // The link of a page in a section group names the group's folder, not the notebook's;
    // the notebook is then the one whose own link is a parent folder of the page's.
    const QString folder = FolderPathOfLink(m_PageLink);
    if (folder.isEmpty())
        return false;
    const std::optional<QList<QJsonObject>> notebooks = CollectionEntries(tree);
    if (!notebooks)
        return false;
    const QJsonObject *best = nullptr;
    qsizetype bestLength = -1;
    for (const QJsonObject &notebook : *notebooks) {
        const QString href = ClientUrlOf(notebook);
        if (!NotebookHoldsFolder(href, folder) || href.size() <= bestLength)
            continue;
        best = &notebook;
        bestLength = href.size();
    }
    if (!best)
        return false;
    const QJsonValue name = best->value(QLatin1String("displayName"));
    if (name.isString() && IsLikeIgnoreCase(notebookName, name.toString()))
        return false; // walked already
    return GetOnlinePageInfo_LoopSectionGroups(*best, sectionName, clientPageId);
}

std::optional<QByteArray> MPageLocator::GetAllNotebooksSections()
{
    if (g_AccessToken.isEmpty())
        return std::nullopt;
    const QString cacheName = QString::fromLatin1(k_NotebookTreeCacheFile);
    const bool useCache = KeepCacheForAccount(g_UserId.get());
    if (useCache && !m_FetchAnew) {
        if (std::optional<QByteArray> cached
            = LoadFromCacheFile(cacheName, k_NotebookTreeFreshMinutes))
            return cached;
    }
    bool refreshAfter401 = true;
    // The attempts are spaced like the waits for a busy service, and share their limits.
    MRetryPlan plan;
    for (int attempt = 0; attempt < k_TreeAttempts; ++attempt) {
        if (attempt > 0) {
            const std::optional<Millis> pause = plan.NextPause(std::nullopt);
            if (!pause)
                break;
            WaitBeforeRetry(*pause, m_Graph.stopToken());
        }
        MGraphRequest request;
        request.url = GraphUserBaseUrl(g_UserId.get()) + k_NotebookTreePath;
        const MGraphReply reply = m_Graph.Send(request, refreshAfter401, plan);
        if (!reply.sent)
            break; // the token is gone; further attempts would not be sent either
        if (reply.isReply())
            LogSearchReply(reply.http.body);
        // A cut or garbled tree is no tree: kept, it would stand for one for six minutes.
        if (reply.isSuccess() && CollectionEntries(reply.http.body)) {
            if (useCache)
                SaveToCacheFile(cacheName, reply.http.body);
            return reply.http.body;
        }
        if (m_Graph.gaveUpBusy())
            break; // the whole wait is spent
    }
    return std::nullopt;
}

std::optional<QByteArray> MPageLocator::GetSectionPages(const QString &sectionId)
{
    if (g_AccessToken.isEmpty())
        return std::nullopt;
    const QString cacheName = sectionId + QStringLiteral(".json");
    const bool useCache = KeepCacheForAccount(g_UserId.get());
    if (m_Refetching) {
        // The second look costs a request only for a list that came from the cache; the
        // others were fetched (or failed) a moment ago.
        if (!m_ListsFromCache.remove(sectionId))
            return std::nullopt;
    } else if (useCache && !m_FetchAnew) {
        if (std::optional<QByteArray> cached
            = LoadFromCacheFile(cacheName, k_PageListFreshMinutes)) {
            m_ListsFromCache.insert(sectionId);
            return cached;
        }
    }

    MGraphRequest request;
    request.url = GraphUserBaseUrl(g_UserId.get()) + QStringLiteral("/onenote/sections/")
                  + sectionId + QStringLiteral("/pages?top=100");
    bool refreshAfter401 = true;
    const MGraphReply first = m_Graph.Send(request, refreshAfter401);
    if (first.isReply())
        LogSearchReply(first.http.body);
    std::optional<MPageListPart> part
        = first.isSuccess() ? ParsePageListPart(first.http.body) : std::nullopt;
    if (!part) {
        m_PageListFailed = m_PageListFailed || first.sent;
        m_PageListBusy = m_PageListBusy || m_Graph.gaveUpBusy();
        return std::nullopt;
    }
    if (part->nextLink.isEmpty()) {
        if (useCache)
            SaveToCacheFile(cacheName, first.http.body);
        return first.http.body;
    }

    // A long section comes in several replies; the cache keeps them merged into one list.
    QList<QJsonObject> pages = part->pages;
    QString next = part->nextLink;
    bool complete = true;
    int64_t bytes = first.http.body.size();
    for (int replies = 1; !next.isEmpty() && replies < k_MaxPageListReplies; ++replies) {
        if (!IsGraphUrl(next) || bytes > k_MaxPageListBytes) {
            complete = false;
            break;
        }
        MGraphRequest nextRequest;
        nextRequest.url = next;
        nextRequest.form = MUrlForm::ServiceUrl;
        const MGraphReply reply = m_Graph.Send(nextRequest, refreshAfter401);
        if (reply.isReply())
            LogSearchReply(reply.http.body);
        part = reply.isSuccess() ? ParsePageListPart(reply.http.body) : std::nullopt;
        if (!part) {
            complete = false;
            m_PageListBusy = m_PageListBusy || m_Graph.gaveUpBusy();
            break;
        }
        pages += part->pages;
        next = part->nextLink;
        bytes += reply.http.body.size();
    }
    // Stopped by the reply limit with pages still to come: as cut short as a failed reply.
    if (!next.isEmpty())
        complete = false;
    const QByteArray merged = MergePageLists(first.http.body, pages);
    // A list cut short by a failed reply is searched but not kept: it would hide the rest
    // of the section for as long as it stays fresh.
    if (!complete)
        m_PageListFailed = true;
    else if (useCache)
        SaveToCacheFile(cacheName, merged);
    return merged;
}

} // namespace Cogitra
