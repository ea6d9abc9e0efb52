#include "ServiceTestSupport.h"

#include "attachment/TZetGifAttachment.h"
#include "onenote/MOLONUtils.h"
#include "service/DemoSeed.h"

#include <QFile>
#include <QJsonArray>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace Cogitra::Service;
using namespace Cogitra::Service::Testing;

namespace {

class ServiceData : public ServiceTest
{
};

TEST_F(ServiceData, EverythingSurvivesARestart)
{
    makeAccount();
    const TokenPair pair = *service->mintTokens(account.cid);
    ASSERT_TRUE(service->patchPage(page.id,
                                   "[{'target':'body','action':'append','content':'<img alt=\"a\" "
                                   "src=\"data:image/png;base64,iVBORw0KGgo=\" />'}]"));
    ASSERT_TRUE(service->selectPage(page.id));
    const QString link = service->selectionLink();
    const std::vector<Resource> resources = service->pageResources(page.id);
    ASSERT_EQ(resources.size(), 1u);

    startService(); // the same data folder, most likely another port
    token = pair.accessToken;
    const auto notebooks = get(graph(QStringLiteral("notebooks")));
    ASSERT_TRUE(notebooks);
    EXPECT_EQ(notebooks->status, 200);
    EXPECT_NE(notebooks->body.find("Work Notes"), std::string::npos);
    EXPECT_EQ(service->selectionLink(), link);
    EXPECT_EQ(service->pageResources(page.id).front().data, resources.front().data);
    EXPECT_TRUE(
        service->pageHtml(page.id).contains(service->rootUrl() + QStringLiteral("/v1.0/users('")));
    const auto renewed = client->Post(
        "/common/oauth2/v2.0/token",
        QString("grant_type=refresh_token&client_id=" + service->clientId()
                + "&refresh_token=" + pair.refreshToken + "&redirect_uri=" + service->redirectUri())
            .toStdString(),
        "application/x-www-form-urlencoded");
    ASSERT_TRUE(renewed);
    EXPECT_EQ(renewed->status, 200);
}

// 127.0.0.2 is this machine too: a server on every address would answer it.
TEST_F(ServiceData, ListensOnLoopbackOnly)
{
    const auto connects = [](const char *address, quint16 port) {
        const int sock = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(port);
        ::inet_pton(AF_INET, address, &to.sin_addr);
        const bool ok = ::connect(sock, reinterpret_cast<const sockaddr *>(&to), sizeof to) == 0;
        ::close(sock);
        return ok;
    };
    const int everywhere = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in any{};
    any.sin_family = AF_INET;
    any.sin_addr.s_addr = htonl(INADDR_ANY);
    socklen_t size = sizeof any;
    ASSERT_EQ(::bind(everywhere, reinterpret_cast<const sockaddr *>(&any), sizeof any), 0);
    ASSERT_EQ(::listen(everywhere, 1), 0);
    ASSERT_EQ(::getsockname(everywhere, reinterpret_cast<sockaddr *>(&any), &size), 0);
    const bool probeWorks = connects("127.0.0.2", ntohs(any.sin_port));
    ::close(everywhere);
    if (!probeWorks)
        GTEST_SKIP() << "127.0.0.2 does not reach this machine here";
    EXPECT_TRUE(connects("127.0.0.1", service->port()));
    EXPECT_FALSE(connects("127.0.0.2", service->port()));
}

TEST_F(ServiceData, DesktopSelectionGivesTheCopyLinkOfThePage)
{
    makeAccount();
    const auto none = client->Get("/desktop/selection");
    ASSERT_TRUE(none);
    EXPECT_EQ(none->status, 404);
    EXPECT_TRUE(none->body.empty());

    const auto desktop = client->Get("/desktop/");
    ASSERT_TRUE(desktop);
    EXPECT_EQ(desktop->status, 200);
    EXPECT_NE(desktop->body.find("Select this page"), std::string::npos);

    const auto created = client->Post(
        QString("/desktop/api/sections/" + section.id + "/pages").toStdString().c_str(),
        R"({"title":"Plan (v2) & more"})", "application/json");
    ASSERT_TRUE(created);
    ASSERT_EQ(created->status, 201);
    const QString pageId = JsonObject(created->body).value(QStringLiteral("id")).toString();
    const auto selected = client->Post("/desktop/api/selection",
                                       QString("{\"pageId\":\"" + pageId + "\"}").toStdString(),
                                       "application/json");
    ASSERT_TRUE(selected);
    EXPECT_EQ(selected->status, 200);
    const auto link = client->Get("/desktop/selection");
    ASSERT_TRUE(link);
    EXPECT_EQ(link->status, 200);
    const Page created_ = *service->page(pageId);
    EXPECT_EQ(QString::fromStdString(link->body),
              QStringLiteral("onenote:https://d.docs.live.net/") + account.cid
                  + QStringLiteral(
                      "/Documents/Work%20Notes/Meetings.one#Plan%20(v2)%20%26%20more&section-id={")
                  + section.clientGuid + QStringLiteral("}&page-id={") + created_.clientGuid
                  + QStringLiteral("}&end"));

    const auto tree = client->Get("/desktop/api/tree");
    ASSERT_TRUE(tree);
    EXPECT_EQ(JsonObject(tree->body)
                  .value(QStringLiteral("selection"))
                  .toObject()
                  .value(QStringLiteral("pageId")),
              pageId);
    const auto view
        = client->Get(QString("/desktop/api/pages/" + page.id + "/view").toStdString().c_str());
    ASSERT_TRUE(view);
    EXPECT_EQ(view->status, 200);
    EXPECT_NE(view->get_header_value("Content-Security-Policy").find("sandbox"), std::string::npos);
    const auto unknown
        = client->Post("/desktop/api/selection", R"({"pageId":"0-nope"})", "application/json");
    ASSERT_TRUE(unknown);
    EXPECT_EQ(unknown->status, 404);
}

TEST_F(ServiceData, MakersSiteListsHostsOneALine)
{
    ServiceOptions options;
    options.hosts = {QStringLiteral("editor.ardentis.app"), QStringLiteral("127.0.0.1:8123")};
    startService(options);
    const auto hosts = client->Get("/uploads/soft/cogitra/hosts.txt");
    ASSERT_TRUE(hosts);
    EXPECT_EQ(hosts->status, 200);
    EXPECT_EQ(hosts->body, "editor.ardentis.app\n127.0.0.1:8123\n");
    const auto home = client->Get("/");
    ASSERT_TRUE(home);
    EXPECT_EQ(home->status, 200);
}

TEST_F(ServiceData, TheLogFileHoldsOneMaskedLineARequest)
{
    const QString path = dataDir.filePath(QStringLiteral("requests.jsonl"));
    ServiceOptions options;
    options.logFile = path;
    startService(options);
    makeAccount();
    (void)get(QStringLiteral("/v1.0/me"));
    (void)client->Get("/nowhere");
    service->stop();
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = file.readAll().trimmed().split('\n');
    ASSERT_EQ(lines.size(), 2);
    const QJsonObject first = QJsonDocument::fromJson(lines[0]).object();
    EXPECT_EQ(first.value(QStringLiteral("target")).toString(), QStringLiteral("/v1.0/me"));
    EXPECT_EQ(first.value(QStringLiteral("route")).toString(), QStringLiteral("me"));
    EXPECT_FALSE(lines[0].contains(token.toUtf8()));
    EXPECT_TRUE(lines[0].contains("Bearer ***"));
    EXPECT_EQ(QJsonDocument::fromJson(lines[1]).object().value(QStringLiteral("status")).toInt(),
              404);
}

class DemoAccountTest : public ServiceTest
{
protected:
    void SetUp() override
    {
        ServiceTest::SetUp();
        demo = *service->seedDemo();
        account = demo.account;
        token = service->mintTokens(account.cid)->accessToken;
    }

