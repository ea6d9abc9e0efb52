#include "AppFakes.h"

#include "app/AppDelegate.h"
#include "app/MMapBackup.h"
#include "util/MAlert.h"
#include "util/MConfig.h"
#include "util/MGlobals.h"
#include "util/MStrings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace Cogitra::Test {
namespace {

const QString MapJson = QStringLiteral(R"({"root":{"data":{"text":"Plans"}}})");

QString Text(const char *key)
{
    return LocalizedString(QString::fromLatin1(key));
}

OneNotePageInfo PageOf(const QString &account)
{
    return {account,
            QStringLiteral("{page-client-id}"),
            QStringLiteral("Weekly plan"),
            QStringLiteral("Work"),
            QStringLiteral("Projects"),
            QStringLiteral("onenote:https://d.docs.live.net/") + account
                + QStringLiteral("/Documents/Work/Group/Projects.one#Weekly%20plan"
                                 "&section-id={s}&page-id={page-client-id}&end")};
}

class AppDelegateTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ResetGlobalsForTesting();
        SetLanguage(QStringLiteral("en"));
        ASSERT_TRUE(dir.isValid());
    }
    void TearDown() override { ResetGlobalsForTesting(); }

    void launch()
    {
        app.awakeFromNib(dir.path());
        app.applicationDidFinishLaunching();
    }
    // The editor page finishes loading and is the editor, with a map in it.
    void pageLoaded()
    {
        editor.url = app.editorUrl();
        editor.title = QStringLiteral("Zet Cogitra editor");
        editor.answers[QStringLiteral("document.readyState")] = QStringLiteral("complete");
        editor.answers[QStringLiteral("g_ZetJsonResult")] = MapJson;
        app.WebViewProgressFinished(true);
        editor.flush();
    }
    void tick()
    {
        app.TimerRun();
        editor.flush();
    }
    void signedInAs(const QString &account)
    {
        g_AccessToken.set(QStringLiteral("access-token"));
        g_UserId.set(QStringLiteral("user-id"));
        g_AccountId.set(account);
    }
    // OneNote shows a page of the account, which is signed in.
    void selectPage(const QString &account)
    {
        signedInAs(account);
        discovery.found = true;
        discovery.page = PageOf(account);
    }
    void finishRun(int64_t step, int64_t error = 0, const QString &key = QString())
    {
        g_StepCode.store(step);
        g_ErrorCode.store(error);
        g_ErrorMessageKey.set(key);
        PublishWorkerFinished();
    }
    // The page answers "SaveMap()" the way the editor does: its globals, then JsCall.
    void pageSaves(const QString &json = MapJson)
    {
        editor.answers[QStringLiteral("g_ZetJsonResult")] = json;
        editor.answers[QStringLiteral("g_ZetPngResult")]
            = QStringLiteral("data:image/png;base64,iVBO");
        app.JsCall(QStringLiteral("Save"), QUrl(app.editorUrl()));
        editor.flush();
    }

    QTemporaryDir dir;
    FakeWindow window;
    FakeEditor editor;
    FakeShell shell;
    FakeDiscovery discovery;
    FakeOnline online;
    InstalledAlert alert;
    AppDelegate app{{&window, &editor, &shell, &discovery, &online}};
};

// Starting the application

TEST_F(AppDelegateTest, FirstStartWithoutConfigurationOrPage)
{
    launch();

    EXPECT_EQ(shell.installerRuns, 1);
    EXPECT_TRUE(QFileInfo(g_AppDataDir.get()).isDir());
    EXPECT_TRUE(QFileInfo(g_CacheDir.get()).isDir());
    EXPECT_TRUE(g_AccessToken.isEmpty());
    EXPECT_FALSE(g_Host.isEmpty());
    EXPECT_TRUE(shell.loginWindows.empty());
    EXPECT_TRUE(online.runs.empty());
    EXPECT_EQ(editor.loads, QStringList{EditorPageUrl(g_Host.get(), Text("local"))});
    EXPECT_EQ(g_StepCode.load(), -99);
    EXPECT_TRUE(window.waiting);
    EXPECT_FALSE(window.visible) << "hidden where a menu bar of its own remains";
    EXPECT_EQ(window.title, Text("strNewMap") + QStringLiteral(" - ") + Text("appName"));
    EXPECT_FALSE(app.applicationShouldTerminateAfterLastWindowClosed());
}

