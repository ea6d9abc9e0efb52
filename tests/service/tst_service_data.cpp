#include "ServiceTestSupport.h"

#include "onenote/MOLONUtils.h"
#include "service/DemoSeed.h"

using namespace Cogitra::Service;
using namespace Cogitra::Service::Testing;

namespace {

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

} // namespace
