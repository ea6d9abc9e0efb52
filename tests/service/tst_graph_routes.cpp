#include "ServiceTestSupport.h"

#include <QJsonArray>
#include <QUrlQuery>

#include <atomic>
#include <thread>

using namespace Cogitra::Service;
using namespace Cogitra::Service::Testing;

namespace {

// The first JSON object in the text, up to its own closing brace.
QByteArray FirstObject(const QByteArray &text)
{
    int depth = 0;
    bool inString = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (inString) {
            if (c == '\\')
                ++i;
            else if (c == '"')
                inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '{' || c == '[') {
            ++depth;
        } else if ((c == '}' || c == ']') && --depth == 0) {
            return text.left(i + 1);
        }
    }
    return text;
}

std::string InnerErrorKeys(const std::string &body)
{
    const QByteArray text = QByteArray::fromStdString(body);
    const qsizetype at = text.indexOf("\"innerError\":");
    return at < 0 ? std::string() : KeyOrder(text.mid(at + 13));
}

class GraphRoutes : public ServiceTest
{
protected:
    void SetUp() override
    {
        ServiceTest::SetUp();
        makeAccount();
    }

    QJsonArray pageList(const QString &sectionId, const QString &query,
                        QJsonObject *reply = nullptr)
    {
        const auto res = get(graph(QStringLiteral("sections/%1/pages%2").arg(sectionId, query)));
        EXPECT_TRUE(res);
        if (!res)
            return {};
        EXPECT_EQ(res->status, 200) << res->body;
        const QJsonObject object = JsonObject(res->body);
        if (reply)
            *reply = object;
        return object.value(QStringLiteral("value")).toArray();
    }