TEST_F(AppDelegateTest, WindowShownAtLaunchWhereMenusLiveInIt)
{
    shell.globalMenuBar = false;
    launch();
    EXPECT_TRUE(window.visible);
}

TEST_F(AppDelegateTest, HostFromConfigurationIsKept)
{
    const QString dataDir = QDir(dir.path()).filePath(QStringLiteral("Ardentis/Cogitra"));
    ASSERT_TRUE(QDir().mkpath(dataDir));
    MConfig config(QDir(dataDir).filePath(QStringLiteral("zetapp.plist")));
    config.WriteValueStr(QStringLiteral("Host"), QStringLiteral("maps.example.org:8080"));
    ASSERT_TRUE(config.Save());

    launch();
    ASSERT_EQ(g_AppDataDir.get(), dataDir);
    EXPECT_EQ(app.editorUrl(), QStringLiteral("http://maps.example.org:8080/km/v1.0/")
                                   + Text("local") + QStringLiteral("/index-mac.html"));
}

TEST_F(AppDelegateTest, LaunchSignedInStartsTheOpenRun)
{
    selectPage(QStringLiteral("acc-1"));
    app.awakeFromNib(dir.path());
    signedInAs(QStringLiteral("acc-1")); // InitGlobals reloads the (empty) configuration
    app.applicationDidFinishLaunching();

    EXPECT_TRUE(shell.loginWindows.empty());
    ASSERT_EQ(online.runs.size(), 1u);
    const MWorkerProperties &run = online.runs.front();
    EXPECT_TRUE(run.DownloadCogitra);
    EXPECT_EQ(run.Page, discovery.page) << "location needs the link for section groups";
    EXPECT_TRUE(run.CogitraJsonForUpload.isEmpty());
    EXPECT_EQ(g_StepCode.load(), -1);
    EXPECT_FALSE(WorkerFinished());
    EXPECT_EQ(editor.loads.size(), 1);
    EXPECT_TRUE(window.visible);
    EXPECT_TRUE(app.applicationShouldTerminateAfterLastWindowClosed());
}

TEST_F(AppDelegateTest, AbandonedSignInAtLaunchEndsTheApplication)
{
    discovery.found = true;
    discovery.page = PageOf(QStringLiteral("acc-1"));
    launch();

    EXPECT_EQ(shell.loginWindows.size(), 1u);
    EXPECT_EQ(shell.terminations, 1);
    EXPECT_TRUE(app.terminated());
    EXPECT_TRUE(online.runs.empty());
    EXPECT_TRUE(editor.loads.isEmpty());
}

// The status loop

TEST_F(AppDelegateTest, EmptyMapHandedOverOnceTheEditorIsReady)
{
    launch();
    tick();
    EXPECT_TRUE(editor.scripts.filter(QStringLiteral("NewMap()")).isEmpty())
        << "no hand-over before the editor page has loaded";

    pageLoaded();
    ASSERT_TRUE(app.webViewNavigateComplete());
    tick();
    EXPECT_EQ(editor.scripts.last(), QStringLiteral("NewMap()"));
    EXPECT_FALSE(window.waiting);
    EXPECT_EQ(g_StepCode.load(), 0);
}

