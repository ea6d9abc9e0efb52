#include "AppFakes.h"

#include "app/MEditorScript.h"
#include "app/MMapBackup.h"
#include "app/MMapDraft.h"
#include "app/MOnlineAdapters.h"
#include "app/MRecentPages.h"
#include "onenote/ClipFun.h"
#include "platform/IDesktopAutomation.h"
#include "platform/MemoryClipboard.h"
#include "util/MConfig.h"
#include "util/MStepCodes.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <functional>
#include <map>
#include <optional>
#include <tuple>

#include <gtest/gtest.h>

namespace Cogitra::Test {
namespace {

const QString MapJson = QStringLiteral(R"({"root":{"data":{"text":"Plans"}}})");

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

// Page n of the account acc-1, under its own title unless one is given.
OneNotePageInfo Page(int n, const char *title = nullptr)
{
    OneNotePageInfo page = PageOf(QStringLiteral("acc-1"));
    page.clientId = QStringLiteral("{P%1}").arg(n);
    page.title = title ? QString::fromLatin1(title) : QStringLiteral("Page %1").arg(n);
    return page;
}

QStringList RecentTitles()
{
    QStringList titles;
    for (const OneNotePageInfo &page : LoadRecentPages())
        titles << page.title;
    return titles;
}

void EmptyAccount()
{
    for (auto *value : {&g_AuthCode, &g_AccessToken, &g_RefreshToken, &g_AccountId, &g_UserId})
        value->set(QString());
}

class AppDelegateTest : public AppTest
{
protected:
    // Plays a scenario written as words, each one thing the user, OneNote or the worker does;
    // a word's arguments follow it after colons.
    void play(const QString &words)
    {
        using W = const QStringList &;
        // clang-format off
        const std::map<QString, std::function<void(W)>> verbs = {
            // The application starts, signed in as the last "signed:" account.
            {"launch", [this](W) { launch(); }},
            // The editor page finishes loading with a map in it; it holds none; its title is another.
            {"loaded", [this](W) { editor.finishLoading(*app, MapJson); }},
            {"nomap", [this](W) { editor.answers[QStringLiteral("g_ZetJsonResult")] = QString(); }},
            {"othertitle", [this](W) { editor.title = QStringLiteral("Mind map"); }},
            // One tick of the status loop, its scripts answered.
            {"tick", [this](W) { tick(); }},
            {"signed", [this](W w) { signIn(w.at(1)); }},
            // OneNote shows a page of an account; no page that can be identified, and says so.
            {"page", [this](W w) { discovery.found = true, discovery.page = PageOf(w.at(1)); }},
            {"nopage", [this](W) { discovery.found = false, discovery.onFailure = [] { ShowMessage(Text("errGetPageLink")); }; }},
            // The sign-in window brings a code back; Save is clicked while it is up, and it does.
            {"code", [this](W) { shell.onLogin = [] { g_AuthCode.set(QStringLiteral("M.C123")); }; }},
            // The window empties the account as it opens, and is closed (windowsignsin: with a code).
            {"windowcloses", [this](W) { shell.onLogin = [] { EmptyAccount(); }; }},
            {"windowsignsin", [this](W) { shell.onLogin = [] { EmptyAccount(), g_AuthCode.set(QStringLiteral("M.C123")); }; }},
            {"saveinlogin", [this](W) { shell.onLogin = [this] { jsCall("Save"), g_AuthCode.set(QStringLiteral("M.C123")); }; }},
            // The commands; "save" is the page's Save call, answered as the editor does.
            {"open", [this](W) { app->MenuItemOpenFromCurrentPage(); }},
            {"save", [this](W) { editor.answers[QStringLiteral("g_ZetPngResult")] = QStringLiteral("data:image/png;base64,iVBO"), jsCall("Save"); }},
            {"savehere", [this](W) { app->MenuItemSaveToCurrentPage(); }},
            {"new", [this](W) { app->MenuItemNew(); }},
            {"logout", [this](W) { app->MenuItemLogoutClick(); }},
            {"login", [this](W) { app->MenuItemLoginClick(); }},
            // Open is chosen again while OneNote is asked for the page.
            {"openwhileasked", [this](W) { discovery.whileAsked = [this] { app->MenuItemOpenFromCurrentPage(); }; }},
            // Discovery answers when told (held, answer); the editor page fails to load.
            {"held", [this](W) { discovery.hold = true; }},
            {"answer", [this](W) { discovery.answer(); }},
            {"failedload", [this](W) { editor.answers[QStringLiteral("document.readyState")] = QStringLiteral("complete"), app->WebViewProgressFinished(false), editor.flush(); }},
            // The worker ends at step S, with failure key K; it downloaded a map of "Weekly plan";
            // it located page P, titled T.
            {"end", [](W w) { endRun(w.at(1).toLongLong(), w.size() > 2 ? qPrintable(w.at(2)) : nullptr); }},
            {"downloaded", [](W) { g_PageTitle.set(QStringLiteral("Weekly plan")), g_DownloadedMapJson.set(MapJson); }},
            {"pageid", [](W w) { g_OnlinePageId.set(w.at(1)); }},
            {"title", [](W w) { g_PageTitle.set(w.at(1)); }},
            // A modal window is up (modal:off, no longer); ticks keep arriving while an alert is up.
            {"modal", [this](W w) { shell.modal = w.value(1) != u"off"; }},
            {"busyalert", [this](W) { alert.onShow = [this] { for (int i = 0; i < 3; ++i) app->TimerRun(); }; }},
        };
        // clang-format on
        for (const QString &word : words.split(u' ', Qt::SkipEmptyParts)) {
            const QStringList w = word.split(u':');
            const auto verb = verbs.find(w.front());
            if (verb == verbs.end())
                ADD_FAILURE() << "unknown word " << word.toStdString();
            else
                verb->second(w);
        }
    }
    // The maps put into the editor, in order: "new" for an empty one, "set" for a given one.
    QString mapsPut() const
    {
        QStringList maps;
        for (const QString &map : editorMaps())
            maps.append(map.isEmpty() ? QStringLiteral("new") : QStringLiteral("set"));
        return maps.join(u' ');
    }
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
    const char *page = nullptr;  // the id and title of the page the next save goes to
    const char *title = nullptr; // the document the window title names, where it matters
    std::optional<bool> busy = {};
};

void PrintTo(const Flow &flow, std::ostream *out)
{
    *out << flow.name;
}

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
    EXPECT_EQ(app->terminated(), f.ends);
    EXPECT_EQ(f.page ? QString(g_OnlinePageId.get() + u' ' + g_PageTitle.get()).trimmed()
                     : QString(),
              QString::fromLatin1(f.page));
    EXPECT_EQ(f.title ? window.title : QString(),
              f.title ? TitleOf(QString::fromLatin1(f.title)) : QString());
    EXPECT_EQ(app->isBusy(), f.busy.value_or(app->isBusy()));
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
    Flow{"SecondOpenWhileTheFirstAsksIsRefused", "signed:a page:a launch loaded end:-100 tick openwhileasked open", -1, "new", "strBusy", "", 2, 0, true, false},
    Flow{"NextOpenTakesTheNoticeAway", "launch loaded tick signed:a page:a open end:11 tick open", -1, "new", "", "", 2, 0, true, false},
    Flow{"RecordedFailuresAreAlerts", "launch loaded tick signed:a page:a open end:11:errAccountDiff tick end:10:errGetNotebooksSections tick", 10, "new", "errAccountDiff errGetNotebooksSections", "", 1, 0, false, false},
    Flow{"FailedDiscoveryKeepsTheMap", "launch loaded tick signed:a page:a open end:-100 tick nopage open", 0, "new new", "errGetPageLink", "", 1, 0, false, false},
    // Signing in before a run.
    Flow{"PageOfAnotherAccountAsksForASignIn", "launch loaded signed:a page:b code open", -1, "", "", "", 1, 1, true, false},
    Flow{"AbandonedSignInFromACommandKeepsTheMap", "launch loaded tick page:b open save", 1, "new", "strSignInNeeded strSignInNeeded", "", 0, 2, false, false},
    Flow{"SaveWithNoIdentifiablePageStartsNothing", "launch loaded signed:a nopage save", 1, "", "errGetPageLink", "", 0, 0, true, false},
    // A save that starts no run leaves nothing pending; a sign-in window is part of its command.
    Flow{"SavesThatStartNoRunLeaveNothingPending", "signed:a page:a launch loaded end:-100 tick savehere nopage save page:b saveinlogin open end:-100 tick", 0, "new new", "errGetPageLink strBusy", "", 2, 1, false, false, nullptr, nullptr, false},
    // New during a save: the save still goes to its page; the new map has none after it.
    Flow{"NewDuringASave", "launch loaded signed:a page:a save pageid:0-abc new", 1, "new", "", "", 1, 0, true, false, "0-abc", "New Map", true},
    Flow{"NewDuringASaveThatEnds", "launch loaded signed:a page:a save pageid:0-abc new end:100 tick", 100, "new", "", "", 1, 0, true, false, "", "New Map", false},
    // An open that fails keeps the map, its page and its title; after New, no page.
    Flow{"FailedOpenKeepsThePage", "signed:a page:a launch loaded downloaded pageid:page-a title:PageA end:-100 tick open pageid:page-b title:PageB end:-21:errGetContentError tick", 0, "set", "errGetContentError", "", 2, 0, false, false, "page-a PageA", "PageA"},
    Flow{"FailedDownloadKeepsThePage", "signed:a page:a launch loaded downloaded pageid:page-a title:PageA end:-100 tick open pageid:page-b title:PageB end:-23:errDownloadFailed tick", 0, "set", "errDownloadFailed", "", 2, 0, false, false, "page-a PageA", "PageA"},
    Flow{"FailedLocationKeepsThePage", "signed:a page:a launch loaded downloaded pageid:page-a title:PageA end:-100 tick open pageid:page-b title:PageB end:10:errGetNotebooksSections tick", 10, "set", "errGetNotebooksSections", "", 2, 0, false, false, "page-a PageA", "PageA"},
    // The title names the page the next save writes to: none after a failed launch open, then
    // the page a Save to Current Page located.
    Flow{"FailedLaunchOpenLeavesNoPage", "signed:a page:a launch loaded end:-20:errGetServerPageId tick", 0, "new", "errGetServerPageId", "", 1, 0, false, false, "", "New Map"},
    Flow{"SaveToCurrentPageNamesItsPage", "signed:a page:a launch loaded end:-20:errGetServerPageId tick savehere save pageid:page-2 title:Budget end:100 tick", 100, "new", "errGetServerPageId", "", 2, 0, false, false, "page-2 Budget", "Budget"},
    // Discovery at start-up answers while the editor loads: what failed meanwhile is told then.
    Flow{"EditorFailingWhileDiscoveryRunsWaits", "signed:a page:a held launch failedload", 0, "", "", "", 0, 0, false, false},
    Flow{"EditorFailureIsToldOnceDiscoveryAnswers", "signed:a page:a held launch failedload nopage answer", -99, "", "errOpenCogitraEditer", "", 0, 0, true, true},
    Flow{"FailedOpenAfterNewGivesNoPage", "signed:a page:a launch loaded downloaded pageid:page-a title:PageA end:-100 tick new open pageid:page-b title:PageB end:-21:errGetContentError tick", 0, "set new", "errGetContentError", "", 2, 0, false, false, "", "New Map"}),
    [](const ::testing::TestParamInfo<Flow> &p) { return std::string(p.param.name); });
