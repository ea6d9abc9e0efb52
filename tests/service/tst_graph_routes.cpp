#include "ServiceTestSupport.h"

#include <atomic>
#include <thread>

using namespace Cogitra::Service;
using namespace Cogitra::Service::Testing;

namespace {

// What a reply must show beyond its status and body fragments, and how the request is made.
struct Expect
{
    const char *lacks = "";              // a fragment the body must not hold
    const char *keysLike = nullptr;      // fixture whose top-level keys the body has, in order
    const char *errorLike = nullptr;     // fixture whose error object the body's matches
    const char *header = nullptr;        // "Name: value"; "Name:" for any value
    const char *authorization = nullptr; // nullptr: the account's token
    const char *fault = nullptr;         // the route a fault is set on, for one request
    Fault kind;
    const char *form = nullptr; // a POST's body; nullptr: a GET
};

// In targets and texts, {cid}, {upn}, {page}, {guid} (the page's element guid), {section} and
// {foreign} (another account's section) stand for this account's values.
struct Exchange
{
    const char *name;
    QString target;
    int status;      // 0: no reply at all
    const char *has; // fragments the body holds, "|" between them
    Expect x = {};
};

const char *const kError404 = "errors/404-20102.current-order.json";
const char *const kError401 = "errors/401-InvalidAuthenticationToken.expired.http";
const char *const kError429 = "errors/429-graph-generic.docs.http";
const char *const kPage = "pageContent";
const QString kContent = Me(QStringLiteral("pages/{page}/content"));
const QString kToken = QStringLiteral("/common/oauth2/v2.0/token");
const char *const kRefresh = "grant_type=refresh_token";

// One request a line.
// clang-format off
const Exchange kExchanges[] = {
    {"me", QStringLiteral("/v1.0/me"), 200, R"("id":"{cid}"|"userPrincipalName":"{upn}")",
     {.keysLike = "identity/me.personal.json"}},
    {"notebooksWithoutExpand", Me("notebooks"), 200, "sectionsUrl", {.lacks = "\"sections\":["}},
    {"badExpand", Me("notebooks?$expand=sections("), 400, "Syntax error in the $expand option"},
    {"top101", Me("sections/{section}/pages?top=101"), 400, R"("code":"20129")"},
    {"top0", Me("sections/{section}/pages?top=0"), 400, R"("code":"BadRequest")"},
    {"negativeSkip", Me("sections/{section}/pages?skip=-1"), 400, R"("code":"BadRequest")"},
    // Ids reach the store as values, never as SQL: a quote in one finds nothing.
    {"unknownPage", Me("pages/0-nope!1-x/content"), 404, "", {.errorLike = kError404}},
    {"quotedPage", Me("pages/x'%20OR%20'1'='1/content"), 404, "", {.errorLike = kError404}},
    {"quotedSection", Me("sections/x'%20OR%20'1'='1/pages"), 404, "", {.errorLike = kError404}},
    {"unknownResource", Me("resources/0-nope/$value"), 404, "", {.errorLike = kError404}},
    {"unknownNotebook", Me("notebooks/0-nope"), 404, "", {.errorLike = kError404}},
    {"foreignSection", Me("sections/{foreign}/pages"), 404, ""},
    {"otherUser", QStringLiteral("/v1.0/users/sam@example.com/onenote/notebooks"), 403, ""},
    {"selfByUpn", QStringLiteral("/v1.0/users/{upn}/onenote/notebooks"), 200, ""},
    {"selfByCid", QStringLiteral("/v1.0/users/{cid}/onenote/notebooks"), 200, ""},
    {"selfQuoted", QStringLiteral("/v1.0/users('{upn}')/onenote/notebooks"), 200, ""},
    {"noToken", Me("notebooks"), 401, "Access token is empty.", {.errorLike = kError401,
     .header = "WWW-Authenticate:", .authorization = ""}},
    {"blankBearer", Me("notebooks"), 401, "Access token is empty.", {.errorLike = kError401,
     .header = "WWW-Authenticate:", .authorization = "Bearer "}},
    {"notAToken", Me("notebooks"), 401, "CompactToken parsing failed with error code: 80049217",
     {.errorLike = kError401, .header = "WWW-Authenticate:", .authorization = "Bearer EwBno"}},
    {"expiredToken", Me("notebooks"), 401, "Access token has expired or is not yet valid.",
     {.errorLike = kError401, .header = "WWW-Authenticate:", .authorization = "{expired}"}},
    {"contentWithIds", Me("pages/{page}/content?includeIDs=true"), 200,
     "<title>Weekly sync</title>|id=\"p:{{guid}}{|\r\n\t\t\t<p id="},
    {"contentWithoutIds", kContent, 200, "data-id=\"_default\"", {.lacks = " id=\"",
     .header = "Content-Type: text/html"}},
    // Faults: the route misbehaves as told, once.
    {"status503", kContent, 503, R"("code":"10002")", {.errorLike = kError404,
     .fault = kPage, .kind = {.status = 503}}},
    {"status404", kContent, 404, R"("code":"20102")", {.fault = kPage, .kind = {.status = 404}}},
    {"status507", kContent, 507, R"("code":"30102")", {.fault = kPage, .kind = {.status = 507}}},
    {"expiredTokenFault", kContent, 401, "Access token has expired or is not yet valid.",
     {.fault = kPage, .kind = {.kind = FaultKind::ExpiredToken}}},
    {"throttle", Me("notebooks"), 429, "TooManyRequests", {.errorLike = kError429,
     .header = "Retry-After: 7", .fault = "*",
     .kind = {.kind = FaultKind::Throttle, .retryAfterSeconds = 7}}},
    {"malformed", kContent, 200, "<html", {.lacks = "</html>", .fault = kPage,
     .kind = {.kind = FaultKind::Malformed}}},
    {"drop", kContent, 0, "", {.fault = kPage, .kind = {.kind = FaultKind::Drop}}},
    {"truncate", kContent, 0, "", {.fault = kPage, .kind = {.kind = FaultKind::Truncate}}},
    // Past the client's read time-out of two seconds.
    {"delay", kContent, 0, "",
     {.fault = kPage, .kind = {.kind = FaultKind::Delay, .delayMs = 4000}}},
    {"identityStatus", kToken, 503, R"("error":"temporarily_unavailable")", {.fault = "token",
     .kind = {.status = 503}, .form = kRefresh}},
    {"identityThrottle", kToken, 429, R"("error_codes":[50196])", {.header = "Retry-After: 10",
     .fault = "token", .kind = {.kind = FaultKind::Throttle}, .form = kRefresh}},
};
// clang-format on

class GraphRoutes : public ServiceTest
{
protected:
    QString fill(QString text) const
    {
        return text.replace(QStringLiteral("{cid}"), account.cid)
            .replace(QStringLiteral("{upn}"), account.upn)
            .replace(QStringLiteral("{page}"), page.id)
            .replace(QStringLiteral("{guid}"), page.elementGuid)
            .replace(QStringLiteral("{section}"), section.id);
    }

