#include "ServiceTestSupport.h"

#include <atomic>
#include <thread>

using namespace Cogitra::Service;
using namespace Cogitra::Service::Testing;

namespace {

const QString kContent = Me(QStringLiteral("pages/{page}/content"));

class GraphRoutes : public ServiceTest
{
protected:
    QString fill(QString text) const
    {
        return text.replace(QStringLiteral("{cid}"), account.cid)
            .replace(QStringLiteral("{upn}"), account.upn)
            .replace(QStringLiteral("{page}"), page.id)
            .replace(QStringLiteral("{section}"), section.id);
    }

    int patch(const QString &body)
    {
        return Status(client->Patch(fill(kContent).toStdString(), bearer(), body.toStdString(),
                                    "application/json"));
    }

    QString content()
    {
        const auto res = get(fill(Me(QStringLiteral("pages/{page}/content?includeIDs=true"))));
        return res ? QString::fromStdString(res->body) : QString();
    }
};

// What the client's own runs do not reach: limits past what it asks for, ids that are no ids,
// other people's data, and tokens that are no tokens. {foreign} is another account's section.
TEST_F(GraphRoutes, RefusesWhatItMustNotServe)
{
    const Account other = *service->createAccount(QStringLiteral("sam@example.com"),
                                                  QStringLiteral("pw"), QStringLiteral("Sam"));
    const Notebook theirs = *service->createNotebook(other.cid, QStringLiteral("Private"));
    const QString foreign = service->createSection(theirs.id, QString(), QStringLiteral("S"))->id;
    service->setAccessTokenLifetime(0);
    const std::string expired
        = "Bearer " + service->mintTokens(account.cid)->accessToken.toStdString();
    const std::string mine = bearer().begin()->second;
    // clang-format off
    const struct { QString target; int status; const char *has; std::string authorization; } rows[] = {
        {Me("sections/{section}/pages?top=101"), 400, R"("code":"20129")", mine},
        {Me("sections/{section}/pages?top=0"), 400, R"("code":"BadRequest")", mine},
        {Me("sections/{section}/pages?skip=-1"), 400, R"("code":"BadRequest")", mine},
        {Me("resources/0-nope/$value"), 404, R"("code":"20102")", mine},
        // Ids reach the store as values, never as SQL: a quote in one finds nothing.
        {Me("pages/x'%20OR%20'1'='1/content"), 404, R"("code":"20102")", mine},
        {Me("sections/x'%20OR%20'1'='1/pages"), 404, R"("code":"20102")", mine},
        {Me("sections/{foreign}/pages"), 404, "", mine},
        {QStringLiteral("/v1.0/users/sam@example.com/onenote/notebooks"), 403, "", mine},
        {QStringLiteral("/v1.0/users/{upn}/onenote/notebooks"), 200, "Work Notes", mine},
        {Me("notebooks"), 401, "Access token is empty.", ""},
        {Me("notebooks"), 401, "Access token is empty.", "Bearer "},
        {Me("notebooks"), 401, "CompactToken parsing failed with error code: 80049217", "Bearer EwBno"},
        {Me("notebooks"), 401, "Access token has expired or is not yet valid.", expired},
    };
    // clang-format on
    for (const auto &row : rows) {
        const std::string target
            = fill(row.target).replace(QStringLiteral("{foreign}"), foreign).toStdString();
        SCOPED_TRACE(target + " " + row.authorization);
        httplib::Headers headers;
        if (!row.authorization.empty())
            headers.emplace("Authorization", row.authorization);
        const auto res = client->Get(target, headers);
        ASSERT_EQ(Status(res), row.status);
        EXPECT_NE(res->body.find(row.has), std::string::npos) << res->body;
        EXPECT_EQ(res->has_header("WWW-Authenticate"), row.status == 401);
    }
    service->expireAccessTokens(account.cid);
    EXPECT_EQ(Status(get(Me(QStringLiteral("notebooks")))), 401);
}

TEST_F(GraphRoutes, NotebookTreeExpandsSectionGroupsToAnyDepth)
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
}

// Of 131 pages: how many a query gets, and the end of its next link, if any.
TEST_F(GraphRoutes, PageListsPageWithTopSkipAndNextLink)
{
    for (int i = 0; i < 130; ++i)
        ASSERT_TRUE(service->createPage(section.id, QStringLiteral("Page %1").arg(i)));
    const std::tuple<const char *, int, const char *> lists[] = {
        {"", 20, "pages?$skip=20"}, // the default page size
        {"?skip=111", 20, nullptr},
        {"?top=100&skip=131", 0, nullptr},
        {"?top=100&skip=9223372036854775800", 0, nullptr},
        {"?top=100", 100, "pages?$top=100&$skip=100"},
    };
    for (const auto &[query, count, more] : lists) {
        const auto res = get(Me(QStringLiteral("sections/%1/pages").arg(section.id)) + query);
        ASSERT_EQ(Status(res), 200) << query;
        const QJsonObject reply = JsonObject(res->body);
        EXPECT_EQ(reply.value(u"value").toArray().size(), count) << query;
        EXPECT_TRUE(more ? reply.value(u"@odata.nextLink").toString().endsWith(QLatin1String(more))
                         : !reply.contains(u"@odata.nextLink"))
            << query;
    }
}

