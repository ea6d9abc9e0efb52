#include "service/NotebookService.h"

#include "service/DemoSeed.h"
#include "service/GraphReplies.h"
#include "service/Ids.h"
#include "service/Links.h"
#include "service/LooseJson.h"
#include "service/PageContent.h"
#include "service/ServiceContext.h"

#include <QDateTime>
#include <QJsonArray>
#include <QUrl>

#include <csignal>

#ifndef COGITRA_CLIENT_ID_DEFAULT
#define COGITRA_CLIENT_ID_DEFAULT "00000000-0000-0000-0000-000000000000"
#endif

namespace Cogitra::Service {
namespace {

thread_local QString t_Route;

// The request's headers in the order they came, from its recorded head; the parsed ones
// (sorted by name) when the head was not recorded.
QList<QPair<QByteArray, QByteArray>> HeadersAsSent(const httplib::Request &req)
{
    QList<QPair<QByteArray, QByteArray>> headers;
    const QByteArray head = QByteArray::fromStdString(RecordingServer::currentHead());
    const QList<QByteArray> lines = head.split('\n');
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines[i].trimmed();
        const qsizetype colon = line.indexOf(':');
        if (colon > 0)
            headers.append({line.left(colon), line.mid(colon + 1).trimmed()});
    }
    if (headers.isEmpty()) {
        for (const auto &[key, value] : req.headers)
            headers.append({QByteArray::fromStdString(key), QByteArray::fromStdString(value)});
    }
    return headers;
}

QString GraphDate()
{
    return QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss"));
}

Json InnerError(const QString &requestId)
{
    return Json::object()
        .add(QStringLiteral("date"), GraphDate())
        .add(QStringLiteral("request-id"), requestId)
        .add(QStringLiteral("client-request-id"), requestId);
}

} // namespace

void WriteIdentityError(httplib::Response &res, int status, const QString &error,
                        const QString &description, int code)
{
    const QString trace = NewRequestId();
    const QString correlation = NewRequestId();
    const QString stamp
        = QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss'Z'"));
    Json body = Json::object();
    body.add(QStringLiteral("error"), error)
        .add(QStringLiteral("error_description"), description + QStringLiteral(" Trace ID: ")
                                                      + trace + QStringLiteral(" Correlation ID: ")
                                                      + correlation + QStringLiteral(" Timestamp: ")
                                                      + stamp)
        .add(QStringLiteral("error_codes"), Json::array().push(Json::number(code)))
        .add(QStringLiteral("timestamp"), stamp)
        .add(QStringLiteral("trace_id"), trace)
        .add(QStringLiteral("correlation_id"), correlation)
        .add(QStringLiteral("error_uri"),
             QStringLiteral("https://login.microsoftonline.com/error?code=")
                 + QString::number(code));
    res.status = status;
    res.set_header("Cache-Control", "no-store, no-cache");
    res.set_header("Pragma", "no-cache");
    const QByteArray json = body.toCompact();
    res.set_content(json.constData(), static_cast<size_t>(json.size()),
                    "application/json; charset=utf-8");
}

void WriteTooLarge(const httplib::Request &req, httplib::Response &res)
{
    if (req.path.rfind("/v1.0/", 0) == 0) {
        WriteGraphError(res, 413, QStringLiteral("20007"),
                        QStringLiteral("The request is larger than the maximum size allowed."));
    } else {
        res.status = 413;
        res.set_content("413\n", "text/plain; charset=utf-8");
    }
}

void WriteGraphJson(httplib::Response &res, int status, const QByteArray &json)
{
    res.status = status;
    const std::string requestId = NewRequestId().toStdString();
    res.set_header("request-id", requestId);
    res.set_header("client-request-id", requestId);
    res.set_content(json.constData(), static_cast<size_t>(json.size()),
                    "application/json;odata.metadata=minimal;odata.streaming=true;"
                    "IEEE754Compatible=false;charset=utf-8");
}

void WriteGraphError(httplib::Response &res, int status, const QString &code,
                     const QString &message)
{
    const QString requestId = NewRequestId();
    Json error = Json::object()
                     .add(QStringLiteral("code"), code)
                     .add(QStringLiteral("message"), message)
                     .add(QStringLiteral("innerError"), InnerError(requestId));
    const QByteArray json
        = Json::object().add(QStringLiteral("error"), std::move(error)).toCompact();
    res.status = status;
    res.set_header("request-id", requestId.toStdString());
    res.set_header("client-request-id", requestId.toStdString());
    if (status == 401)
        res.set_header(
            "WWW-Authenticate",
            "Bearer realm=\"\", authorization_uri=\"https://login.microsoftonline.com/"
            "common/oauth2/authorize\", client_id=\"00000003-0000-0000-c000-000000000000\"");
    res.set_content(json.constData(), static_cast<size_t>(json.size()), "application/json");
}

