#include "service/GraphReplies.h"

#include "service/Ids.h"

#include <QDateTime>
#include <QTimeZone>

namespace Cogitra::Service {
namespace {

constexpr int kMaxExpandDepth = 8;
constexpr int kLevelsMax = 64;

class ExpandParser
{
public:
    explicit ExpandParser(const QString &text)
        : m_Text(text)
    {}

    std::optional<ExpandSpec> parse()
    {
        ExpandSpec spec;
        if (!list(spec, 0) || m_Pos != m_Text.size())
            return std::nullopt;
        return spec;
    }

private:
    bool list(ExpandSpec &into, int depth)
    {
        if (depth > kMaxExpandDepth)
            return false;
        while (true) {
            const qsizetype start = m_Pos;
            while (m_Pos < m_Text.size()
                   && (m_Text[m_Pos].isLetterOrNumber() || m_Text[m_Pos] == u'/'))
                ++m_Pos;
            const QString name = m_Text.mid(start, m_Pos - start).trimmed().toLower();
            if (name.isEmpty())
                return false;
            ExpandSpec child;
            if (m_Pos < m_Text.size() && m_Text[m_Pos] == u'(') {
                ++m_Pos;
                if (!options(child, depth + 1))
                    return false;
                if (m_Pos >= m_Text.size() || m_Text[m_Pos] != u')')
                    return false;
                ++m_Pos;
            }
            into.children[name] = std::move(child);
            if (m_Pos < m_Text.size() && m_Text[m_Pos] == u',') {
                ++m_Pos;
                continue;
            }
            return true;
        }
    }

    bool options(ExpandSpec &spec, int depth)
    {
        while (true) {
            const qsizetype eq = m_Text.indexOf(u'=', m_Pos);
            if (eq < 0)
                return false;
            QString key = m_Text.mid(m_Pos, eq - m_Pos).trimmed().toLower();
            if (key.startsWith(u'$'))
                key.remove(0, 1);
            m_Pos = eq + 1;
            if (key == QStringLiteral("expand")) {
                if (!list(spec, depth))
                    return false;
            } else {
                const qsizetype start = m_Pos;
                while (m_Pos < m_Text.size() && m_Text[m_Pos] != u';' && m_Text[m_Pos] != u')')
                    ++m_Pos;
                const QString value = m_Text.mid(start, m_Pos - start).trimmed();
                if (key == QStringLiteral("levels")) {
                    bool ok = false;
                    const int levels = value.toInt(&ok);
                    if (value.compare(QStringLiteral("max"), Qt::CaseInsensitive) == 0)
                        spec.levels = kLevelsMax;
                    else if (ok && levels >= 1)
                        spec.levels = std::min(levels, kLevelsMax);
                    else
                        return false;
                }
            }
            if (m_Pos < m_Text.size() && m_Text[m_Pos] == u';') {
                ++m_Pos;
                continue;
            }
            return true;
        }
    }

    const QString &m_Text;
    qsizetype m_Pos = 0;
};

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

Json IdentitySet(const Account &account)
{
    return Json::object().add(QStringLiteral("user"),
                              Json::object()
                                  .add(QStringLiteral("id"), account.cid.toUpper())
                                  .add(QStringLiteral("displayName"), account.displayName));
}

void AddSections(Json &node, const GraphView &view, const std::vector<Section> &sections,
                 const QString &context)
{
    Json list = Json::array();
    for (const Section &section : sections)
        list.push(SectionJson(view, section));
    node.add(QStringLiteral("sections@odata.context"), context + QStringLiteral("/sections"));
    node.add(QStringLiteral("sections"), std::move(list));
}

void AddGroups(Json &node, const GraphView &view, const std::vector<SectionGroup> &groups,
               const ExpandSpec *expand, const QString &context)
{
    Json list = Json::array();
    for (const SectionGroup &group : groups)
        list.push(SectionGroupJson(view, group, expand,
                                   context + QStringLiteral("/sectionGroups('")
                                       + ContextId(group.id) + QStringLiteral("')")));
    node.add(QStringLiteral("sectionGroups@odata.context"),
             context + QStringLiteral("/sectionGroups"));
    node.add(QStringLiteral("sectionGroups"), std::move(list));
}

// The expansion that applies one level down a sectionGroups chain.
const ExpandSpec *NestedGroupsSpec(const ExpandSpec &groupsSpec, ExpandSpec &scratch)
{
    const auto explicitChild = groupsSpec.children.find(QStringLiteral("sectiongroups"));
    if (explicitChild != groupsSpec.children.end())
        return &explicitChild->second;
    if (groupsSpec.levels <= 1)
        return nullptr;
    scratch = groupsSpec;
    --scratch.levels;
    return &scratch;
}

} // namespace

std::optional<ExpandSpec> ParseExpand(const QString &text)
{
    return ExpandParser(text).parse();
}

QString GraphView::userBase() const
{
    return root + QStringLiteral("/v1.0/users/") + account.upn;
}

QString GraphView::contextBase() const
{
    QString upn = account.upn;
    upn.replace(u'@', QStringLiteral("%40"));
    return root + QStringLiteral("/v1.0/$metadata#users('") + upn + QStringLiteral("')");
}

QString ResourceBase(const QString &root, const QString &upn)
{
    return root + QStringLiteral("/v1.0/users('") + upn + QStringLiteral("')/onenote/resources/");
}

QString ContextId(const QString &id)
{
    QString out = id;
    out.replace(u'!', QStringLiteral("%21"));
    return out;
}

QString GraphTime(qint64 ms)
{
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC).toString(Qt::ISODateWithMs);
}

