#include "service/ServiceContext.h"

#include "service/GraphReplies.h"
#include "service/Ids.h"

#include <QDateTime>

#include <csignal>

#ifndef COGITRA_CLIENT_ID_DEFAULT
#define COGITRA_CLIENT_ID_DEFAULT "00000000-0000-0000-0000-000000000000"
#endif

namespace Cogitra::Service {
namespace {

// The route serving the current request; empty until a route takes it.
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

} // namespace

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

void WriteStatusFault(httplib::Response &res, RouteFamily family, int status)
{
    if (family == RouteFamily::Identity)
        WriteIdentityStatus(res, status);
    else
        WriteGraphStatus(res, status);
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

bool ServiceContext::listen(QString *error)
{
    // A client that hangs up must not end the process that hosts the service.
    std::signal(SIGPIPE, SIG_IGN);
    const int threads = std::max(2, options.threads);
    server.new_task_queue = [threads] {
        return new httplib::ThreadPool(static_cast<size_t>(threads));
    };
    server.set_payload_max_length(options.maxRequestBytes);
    server.setBodyLimit(options.maxRequestBytes);
    server.set_keep_alive_timeout(1);
    server.set_read_timeout(30);
    server.set_pre_routing_handler([](const httplib::Request &, httplib::Response &) {
        t_Route.clear();
        return httplib::Server::HandlerResponse::Unhandled;
    });
    // Requests that no route served (unknown paths, bodies over the limit) are recorded here.
    server.set_logger([this](const httplib::Request &req, const httplib::Response &res) {
        if (t_Route.isEmpty())
            record(req, res.status, QString());
        t_Route.clear();
    });
    server.set_error_handler(httplib::Server::HandlerWithResponse(
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
    RegisterIdentityRoutes(*this);
    RegisterGraphRoutes(*this);
    RegisterDesktopRoutes(*this);
    RegisterSiteRoutes(*this);

    const int bound = options.port == 0
                          ? server.bind_to_any_port("127.0.0.1")
                          : (server.bind_to_port("127.0.0.1", options.port) ? options.port : -1);
    if (bound <= 0) {
        if (error)
            *error = QStringLiteral("cannot listen on 127.0.0.1:%1").arg(options.port);
        return false;
    }
    port = bound;
    {
        std::scoped_lock lock(stopMutex);
        stopping = false;
    }
    thread = std::thread([this] { server.listen_after_bind(); });
    for (int i = 0; i < 2000 && !server.is_running(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return server.is_running();
}

void ServiceContext::shutdown()
{
    {
        std::scoped_lock lock(stopMutex);
        stopping = true;
    }
    stopSignal.notify_all();
    if (thread.joinable()) {
        server.stop();
        thread.join();
    }
    store.close();
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
        case FaultKind::Throttle:
            if (family == RouteFamily::Identity)
                WriteIdentityThrottle(res);
            else
                WriteGraphThrottle(res);
            res.set_header("Retry-After", std::to_string(std::max(0, fault->retryAfterSeconds)));
            return;
        case FaultKind::ExpiredToken:
            scope.tokenExpired = true;
            break;
        case FaultKind::ImageDataIds:
            scope.pageShape.imageDataIds = true;
            break;
        case FaultKind::OptimizedImages:
            scope.pageShape.optimizedImages = true;
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
    case FaultKind::EscapedSlashes:
        if (res.get_header_value("Content-Type").find("json") != std::string::npos) {
            QByteArray body = QByteArray::fromStdString(res.body);
            body.replace("/", "\\/");
            res.body = body.toStdString();
        }
        break;
    case FaultKind::Slow: {
        const std::string body = res.body;
        const std::string type = res.get_header_value("Content-Type");
        const int rate = fault->bytesPerSecond;
        const int stallMs = fault->delayMs;
        res.body.clear();
        // Tenths of a second, so that a moving transfer moves every moment.
        res.set_content_provider(
            body.size(), type,
            [this, body, rate, stallMs](size_t offset, size_t, httplib::DataSink &sink) {
                if (rate == 0) {
                    if (offset == 0 && body.size() > 1)
                        sink.write(body.data(), body.size() / 2);
                    waitUnlessStopping(stallMs);
                    return false;
                }
                const size_t step = std::max<size_t>(1, static_cast<size_t>(rate) / 10);
                const size_t length = std::min(step, body.size() - offset);
                if (!sink.write(body.data() + offset, length))
                    return false;
                return !waitUnlessStopping(100);
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

bool ServiceContext::waitUnlessStopping(int ms)
{
    std::unique_lock lock(stopMutex);
    return stopSignal.wait_for(lock, std::chrono::milliseconds(std::clamp(ms, 0, 600000)),
                               [this] { return stopping; });
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

ContentImport ServiceContext::contentImport(const QString &pageId)
{
    ContentImport incoming;
    incoming.addResource = [this, pageId](const QString &type, const QByteArray &bytes) {
        return store.addResource(pageId, type, bytes);
    };
    return incoming;
}

bool ServiceContext::patchPage(const QString &pageId, const QJsonArray &commands,
                               ContentError *error)
{
    // Read, change and write the whole page under one lock, so that no update is lost.
    std::scoped_lock update(pageUpdateMutex);
    std::optional<Page> page = store.page(pageId);
    if (!page) {
        *error = ContentError{404, QStringLiteral("20102"),
                              QStringLiteral("The specified resource ID does not exist.")};
        return false;
    }
    const QStringList kept = ReferencedResources(page->body);
    if (!ApplyCommands(*page, commands, contentImport(pageId), error)) {
        store.removeResourcesExcept(pageId, kept); // images of the refused commands
        return false;
    }
    page->modified = NowMs();
    if (!store.updatePage(*page)) {
        store.removeResourcesExcept(pageId, kept);
        *error
            = ContentError{500, QStringLiteral("10001"),
                           QStringLiteral("An unexpected error occurred and the request failed.")};
        return false;
    }
    store.removeResourcesExcept(pageId, ReferencedResources(page->body));
    return true;
}

} // namespace Cogitra::Service