void WriteStatusFault(httplib::Response &res, RouteFamily family, int status)
{
    if (family == RouteFamily::Identity) {
        if (status == 400)
            WriteIdentityError(
                res, 400, QStringLiteral("invalid_grant"),
                QStringLiteral("AADSTS70000: The provided value for the input "
                               "parameter 'refresh_token' or 'assertion' is not valid."),
                70000);
        else if (status == 503 || status == 504)
            WriteIdentityError(
                res, status, QStringLiteral("temporarily_unavailable"),
                QStringLiteral("AADSTS90033: A transient error has occurred. Please try again."),
                90033);
        else
            WriteIdentityError(res, status, QStringLiteral("server_error"),
                               QStringLiteral("AADSTS90100: An unexpected error occurred."), 90100);
        return;
    }
    switch (status) {
    case 400:
        WriteGraphError(
            res, 400, QStringLiteral("BadRequest"),
            QStringLiteral("Unable to read JSON request payload. Please ensure Content-Type "
                           "header is set and payload is of valid JSON format."));
        break;
    case 401:
        WriteGraphError(res, 401, QStringLiteral("InvalidAuthenticationToken"),
                        QStringLiteral("Access token has expired or is not yet valid."));
        break;
    case 403:
        WriteGraphError(
            res, 403, QStringLiteral("40004"),
            QStringLiteral("The user does not have permission to access the requested resource."));
        break;
    case 404:
        WriteGraphError(res, 404, QStringLiteral("20102"),
                        QStringLiteral("The specified resource ID does not exist."));
        break;
    case 429:
        WriteGraphError(
            res, 429, QStringLiteral("20166"),
            QStringLiteral("The application has issued too many requests on behalf of a "
                           "user in a short period of time."));
        break;
    case 500:
        WriteGraphError(res, 500, QStringLiteral("10001"),
                        QStringLiteral("An unexpected error occurred and the request failed."));
        break;
    case 503:
        WriteGraphError(
            res, 503, QStringLiteral("10002"),
            QStringLiteral("The service is currently unavailable. Please try again later."));
        break;
    case 507:
        WriteGraphError(
            res, 507, QStringLiteral("30102"),
            QStringLiteral("Exceeded the maximum number of pages allowed per section."));
        break;
    default:
        WriteGraphError(res, status, QStringLiteral("UnknownError"), QString());
    }
}

std::map<QString, QString> ParseForm(const QByteArray &text)
{
    std::map<QString, QString> fields;
    for (const QByteArray &field : text.split('&')) {
        if (field.isEmpty())
            continue;
        const qsizetype eq = field.indexOf('=');
        QByteArray key = eq < 0 ? field : field.left(eq);
        QByteArray value = eq < 0 ? QByteArray() : field.mid(eq + 1);
        key.replace('+', ' ');
        value.replace('+', ' ');
        const QString name = QString::fromUtf8(QByteArray::fromPercentEncoding(key));
        if (!fields.contains(name))
            fields[name] = QString::fromUtf8(QByteArray::fromPercentEncoding(value));
    }
    return fields;
}

QByteArray QueryOf(const std::string &target)
{
    const size_t question = target.find('?');
    return question == std::string::npos ? QByteArray()
                                         : QByteArray::fromStdString(target.substr(question + 1));
}

ServiceContext::ServiceContext(ServiceOptions serviceOptions)
    : options(std::move(serviceOptions))
{
    if (options.clientId.isEmpty())
        options.clientId = QStringLiteral(COGITRA_CLIENT_ID_DEFAULT);
    accessTokenLifetime = options.accessTokenLifetimeSeconds;
    codeLifetime = options.codeLifetimeSeconds;
}

QString ServiceContext::root() const
{
    return QStringLiteral("http://127.0.0.1:") + QString::number(port.load());
}

bool ServiceContext::knownRedirectUri(const QString &uri) const
{
    return uri == root() + QStringLiteral("/oauth20_desktop.srf")
           || uri == QStringLiteral("https://login.live.com/oauth20_desktop.srf")
           || options.redirectUris.contains(uri);
}

void ServiceContext::record(const httplib::Request &req, int status, const QString &route)
{
    LoggedRequest entry;
    entry.method = QString::fromStdString(req.method);
    entry.target = QByteArray::fromStdString(req.target);
    entry.headers = HeadersAsSent(req);
    entry.body = QByteArray::fromStdString(req.body);
    entry.route = route;
    entry.status = status;
    entry.received = QDateTime::currentDateTimeUtc();
    log.add(std::move(entry));
}