// A refused update leaves the page as it was, also when an earlier command took in an image.
TEST_F(GraphRoutes, PatchRefusesBadBodiesAndTargetsWithoutChangingThePage)
{
    const QString before = content();
    for (const char *body : {
             "[{'target':'body','action':'append'",
             "{\"target\":\"body\"}",
             "[{'target':'img:{00000000-0000-0000-0000-000000000000}{9}','action':'replace',"
             "'content':'<p>x</p>'}]",
             "[{'target':'body','action':'append','content':'<img "
             "src=\"data:image/png;base64,!!\" />'}]",
             "[{'target':'body','action':'append','content':'<img src=\"data:image/png;base64,"
             "iVBORw0KGgo=\" />'},{'target':'body','action':'explode','content':'<p>x</p>'}]",
         })
        EXPECT_EQ(patch(QString::fromUtf8(body)), 400) << body;
    EXPECT_EQ(content(), before);
    EXPECT_TRUE(service->pageResources(page.id).empty());
}

// Updates of one page from several clients at once: every one answered 204 is on the page.
TEST_F(GraphRoutes, ConcurrentUpdatesOfOnePageAreAllKept)
{
    std::atomic<int> accepted{0};
    std::vector<std::thread> clients;
    for (int k = 0; k < 4; ++k) {
        clients.emplace_back([&, k] {
            httplib::Client mine("127.0.0.1", service->port());
            for (int i = 0; i < 10; ++i)
                accepted += Status(mine.Patch(fill(kContent).toStdString(), bearer(),
                                              "[{'target':'body','action':'append','content':'<p>w"
                                                  + std::to_string(k * 10 + i) + "</p>'}]",
                                              "application/json"))
                            == 204;
        });
    }
    for (std::thread &t : clients)
        t.join();
    EXPECT_EQ(accepted.load(), 40);
    const QString html = content();
    for (int n = 0; n < 40; ++n)
        EXPECT_TRUE(html.contains(QStringLiteral(">w%1</p>").arg(n))) << n;
}

// Appends go to the end of the body or of the element named; what the content brings of scripts
// never reaches the page, which the desktop notebook shows to the person.
TEST_F(GraphRoutes, PatchAppendsAndReplacesWithoutScripts)
{
    ASSERT_EQ(
        patch(QStringLiteral(
            R"([{"target":"body","action":"append","content":"<ul data-id=\"list\"><li>one</li></ul>"},)"
            R"({"target":"#list","action":"append","content":"<li>two</li>"},)"
            R"({"target":"body","action":"append","content":"<p onclick=\"steal()\">hi<script>alert(1)</script></p>"},)"
            R"({"target":"body","action":"append","content":"<img onerror=\"steal()\" src=\"data:image/png;base64,iVBORw0KGgo=\" />"}])")),
        204);
    QString html = content();
    const qsizetype two = html.indexOf(u">two</li></ul>");
    EXPECT_TRUE(html.indexOf(u">Agenda<") < html.indexOf(u">one<") && two > 0
                && two < html.indexOf(u">hi</p>"))
        << qPrintable(html);
    EXPECT_FALSE(html.contains(u"script") || html.contains(u"onclick")
                 || html.contains(u"onerror"));
    const QString list = html.mid(html.indexOf(u"<ul id=\"") + 8).section(u'"', 0, 0);
    EXPECT_EQ(
        patch(QStringLiteral(R"([{"target":"%1","action":"replace","content":"<p>gone</p>"}])")
                  .arg(list)),
        204);
    html = content();
    EXPECT_TRUE(html.contains(u">gone</p>") && !html.contains(u">one<")) << qPrintable(html);
}

TEST_F(GraphRoutes, OversizedBodiesGet413)
{
    ASSERT_NO_FATAL_FAILURE(start({.maxRequestBytes = 4096}));
    const QString append
        = QStringLiteral("[{'target':'body','action':'append','content':'<p>x</p>'}]");
    EXPECT_EQ(patch(append.leftJustified(4096)), 204); // at the limit
    EXPECT_EQ(patch(append.leftJustified(4097)), 413);
    const QString before = content();

    // A chunked body announces no length: it is measured as it comes, and far past the limit
    // the service stops reading, so that the client cannot send it all.
    size_t sent = 0;
    const auto chunked = [&](size_t total) {
        sent = 0;
        return client->Patch(
            fill(kContent).toStdString(), bearer(),
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
    EXPECT_EQ(Status(chunked(8192)), 413);
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