// clang-format on

// The first start makes its folders and offers the installer; the next takes the editor's host
// from the configuration. The window waits hidden only where a menu bar of its own remains.
TEST_F(AppDelegateTest, StartUpFollowsTheConfiguration)
{
    play("launch");
    EXPECT_EQ(shell.installerRuns, 1);
    const QString dataDir = QDir(dir.path()).filePath(QStringLiteral("Ardentis/Cogitra"));
    EXPECT_EQ(g_ConfigFile.get(), QDir(dataDir).filePath(QStringLiteral("zetapp.plist")));
    EXPECT_TRUE(QFileInfo(g_AppDataDir.get()).isDir() && QFileInfo(g_CacheDir.get()).isDir());
    EXPECT_EQ(editor.loads, QStringList{EditorPageUrl(g_Host.get(), Text("local"))});
    EXPECT_FALSE(window.visible);
    EXPECT_EQ(window.title, TitleOf(Text("strNewMap")));
    EXPECT_FALSE(app->applicationShouldTerminateAfterLastWindowClosed());

    MConfig config(g_ConfigFile.get());
    config.WriteValueStr(QStringLiteral("Host"), QStringLiteral("maps.example.org:8080"));
    ASSERT_TRUE(config.Save());
    SetUp();
    shell.globalMenuBar = false;
    play("launch");
    EXPECT_EQ(g_AppDataDir.get(), dataDir);
    EXPECT_EQ(app->editorUrl(), QStringLiteral("http://maps.example.org:8080/km/v1.0/")
                                    + Text("local") + QStringLiteral("/index-mac.html"));
    EXPECT_TRUE(window.visible);
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
    app->SetMainWinTitle(QStringLiteral("100% %1"));
    EXPECT_EQ(window.title, TitleOf(QStringLiteral("100% %1 (ada@example.com)")));

    // Sign In as Another User, closed: everything says nobody is signed in.
    play("signed:a page:a tick");
    ASSERT_TRUE(window.loginChecked);
    play("windowcloses logout");
    EXPECT_EQ(window.title, TitleOf(QStringLiteral("100% %1")));
    EXPECT_FALSE(window.loginChecked);
    play("loaded save");
    EXPECT_EQ(alert.messages, QStringList{Text("strSignInNeeded")});
    EXPECT_EQ(shell.loginWindows.size(), 2u) << "the save asks for a sign-in";
    EXPECT_TRUE(online.runs.empty()) << "no run without an account";
    EXPECT_FALSE(app->isBusy());
}

