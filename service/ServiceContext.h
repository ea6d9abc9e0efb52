#pragma once

#include "service/Faults.h"
#include "service/JsonWriter.h"
#include "service/NotebookService.h"
#include "service/RecordingServer.h"
#include "service/RequestLog.h"
#include "service/Store.h"

#include <httplib.h>

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

    // Page updates read, change and write a whole page; one at a time, so that none is lost.
    std::mutex pageUpdateMutex;

    std::mutex sessionMutex;
    std::map<QString, QString> sessions; // sign-in cookie -> account CID

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
};

// Graph's error object with its innerError, and the headers the service sends with it.
void WriteGraphError(httplib::Response &res, int status, const QString &code,
                     const QString &message);
void WriteGraphJson(httplib::Response &res, int status, const QByteArray &json);
// 413 for a request body over the limit: Graph's error object on Graph paths.
void WriteTooLarge(const httplib::Request &req, httplib::Response &res);
// The identity platform's flat error object ("error", "error_description", ...).
void WriteIdentityError(httplib::Response &res, int status, const QString &error,
                        const QString &description, int code);
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
