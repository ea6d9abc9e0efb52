#include "onenote/MCurrentPage.h"
#include "onenote/MOLONUtils.h"
#include "platform/DesktopServiceAutomation.h"
#include "platform/MemoryClipboard.h"
#include "service/NotebookService.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace Cogitra;
using namespace std::chrono_literals;

void PrintTo(const QString &text, std::ostream *os)
{
    *os << '"' << text.toStdString() << '"';
}

// Discovery on Linux, end to end: the keystroke script answered by the local notebook
// service's desktop notebook, the link read back off the clipboard.
TEST(DiscoveryAgainstTheService, FindsTheSelectedPageOrNone)
{
    QTemporaryDir dir;
    Service::ServiceOptions options;
    options.dataDir = dir.path();
    auto service = std::make_unique<Service::NotebookService>(options);
    ASSERT_TRUE(service->start());
    MemoryClipboard clipboard;
    OneNotePageInfo page;
    auto discover = [&](const QString &root) {
        DesktopServiceAutomation automation(clipboard, root, 5s, [](std::chrono::milliseconds) {});
        return MCurrentPage(automation, clipboard).ReadCurrentPage(page);
    };

    EXPECT_EQ(discover(service->rootUrl()), "errGetPageLink") << "nothing selected yet";
    const std::optional<Service::DemoAccount> demo = service->seedDemo();
    ASSERT_TRUE(demo.has_value());
    for (const QString &pageId : {demo->mapPageId, demo->nonAsciiPageId}) {
        ASSERT_TRUE(service->selectPage(pageId));
        const std::optional<Service::Page> selected = service->page(pageId);
        ASSERT_TRUE(selected.has_value());
        clipboard.setText("the user's text");
        EXPECT_EQ(discover(service->rootUrl()), QString());
        EXPECT_EQ(page.title, selected->title);
        EXPECT_EQ(page.clientId, selected->clientGuid);
        EXPECT_EQ(page.accountId, demo->account.cid);
        EXPECT_FALSE(page.notebookName.isEmpty() || page.sectionName.isEmpty());
        EXPECT_EQ(clipboard.text(), QString("the user's text"));
        // The online service's own link for the page names the same page and account.
        const QString clientUrl = service->pageClientUrl(pageId);
        EXPECT_EQ(PageIdFromLink(clientUrl).compare(page.clientId, Qt::CaseInsensitive), 0);
        EXPECT_EQ(AccountIdFromLink(clientUrl), page.accountId);
    }
    const QString root = service->rootUrl();
    service->stop();
    EXPECT_EQ(discover(root), "errGetPageLink") << "the service does not answer";
}