TEST_F(AppDelegateTest, SignInDecisions)
{
    // Login suspends the account comparison for the next run only.
    play("launch loaded code login");
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

    // An abandoned Login undoes the one before.
    play("windowsignsin login windowcloses login");
    const size_t windows = shell.loginWindows.size();
    play("open");
    EXPECT_EQ(shell.loginWindows.size(), windows + 1) << "the open went ahead on the first code";
    EXPECT_EQ(online.runs.size(), 2u);
}

// From a save's first call to the end of its worker every command is refused as busy and
// changes nothing; a finished run leaves nothing pending.
TEST_F(AppDelegateTest, EverythingBetweenASaveAndItsWorkerIsRefused)
{
    play("signed:a page:a launch loaded end:-100 tick");
    g_OnlinePageId.set(QStringLiteral("0-abc"));
    const int discoveries = discovery.calls;
    const qsizetype runs = online.runs.size();
    for (int click = 0; click < 2; ++click) // the second before the page has answered the first
        app->JsCall(QStringLiteral("Save"), QUrl(app->editorUrl()));
    app->MenuItemOpenFromCurrentPage();
    app->JsCall(QStringLiteral("Open"), QUrl(app->editorUrl()));
    app->MenuItemSaveToCurrentPage();
    editor.flush();
    ASSERT_EQ(online.runs.size(), runs + 1);
    ASSERT_TRUE(app->isBusy());
    const qsizetype scripts = editor.scripts.size();
    app->MenuItemSave();
    app->MenuItemLoginClick();
    app->MenuItemLogoutClick();
    app->MenuItemSignOutClick(); // the worker renews the tokens it runs with
    g_StepCode.store(-22);
    play("save savehere");

    EXPECT_EQ(alert.messages, QStringList(10, Text("strBusy")));
    EXPECT_EQ(online.runs.size(), runs + 1);
    EXPECT_EQ(discovery.calls, discoveries);
    EXPECT_TRUE(shell.loginWindows.empty());
    EXPECT_EQ(editor.scripts.size(), scripts);
    EXPECT_EQ(g_OnlinePageId.get(), QStringLiteral("0-abc"));
    EXPECT_EQ(g_StepCode.load(), -22);
    EXPECT_FALSE(g_AccessToken.isEmpty());

    // Only a save that reached the page is confirmed, under the title the worker read there.
    play("title:Project_map end:100 tick");
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^Saved to Project_map at \\d\\d:\\d\\d$"))
                    .match(window.status)
                    .hasMatch())
        << window.status.toStdString();
    window.status.clear();
    play("save end:22 tick tick open end:-100 tick");
    EXPECT_TRUE(window.status.isEmpty()) << "a failed save and an open add nothing";
    EXPECT_EQ(online.runs.size(), runs + 3);
    play("savehere");
    EXPECT_EQ(alert.messages.size(), 10);
    EXPECT_TRUE(g_OnlinePageId.isEmpty());
}

