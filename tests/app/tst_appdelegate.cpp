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

QString TitleOf(const QString &document)
{
    return document + QStringLiteral(" - ") + Text("appName");
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

    // Plays a scenario written as words, each one thing the user, OneNote or the worker does:
    //   launch       the application starts, signed in as the last "signed:" account
    //   loaded       the editor page finishes loading, with a map in it
    //   tick         one tick of the status loop, its scripts answered
    //   signed:A     signed in to account A        page:A    OneNote shows a page of A
    //   nopage       OneNote shows no page that can be identified, and says so
    //   code         the sign-in window brings a code back
    //   open, save, savehere, new, logout   the commands; "save" is the page's Save call
    //   end:S[:K]    the worker ends at step S, with failure key K
    //   downloaded   the worker downloaded a map of the page "Weekly plan"
    //   nomap, othertitle   the editor page holds no map yet, has a title not its own
    //   modal[:off]  a modal window is up (or no longer)
    //   busyalert    ticks keep arriving while an alert is up
    void play(const QString &words)
    {
        for (const QString &word : words.split(u' ', Qt::SkipEmptyParts)) {
            const QStringList w = word.split(u':');
            const QString &verb = w.front();
            if (verb == u"launch") {
                app.awakeFromNib(dir.path());
                if (!account.isEmpty()) // the configuration was just read again
                    signedInAs(account);
                app.applicationDidFinishLaunching();
            } else if (verb == u"loaded") {
                editor.finishLoading(app, MapJson);
            } else if (verb == u"tick") {
                app.TimerRun();
                editor.flush();
            } else if (verb == u"signed") {
                signedInAs(account = w.at(1));
            } else if (verb == u"page") {
                discovery.found = true;
                discovery.page = PageOf(w.at(1));
            } else if (verb == u"nopage") {
                discovery.found = false;
                discovery.onFailure = [] {
                    ShowMessage(LocalizedString(QStringLiteral("errGetPageLink")));
                };
            } else if (verb == u"code") {
                shell.onLogin = [] {
                    g_AuthCode.set(QStringLiteral("M.C123"));
                };
            } else if (verb == u"open") {
                app.MenuItemOpenFromCurrentPage();
            } else if (verb == u"save") {
                // The page answers "SaveMap()" as the editor does: its globals, then JsCall.
                editor.answers[QStringLiteral("g_ZetPngResult")]
                    = QStringLiteral("data:image/png;base64,iVBO");
                app.JsCall(QStringLiteral("Save"), QUrl(app.editorUrl()));
                editor.flush();
            } else if (verb == u"savehere") {
                app.MenuItemSaveToCurrentPage();
            } else if (verb == u"new") {
                app.MenuItemNew();
            } else if (verb == u"logout") {
                app.MenuItemLogoutClick();
            } else if (verb == u"end") {
                g_StepCode.store(w.at(1).toLongLong());
                g_ErrorCode.store(w.size() > 2 ? w.at(1).toLongLong() : 0);
                g_ErrorMessageKey.set(w.value(2));
                PublishWorkerFinished();
            } else if (verb == u"downloaded") {
                g_PageTitle.set(QStringLiteral("Weekly plan"));
                g_DownloadedMapJson.set(MapJson);
            } else if (verb == u"nomap") {
                editor.answers[QStringLiteral("g_ZetJsonResult")] = QString();
            } else if (verb == u"modal") {
                shell.modal = w.value(1) != u"off";
            } else if (verb == u"busyalert") { // ticks keep arriving while an alert is up
                alert.onShow = [this] {
                    for (int i = 0; i < 3; ++i)
                        app.TimerRun();
                };
            } else if (verb == u"othertitle") {
                editor.title = QStringLiteral("Mind map");
            } else {
                ADD_FAILURE() << "unknown word " << word.toStdString();
            }
        }
    }
    void signedInAs(const QString &id)
    {
        g_AccessToken.set(QStringLiteral("access-token"));
        g_UserId.set(QStringLiteral("user-id"));
        g_AccountId.set(id);
    }
    // The maps put into the editor, in order: "new" for an empty one, "set" for a given one.
    QString mapsPut() const
    {
        QStringList maps;
        for (const QString &script : editor.scripts) {
            if (script == u"NewMap()")
                maps.append(QStringLiteral("new"));
            else if (script.startsWith(u"SetJsonData('"))
                maps.append(QStringLiteral("set"));
        }
        return maps.join(u' ');
    }

    QString account;
    QTemporaryDir dir;
    FakeWindow window;
    FakeEditor editor;
    FakeShell shell;
    FakeDiscovery discovery;
    FakeOnline online;
    InstalledAlert alert;
    AppDelegate app{{&window, &editor, &shell, &discovery, &online}};
};

