#include "service/DesktopPage.h"
#include "service/GraphReplies.h"
#include "service/LooseJson.h"
#include "service/PageContent.h"
#include "service/ServiceContext.h"

#include <QJsonObject>

// The desktop notebook: the page a person browses and selects pages in, its small JSON
// API, and /desktop/selection, which answers with the selected page's "Copy Link to Page".
namespace Cogitra::Service {
namespace {

constexpr qint64 kDesktopPageLimit = 1000;
const QString kSelectedPage = QStringLiteral("selectedPage");

void WriteJsonReply(httplib::Response &res, const Json &json, int status = 200)
{
    const QByteArray bytes = json.toCompact();
    res.status = status;
    res.set_header("Cache-Control", "no-store");
    res.set_content(bytes.constData(), static_cast<size_t>(bytes.size()),
                    "application/json; charset=utf-8");
}

Json SectionsJson(Store &store, const QString &notebookId, const QString &groupId, int depth)
{
    Json sections = Json::array();
    for (const Section &section : store.sections(notebookId, groupId))
        sections.push(Json::object()
                          .add(QStringLiteral("id"), section.id)
                          .add(QStringLiteral("name"), section.name)
                          .add(QStringLiteral("pageCount"), store.pageCount(section.id)));
    Json groups = Json::array();
    if (depth < 16) {
        for (const SectionGroup &group : store.sectionGroups(notebookId, groupId)) {
            Json node = SectionsJson(store, notebookId, group.id, depth + 1);
            node.add(QStringLiteral("id"), group.id).add(QStringLiteral("name"), group.name);
            groups.push(std::move(node));
        }
    }
    return Json::object()
        .add(QStringLiteral("sections"), std::move(sections))
        .add(QStringLiteral("groups"), std::move(groups));
}

Json SelectionJson(ServiceContext &c)
{
    const QString pageId = c.store.stateValue(kSelectedPage);
    const std::optional<PagePlace> place = PlaceOfPage(c.store, pageId);
    if (!place)
        return Json::null();
    const std::optional<Page> page = c.store.page(pageId);
    return Json::object()
        .add(QStringLiteral("pageId"), pageId)
        .add(QStringLiteral("sectionId"), page->sectionId)
        .add(QStringLiteral("title"), place->title)
        .add(QStringLiteral("link"), DesktopCopyLink(*place));
}

void Tree(ServiceContext &c, httplib::Response &res)
{
    Json accounts = Json::array();
    for (const Account &account : c.store.accounts()) {
        Json notebooks = Json::array();
        for (const Notebook &notebook : c.store.notebooks(account.cid)) {
            Json node = SectionsJson(c.store, notebook.id, QString(), 0);
            node.add(QStringLiteral("id"), notebook.id).add(QStringLiteral("name"), notebook.name);
            notebooks.push(std::move(node));
        }
        accounts.push(Json::object()
                          .add(QStringLiteral("upn"), account.upn)
                          .add(QStringLiteral("displayName"), account.displayName)
                          .add(QStringLiteral("notebooks"), std::move(notebooks)));
    }
    WriteJsonReply(res, Json::object()
                            .add(QStringLiteral("accounts"), std::move(accounts))
                            .add(QStringLiteral("selection"), SelectionJson(c)));
}

void Pages(ServiceContext &c, const QString &sectionId, httplib::Response &res)
{
    if (!c.store.section(sectionId)) {
        res.status = 404;
        return;
    }
    Json pages = Json::array();
    for (const Page &page : c.store.pages(sectionId, 0, kDesktopPageLimit))
        pages.push(Json::object()
                       .add(QStringLiteral("id"), page.id)
                       .add(QStringLiteral("title"), page.title)
                       .add(QStringLiteral("modified"), GraphTime(page.modified)));
    WriteJsonReply(res, Json::object().add(QStringLiteral("pages"), std::move(pages)));
}

void View(ServiceContext &c, const QString &pageId, httplib::Response &res)
{
    const std::optional<Page> page = c.store.page(pageId);
    if (!page) {
        res.status = 404;
        return;
    }
    // Page HTML came from clients: it is shown sandboxed, without scripts, images from here.
    QString html = RenderPageHtml(*page, QStringLiteral("/desktop/api/resources/"), false);
    html.replace(QStringLiteral("position:absolute;"), QString());
    res.status = 200;
    res.set_header("Content-Security-Policy",
                   "sandbox; default-src 'none'; img-src 'self' data:; style-src 'unsafe-inline'");
    res.set_header("Cache-Control", "no-store");
    res.set_content(html.toStdString(), "text/html; charset=utf-8");
}

void ResourceBytes(ServiceContext &c, const QString &resourceId, httplib::Response &res)
{
    const std::optional<Resource> resource = c.store.resource(resourceId);
    if (!resource) {
        res.status = 404;
        return;
    }
    res.status = 200;
    res.set_header("X-Content-Type-Options", "nosniff");
    res.set_content(resource->data.constData(), static_cast<size_t>(resource->data.size()),
                    resource->contentType.startsWith(QStringLiteral("image/"))
                        ? resource->contentType.toStdString()
                        : std::string("application/octet-stream"));
}

std::optional<QJsonObject> JsonBody(const httplib::Request &req)
{
    const std::optional<QJsonValue> value = ParseLooseJson(QByteArray::fromStdString(req.body));
    if (!value || !value->isObject())
        return std::nullopt;
    return value->toObject();
}

void NewPage(ServiceContext &c, const QString &sectionId, const httplib::Request &req,
             httplib::Response &res)
{
    const std::optional<QJsonObject> body = JsonBody(req);
    const QString title
        = body ? body->value(QStringLiteral("title")).toString().trimmed() : QString();
    if (!body || !c.store.section(sectionId)) {
        res.status = body ? 404 : 400;
        return;
    }
    std::optional<Page> page = c.store.createPage(sectionId, title);
    if (!page) {
        res.status = 500;
        return;
    }
    const QString text = body->value(QStringLiteral("text")).toString();
    if (!text.isEmpty()) {
        page->body = QStringLiteral("\t\t\t<p id=\"p:{") + page->elementGuid + QStringLiteral("}{")
                     + QString::number(page->nextElement++) + QStringLiteral("}\">")
                     + text.toHtmlEscaped() + QStringLiteral("</p>\r\n");
        (void)c.store.updatePage(*page);
    }
    WriteJsonReply(
        res, Json::object().add(QStringLiteral("id"), page->id).add(QStringLiteral("title"), title),
        201);
}

void Select(ServiceContext &c, const httplib::Request &req, httplib::Response &res)
{
    const std::optional<QJsonObject> body = JsonBody(req);
    const QString pageId = body ? body->value(QStringLiteral("pageId")).toString() : QString();
    if (!body || (!pageId.isEmpty() && !c.store.page(pageId))) {
        res.status = body ? 404 : 400;
        return;
    }
    c.store.setStateValue(kSelectedPage, pageId);
    WriteJsonReply(res, Json::object().add(QStringLiteral("selection"), SelectionJson(c)));
}

void Selection(ServiceContext &c, httplib::Response &res)
{
    const std::optional<PagePlace> place = PlaceOfPage(c.store, c.store.stateValue(kSelectedPage));
    res.set_header("Cache-Control", "no-store");
    if (!place) {
        // Nothing selected: no link, as when the desktop application gives none.
        res.status = 404;
        res.set_content("", "text/plain; charset=utf-8");
        return;
    }
    res.status = 200;
    res.set_content(DesktopCopyLink(*place).toStdString(), "text/plain; charset=utf-8");
}

QString Match(const httplib::Request &req, size_t index)
{
    return index < req.matches.size() ? QString::fromStdString(req.matches[index].str())
                                      : QString();
}

} // namespace

void RegisterDesktopRoutes(ServiceContext &context)
{
    ServiceContext *c = &context;
    using Req = const httplib::Request &;
    using Res = httplib::Response &;
    c->server.Get("/desktop", [](Req, Res res) { res.set_redirect("/desktop/"); });
    c->server.Get("/desktop/", [c](Req req, Res res) {
        c->serve(
            QStringLiteral("desktop"), RouteFamily::Page, req, res,
            [](Req, Res rs, RequestScope &) {
                rs.set_header("Cache-Control", "no-store");
                rs.set_header(
                    "Content-Security-Policy",
                    "default-src 'self'; script-src 'unsafe-inline'; style-src 'unsafe-inline'; "
                    "frame-src 'self'; img-src 'self' data:");
                rs.set_content(DesktopPageHtml(), "text/html; charset=utf-8");
            });
    });
    c->server.Get("/desktop/selection", [c](Req req, Res res) {
        c->serve(QStringLiteral("selection"), RouteFamily::Page, req, res,
                 [c](Req, Res rs, RequestScope &) { Selection(*c, rs); });
    });
    c->server.Get("/desktop/api/tree", [c](Req req, Res res) {
        c->serve(QStringLiteral("desktopApi"), RouteFamily::Page, req, res,
                 [c](Req, Res rs, RequestScope &) { Tree(*c, rs); });
    });
    c->server.Get("/desktop/api/sections/([^/]+)/pages", [c](Req req, Res res) {
        c->serve(QStringLiteral("desktopApi"), RouteFamily::Page, req, res,
                 [c](Req rq, Res rs, RequestScope &) { Pages(*c, Match(rq, 1), rs); });
    });
    c->server.Post("/desktop/api/sections/([^/]+)/pages", [c](Req req, Res res) {
        c->serve(QStringLiteral("desktopApi"), RouteFamily::Page, req, res,
                 [c](Req rq, Res rs, RequestScope &) { NewPage(*c, Match(rq, 1), rq, rs); });
    });
    c->server.Get("/desktop/api/pages/([^/]+)/view", [c](Req req, Res res) {
        c->serve(QStringLiteral("desktopApi"), RouteFamily::Page, req, res,
                 [c](Req rq, Res rs, RequestScope &) { View(*c, Match(rq, 1), rs); });
    });
    c->server.Get("/desktop/api/resources/([^/]+)/\\$value", [c](Req req, Res res) {
        c->serve(QStringLiteral("desktopApi"), RouteFamily::Page, req, res,
                 [c](Req rq, Res rs, RequestScope &) { ResourceBytes(*c, Match(rq, 1), rs); });
    });
    c->server.Post("/desktop/api/selection", [c](Req req, Res res) {
        c->serve(QStringLiteral("desktopApi"), RouteFamily::Page, req, res,
                 [c](Req rq, Res rs, RequestScope &) { Select(*c, rq, rs); });
    });
}

} // namespace Cogitra::Service