TEST_F(AppDelegateTest, EveryMapHandedToASaveIsKeptForRefresh)
{
    play("launch loaded");
    app->MenuItemRefreshClick();
    EXPECT_EQ(mapsPut(), QString()) << "no copy yet: the map stays";
    EXPECT_EQ(window.notice, Text("strNoSavedMap"));
    const qsizetype scripts = editor.scripts.size();
    app->JsCall(QStringLiteral("Save"), QUrl(app->editorUrl()));
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
    play("pageid:0-abc signed:a save end:30:errUploadFailed tick");
    app->MenuItemRefreshClick();
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
    const QUrl editorUrl(app->editorUrl());
    QUrl otherPort = editorUrl;
    otherPort.setPort(editorUrl.port() + 1);
    QUrl otherScheme = editorUrl;
    otherScheme.setScheme(QStringLiteral("https"));
    for (const QUrl &url : {QUrl(QStringLiteral("http://evil.example/km/")), otherPort, otherScheme,
                            QUrl(), QUrl(QStringLiteral("file:///tmp/x.html"))}) {
        for (const char *command : {"Save", "Open", "New"})
            app->JsCall(QString::fromLatin1(command), url);
    }
    const qsizetype scripts = editor.scripts.size();
    for (const char *command : {"save", "open", "new", "SAVE", "Save ", ""})
        app->JsCall(QString::fromLatin1(command), editorUrl);
    editor.flush();
    EXPECT_EQ(editor.scripts.size(), scripts);
    EXPECT_TRUE(online.runs.empty());
    EXPECT_EQ(discovery.calls, discoveries);

    QUrl samePageOtherPath = editorUrl;
    samePageOtherPath.setPath(QStringLiteral("/km/v1.0/cn/index-mac.html"));
    app->JsCall(QStringLiteral("Open"), samePageOtherPath);
    EXPECT_EQ(online.runs.size(), 1u);
}

// A loaded page is the editor when it is complete at the editor's address, or elsewhere under
// a title with "Zet"; a page that failed or is another ends the program with an alert.
TEST_F(AppDelegateTest, OnlyTheEditorPageIsAcceptedAsLoaded)
{
    const char *const elsewhere = "http://elsewhere.example/";
    // loaded, readyState, address (nullptr: the editor's own), title, ends, complete
    const std::tuple<bool, const char *, const char *, const char *, bool, bool> cases[] = {
        {true, "interactive", nullptr, "Zet", false, false},
        {true, "complete", nullptr, "", false, true},
        {true, "complete", elsewhere, "Zet map", false, true},
        {true, "complete", elsewhere, "Login", true, false},
        {true, "complete", elsewhere, "zet", true, false},
        {true, "complete", "", "Zet", true, false},
        {false, "complete", nullptr, "Zet", true, false},
    };
    for (const auto &[loaded, readyState, address, title, ends, complete] : cases) {
        SCOPED_TRACE(testing::Message() << loaded << readyState << address << title);
        SetUp();
        shell.terminations = 0;
        alert.messages.clear();
        play("launch");
        editor.answers[QStringLiteral("document.readyState")] = QString::fromLatin1(readyState);
        editor.url = address ? QString::fromLatin1(address) : app->editorUrl();
        editor.title = QString::fromLatin1(title);
        app->WebViewProgressFinished(loaded);
        editor.flush();
        app->TimerRun(); // nothing runs after the end
        EXPECT_EQ(shell.terminations, ends ? 1 : 0);
        EXPECT_EQ(alert.messages, ends ? QStringList{Text("errOpenCogitraEditer")} : QStringList());
        EXPECT_EQ(app->webViewNavigateComplete(), complete);
    }
}

