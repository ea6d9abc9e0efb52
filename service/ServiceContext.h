#pragma once

#include "service/Faults.h"
#include "service/JsonWriter.h"
#include "service/NotebookService.h"
#include "service/PageContent.h"
#include "service/RecordingServer.h"
#include "service/RequestLog.h"
#include "service/Store.h"

#include <httplib.h>

#include <QJsonArray>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

// What the route files share: the options, the store, faults, the log, and the common way
// every route is served. Not part of the service's face.
namespace Cogitra::Service {

enum class RouteFamily { Identity, Graph, Page };

inline constexpr char kTestFaultsRoute[] = "testFaults";

struct RequestScope
{
    bool tokenExpired = false; // an ExpiredToken fault is on
    PageShape pageShape;       // switches on the page HTML's images
};

using RouteHandler
    = std::function<void(const httplib::Request &, httplib::Response &, RequestScope &)>;

class ServiceContext
{
public:
    explicit ServiceContext(ServiceOptions serviceOptions);

    ServiceOptions options;
    Store store;
    FaultTable faults;
    RequestLog log;
    RecordingServer server;
    std::thread thread;
    std::atomic<int> port{0};
    std::atomic<qint64> accessTokenLifetime{3600};
    std::atomic<qint64> codeLifetime{600};

    std::mutex stopMutex;
    std::condition_variable stopSignal;
    bool stopping = false;
    // Waits up to ms; true when the service is stopping.
    bool waitUnlessStopping(int ms);

    // Page updates read, change and write a whole page; one at a time, so that none is lost.
    std::mutex pageUpdateMutex;

    std::mutex sessionMutex;
    std::map<QString, QString> sessions; // sign-in cookie -> account CID

    // Sets the server up with every route and serves on a thread of its own; the store
    // and the log are open.
    [[nodiscard]] bool listen(QString *error);
    void shutdown();

    [[nodiscard]] QString root() const;
    [[nodiscard]] bool knownRedirectUri(const QString &uri) const;

    void record(const httplib::Request &req, int status, const QString &route);
    // Runs a route with its faults applied; the request log records it.
    void serve(const QString &route, RouteFamily family, const httplib::Request &req,
               httplib::Response &res, const RouteHandler &handler);

    // Minting, shared by the token endpoint, the sign-in form and the test API.
    [[nodiscard]] QString issueCode(const QString &cid, const QString &redirectUri,
                                    const QString &scope);
    [[nodiscard]] TokenPair issueTokens(const QString &cid, const QString &clientId,
                                        const QString &scope);

    // Images that a page's new content brings are stored with the page.
    [[nodiscard]] ContentImport contentImport(const QString &pageId);
    // Applies PATCH commands to a stored page, all of them or none; images of refused
    // commands do not stay behind. error tells why, as Graph would.
    [[nodiscard]] bool patchPage(const QString &pageId, const QJsonArray &commands,
                                 ContentError *error);
};

// 413 for a request body over the limit: Graph's error object on Graph paths.
void WriteTooLarge(const httplib::Request &req, httplib::Response &res);
// The identity platform's flat error object ("error", "error_description", ...), the
// error it gives for a bare status code, and its throttling (IdentityRoutes.cpp).
void WriteIdentityError(httplib::Response &res, int status, const QString &error,
                        const QString &description, int code);
void WriteIdentityStatus(httplib::Response &res, int status);
void WriteIdentityThrottle(httplib::Response &res);
// The real body for a status code, as a Status fault gives it.
void WriteStatusFault(httplib::Response &res, RouteFamily family, int status);

// Route tables, one per area.
void RegisterIdentityRoutes(ServiceContext &context);
void RegisterGraphRoutes(ServiceContext &context);
void RegisterDesktopRoutes(ServiceContext &context);
void RegisterSiteRoutes(ServiceContext &context);

// Form fields of an application/x-www-form-urlencoded body or a query ("+" is a blank).
[[nodiscard]] std::map<QString, QString> ParseForm(const QByteArray &text);
[[nodiscard]] QByteArray QueryOf(const std::string &target);

} // namespace Cogitra::Service