TEST_F(AppDelegateTest, NoHandOverWhileTheEditorHasNoMapYet)
{
    launch();
    pageLoaded();
    editor.answers[QStringLiteral("g_ZetJsonResult")] = QString();
    tick();
    tick();
    EXPECT_EQ(g_StepCode.load(), -99);
    EXPECT_TRUE(window.waiting);

    editor.answers[QStringLiteral("g_ZetJsonResult")] = QStringLiteral("{}");
    editor.title = QStringLiteral("Mind map");
    tick();
    EXPECT_EQ(g_StepCode.load(), -99) << "the title must name the editor";
}

TEST_F(AppDelegateTest, DownloadedMapGoesIntoTheEditorWithThePageTitle)
{
    launch();
    pageLoaded();
    // Only a run that ended at -6 or below carries a map for the editor.
    finishRun(-5);
    tick();
    EXPECT_EQ(g_StepCode.load(), -5);
    finishRun(-6);
    tick();
    EXPECT_EQ(g_StepCode.load(), 0);
    g_PageTitle.set(QStringLiteral("Weekly plan"));
    g_DownloadedMapJson.set(MapJson);
    finishRun(-100);
    tick();
    EXPECT_TRUE(editor.scripts.last().startsWith(QStringLiteral("SetJsonData('")));
    EXPECT_TRUE(editor.scripts.last().endsWith(QStringLiteral("')")));
    EXPECT_EQ(window.title, QStringLiteral("Weekly plan - ") + Text("appName"));
    EXPECT_EQ(g_StepCode.load(), 0);

    // A completed save leaves the editor alone.
    const qsizetype scripts = editor.scripts.size();
    finishRun(100);
    tick();
    tick();
    EXPECT_EQ(editor.scripts.size(), scripts);
    EXPECT_EQ(g_StepCode.load(), 100);
}

TEST_F(AppDelegateTest, FailedOpenShowsItsAlertOnceThenAnEmptyMap)
{
    launch();
    pageLoaded();
    finishRun(-21, -21, QStringLiteral("errGetContentError"));
    tick();
    EXPECT_EQ(alert.messages, QStringList{Text("errGetContentError")});
    EXPECT_EQ(editor.scripts.last(), QStringLiteral("NewMap()"));
    EXPECT_EQ(g_ErrorCode.load(), 0);
    tick();
    EXPECT_EQ(alert.messages.size(), 1);
}

TEST_F(AppDelegateTest, FailedOpenOfAnotherPageKeepsTheMapAndItsPage)
{
    selectPage(QStringLiteral("acc-1"));
    launch();
    pageLoaded();
    g_OnlinePageId.set(QStringLiteral("page-a"));
    g_PageTitle.set(QStringLiteral("Page A"));
    g_DownloadedMapJson.set(MapJson);
    finishRun(-100);
    tick();
    ASSERT_TRUE(editor.scripts.last().startsWith(QStringLiteral("SetJsonData('")));
    auto mapsPut = [this] {
        return editor.scripts.filter(QStringLiteral("SetJsonData('")).size()
               + editor.scripts.filter(QStringLiteral("NewMap()")).size();
    };

    for (const auto &[step, key] :
         {std::pair{-21, "errGetContentError"}, std::pair{-23, "errDownloadFailed"},
          std::pair{10, "errGetNotebooksSections"}}) {
        const qsizetype maps = mapsPut();
        app.MenuItemOpenFromCurrentPage();
        g_OnlinePageId.set(QStringLiteral("page-b")); // the worker's, as it located
        g_PageTitle.set(QStringLiteral("Page B"));
        finishRun(step, step, QString::fromLatin1(key));
        tick();
        EXPECT_EQ(alert.messages.last(), Text(key));
        EXPECT_FALSE(window.waiting);
        EXPECT_EQ(mapsPut(), maps) << "the editor's map was replaced at " << step;
        EXPECT_EQ(g_OnlinePageId.get(), QStringLiteral("page-a")) << "a save would go elsewhere";
        EXPECT_EQ(g_PageTitle.get(), QStringLiteral("Page A"));
        EXPECT_EQ(window.title, QStringLiteral("Page A - ") + Text("appName"));
    }

    // After New the map has no page: a failed open gives it none.
    app.MenuItemNew();
    app.MenuItemOpenFromCurrentPage();
    finishRun(-21, -21, QStringLiteral("errGetContentError"));
    tick();
    EXPECT_TRUE(g_OnlinePageId.isEmpty());
}