// Start-up looks for the page while the editor loads; the answer is acted on in the order a
// blocking discovery had, and never under a modal window.
TEST_F(AppDelegateTest, DiscoveryAtStartUpRunsWhileTheEditorLoads)
{
    play("signed:a page:a held launch loaded");
    app->TimerRun();
    EXPECT_TRUE(app->isBusy()) << "a command meanwhile is refused";
    EXPECT_TRUE(window.visible) << "signed in: shown while discovery runs";
    play("modal answer");
    EXPECT_TRUE(online.runs.empty()) << "nothing is started under a modal window";
    const int ticksBefore = shell.ticksAsked;
    play("modal:off");
    app->TimerRun();
    ASSERT_EQ(online.runs.size(), 1u);
    EXPECT_GT(shell.ticksAsked, ticksBefore) << "the ready page is handed the run at once";
    play("downloaded end:-100 tick");
    EXPECT_EQ(mapsPut(), QStringLiteral("set"));
    EXPECT_EQ(editor.loads.size(), 1u) << "loaded once";
}

// Signed out, Open Page asks for a sign-in before the picker; the page it opened goes first in
// Open Recent under its online title, and the next start reads the list back.
TEST_F(AppDelegateTest, OpenPageSignsInFirstAndItsPageIsRecentAfterARestart)
{
    play("launch loaded tick windowcloses");
    app->MenuItemOpenPage();
    EXPECT_EQ(shell.pickerShown, 0) << "no sign-in, nothing to list";
    shell.pageLink = Page(1);
    play("code");
    app->MenuItemOpenPage();
    EXPECT_EQ(alert.messages, QStringList(2, Text("strSignInNeeded")));
    EXPECT_EQ(shell.loginWindows.size(), 2u);
    ASSERT_EQ(shell.pickerShown, 1);
    ASSERT_EQ(online.runs.size(), 1u);
    EXPECT_TRUE(online.runs.back().DownloadCogitra);
    EXPECT_EQ(online.runs.back().Page, Page(1));
    play("title:Online_title end:-100 tick");

    ResetGlobalsForTesting();
    InitGlobals(dir.path());
    const QList<OneNotePageInfo> recent = LoadRecentPages();
    ASSERT_EQ(recent.size(), 1);
    EXPECT_EQ(QStringList({recent[0].title, recent[0].clientId, recent[0].link}),
              QStringList({QStringLiteral("Online_title"), Page(1).clientId, Page(1).link}));
}

// Ten pages at most, newest first, each once; a recent page the service no longer has is
// dropped with a notice, one that could not be looked for stays.
TEST_F(AppDelegateTest, RecentPagesKeepTheTenNewestOnceAndDropAPageThatIsGone)
{
    play("signed:acc-1 launch loaded tick");
    for (int n = 1; n <= 12; ++n)
        RememberRecentPage(Page(n));
    RememberRecentPage(Page(5, "Renamed"));
    EXPECT_EQ(RecentTitles().join(u','),
              QStringLiteral("Renamed,Page 12,Page 11,Page 10,Page 9,Page 8,Page 7,Page 6,Page "
                             "4,Page 3"));
    app->MenuItemOpenRecent(Page(3));
    play("end:10:errGetNotebooksSections tick");
    EXPECT_TRUE(RecentTitles().contains(QStringLiteral("Page 3")));
    app->MenuItemOpenRecent(Page(3));
    play("end:11 tick");
    EXPECT_EQ(online.runs.size(), 2u);
    EXPECT_EQ(window.notice, Text("strRecentPageGone").arg(QStringLiteral("Page 3")));
    EXPECT_EQ(RecentTitles().size(), 9);
    EXPECT_FALSE(RecentTitles().contains(QStringLiteral("Page 3")));
}

// When OneNote gives no link, the message offers the picker and the link field, and the one
// chosen opens its page; a save without a page only says that no link came.
TEST_F(AppDelegateTest, NoLinkFromOneNoteOffersThePickerAndTheLinkField)
{
    discovery.untold = QStringLiteral("errGetPageLink");
    shell.otherWay = OtherWayAnswer::OpenPage;
    shell.pageLink = Page(1);
    play("signed:acc-1 launch loaded tick");
    EXPECT_EQ(shell.otherWayMessages, QStringList{Text("errGetPageLinkOffer")});
    EXPECT_EQ(shell.pickerShown, 1);
    ASSERT_EQ(online.runs.size(), 1u);
    EXPECT_EQ(online.runs.back().Page, Page(1));
    play("end:-100 tick");

    shell.otherWay = OtherWayAnswer::OpenPageLink;
    shell.pageLink = Page(2);
    play("open tick");
    EXPECT_EQ(shell.pickerShown, 1);
    ASSERT_EQ(online.runs.size(), 2u);
    EXPECT_EQ(online.runs.back().Page, Page(2));
    play("end:-100 tick savehere save");
    EXPECT_EQ(alert.messages, QStringList{Text("errGetPageLink")});
    EXPECT_EQ(shell.otherWayMessages.size(), 2);
    EXPECT_EQ(online.runs.size(), 2u);
}