struct Flow
{
    const char *name;
    const char *words;
    int64_t step;       // the step code the scenario ends at
    const char *maps;   // the maps put into the editor
    const char *alerts; // the keys of the alerts shown, in order
    const char *notice; // the key of the inline notice
    size_t runs;
    size_t signIns; // sign-in windows opened
    bool waiting;
    bool ends;
};

class Scenario : public AppDelegateTest, public ::testing::WithParamInterface<Flow>
{
};

TEST_P(Scenario, EndsAsListed)
{
    const Flow &f = GetParam();
    play(QString::fromLatin1(f.words));
    EXPECT_EQ(g_StepCode.load(), f.step);
    EXPECT_EQ(mapsPut(), QString::fromLatin1(f.maps));
    QStringList alerts;
    for (const QString &key : QString::fromLatin1(f.alerts).split(u' ', Qt::SkipEmptyParts))
        alerts.append(Text(key.toLatin1().constData()));
    EXPECT_EQ(alert.messages, alerts);
    EXPECT_EQ(window.notice, *f.notice ? Text(f.notice) : QString());
    EXPECT_EQ(online.runs.size(), f.runs);
    EXPECT_EQ(shell.loginWindows.size(), f.signIns);
    EXPECT_EQ(window.waiting, f.waiting);
    EXPECT_EQ(shell.terminations, f.ends ? 1 : 0);
    EXPECT_EQ(app.terminated(), f.ends);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(AppDelegate, Scenario, ::testing::Values(
    Flow{"FirstStart", "launch", -99, "", "", "", 0, 0, true, false},
    Flow{"LaunchSignedInOpensThePage", "signed:a page:a launch", -1, "", "", "", 1, 0, true, false},
    Flow{"AbandonedSignInAtLaunchEnds", "page:a launch", 0, "", "", "", 0, 1, true, true},
    // The empty map waits for an editor page that is loaded, has a map and its own title.
    Flow{"NoHandOverBeforeTheEditorLoads", "launch tick", -99, "", "", "", 0, 0, true, false},
    Flow{"EmptyMapOnceTheEditorIsReady", "launch tick loaded tick", 0, "new", "", "", 0, 0, false, false},
    Flow{"NoHandOverWithoutAMap", "launch loaded nomap tick tick", -99, "", "", "", 0, 0, true, false},
    Flow{"NoHandOverToAnotherTitle", "launch loaded othertitle tick", -99, "", "", "", 0, 0, true, false},
    // Only a run that ended at -6 or below hands a map over.
    Flow{"RunEndedAboveTheHandOver", "launch loaded end:-5 tick", -5, "", "", "", 0, 0, true, false},
    Flow{"RunEndedAtTheHandOver", "launch loaded end:-6 tick", 0, "new", "", "", 0, 0, false, false},
    Flow{"DownloadedMapHandedOver", "launch loaded downloaded end:-100 tick", 0, "set", "", "", 0, 0, false, false},
    Flow{"CompletedSaveLeavesTheEditor", "launch loaded downloaded end:-100 tick end:100 tick tick", 100, "set", "", "", 0, 0, false, false},
    Flow{"NoAlertUnderAModalWindow", "launch loaded end:-20:errGetServerPageId modal tick", -20, "", "", "", 0, 0, true, false},
    Flow{"OneAlertPerFailure", "launch loaded end:-20:errGetServerPageId modal tick modal:off busyalert tick tick", 0, "new", "errGetServerPageId", "", 0, 0, false, false},
    Flow{"FailedOpenAlertsOnceThenEmptyMap", "launch loaded end:-21:errGetContentError tick tick", 0, "new", "errGetContentError", "", 0, 0, false, false},
    // An open that ends without a map brings the editor back.
    Flow{"PageInNoSectionIsANotice", "launch loaded tick signed:a page:a open end:11 tick", 11, "new", "", "errPageNotFound", 1, 0, false, false},
    Flow{"NextOpenTakesTheNoticeAway", "launch loaded tick signed:a page:a open end:11 tick open", -1, "new", "", "", 2, 0, true, false},
    Flow{"RecordedFailuresAreAlerts", "launch loaded tick signed:a page:a open end:11:errAccountDiff tick end:10:errGetNotebooksSections tick", 10, "new", "errAccountDiff errGetNotebooksSections", "", 1, 0, false, false},
    Flow{"FailedDiscoveryKeepsTheMap", "launch loaded tick signed:a page:a open end:-100 tick nopage open", 0, "new new", "errGetPageLink", "", 1, 0, false, false},
    // Signing in before a run.
    Flow{"PageOfAnotherAccountAsksForASignIn", "launch loaded signed:a page:b code open", -1, "", "", "", 1, 1, true, false},
    Flow{"AbandonedSignInFromACommandKeepsTheMap", "launch loaded tick page:b open save", 1, "new", "strSignInNeeded strSignInNeeded", "", 0, 2, false, false},
    Flow{"SaveWithNoIdentifiablePageStartsNothing", "launch loaded signed:a nopage save", 1, "", "errGetPageLink", "", 0, 0, true, false}),
    [](const ::testing::TestParamInfo<Flow> &p) { return std::string(p.param.name); });
// clang-format on

TEST_F(AppDelegateTest, FirstStartCreatesItsFoldersAndOffersTheInstaller)
{
    play("launch");
    EXPECT_EQ(shell.installerRuns, 1);
    EXPECT_TRUE(QFileInfo(g_AppDataDir.get()).isDir());
    EXPECT_TRUE(QFileInfo(g_CacheDir.get()).isDir());
    EXPECT_EQ(editor.loads, QStringList{EditorPageUrl(g_Host.get(), Text("local"))});
    EXPECT_FALSE(window.visible) << "hidden where a menu bar of its own remains";
    EXPECT_EQ(window.title, TitleOf(Text("strNewMap")));
    EXPECT_FALSE(app.applicationShouldTerminateAfterLastWindowClosed());
}

TEST_F(AppDelegateTest, HostFromConfigurationIsKept)
{
    const QString dataDir = QDir(dir.path()).filePath(QStringLiteral("Ardentis/Cogitra"));
    ASSERT_TRUE(QDir().mkpath(dataDir));
    MConfig config(QDir(dataDir).filePath(QStringLiteral("zetapp.plist")));
    config.WriteValueStr(QStringLiteral("Host"), QStringLiteral("maps.example.org:8080"));
    ASSERT_TRUE(config.Save());
    shell.globalMenuBar = false;
    play("launch");
    ASSERT_EQ(g_AppDataDir.get(), dataDir);
    EXPECT_EQ(app.editorUrl(), QStringLiteral("http://maps.example.org:8080/km/v1.0/")
                                   + Text("local") + QStringLiteral("/index-mac.html"));
    EXPECT_TRUE(window.visible) << "shown at once where the menus live in the window";
}

TEST_F(AppDelegateTest, FailedOpenOfAnotherPageKeepsTheMapAndItsPage)
{
    play("signed:a page:a launch loaded");
    g_OnlinePageId.set(QStringLiteral("page-a"));
    g_PageTitle.set(QStringLiteral("Page A"));
    g_DownloadedMapJson.set(MapJson);
    play("end:-100 tick");
    ASSERT_EQ(mapsPut(), QStringLiteral("set"));
    for (const char *failure : {"end:-21:errGetContentError", "end:-23:errDownloadFailed",
                                "end:10:errGetNotebooksSections"}) {
        play("open");
        g_OnlinePageId.set(QStringLiteral("page-b")); // the worker's, as it located
        g_PageTitle.set(QStringLiteral("Page B"));
        play(QString::fromLatin1(failure) + QStringLiteral(" tick"));
        EXPECT_FALSE(window.waiting) << failure;
        EXPECT_EQ(mapsPut(), QStringLiteral("set")) << "the editor's map was replaced";
        EXPECT_EQ(g_OnlinePageId.get(), QStringLiteral("page-a")) << "a save would go elsewhere";
        EXPECT_EQ(window.title, TitleOf(QStringLiteral("Page A")));
    }
    EXPECT_EQ(alert.messages.size(), 3);

    // After New the map has no page: a failed open gives it none.
    play("new open end:-21:errGetContentError tick");
    EXPECT_TRUE(g_OnlinePageId.isEmpty());
}

TEST_F(AppDelegateTest, LoginItemAndTitleFollowTheSignIn)
{
    play("launch");
    g_AccessToken.set(QStringLiteral("access-token"));
    play("tick");
    EXPECT_FALSE(window.loginChecked) << "a token without a user id is not signed in";
    g_UserId.set(QStringLiteral("user-id"));
    play("tick tick");
    EXPECT_TRUE(window.loginChecked);
    EXPECT_EQ(window.loginItemChanges, 1);
    g_AccessToken.set(QString());
    play("tick");
    EXPECT_FALSE(window.loginChecked);

    g_UserPrincipalName.set(QStringLiteral("ada@example.com"));
    app.SetMainWinTitle(QStringLiteral("100% %1"));
    EXPECT_EQ(window.title, TitleOf(QStringLiteral("100% %1 (ada@example.com)")));
}

TEST_F(AppDelegateTest, SignInDecisions)
{
    // Login suspends the account comparison for the next run only.
    play("launch loaded code");
    app.MenuItemLoginClick();
    ASSERT_EQ(shell.loginWindows.size(), 1u);
    EXPECT_TRUE(shell.loginWindows.back().first);
    play("page:c open");
    EXPECT_EQ(shell.loginWindows.size(), 1u) << "the captured code serves the next run";
    EXPECT_EQ(g_AccountId.get(), QStringLiteral("c"));

    // The worker exchanged the code; a page of another account asks again, from the command.
    play("signed:c end:-100 tick page:d open");
    ASSERT_EQ(shell.loginWindows.size(), 2u);
    EXPECT_FALSE(shell.loginWindows.back().first);
    EXPECT_EQ(window.animationStarts, 1);
    EXPECT_EQ(online.runs.back().Page.accountId, QStringLiteral("d"));

    play("end:-100 tick logout");
    EXPECT_TRUE(shell.loginWindows.back().second) << "Logout signs out first";
}

TEST_F(AppDelegateTest, CommandsDuringARunShowTheBusyNotice)
{
    play("launch loaded tick signed:a page:a open");
    ASSERT_TRUE(app.isBusy());
    g_OnlinePageId.set(QStringLiteral("0-abc"));
    const int discoveries = discovery.calls;
    const qsizetype scripts = editor.scripts.size();

    app.MenuItemOpenFromCurrentPage();
    app.MenuItemSave();
    app.MenuItemSaveToCurrentPage();
    app.MenuItemLoginClick();
    app.MenuItemLogoutClick();
    app.MenuItemSignOutClick(); // the worker renews the tokens it runs with
    app.JsCall(QStringLiteral("Open"), QUrl(app.editorUrl()));
    g_StepCode.store(-22);
    play("save");

    EXPECT_EQ(alert.messages, QStringList(8, Text("strBusy")));
    EXPECT_EQ(online.runs.size(), 1u);
    EXPECT_EQ(discovery.calls, discoveries);
    EXPECT_TRUE(shell.loginWindows.empty());
    EXPECT_EQ(editor.scripts.size(), scripts);
    EXPECT_EQ(g_OnlinePageId.get(), QStringLiteral("0-abc"));
    EXPECT_EQ(g_StepCode.load(), -22);
    EXPECT_FALSE(g_AccessToken.isEmpty());

    play("end:-100 savehere");
    EXPECT_EQ(alert.messages.size(), 8);
    EXPECT_TRUE(g_OnlinePageId.isEmpty());
}

TEST_F(AppDelegateTest, NewDuringARunClearsThePageIdAfterIt)
{
    play("launch loaded signed:a page:a");
    app.SaveMindMapToOneNotePage(MapJson, QStringLiteral("png"));
    g_OnlinePageId.set(QStringLiteral("0-abc"));
    play("new");
    EXPECT_EQ(editor.scripts.last(), QStringLiteral("NewMap()"));
    EXPECT_EQ(window.title, TitleOf(Text("strNewMap")));
    EXPECT_EQ(g_OnlinePageId.get(), QStringLiteral("0-abc")) << "the running save still uses it";
    play("end:100 tick");
    EXPECT_TRUE(g_OnlinePageId.isEmpty());
}

TEST_F(AppDelegateTest, RunsCarryThePageTheyWereStartedFor)
{
    play("signed:a page:a launch");
    ASSERT_EQ(online.runs.size(), 1u);
    EXPECT_TRUE(online.runs.back().DownloadCogitra);
    EXPECT_EQ(online.runs.back().Page, discovery.page) << "location needs the link";
    EXPECT_TRUE(online.runs.back().CogitraJsonForUpload.isEmpty());
    g_OnlinePageId.set(QStringLiteral("0-located"));
    play("loaded end:-100 tick");

    // Save goes to the opened page without asking OneNote.
    discovery.page.title = QStringLiteral("Another page");
    const int discoveries = discovery.calls;
    play("save");
    EXPECT_EQ(discovery.calls, discoveries);
    ASSERT_EQ(online.runs.size(), 2u);
    const MWorkerProperties &save = online.runs.back();
    EXPECT_FALSE(save.DownloadCogitra);
    EXPECT_EQ(save.Page, PageOf(QStringLiteral("a")));
    EXPECT_EQ(save.CogitraJsonForUpload, MapJson);
    EXPECT_EQ(save.CogitraImageBase64ForUpload, QStringLiteral("data:image/png;base64,iVBO"));
    EXPECT_EQ(shell.stateWindows, std::vector<bool>{true});
    EXPECT_EQ(g_StepCode.load(), 1);

    // Save to current page asks OneNote again.
    play("end:100 savehere");
    EXPECT_EQ(editor.scripts.last(), QStringLiteral("SaveMap()"));
    play("save");
    EXPECT_EQ(discovery.calls, discoveries + 1);
    EXPECT_EQ(online.runs.back().Page.title, QStringLiteral("Another page"));
}

TEST_F(AppDelegateTest, EveryMapHandedToASaveIsKeptForRefresh)
{
    play("launch loaded");
    app.MenuItemRefreshClick();
    EXPECT_EQ(mapsPut(), QString()) << "no copy yet: the map stays";
    EXPECT_EQ(window.notice, Text("strNoSavedMap"));
    const qsizetype scripts = editor.scripts.size();
    app.JsCall(QStringLiteral("Save"), QUrl(app.editorUrl()));
    EXPECT_EQ(g_StepCode.load(), 1) << "set before the globals are read";
    EXPECT_TRUE(LoadMapBackup().isEmpty()) << "nothing saved before the page has answered";
    editor.flush();
    EXPECT_EQ(editor.scripts.mid(scripts),
              (QStringList{QStringLiteral("String(window.g_ZetSaveMark ?? '')"),
                           QStringLiteral("g_ZetJsonResult"), QStringLiteral("g_ZetPngResult")}));
    EXPECT_EQ(LoadMapBackup(), MapJson) << "kept though the save failed: no page";
    QFile file(MapBackupPath());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.permissions() & (QFileDevice::ReadOther | QFileDevice::ReadGroup), 0);

    editor.answers[QStringLiteral("g_ZetJsonResult")]
        = QStringLiteral(R"({"root":{"data":{"text":"Later, ünïcode"}}})");
    g_OnlinePageId.set(QStringLiteral("0-abc"));
    play("signed:a save end:30:errUploadFailed tick");
    app.MenuItemRefreshClick();
    EXPECT_TRUE(editor.scripts.last().startsWith(QStringLiteral("RestoreJsonData('")));
    EXPECT_TRUE(editor.scripts.last().contains(QStringLiteral("Later, ünïcode")));
    EXPECT_EQ(QDir(g_AppDataDir.get()).entryList(QDir::Files | QDir::Hidden),
              QStringList{QStringLiteral("cogitra.json")})
        << "no temporary file is left behind";
}

