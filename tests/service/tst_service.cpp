#include "ServiceFixture.h"
#include "TestFiles.h"
#include "onenote/MOLONUtils.h"
#include "service/DemoSeed.h"
#include "service/HtmlFragment.h"
#include "service/JsonWriter.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QUrl>

#include <atomic>
#include <csignal>
#include <thread>

using namespace Cogitra::Service;

namespace {

// A reply's status; -1 when none came.
int Status(const httplib::Result &res)
{
    return res ? res->status : -1;
}

QString Me(const QString &rest)
{
    return QStringLiteral("/v1.0/me/onenote/") + rest;
}

const QString kScope = QStringLiteral(
    "offline_access%20User.Read%20Notes.Create%20Notes.ReadWrite%20Notes.ReadWrite.All");
const QString kLive = QStringLiteral("https://login.live.com/oauth20_desktop.srf");
const QString kAuthorize = QStringLiteral("/common/oauth2/v2.0/authorize");
const QString kToken = QStringLiteral("/common/oauth2/v2.0/token");

// The service with the seeded account and a valid token, and a plain HTTP client for it.
class ServiceTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(start());
        const Cogitra::Testing::SeededAccount seeded = fixture.seedAccount();
        account = seeded.account;
        notebook = seeded.notebook;
        section = seeded.section;
        page = seeded.page;
        token = service->mintTokens(account.cid)->accessToken;
    }

    // A second start restarts the service on the same data folder.
    void start(const ServiceOptions &options = {})
    {
        ASSERT_NO_FATAL_FAILURE(fixture.start({.options = options, .pointClient = false}));
        service = &fixture.service();
        client = std::make_unique<httplib::Client>("127.0.0.1", service->port());
        client->set_read_timeout(10);
    }

    httplib::Headers bearer() const { return {{"Authorization", "Bearer " + token.toStdString()}}; }
    httplib::Result get(const QString &target)
    {
        return client->Get(target.toStdString(), bearer());
    }
    httplib::Result post(const QString &target, const QString &body,
                         const char *type = "application/x-www-form-urlencoded")
    {
        return client->Post(target.toStdString(), body.toStdString(), type);
    }

    std::string contentTarget() const { return Me("pages/" + page.id + "/content").toStdString(); }
    int patch(const std::string &body)
    {
        return Status(client->Patch(contentTarget(), bearer(), body, "application/json"));
    }
    QString content()
    {
        const auto res = get(Me("pages/" + page.id + "/content?includeIDs=true"));
        return res ? QString::fromStdString(res->body) : QString();
    }
    // The authorize query as the sign-in window writes it: redirect URI unescaped.
    QString authorizeQuery(const QString &redirect = QString(), const QString &scope = kScope) const
    {
        return QStringLiteral("prompt=login&client_id=%1&response_type=code&response_mode=query"
                              "&scope=%2&redirect_uri=%3")
            .arg(service->clientId(), scope,
                 redirect.isEmpty() ? service->redirectUri() : redirect);
    }
    // Token requests exactly as the client sends them: nothing percent-encoded.
    QString grant(const QString &what, const QString &redirect = QString()) const
    {
        return QStringLiteral("grant_type=%1&client_id=%2&redirect_uri=%3")
            .arg(what, service->clientId(), redirect.isEmpty() ? service->redirectUri() : redirect);
    }

    Cogitra::Testing::ServiceFixture fixture;
    NotebookService *service = nullptr;
    std::unique_ptr<httplib::Client> client;
    Account account;
    Notebook notebook;
    Section section;
    Page page;
    QString token;
};

using GraphRoutes = ServiceTest;

