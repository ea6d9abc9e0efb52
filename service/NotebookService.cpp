#include "service/NotebookService.h"

#include "service/DemoSeed.h"
#include "service/GraphReplies.h"
#include "service/Links.h"
#include "service/LooseJson.h"
#include "service/PageContent.h"
#include "service/ServiceContext.h"

namespace Cogitra::Service {

NotebookService::NotebookService(ServiceOptions options)
    : m_Context(std::make_unique<ServiceContext>(std::move(options)))
{}

NotebookService::~NotebookService()
{
    stop();
}

bool NotebookService::start(QString *error)
{
    ServiceContext &c = *m_Context;
    if (c.thread.joinable())
        return true;
    if (c.options.dataDir.isEmpty()) {
        if (error)
            *error = QStringLiteral("no data folder given");
        return false;
    }
    if (!c.store.open(c.options.dataDir, error))
        return false;
    c.log.setCapacity(c.options.requestLogCapacity);
    if (!c.options.logFile.isEmpty() && !c.log.openFile(c.options.logFile)) {
        if (error)
            *error = QStringLiteral("cannot open the log file %1").arg(c.options.logFile);
        return false;
    }
    return c.listen(error);
}

void NotebookService::stop()
{
    m_Context->shutdown();
}

bool NotebookService::isRunning() const
{
    return m_Context->server.is_running();
}

QString NotebookService::rootUrl() const
{
    return m_Context->root();
}

quint16 NotebookService::port() const
{
    return static_cast<quint16>(m_Context->port.load());
}

QString NotebookService::clientId() const
{
    return m_Context->options.clientId;
}

QString NotebookService::redirectUri() const
{
    return rootUrl() + QStringLiteral("/oauth20_desktop.srf");
}

std::optional<Account> NotebookService::createAccount(const QString &upn, const QString &password,
                                                      const QString &displayName)
{
    return m_Context->store.createAccount(upn, password, displayName);
}

std::optional<Account> NotebookService::account(const QString &upnOrCid)
{
    if (std::optional<Account> byUpn = m_Context->store.accountByUpn(upnOrCid))
        return byUpn;
    return m_Context->store.accountByCid(upnOrCid);
}

std::optional<Notebook> NotebookService::createNotebook(const QString &cid, const QString &name)
{
    return m_Context->store.createNotebook(cid, name);
}

std::optional<SectionGroup> NotebookService::createSectionGroup(const QString &notebookId,
                                                                const QString &parentGroupId,
                                                                const QString &name)
{
    return m_Context->store.createSectionGroup(notebookId, parentGroupId, name);
}

std::optional<Section> NotebookService::createSection(const QString &notebookId,
                                                      const QString &parentGroupId,
                                                      const QString &name)
{
    return m_Context->store.createSection(notebookId, parentGroupId, name);
}

std::optional<Page> NotebookService::createPage(const QString &sectionId, const QString &title,
                                                const QString &bodyHtml)
{
    Store &store = m_Context->store;
    std::optional<Page> created = store.createPage(sectionId, title);
    if (!created || bodyHtml.isEmpty())
        return created;
    ContentError error;
    Page filled = *created;
    if (!FillNewPage(filled,
                     QStringLiteral("<html><head><title>") + title.toHtmlEscaped()
                         + QStringLiteral("</title></head><body>") + bodyHtml
                         + QStringLiteral("</body></html>"),
                     m_Context->contentImport(created->id), &error)
        || !store.updatePage(filled))
        return created;
    return filled;
}

bool NotebookService::patchPage(const QString &pageId, const QByteArray &commands, QString *error)
{
    const bool exists = m_Context->store.page(pageId).has_value();
    const std::optional<QJsonValue> parsed = ParseLooseJson(commands);
    if (!exists || !parsed || !parsed->isArray()) {
        if (error)
            *error
                = !exists ? QStringLiteral("no such page") : QStringLiteral("not a command array");
        return false;
    }
    ContentError failure;
    if (!m_Context->patchPage(pageId, parsed->toArray(), &failure)) {
        if (error)
            *error = failure.code + QStringLiteral(": ") + failure.message;
        return false;
    }
    return true;
}

std::optional<Page> NotebookService::page(const QString &pageId)
{
    return m_Context->store.page(pageId);
}

QString NotebookService::pageHtml(const QString &pageId, bool includeIds)
{
    Store &store = m_Context->store;
    const std::optional<Page> found = store.page(pageId);
    if (!found)
        return QString();
    const std::optional<Section> section = store.section(found->sectionId);
    const std::optional<Account> owner
        = section ? store.accountByCid(store.accountOfNotebook(section->notebookId)) : std::nullopt;
    return RenderPageHtml(*found, ResourceBase(rootUrl(), owner ? owner->upn : QString()),
                          includeIds);
}

std::vector<Resource> NotebookService::pageResources(const QString &pageId)
{
    return m_Context->store.resources(pageId);
}

QString NotebookService::pageClientUrl(const QString &pageId)
{
    const std::optional<PagePlace> place = PlaceOfPage(m_Context->store, pageId);
    return place ? GraphPageClientUrl(*place) : QString();
}

QString NotebookService::pageDesktopLink(const QString &pageId)
{
    const std::optional<PagePlace> place = PlaceOfPage(m_Context->store, pageId);
    return place ? DesktopCopyLink(*place) : QString();
}

QString NotebookService::pageWebUrl(const QString &pageId)
{
    Store &store = m_Context->store;
    const std::optional<PagePlace> place = PlaceOfPage(store, pageId);
    const std::optional<Page> page = store.page(pageId);
    const std::optional<Section> section = page ? store.section(page->sectionId) : std::nullopt;
    return place && section ? GraphPageWebUrl(*place, section->notebookId, page->number)
                            : QString();
}

Store &NotebookService::store()
{
    return m_Context->store;
}

QString NotebookService::mintAuthorizationCode(const QString &cid, const QString &redirectUri,
                                               const QString &scope)
{
    if (!m_Context->store.accountByCid(cid))
        return QString();
    return m_Context->issueCode(cid, redirectUri.isEmpty() ? this->redirectUri() : redirectUri,
                                scope);
}

std::optional<TokenPair> NotebookService::mintTokens(const QString &cid, const QString &scope)
{
    if (!m_Context->store.accountByCid(cid))
        return std::nullopt;
    TokenPair pair = m_Context->issueTokens(cid, m_Context->options.clientId, scope);
    if (pair.accessToken.isEmpty())
        return std::nullopt;
    return pair;
}

void NotebookService::setAccessTokenLifetime(qint64 seconds)
{
    m_Context->accessTokenLifetime = seconds;
}

void NotebookService::setCodeLifetime(qint64 seconds)
{
    m_Context->codeLifetime = seconds;
}

void NotebookService::expireAccessTokens(const QString &cid)
{
    m_Context->store.expireAccessTokens(cid);
}

bool NotebookService::selectPage(const QString &pageId)
{
    if (!m_Context->store.page(pageId))
        return false;
    m_Context->store.setStateValue(QStringLiteral("selectedPage"), pageId);
    return true;
}

QString NotebookService::selectedPageId()
{
    return m_Context->store.stateValue(QStringLiteral("selectedPage"));
}

QString NotebookService::selectionLink()
{
    const QString pageId = selectedPageId();
    return pageId.isEmpty() ? QString() : pageDesktopLink(pageId);
}

std::vector<LoggedRequest> NotebookService::requestLog() const
{
    return m_Context->log.entries();
}

void NotebookService::clearRequestLog()
{
    m_Context->log.clear();
}

void NotebookService::setRevealSecretsInLog(bool reveal)
{
    m_Context->log.setRevealSecrets(reveal);
}

void NotebookService::setFault(const QString &route, const Fault &fault)
{
    m_Context->faults.set(route, fault);
}

void NotebookService::clearFaults(const QString &route)
{
    m_Context->faults.clear(route);
}

std::optional<DemoAccount> NotebookService::seedDemo()
{
    return SeedDemo(*this);
}

} // namespace Cogitra::Service