    int patch(const QString &body)
    {
        httplib::Headers headers = bearer();
        const auto res = client->Patch(
            graph(QStringLiteral("pages/%1/content").arg(page.id)).toStdString().c_str(), headers,
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

TEST_F(GraphRoutes, MeHasTheKeysOfAPersonalAccountInTheirOrder)
{
    const auto res = get(QStringLiteral("/v1.0/me"));
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200);
    EXPECT_EQ(KeyOrder(QByteArray::fromStdString(res->body)),
              KeyOrder(Fixture("identity/me.personal.json")));
    const QJsonObject me = JsonObject(res->body);
    EXPECT_EQ(me.value(QStringLiteral("id")).toString(), account.cid);
    EXPECT_EQ(me.value(QStringLiteral("userPrincipalName")).toString(), account.upn);
    // The client cuts values out of compact text: no blank after a colon.
    EXPECT_NE(res->body.find("\"id\":\"" + account.cid.toStdString() + "\""), std::string::npos);
}

TEST_F(GraphRoutes, NotebookTreeExpandsSectionGroupsToAnyDepth)
{
    const SectionGroup outer
        = *service->createSectionGroup(notebook.id, QString(), QStringLiteral("Projects"));
    const SectionGroup inner
        = *service->createSectionGroup(notebook.id, outer.id, QStringLiteral("Archive"));
    const SectionGroup innermost
        = *service->createSectionGroup(notebook.id, inner.id, QStringLiteral("Old"));
    (void)service->createSection(notebook.id, innermost.id, QStringLiteral("Deep"));
    const auto res
        = get(graph(QStringLiteral("notebooks?expand=sections,sectionGroups(expand=sections,"
                                   "sectionGroups(levels=max;expand=sections))")));
    ASSERT_TRUE(res);
    ASSERT_EQ(res->status, 200) << res->body;
    const QJsonObject tree = JsonObject(res->body);
    const QJsonObject nb = tree.value(QStringLiteral("value")).toArray().at(0).toObject();
    EXPECT_EQ(nb.value(QStringLiteral("displayName")).toString(), QStringLiteral("Work Notes"));
    EXPECT_EQ(nb.value(QStringLiteral("sections"))
                  .toArray()
                  .at(0)
                  .toObject()
                  .value(QStringLiteral("displayName")),
              QStringLiteral("Meetings"));
    QJsonObject group = nb.value(QStringLiteral("sectionGroups")).toArray().at(0).toObject();
    for (const char *name : {"Projects", "Archive", "Old"}) {
        EXPECT_EQ(group.value(QStringLiteral("displayName")).toString(), QLatin1String(name));
        EXPECT_TRUE(group.value(QStringLiteral("sections")).isArray()) << name;
        if (QLatin1String(name) == QLatin1String("Old"))
            break;
        group = group.value(QStringLiteral("sectionGroups")).toArray().at(0).toObject();
    }
    EXPECT_EQ(group.value(QStringLiteral("sections"))
                  .toArray()
                  .at(0)
                  .toObject()
                  .value(QStringLiteral("displayName")),
              QStringLiteral("Deep"));
    const QString href = nb.value(QStringLiteral("links"))
                             .toObject()
                             .value(QStringLiteral("oneNoteClientUrl"))
                             .toObject()
                             .value(QStringLiteral("href"))
                             .toString();
    EXPECT_EQ(href, QStringLiteral("onenote:https://d.docs.live.net/") + account.cid
                        + QStringLiteral("/Documents/Work Notes"));

    // The same keys as the documented reply, in its order, for the reply, a notebook, a
    // section and a section group.
    const QByteArray fixture = Fixture("onenote/notebooks-expand.personal.json");
    const QByteArray body = QByteArray::fromStdString(res->body);
    EXPECT_EQ(KeyOrder(body), KeyOrder(fixture));
    const auto objectAfter = [](const QByteArray &text, const QByteArray &marker) {
        const qsizetype at = text.indexOf(marker);
        return at < 0 ? QByteArray() : FirstObject(text.mid(at + marker.size()));
    };
    EXPECT_EQ(KeyOrder(objectAfter(body, "\"value\":[")),
              KeyOrder(objectAfter(fixture, "\"value\":[")));
    EXPECT_EQ(KeyOrder(objectAfter(body, "\"sections\":[")),
              KeyOrder(objectAfter(fixture, "\"sections\":[")));
    // The fixture's groups hold no groups; ours may, after the same keys.
    const QStringList groupKeys = KeyList(objectAfter(body, "\"sectionGroups\":["));
    const QStringList fixtureGroupKeys = KeyList(objectAfter(fixture, "\"sectionGroups\":["));
    ASSERT_GE(groupKeys.size(), fixtureGroupKeys.size());
    EXPECT_EQ(groupKeys.mid(0, fixtureGroupKeys.size()), fixtureGroupKeys);
}

TEST_F(GraphRoutes, NotebooksWithoutExpandCarryNoSections)
{
    const auto res = get(graph(QStringLiteral("notebooks")));
    ASSERT_TRUE(res);
    const QJsonObject nb
        = JsonObject(res->body).value(QStringLiteral("value")).toArray().at(0).toObject();
    EXPECT_FALSE(nb.contains(QStringLiteral("sections")));
    EXPECT_TRUE(nb.contains(QStringLiteral("sectionsUrl")));
    const auto bad = get(graph(QStringLiteral("notebooks?$expand=sections(")));
    ASSERT_TRUE(bad);
    EXPECT_EQ(bad->status, 400);
}

TEST_F(GraphRoutes, PageListsPageWithTopAndNextLink)
{
    for (int i = 0; i < 130; ++i)
        ASSERT_TRUE(service->createPage(section.id, QStringLiteral("Page %1").arg(i)));
    QJsonObject reply;
    EXPECT_EQ(pageList(section.id, QString(), &reply).size(), 20); // the default page size
    EXPECT_TRUE(reply.value(QStringLiteral("@odata.nextLink"))
                    .toString()
                    .endsWith(QStringLiteral("pages?$skip=20")));

    const QJsonArray first = pageList(section.id, QStringLiteral("?top=100"), &reply);
    EXPECT_EQ(first.size(), 100);
    const QString next = reply.value(QStringLiteral("@odata.nextLink")).toString();
    ASSERT_TRUE(next.startsWith(service->rootUrl()));
    const QJsonArray rest
        = pageList(section.id, next.mid(next.indexOf(QStringLiteral("/pages")) + 6), &reply);
    EXPECT_EQ(rest.size(), 31);
    EXPECT_FALSE(reply.contains(QStringLiteral("@odata.nextLink")));
    QStringList ids;
    for (const QJsonValue &p : first)
        ids << p.toObject().value(QStringLiteral("id")).toString();
    for (const QJsonValue &p : rest)
        EXPECT_FALSE(ids.contains(p.toObject().value(QStringLiteral("id")).toString()));

    // Past the end: an empty list and no link onwards, however far the skip.
    for (const QString &far : {QStringLiteral("?top=100&skip=131"),
                               QStringLiteral("?top=100&skip=9223372036854775800")}) {
        EXPECT_TRUE(pageList(section.id, far, &reply).isEmpty()) << qPrintable(far);
        EXPECT_FALSE(reply.contains(QStringLiteral("@odata.nextLink"))) << qPrintable(far);
    }

    const auto tooMany = get(graph(QStringLiteral("sections/%1/pages?top=101").arg(section.id)));
    ASSERT_TRUE(tooMany);
    EXPECT_EQ(tooMany->status, 400);
    EXPECT_EQ(JsonObject(tooMany->body)
                  .value(QStringLiteral("error"))
                  .toObject()
                  .value(QStringLiteral("code")),
              QStringLiteral("20129"));
}

TEST_F(GraphRoutes, PageListItemsFollowTheRealShape)
{
    const auto res = get(graph(QStringLiteral("sections/%1/pages?top=100").arg(section.id)));
    ASSERT_TRUE(res);
    const QJsonObject item
        = JsonObject(res->body).value(QStringLiteral("value")).toArray().at(0).toObject();
    const QByteArray body = QByteArray::fromStdString(res->body);
    const QByteArray itemText = body.mid(body.indexOf("\"value\":[") + 9);
    const QByteArray fixture = Fixture("onenote/section-pages.page2.json");
    const QByteArray fixtureItem = fixture.mid(fixture.indexOf("\"value\":[") + 9);
    const QStringList keys = KeyList(itemText);
    EXPECT_EQ(keys.join(u','), KeyList(fixtureItem).mid(0, keys.size()).join(u','));
    const QString href = item.value(QStringLiteral("links"))
                             .toObject()
                             .value(QStringLiteral("oneNoteClientUrl"))
                             .toObject()
                             .value(QStringLiteral("href"))
                             .toString();
    EXPECT_TRUE(href.contains(QStringLiteral("&page-id=") + page.clientGuid.toLower()
                              + QStringLiteral("&end")))
        << qPrintable(href);
    EXPECT_EQ(item.value(QStringLiteral("parentSection"))
                  .toObject()
                  .value(QStringLiteral("id"))
                  .toString(),
              section.id);
}

TEST_F(GraphRoutes, ContentCarriesGeneratedIdsOnlyWhenAsked)
{
    const QString withIds = content();
    EXPECT_TRUE(withIds.contains(QStringLiteral("<title>Weekly sync</title>")));
    EXPECT_TRUE(
        withIds.contains(QStringLiteral("id=\"p:{") + page.elementGuid + QStringLiteral("}{")));
    EXPECT_TRUE(withIds.contains(QStringLiteral("\r\n\t\t\t<p id=")));
    const auto plain = get(graph(QStringLiteral("pages/%1/content").arg(page.id)));
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain->get_header_value("Content-Type"), "text/html");
    EXPECT_EQ(plain->body.find(" id=\""), std::string::npos);
    EXPECT_NE(plain->body.find("data-id=\"_default\""), std::string::npos);
}

// The two bodies the client sends, character for character.
TEST_F(GraphRoutes, PatchAppendsThenReplacesTheClientsImages)
{
    const QByteArray gif = QByteArray("GIF89a\x02\x00\x03\x00", 10) + QByteArray(20, 'x');
    const QString b64 = QString::fromLatin1(gif.toBase64());
    ASSERT_EQ(patch(QStringLiteral(
                        "[{'target':'body','action':'append','content':'<div><img alt=\"ZetGif\" "
                        "src=\"data:image/png;base64,%1\" /></div>'}]")
                        .arg(b64)),
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
    const QString url = src.left(src.indexOf(u'"'));

    const auto bytes = get(url.mid(service->rootUrl().size()));
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
    EXPECT_EQ(service->pageResources(page.id).size(), 1u); // the replaced image's bytes are gone
    EXPECT_EQ(service->pageResources(page.id).front().data, png);
    const auto old = get(url.mid(service->rootUrl().size()));
    ASSERT_TRUE(old);
    EXPECT_EQ(old->status, 404);
}

TEST_F(GraphRoutes, PatchRefusesBadBodiesAndTargetsWithoutChangingThePage)
{
    const QString before = content();
    EXPECT_EQ(patch(QStringLiteral("[{'target':'body','action':'append'")), 400);
    EXPECT_EQ(patch(QStringLiteral("{\"target\":\"body\"}")), 400);
    EXPECT_EQ(patch(QStringLiteral(
                  "[{'target':'img:{00000000-0000-0000-0000-000000000000}{9}','action':'replace',"
                  "'content':'<p>x</p>'}]")),
              400);
    EXPECT_EQ(patch(QStringLiteral("[{'target':'body','action':'append','content':'<p>kept?</p>'},"
                                   "{'target':'body','action':'explode','content':'<p>x</p>'}]")),
              400);
    EXPECT_EQ(patch(QStringLiteral("[{'target':'body','action':'append','content':'<img "
                                   "src=\"data:image/png;base64,!!\" />'}]")),
              400);
    // An image taken in by a command before the refused one is not kept either.
    const QString imageThenBad = QStringLiteral(
        "[{'target':'body','action':'append','content':'<img src=\"data:image/png;base64,"
        "iVBORw0KGgo=\" />'},{'target':'body','action':'explode','content':'<p>x</p>'}]");
    EXPECT_EQ(patch(imageThenBad), 400);
    EXPECT_FALSE(service->patchPage(page.id, imageThenBad.toUtf8()));
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
            EXPECT_TRUE(html.contains(QStringLiteral(">w%1-%2</p>").arg(k).arg(i)))
                << k << "-" << i;
    }
}

TEST_F(GraphRoutes, PatchDropsScriptsAndEventAttributes)
{
    ASSERT_EQ(
        patch(QStringLiteral("[{\"target\":\"body\",\"action\":\"append\",\"content\":"
                             "\"<p onclick=\\\"steal()\\\">hi<script>alert(1)</script></p>\"}]")),
        204);
    const QString html = content();
    EXPECT_TRUE(html.contains(QStringLiteral(">hi</p>")));
    EXPECT_FALSE(html.contains(QStringLiteral("script")));
    EXPECT_FALSE(html.contains(QStringLiteral("onclick")));
}

TEST_F(GraphRoutes, PatchActionsPlaceContentWhereTheDocumentationSays)
{
    ASSERT_EQ(
        patch(QStringLiteral(
            R"([{"target":"body","action":"append","content":"<ul data-id=\"list\"><li>one</li></ul>"},)"
            R"({"target":"#list","action":"append","content":"<li>two</li>"},)"
            R"({"target":"#list","action":"prepend","content":"<li>zero</li>"},)"
            R"({"target":"#list","action":"insert","position":"before","content":"<p>before</p>"},)"
            R"({"target":"#list","action":"insert","position":"after","content":"<p>after</p>"},)"
            R"({"target":"body","action":"prepend","content":"<p>first</p>"},)"
            R"({"target":"title","action":"replace","content":"Renamed &amp; done"}])")),
        204);
    const QString html = content();
    const QStringList order
        = {QStringLiteral(">first<"), QStringLiteral(">Agenda<"), QStringLiteral(">before<"),
           QStringLiteral(">zero<"),  QStringLiteral(">one<"),    QStringLiteral(">two<"),
           QStringLiteral(">after<")};
    qsizetype at = 0;
    for (const QString &text : order) {
        const qsizetype next = html.indexOf(text, at);
        EXPECT_GT(next, at) << qPrintable(text) << "\n" << qPrintable(html);
        at = std::max(at, next);
    }
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
    const qsizetype type = head.indexOf("Content-Type: ");
    const QByteArray contentType = head.mid(type + 14, head.indexOf("\r\n", type) - type - 14);
    const auto res = client->Patch(
        graph(QStringLiteral("pages/%1/content").arg(page.id)).toStdString().c_str(), bearer(),
        body.toStdString(), contentType.constData());
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
    httplib::Headers headers = bearer();
    const auto res = client->Post(
        graph(QStringLiteral("sections/%1/pages").arg(section.id)).toStdString().c_str(), headers,
        "<html><head><title>From the API</title></head><body><p>Hello</p></body></html>",
        "text/html");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 201) << res->body;
    const QJsonObject created = JsonObject(res->body);
    EXPECT_EQ(created.value(QStringLiteral("title")).toString(), QStringLiteral("From the API"));
    EXPECT_TRUE(service->pageHtml(created.value(QStringLiteral("id")).toString())
                    .contains(QStringLiteral(">Hello</p>")));
}

