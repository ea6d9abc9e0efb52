#include "ServiceTestSupport.h"

#include <QJsonArray>

#include <atomic>
#include <thread>

using namespace Cogitra::Service;
using namespace Cogitra::Service::Testing;

namespace {

Fault Make(FaultKind kind, int status = 503, int delayMs = 0, int retryAfter = 10)
{
    Fault fault;
    fault.kind = kind;
    fault.status = status;
    fault.delayMs = delayMs;
    fault.retryAfterSeconds = retryAfter;
    return fault;
}

// One request and what must come back. In targets, bodies and texts, {cid}, {upn}, {page},
// {guid} (the page's element guid), {section} and {foreign} (another account's section)
// stand for this account's values.
struct Exchange
{
    const char *name;
    QString target;
    int status;                          // 0: no reply at all
    const char *has = "";                // fragments the body holds, "|" between them
    const char *lacks = "";              // one the body must not hold
    const char *keysLike = nullptr;      // fixture whose top-level keys the body has, in order
    const char *errorKeysLike = nullptr; // fixture whose error object the body's matches
    const char *header = nullptr;        // "Name: value"; "Name:" for any value
    const char *authorization = nullptr; // nullptr: the account's token
    QString fault;                       // the route the fault is set on, once
    Fault kind;
    const char *method = "GET";
    const char *body = "";
};

QString Me(const QString &rest)
{
    return QStringLiteral("/v1.0/me/onenote/") + rest;
}

const char *const kError404 = "errors/404-20102.current-order.json";
const char *const kError401 = "errors/401-InvalidAuthenticationToken.expired.http";

const Exchange kExchanges[] = {
    {"me", QStringLiteral("/v1.0/me"), 200, R"("id":"{cid}"|"userPrincipalName":"{upn}")", "",
     "identity/me.personal.json"},
    {"notebooksWithoutExpand", Me("notebooks"), 200, "sectionsUrl", "\"sections\":["},
    {"badExpand", Me("notebooks?$expand=sections("), 400, "Syntax error in the $expand option"},
    {"top101", Me("sections/{section}/pages?top=101"), 400, R"("code":"20129")"},
    {"top0", Me("sections/{section}/pages?top=0"), 400, R"("code":"BadRequest")"},
    {"negativeSkip", Me("sections/{section}/pages?skip=-1"), 400, R"("code":"BadRequest")"},
    // Ids reach the store as values, never as SQL: a quote in one finds nothing.
    {"unknownPage", Me("pages/0-nope!1-x/content"), 404, "", "", nullptr, kError404},
    {"quotedPage", Me("pages/x'%20OR%20'1'='1/content"), 404, "", "", nullptr, kError404},
    {"quotedSection", Me("sections/x'%20OR%20'1'='1/pages"), 404, "", "", nullptr, kError404},
    {"unknownResource", Me("resources/0-nope/$value"), 404, "", "", nullptr, kError404},
    {"unknownNotebook", Me("notebooks/0-nope"), 404, "", "", nullptr, kError404},
    {"foreignSection", Me("sections/{foreign}/pages"), 404},
    {"otherUser", QStringLiteral("/v1.0/users/sam@example.com/onenote/notebooks"), 403},
    {"selfByUpn", QStringLiteral("/v1.0/users/{upn}/onenote/notebooks"), 200},
    {"selfByCid", QStringLiteral("/v1.0/users/{cid}/onenote/notebooks"), 200},
    {"selfQuoted", QStringLiteral("/v1.0/users('{upn}')/onenote/notebooks"), 200},
    {"noToken", Me("notebooks"), 401, "Access token is empty.", "", nullptr, kError401,
     "WWW-Authenticate:", ""},
    {"blankBearer", Me("notebooks"), 401, "Access token is empty.", "", nullptr, kError401,
     "WWW-Authenticate:", "Bearer "},
    {"notAToken", Me("notebooks"), 401, "CompactToken parsing failed with error code: 80049217", "",
     nullptr, kError401, "WWW-Authenticate:", "Bearer EwBnotatoken"},
    {"expiredToken", Me("notebooks"), 401, "Access token has expired or is not yet valid.", "",
     nullptr, kError401, "WWW-Authenticate:", "{expired}"},
    {"contentWithIds", Me("pages/{page}/content?includeIDs=true"), 200,
     "<title>Weekly sync</title>|id=\"p:{{guid}}{|\r\n\t\t\t<p id="},
    {"contentWithoutIds", Me("pages/{page}/content"), 200, "data-id=\"_default\"", " id=\"",
     nullptr, nullptr, "Content-Type: text/html"},
    // Faults: the route misbehaves as told, once.
    {"status503", Me("pages/{page}/content"), 503, R"("code":"10002")", "", nullptr, kError404,
     nullptr, nullptr, QStringLiteral("pageContent"), Make(FaultKind::Status, 503)},
    {"status404", Me("pages/{page}/content"), 404, R"("code":"20102")", "", nullptr, nullptr,
     nullptr, nullptr, QStringLiteral("pageContent"), Make(FaultKind::Status, 404)},
    {"status507", Me("pages/{page}/content"), 507, R"("code":"30102")", "", nullptr, nullptr,
     nullptr, nullptr, QStringLiteral("pageContent"), Make(FaultKind::Status, 507)},
    {"expiredTokenFault", Me("pages/{page}/content"), 401,
     "Access token has expired or is not yet valid.", "", nullptr, nullptr, nullptr, nullptr,
     QStringLiteral("pageContent"), Make(FaultKind::ExpiredToken)},
    {"throttle", Me("notebooks"), 429, "TooManyRequests", "", nullptr,
     "errors/429-graph-generic.docs.http", "Retry-After: 7", nullptr, QStringLiteral("*"),
     Make(FaultKind::Throttle, 0, 0, 7)},
    {"malformed", Me("pages/{page}/content"), 200, "<html", "</html>", nullptr, nullptr, nullptr,
     nullptr, QStringLiteral("pageContent"), Make(FaultKind::Malformed)},
    {"drop", Me("pages/{page}/content"), 0, "", "", nullptr, nullptr, nullptr, nullptr,
     QStringLiteral("pageContent"), Make(FaultKind::Drop)},
    {"truncate", Me("pages/{page}/content"), 0, "", "", nullptr, nullptr, nullptr, nullptr,
     QStringLiteral("pageContent"), Make(FaultKind::Truncate)},
    // Past the client's read time-out of two seconds.
    {"delay", Me("pages/{page}/content"), 0, "", "", nullptr, nullptr, nullptr, nullptr,
     QStringLiteral("pageContent"), Make(FaultKind::Delay, 0, 4000)},
    {"identityStatus", QStringLiteral("/common/oauth2/v2.0/token"), 503,
     R"("error":"temporarily_unavailable")", "", nullptr, nullptr, nullptr, nullptr,
     QStringLiteral("token"), Make(FaultKind::Status, 503), "POST", "grant_type=refresh_token"},
    {"identityThrottle", QStringLiteral("/common/oauth2/v2.0/token"), 429,
     R"("error_codes":[50196])", "", nullptr, nullptr, "Retry-After: 10", nullptr,
     QStringLiteral("token"), Make(FaultKind::Throttle), "POST", "grant_type=refresh_token"},
};

class GraphRoutes : public ServiceTest
{
protected:
    void SetUp() override
    {
        ServiceTest::SetUp();
        makeAccount();
    }