TEST_F(AppDelegateTest, OneAlertPerFailureAndNoneUnderAModalWindow)
{
    launch();
    pageLoaded();
    finishRun(-20, -20, QStringLiteral("errGetServerPageId"));
    shell.modal = true;
    tick();
    EXPECT_TRUE(alert.messages.isEmpty());
    EXPECT_EQ(g_StepCode.load(), -20);
    shell.modal = false;
    // Ticks keep arriving while the alert of the first one is up.
    alert.onShow = [this] {
        for (int i = 0; i < 3; ++i)
            app.TimerRun();
    };
    tick();
    tick();
    EXPECT_EQ(alert.messages.size(), 1);
}

TEST_F(AppDelegateTest, LoginItemFollowsTheSignInState)
{
    launch();
    g_AccessToken.set(QStringLiteral("access-token"));
    tick();
    EXPECT_FALSE(window.loginChecked) << "a token without a user id is not signed in";
    EXPECT_EQ(window.loginItemChanges, 0);
    g_UserId.set(QStringLiteral("user-id"));
    tick();
    EXPECT_TRUE(window.loginChecked);
    tick();
    EXPECT_EQ(window.loginItemChanges, 1);
    g_AccessToken.set(QString());
    tick();
    EXPECT_FALSE(window.loginChecked);
}

TEST_F(AppDelegateTest, TitleFormat)
{
    app.SetMainWinTitle(QStringLiteral("Plans"));
    EXPECT_EQ(window.title, QStringLiteral("Plans - ") + Text("appName"));
    g_UserPrincipalName.set(QStringLiteral("ada@example.com"));
    app.SetMainWinTitle(QStringLiteral("Plans"));
    EXPECT_EQ(window.title, QStringLiteral("Plans (ada@example.com) - ") + Text("appName"));
    app.SetMainWinTitle(QStringLiteral("100% %1"));
    EXPECT_EQ(window.title, QStringLiteral("100% %1 (ada@example.com) - ") + Text("appName"));
}

// An open that ends without a map brings the editor back

class OpenRunEnd : public AppDelegateTest
{
protected:
    void openFromMenu()
    {
        launch();
        pageLoaded();
        tick(); // the empty map of the launch
        selectPage(QStringLiteral("acc-1"));
        app.MenuItemOpenFromCurrentPage();
        ASSERT_EQ(online.runs.size(), 1u);
        ASSERT_TRUE(window.waiting);
    }
};

TEST_F(OpenRunEnd, PageInNoSectionShowsAnInlineNotice)
{
    openFromMenu();
    finishRun(11);
    tick();
    EXPECT_FALSE(window.waiting);
    EXPECT_EQ(window.notice, Text("errPageNotFound"));
    EXPECT_TRUE(alert.messages.isEmpty());
    EXPECT_EQ(g_StepCode.load(), 11);
    app.MenuItemOpenFromCurrentPage();
    EXPECT_TRUE(window.notice.isEmpty()) << "the next open takes the notice away";
}

TEST_F(OpenRunEnd, RecordedFailureIsAnAlertNotANotice)
{
    openFromMenu();
    finishRun(11, 11, QStringLiteral("errAccountDiff"));
    tick();
    EXPECT_EQ(alert.messages, QStringList{Text("errAccountDiff")});
    EXPECT_FALSE(window.waiting);
    EXPECT_TRUE(window.notice.isEmpty());

    finishRun(10, 10, QStringLiteral("errGetNotebooksSections"));
    tick();
    EXPECT_EQ(alert.messages.size(), 2);
    EXPECT_TRUE(window.notice.isEmpty());
}