    // Every page of the account, with its section.
    std::vector<std::pair<Section, Page>> allPages()
    {
        std::vector<std::pair<Section, Page>> out;
        for (const Section &s : service->store().allSections(account.cid)) {
            for (const Page &p : service->store().pages(s.id, 0, 1000))
                out.emplace_back(s, p);
        }
        return out;
    }

    DemoAccount demo;
};

TEST_F(DemoAccountTest, HoldsWhatTheDemoPromises)
{
    EXPECT_EQ(demo.upn, QLatin1String(kDemoUser));
    EXPECT_TRUE(service->store().checkPassword(demo.upn, QLatin1String(kDemoPassword)));
    EXPECT_EQ(service->store().notebooks(account.cid).size(), 2u);
    EXPECT_GT(service->store().pageCount(demo.bigSectionId), 100);
    EXPECT_EQ(service->page(demo.nonAsciiPageId)->title,
              QStringLiteral("Ideen & Pläne: Straße — 思维导图"));
    EXPECT_EQ(service->pageResources(demo.imagesPageId).size(), 2u);
    EXPECT_EQ(service->selectedPageId(), demo.mapPageId);
    // Seeding again finds the same account.
    EXPECT_EQ(service->seedDemo()->mapPageId, demo.mapPageId);
}

TEST_F(DemoAccountTest, TheMapPageCarriesCogitrasContainer)
{
    const QString html = service->pageHtml(demo.mapPageId);
    const QString url = Cogitra::TZetGifAttachment::GetZetGifUrlFromPageHtml(html);
    ASSERT_TRUE(url.startsWith(service->rootUrl())) << qPrintable(html);
    EXPECT_FALSE(
        Cogitra::TZetGifAttachment::GetZetGifIdFromPageHtml(html, QStringLiteral("ZetCogitra"))
            .isEmpty());
    const auto bytes = get(url.mid(service->rootUrl().size()));
    ASSERT_TRUE(bytes);
    ASSERT_EQ(bytes->status, 200);
    QFile templateFile(Cogitra::TZetGifAttachment::TemplatePath());
    ASSERT_TRUE(templateFile.open(QIODevice::ReadOnly));
    const std::optional<QString> json
        = Cogitra::ParseContainer(templateFile.size(), QByteArray::fromStdString(bytes->body));
    ASSERT_TRUE(json);
    EXPECT_EQ(json->toUtf8(), DemoMapJson());
}

// What the client reads from the links must name the page the service holds.
TEST_F(DemoAccountTest, EveryPagesLinksParseBackToItsNamesAndIds)
{
    const auto pages = allPages();
    ASSERT_GT(pages.size(), 130u);
    for (const auto &[where, p] : pages) {
        const QString desktop = service->pageDesktopLink(p.id);
        const QStringList folders = service->store().sectionFolders(where);
        SCOPED_TRACE(desktop.toStdString());
        EXPECT_TRUE(Cogitra::IsOneNoteLink(desktop));
        EXPECT_EQ(Cogitra::PageTitleFromLink(desktop), p.title);
        // The last folder before the section file: the notebook, or the innermost group.
        EXPECT_EQ(Cogitra::NotebookNameFromLink(desktop), folders.last());
        EXPECT_EQ(Cogitra::SectionNameFromLink(desktop), where.name);
        EXPECT_EQ(Cogitra::AccountIdFromLink(desktop), account.cid);
        EXPECT_EQ(Cogitra::PageIdFromLink(desktop), p.clientGuid);

        const QString graphLink = service->pageClientUrl(p.id);
        EXPECT_EQ(Cogitra::PageIdFromLink(graphLink).toUpper(), p.clientGuid);
        EXPECT_EQ(Cogitra::AccountIdFromLink(graphLink), account.cid);
    }
    const auto tree = get(graph(QStringLiteral("notebooks")));
    ASSERT_TRUE(tree);
    for (const QJsonValue &nb : JsonObject(tree->body).value(QStringLiteral("value")).toArray()) {
        const QString href = nb.toObject()
                                 .value(QStringLiteral("links"))
                                 .toObject()
                                 .value(QStringLiteral("oneNoteClientUrl"))
                                 .toObject()
                                 .value(QStringLiteral("href"))
                                 .toString();
        EXPECT_EQ(Cogitra::AccountIdFromLink(href), account.cid);
    }
}

} // namespace