    QString fill(QString text) const
    {
        return text.replace(QStringLiteral("{cid}"), account.cid)
            .replace(QStringLiteral("{upn}"), account.upn)
            .replace(QStringLiteral("{page}"), page.id)
            .replace(QStringLiteral("{guid}"), page.elementGuid)
            .replace(QStringLiteral("{section}"), section.id);
    }

    QJsonArray pageList(const QString &query, QJsonObject *reply)
    {
        const auto res = get(graph(QStringLiteral("sections/%1/pages%2").arg(section.id, query)));
        EXPECT_TRUE(res && res->status == 200);
        *reply = res ? JsonObject(res->body) : QJsonObject();
        return reply->value(QStringLiteral("value")).toArray();
    }

    int patch(const QString &body)
    {
        const auto res = client->Patch(
            graph(QStringLiteral("pages/%1/content").arg(page.id)).toStdString().c_str(), bearer(),
            body.toStdString(), "application/json");
        return res ? res->status : -1;
    }

    QString content()
    {
        const auto res
            = get(graph(QStringLiteral("pages/%1/content?includeIDs=true").arg(page.id)));
        return res ? QString::fromStdString(res->body) : QString();
    }
};

TEST_F(GraphRoutes, AnswerEachRequestAsTheRealServiceDoes)
{
    client->set_read_timeout(2);
    const Account other = *service->createAccount(QStringLiteral("sam@example.com"),
                                                  QStringLiteral("pw"), QStringLiteral("Sam"));
    const Notebook theirs = *service->createNotebook(other.cid, QStringLiteral("Private"));
    const QString foreign = service->createSection(theirs.id, QString(), QStringLiteral("S"))->id;
    service->setAccessTokenLifetime(0);
    const QString expired = service->mintTokens(account.cid)->accessToken;
    for (const Exchange &e : kExchanges) {
        SCOPED_TRACE(e.name);
        if (!e.fault.isEmpty()) {
            Fault once = e.kind;
            once.times = 1;
            service->setFault(e.fault, once);
        }
        httplib::Headers headers = bearer();
        if (e.authorization) {
            headers.clear();
            if (*e.authorization)
                headers.emplace("Authorization", QString::fromLatin1(e.authorization)
                                                     .replace(QStringLiteral("{expired}"),
                                                              QStringLiteral("Bearer ") + expired)
                                                     .toStdString());
        }
        const std::string target
            = fill(e.target).replace(QStringLiteral("{foreign}"), foreign).toStdString();
        const auto send = [&] {
            return QByteArray(e.method) == "POST"
                       ? client->Post(target, headers, e.body, "application/x-www-form-urlencoded")
                       : client->Get(target, headers);
        };
        const auto res = send();
        if (e.status == 0) {
            EXPECT_FALSE(res) << "a reply came: " << (res ? res->status : 0);
        } else {
            ASSERT_TRUE(res);
            EXPECT_EQ(res->status, e.status) << res->body;
            const QByteArray body = QByteArray::fromStdString(res->body);
            for (const QString &part : fill(QString::fromUtf8(e.has)).split(u'|'))
                EXPECT_TRUE(body.contains(part.toUtf8())) << qPrintable(part) << "\n" << res->body;
            EXPECT_TRUE(!*e.lacks || !body.contains(e.lacks)) << res->body;
            const auto shape = [](const char *fixture, auto keys, const QByteArray &text) {
                return fixture ? keys(text) == keys(FixtureBody(QLatin1String(fixture))) : true;
            };
            EXPECT_TRUE(shape(e.keysLike, KeyOrder, body));
            EXPECT_TRUE(shape(e.errorKeysLike, ErrorShape, body)) << ErrorShape(body);
            if (e.header) {
                const QString header = QLatin1String(e.header);
                const std::string value
                    = res->get_header_value(header.section(u':', 0, 0).toStdString());
                const QString expected = header.section(u':', 1).trimmed();
                if (expected.isEmpty())
                    EXPECT_FALSE(value.empty()) << qPrintable(header);
                else
                    EXPECT_EQ(value, expected.toStdString());
            }
        }
        if (e.fault.isEmpty())
            continue;
        // The fault was for one request: the next one is answered, and logged under its route.
        const auto next = send();
        ASSERT_TRUE(next);
        if (e.status == 200)
            EXPECT_NE(next->body.find(e.lacks), std::string::npos);
        else
            EXPECT_NE(next->status, e.status);
        ASSERT_FALSE(service->requestLog().empty());
        EXPECT_EQ(service->requestLog().back().route,
                  e.fault == QLatin1String("*") ? QStringLiteral("notebooks") : e.fault);
    }
    service->expireAccessTokens(account.cid);
    EXPECT_EQ(get(graph(QStringLiteral("notebooks")))->status, 401);
}

TEST_F(GraphRoutes, NotebookTreeExpandsSectionGroupsToAnyDepthInTheDocumentedShape)
{
    QString parent;
    for (const char *name : {"Projects", "Archive", "Old"})
        parent = service->createSectionGroup(notebook.id, parent, QLatin1String(name))->id;
    (void)service->createSection(notebook.id, parent, QStringLiteral("Deep"));
    const auto res
        = get(graph(QStringLiteral("notebooks?expand=sections,sectionGroups(expand=sections,"
                                   "sectionGroups(levels=max;expand=sections))")));
    ASSERT_TRUE(res);
    ASSERT_EQ(res->status, 200) << res->body;
    const QJsonObject nb
        = JsonObject(res->body).value(QStringLiteral("value")).toArray().at(0).toObject();
    const auto first = [](const QJsonObject &node, const char *list) {
        return node.value(QLatin1String(list)).toArray().at(0).toObject();
    };
    EXPECT_EQ(first(nb, "sections").value(QStringLiteral("displayName")),
              QStringLiteral("Meetings"));
    EXPECT_EQ(first(first(first(first(nb, "sectionGroups"), "sectionGroups"), "sectionGroups"),
                    "sections")
                  .value(QStringLiteral("displayName")),
              QStringLiteral("Deep"));
    EXPECT_EQ(nb.value(QStringLiteral("links"))
                  .toObject()
                  .value(QStringLiteral("oneNoteClientUrl"))
                  .toObject()
                  .value(QStringLiteral("href"))
                  .toString(),
              QStringLiteral("onenote:https://d.docs.live.net/") + account.cid
                  + QStringLiteral("/Documents/Work Notes"));

    // The documented reply's keys in its order: the reply, a notebook, a section, a group
    // (ours may hold groups after the same keys).
    const QByteArray fixture = Fixture("onenote/notebooks-expand.personal.json");
    const QByteArray body = QByteArray::fromStdString(res->body);
    EXPECT_EQ(KeyOrder(body), KeyOrder(fixture));
    for (const char *marker : {"\"value\":[", "\"sections\":["})
        EXPECT_EQ(KeysAfter(body, marker), KeysAfter(fixture, marker)) << marker;
    const QStringList fixtureGroup = KeysAfter(fixture, "\"sectionGroups\":[");
    EXPECT_EQ(KeysAfter(body, "\"sectionGroups\":[").mid(0, fixtureGroup.size()), fixtureGroup);
}

TEST_F(GraphRoutes, PageListsPageWithTopAndNextLink)
{
    for (int i = 0; i < 130; ++i)
        ASSERT_TRUE(service->createPage(section.id, QStringLiteral("Page %1").arg(i)));
    QJsonObject reply;
    EXPECT_EQ(pageList(QString(), &reply).size(), 20); // the default page size
    EXPECT_TRUE(reply.value(QStringLiteral("@odata.nextLink"))
                    .toString()
                    .endsWith(QStringLiteral("pages?$skip=20")));

    const QJsonArray first = pageList(QStringLiteral("?top=100"), &reply);
    EXPECT_EQ(first.size(), 100);
    const QString next = reply.value(QStringLiteral("@odata.nextLink")).toString();
    ASSERT_TRUE(next.startsWith(service->rootUrl()));
    const QJsonArray rest = pageList(next.mid(next.indexOf(QStringLiteral("/pages")) + 6), &reply);
    EXPECT_EQ(rest.size(), 31);
    EXPECT_FALSE(reply.contains(QStringLiteral("@odata.nextLink")));
    for (const QJsonValue &p : rest)
        EXPECT_FALSE(first.contains(p));

    // Past the end: an empty list and no link onwards, however far the skip.
    for (const QString &far : {QStringLiteral("?top=100&skip=131"),
                               QStringLiteral("?top=100&skip=9223372036854775800")}) {
        EXPECT_TRUE(pageList(far, &reply).isEmpty()) << qPrintable(far);
        EXPECT_FALSE(reply.contains(QStringLiteral("@odata.nextLink"))) << qPrintable(far);
    }

    // An item has the documented keys in their order, and links that name the page.
    const QJsonObject item = pageList(QStringLiteral("?skip=130"), &reply).at(0).toObject();
    const auto res = get(graph(QStringLiteral("sections/%1/pages?skip=130").arg(section.id)));
    ASSERT_TRUE(res);
    const QStringList keys = KeysAfter(QByteArray::fromStdString(res->body), "\"value\":[");
    EXPECT_EQ(
        keys,
        KeysAfter(Fixture("onenote/section-pages.page2.json"), "\"value\":[").mid(0, keys.size()));
    EXPECT_TRUE(item.value(QStringLiteral("links"))
                    .toObject()
                    .value(QStringLiteral("oneNoteClientUrl"))
                    .toObject()
                    .value(QStringLiteral("href"))
                    .toString()
                    .contains(QStringLiteral("&page-id=") + page.clientGuid.toLower()
                              + QStringLiteral("&end")));
    EXPECT_EQ(item.value(QStringLiteral("parentSection"))
                  .toObject()
                  .value(QStringLiteral("id"))
                  .toString(),
              section.id);
}

// The two bodies the client sends, character for character.
TEST_F(GraphRoutes, PatchAppendsThenReplacesTheClientsImages)
{
    const QByteArray gif = QByteArray("GIF89a\x02\x00\x03\x00", 10) + QByteArray(20, 'x');
    ASSERT_EQ(patch(QStringLiteral(
                        "[{'target':'body','action':'append','content':'<div><img alt=\"ZetGif\" "
                        "src=\"data:image/png;base64,%1\" /></div>'}]")
                        .arg(QString::fromLatin1(gif.toBase64()))),
              204);
    QString html = content();
    const qsizetype img = html.indexOf(QStringLiteral("<img id=\"img:"));
    ASSERT_GE(img, 0) << qPrintable(html);
    const QString tag = html.mid(img, html.indexOf(u'>', img) - img + 1);
    EXPECT_TRUE(tag.contains(
        QStringLiteral("alt=\"ZetGif\" width=\"2\" height=\"3\" src=\"") + service->rootUrl()
        + QStringLiteral("/v1.0/users('avery.example@outlook.com')/onenote/resources/")))
        << qPrintable(tag);
    EXPECT_TRUE(tag.contains(QStringLiteral("data-src-type=\"image/gif\"")));
    const QString id = tag.mid(9, tag.indexOf(u'"', 9) - 9);
    const QString src = tag.mid(tag.indexOf(QStringLiteral("src=\"")) + 5);
    const QString url = src.left(src.indexOf(u'"')).mid(service->rootUrl().size());

    const auto bytes = get(url);
    ASSERT_TRUE(bytes);
    EXPECT_EQ(bytes->status, 200);
    EXPECT_EQ(QByteArray::fromStdString(bytes->body), gif);
    EXPECT_EQ(bytes->get_header_value("Content-Type"), "application/octet-stream");

    const QByteArray png = QByteArray("\x89PNG\r\n\x1a\n", 8) + QByteArray(30, '\0');
    ASSERT_EQ(
        patch(QStringLiteral("[{'target':'%1','action':'replace','content':'<img alt=\"ZetGif\" "
                             "src=\"data:image/png;base64,%2\" />'}]")
                  .arg(id, QString::fromLatin1(png.toBase64()))),
        204);
    html = content();
    EXPECT_EQ(html.count(QStringLiteral("alt=\"ZetGif\"")), 1);
    EXPECT_FALSE(html.contains(id));
    ASSERT_EQ(service->pageResources(page.id).size(), 1u); // the replaced image's bytes are gone
    EXPECT_EQ(service->pageResources(page.id).front().data, png);
    EXPECT_EQ(get(url)->status, 404);
}

TEST_F(GraphRoutes, PatchRefusesBadBodiesAndTargetsWithoutChangingThePage)
{
    const QString before = content();
    for (const char *body : {
             "[{'target':'body','action':'append'",
             "{\"target\":\"body\"}",
             "[{'target':'img:{00000000-0000-0000-0000-000000000000}{9}','action':'replace',"
             "'content':'<p>x</p>'}]",
             "[{'target':'body','action':'append','content':'<p>kept?</p>'},"
             "{'target':'body','action':'explode','content':'<p>x</p>'}]",
             "[{'target':'body','action':'append','content':'<img "
             "src=\"data:image/png;base64,!!\" />'}]",
             // An image taken in by a command before the refused one is not kept either.
             "[{'target':'body','action':'append','content':'<img src=\"data:image/png;base64,"
             "iVBORw0KGgo=\" />'},{'target':'body','action':'explode','content':'<p>x</p>'}]",
         }) {
        EXPECT_EQ(patch(QString::fromUtf8(body)), 400) << body;
        EXPECT_FALSE(service->patchPage(page.id, body)) << body;
    }
    EXPECT_EQ(content(), before);
    EXPECT_TRUE(service->pageResources(page.id).empty());
}

// Updates of one page from several clients at once: every one that was answered 204 is on
// the page.
TEST_F(GraphRoutes, ConcurrentUpdatesOfOnePageAreAllKept)
{
    constexpr int kClients = 4;
    constexpr int kEach = 10;
    std::atomic<int> accepted{0};
    std::vector<std::thread> clients;
    for (int k = 0; k < kClients; ++k) {
        clients.emplace_back([&, k] {
            httplib::Client mine("127.0.0.1", service->port());
            for (int i = 0; i < kEach; ++i) {
                const std::string body = "[{'target':'body','action':'append','content':'<p>w"
                                         + std::to_string(k) + "-" + std::to_string(i) + "</p>'}]";
                const auto res = mine.Patch(
                    graph(QStringLiteral("pages/%1/content").arg(page.id)).toStdString().c_str(),
                    bearer(), body, "application/json");
                if (res && res->status == 204)
                    ++accepted;
            }
        });
    }
    for (std::thread &t : clients)
        t.join();
    EXPECT_EQ(accepted.load(), kClients * kEach);
    const QString html = content();
    for (int k = 0; k < kClients; ++k) {
        for (int i = 0; i < kEach; ++i)
            EXPECT_TRUE(html.contains(QStringLiteral(">w%1-%2</p>").arg(k).arg(i))) << k << i;
    }
}

TEST_F(GraphRoutes, PatchActionsPlaceContentWhereTheDocumentationSaysWithoutScripts)
{
    ASSERT_EQ(
        patch(QStringLiteral(
            R"([{"target":"body","action":"append","content":"<ul data-id=\"list\"><li>one</li></ul>"},)"
            R"({"target":"#list","action":"append","content":"<li>two</li>"},)"
            R"({"target":"#list","action":"prepend","content":"<li>zero</li>"},)"
            R"({"target":"#list","action":"insert","position":"before","content":"<p>before</p>"},)"
            R"({"target":"#list","action":"insert","position":"after","content":"<p>after</p>"},)"
            R"({"target":"body","action":"prepend","content":"<p>first</p>"},)"
            R"({"target":"body","action":"append","content":"<p onclick=\"steal()\">hi<script>alert(1)</script></p>"},)"
            R"({"target":"title","action":"replace","content":"Renamed &amp; done"}])")),
        204);
    const QString html = content();
    qsizetype at = 0;
    for (const char *text :
         {">first<", ">Agenda<", ">before<", ">zero<", ">one<", ">two<", ">after<", ">hi</p>"}) {
        const qsizetype next = html.indexOf(QLatin1String(text), at);
        EXPECT_GT(next, at) << text << "\n" << qPrintable(html);
        at = std::max(at, next);
    }
    EXPECT_FALSE(html.contains(QStringLiteral("script")));
    EXPECT_FALSE(html.contains(QStringLiteral("onclick")));
    EXPECT_TRUE(html.contains(QStringLiteral("<title>Renamed &amp; done</title>")));
    EXPECT_EQ(service->page(page.id)->title, QStringLiteral("Renamed & done"));
}