TEST_F(OpenRunEnd, FailedDiscoveryOutsideLaunchKeepsTheMap)
{
    openFromMenu();
    finishRun(-100);
    tick();
    ASSERT_FALSE(window.waiting);
    discovery.found = false;
    const int waitingBefore = window.waitingShown;
    app.MenuItemOpenFromCurrentPage();
    EXPECT_EQ(window.waitingShown, waitingBefore);
    EXPECT_FALSE(window.waiting);
    EXPECT_TRUE(WorkerFinished());
    EXPECT_EQ(online.runs.size(), 1u);
}

// Signing in before a run

TEST_F(AppDelegateTest, PageOfAnotherAccountAsksForASignIn)
{
    launch();
    pageLoaded();
    signedInAs(QStringLiteral("acc-1"));
    discovery.found = true;
    discovery.page = PageOf(QStringLiteral("acc-2"));
    shell.onLogin = [] {
        g_AuthCode.set(QStringLiteral("M.C123"));
    };
    app.MenuItemOpenFromCurrentPage();

    ASSERT_EQ(shell.loginWindows.size(), 1u);
    EXPECT_FALSE(shell.loginWindows.front().first) << "opened by a command, not by Login";
    EXPECT_EQ(g_AccountId.get(), QStringLiteral("acc-2"));
    EXPECT_EQ(window.animationStarts, 1);
    ASSERT_EQ(online.runs.size(), 1u);
    EXPECT_EQ(online.runs.front().Page.accountId, QStringLiteral("acc-2"));
}

TEST_F(AppDelegateTest, AbandonedSignInFromACommandKeepsTheMap)
{
    launch();
    pageLoaded();
    tick();
    discovery.found = true;
    discovery.page = PageOf(QStringLiteral("acc-2"));
    app.MenuItemOpenFromCurrentPage();

    EXPECT_EQ(shell.loginWindows.size(), 1u);
    EXPECT_EQ(shell.terminations, 0);
    EXPECT_TRUE(online.runs.empty());
    EXPECT_FALSE(window.waiting);
    EXPECT_TRUE(WorkerFinished());
    EXPECT_FALSE(app.isBusy());

    const qsizetype scripts = editor.scripts.size();
    pageSaves();
    EXPECT_EQ(shell.loginWindows.size(), 2u);
    EXPECT_EQ(shell.terminations, 0);
    EXPECT_TRUE(online.runs.empty());
    EXPECT_TRUE(shell.stateWindows.empty());
    EXPECT_FALSE(editor.scripts.mid(scripts).contains(QStringLiteral("NewMap()")));
}

TEST_F(AppDelegateTest, LoginCommandSuspendsTheAccountComparisonOnce)
{
    launch();
    pageLoaded();
    shell.onLogin = [] {
        g_AuthCode.set(QStringLiteral("M.C123"));
    };
    app.MenuItemLoginClick();
    ASSERT_EQ(shell.loginWindows.size(), 1u);
    EXPECT_TRUE(shell.loginWindows.front().first);
    EXPECT_FALSE(app.loginCheckAccountIdDiff());
    EXPECT_TRUE(window.visible);

    discovery.found = true;
    discovery.page = PageOf(QStringLiteral("acc-7"));
    app.MenuItemOpenFromCurrentPage();
    EXPECT_EQ(shell.loginWindows.size(), 1u) << "the captured code serves the next run";
    ASSERT_EQ(online.runs.size(), 1u);
    EXPECT_EQ(g_AccountId.get(), QStringLiteral("acc-7"));
    EXPECT_TRUE(app.loginCheckAccountIdDiff());

    // The worker exchanged the code; the next page of another account compares again.
    signedInAs(QStringLiteral("acc-7"));
    finishRun(-100);
    tick();
    discovery.page = PageOf(QStringLiteral("acc-8"));
    app.MenuItemOpenFromCurrentPage();
    EXPECT_EQ(shell.loginWindows.size(), 2u);
}

// A command during a run