PagePlace PlaceOf(Store &store, const Section &section, const Page &page)
{
    PagePlace place;
    place.cid = store.accountOfNotebook(section.notebookId);
    place.folders = store.sectionFolders(section);
    place.sectionName = section.name;
    place.sectionGuid = section.clientGuid;
    place.pageGuid = page.clientGuid;
    place.title = page.title;
    return place;
}

std::optional<PagePlace> PlaceOfPage(Store &store, const QString &pageId)
{
    const std::optional<Page> page = store.page(pageId);
    if (!page)
        return std::nullopt;
    const std::optional<Section> section = store.section(page->sectionId);
    if (!section)
        return std::nullopt;
    return PlaceOf(store, *section, *page);
}

Json NotebookJson(const GraphView &view, const Notebook &notebook, const ExpandSpec *expand)
{
    const QString self = view.userBase() + QStringLiteral("/onenote/notebooks/") + notebook.id;
    Json json = Json::object();
    json.add(QStringLiteral("id"), notebook.id)
        .add(QStringLiteral("self"), self)
        .add(QStringLiteral("createdDateTime"), GraphTime(notebook.created))
        .add(QStringLiteral("displayName"), notebook.name)
        .add(QStringLiteral("lastModifiedDateTime"), GraphTime(notebook.modified))
        .add(QStringLiteral("isDefault"), notebook.isDefault)
        .add(QStringLiteral("userRole"), "Owner")
        .add(QStringLiteral("isShared"), false)
        .add(QStringLiteral("sectionsUrl"), self + QStringLiteral("/sections"))
        .add(QStringLiteral("sectionGroupsUrl"), self + QStringLiteral("/sectionGroups"))
        .add(QStringLiteral("createdBy"), IdentitySet(view.account))
        .add(QStringLiteral("lastModifiedBy"), IdentitySet(view.account))
        .add(QStringLiteral("links"),
             Json::object()
                 .add(QStringLiteral("oneNoteClientUrl"),
                      Json::object().add(QStringLiteral("href"),
                                         NotebookClientUrl(view.account.cid, notebook.name)))
                 .add(QStringLiteral("oneNoteWebUrl"),
                      Json::object().add(QStringLiteral("href"),
                                         NotebookWebUrl(view.account.cid, notebook.id))));
    if (!expand)
        return json;
    const QString context = view.contextBase() + QStringLiteral("/onenote/notebooks('")
                            + ContextId(notebook.id) + QStringLiteral("')");
    if (expand->children.contains(QStringLiteral("sections")))
        AddSections(json, view, view.store.sections(notebook.id, QString()), context);
    const auto groups = expand->children.find(QStringLiteral("sectiongroups"));
    if (groups != expand->children.end())
        AddGroups(json, view, view.store.sectionGroups(notebook.id, QString()), &groups->second,
                  context);
    return json;
}

