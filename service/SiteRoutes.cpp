#include "service/LooseJson.h"
#include "service/ServiceContext.h"

#include <QJsonObject>

// The maker's web site: the editor hosts list and a home page; and the test routes.
namespace Cogitra::Service {
namespace {

void ApplyFaultRequest(ServiceContext &c, const QByteArray &body, httplib::Response &res)
{
    const std::optional<QJsonValue> parsed = ParseLooseJson(body);
    const QJsonObject request = parsed && parsed->isObject() ? parsed->toObject() : QJsonObject();
    const QString route = request.value(QStringLiteral("route")).toString();
    const QString kindName = request.value(QStringLiteral("kind")).toString();
    if (route.isEmpty() || kindName.isEmpty()) {
        res.status = 400;
        res.set_content("route and kind are required\n", "text/plain; charset=utf-8");
        return;
    }
    if (kindName == QStringLiteral("clear")) {
        c.faults.clear(route == QStringLiteral("*") ? QString() : route);
        res.status = 204;
        return;
    }
    const std::optional<FaultKind> kind = FaultKindFromName(kindName);
    if (!kind) {
        res.status = 400;
        res.set_content("unknown fault kind\n", "text/plain; charset=utf-8");
        return;
    }
    Fault fault;
    fault.kind = *kind;
    fault.status = request.value(QStringLiteral("status")).toInt(fault.status);
    fault.delayMs = request.value(QStringLiteral("delayMs")).toInt(fault.delayMs);
    fault.retryAfterSeconds
        = request.value(QStringLiteral("retryAfter")).toInt(fault.retryAfterSeconds);
    fault.bytesPerSecond
        = request.value(QStringLiteral("bytesPerSecond")).toInt(fault.bytesPerSecond);
    fault.times = request.value(QStringLiteral("times")).toInt(fault.times);
    fault.skip = request.value(QStringLiteral("skip")).toInt(fault.skip);
    if (fault.status < 100 || fault.status > 599 || fault.times == 0 || fault.skip < 0
        || fault.bytesPerSecond < 0) {
        res.status = 400;
        res.set_content("status must be 100..599, times not 0 and skip not negative\n",
                        "text/plain; charset=utf-8");
        return;
    }
    c.faults.set(route, fault);
    res.status = 204;
}

} // namespace

void RegisterSiteRoutes(ServiceContext &context)
{
    ServiceContext *c = &context;
    c->server.Get("/uploads/soft/cogitra/hosts.txt",
                  [c](const httplib::Request &req, httplib::Response &res) {
                      c->serve(QStringLiteral("hosts"), RouteFamily::Page, req, res,
                               [c](const auto &, auto &rs, RequestScope &) {
                                   // One host a line, each line ended by a line feed.
                                   QString text;
                                   for (const QString &host : c->options.hosts)
                                       text += host + u'\n';
                                   rs.set_content(text.toStdString(), "text/plain; charset=utf-8");
                               });
                  });
    c->server.Get("/", [c](const httplib::Request &req, httplib::Response &res) {
        c->serve(QStringLiteral("home"), RouteFamily::Page, req, res,
                 [](const auto &, auto &rs, RequestScope &) {
                     rs.set_content(R"HTML(<!DOCTYPE html>
<html lang="en"><head><meta charset="utf-8"><title>Cogitra - mind maps in your notebooks</title>
<style>body{font-family:"Segoe UI","DejaVu Sans",sans-serif;max-width:720px;margin:40px auto;color:#222;line-height:1.5}
h1{color:#7719aa}a{color:#0067b8}</style></head>
<body><h1>Cogitra</h1>
<p>Cogitra keeps your mind maps inside your notebook pages. Select a page, open its map, edit it,
and save it back: readers of the page see the picture, and Cogitra keeps the map itself beside it.</p>
<ul><li><a href="/desktop/">Desktop notebook</a></li>
<li><a href="/uploads/soft/cogitra/hosts.txt">Editor hosts</a></li>
<li><a href="mailto:support@ardentis.app">support@ardentis.app</a></li></ul>
</body></html>
)HTML",
                                    "text/html; charset=utf-8");
                 });
    });
    if (!c->options.testRoutes)
        return;
    // POST /_test/faults {"route":"token","kind":"status","status":503,"times":1}
    // {"route":"*","kind":"clear"} clears one route ("*": all).
    c->server.Post("/_test/faults", [c](const httplib::Request &req, httplib::Response &res) {
        c->serve(QLatin1String(kTestFaultsRoute), RouteFamily::Page, req, res,
                 [c](const httplib::Request &rq, httplib::Response &rs, RequestScope &) {
                     ApplyFaultRequest(*c, QByteArray::fromStdString(rq.body), rs);
                 });
    });
}

} // namespace Cogitra::Service