TEST_F(AppDelegateTest, CommandsDuringARunShowTheBusyNotice)
{
    launch();
    pageLoaded();
    tick();
    selectPage(QStringLiteral("acc-1"));
    app.MenuItemOpenFromCurrentPage();
    ASSERT_TRUE(app.isBusy());
    g_OnlinePageId.set(QStringLiteral("0-abc"));
    const int discoveries = discovery.calls;
    const qsizetype scripts = editor.scripts.size();

    app.MenuItemOpenFromCurrentPage();
    app.MenuItemSave();
    app.MenuItemSaveToCurrentPage();
    app.MenuItemLoginClick();
    app.MenuItemLogoutClick();
    app.JsCall(QStringLiteral("Open"), QUrl(app.editorUrl()));
    g_StepCode.store(-22);
    app.JsCall(QStringLiteral("Save"), QUrl(app.editorUrl()));
    editor.flush();

    EXPECT_EQ(alert.messages, QStringList(7, Text("strBusy")));
    EXPECT_EQ(online.runs.size(), 1u);
    EXPECT_EQ(discovery.calls, discoveries);
    EXPECT_TRUE(shell.loginWindows.empty());
    EXPECT_EQ(editor.scripts.size(), scripts);
    EXPECT_EQ(g_OnlinePageId.get(), QStringLiteral("0-abc"));
    EXPECT_EQ(g_StepCode.load(), -22);

    finishRun(-100);
    app.MenuItemSaveToCurrentPage();
    EXPECT_EQ(alert.messages.size(), 7);
    EXPECT_TRUE(g_OnlinePageId.isEmpty());
}

TEST_F(AppDelegateTest, NewDuringARunClearsThePageIdAfterIt)
{
    launch();
    pageLoaded();
    selectPage(QStringLiteral("acc-1"));
    app.SaveMindMapToOneNotePage(MapJson, QStringLiteral("png"));
    ASSERT_TRUE(app.isBusy());
    g_OnlinePageId.set(QStringLiteral("0-abc"));
    app.MenuItemNew();
    EXPECT_EQ(editor.scripts.last(), QStringLiteral("NewMap()"));
    EXPECT_EQ(window.title, Text("strNewMap") + QStringLiteral(" - ") + Text("appName"));
    EXPECT_EQ(g_OnlinePageId.get(), QStringLiteral("0-abc")) << "the running save still uses it";
    finishRun(100);
    tick();
    EXPECT_TRUE(g_OnlinePageId.isEmpty());
}

// Saving

TEST_F(AppDelegateTest, SaveAfterAnOpenTargetsTheOpenedPage)
{
    launch();
    pageLoaded();
    selectPage(QStringLiteral("acc-1"));
    app.MenuItemOpenFromCurrentPage();
    g_OnlinePageId.set(QStringLiteral("0-located"));
    finishRun(-100);
    tick();

    discovery.page.title = QStringLiteral("Another page");
    const int discoveries = discovery.calls;
    pageSaves();
    EXPECT_EQ(discovery.calls, discoveries);
    ASSERT_EQ(online.runs.size(), 2u);
    const MWorkerProperties &save = online.runs.back();
    EXPECT_FALSE(save.DownloadCogitra);
    EXPECT_EQ(save.Page, PageOf(QStringLiteral("acc-1")));
    EXPECT_EQ(save.CogitraJsonForUpload, MapJson);
    EXPECT_EQ(save.CogitraImageBase64ForUpload, QStringLiteral("data:image/png;base64,iVBO"));
    EXPECT_EQ(shell.stateWindows, std::vector<bool>{true});
    EXPECT_EQ(g_StepCode.load(), 1);
    EXPECT_TRUE(app.isBusy());

    // Save to current page asks OneNote again.
    finishRun(100);
    app.MenuItemSaveToCurrentPage();
    EXPECT_EQ(editor.scripts.last(), QStringLiteral("SaveMap()"));
    pageSaves();
    EXPECT_EQ(discovery.calls, discoveries + 1);
    EXPECT_EQ(online.runs.back().Page.title, QStringLiteral("Another page"));
}