// What the client does not ask: limits, ids that are no ids, others' data, bad tokens, list ends.
TEST_F(GraphRoutes, ServesOnlyWhatItMayAndPagesLongLists)
{
    for (int i = 0; i < 129; ++i)
        ASSERT_TRUE(service->createPage(section.id, QStringLiteral("Page %1").arg(i)));
    QString group; // "Deep" is three section groups down
    for (const char *name : {"Projects", "Archive", "Old"})
        group = service->createSectionGroup(notebook.id, group, QLatin1String(name))->id;
    (void)service->createSection(notebook.id, group, QStringLiteral("Deep"));
    const Account other = *service->createAccount(QStringLiteral("sam@example.com"),
                                                  QStringLiteral("pw"), QStringLiteral("Sam"));
    const Notebook theirs = *service->createNotebook(other.cid, QStringLiteral("Private"));
    const QString foreign = service->createSection(theirs.id, QString(), QStringLiteral("S"))->id;
    service->setAccessTokenLifetime(0);
    const std::string expired
        = "Bearer " + service->mintTokens(account.cid)->accessToken.toStdString();
    const std::string mine = bearer().begin()->second;
    const QString pages = Me("sections/" + section.id + "/pages");
    // clang-format off
    const struct { QString target; int status; const char *has; std::string authorization; const char *lacks = nullptr; } rows[] = {
        {Me("notebooks?expand=sections,sectionGroups(expand=sections,sectionGroups(levels=max;expand=sections))"), 200, R"("displayName":"Deep")", mine},
        {pages + "?top=101", 400, R"("code":"20129")", mine},
        {pages + "?top=0", 400, R"("code":"BadRequest")", mine},
        {pages + "?skip=-1", 400, R"("code":"BadRequest")", mine},
        {pages, 200, R"(pages?$skip=20")", mine}, // the default page size
        {pages + "?skip=111", 200, R"("value":[{)", mine, "nextLink"},
        {pages + "?top=100", 200, R"(pages?$top=100&$skip=100")", mine},
        {pages + "?top=100&skip=130", 200, R"("value":[])", mine, "nextLink"},
        {pages + "?top=100&skip=9223372036854775800", 200, R"("value":[])", mine, "nextLink"},
        {Me("resources/0-nope/$value"), 404, R"("code":"20102")", mine},
        // Ids reach the store as values, never as SQL: a quote in one finds nothing.
        {Me("pages/x'%20OR%20'1'='1/content"), 404, R"("code":"20102")", mine},
        {Me("sections/x'%20OR%20'1'='1/pages"), 404, R"("code":"20102")", mine},
        {Me("sections/") + foreign + "/pages", 404, "", mine},
        {QStringLiteral("/v1.0/users/sam@example.com/onenote/notebooks"), 403, "", mine},
        {"/v1.0/users/" + account.upn + "/onenote/notebooks", 200, "Work Notes", mine},
        {Me("notebooks"), 401, "Access token is empty.", ""},
        {Me("notebooks"), 401, "Access token is empty.", "Bearer "},
        {Me("notebooks"), 401, "CompactToken parsing failed with error code: 80049217", "Bearer EwBno"},
        {Me("notebooks"), 401, "Access token has expired or is not yet valid.", expired},
    };
    // clang-format on
    for (const auto &row : rows) {
        const std::string target = row.target.toStdString();
        SCOPED_TRACE(target + " " + row.authorization);
        httplib::Headers headers;
        if (!row.authorization.empty())
            headers.emplace("Authorization", row.authorization);
        const auto res = client->Get(target, headers);
        ASSERT_EQ(Status(res), row.status);
        EXPECT_NE(res->body.find(row.has), std::string::npos) << res->body;
        EXPECT_TRUE(!row.lacks || res->body.find(row.lacks) == std::string::npos) << res->body;
        EXPECT_EQ(res->has_header("WWW-Authenticate"), row.status == 401);
    }
    service->expireAccessTokens(account.cid);
    EXPECT_EQ(Status(get(Me(QStringLiteral("notebooks")))), 401);
}