    int patch(const QByteArray &body, const char *type = "application/json")
    {
        return Status(
            client->Patch(fill(kContent).toStdString(), bearer(), body.toStdString(), type));
    }
    int patch(const QString &body) { return patch(body.toUtf8()); }

    QString content()
    {
        const auto res = get(fill(Me(QStringLiteral("pages/{page}/content?includeIDs=true"))));
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
    const QString expired
        = QStringLiteral("Bearer ") + service->mintTokens(account.cid)->accessToken;
    for (const Exchange &e : kExchanges) {
        SCOPED_TRACE(e.name);
        if (e.x.fault) {
            Fault once = e.x.kind;
            once.times = 1;
            service->setFault(QLatin1String(e.x.fault), once);
        }
        httplib::Headers headers = bearer();
        if (e.x.authorization) {
            headers.clear();
            if (*e.x.authorization)
                headers.emplace("Authorization", QString::fromLatin1(e.x.authorization)
                                                     .replace(QStringLiteral("{expired}"), expired)
                                                     .toStdString());
        }
        const std::string target
            = fill(e.target).replace(QStringLiteral("{foreign}"), foreign).toStdString();
        const auto send = [&] {
            return e.x.form ? client->Post(target, headers, e.x.form,
                                           "application/x-www-form-urlencoded")
                            : client->Get(target, headers);
        };
        const auto res = send();
        EXPECT_EQ(Status(res), e.status ? e.status : -1) << (res ? res->body : std::string());
        if (res) {
            const QByteArray body = QByteArray::fromStdString(res->body);
            for (const QString &part : fill(QString::fromUtf8(e.has)).split(u'|'))
                EXPECT_TRUE(body.contains(part.toUtf8())) << qPrintable(part) << "\n" << res->body;
            EXPECT_TRUE(!*e.x.lacks || !body.contains(e.x.lacks)) << res->body;
            const auto like = [&](const char *file, auto shape) {
                return !file || shape(body) == shape(FixtureBody(QLatin1String(file)));
            };
            EXPECT_TRUE(like(e.x.keysLike, [](const QByteArray &t) { return KeyOrder(t); }));
            EXPECT_TRUE(like(e.x.errorLike, ErrorShape)) << ErrorShape(body);
            const QString header = QLatin1String(e.x.header);
            const std::string value
                = res->get_header_value(header.section(u':', 0, 0).toStdString());
            const QString expected = header.section(u':', 1).trimmed();
            EXPECT_TRUE(!e.x.header
                        || (expected.isEmpty() ? !value.empty() : value == expected.toStdString()))
                << qPrintable(header) << " is " << value;
        }
        if (!e.x.fault)
            continue;
        // The fault was for one request: the next one is answered, and logged under its route.
        const auto next = send();
        ASSERT_TRUE(next);
        if (e.status == 200)
            EXPECT_NE(next->body.find(e.x.lacks), std::string::npos);
        else
            EXPECT_NE(next->status, e.status);
        ASSERT_FALSE(service->requestLog().empty());
        EXPECT_EQ(service->requestLog().back().route,
                  *e.x.fault == '*' ? QStringLiteral("notebooks") : QLatin1String(e.x.fault));
    }
    service->expireAccessTokens(account.cid);
    EXPECT_EQ(Status(get(Me(QStringLiteral("notebooks")))), 401);
}

TEST_F(GraphRoutes, NotebookTreeExpandsSectionGroupsToAnyDepthInTheDocumentedShape)
{
    QString parent;
    for (const char *name : {"Projects", "Archive", "Old"})
        parent = service->createSectionGroup(notebook.id, parent, QLatin1String(name))->id;
    (void)service->createSection(notebook.id, parent, QStringLiteral("Deep"));
    const auto res
        = get(Me(QStringLiteral("notebooks?expand=sections,sectionGroups(expand=sections,"
                                "sectionGroups(levels=max;expand=sections))")));
    ASSERT_EQ(Status(res), 200);
    const QJsonValue nb = JsonObject(res->body).value(u"value")[0];
    EXPECT_EQ(nb[u"sections"][0][u"displayName"].toString(), QStringLiteral("Meetings"));
    const QJsonValue old = nb[u"sectionGroups"][0][u"sectionGroups"][0][u"sectionGroups"][0];
    EXPECT_EQ(old[u"sections"][0][u"displayName"].toString(), QStringLiteral("Deep"));
    EXPECT_EQ(ClientUrl(nb), QStringLiteral("onenote:https://d.docs.live.net/") + account.cid
                                 + QStringLiteral("/Documents/Work Notes"));

    // The documented reply's keys in its order: the reply, a notebook, a section, a group
    // (ours may hold groups after the same keys).
    const QByteArray documented = Fixture("onenote/notebooks-expand.personal.json");
    const QByteArray body = QByteArray::fromStdString(res->body);
    for (const char *marker : {"", "\"value\":[", "\"sections\":["})
        EXPECT_EQ(KeyOrder(body, marker), KeyOrder(documented, marker)) << marker;
    const std::string group = KeyOrder(documented, "\"sectionGroups\":[");
    EXPECT_EQ(KeyOrder(body, "\"sectionGroups\":[").substr(0, group.size()), group);
}

TEST_F(GraphRoutes, PageListsPageWithTopAndNextLink)
{
    for (int i = 0; i < 130; ++i)
        ASSERT_TRUE(service->createPage(section.id, QStringLiteral("Page %1").arg(i)));
    QJsonObject reply;
    const auto list = [&](const QString &query) {
        const auto res = get(Me(QStringLiteral("sections/%1/pages").arg(section.id)) + query);
        EXPECT_EQ(Status(res), 200);
        reply = res ? JsonObject(res->body) : QJsonObject();
        return reply.value(u"value").toArray();
    };
    // Of the 131 pages: how many a query gets, and the end of the link onwards, if any.
    const std::tuple<const char *, int, const char *> lists[] = {
        {"", 20, "pages?$skip=20"}, // the default page size
        {"?skip=111", 20, nullptr},
        {"?top=100&skip=131", 0, nullptr},
        {"?top=100&skip=9223372036854775800", 0, nullptr},
        {"?top=100", 100, "pages?$top=100&$skip=100"},
    };
    for (const auto &[query, count, more] : lists) {
        EXPECT_EQ(list(QLatin1String(query)).size(), count) << query;
        EXPECT_TRUE(more ? reply.value(u"@odata.nextLink").toString().endsWith(QLatin1String(more))
                         : !reply.contains(u"@odata.nextLink"))
            << query;
    }
    const QJsonArray first = list(QStringLiteral("?top=100"));
    const QString next = reply.value(u"@odata.nextLink").toString();
    ASSERT_TRUE(next.startsWith(service->rootUrl())) << qPrintable(next);
    const QJsonArray rest = list(next.mid(next.indexOf(QStringLiteral("/pages")) + 6));
    EXPECT_EQ(first.size() + rest.size(), 131);
    EXPECT_FALSE(reply.contains(u"@odata.nextLink"));
    for (const QJsonValue &p : rest)
        EXPECT_FALSE(first.contains(p));

    // The last item is the first page: the documented keys in their order, links that name it.
    const auto res = get(Me(QStringLiteral("sections/%1/pages?skip=130").arg(section.id)));
    ASSERT_EQ(Status(res), 200);
    const std::string keys = KeyOrder(QByteArray::fromStdString(res->body), "\"value\":[");
    EXPECT_EQ(keys, KeyOrder(Fixture("onenote/section-pages.page2.json"), "\"value\":[")
                        .substr(0, keys.size()));
    const QJsonValue item = JsonObject(res->body).value(u"value")[0];
    EXPECT_TRUE(ClientUrl(item).contains(QStringLiteral("&page-id=") + page.clientGuid.toLower()
                                         + QStringLiteral("&end")));
    EXPECT_EQ(item[u"parentSection"][u"id"].toString(), section.id);
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
    ASSERT_EQ(Status(bytes), 200);
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
    EXPECT_EQ(Status(get(url)), 404);
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

    // A dropped update changes nothing either.
    service->setFault(QStringLiteral("patchContent"), {.kind = FaultKind::Drop});
    EXPECT_EQ(patch(QStringLiteral("[{'target':'body','action':'append','content':'<p>x</p>'}]")),
              -1);
    EXPECT_EQ(service->requestLog().back().status, 0);
    service->clearFaults();
    EXPECT_EQ(content(), before);
}

// Updates of one page from several clients at once: every one answered 204 is on the page.
TEST_F(GraphRoutes, ConcurrentUpdatesOfOnePageAreAllKept)
{
    std::atomic<int> accepted{0};
    std::vector<std::thread> clients;
    for (int k = 0; k < 4; ++k) {
        clients.emplace_back([&, k] {
            httplib::Client mine("127.0.0.1", service->port());
            for (int i = 0; i < 10; ++i) {
                const std::string body = "[{'target':'body','action':'append','content':'<p>w"
                                         + std::to_string(k * 10 + i) + "</p>'}]";
                accepted += Status(mine.Patch(fill(kContent).toStdString(), bearer(), body,
                                              "application/json"))
                            == 204;
            }
        });
    }
    for (std::thread &t : clients)
        t.join();
    EXPECT_EQ(accepted.load(), 40);
    const QString html = content();
    for (int n = 0; n < 40; ++n)
        EXPECT_TRUE(html.contains(QStringLiteral(">w%1</p>").arg(n))) << n;
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
            R"({"target":"body","action":"append","content":"<img onerror=\"steal()\" src=\"data:image/png;base64,iVBORw0KGgo=\" />"},)"
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
    EXPECT_FALSE(html.contains(QStringLiteral("onclick")) || html.contains(u"onerror"));
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
    const qsizetype type = sample.indexOf("Content-Type: ") + 14;
    EXPECT_EQ(patch(sample.mid(split + 4).replace("c442cfb3-6e89-28ed-dacd-c812120163c8",
                                                  page.elementGuid.toLatin1()),
                    sample.mid(type, sample.indexOf("\r\n", type) - type).constData()),
              204);
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
        Me(QStringLiteral("sections/%1/pages").arg(section.id)).toStdString(), bearer(),
        "<html><head><title>From the API</title></head><body><p>Hello</p></body></html>",
        "text/html");
    ASSERT_EQ(Status(res), 201);
    const QJsonObject created = JsonObject(res->body);
    EXPECT_EQ(created.value(u"title").toString(), QStringLiteral("From the API"));
    EXPECT_TRUE(service->pageHtml(created.value(u"id").toString()).contains(u">Hello</p>"));
}