TEST_F(AppDelegateTest, SaveWithNoIdentifiablePageStartsNothing)
{
    launch();
    pageLoaded();
    signedInAs(QStringLiteral("acc-1"));
    discovery.onFailure = [] {
        ShowMessage(LocalizedString(QStringLiteral("errGetPageLink")));
    };
    alert.messages.clear();
    pageSaves();
    EXPECT_EQ(alert.messages, QStringList{Text("errGetPageLink")});
    EXPECT_TRUE(online.runs.empty());
    EXPECT_TRUE(shell.stateWindows.empty());
    EXPECT_EQ(g_StepCode.load(), 1);
}

TEST_F(AppDelegateTest, EveryMapHandedToASaveIsKeptForRefresh)
{
    launch();
    pageLoaded();
    const qsizetype before = editor.scripts.size();
    app.MenuItemRefreshClick();
    EXPECT_EQ(editor.scripts.size(), before) << "no copy yet";
    EXPECT_EQ(window.notice, Text("strNoSavedMap"));
    pageSaves(); // fails: no page
    EXPECT_EQ(LoadMapBackup(), MapJson);
    QFile file(MapBackupPath());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.permissions() & (QFileDevice::ReadOther | QFileDevice::ReadGroup), 0);

    const QString later = QStringLiteral(R"({"root":{"data":{"text":"Later, ünïcode"}}})");
    signedInAs(QStringLiteral("acc-1"));
    g_OnlinePageId.set(QStringLiteral("0-abc"));
    pageSaves(later);
    finishRun(30, 30, QStringLiteral("errUploadFailed"));
    tick();
    EXPECT_EQ(alert.messages.last(), Text("errUploadFailed"));

    app.MenuItemRefreshClick();
    EXPECT_TRUE(editor.scripts.last().startsWith(QStringLiteral("RestoreJsonData('")));
    EXPECT_TRUE(editor.scripts.last().contains(QStringLiteral("Later, ünïcode")));
    EXPECT_EQ(QDir(g_AppDataDir.get()).entryList(QDir::Files | QDir::Hidden),
              QStringList{QStringLiteral("cogitra.json")})
        << "no temporary file is left behind";
}

// The bridge

TEST_F(AppDelegateTest, JsCallAnswersOnlyExactCommandsOfTheEditorOrigin)
{
    launch();
    pageLoaded();
    selectPage(QStringLiteral("acc-1"));
    const int discoveries = discovery.calls;
    const QUrl editorUrl(app.editorUrl());
    QUrl otherPort = editorUrl;
    otherPort.setPort(editorUrl.port() + 1);
    QUrl otherScheme = editorUrl;
    otherScheme.setScheme(QStringLiteral("https"));
    const QList<QUrl> strangers = {QUrl(QStringLiteral("http://evil.example/km/")), otherPort,
                                   otherScheme, QUrl(), QUrl(QStringLiteral("file:///tmp/x.html"))};
    for (const QUrl &url : strangers) {
        app.JsCall(QStringLiteral("Save"), url);
        app.JsCall(QStringLiteral("Open"), url);
        app.JsCall(QStringLiteral("New"), url);
    }
    const qsizetype scripts = editor.scripts.size();
    for (const char *command : {"save", "open", "new", "SAVE", "Save ", ""})
        app.JsCall(QString::fromLatin1(command), editorUrl);
    editor.flush();
    EXPECT_EQ(editor.scripts.size(), scripts);
    EXPECT_TRUE(online.runs.empty());
    EXPECT_EQ(discovery.calls, discoveries);
    EXPECT_EQ(g_StepCode.load(), -99);

    QUrl samePageOtherPath = editorUrl;
    samePageOtherPath.setPath(QStringLiteral("/km/v1.0/cn/index-mac.html"));
    app.JsCall(QStringLiteral("Open"), samePageOtherPath);
    EXPECT_EQ(online.runs.size(), 1u);
}