// Appends land at the end of the body or element named, without scripts, also from several
// clients at once; a refused update leaves the page as it was, images of earlier commands too.
TEST_F(GraphRoutes, PatchAppendsAndReplacesWithoutScriptsAndRefusesBadBodiesWhole)
{
    const QString before = content();
    for (const std::string &body : {
             std::string("[{'target':'body','action':'append'"),
             std::string(R"({"target":"body"})"),
             std::string(100000, '[') + std::string(100000, ']'), // no stack to exhaust
             std::string("[{'target':'img:{00000000-0000-0000-0000-000000000000}{9}',"
                         "'action':'replace','content':'<p>x</p>'}]"),
             std::string("[{'target':'body','action':'append','content':'<img "
                         "src=\"data:image/png;base64,!!\" />'}]"),
             std::string("[{'target':'body','action':'append','content':'<img src=\"data:image/"
                         "png;base64,iVBORw0KGgo=\" />'},{'target':'body','action':'explode',"
                         "'content':'<p>x</p>'}]"),
         })
        EXPECT_EQ(patch(body), 400) << body.substr(0, 80);
    EXPECT_EQ(content(), before);
    EXPECT_TRUE(service->pageResources(page.id).empty());

    // Nested lists, entities, and elements left open.
    ASSERT_EQ(
        patch(
            R"([{"target":"body","action":"append","content":"<ul data-id=\"list\"><li>one<ul><li>in</li></ul></li></ul>"},)"
            R"({"target":"#list","action":"append","content":"<li>two</li>"},)"
            R"({"target":"body","action":"append","content":"<p onclick=\"steal()\">hi &amp; &#233;&#x4e2d;&bogus;<b>bold<script>alert(1)</script>"},)"
            R"({"target":"body","action":"append","content":"<img onerror=\"steal()\" src=\"data:image/png;base64,iVBORw0KGgo=\" />"}])"),
        204);
    QString html = content();
    const qsizetype two = html.indexOf(u">two</li></ul>\r\n");
    EXPECT_TRUE(html.indexOf(u">Agenda<") < html.indexOf(u">one<") && two > 0
                && two < html.indexOf(u">hi &amp; é中&amp;bogus;<b"))
        << qPrintable(html);
    EXPECT_TRUE(html.contains(u">bold</b></p>")) << qPrintable(html);
    EXPECT_FALSE(html.contains(u"script") || html.contains(u"onclick")
                 || html.contains(u"onerror"));
    const auto plain = client->Get(contentTarget(), bearer());
    EXPECT_TRUE(plain && plain->body.find("<b>bold</b>") != std::string::npos);
    const QString list = html.mid(html.indexOf(u"<ul id=\"") + 8).section(u'"', 0, 0);
    EXPECT_EQ(patch(R"([{"target":")" + list.toStdString()
                    + R"(","action":"replace","content":"<p>gone</p>"}])"),
              204);
    html = content();
    EXPECT_TRUE(html.contains(u">gone</p>") && !html.contains(u"<li")) << qPrintable(html);

    // Updates from several clients at once: every one answered 204 is on the page.
    std::atomic<int> accepted{0};
    std::vector<std::thread> clients;
    for (int k = 0; k < 4; ++k) {
        clients.emplace_back([&, k] {
            httplib::Client mine("127.0.0.1", service->port());
            for (int i = 0; i < 10; ++i)
                accepted += Status(mine.Patch(contentTarget(), bearer(),
                                              "[{'target':'body','action':'append','content':'<p>w"
                                                  + std::to_string(k * 10 + i) + "</p>'}]",
                                              "application/json"))
                            == 204;
        });
    }
    for (std::thread &t : clients)
        t.join();
    EXPECT_EQ(accepted.load(), 40);
    html = content();
    for (int n = 0; n < 40; ++n)
        EXPECT_TRUE(html.contains(QStringLiteral(">w%1</p>").arg(n))) << n;
}