// The documented multipart form, from the fixture, aimed at this page's own ids.
TEST_F(GraphRoutes, MultipartPatchTakesImagesFromItsParts)
{
    ASSERT_EQ(patch(QStringLiteral(
                  "[{'target':'body','action':'append','content':'<img data-id=\"diagram\" "
                  "src=\"data:image/png;base64,iVBORw0KGgo=\" />'}]")),
              204);
    const QByteArray sample = Fixture("onenote/page-patch.multipart.http");
    const qsizetype split = sample.indexOf("\r\n\r\n");
    QByteArray body = sample.mid(split + 4);
    body.replace("c442cfb3-6e89-28ed-dacd-c812120163c8", page.elementGuid.toLatin1());
    const QByteArray head = sample.left(split);
    const qsizetype type = head.indexOf("Content-Type: ") + 14;
    const auto res = client->Patch(
        graph(QStringLiteral("pages/%1/content").arg(page.id)).toStdString().c_str(), bearer(),
        body.toStdString(), head.mid(type, head.indexOf("\r\n", type) - type).constData());
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 204) << res->body;
    const QString html = content();
    EXPECT_TRUE(
        html.contains(QStringLiteral("alt=\"New diagram\" width=\"320\" height=\"1\" src=\"")))
        << qPrintable(html);
    EXPECT_TRUE(
        html.contains(QStringLiteral(">Appended as the last child of the default div</p>")));
    ASSERT_EQ(service->pageResources(page.id).size(), 1u); // the replaced picture is gone
    EXPECT_EQ(service->pageResources(page.id).front().data, Fixture("onenote/resource-sample.png"));
}