void ServiceContext::serve(const QString &route, RouteFamily family, const httplib::Request &req,
                           httplib::Response &res, const RouteHandler &handler)
{
    // Recorded before the reply leaves, so a test that has its reply finds it in the log.
    struct Recorder
    {
        ServiceContext &context;
        const httplib::Request &request;
        const httplib::Response &response;
        const QString &route;
        bool recorded = false;
        void now(int status)
        {
            if (!recorded)
                context.record(request, status, route);
            recorded = true;
        }
        ~Recorder() { now(response.status); }
    } recorder{*this, req, res, route};
    t_Route = route;
    // A chunked body is not bounded before it is read; the stream stops it not far past the
    // limit, and this holds it to the limit itself.
    if (req.body.size() > options.maxRequestBytes)
        return WriteTooLarge(req, res);
    RequestScope scope;
    // The route that sets and clears faults is never subject to one ("*" included): a
    // test must always be able to clear what it set.
    const std::optional<Fault> fault
        = route == QLatin1String(kTestFaultsRoute) ? std::nullopt : faults.take(route);
    if (fault) {
        switch (fault->kind) {
        case FaultKind::Delay: {
            std::unique_lock lock(stopMutex);
            stopSignal.wait_for(lock,
                                std::chrono::milliseconds(std::clamp(fault->delayMs, 0, 600000)),
                                [this] { return stopping; });
            break;
        }
        case FaultKind::Status:
            WriteStatusFault(res, family, fault->status);
            return;
        case FaultKind::Throttle: {
            if (family == RouteFamily::Identity) {
                WriteIdentityError(res, 429, QStringLiteral("temporarily_unavailable"),
                                   QStringLiteral("AADSTS50196: The server terminated an operation "
                                                  "because it encountered a client request loop."),
                                   50196);
            } else {
                const QString requestId = NewRequestId();
                Json inner = Json::object()
                                 .add(QStringLiteral("code"), "429")
                                 .add(QStringLiteral("date"), GraphDate())
                                 .add(QStringLiteral("message"), "Please retry after")
                                 .add(QStringLiteral("request-id"), requestId)
                                 .add(QStringLiteral("status"), "429");
                Json error = Json::object()
                                 .add(QStringLiteral("code"), "TooManyRequests")
                                 .add(QStringLiteral("innerError"), std::move(inner))
                                 .add(QStringLiteral("message"), "Please retry again later.");
                const QByteArray json
                    = Json::object().add(QStringLiteral("error"), std::move(error)).toCompact();
                res.status = 429;
                res.set_content(json.constData(), static_cast<size_t>(json.size()),
                                "application/json");
            }
            res.set_header("Retry-After", std::to_string(std::max(0, fault->retryAfterSeconds)));
            return;
        }
        case FaultKind::ExpiredToken:
            scope.tokenExpired = true;
            break;
        case FaultKind::Drop:
            // Lost before the service acted on it: nothing changes, nothing comes back.
            recorder.now(0);
            RecordingServer::dropCurrentConnection();
            return;
        default:
            break;
        }
    }
    handler(req, res, scope);
    if (!fault)
        return;
    switch (fault->kind) {
    case FaultKind::Truncate: {
        const std::string body = res.body;
        const std::string type = res.get_header_value("Content-Type");
        res.body.clear();
        res.set_content_provider(body.size(), type,
                                 [body](size_t offset, size_t, httplib::DataSink &sink) {
                                     if (offset == 0 && body.size() > 1)
                                         sink.write(body.data(), body.size() / 2);
                                     return false;
                                 });
        break;
    }
    case FaultKind::Malformed:
        res.body.resize(res.body.size() / 2);
        if (res.body.empty())
            res.body.assign(1, '{');
        break;
    default:
        break;
    }
}

QString ServiceContext::issueCode(const QString &cid, const QString &redirectUri,
                                  const QString &scope)
{
    const QString code = NewAuthorizationCode();
    GrantRecord grant{
        cid, options.clientId, redirectUri, scope, NowMs() + codeLifetime.load() * 1000, false};
    if (!store.storeGrant(SecretDigest(code), grant))
        return QString();
    return code;
}