TEST_F(AppDelegateTest, JsCallSaveReadsTheGlobalsInOrder)
{
    launch();
    pageLoaded();
    const qsizetype scripts = editor.scripts.size();
    editor.answers[QStringLiteral("g_ZetPngResult")] = QStringLiteral("png-text");
    app.JsCall(QStringLiteral("Save"), QUrl(app.editorUrl()));
    EXPECT_EQ(g_StepCode.load(), 1) << "set before the globals are read";
    EXPECT_TRUE(LoadMapBackup().isEmpty()) << "nothing saved before the page has answered";
    editor.flush();
    EXPECT_EQ(editor.scripts.mid(scripts),
              (QStringList{QStringLiteral("String(window.g_ZetSaveMark ?? '')"),
                           QStringLiteral("g_ZetJsonResult"), QStringLiteral("g_ZetPngResult")}));
    EXPECT_EQ(LoadMapBackup(), MapJson);
}

// The load-finished check

struct LoadCase
{
    const char *name;
    bool loadOk;
    const char *readyState;
    bool sameUrl;
    const char *title;
    bool ends;
    bool complete;
};

class LoadFinished : public AppDelegateTest, public ::testing::WithParamInterface<LoadCase>
{
};

TEST_P(LoadFinished, Check)
{
    const LoadCase &c = GetParam();
    launch();
    editor.answers[QStringLiteral("document.readyState")] = QString::fromLatin1(c.readyState);
    editor.url = c.sameUrl ? app.editorUrl() : QStringLiteral("http://elsewhere.example/");
    editor.title = QString::fromLatin1(c.title);
    app.WebViewProgressFinished(c.loadOk);
    editor.flush();
    EXPECT_EQ(shell.terminations, c.ends ? 1 : 0);
    EXPECT_EQ(alert.messages.contains(Text("errOpenCogitraEditer")), c.ends);
    EXPECT_EQ(app.webViewNavigateComplete(), c.complete);
}

INSTANTIATE_TEST_SUITE_P(
    Editor, LoadFinished,
    ::testing::Values(
        LoadCase{"StillLoading", true, "interactive", true, "Zet", false, false},
        LoadCase{"TheEditor", true, "complete", true, "", false, true},
        LoadCase{"RedirectedToAnEditor", true, "complete", false, "Zet map", false, true},
        LoadCase{"RedirectedElsewhere", true, "complete", false, "Login", true, false},
        LoadCase{"TitleCaseMatters", true, "complete", false, "zet", true, false},
        LoadCase{"LoadFailed", false, "complete", true, "Zet", true, false}),
    [](const ::testing::TestParamInfo<LoadCase> &param) { return std::string(param.param.name); });

TEST_F(AppDelegateTest, NoUrlEndsTheApplication)
{
    launch();
    editor.answers[QStringLiteral("document.readyState")] = QStringLiteral("complete");
    editor.url.clear();
    app.WebViewProgressFinished(true);
    editor.flush();
    EXPECT_EQ(shell.terminations, 1);
    app.TimerRun();
    EXPECT_EQ(alert.messages.size(), 1) << "nothing runs after the end";
}

// The small menu commands

TEST_F(AppDelegateTest, WindowCommands)
{
    launch();
    app.MenuItemHostsClick();
    app.MenuItemAboutClick();
    app.MenuItemUploadStateClick();
    app.MenuItemLogoutClick();
    ASSERT_EQ(shell.loginWindows.size(), 1u);
    EXPECT_TRUE(shell.loginWindows.front().second) << "Logout signs out first";
    EXPECT_EQ(shell.hostsWindows, 1);
    EXPECT_EQ(shell.aboutWindows, 1);
    EXPECT_EQ(shell.stateWindows, std::vector<bool>{false});
}

} // namespace
} // namespace Cogitra::Test