TEST_F(GraphRoutes, CreatingAPageFromHtml)
{
    const auto res = client->Post(
        graph(QStringLiteral("sections/%1/pages").arg(section.id)).toStdString().c_str(), bearer(),
        "<html><head><title>From the API</title></head><body><p>Hello</p></body></html>",
        "text/html");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 201) << res->body;
    const QJsonObject created = JsonObject(res->body);
    EXPECT_EQ(created.value(QStringLiteral("title")).toString(), QStringLiteral("From the API"));
    EXPECT_TRUE(service->pageHtml(created.value(QStringLiteral("id")).toString())
                    .contains(QStringLiteral(">Hello</p>")));
}

TEST_F(GraphRoutes, OversizedBodiesGet413)
{
    ServiceOptions options;
    options.maxRequestBytes = 4096;
    startService(options);
    token = service->mintTokens(account.cid)->accessToken;
    const std::string target = graph(QStringLiteral("pages/%1/content").arg(page.id)).toStdString();
    const auto res = client->Patch(target, bearer(), std::string(4097, 'x'), "application/json");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 413);
    const QString before = content();

    // A chunked body announces no length: it is measured as it comes.
    size_t sent = 0;
    const auto chunked = [&](size_t total) {
        sent = 0;
        return client->Patch(
            target, bearer(),
            [&, total](size_t, httplib::DataSink &sink) {
                const std::string piece(std::min<size_t>(16384, total - sent), ' ');
                if (!sink.write(piece.data(), piece.size()))
                    return false;
                sent += piece.size();
                if (sent >= total)
                    sink.done();
                return true;
            },
            "application/json");
    };
    const auto small = chunked(8192);
    ASSERT_TRUE(small);
    EXPECT_EQ(small->status, 413);
    EXPECT_NE(small->body.find("\"20007\""), std::string::npos);
    // Far past the limit the service stops reading: the client cannot send it all.
    const size_t huge = 256u * 1024 * 1024;
    const auto big = chunked(huge);
    if (big) {
        EXPECT_EQ(big->status, 413);
    }
    EXPECT_LT(sent, huge);
    EXPECT_EQ(content(), before);
}