// Faults by HTTP, only when asked; a chunked body is measured as it comes, and the service
// stops reading far past the limit.
TEST_F(GraphRoutes, FaultsComeFromTheTestRouteAndOversizedBodiesGet413)
{
    const auto fault = [&](const std::string &body) {
        return Status(client->Post("/_test/faults", body, "application/json"));
    };
    const std::string once = R"({"route":"me","kind":"status","status":500,"times":1})";
    EXPECT_EQ(fault(once), 404);
    ASSERT_NO_FATAL_FAILURE(start({.testRoutes = true, .maxRequestBytes = 4096}));
    EXPECT_EQ(fault(R"({"route":"me","kind":"explode"})"), 400);
    EXPECT_EQ(fault(once), 204);
    EXPECT_EQ(Status(get(QStringLiteral("/v1.0/me"))), 500);
    EXPECT_EQ(Status(get(QStringLiteral("/v1.0/me"))), 200);
    EXPECT_EQ(fault(R"({"route":"me","kind":"escapedSlashes","times":1})"), 204);
    const auto escaped = get(QStringLiteral("/v1.0/me"));
    EXPECT_TRUE(escaped && escaped->body.find(R"(http:\/\/)") != std::string::npos);

    const std::string append = "[{'target':'body','action':'append','content':'<p>x</p>'}]";
    EXPECT_EQ(patch(append + std::string(4096 - append.size(), ' ')), 204); // at the limit
    EXPECT_EQ(patch(append + std::string(4097 - append.size(), ' ')), 413);
    const QString before = content();
    size_t sent = 0;
    const auto chunked = [&](size_t total) {
        sent = 0;
        return client->Patch(
            contentTarget(), bearer(),
            [&, total](size_t, httplib::DataSink &sink) {
                const std::string piece(std::min<size_t>(16384, total - sent), ' ');
                if (!sink.write(piece.data(), piece.size()))
                    return false;
                if ((sent += piece.size()) >= total)
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

using IdentityRoutes = ServiceTest;

// In order: codes serve once, expire and are bound to their redirect URI; refresh tokens rotate.
TEST_F(IdentityRoutes, RefusesWhatWasNotIssuedForThisRequestAsThePlatformDoes)
{
    const QString id = service->clientId();
    const QString other = QStringLiteral("11111111-2222-3333-4444-555555555555");
    service->setCodeLifetime(0);
    const QString expired = service->mintAuthorizationCode(account.cid);
    service->setCodeLifetime(600);
    const QString code = service->mintAuthorizationCode(account.cid);
    const TokenPair first = *service->mintTokens(account.cid);
    // Refresh tokens hold the characters that need escaping in a form.
    EXPECT_TRUE(first.refreshToken.contains(u'!') || first.refreshToken.contains(u'*')
                || first.refreshToken.contains(u'$') || first.refreshToken.size() > 100);
    const QString consent = authorizeQuery();
    const char *grantRefused = R"("error":"invalid_grant","error_description":"AADSTS)";
    // A POST (target, body) or a GET; what the body or Location holds, and what it must not.
    // clang-format off
    const struct { QString target; QString body; int status; QByteArray has; const char *lacks = nullptr; } rows[] = {
        {kAuthorize, consent + "&loginfmt=avery.example%40outlook.com&passwd=nope", 200, "incorrect"},
        {kToken, grant("authorization_code&code=" + code), 200, "refresh_token"},
        {kToken, grant("authorization_code&code=" + code), 400, QByteArray(grantRefused) + "54005"},
        {kToken, grant("authorization_code&code=" + expired), 400, QByteArray(grantRefused) + "70008"},
        {kToken, grant("authorization_code&code=" + service->mintAuthorizationCode(account.cid), kLive), 400, QByteArray(grantRefused) + "70000"},
        {kToken, grant("authorization_code&code=M.C500_BAY.2.U.made-up"), 400, QByteArray(grantRefused) + "70000"},
        // The real redirect URI is accepted too, when the code was issued for it.
        {kToken, grant("authorization_code&code=" + service->mintAuthorizationCode(account.cid, kLive), kLive), 200, "access_token"},
        // Without offline access there is no refresh token.
        {kToken, grant("authorization_code&code=" + service->mintAuthorizationCode(account.cid, QString(), QStringLiteral("User.Read Notes.ReadWrite"))), 200, "access_token", "refresh_token"},
        {kToken, grant("refresh_token&refresh_token=" + first.refreshToken), 200, "refresh_token"},
        {kToken, grant("refresh_token&refresh_token=" + first.refreshToken), 400, QByteArray(grantRefused) + "70000"},
        {kToken, grant("refresh_token&refresh_token=" + first.accessToken), 400, QByteArray(grantRefused) + "70000"},
        {kToken, QStringLiteral("client_id=") + id, 400, R"("error":"invalid_request")"},
        {kToken, QStringLiteral("grant_type=authorization_code&code=x"), 400, "invalid_request"},
        {kToken, QStringLiteral("grant_type=refresh_token&client_id=") + id, 400, "invalid_request"},
        {kToken, QStringLiteral("grant_type=authorization_code&code=x&client_id=") + other, 400, R"("error":"unauthorized_client")"},
        {kToken, QStringLiteral("grant_type=password&client_id=") + id, 400, "unsupported_grant_type"},
        {kAuthorize + u'?' + authorizeQuery(QStringLiteral("https://evil.example/cb")), {}, 400, "", "code="},
        {kAuthorize + u'?' + QString(consent).replace(id, other), {}, 400, "", "code="},
        {kAuthorize + u'?' + authorizeQuery({}, QStringLiteral("Mail.Send")), {}, 302, "?error=invalid_scope"},
        {kAuthorize + u'?' + QString(consent).replace(QStringLiteral("response_type=code"), QStringLiteral("response_type=token")), {}, 302, "error=", "code="},
        // The desktop redirect page shows nothing of what it was given.
        {QStringLiteral("/oauth20_desktop.srf?code=M.C500_BAY.2.U.x&lc=1033"), {}, 200, "", "code"},
    };
    // clang-format on
    for (const auto &row : rows) {
        SCOPED_TRACE(qPrintable(row.target + u' ' + row.body));
        const auto res = row.body.isEmpty() ? client->Get(row.target.toStdString())
                                            : post(row.target, row.body);
        ASSERT_TRUE(res);
        EXPECT_EQ(res->status, row.status);
        const std::string seen
            = (res->status == 302 ? "" : res->body) + res->get_header_value("Location");
        EXPECT_NE(seen.find(row.has.toStdString()), std::string::npos) << seen;
        EXPECT_TRUE(!row.lacks || seen.find(row.lacks) == std::string::npos) << seen;
    }
}

// A restart keeps the pages, the selection and the tokens, on loopback only; the host list; the
// logs hold no secrets, but in memory when asked.
TEST_F(IdentityRoutes, ARestartKeepsEverythingAndTheLogsHoldNoSecrets)
{
    const TokenPair pair = *service->mintTokens(account.cid);
    ASSERT_TRUE(service->patchPage(page.id,
                                   "[{'target':'body','action':'append','content':'<img alt=\"a\" "
                                   "src=\"data:image/png;base64,iVBORw0KGgo=\" />'}]"));
    ASSERT_TRUE(service->selectPage(page.id));
    const QString link = service->selectionLink();
    const QByteArray picture = service->pageResources(page.id).at(0).data;
    const QString path = fixture.dataDir() + QStringLiteral("/requests.jsonl");
    ASSERT_NO_FATAL_FAILURE(start( // most likely on another port
        {.logFile = path,
         .hosts = {QStringLiteral("editor.ardentis.app"), QStringLiteral("127.0.0.1:8123")}}));
    EXPECT_EQ(service->selectionLink(), link);
    EXPECT_EQ(service->pageResources(page.id).at(0).data, picture);
    EXPECT_TRUE(
        service->pageHtml(page.id).contains(service->rootUrl() + QStringLiteral("/v1.0/users('")));
    // 127.0.0.2 is this machine too: a server on every address would answer it.
    EXPECT_FALSE(httplib::Client("127.0.0.2", service->port()).Get("/"));
    const auto hosts = client->Get("/uploads/soft/cogitra/hosts.txt");
    ASSERT_EQ(Status(hosts), 200);
    EXPECT_EQ(hosts->body, "editor.ardentis.app\n127.0.0.1:8123\n");
    EXPECT_EQ(Status(client->Get("/")), 200);
    token = pair.accessToken;
    EXPECT_EQ(Status(get(QStringLiteral("/v1.0/me"))), 200);
    EXPECT_EQ(Status(post(kToken, grant("refresh_token&refresh_token=" + pair.refreshToken))), 200);
    // The sign-in form reads its fields whatever the body claims to be.
    for (const char *type : {"application/x-www-form-urlencoded", "text/plain"})
        (void)post(kAuthorize,
                   authorizeQuery() + "&loginfmt=avery.example%40outlook.com&passwd=secret", type);
    (void)client->Get("/nowhere");
    service->stop(); // every request is logged once it is answered
    for (const LoggedRequest &entry : service->requestLog()) {
        EXPECT_FALSE(entry.body.contains(pair.refreshToken.toUtf8()));
        EXPECT_FALSE(entry.body.contains("secret"));
        EXPECT_FALSE(entry.header("Authorization").contains(token.toUtf8()));
    }
    const QByteArray file = Cogitra::Testing::ReadBytes(path);
    EXPECT_EQ(file.count('\n'), 7);
    EXPECT_FALSE(file.contains(token.toUtf8()));
    EXPECT_TRUE(file.contains("\"Bearer ***\"") && file.contains("\"status\":404")) << file.data();

    ASSERT_NO_FATAL_FAILURE(start());
    service->setRevealSecretsInLog(true);
    (void)get(QStringLiteral("/v1.0/me"));
    service->stop();
    EXPECT_EQ(service->requestLog().back().header("Authorization"), "Bearer " + token.toUtf8());
}

// The demo account, seeded once: its pages' links name them as the client reads them. The
// desktop page makes and selects pages; a page's view runs none of its scripts.
TEST_F(ServiceTest, TheDemoAccountsLinksAndTheDesktopPage)
{
    const DemoAccount demo = *service->seedDemo();
    const QString cid = demo.account.cid;
    EXPECT_EQ(service->selectedPageId(), demo.mapPageId);
    EXPECT_EQ(service->seedDemo()->mapPageId, demo.mapPageId); // seeding again finds it
    int pages = 0;
    for (const Section &where : service->store().allSections(cid)) {
        const QStringList folders = service->store().sectionFolders(where);
        for (const Page &p : service->store().pages(where.id, 0, 1000)) {
            const QString desktop = service->pageDesktopLink(p.id);
            SCOPED_TRACE(desktop.toStdString());
            ++pages;
            EXPECT_TRUE(Cogitra::IsOneNoteLink(desktop));
            EXPECT_EQ(Cogitra::PageTitleFromLink(desktop), p.title);
            // The last folder before the section file: the notebook, or the innermost group.
            EXPECT_EQ(Cogitra::NotebookNameFromLink(desktop), folders.last());
            EXPECT_EQ(Cogitra::SectionNameFromLink(desktop), where.name);
            EXPECT_EQ(Cogitra::AccountIdFromLink(desktop), cid);
            EXPECT_EQ(Cogitra::PageIdFromLink(desktop), p.clientGuid);
            const QString graphLink = service->pageClientUrl(p.id);
            EXPECT_EQ(Cogitra::PageIdFromLink(graphLink).toUpper(), p.clientGuid);
            EXPECT_EQ(Cogitra::AccountIdFromLink(graphLink), cid);
        }
    }
    EXPECT_GT(pages, 130);

    const auto created
        = post(QStringLiteral("/desktop/api/sections/%1/pages").arg(section.id),
               QStringLiteral(R"({"title":"Plan (v2) & more"})"), "application/json");
    ASSERT_EQ(Status(created), 201);
    const QString made
        = QJsonDocument::fromJson(created->body.c_str()).object().value(u"id").toString();
    const auto select = [&](const QString &id) {
        return Status(post(QStringLiteral("/desktop/api/selection"),
                           QStringLiteral(R"({"pageId":"%1"})").arg(id), "application/json"));
    };
    EXPECT_EQ(select(made), 200);
    EXPECT_EQ(select(QStringLiteral("0-nope")), 404);
    const auto tree = client->Get("/desktop/api/tree");
    ASSERT_EQ(Status(tree), 200);
    EXPECT_EQ(QJsonDocument::fromJson(tree->body.c_str())[u"selection"][u"pageId"].toString(),
              made);
    const auto view
        = client->Get(QStringLiteral("/desktop/api/pages/%1/view").arg(page.id).toStdString());
    ASSERT_EQ(Status(view), 200);
    EXPECT_NE(view->get_header_value("Content-Security-Policy").find("sandbox"), std::string::npos);
}

// Replies compact in insertion order, slashes as they are; void elements end at their tag and a
// torn tag is no element (the rest of the HTML is checked with the page updates).
TEST(ServiceData, JsonRepliesAndHtmlElements)
{
    Json json = Json::object();
    json.add(QStringLiteral("z"), "a/b&c")
        .add(QStringLiteral("a"), qint64(3))
        .add(QStringLiteral("q"), "\"\n\x01é");
    json.add(QStringLiteral("list"), Json::array().push(Json::null()).push(Json::boolean(true)));
    EXPECT_EQ(
        json.toCompact(),
        QByteArray(
            "{\"z\":\"a/b&c\",\"a\":3,\"q\":\"\\\"\\n\\u0001\xc3\xa9\",\"list\":[null,true]}"));

    const QString html = QStringLiteral("<img id=\"c\" src=\"s\"><p>x</p>");
    const auto image = FindElement(html, [](const HtmlToken &t) { return t.name == u"img"; });
    ASSERT_TRUE(image);
    EXPECT_EQ(image->innerBegin, image->end);
    EXPECT_EQ(image->end, html.indexOf(u"<p>"));
    EXPECT_FALSE(FindElement(QStringLiteral("<p <<< \"unterminated"),
                             [](const HtmlToken &) { return true; }));
}

QByteArray NextLine(QProcess &program)
{
    while (!program.canReadLine() && program.waitForReadyRead(20000)) {
    }
    return program.readLine();
}

// Given a data folder, the program prints its root URL first and ends cleanly on SIGTERM.
TEST(ServiceProgram, PrintsItsRootFirstAndStopsCleanlyOnSigterm)
{
    QProcess refused; // without a data folder
    refused.start(QStringLiteral(COGITRA_SERVICE_PROGRAM), {});
    ASSERT_TRUE(refused.waitForFinished(10000));
    EXPECT_NE(refused.exitCode(), 0);
    EXPECT_TRUE(refused.readAllStandardError().contains("--data"));
    QTemporaryDir data;
    QProcess program;
    program.start(QStringLiteral(COGITRA_SERVICE_PROGRAM),
                  {QStringLiteral("--data"), data.path(), QStringLiteral("--seed-demo")});
    ASSERT_TRUE(program.waitForStarted(10000));
    const QUrl root(QString::fromUtf8(NextLine(program)).trimmed());
    ASSERT_EQ(root.host(), QStringLiteral("127.0.0.1")) << qPrintable(root.toString());
    EXPECT_TRUE(NextLine(program).contains("demo@cogitra.test"));
    const auto selection = httplib::Client("127.0.0.1", root.port()).Get("/desktop/selection");
    ASSERT_TRUE(selection);
    EXPECT_EQ(selection->body.rfind("onenote:https://d.docs.live.net/", 0), 0u);

    ::kill(static_cast<pid_t>(program.processId()), SIGTERM);
    ASSERT_TRUE(program.waitForFinished(10000));
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 0);
}

} // namespace