TEST_F(AppDelegateTest, PastedTextBecomesTopicsAndAnImportReplacesTheMapAsAnEdit)
{
    play("launch");
    const QString pasteScript = QStringLiteral("String(window.g_ZetPasteText ?? '')");
    editor.answers[pasteScript] = QStringLiteral("- one\n  - two");
    jsCall("PasteText");
    EXPECT_TRUE(editor.scripts.last().startsWith(u"PasteTopics('")
                && editor.scripts.last().contains(u"two"))
        << editor.scripts.last().toStdString();
    const qsizetype scripts = editor.scripts.size();
    editor.answers[pasteScript] = QStringLiteral(" \n ");
    jsCall("PasteText");
    EXPECT_EQ(editor.scripts.size(), scripts + 1) << "nothing to paste";
    EXPECT_TRUE(window.status.contains(u"no topics"));

    app->ImportMap(MapJson);
    EXPECT_EQ(editorMaps(), QStringList{EscapeForJsString(MapJson)});
    jsCall("Modified");
    app->ImportMap(QStringLiteral("{\"root\":{}}"));
    EXPECT_EQ(shell.questions.size(), 1);
    EXPECT_EQ(editorMaps().size(), 1) << "a cancelled import changes nothing";
}

// The keystroke script runs off the main thread; the clipboard is touched only on the main
// thread, and the user's comes back whether the answer is taken or the program ends first.
// The desktop notebook answers the script by writing the link from the script's thread.
struct Desktop : IClipboard, IDesktopAutomation
{
    ClipboardContents contents() const override { return check(), inner.contents(); }
    void setContents(const ClipboardContents &c) override { check(), inner.setContents(c); }
    void clear() override { check(), inner.clear(); }
    std::optional<QString> text() const override { return check(), inner.text(); }
    void setText(const QString &t) override { check(), inner.setText(t); }
    void check() const { offMainThread += QThread::currentThread() != qApp->thread(); }
    void RunAppleScript(const QString &source) override
    {
        EXPECT_EQ(source, KeystrokeScript());
        posted->setText(PageOf(QStringLiteral("acc")).link);
    }

    MemoryClipboard inner;
    mutable std::atomic<int> offMainThread = 0;
    IClipboard *posted = nullptr;
};

TEST(PageDiscovery, TheScriptRunsOffTheMainThreadAndTheClipboardComesBack)
{
    Desktop desktop;
    const QString users = QStringLiteral("the user's text");
    desktop.inner.setText(users);
    {
        // As the application holds them: a write still posted goes with its poster.
        MPostedClipboard posted(desktop);
        desktop.posted = &posted;
        MPageDiscovery discovery(desktop, desktop);
        std::optional<OneNotePageInfo> found;
        QEventLoop loop;
        QTimer::singleShot(10000, &loop, &QEventLoop::quit);
        discovery.DiscoverCurrentPage([&](bool ok, const OneNotePageInfo &page) {
            found = ok ? std::optional(page) : std::nullopt;
            loop.quit();
        });
        loop.exec();
        ASSERT_TRUE(found);
        EXPECT_EQ(found->clientId, QStringLiteral("page-client-id"));
        EXPECT_EQ(desktop.inner.text(), users);
        // Ended before the answer was taken: the clipboard is put back all the same.
        discovery.DiscoverCurrentPage([](bool, const OneNotePageInfo &) { ADD_FAILURE(); });
    }
    QCoreApplication::processEvents();
    EXPECT_EQ(desktop.inner.text(), users);
    EXPECT_EQ(desktop.offMainThread.load(), 0);
}

// What the application does with a map that has unsaved changes: it asks before anything
// replaces it, keeps it on disk while it is unsaved, and offers it back after a crash.
const QString EditedJson = QStringLiteral(R"({"root":{"data":{"text":"Plans, edited"}}})");
const QString IsModifiedScript
    = QStringLiteral("typeof IsModified === 'function' ? IsModified() : true");
const QString DraftScript
    = QStringLiteral("(typeof IsModified === 'function' && IsModified()) ? g_ZetDraftJson : ''");

