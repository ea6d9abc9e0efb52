#include "AppFakes.h"

#include "util/MStepCodes.h"

#include <QRegularExpression>

#include <gtest/gtest.h>

namespace Cogitra::Test {
namespace {

// One run at a time, from the command's busy check to the end of its worker, with the
// application launched, signed in, and the editor page loaded with a map.
class RunsTest : public AppTest
{
protected:
    void SetUp() override
    {
        AppTest::SetUp();
        signIn(QStringLiteral("acc"));
        discovery.found = true;
        discovery.page
            = {QStringLiteral("acc"),  QStringLiteral("{client}"), QStringLiteral("Weekly plan"),
               QStringLiteral("Work"), QStringLiteral("Projects"), QString()};
        launch();
        editor.answers[QStringLiteral("g_ZetPngResult")] = QStringLiteral("data:image/png;,");
        editor.finishLoading(*app, QStringLiteral(R"({"root":{}})"));
        g_OnlinePageId.set(QStringLiteral("page-id")); // as the open run located it
        endRunAndTick(Step::OpenDone);
        online.runs.clear();
    }
    // The sign-in window as it opens: the account emptied. withCode: the user signs in.
    void signInWindowWillClose(bool withCode)
    {
        shell.onLogin = [withCode] {
            for (auto *value :
                 {&g_AuthCode, &g_AccessToken, &g_RefreshToken, &g_AccountId, &g_UserId})
                value->set(QString());
            if (withCode)
                g_AuthCode.set(QStringLiteral("M.C123"));
        };
    }
    void pageSave() { app->JsCall(QStringLiteral("Save"), QUrl(app->editorUrl())); }
    void endRunAndTick(int64_t step)
    {
        endRun(step);
        tick();
    }
};

TEST_F(RunsTest, EverythingBetweenASaveAndItsWorkerIsRefused)
{
    pageSave();
    pageSave(); // a second click before the page has answered the first
    app->MenuItemOpenFromCurrentPage();
    app->JsCall(QStringLiteral("Open"), QUrl(app->editorUrl()));
    app->MenuItemSaveToCurrentPage();
    EXPECT_TRUE(app->isBusy());
    editor.flush();
    EXPECT_EQ(online.runs.size(), 1u);
    EXPECT_EQ(alert.messages, QStringList(4, Text("strBusy")));
    EXPECT_EQ(discovery.calls, 1) << "only the launch asked OneNote";

    pageSave(); // the run is going now
    editor.flush();
    EXPECT_EQ(online.runs.size(), 1u);
    endRunAndTick(Step::SaveDone);
    pageSave();
    editor.flush();
    EXPECT_EQ(online.runs.size(), 2u) << "a finished run leaves nothing pending";
}

TEST_F(RunsTest, ASaveThatStartsNoRunLeavesNothingPending)
{
    // No page to save to: the save stops after discovery.
    app->MenuItemSaveToCurrentPage();
    discovery.found = false;
    pageSave();
    editor.flush();
    ASSERT_TRUE(online.runs.empty());
    EXPECT_FALSE(app->isBusy());

    // A sign-in window is part of the command: a Save from the page meanwhile is refused.
    discovery.found = true;
    discovery.page.accountId = QStringLiteral("other");
    shell.onLogin = [this] {
        pageSave();
        editor.flush();
        g_AuthCode.set(QStringLiteral("M.C123"));
    };
    app->MenuItemOpenFromCurrentPage();
    EXPECT_EQ(online.runs.size(), 1u);
    EXPECT_EQ(alert.messages, QStringList{Text("strBusy")});
    endRunAndTick(Step::OpenDone);
    EXPECT_FALSE(app->isBusy());
}

TEST_F(RunsTest, OnlyASaveThatReachedThePageIsConfirmed)
{
    g_PageTitle.set(QStringLiteral("Weekly plan"));
    pageSave();
    editor.flush();
    endRunAndTick(Step::SaveReadingPage); // failed: its alert says so, the status bar does not
    EXPECT_TRUE(window.status.isEmpty());

    pageSave();
    editor.flush();
    g_PageTitle.set(QStringLiteral("Project map")); // as the worker read it from the page
    endRunAndTick(Step::SaveDone);
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^Saved to Project map at \\d\\d:\\d\\d$"))
                    .match(window.status)
                    .hasMatch())
        << window.status.toStdString();

    // Later ticks and an open run add nothing.
    window.status.clear();
    app->TimerRun();
    app->MenuItemOpenFromCurrentPage();
    endRunAndTick(Step::OpenDone);
    EXPECT_TRUE(window.status.isEmpty());
}

TEST_F(RunsTest, AfterASignOutEverythingSaysNobodyIsSignedIn)
{
    g_UserPrincipalName.set(QStringLiteral("ada@example.com"));
    app->SetMainWinTitle(QStringLiteral("Weekly plan"));
    app->TimerRun();
    ASSERT_TRUE(window.loginChecked);

    signInWindowWillClose(false); // Sign In as Another User, closed
    app->MenuItemLogoutClick();
    EXPECT_EQ(window.title, QStringLiteral("Weekly plan - ") + Text("appName"));
    EXPECT_FALSE(window.loginChecked);

    pageSave();
    editor.flush();
    EXPECT_EQ(alert.messages, QStringList{Text("strSignInNeeded")});
    EXPECT_EQ(shell.loginWindows.size(), 2u) << "the save asks for a sign-in";
    EXPECT_TRUE(online.runs.empty()) << "no run without an account";
    EXPECT_FALSE(app->isBusy());
}

TEST_F(RunsTest, AnAbandonedLoginUndoesTheOneBefore)
{
    signInWindowWillClose(true);
    app->MenuItemLoginClick();
    signInWindowWillClose(false);
    app->MenuItemLoginClick();

    app->MenuItemOpenFromCurrentPage();
    EXPECT_EQ(shell.loginWindows.size(), 3u) << "the open went ahead on the first code";
    EXPECT_TRUE(online.runs.empty());
}

} // namespace
} // namespace Cogitra::Test