TEST_F(GraphRoutes, TokensAreCheckedWithTheRealErrorObjects)
{
    struct Case
    {
        std::string authorization;
        QString message;
    };
    const QString expired = [&] {
        service->setAccessTokenLifetime(0);
        return service->mintTokens(account.cid)->accessToken;
    }();
    const std::vector<Case> cases = {
        {"", QStringLiteral("Access token is empty.")},
        {"Bearer ", QStringLiteral("Access token is empty.")},
        {"Bearer EwBnotatoken",
         QStringLiteral("CompactToken parsing failed with error code: 80049217")},
        {"Bearer " + expired.toStdString(),
         QStringLiteral("Access token has expired or is not yet valid.")},
    };
    for (const Case &c : cases) {
        httplib::Headers headers;
        if (!c.authorization.empty())
            headers.emplace("Authorization", c.authorization);
        const auto res
            = client->Get(graph(QStringLiteral("notebooks")).toStdString().c_str(), headers);
        ASSERT_TRUE(res);
        EXPECT_EQ(res->status, 401);
        const QJsonObject error = JsonObject(res->body).value(QStringLiteral("error")).toObject();
        EXPECT_EQ(error.value(QStringLiteral("code")).toString(),
                  QStringLiteral("InvalidAuthenticationToken"));
        EXPECT_EQ(error.value(QStringLiteral("message")).toString(), c.message);
        EXPECT_EQ(
            KeyOrder(QByteArray::fromStdString(res->body).mid(9)),
            KeyOrder(FixtureBody("errors/401-InvalidAuthenticationToken.expired.http").mid(9)));
        EXPECT_EQ(
            InnerErrorKeys(res->body),
            InnerErrorKeys(
                FixtureBody("errors/401-InvalidAuthenticationToken.expired.http").toStdString()));
        EXPECT_FALSE(res->get_header_value("WWW-Authenticate").empty());
    }
    service->expireAccessTokens(account.cid);
    const auto res = get(graph(QStringLiteral("notebooks")));
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 401);
}