Json SectionGroupJson(const GraphView &view, const SectionGroup &group, const ExpandSpec *expand,
                      const QString &context)
{
    const QString self = view.userBase() + QStringLiteral("/onenote/sectionGroups/") + group.id;
    Json json = Json::object();
    json.add(QStringLiteral("id"), group.id)
        .add(QStringLiteral("self"), self)
        .add(QStringLiteral("createdDateTime"), GraphTime(group.created))
        .add(QStringLiteral("displayName"), group.name)
        .add(QStringLiteral("lastModifiedDateTime"), GraphTime(group.modified))
        .add(QStringLiteral("sectionsUrl"), self + QStringLiteral("/sections"))
        .add(QStringLiteral("sectionGroupsUrl"), self + QStringLiteral("/sectionGroups"))
        .add(QStringLiteral("createdBy"), IdentitySet(view.account))
        .add(QStringLiteral("lastModifiedBy"), IdentitySet(view.account));
    if (!expand)
        return json;
    if (expand->children.contains(QStringLiteral("sections")))
        AddSections(json, view, view.store.sections(group.notebookId, group.id), context);
    ExpandSpec scratch;
    if (const ExpandSpec *nested = NestedGroupsSpec(*expand, scratch))
        AddGroups(json, view, view.store.sectionGroups(group.notebookId, group.id), nested,
                  context);
    return json;
}

Json SectionJson(const GraphView &view, const Section &section)
{
    const QString self = view.userBase() + QStringLiteral("/onenote/sections/") + section.id;
    Json json = Json::object();
    json.add(QStringLiteral("id"), section.id)
        .add(QStringLiteral("self"), self)
        .add(QStringLiteral("createdDateTime"), GraphTime(section.created))
        .add(QStringLiteral("displayName"), section.name)
        .add(QStringLiteral("lastModifiedDateTime"), GraphTime(section.modified))
        .add(QStringLiteral("isDefault"), section.isDefault)
        .add(QStringLiteral("pagesUrl"), self + QStringLiteral("/pages"))
        .add(QStringLiteral("createdBy"), IdentitySet(view.account))
        .add(QStringLiteral("lastModifiedBy"), IdentitySet(view.account));
    return json;
}

Json PageJson(const GraphView &view, const Section &section, const Page &page)
{
    const QString self = view.userBase() + QStringLiteral("/onenote/pages/") + page.id;
    const PagePlace place = PlaceOf(view.store, section, page);
    Json json = Json::object();
    json.add(QStringLiteral("id"), page.id)
        .add(QStringLiteral("self"), self)
        .add(QStringLiteral("createdDateTime"), GraphTime(page.created))
        .add(QStringLiteral("title"), page.title)
        .add(QStringLiteral("createdByAppId"), page.createdByAppId)
        .add(QStringLiteral("contentUrl"), self + QStringLiteral("/content"))
        .add(QStringLiteral("lastModifiedDateTime"), GraphTime(page.modified))
        .add(QStringLiteral("links"),
             Json::object()
                 .add(QStringLiteral("oneNoteClientUrl"),
                      Json::object().add(QStringLiteral("href"), GraphPageClientUrl(place)))
                 .add(QStringLiteral("oneNoteWebUrl"),
                      Json::object().add(QStringLiteral("href"),
                                         GraphPageWebUrl(place, section.notebookId, page.number))))
        .add(QStringLiteral("parentSection@odata.context"),
             view.contextBase() + QStringLiteral("/onenote/pages('") + ContextId(page.id)
                 + QStringLiteral("')/parentSection/$entity"))
        .add(QStringLiteral("parentSection"),
             Json::object()
                 .add(QStringLiteral("id"), section.id)
                 .add(QStringLiteral("displayName"), section.name)
                 .add(QStringLiteral("self"),
                      view.userBase() + QStringLiteral("/onenote/sections/") + section.id));
    return json;
}

Json MeJson(const GraphView &view)
{
    return Json::object()
        .add(QStringLiteral("@odata.context"),
             view.root + QStringLiteral("/v1.0/$metadata#users/$entity"))
        .add(QStringLiteral("userPrincipalName"), view.account.upn)
        .add(QStringLiteral("id"), view.account.cid)
        .add(QStringLiteral("displayName"), view.account.displayName)
        .add(QStringLiteral("surname"), view.account.surname)
        .add(QStringLiteral("givenName"), view.account.givenName)
        .add(QStringLiteral("preferredLanguage"), "en-US")
        .add(QStringLiteral("mail"), view.account.upn)
        .add(QStringLiteral("mobilePhone"), Json::null())
        .add(QStringLiteral("jobTitle"), Json::null())
        .add(QStringLiteral("officeLocation"), Json::null())
        .add(QStringLiteral("businessPhones"), Json::array());
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

void WriteGraphStatus(httplib::Response &res, int status)
{
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

void WriteGraphThrottle(httplib::Response &res)
{
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
    res.set_content(json.constData(), static_cast<size_t>(json.size()), "application/json");
}

} // namespace Cogitra::Service