TEST_F(GraphRoutes, ADroppedUpdateChangesNothing)
{
    service->setFault(QStringLiteral("patchContent"), Make(FaultKind::Drop));
    const QString before = service->pageHtml(page.id);
    EXPECT_EQ(patch(QStringLiteral("[{'target':'body','action':'append','content':'<p>x</p>'}]")),
              -1);
    EXPECT_EQ(service->pageHtml(page.id), before);
    EXPECT_EQ(service->requestLog().back().status, 0);
}

TEST_F(GraphRoutes, FaultsSkipThenApplyAsManyTimesAsTold)
{
    Fault fault = Make(FaultKind::Status, 500);
    fault.skip = 1;
    fault.times = 2;
    service->setFault(QStringLiteral("me"), fault);
    std::vector<int> statuses;
    for (int i = 0; i < 4; ++i)
        statuses.push_back(get(QStringLiteral("/v1.0/me"))->status);
    EXPECT_EQ(statuses, (std::vector<int>{200, 500, 500, 200}));
}

TEST_F(GraphRoutes, TheTestRouteSetsAndClearsFaults)
{
    const auto post = [&](const std::string &body) {
        const auto res = client->Post("/_test/faults", body, "application/json");
        return res ? res->status : -1;
    };
    EXPECT_EQ(post(R"({"route":"me","kind":"status","status":500})"), 404); // only when asked
    ServiceOptions options;
    options.testRoutes = true;
    startService(options);
    token = service->mintTokens(account.cid)->accessToken;
    EXPECT_EQ(post(R"({"route":"me","kind":"status","status":500,"times":2,"skip":0})"), 204);
    EXPECT_EQ(get(QStringLiteral("/v1.0/me"))->status, 500);
    EXPECT_EQ(post(R"({"route":"me","kind":"explode"})"), 400);
    // Every kind by its name; a fault on every route spares the route that clears it.
    for (const char *kind : {"status", "delay", "drop", "truncate", "malformed", "expiredToken",
                             "throttle", "imageDataIds", "optimizedImages"}) {
        EXPECT_EQ(post(std::string(R"({"route":"*","kind":")") + kind + R"(","delayMs":1})"), 204)
            << kind;
        EXPECT_EQ(post(R"({"route":"*","kind":"clear"})"), 204) << kind;
    }
    EXPECT_EQ(get(QStringLiteral("/v1.0/me"))->status, 200);
}

} // namespace