TEST_F(GraphRoutes, UnknownIdsAndOtherUsersGive404And403)
{
    // Ids reach the store as values, never as SQL: a quote in one finds nothing.
    for (const QString &target : {graph(QStringLiteral("pages/0-nope!1-x/content")),
                                  graph(QStringLiteral("pages/x'%20OR%20'1'='1/content")),
                                  graph(QStringLiteral("sections/x'%20OR%20'1'='1/pages")),
                                  graph(QStringLiteral("sections/0-nope/pages")),
                                  graph(QStringLiteral("resources/0-nope/$value")),
                                  graph(QStringLiteral("notebooks/0-nope"))}) {
        const auto res = get(target);
        ASSERT_TRUE(res);
        EXPECT_EQ(res->status, 404) << qPrintable(target);
        EXPECT_EQ(KeyOrder(QByteArray::fromStdString(res->body).mid(9)),
                  KeyOrder(Fixture("errors/404-20102.current-order.json").mid(9)));
        EXPECT_EQ(InnerErrorKeys(res->body),
                  InnerErrorKeys(Fixture("errors/404-20102.current-order.json").toStdString()));
    }
    const Account other = *service->createAccount(QStringLiteral("sam@example.com"),
                                                  QStringLiteral("pw"), QStringLiteral("Sam"));
    const Notebook theirs = *service->createNotebook(other.cid, QStringLiteral("Private"));
    const Section theirSection = *service->createSection(theirs.id, QString(), QStringLiteral("S"));
    const auto foreign = get(graph(QStringLiteral("sections/%1/pages").arg(theirSection.id)));
    ASSERT_TRUE(foreign);
    EXPECT_EQ(foreign->status, 404);
    const auto otherUser = get(QStringLiteral("/v1.0/users/sam@example.com/onenote/notebooks"));
    ASSERT_TRUE(otherUser);
    EXPECT_EQ(otherUser->status, 403);
    for (const QString &self :
         {QStringLiteral("/v1.0/users/%1/onenote/notebooks").arg(account.upn),
          QStringLiteral("/v1.0/users/%1/onenote/notebooks").arg(account.cid),
          QStringLiteral("/v1.0/users('%1')/onenote/notebooks").arg(account.upn)}) {
        const auto res = get(self);
        ASSERT_TRUE(res);
        EXPECT_EQ(res->status, 200) << qPrintable(self);
    }
}