TEST_F(GraphRoutes, OversizedBodiesGet413)
{
    ASSERT_NO_FATAL_FAILURE(start({.maxRequestBytes = 4096}));
    const std::string target = fill(kContent).toStdString();
    const QString append
        = QStringLiteral("[{'target':'body','action':'append','content':'<p>x</p>'}]");
    EXPECT_EQ(patch(append.leftJustified(4096)), 204); // at the limit
    EXPECT_EQ(patch(append.leftJustified(4097)), 413);
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
    ASSERT_EQ(Status(small), 413);
    EXPECT_NE(small->body.find("\"20007\""), std::string::npos);
    // Far past the limit the service stops reading: the client cannot send it all.
    const size_t huge = 256u * 1024 * 1024;
    const auto big = chunked(huge);
    EXPECT_TRUE(!big || big->status == 413);
    EXPECT_LT(sent, huge);
    EXPECT_EQ(content(), before);
}

TEST_F(GraphRoutes, FaultsComeFromTheTestRouteAndSkipThenApplyAsManyTimesAsTold)
{
    const auto post = [&](const QByteArray &body) {
        return Status(client->Post("/_test/faults", body.toStdString(), "application/json"));
    };
    EXPECT_EQ(post(R"({"route":"me","kind":"status","status":500})"), 404); // only when asked
    ASSERT_NO_FATAL_FAILURE(start({.testRoutes = true}));
    EXPECT_EQ(post(R"({"route":"me","kind":"status","status":500,"times":2,"skip":1})"), 204);
    std::vector<int> statuses;
    for (int i = 0; i < 4; ++i)
        statuses.push_back(Status(get(QStringLiteral("/v1.0/me"))));
    EXPECT_EQ(statuses, (std::vector<int>{200, 500, 500, 200}));
    EXPECT_EQ(post(R"({"route":"me","kind":"explode"})"), 400);
    // Every kind by its name; a fault on every route spares the route that clears it.
    for (const char *kind : {"status", "delay", "drop", "truncate", "malformed", "expiredToken",
                             "throttle", "imageDataIds", "optimizedImages"}) {
        EXPECT_EQ(post(QByteArray(R"({"route":"*","kind":")") + kind + R"(","delayMs":1})"), 204)
            << kind;
        EXPECT_EQ(post(R"({"route":"*","kind":"clear"})"), 204) << kind;
    }
    EXPECT_EQ(Status(get(QStringLiteral("/v1.0/me"))), 200);
}

} // namespace