class MapSafetyTest : public AppDelegateTest
{
protected:
    // Started with the map of "Weekly plan", which the user has changed since.
    void editingAPage()
    {
        play("signed:acc-1 page:acc-1 launch loaded downloaded pageid:page-1 end:-100 tick");
        edit();
    }
    // The page reports an edit the way it does: modified, then a draft.
    void edit(const QString &json = EditedJson)
    {
        editor.answers[DraftScript] = json;
        editor.answers[IsModifiedScript] = true;
        jsCall("Modified");
        jsCall("Draft");
    }
    // The page answers "SaveMap()": its globals, then JsCall("Save").
    void pageSaves()
    {
        editor.answers[QStringLiteral("g_ZetJsonResult")] = EditedJson;
        editor.answers[QStringLiteral("g_ZetPngResult")] = QStringLiteral("data:image/png;base64,");
        editor.answers[QStringLiteral("String(window.g_ZetSaveMark ?? '')")] = QStringLiteral("7");
        jsCall("Save");
    }
    void saveEnds(bool succeeded)
    {
        editor.answers[IsModifiedScript] = !succeeded;
        play(succeeded ? "end:100 tick" : "end:30:errUploadFailed tick");
        if (succeeded)
            jsCall("Unmodified");
    }
    [[nodiscard]] qsizetype mapsReplaced() const { return editorMaps().size(); }
};

// What each command does when the map is edited, for every answer: Cancel and a failed save
// leave the map, its page and its draft as they were; Discard and a save that succeeded let the
// command go ahead.
TEST_F(MapSafetyTest, OpenNewAndRestoreAskFirst)
{
    using enum UnsavedChangesAnswer;
    const std::pair<void (AppDelegate::*)(), std::function<bool()>> commands[] = {
        {&AppDelegate::MenuItemOpenFromCurrentPage,
         [this] {
             return online.runs.size() > 1 && online.runs.back().DownloadCogitra;
         }},
        {&AppDelegate::MenuItemOpenPageLink,
         [this] {
             return online.runs.size() > 1 && online.runs.back().DownloadCogitra
                    && online.runs.back().Page == shell.pageLink;
         }},
        {&AppDelegate::MenuItemNew,
         [this] {
             return editor.scripts.contains(QStringLiteral("NewMap()"))
                    && window.title == TitleOf(Text("strNewMap")) && g_OnlinePageId.isEmpty();
         }},
        {&AppDelegate::MenuItemRefreshClick,
         [this] {
             return editor.scripts.last().startsWith(u"RestoreJsonData('")
                    && window.title == TitleOf(QStringLiteral("Weekly plan"));
         }},
    };
    for (size_t c = 0; c < std::size(commands); ++c) {
        const auto &[command, wentAhead] = commands[c];
        for (const auto &[answer, saved] :
             {std::pair{Cancel, false}, {Discard, false}, {Save, true}, {Save, false}}) {
            SCOPED_TRACE(testing::Message()
                         << "command " << c << " answer " << int(answer) << " saved " << saved);
            SetUp();
            online.runs.clear();
            editingAPage();
            shell.questions.clear(); // the offer of the draft the last case left
            ASSERT_TRUE(SaveMapBackup(MapJson));
            const qsizetype maps = mapsReplaced();
            shell.unsavedAnswer = answer;
            shell.pageLink = OneNotePageInfo{"acc-1", "P", "Linked", "", "Sec", ""};
            ((*app).*command)();
            editor.flush();
            ASSERT_EQ(shell.questions.size(), 1);
            EXPECT_TRUE(shell.questions[0].contains(u"Weekly plan"));
            if (answer == Save) {
                EXPECT_EQ(editor.scripts.last(), QStringLiteral("SaveMap()"));
                pageSaves();
                ASSERT_EQ(online.runs.size(), 2u);
                EXPECT_EQ(online.runs.back().CogitraJsonForUpload, EditedJson);
                EXPECT_EQ(mapsReplaced(), maps) << "nothing goes ahead before the save ends";
                saveEnds(saved);
                EXPECT_EQ(editor.scripts.contains(QStringLiteral("MarkSaved('7')")), saved);
            }
            const bool ahead = answer == Discard || saved;
            EXPECT_EQ(QFile::exists(MapDraftPath()), !ahead) << "the edits are kept until then";
            if (ahead) {
                EXPECT_TRUE(wentAhead());
                EXPECT_TRUE(answer == Discard || !window.modified);
            } else {
                EXPECT_EQ(mapsReplaced(), maps);
                EXPECT_TRUE(window.modified);
                EXPECT_EQ(g_OnlinePageId.get(), QStringLiteral("page-1"));
                EXPECT_EQ(online.runs.size(), answer == Save ? 2u : 1u);
            }
        }
    }
}