TEST_F(AppDelegateTest, JsCallAnswersOnlyExactCommandsOfTheEditorOrigin)
{
    play("launch loaded signed:a page:a");
    const int discoveries = discovery.calls;
    const QUrl editorUrl(app.editorUrl());
    QUrl otherPort = editorUrl;
    otherPort.setPort(editorUrl.port() + 1);
    QUrl otherScheme = editorUrl;
    otherScheme.setScheme(QStringLiteral("https"));
    for (const QUrl &url : {QUrl(QStringLiteral("http://evil.example/km/")), otherPort, otherScheme,
                            QUrl(), QUrl(QStringLiteral("file:///tmp/x.html"))}) {
        for (const char *command : {"Save", "Open", "New"})
            app.JsCall(QString::fromLatin1(command), url);
    }
    const qsizetype scripts = editor.scripts.size();
    for (const char *command : {"save", "open", "new", "SAVE", "Save ", ""})
        app.JsCall(QString::fromLatin1(command), editorUrl);
    editor.flush();
    EXPECT_EQ(editor.scripts.size(), scripts);
    EXPECT_TRUE(online.runs.empty());
    EXPECT_EQ(discovery.calls, discoveries);

    QUrl samePageOtherPath = editorUrl;
    samePageOtherPath.setPath(QStringLiteral("/km/v1.0/cn/index-mac.html"));
    app.JsCall(QStringLiteral("Open"), samePageOtherPath);
    EXPECT_EQ(online.runs.size(), 1u);
}

