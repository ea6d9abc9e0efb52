#include "ServiceTestSupport.h"
#include "TestFiles.h"

#include "attachment/TZetGifAttachment.h"
#include "onenote/MOLONUtils.h"
#include "service/DemoSeed.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace Cogitra::Service;
using namespace Cogitra::Service::Testing;

namespace {

using ServiceData = ServiceTest;

TEST_F(ServiceData, EverythingSurvivesARestart)
{
    const TokenPair pair = *service->mintTokens(account.cid);
    ASSERT_TRUE(service->patchPage(page.id,
                                   "[{'target':'body','action':'append','content':'<img alt=\"a\" "
                                   "src=\"data:image/png;base64,iVBORw0KGgo=\" />'}]"));
    ASSERT_TRUE(service->selectPage(page.id));
    const QString link = service->selectionLink();
    const std::vector<Resource> resources = service->pageResources(page.id);
    ASSERT_EQ(resources.size(), 1u);

    ASSERT_NO_FATAL_FAILURE(start()); // most likely on another port
    const auto notebooks = get(Me(QStringLiteral("notebooks")));
    ASSERT_EQ(Status(notebooks), 200);
    EXPECT_NE(notebooks->body.find("Work Notes"), std::string::npos);
    EXPECT_EQ(service->selectionLink(), link);
    EXPECT_EQ(service->pageResources(page.id).front().data, resources.front().data);
    EXPECT_TRUE(
        service->pageHtml(page.id).contains(service->rootUrl() + QStringLiteral("/v1.0/users('")));
    EXPECT_EQ(
        Status(post(QStringLiteral("/common/oauth2/v2.0/token"),
                    QStringLiteral("grant_type=refresh_token&client_id=") + service->clientId()
                        + QStringLiteral("&refresh_token=") + pair.refreshToken)),
        200);
}

// 127.0.0.2 is this machine too: a server on every address would answer it.
TEST_F(ServiceData, ListensOnLoopbackOnly)
{
    const auto connects = [](const char *address, quint16 port) {
        const int sock = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in to{.sin_family = AF_INET, .sin_port = htons(port)};
        ::inet_pton(AF_INET, address, &to.sin_addr);
        const bool ok = ::connect(sock, reinterpret_cast<const sockaddr *>(&to), sizeof to) == 0;
        ::close(sock);
        return ok;
    };
    const int everywhere = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in any{.sin_family = AF_INET, .sin_addr = {htonl(INADDR_ANY)}};
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

// The desktop page's own calls: a page made and selected there is the one the selection names;
// a page's view runs none of the page's scripts.
TEST_F(ServiceData, DesktopPageMakesAndSelectsPages)
{
    const auto created
        = post(QStringLiteral("/desktop/api/sections/%1/pages").arg(section.id),
               QStringLiteral(R"({"title":"Plan (v2) & more"})"), "application/json");
    ASSERT_EQ(Status(created), 201);
    const QString made = JsonObject(created->body).value(u"id").toString();
    const auto select = [&](const QString &id) {
        return Status(post(QStringLiteral("/desktop/api/selection"),
                           QStringLiteral(R"({"pageId":"%1"})").arg(id), "application/json"));
    };
    EXPECT_EQ(select(made), 200);
    EXPECT_EQ(select(QStringLiteral("0-nope")), 404);
    const auto tree = client->Get("/desktop/api/tree");
    ASSERT_EQ(Status(tree), 200);
    EXPECT_EQ(JsonObject(tree->body).value(u"selection")[u"pageId"].toString(), made);
    const auto view
        = client->Get(QStringLiteral("/desktop/api/pages/%1/view").arg(page.id).toStdString());
    ASSERT_EQ(Status(view), 200);
    EXPECT_NE(view->get_header_value("Content-Security-Policy").find("sandbox"), std::string::npos);
}

// What scripts/run and the host window read: the hosts one a line, and a log file of one
// masked line a request.
TEST_F(ServiceData, MakersSiteListsHostsAndTheLogFileHoldsOneMaskedLineARequest)
{
    const QString path = fixture.dataDir() + QStringLiteral("/requests.jsonl");
    ASSERT_NO_FATAL_FAILURE(start(
        {.logFile = path,
         .hosts = {QStringLiteral("editor.ardentis.app"), QStringLiteral("127.0.0.1:8123")}}));
    const auto hosts = client->Get("/uploads/soft/cogitra/hosts.txt");
    ASSERT_EQ(Status(hosts), 200);
    EXPECT_EQ(hosts->body, "editor.ardentis.app\n127.0.0.1:8123\n");
    EXPECT_EQ(Status(client->Get("/")), 200);
    (void)get(QStringLiteral("/v1.0/me"));
    (void)client->Get("/nowhere");
    service->stop();
    const QList<QByteArray> lines = Cogitra::Testing::ReadBytes(path).trimmed().split('\n');
    ASSERT_EQ(lines.size(), 4);
    EXPECT_EQ(QJsonDocument::fromJson(lines[2]).object().value(u"route").toString(), u"me");
    EXPECT_FALSE(lines[2].contains(token.toUtf8()));
    EXPECT_TRUE(lines[2].contains("Bearer ***"));
    EXPECT_EQ(QJsonDocument::fromJson(lines[3]).object().value(u"status").toInt(), 404);
}

TEST_F(ServiceData, TheDemoAccountHoldsWhatItPromisesAndItsMapCarriesCogitrasContainer)
{
    const DemoAccount demo = *service->seedDemo();
    const QString cid = demo.account.cid;
    EXPECT_EQ(demo.upn, QLatin1String(kDemoUser));
    EXPECT_TRUE(service->store().checkPassword(demo.upn, QLatin1String(kDemoPassword)));
    EXPECT_EQ(service->store().notebooks(cid).size(), 2u);
    EXPECT_GT(service->store().pageCount(demo.bigSectionId), 100);
    EXPECT_EQ(service->page(demo.nonAsciiPageId)->title,
              QStringLiteral("Ideen & Pläne: Straße — 思维导图"));
    EXPECT_EQ(service->pageResources(demo.imagesPageId).size(), 2u);
    EXPECT_EQ(service->selectedPageId(), demo.mapPageId);
    EXPECT_EQ(service->seedDemo()->mapPageId, demo.mapPageId); // seeding again finds it

    const QString html = service->pageHtml(demo.mapPageId);
    const QString url = Cogitra::TZetGifAttachment::GetZetGifUrlFromPageHtml(html);
    ASSERT_TRUE(url.startsWith(service->rootUrl())) << qPrintable(html);
    EXPECT_FALSE(
        Cogitra::TZetGifAttachment::GetZetGifIdFromPageHtml(html, QStringLiteral("ZetCogitra"))
            .isEmpty());
    token = service->mintTokens(cid)->accessToken;
    const auto bytes = get(url.mid(service->rootUrl().size()));
    ASSERT_EQ(Status(bytes), 200);
    QFile templateFile(Cogitra::TZetGifAttachment::TemplatePath());
    ASSERT_TRUE(templateFile.open(QIODevice::ReadOnly));
    const std::optional<QString> json
        = Cogitra::ParseContainer(templateFile.size(), QByteArray::fromStdString(bytes->body));
    ASSERT_TRUE(json);
    EXPECT_EQ(json->toUtf8(), DemoMapJson());

    // What the client reads from the links must name the page the service holds.
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
}

} // namespace