TEST_F(GraphRoutes, OversizedBodiesGet413)
{
    ServiceOptions options;
    options.maxRequestBytes = 4096;
    startService(options);
    token = service->mintTokens(account.cid)->accessToken;
    const auto res = client->Patch(
        graph(QStringLiteral("pages/%1/content").arg(page.id)).toStdString().c_str(), bearer(),
        std::string(8192, 'x'), "application/json");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 413);
    const QString before = content();

    // A chunked body announces no length: it is measured as it comes.
    const auto chunked = [&](size_t total, size_t *sent) {
        *sent = 0;
        return client->Patch(
            graph(QStringLiteral("pages/%1/content").arg(page.id)).toStdString().c_str(), bearer(),
            [&, total](size_t, httplib::DataSink &sink) {
                const std::string piece(std::min<size_t>(16384, total - *sent), ' ');
                if (!sink.write(piece.data(), piece.size()))
                    return false;
                *sent += piece.size();
                if (*sent >= total)
                    sink.done();
                return true;
            },
            "application/json");
    };
    size_t sent = 0;
    const auto small = chunked(8192, &sent);
    ASSERT_TRUE(small);
    EXPECT_EQ(small->status, 413);
    EXPECT_NE(small->body.find("\"20007\""), std::string::npos);
    // Far past the limit the service stops reading: the client cannot send it all.
    const size_t huge = 256u * 1024 * 1024;
    const auto big = chunked(huge, &sent);
    if (big) {
        EXPECT_EQ(big->status, 413);
    }
    EXPECT_LT(sent, huge);
    EXPECT_EQ(content(), before);
}

} // namespace