TEST_F(MapSafetyTest, ClosingAndQuittingAskFirst)
{
    editingAPage();
    int closes = 0;
    const auto closeAgain = [&] {
        ++closes;
    };

    shell.unsavedAnswer = UnsavedChangesAnswer::Cancel;
    EXPECT_FALSE(app->MayCloseWindow(closeAgain));
    app->MenuItemQuit();
    EXPECT_EQ(shell.terminations, 0);
    EXPECT_EQ(shell.questions.size(), 2);

    // The page never answered the save it was asked for: a later save of the user's own does
    // not close the window behind it.
    shell.unsavedAnswer = UnsavedChangesAnswer::Save;
    EXPECT_FALSE(app->MayCloseWindow(closeAgain));
    app->MenuItemSave();
    pageSaves();
    saveEnds(true);
    EXPECT_EQ(closes, 0);
    edit();

    // Save: the window stays until the save has succeeded, then closes.
    shell.unsavedAnswer = UnsavedChangesAnswer::Save;
    EXPECT_FALSE(app->MayCloseWindow(closeAgain));
    pageSaves();
    saveEnds(false);
    EXPECT_EQ(closes, 0) << "a failed save keeps the window and the map";
    EXPECT_FALSE(app->MayCloseWindow(closeAgain));
    pageSaves();
    saveEnds(true);
    EXPECT_EQ(closes, 1);
    EXPECT_TRUE(app->MayCloseWindow(closeAgain)) << "saved: no question";

    // Discard: gone at once, and a draft the page sends on the way out is not kept.
    edit();
    shell.unsavedAnswer = UnsavedChangesAnswer::Discard;
    EXPECT_TRUE(app->MayCloseWindow(closeAgain));
    EXPECT_FALSE(QFile::exists(MapDraftPath()));
    jsCall("Draft");
    EXPECT_FALSE(QFile::exists(MapDraftPath()));
    app->MenuItemQuit();
    EXPECT_EQ(shell.terminations, 1);
    EXPECT_EQ(closes, 1);
}

TEST_F(MapSafetyTest, ASaveEndingBeneathTheQuitQuestionAnswersIt)
{
    editingAPage();
    shell.whileUnsavedAsked = [this] {
        app->MenuItemSave();
        pageSaves();
        saveEnds(true);
    };
    app->MenuItemQuit();
    EXPECT_EQ(shell.terminations, 1);
}

TEST_F(MapSafetyTest, DraftFollowsTheModifiedState)
{
    editingAPage();
    const std::optional<MapDraft> draft = LoadMapDraft();
    ASSERT_TRUE(draft);
    EXPECT_EQ(QStringList({draft->json, draft->onlinePageId, draft->pageTitle,
                           draft->page.notebookName, draft->page.accountId}),
              QStringList({EditedJson, QStringLiteral("page-1"), QStringLiteral("Weekly plan"),
                           QStringLiteral("Work"), QStringLiteral("acc-1")}));
    EXPECT_LE(draft->savedAt.secsTo(QDateTime::currentDateTimeUtc()), 5);
    QFile file(MapDraftPath());
    EXPECT_EQ(file.permissions()
                  & ~(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser
                      | QFileDevice::WriteUser),
              0);

    // The page answers a draft call after Undo made the map clean: nothing is written.
    editor.answers[DraftScript] = QString();
    jsCall("Unmodified");
    EXPECT_FALSE(window.modified);
    EXPECT_FALSE(QFile::exists(MapDraftPath()));
    jsCall("Draft");
    EXPECT_FALSE(QFile::exists(MapDraftPath()));
}

// The program was killed with unsaved edits; the next start offers them back.
TEST_F(MapSafetyTest, EditsOfAKilledSessionAreOfferedBack)
{
    editingAPage();
    const auto nextStart = [this](bool accept) {
        ResetGlobalsForTesting();
        makeApp();
        account.clear();
        online.runs.clear();
        shell.questions.clear();
        shell.restoreDraft = accept;
        launch();
    };

    const int discoveries = discovery.calls;
    nextStart(true);
    ASSERT_EQ(shell.questions.size(), 1);
    EXPECT_TRUE(shell.questions[0].contains(u"Weekly plan"));
    EXPECT_EQ(window.title, TitleOf(QStringLiteral("Weekly plan")));
    EXPECT_EQ(discovery.calls, discoveries);
    // Nothing is opened over them; they go in once the editor is ready, as edits.
    EXPECT_TRUE(online.runs.empty());
    editor.finishLoading(*app, MapJson);
    tick();
    EXPECT_EQ(editor.scripts.last(), QStringLiteral("RestoreJsonData('%1')").arg(EditedJson));
    EXPECT_EQ(window.title, TitleOf(QStringLiteral("Weekly plan")));
    EXPECT_TRUE(QFile::exists(MapDraftPath())) << "kept until saved or discarded";
    jsCall("Modified");
    EXPECT_TRUE(window.modified);
    // The next Save writes them to that page, without asking OneNote which one.
    signIn(QStringLiteral("acc-1"));
    pageSaves();
    ASSERT_EQ(online.runs.size(), 1u);
    EXPECT_EQ(online.runs[0].Page.title, QStringLiteral("Weekly plan"));
    EXPECT_EQ(g_OnlinePageId.get(), QStringLiteral("page-1"));
    EXPECT_EQ(discovery.calls, discoveries);
    endRun(30, "errUploadFailed");
    tick();

    // The save failed, so the offer comes again; declined, the launch open goes ahead.
    nextStart(false);
    EXPECT_EQ(shell.questions.size(), 1);
    EXPECT_FALSE(QFile::exists(MapDraftPath()));
    EXPECT_GT(discovery.calls, discoveries);

    nextStart(true);
    EXPECT_TRUE(shell.questions.isEmpty());
}

} // namespace
} // namespace Cogitra::Test