TokenPair ServiceContext::issueTokens(const QString &cid, const QString &clientId,
                                      const QString &scope)
{
    TokenPair pair;
    const qint64 lifetime = accessTokenLifetime.load();
    pair.accessToken = NewAccessToken();
    pair.expiresIn = lifetime;
    if (!store.storeToken(SecretDigest(pair.accessToken),
                          TokenRecord{QStringLiteral("access"), cid, clientId, scope,
                                      NowMs() + lifetime * 1000, false}))
        return TokenPair{};
    // Only a grant that asked for offline access gets a refresh token.
    if (scope.split(u' ', Qt::SkipEmptyParts)
            .contains(QStringLiteral("offline_access"), Qt::CaseInsensitive)) {
        pair.refreshToken = NewRefreshToken();
        if (!store.storeToken(SecretDigest(pair.refreshToken),
                              TokenRecord{QStringLiteral("refresh"), cid, clientId, scope,
                                          NowMs() + options.refreshTokenLifetimeSeconds * 1000,
                                          false}))
            return TokenPair{};
    }
    return pair;
}

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
    // A client that hangs up must not end the process that hosts the service.
    std::signal(SIGPIPE, SIG_IGN);
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
    const int threads = std::max(2, c.options.threads);
    c.server.new_task_queue = [threads] {
        return new httplib::ThreadPool(static_cast<size_t>(threads));
    };
    c.server.set_payload_max_length(c.options.maxRequestBytes);
    c.server.setBodyLimit(c.options.maxRequestBytes);
    c.server.set_keep_alive_timeout(1);
    c.server.set_read_timeout(30);
    c.server.set_pre_routing_handler([](const httplib::Request &, httplib::Response &) {
        t_Route.clear();
        return httplib::Server::HandlerResponse::Unhandled;
    });
    // Requests that no route served (unknown paths, bodies over the limit) are recorded here.
    c.server.set_logger([&c](const httplib::Request &req, const httplib::Response &res) {
        if (t_Route.isEmpty())
            c.record(req, res.status, QString());
        t_Route.clear();
    });
    c.server.set_error_handler(httplib::Server::HandlerWithResponse(
        [](const httplib::Request &req, httplib::Response &res) {
            // Routes write their own bodies; only requests that none served get one here.
            if (!t_Route.isEmpty() || !res.body.empty() || res.status == 204 || res.status == 302)
                return httplib::Server::HandlerResponse::Unhandled;
            if (RecordingServer::currentRequestOverLimit())
                res.status = 413;
            if (res.status == 413) {
                WriteTooLarge(req, res);
            } else {
                res.set_content(std::to_string(res.status) + "\n", "text/plain; charset=utf-8");
            }
            return httplib::Server::HandlerResponse::Handled;
        }));
    RegisterIdentityRoutes(c);
    RegisterGraphRoutes(c);
    RegisterDesktopRoutes(c);
    RegisterSiteRoutes(c);

    const int bound
        = c.options.port == 0
              ? c.server.bind_to_any_port("127.0.0.1")
              : (c.server.bind_to_port("127.0.0.1", c.options.port) ? c.options.port : -1);
    if (bound <= 0) {
        if (error)
            *error = QStringLiteral("cannot listen on 127.0.0.1:%1").arg(c.options.port);
        return false;
    }
    c.port = bound;
    {
        std::scoped_lock lock(c.stopMutex);
        c.stopping = false;
    }
    c.thread = std::thread([&c] { c.server.listen_after_bind(); });
    for (int i = 0; i < 2000 && !c.server.is_running(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return c.server.is_running();
}

void NotebookService::stop()
{
    ServiceContext &c = *m_Context;
    {
        std::scoped_lock lock(c.stopMutex);
        c.stopping = true;
    }
    c.stopSignal.notify_all();
    if (c.thread.joinable()) {
        c.server.stop();
        c.thread.join();
    }
    c.store.close();
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
    ContentImport import;
    import.addResource = [&](const QString &type, const QByteArray &bytes) {
        return store.addResource(created->id, type, bytes);
};
ContentError error;
Page filled = *created;
if (!FillNewPage(filled,
                 QStringLiteral("<html><head><title>") + title.toHtmlEscaped()
                     + QStringLiteral("</title></head><body>") + bodyHtml
                     + QStringLiteral("</body></html>"),
                 import, &error)
    || !store.updatePage(filled))
    return created;
return filled;
} // namespace Cogitra::Service

bool NotebookService::patchPage(const QString &pageId, const QByteArray &commands, QString *error)
{
    Store &store = m_Context->store;
    std::scoped_lock update(m_Context->pageUpdateMutex);
    std::optional<Page> target = store.page(pageId);
    const std::optional<QJsonValue> parsed = ParseLooseJson(commands);
    if (!target || !parsed || !parsed->isArray()) {
        if (error)
            *error
                = !target ? QStringLiteral("no such page") : QStringLiteral("not a command array");
        return false;
    }
    ContentImport import;
    import.addResource = [&](const QString &type, const QByteArray &bytes) {
        return store.addResource(pageId, type, bytes);
};
ContentError failure;
const QStringList kept = ReferencedResources(target->body);
if (!ApplyCommands(*target, parsed->toArray(), import, &failure)) {
    if (error)
        *error = failure.code + QStringLiteral(": ") + failure.message;
    store.removeResourcesExcept(pageId, kept); // images of the refused commands
    return false;
}
target->modified = NowMs();
if (!store.updatePage(*target)) {
    store.removeResourcesExcept(pageId, kept);
    return false;
}
store.removeResourcesExcept(pageId, ReferencedResources(target->body));
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