struct LoadCase
{
    const char *name;
    bool loadOk;
    const char *readyState;
    const char *url; // nullptr: the editor's own
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
    play("launch");
    editor.answers[QStringLiteral("document.readyState")] = QString::fromLatin1(c.readyState);
    editor.url = c.url ? QString::fromLatin1(c.url) : app.editorUrl();
    editor.title = QString::fromLatin1(c.title);
    app.WebViewProgressFinished(c.loadOk);
    editor.flush();
    app.TimerRun(); // nothing runs after the end
    EXPECT_EQ(shell.terminations, c.ends ? 1 : 0);
    EXPECT_EQ(alert.messages, c.ends ? QStringList{Text("errOpenCogitraEditer")} : QStringList());
    EXPECT_EQ(app.webViewNavigateComplete(), c.complete);
}

const char *const Elsewhere = "http://elsewhere.example/";

INSTANTIATE_TEST_SUITE_P(
    Editor, LoadFinished,
    ::testing::Values(
        LoadCase{"StillLoading", true, "interactive", nullptr, "Zet", false, false},
        LoadCase{"TheEditor", true, "complete", nullptr, "", false, true},
        LoadCase{"RedirectedToAnEditor", true, "complete", Elsewhere, "Zet map", false, true},
        LoadCase{"RedirectedElsewhere", true, "complete", Elsewhere, "Login", true, false},
        LoadCase{"TitleCaseMatters", true, "complete", Elsewhere, "zet", true, false},
        LoadCase{"NoUrl", true, "complete", "", "Zet", true, false},
        LoadCase{"LoadFailed", false, "complete", nullptr, "Zet", true, false}),
    [](const ::testing::TestParamInfo<LoadCase> &param) { return std::string(param.param.name); });

} // namespace
} // namespace Cogitra::Test
