#include "service/GraphReplies.h"
#include "service/Ids.h"
#include "service/LooseJson.h"
#include "service/PageContent.h"
#include "service/ServiceContext.h"

#include <QJsonArray>
#include <QUrlQuery>

// The Graph v1.0 OneNote subset under /v1.0/me/ and /v1.0/users/{id}/.
namespace Cogitra::Service {
namespace {

constexpr qint64 kDefaultTop = 20;
constexpr qint64 kMaxTop = 100;

struct GraphRequest
{
    QString userSelector; // "me", a UPN or an id
    QStringList segments; // after the user part
    QString route;        // the name faults and the log use
};

GraphRequest ParseGraphPath(const std::string &method, const std::string &path)
{
    GraphRequest out;
    QString rest = QString::fromStdString(path).mid(6); // after "/v1.0/"
    if (rest == QStringLiteral("me") || rest.startsWith(QStringLiteral("me/"))) {
        out.userSelector = QStringLiteral("me");
        rest = rest.mid(2);
    } else if (rest.startsWith(QStringLiteral("users('"))) {
        const qsizetype close = rest.indexOf(QStringLiteral("')"));
        if (close < 0)
            return out;
        out.userSelector = rest.mid(7, close - 7);
        rest = rest.mid(close + 2);
    } else if (rest.startsWith(QStringLiteral("users/"))) {
        const qsizetype slash = rest.indexOf(u'/', 6);
        out.userSelector = rest.mid(6, slash < 0 ? -1 : slash - 6);
        rest = slash < 0 ? QString() : rest.mid(slash);
    } else {
        return out;
    }
    out.segments = rest.split(u'/', Qt::SkipEmptyParts);
    const QStringList &s = out.segments;
    const auto is = [&](int i, const char *word) {
        return s.size() > i && s[i] == QLatin1String(word);
    };
    const bool get = method == "GET";
    if (s.isEmpty() && get)
        out.route = QStringLiteral("me");
    else if (!is(0, "onenote"))
        return out;
    else if (s.size() == 2 && is(1, "notebooks") && get)
        out.route = QStringLiteral("notebooks");
    else if (s.size() == 3 && is(1, "notebooks") && get)
        out.route = QStringLiteral("notebook");
    else if (s.size() == 4 && is(1, "notebooks") && is(3, "sections") && get)
        out.route = QStringLiteral("notebookSections");
    else if (s.size() == 4 && is(1, "notebooks") && is(3, "sectionGroups") && get)
        out.route = QStringLiteral("notebookSectionGroups");
    else if (s.size() == 2 && is(1, "sections") && get)
        out.route = QStringLiteral("sections");
    else if (s.size() == 3 && is(1, "sections") && get)
        out.route = QStringLiteral("section");
    else if (s.size() == 4 && is(1, "sections") && is(3, "pages") && get)
        out.route = QStringLiteral("sectionPages");
    else if (s.size() == 3 && is(1, "pages") && get)
        out.route = QStringLiteral("page");
    else if (s.size() == 4 && is(1, "pages") && is(3, "content"))
        out.route = get ? QStringLiteral("pageContent")
                        : (method == "PATCH" ? QStringLiteral("patchContent") : QString());
    else if (s.size() == 4 && is(1, "resources") && (is(3, "$value") || is(3, "content")) && get)
        out.route = QStringLiteral("resource");
    return out;
}

void NotFound(httplib::Response &res)
{
    WriteGraphError(res, 404, QStringLiteral("20102"),
                    QStringLiteral("The specified resource ID does not exist."));
}

void WriteJson(httplib::Response &res, const Json &json, int status = 200)
{
    WriteGraphJson(res, status, json.toCompact());
}

// The account the bearer token stands for; otherwise the 401 has been written.
std::optional<Account> Authenticate(ServiceContext &c, const httplib::Request &req,
                                    httplib::Response &res, const RequestScope &scope)
{
    const QString header = QString::fromStdString(req.get_header_value("Authorization"));
    const QString token = header.startsWith(QStringLiteral("Bearer "), Qt::CaseInsensitive)
                              ? header.mid(7).trimmed()
                              : QString();
    if (token.isEmpty()) {
        WriteGraphError(res, 401, QStringLiteral("InvalidAuthenticationToken"),
                        QStringLiteral("Access token is empty."));
        return std::nullopt;
    }
    const std::optional<TokenRecord> record = c.store.token(SecretDigest(token));
    if (!record || record->kind != QStringLiteral("access")) {
        WriteGraphError(res, 401, QStringLiteral("InvalidAuthenticationToken"),
                        QStringLiteral("CompactToken parsing failed with error code: 80049217"));
        return std::nullopt;
    }
    if (scope.tokenExpired || record->expires <= NowMs()) {
        WriteGraphError(res, 401, QStringLiteral("InvalidAuthenticationToken"),
                        QStringLiteral("Access token has expired or is not yet valid."));
        return std::nullopt;
    }
    std::optional<Account> account = c.store.accountByCid(record->cid);
    if (!account)
        WriteGraphError(res, 401, QStringLiteral("InvalidAuthenticationToken"),
                        QStringLiteral("CompactToken parsing failed with error code: 80049217"));
    return account;
}

bool SectionOfAccount(Store &store, const Section &section, const Account &account)
{
    return store.accountOfNotebook(section.notebookId) == account.cid;
}

std::optional<QString> QueryValue(const QUrlQuery &query, const char *name)
{
    const QString plain = QString::fromLatin1(name);
    const QString dollar = u'$' + plain;
    if (query.hasQueryItem(dollar))
        return query.queryItemValue(dollar, QUrl::FullyDecoded);
    if (query.hasQueryItem(plain))
        return query.queryItemValue(plain, QUrl::FullyDecoded);
    return std::nullopt;
}

void Notebooks(const GraphView &view, const QUrlQuery &query, httplib::Response &res)
{
    std::optional<ExpandSpec> expand;
    if (const std::optional<QString> text = QueryValue(query, "expand")) {
        expand = ParseExpand(*text);
        if (!expand) {
            WriteGraphError(
                res, 400, QStringLiteral("BadRequest"),
                QStringLiteral("Parsing OData Select and Expand failed: Syntax error in the "
                               "$expand option."));
            return;
        }
    }
    Json list = Json::array();
    for (const Notebook &notebook : view.store.notebooks(view.account.cid))
        list.push(NotebookJson(view, notebook, expand ? &*expand : nullptr));
    WriteJson(res, Json::object()
                       .add(QStringLiteral("@odata.context"),
                            view.contextBase() + QStringLiteral("/onenote/notebooks"))
                       .add(QStringLiteral("value"), std::move(list)));
}

void SectionPages(ServiceContext &c, const GraphView &view, const QString &sectionId,
                  const QUrlQuery &query, httplib::Response &res)
{
    const std::optional<Section> section = c.store.section(sectionId);
    if (!section || !SectionOfAccount(c.store, *section, view.account))
        return NotFound(res);
    qint64 top = kDefaultTop;
    qint64 skip = 0;
    const std::optional<QString> topText = QueryValue(query, "top");
    const std::optional<QString> skipText = QueryValue(query, "skip");
    bool ok = true;
    if (topText)
        top = topText->toLongLong(&ok);
    if (!ok || top < 1) {
        WriteGraphError(res, 400, QStringLiteral("BadRequest"),
                        QStringLiteral("Invalid value for the 'top' query parameter."));
        return;
    }
    if (top > kMaxTop) {
        WriteGraphError(res, 400, QStringLiteral("20129"),
                        QStringLiteral("The value of the 'top' query parameter exceeds the maximum "
                                       "value allowed, 100."));
        return;
    }
    if (skipText)
        skip = skipText->toLongLong(&ok);
    if (!ok || skip < 0) {
        WriteGraphError(res, 400, QStringLiteral("BadRequest"),
                        QStringLiteral("Invalid value for the 'skip' query parameter."));
        return;
    }
    Json list = Json::array();
    for (const Page &page : c.store.pages(sectionId, skip, top))
        list.push(PageJson(view, *section, page));
    Json reply = Json::object();
    reply.add(QStringLiteral("@odata.context"),
              view.contextBase() + QStringLiteral("/onenote/sections('") + ContextId(sectionId)
                  + QStringLiteral("')/pages"));
    reply.add(QStringLiteral("value"), std::move(list));
    // Pages remain past this one (written so that no skip, however large, overflows).
    if (top < c.store.pageCount(sectionId) - skip) {
        QString next = view.root + QStringLiteral("/v1.0/me/onenote/sections/") + sectionId
                       + QStringLiteral("/pages?");
        if (topText)
            next += QStringLiteral("$top=") + QString::number(top) + u'&';
        next += QStringLiteral("$skip=") + QString::number(skip + top);
        reply.add(QStringLiteral("@odata.nextLink"), next);
    }
    WriteJson(res, reply);
}

std::optional<std::pair<Section, Page>> OwnedPage(ServiceContext &c, const Account &account,
                                                  const QString &pageId)
{
    const std::optional<Page> page = c.store.page(pageId);
    if (!page)
        return std::nullopt;
    const std::optional<Section> section = c.store.section(page->sectionId);
    if (!section || !SectionOfAccount(c.store, *section, account))
        return std::nullopt;
    return std::pair(*section, *page);
}

void PatchContent(ServiceContext &c, const Account &account, const QString &pageId,
                  const httplib::Request &req, httplib::Response &res)
{
    if (!OwnedPage(c, account, pageId))
        return NotFound(res);
    const std::optional<QJsonValue> commands = ParseLooseJson(QByteArray::fromStdString(req.body));
    if (!commands || !commands->isArray())
        return WriteGraphStatus(res, 400);
    ContentError error;
    if (!c.patchPage(pageId, commands->toArray(), &error))
        return WriteGraphError(res, error.status, error.code, error.message);
    res.status = 204;
    const std::string requestId = NewRequestId().toStdString();
    res.set_header("request-id", requestId);
    res.set_header("client-request-id", requestId);
}

void Dispatch(ServiceContext &c, const GraphRequest &g, const httplib::Request &req,
              httplib::Response &res, RequestScope &scope)
{
    const std::optional<Account> account = Authenticate(c, req, res, scope);
    if (!account)
        return;
    if (g.userSelector != QStringLiteral("me")
        && g.userSelector.compare(account->upn, Qt::CaseInsensitive) != 0
        && g.userSelector.compare(account->cid, Qt::CaseInsensitive) != 0) {
        WriteGraphError(res, 403, QStringLiteral("Authorization_RequestDenied"),
                        QStringLiteral("Insufficient privileges to complete the operation."));
        return;
    }
    const GraphView view{c.store, c.root(), *account};
    const QUrlQuery query(QString::fromUtf8(QueryOf(req.target)));
    const QStringList &s = g.segments;
    if (g.route == QStringLiteral("me"))
        return WriteJson(res, MeJson(view));
    if (g.route == QStringLiteral("notebooks"))
        return Notebooks(view, query, res);
    if (g.route == QStringLiteral("notebook") || g.route == QStringLiteral("notebookSections")
        || g.route == QStringLiteral("notebookSectionGroups")) {
        const std::optional<Notebook> notebook = c.store.notebook(s[2]);
        if (!notebook || notebook->cid != account->cid)
            return NotFound(res);
        if (g.route == QStringLiteral("notebook"))
            return WriteJson(res, NotebookJson(view, *notebook, nullptr));
        Json list = Json::array();
        if (g.route == QStringLiteral("notebookSections")) {
            for (const Section &section : c.store.sections(notebook->id, QString()))
                list.push(SectionJson(view, section));
        } else {
            for (const SectionGroup &group : c.store.sectionGroups(notebook->id, QString()))
                list.push(SectionGroupJson(view, group, nullptr, QString()));
        }
        return WriteJson(res, Json::object()
                                  .add(QStringLiteral("@odata.context"),
                                       view.contextBase() + QStringLiteral("/onenote/notebooks('")
                                           + ContextId(notebook->id) + QStringLiteral("')/") + s[3])
                                  .add(QStringLiteral("value"), std::move(list)));
    }
    if (g.route == QStringLiteral("sections")) {
        Json list = Json::array();
        for (const Section &section : c.store.allSections(account->cid))
            list.push(SectionJson(view, section));
        return WriteJson(res, Json::object()
                                  .add(QStringLiteral("@odata.context"),
                                       view.contextBase() + QStringLiteral("/onenote/sections"))
                                  .add(QStringLiteral("value"), std::move(list)));
    }
    if (g.route == QStringLiteral("section")) {
        const std::optional<Section> section = c.store.section(s[2]);
        if (!section || !SectionOfAccount(c.store, *section, *account))
            return NotFound(res);
        return WriteJson(res, SectionJson(view, *section));
    }
    if (g.route == QStringLiteral("sectionPages"))
        return SectionPages(c, view, s[2], query, res);
    if (g.route == QStringLiteral("page")) {
        const auto owned = OwnedPage(c, *account, s[2]);
        if (!owned)
            return NotFound(res);
        return WriteJson(res, PageJson(view, owned->first, owned->second));
    }
    if (g.route == QStringLiteral("pageContent")) {
        const auto owned = OwnedPage(c, *account, s[2]);
        if (!owned)
            return NotFound(res);
        const bool includeIds = QueryValue(query, "includeIDs")
                                    .value_or(QString())
                                    .compare(QStringLiteral("true"), Qt::CaseInsensitive)
                                == 0;
        const QString html = ShapeImages(
            RenderPageHtml(owned->second, ResourceBase(view.root, account->upn), includeIds),
            scope.pageShape);
        res.status = 200;
        res.set_content(html.toStdString(), "text/html");
        return;
    }
    if (g.route == QStringLiteral("patchContent"))
        return PatchContent(c, *account, s[2], req, res);
    if (g.route == QStringLiteral("resource")) {
        const std::optional<Resource> resource = c.store.resource(s[2]);
        if (!resource || !OwnedPage(c, *account, resource->pageId))
            return NotFound(res);
        // The rendition that page HTML names when the optimizedImages switch is on.
        const QByteArray bytes = QueryValue(query, "rendition") == QStringLiteral("optimized")
                                     ? PictureOnly(resource->data)
                                     : resource->data;
        res.status = 200;
        res.set_content(bytes.constData(), static_cast<size_t>(bytes.size()),
                        "application/octet-stream");
        return;
    }
}

void HandleGraph(ServiceContext &c, const httplib::Request &req, httplib::Response &res)
{
    const GraphRequest g = ParseGraphPath(req.method, req.path);
    if (g.route.isEmpty()) {
        c.serve(QStringLiteral("graphUnknown"), RouteFamily::Graph, req, res,
                [&](const auto &, auto &rs, RequestScope &) {
                    const QString path = QString::fromStdString(req.path);
                    WriteGraphError(rs, 400, QStringLiteral("BadRequest"),
                                    QStringLiteral("Resource not found for the segment '%1'.")
                                        .arg(path.section(u'/', -1)));
                });
        return;
    }
    c.serve(g.route, RouteFamily::Graph, req, res,
            [&](const auto &rq, auto &rs, RequestScope &scope) { Dispatch(c, g, rq, rs, scope); });
}

} // namespace

void RegisterGraphRoutes(ServiceContext &context)
{
    ServiceContext *c = &context;
    const auto handler = [c](const httplib::Request &req, httplib::Response &res) {
        HandleGraph(*c, req, res);
    };
    c->server.Get("/v1\\.0/.*", handler);
    c->server.Post("/v1\\.0/.*", handler);
    c->server.Patch("/v1\\.0/.*", handler);
    c->server.Put("/v1\\.0/.*", handler);
    c->server.Delete("/v1\\.0/.*", handler);
}

} // namespace Cogitra::Service
