#include "AppFakes.h"

#include "app/MRecentPages.h"
#include "util/MGlobals.h"
#include "util/MStepCodes.h"

#include <gtest/gtest.h>

using namespace Cogitra;
using namespace Cogitra::Test;

namespace {

OneNotePageInfo Page(int n, const QString &title = QString())
{
    return {QStringLiteral("acc-1"),
            QStringLiteral("{P%1}").arg(n),
            title.isEmpty() ? QStringLiteral("Page %1").arg(n) : title,
            QStringLiteral("Work"),
            QStringLiteral("Inbox"),
            QStringLiteral("onenote:https://d.docs.live.net/acc-1/Documents/Work/Inbox.one#x")};
}

QStringList Titles(const QList<OneNotePageInfo> &pages)
{
    QStringList titles;
    for (const OneNotePageInfo &page : pages)
        titles << page.title;
    return titles;
}

class OpenPageTest : public AppTest
{
protected:
    // Started with nothing to open, the editor ready.
    void start()
    {
        launch();
        editor.finishLoading(*app, QStringLiteral(R"({"root":{"data":{"text":"Plans"}}})"));
        tick();
    }
    // The worker ends the open at step; a page it opened is titled as the page is online.
    void openEnds(int64_t step, const char *key = nullptr)
    {
        if (step == Step::OpenDone)
            g_PageTitle.set(QStringLiteral("Online title"));
        endRun(step, key);
        tick();
    }
};

// Signed out, Open Page asks for a sign-in before the picker; the page it opened goes first in
// Open Recent under its online title, and the next start reads the list back.
TEST_F(OpenPageTest, OpenPageSignsInFirstAndItsPageIsRecentAfterARestart)
{
    start();
    // The sign-in window empties the account as it opens, and is closed without a sign-in.
    shell.onLogin = [] {
        for (auto *value : {&g_AuthCode, &g_AccessToken, &g_RefreshToken, &g_UserId})
            value->set(QString());
    };
    app->MenuItemOpenPage();
    EXPECT_EQ(shell.pickerShown, 0) << "no sign-in, nothing to list";

    shell.onLogin = [] {
        g_AuthCode.set(QStringLiteral("M.C123"));
    };
    shell.pageLink = Page(1);
    alert.messages.clear();
    app->MenuItemOpenPage();
    EXPECT_EQ(alert.messages, QStringList{Text("strSignInNeeded")});
    EXPECT_EQ(shell.loginWindows.size(), 2u);
    ASSERT_EQ(shell.pickerShown, 1);
    ASSERT_EQ(online.runs.size(), 1u);
    EXPECT_TRUE(online.runs.back().DownloadCogitra);
    EXPECT_EQ(online.runs.back().Page, Page(1));
    openEnds(Step::OpenDone);

    ResetGlobalsForTesting();
    InitGlobals(dir.path());
    const QList<OneNotePageInfo> recent = LoadRecentPages();
    ASSERT_EQ(recent.size(), 1);
    EXPECT_EQ(recent[0].title, "Online title");
    EXPECT_EQ(recent[0].clientId, Page(1).clientId);
    EXPECT_EQ(recent[0].link, Page(1).link);
}

// Ten pages at most, newest first, each once; a recent page the service no longer has is
// dropped with a notice, one that could not be looked for stays.
TEST_F(OpenPageTest, KeepsTheTenNewestOnceAndDropsAPageThatIsGone)
{
    account = QStringLiteral("acc-1");
    start();
    for (int n = 1; n <= 12; ++n)
        RememberRecentPage(Page(n));
    RememberRecentPage(Page(5, QStringLiteral("Renamed")));
    EXPECT_EQ(Titles(LoadRecentPages()),
              (QStringList{"Renamed", "Page 12", "Page 11", "Page 10", "Page 9", "Page 8", "Page 7",
                           "Page 6", "Page 4", "Page 3"}));

    app->MenuItemOpenRecent(Page(3));
    openEnds(Step::ListingNotebooks, "errGetNotebooksSections");
    EXPECT_TRUE(Titles(LoadRecentPages()).contains("Page 3"));

    app->MenuItemOpenRecent(Page(3));
    ASSERT_EQ(online.runs.size(), 2u);
    openEnds(Step::SearchingNotebooks);
    EXPECT_EQ(window.notice, Text("strRecentPageGone").arg("Page 3"));
    EXPECT_EQ(LoadRecentPages().size(), 9);
    EXPECT_FALSE(Titles(LoadRecentPages()).contains("Page 3"));
}

// When OneNote gives no link, the message offers the picker and the link field, and the one
// chosen opens its page; a save without a page only says that no link came.
TEST_F(OpenPageTest, NoLinkFromOneNoteOffersThePickerAndTheLinkField)
{
    account = QStringLiteral("acc-1");
    discovery.untold = QStringLiteral("errGetPageLink");
    shell.otherWay = OtherWayAnswer::OpenPage;
    shell.pageLink = Page(1);
    start();
    EXPECT_EQ(shell.otherWayMessages, QStringList{Text("errGetPageLinkOffer")});
    EXPECT_EQ(shell.pickerShown, 1);
    ASSERT_EQ(online.runs.size(), 1u);
    EXPECT_EQ(online.runs.back().Page, Page(1));
    openEnds(Step::OpenDone);

    shell.otherWay = OtherWayAnswer::OpenPageLink;
    shell.pageLink = Page(2);
    app->MenuItemOpenFromCurrentPage();
    tick();
    EXPECT_EQ(shell.pickerShown, 1);
    ASSERT_EQ(online.runs.size(), 2u);
    EXPECT_EQ(online.runs.back().Page, Page(2));
    openEnds(Step::OpenDone);

    alert.messages.clear();
    app->MenuItemSaveToCurrentPage();
    editor.answers[QStringLiteral("g_ZetPngResult")] = QStringLiteral("data:image/png;base64,iVBO");
    jsCall("Save");
    EXPECT_EQ(alert.messages, QStringList{Text("errGetPageLink")});
    EXPECT_EQ(shell.otherWayMessages.size(), 2);
    EXPECT_EQ(online.runs.size(), 2u);
}

} // namespace
