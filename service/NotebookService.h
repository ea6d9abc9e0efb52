#pragma once

#include "service/Faults.h"
#include "service/RequestLog.h"
#include "service/Store.h"

#include <QString>
#include <QStringList>

#include <memory>
#include <optional>
#include <vector>

// The local notebook service: the identity platform's authorize/token/sign-out pages, the
// Graph v1.0 OneNote subset, the desktop notebook page and the maker's web site, on
// 127.0.0.1 only, with its data in SQLite under a data folder. Tests start it in-process:
//
//     Cogitra::Service::ServiceOptions options;
//     options.dataDir = tempDir.path();
//     Cogitra::Service::NotebookService service(options);
//     ASSERT_TRUE(service.start());            // port 0: any free port
//     const QString root = service.rootUrl();  // "http://127.0.0.1:<port>"
//
// and then create accounts and content, mint codes or tokens, read pages back, read the
// request log and inject faults through the members below. service/README.md tells more.
namespace Cogitra::Service {

inline constexpr char kDefaultScope[]
    = "offline_access User.Read Notes.Create Notes.ReadWrite Notes.ReadWrite.All";

struct ServiceOptions
{
    QString dataDir; // required: the SQLite database lives here
    quint16 port = 0;
    QString clientId; // empty: the build's COGITRA_CLIENT_ID
    // Redirect URIs accepted besides "{root}/oauth20_desktop.srf" and
    // "https://login.live.com/oauth20_desktop.srf".
    QStringList redirectUris;
    qint64 accessTokenLifetimeSeconds = 3600;
    qint64 refreshTokenLifetimeSeconds = 90LL * 24 * 3600;
    qint64 codeLifetimeSeconds = 600;
    bool testRoutes = false;                   // POST /_test/faults
    size_t maxRequestBytes = 16 * 1024 * 1024; // larger request bodies get 413
    QString logFile;                           // JSON lines, secrets masked
    size_t requestLogCapacity = 10000;
    QStringList hosts
        = {QStringLiteral("editor.ardentis.app"), QStringLiteral("editor.ardentis.cn")};
    int threads = 16;
};

struct TokenPair
{
    QString accessToken;
    QString refreshToken;
    qint64 expiresIn = 0;
};

struct DemoAccount
{
    QString upn;
    QString password;
    Account account;
    QString mapPageId;      // the page that holds a map in Cogitra's container
    QString imagesPageId;   // a page with other images
    QString nonAsciiPageId; // a page with a non-ASCII title
    QString bigSectionId;   // a section with more than 100 pages
};

class ServiceContext;

class NotebookService
{
public:
    explicit NotebookService(ServiceOptions options);
    ~NotebookService(); // stops
    NotebookService(const NotebookService &) = delete;
    NotebookService &operator=(const NotebookService &) = delete;

    // Opens the data folder and starts serving on a thread of its own.
    [[nodiscard]] bool start(QString *error = nullptr);
    void stop();
    [[nodiscard]] bool isRunning() const;

    [[nodiscard]] QString rootUrl() const; // "http://127.0.0.1:<port>"
    [[nodiscard]] quint16 port() const;
    [[nodiscard]] QString clientId() const;
    [[nodiscard]] QString redirectUri() const; // "{root}/oauth20_desktop.srf"

    // Content, written as the online service would keep it.
    [[nodiscard]] std::optional<Account> createAccount(const QString &upn, const QString &password,
                                                       const QString &displayName);
    [[nodiscard]] std::optional<Account> account(const QString &upnOrCid);
    [[nodiscard]] std::optional<Notebook> createNotebook(const QString &cid, const QString &name);
    [[nodiscard]] std::optional<SectionGroup> createSectionGroup(const QString &notebookId,
                                                                 const QString &parentGroupId,
                                                                 const QString &name);
    [[nodiscard]] std::optional<Section>
    createSection(const QString &notebookId, const QString &parentGroupId, const QString &name);
    // bodyHtml is taken in as a page-creating request's body would be (data-URL images
    // become resources).
    [[nodiscard]] std::optional<Page> createPage(const QString &sectionId, const QString &title,
                                                 const QString &bodyHtml = QString());
    // Applies a PATCH command array (JSON, or the single-quoted form) to a page.
    [[nodiscard]] bool patchPage(const QString &pageId, const QByteArray &commands,
                                 QString *error = nullptr);
    [[nodiscard]] std::optional<Page> page(const QString &pageId);
    // The page as GET .../pages/{id}/content writes it (for its account's user).
    [[nodiscard]] QString pageHtml(const QString &pageId, bool includeIds = true);
    [[nodiscard]] std::vector<Resource> pageResources(const QString &pageId);
    [[nodiscard]] QString pageClientUrl(const QString &pageId);   // links.oneNoteClientUrl.href
    [[nodiscard]] QString pageDesktopLink(const QString &pageId); // "Copy Link to Page"
    [[nodiscard]] QString pageWebUrl(const QString &pageId);      // links.oneNoteWebUrl.href
    [[nodiscard]] Store &store();

    // Identity, without the sign-in form.
    [[nodiscard]] QString
    mintAuthorizationCode(const QString &cid, const QString &redirectUri = QString(),
                          const QString &scope = QLatin1String(kDefaultScope));
    [[nodiscard]] std::optional<TokenPair>
    mintTokens(const QString &cid, const QString &scope = QLatin1String(kDefaultScope));
    void setAccessTokenLifetime(qint64 seconds); // for tokens issued from now on
    void setCodeLifetime(qint64 seconds);
    void expireAccessTokens(const QString &cid = QString()); // empty: every account

    // The desktop notebook's selected page.
    [[nodiscard]] bool selectPage(const QString &pageId);
    [[nodiscard]] QString selectedPageId();
    [[nodiscard]] QString selectionLink(); // empty when nothing is selected

    // For tests.
    [[nodiscard]] std::vector<LoggedRequest> requestLog() const;
    void clearRequestLog();
    void setRevealSecretsInLog(bool reveal);
    void setFault(const QString &route, const Fault &fault);
    void clearFaults(const QString &route = QString());

    // The demo account with its notebooks; the same account again when it exists.
    [[nodiscard]] std::optional<DemoAccount> seedDemo();

private:
    std::unique_ptr<ServiceContext> m_Context;
};

} // namespace Cogitra::Service
