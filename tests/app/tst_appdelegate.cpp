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

const QString EditedJson = QStringLiteral(R"({"root":{"data":{"text":"Plans, edited"}}})");
const QString UnicodeJson = QStringLiteral(R"({"root":{"data":{"text":"Later, ünïcode"}}})");
const QString IsModifiedScript
    = QStringLiteral("typeof IsModified === 'function' ? IsModified() : true");
const QString DraftScript
    = QStringLiteral("(typeof IsModified === 'function' && IsModified()) ? g_ZetDraftJson : ''");

void EmptyAccount()
{
    for (auto *value : {&g_AuthCode, &g_AccessToken, &g_RefreshToken, &g_AccountId, &g_UserId})
        value->set(QString());
}

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

class Scenario : public ::testing::TestWithParam<Flow>, public AppHarness
{
protected:
    void SetUp() override
    {
        ResetGlobalsForTesting();
        SetLanguage(QStringLiteral("en"));
        ASSERT_TRUE(dir.isValid());
        makeApp();
    }
    void TearDown() override { ResetGlobalsForTesting(); }
    // Plays words, each a thing the user, OneNote or the worker does, arguments after colons.
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
            // Discovery answers when told.
            {"held", [this](W) { discovery.hold = true; }},
            {"answer", [this](W) { discovery.answer(); }},
            // The worker ends at step S, failure key K; it downloaded "Weekly plan"; it located page P titled T.
            {"end", [](W w) { endRun(w.at(1).toLongLong(), w.size() > 2 ? qPrintable(w.at(2)) : nullptr); }},
            {"downloaded", [](W) { g_PageTitle.set(QStringLiteral("Weekly plan")), g_DownloadedMapJson.set(MapJson); }},
            {"pageid", [](W w) { g_OnlinePageId.set(w.at(1)); }},
            {"title", [](W w) { g_PageTitle.set(w.at(1)); }},
            // The sign-in's parts one at a time; the name shown; a window title asked for.
            {"token", [](W) { g_AccessToken.set(QStringLiteral("access-token")); }},
            {"notoken", [](W) { g_AccessToken.set(QString()); }},
            {"userid", [](W) { g_UserId.set(QStringLiteral("user-id")); }},
            {"upn", [](W w) { g_UserPrincipalName.set(w.at(1)); }},
            {"wintitle", [this](W w) { app->SetMainWinTitle(QString(w.at(1)).replace(u'_', u' ')); }},
            // Menu items whose scripts, like those of "from:" calls, wait for "flush"; a tick alone.
            {"flush", [this](W) { editor.flush(); }},
            {"timer", [this](W) { app->TimerRun(); }},
            {"menusave", [this](W) { app->MenuItemSave(); }},
            {"signout", [this](W) { app->MenuItemSignOutClick(); }},
            {"openpage", [this](W) { app->MenuItemOpenPage(); }},
            {"link", [this](W w) { shell.pageLink = Page(w.at(1).toInt()); }},
            // OneNote gives no link and says why untold; the user picks another way (page, link).
            {"untold", [this](W) { discovery.untold = QStringLiteral("errGetPageLink"); }},
            {"otherway", [this](W w) { shell.otherWay = w.at(1) == u"page" ? OtherWayAnswer::OpenPage : OtherWayAnswer::OpenPageLink; }},
            // The program's next start reads the data folder again.
            {"restart", [this](W) { ResetGlobalsForTesting(), InitGlobals(dir.path()); }},
            // The configuration names the editor's host; the desktop has no menu bar of its own.
            {"host", [](W w) { MConfig config(g_ConfigFile.get()); config.WriteValueStr(QStringLiteral("Host"), w.mid(1).join(u':')); ASSERT_TRUE(config.Save()); }},
            {"nomenubar", [this](W) { shell.globalMenuBar = false; }},
            // A call of the page, from:where:Command, where is the editor's address or another.
            {"from", [this](W w) { app->JsCall(QString(w.last()).replace(u'_', u' '), addressOf(w.mid(1, w.size() - 2).join(u':'))); }},
            // The page's map when asked for a save: one with text beyond Latin-1.
            {"unicodemap", [this](W) { editor.answers[QStringLiteral("g_ZetJsonResult")] = UnicodeJson; }},
            // The text the page pastes: a list (paste:list) or blanks; a map imported.
            {"paste", [this](W w) { editor.answers[QStringLiteral("String(window.g_ZetPasteText ?? '')")] = w.at(1) == u"list" ? QStringLiteral("- one\n  - two") : QStringLiteral(" \n "); }},
            {"import", [this](W) { app->ImportMap(MapJson); }},
            // Open Recent: pages 1 to n opened in turn; page n under another title; page n chosen.
            {"pages", [](W w) { for (int n = 1; n <= w.at(1).toInt(); ++n) RememberRecentPage(Page(n)); }},
            {"renamed", [](W w) { RememberRecentPage(Page(w.at(1).toInt(), "Renamed")); }},
            {"recent", [this](W w) { app->MenuItemOpenRecent(Page(w.at(1).toInt())); }},
            {"step", [](W w) { g_StepCode.store(w.at(1).toLongLong()); }},
            {"clearstatus", [this](W) { window.status.clear(); }},
            // The page that finished loading (finished:0, failed): its state, address and title.
            {"ready", [this](W w) { editor.answers[QStringLiteral("document.readyState")] = w.at(1); }},
            {"at", [this](W w) { editor.url = w.at(1) == u"editor" ? app->editorUrl() : w.mid(1).join(u':'); }},
            {"pagetitle", [this](W w) { editor.title = w.value(1).replace(u'_', u' '); }},
            {"finished", [this](W w) { app->WebViewProgressFinished(w.at(1) == u"1"), editor.flush(); }},
            // "Weekly plan" opened and edited since (modified, then a draft); a call of the page; a clean draft.
            {"editing", [this](W) { play("signed:acc-1 page:acc-1 launch loaded downloaded pageid:page-1 end:-100 tick edit"); }},
            {"edit", [this](W) { editor.answers[DraftScript] = EditedJson, editor.answers[IsModifiedScript] = true, jsCall("Modified"), jsCall("Draft"); }},
            {"call", [this](W w) { jsCall(qPrintable(w.at(1))); }},
            {"clean", [this](W) { editor.answers[DraftScript] = QString(); }},
            // The page answers "SaveMap()": its globals, then the Save call; the save ends (saveends:0, failed).
            {"pagesaves", [this](W) { pageSaves(); }},
            {"saveends", [this](W w) { saveEnds(w.at(1) == u"1"); }},
            // The answer to the unsaved-changes question; the page's own Save (Ctrl+S just before) arrives while it is up (savebeneath).
            {"reply", [this](W w) { shell.unsavedAnswer = w.at(1) == u"save" ? UnsavedChangesAnswer::Save : w.at(1) == u"discard" ? UnsavedChangesAnswer::Discard : UnsavedChangesAnswer::Cancel; }},
            {"savebeneath", [this](W) { shell.whileUnsavedAsked = [this] { pageSaves(); }; }},
            {"savebeneathpicker", [this](W) { shell.whilePicking = [this] { editor.answers[IsModifiedScript] = false, pageSaves(), play("end:100"); }; }},
            {"close", [this](W) { mayClose = app->MayCloseWindow([this] { ++closes; }); }},
            {"quit", [this](W) { app->MenuItemQuit(); }},
            {"openlink", [this](W) { app->MenuItemOpenPageLink(); }},
            {"refresh", [this](W) { app->MenuItemRefreshClick(); }},
            {"backup", [](W) { ASSERT_TRUE(SaveMapBackup(MapJson)); }},
            // The program was killed and starts again; the offer of the draft taken (nextstart:1) or not.
            {"nextstart", [this](W w) { ResetGlobalsForTesting(), makeApp(), account.clear(), online.runs.clear(), shell.questions.clear(), shell.terminations = 0, shell.restoreDraft = w.at(1) == u"1", launch(); }},
            // A modal window is up (modal:off, no longer); ticks keep arriving while an alert is up.
            {"modal", [this](W w) { shell.modal = w.value(1) != u"off"; }},
            {"busyalert", [this](W) { alert.onShow = [this] { for (int i = 0; i < 3; ++i) app->TimerRun(); }; }},
        };
        // What "=fact:value" compares, "_" for spaces; alerts, offers and notices take keys.
        const std::map<QString, std::function<QString()>> facts = {
            {"step", [] { return QString::number(g_StepCode.load()); }},
            {"runs", [this] { return QString::number(online.runs.size()); }},
            {"runaccount", [this] { return online.runs.empty() ? QString() : online.runs.back().Page.accountId; }},
            {"runpage", [this] { return online.runs.empty() ? QString() : online.runs.back().Page.clientId; }},
            {"windows", [this] { return QString::number(shell.loginWindows.size()); }},
            {"lastwindow", [this] { return shell.loginWindows.empty() ? QString() : QStringLiteral("%1%2").arg(shell.loginWindows.back().first).arg(shell.loginWindows.back().second); }},
            {"account", [] { return g_AccountId.get(); }},
            {"page", [] { return g_OnlinePageId.get(); }},
            {"token", [] { return QString::number(!g_AccessToken.isEmpty()); }},
            {"busy", [this] { return QString::number(app->isBusy()); }},
            {"signedin", [this] { return QString::number(window.loginChecked); }},
            {"loginchanges", [this] { return QString::number(window.loginItemChanges); }},
            {"animations", [this] { return QString::number(window.animationStarts); }},
            {"visible", [this] { return QString::number(window.visible); }},
            {"title", [this] { return window.title.endsWith(u" - " + Text("appName")) ? window.title.chopped(Text("appName").size() + 3) : window.title; }},
            {"saved", [this] { return QRegularExpression(QStringLiteral("^Saved to (.+) at \\d\\d:\\d\\d$")).match(window.status).captured(1); }},
            {"alerts", [this] { return alert.messages.join(u'|'); }},
            {"discoveries", [this] { return QString::number(discovery.calls); }},
            {"picker", [this] { return QString::number(shell.pickerShown); }},
            {"ticks", [this] { return QString::number(shell.ticksAsked); }},
            {"scripts", [this] { return QString::number(editor.scripts.size()); }},
            {"loads", [this] { return QString::number(editor.loads.size()); }},
            {"complete", [this] { return QString::number(app->webViewNavigateComplete()); }},
            {"notice", [this] { return window.notice; }},
            {"pasted", [this] { return QString::number(editor.scripts.last().startsWith(u"PasteTopics('") && editor.scripts.last().contains(u"two")); }},
            {"notopics", [this] { return QString::number(window.status.contains(u"no topics")); }},
            {"backup", [] { const QString b = LoadMapBackup(); return b == MapJson ? QStringLiteral("map") : b == UnicodeJson ? QStringLiteral("unicode") : b; }},
            {"backupprivate", [] { return QString::number((QFile(MapBackupPath()).permissions() & (QFileDevice::ReadOther | QFileDevice::ReadGroup)) == 0); }},
            {"datafiles", [] { return QDir(g_AppDataDir.get()).entryList(QDir::Files | QDir::Hidden).join(u','); }},
            {"savecalls", [this] { return editor.scripts.mid(editor.scripts.size() - 3).join(u'|'); }},
            {"installer", [this] { return QString::number(shell.installerRuns); }},
            {"datadir", [this] { return QDir(dir.path()).relativeFilePath(g_AppDataDir.get()); }},
            {"configfile", [this] { return QDir(dir.path()).relativeFilePath(g_ConfigFile.get()); }},
            {"folders", [] { return QString::number(QFileInfo(g_AppDataDir.get()).isDir() && QFileInfo(g_CacheDir.get()).isDir()); }},
            {"editorloaded", [this] { return QString::number(editor.loads == QStringList{EditorPageUrl(g_Host.get(), Text("local"))}); }},
            {"editorurl", [this] { return app->editorUrl(); }},
            {"quitwithwindow", [this] { return QString::number(app->applicationShouldTerminateAfterLastWindowClosed()); }},
            {"offers", [this] { return shell.otherWayMessages.join(u'|'); }},
            {"maps", [this] { return mapsPut(); }},
            {"questions", [this] { return QString::number(shell.questions.size()); }},
            {"asked", [this] { return QString::number(shell.questions.value(0).contains(u"Weekly plan")); }},
            {"modified", [this] { return QString::number(window.modified); }},
            {"draft", [] { return QString::number(QFile::exists(MapDraftPath())); }},
            {"draftpage", [] { const auto d = LoadMapDraft(); return d ? QStringList{d->onlinePageId, d->pageTitle, d->page.notebookName, d->page.accountId}.join(u'|') : QString(); }},
            {"draftjson", [] { return QString::number(LoadMapDraft().value_or(MapDraft{}).json == EditedJson); }},
            {"draftfresh", [] { return QString::number(LoadMapDraft().value_or(MapDraft{}).savedAt.secsTo(QDateTime::currentDateTimeUtc()) <= 5); }},
            {"draftprivate", [] { return QString::number(QFile(MapDraftPath()).permissions() == (QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser | QFileDevice::WriteUser)); }},
            {"restored", [this] { const QString last = editor.scripts.value(editor.scripts.size() - 1); return last == QStringLiteral("RestoreJsonData('%1')").arg(EditedJson) ? QStringLiteral("edits") : last == QStringLiteral("RestoreJsonData('%1')").arg(MapJson) ? QStringLiteral("backup") : last == QStringLiteral("RestoreJsonData('%1')").arg(UnicodeJson) ? QStringLiteral("unicode") : QString(); }},
            {"lastscript", [this] { return editor.scripts.value(editor.scripts.size() - 1); }},
            {"marked", [this] { return QString::number(editor.scripts.contains(QStringLiteral("MarkSaved('7')"))); }},
            {"download", [this] { return QString::number(!online.runs.empty() && online.runs.back().DownloadCogitra); }},
            {"upload", [this] { return QString::number(!online.runs.empty() && online.runs.back().CogitraJsonForUpload == EditedJson); }},
            {"runtitle", [this] { return online.runs.empty() ? QString() : online.runs.back().Page.title; }},
            {"mayclose", [this] { return QString::number(mayClose); }},
            {"closes", [this] { return QString::number(closes); }},
            {"terminations", [this] { return QString::number(shell.terminations); }},
            {"quitnotices", [this] { return shell.quitNotices.join(u'|'); }},
            {"recent", [] { QStringList titles; for (const OneNotePageInfo &page : LoadRecentPages()) titles << page.title; return titles.join(u','); }},
            {"recentpage", [] { return LoadRecentPages().value(0).clientId; }},
        };
        // clang-format on
        for (const QString &word : words.split(u' ', Qt::SkipEmptyParts)) {
            const QStringList w = word.mid(word.startsWith(u'=')).split(u':');
            if (word.startsWith(u'=')) {
                const auto fact = facts.find(w.front());
                QString want = w.mid(1).join(u':');
                if (QStringList{"alerts", "offers", "notice", "quitnotices"}.contains(w.front()))
                    want = Texts(want).join(u'|');
                if (fact == facts.end())
                    ADD_FAILURE() << "unknown fact " << word.toStdString();
                else
                    EXPECT_EQ(fact->second().replace(u' ', u'_'), want.replace(u' ', u'_'))
                        << word.toStdString();
                continue;
            }
            const auto verb = verbs.find(w.front());
            if (verb == verbs.end())
                ADD_FAILURE() << "unknown word " << word.toStdString();
            else
                verb->second(w);
        }
    }
    QUrl addressOf(const QString &where) const
    {
        QUrl url(app->editorUrl());
        if (where == u"otherport")
            url.setPort(url.port() + 1);
        else if (where == u"https")
            url.setScheme(QStringLiteral("https"));
        else if (where == u"otherpath")
            url.setPath(QStringLiteral("/km/v1.0/cn/index-mac.html"));
        else if (where != u"editor")
            url = QUrl(where == u"elsewhere" ? QStringLiteral("http://evil.example/km/")
                       : where == u"none"    ? QString()
                                             : where);
        return url;
    }
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
    bool mayClose = false;
    int closes = 0;
    // The texts of keys ("key*n": n of them, "key/arg": with arg, "_" for its spaces).
    static QStringList Texts(const QString &keys)
    {
        QStringList texts;
        for (const QString &key :
             keys.split(QRegularExpression(QStringLiteral("[ ,]")), Qt::SkipEmptyParts)) {
            const QStringList parts = key.split(u'*');
            const QStringList arg = parts.front().split(u'/');
            QString text = Text(arg.front().toLatin1().constData());
            if (arg.size() > 1)
                text = text.arg(QString(arg.at(1)).replace(u'_', u' '));
            for (int i = 0; i < parts.value(1, QStringLiteral("1")).toInt(); ++i)
                texts.append(text);
        }
        return texts;
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

TEST_P(Scenario, EndsAsListed)
{
    const Flow &f = GetParam();
    play(QString::fromLatin1(f.words));
    EXPECT_EQ(g_StepCode.load(), f.step);
    EXPECT_EQ(mapsPut(), QString::fromLatin1(f.maps));
    EXPECT_EQ(alert.messages, Texts(QString::fromLatin1(f.alerts)));
    EXPECT_EQ(window.notice, Texts(QString::fromLatin1(f.notice)).value(0));
    EXPECT_EQ(online.runs.size(), f.runs);
    EXPECT_EQ(shell.loginWindows.size(), f.signIns);
    EXPECT_EQ(window.waiting, f.waiting);
    EXPECT_EQ(shell.terminations, f.ends ? 1 : 0);
    EXPECT_EQ(app->terminated(), f.ends);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(AppDelegate, Scenario, ::testing::Values(
    Flow{"AbandonedSignInAtLaunchEnds", "page:a launch", 0, "", "", "", 0, 1, true, true},
    // The empty map waits for an editor page that is loaded, has a map and its own title.
    Flow{"EmptyMapOnceTheEditorIsReady", "launch tick =step:-99 loaded tick", 0, "new", "", "", 0, 0, false, false},
    Flow{"NoHandOverToAnotherTitleOrWithoutAMap", "launch loaded othertitle tick =step:-99 pagetitle:Zet_Cogitra_editor nomap tick tick", -99, "", "", "", 0, 0, true, false},
    // Only a run that ended at -6 or below hands a map over.
    Flow{"RunEndedAboveThenAtTheHandOver", "launch loaded end:-5 tick =step:-5 =maps: end:-6 tick", 0, "new", "", "", 0, 0, false, false},
    Flow{"DownloadedMapHandedOver", "launch loaded downloaded end:-100 tick", 0, "set", "", "", 0, 0, false, false},
    Flow{"CompletedSaveLeavesTheEditor", "launch loaded downloaded end:-100 tick end:100 tick tick", 100, "set", "", "", 0, 0, false, false},
    Flow{"NoAlertUnderAModalWindow", "launch loaded end:-20:errGetServerPageId modal tick", -20, "", "", "", 0, 0, true, false},
    Flow{"OneAlertPerFailure", "launch loaded end:-20:errGetServerPageId modal tick modal:off busyalert tick tick", 0, "new", "errGetServerPageId", "", 0, 0, false, false},
    Flow{"FailedOpenAlertsOnceThenEmptyMap", "launch loaded end:-21:errGetContentError tick tick", 0, "new", "errGetContentError", "", 0, 0, false, false},
    // An open that ends without a map brings the editor back.
    Flow{"SecondOpenWhileTheFirstAsksIsRefused", "signed:a page:a launch loaded end:-100 tick openwhileasked open", -1, "new", "strBusy", "", 2, 0, true, false},
    Flow{"PageInNoSectionIsANoticeTheNextOpenTakesAway", "launch loaded tick signed:a page:a open end:11 tick =step:11 =maps:new =notice:errPageNotFound open", -1, "new", "", "", 2, 0, true, false},
    Flow{"RecordedFailuresAreAlerts", "launch loaded tick signed:a page:a open end:11:errAccountDiff tick end:10:errGetNotebooksSections tick", 10, "new", "errAccountDiff errGetNotebooksSections", "", 1, 0, false, false},
    Flow{"FailedDiscoveryKeepsTheMap", "launch loaded tick signed:a page:a open end:-100 tick nopage open", 0, "new new", "errGetPageLink", "", 1, 0, false, false},
    // Signing in before a run.
    Flow{"PageOfAnotherAccountAsksForASignIn", "launch loaded signed:a page:b code open", -1, "", "", "", 1, 1, true, false},
    Flow{"AbandonedSignInFromACommandKeepsTheMap", "launch loaded tick page:b open save", 1, "new", "strSignInNeeded strSignInNeeded", "", 0, 2, false, false},
    // A save that starts no run leaves nothing pending; a sign-in window is part of its command.
    Flow{"SavesThatStartNoRunLeaveNothingPending", "signed:a page:a launch loaded end:-100 tick savehere nopage save page:b saveinlogin open end:-100 tick =busy:0", 0, "new new", "errGetPageLink strBusy", "", 2, 1, false, false},
    // New during a save: the save still goes to its page; the new map has none after it.
    Flow{"NewDuringASave", "launch loaded signed:a page:a save pageid:0-abc new =step:1 =page:0-abc =title:New_Map =busy:1 end:100 tick =page: =title:New_Map =busy:0", 100, "new", "", "", 1, 0, true, false},
    // An open that fails keeps the map, its page and its title; after New, no page.
    Flow{"FailedOpenOrLocationKeepsThePageNewDoesNot", "signed:a page:a launch loaded downloaded pageid:page-a title:PageA end:-100 tick open pageid:page-b title:PageB end:-21:errGetContentError tick =step:0 =maps:set =page:page-a =title:PageA open pageid:page-b title:PageB end:10:errGetNotebooksSections tick =page:page-a =title:PageA new open pageid:page-b title:PageB end:-21:errGetContentError tick =page: =title:New_Map", 0, "set new", "errGetContentError errGetNotebooksSections errGetContentError", "", 4, 0, false, false},
    // The title names the page the next save writes to: none after a failed launch open, else the one located.
    Flow{"FailedLaunchOpenLeavesNoPage", "signed:a page:a launch loaded end:-20:errGetServerPageId tick =page: =title:New_Map", 0, "new", "errGetServerPageId", "", 1, 0, false, false},
    Flow{"SaveToCurrentPageNamesItsPage", "signed:a page:a launch loaded end:-20:errGetServerPageId tick savehere save pageid:page-2 title:Budget end:100 tick =page:page-2 =title:Budget", 100, "new", "errGetServerPageId", "", 2, 0, false, false},
    // The sign-in shows in the login item and in the title; signed out, a save asks for one.
    Flow{"SignInShowsInTheLoginItemAndTheTitle", "launch token tick =signedin:0 userid tick tick =signedin:1 =loginchanges:1 notoken tick =signedin:0 upn:ada@example.com wintitle:100%_%1 =title:100%_%1_(ada@example.com) signed:a page:a tick =signedin:1 windowcloses logout =signedin:0 loaded save =title:100%_%1 =busy:0", 1, "", "strSignInNeeded", "", 0, 2, true, false},
    // Login suspends the account check for the next run only; an abandoned Login undoes the one before.
    Flow{"SignInDecisions", "launch loaded code login =windows:1 =lastwindow:10 page:c open =windows:1 =account:c signed:c end:-100 tick page:d open =windows:2 =lastwindow:00 =animations:1 =runaccount:d end:-100 tick logout =lastwindow:11 windowsignsin login windowcloses login =windows:5 open", 0, "new new", "strSignInNeeded", "", 2, 6, false, false},
    // From a save's first call to its worker's end every command is refused; only a save that reached the page is confirmed.
    Flow{"EverythingBetweenASaveAndItsWorkerIsRefused", "signed:a page:a launch loaded end:-100 tick pageid:0-abc =runs:1 =discoveries:1 from:editor:Save from:editor:Save open from:editor:Open savehere import flush =runs:2 =busy:1 =scripts:6 menusave login logout signout step:-22 save savehere =alerts:strBusy*11 =runs:2 =discoveries:1 =windows:0 =scripts:6 =page:0-abc =step:-22 =token:1 title:Project_map end:100 tick =saved:Project_map clearstatus save end:22 tick tick open end:-100 tick =saved: =runs:4 savehere =page:", 0, "new new", "strBusy*11", "", 4, 0, false, false},
    // Start-up looks for the page while the editor loads, and starts nothing under a modal window.
    Flow{"DiscoveryAtStartUpRunsWhileTheEditorLoads", "signed:a page:a held launch loaded timer =busy:1 =visible:1 modal answer =runs:0 modal:off =ticks:1 timer =runs:1 =ticks:2 downloaded end:-100 tick =loads:1", 0, "set", "", "", 1, 0, false, false},
    // The editor is a complete page at its address, or elsewhere titled with "Zet"; any other page ends the program.
    Flow{"EditorPageUntitled", "launch ready:complete at:editor pagetitle: finished:1 timer =complete:1", -99, "", "", "", 0, 0, true, false},
    Flow{"EditorPageStillLoadingThenElsewhere", "launch ready:interactive at:editor pagetitle:Zet finished:1 timer =complete:0 ready:complete at:http://elsewhere.example/ pagetitle:Zet_map finished:1 timer =complete:1", -99, "", "", "", 0, 0, true, false},
    Flow{"OtherPageElsewhere", "launch ready:complete at:http://elsewhere.example/ pagetitle:Login finished:1 timer =complete:0", -99, "", "errOpenCogitraEditer", "", 0, 0, true, true},
    Flow{"TitleInTheWrongCase", "launch ready:complete at:http://elsewhere.example/ pagetitle:zet finished:1 timer =complete:0", -99, "", "errOpenCogitraEditer", "", 0, 0, true, true},
    Flow{"PageWithoutAnAddress", "launch ready:complete at: pagetitle:Zet finished:1 timer =complete:0", -99, "", "errOpenCogitraEditer", "", 0, 0, true, true},
    Flow{"EditorPageFailed", "launch ready:complete at:editor pagetitle:Zet finished:0 timer =complete:0", -99, "", "errOpenCogitraEditer", "", 0, 0, true, true},
    Flow{"ChosenHostFailedAndTheBuiltInEditorDeclined", "launch host:127.0.0.1:9 nextstart:0 ready:complete at:editor pagetitle:Zet finished:0 timer =questions:1", -99, "", "errOpenCogitraEditer", "", 0, 0, true, true},
    // Signed out, Open Page asks for a sign-in first; the page opened is first in Open Recent after a restart.
    Flow{"OpenPageSignsInFirstAndItsPageIsRecentAfterARestart", "launch loaded tick windowcloses openpage =picker:0 link:1 code openpage =picker:1 =runpage:{P1} title:Online_title end:-100 tick restart =recent:Online_title =recentpage:{P1}", 0, "new new", "strSignInNeeded*2", "", 1, 2, false, false},
    // When OneNote gives no link, the picker or the link field opens a page; a save only says no link came.
    Flow{"NoLinkFromOneNoteOffersThePickerAndTheLinkField", "untold otherway:page link:1 signed:acc-1 launch loaded tick =offers:errGetPageLinkOffer =picker:1 =runpage:{P1} end:-100 tick otherway:link link:2 open tick =picker:1 =runs:2 =runpage:{P2} end:-100 tick savehere save =offers:errGetPageLinkOffer*2", 1, "new new", "errGetPageLink", "", 2, 0, false, false},
    // Unsaved changes: Cancel and a failed save keep map, page and draft; Discard and a save that succeeded go ahead.
    Flow{"OpenSaved", "editing backup link:1 reply:save open flush =questions:1 =asked:1 =lastscript:SaveMap() pagesaves =runs:2 =upload:1 =maps:set saveends:1 =marked:1 =draft:0 =modified:0 =runs:3 =download:1", -1, "set", "", "", 3, 0, true, false},
    Flow{"OpenCancelledSaveFailedThenDiscarded", "editing backup link:1 reply:cancel open flush =questions:1 =asked:1 =draft:1 =modified:1 =maps:set =page:page-1 =runs:1 =step:0 reply:save open flush =questions:2 pagesaves =runs:2 =upload:1 saveends:0 =marked:0 =draft:1 =modified:1 =maps:set =page:page-1 reply:discard open flush =questions:3 =draft:0 =runs:3 =download:1", -1, "set", "errUploadFailed", "", 3, 0, true, false},
    Flow{"OpenLinkSaved", "editing backup link:1 reply:save openlink flush =questions:1 =asked:1 =lastscript:SaveMap() pagesaves =runs:2 =upload:1 =maps:set saveends:1 =marked:1 =draft:0 =modified:0 =runs:3 =download:1 =runpage:{P1}", -1, "set", "", "", 3, 0, true, false},
    Flow{"OpenLinkCancelledSaveFailedThenDiscarded", "editing backup link:1 reply:cancel openlink flush =questions:1 =asked:1 =draft:1 =modified:1 =maps:set =page:page-1 =runs:1 =step:0 reply:save openlink flush =questions:2 pagesaves =runs:2 =upload:1 saveends:0 =marked:0 =draft:1 =modified:1 =maps:set =page:page-1 reply:discard openlink flush =questions:3 =draft:0 =runs:3 =download:1 =runpage:{P1}", -1, "set", "errUploadFailed", "", 3, 0, true, false},
    Flow{"NewSaved", "editing backup link:1 reply:save new flush =questions:1 =asked:1 =lastscript:SaveMap() pagesaves =runs:2 =upload:1 =maps:set saveends:1 =marked:1 =draft:0 =modified:0 =page: =title:New_Map", 100, "set new", "", "", 2, 0, false, false},
    Flow{"NewCancelledSaveFailedThenDiscarded", "editing backup link:1 reply:cancel new flush =questions:1 =asked:1 =draft:1 =modified:1 =maps:set =page:page-1 =runs:1 =step:0 reply:save new flush =questions:2 pagesaves =runs:2 =upload:1 saveends:0 =marked:0 =draft:1 =modified:1 =maps:set =page:page-1 reply:discard new flush =questions:3 =draft:0 =page: =title:New_Map", 30, "set new", "errUploadFailed", "", 2, 0, false, false},
    Flow{"RefreshSaved", "editing backup link:1 reply:save refresh flush =questions:1 =asked:1 =lastscript:SaveMap() pagesaves =runs:2 =upload:1 =maps:set saveends:1 =marked:1 =draft:0 =modified:0 =restored:edits =title:Weekly_plan", 100, "set set", "", "", 2, 0, false, false},
    Flow{"RefreshCancelledSaveFailedThenDiscarded", "editing backup link:1 reply:cancel refresh flush =questions:1 =asked:1 =draft:1 =modified:1 =maps:set =page:page-1 =runs:1 =step:0 reply:save refresh flush =questions:2 pagesaves =runs:2 =upload:1 saveends:0 =marked:0 =draft:1 =modified:1 =maps:set =page:page-1 reply:discard refresh flush =questions:3 =draft:0 =restored:edits =title:Weekly_plan", 30, "set set", "errUploadFailed", "", 2, 0, false, false},
    // Closing and quitting ask too; the window waits for a save of its own; a draft sent on the way out is dropped.
    Flow{"ClosingAndQuittingAskFirst", "editing reply:cancel close =mayclose:0 quit =terminations:0 =questions:2 reply:save close =mayclose:0 menusave pagesaves saveends:1 =closes:0 edit reply:save close =mayclose:0 pagesaves saveends:0 =closes:0 close =mayclose:0 pagesaves saveends:1 =closes:1 close =mayclose:1 edit reply:discard close =mayclose:1 =draft:0 call:Draft =draft:0 quit =closes:1", 100, "set", "errUploadFailed", "", 4, 0, false, true},
    // Quit between a Save and its worker's start, and again while the worker runs: both wait for the save's end.
    Flow{"QuitDuringASaveWaitsForTheSave", "editing menusave from:editor:Save quit flush quit tick tick tick =terminations:0 =questions:0 =quitnotices:strQuitAfterSave*2 saveends:1 tick", 100, "set", "", "", 2, 0, false, true},
    // A save started beneath the quit question answers it: the quit waits for that save, and a failed one quits nothing.
    Flow{"ASaveStartedBeneathTheQuitQuestionAnswersIt", "editing savebeneath quit =questions:1 =runs:2 =upload:1 =terminations:0 saveends:1", 100, "set", "", "", 2, 0, false, true},
    // One that ended beneath the page picker is the answer for the page chosen there: no question, the page opens after it.
    Flow{"ASaveEndedBeneathThePickerAnswersForThePageChosen", "editing link:2 savebeneathpicker openpage =questions:0 =runs:2 =upload:1 tick =runs:3 =runpage:{P2}", -1, "set", "", "", 3, 0, true, false},
    Flow{"ASaveStartedBeneathTheQuitQuestionAndFailedQuitsNothing", "editing savebeneath quit saveends:0 =modified:1 =draft:1 =terminations:0 =runs:2", 30, "set", "errUploadFailed", "", 2, 0, false, false},
    // The draft follows the modified state, kept privately with the map's page.
    Flow{"DraftFollowsTheModifiedState", "editing =draftpage:page-1|Weekly_plan|Work|acc-1 =draftjson:1 =draftfresh:1 =draftprivate:1 clean call:Unmodified =modified:0 =draft:0 call:Draft =draft:0", 0, "set", "", "", 1, 0, false, false},
    // Edits of a killed session are offered at the next start, restored as edits and saved to their page.
    Flow{"EditsOfAKilledSessionAreOfferedBack", "editing =discoveries:1 nextstart:1 =questions:1 =asked:1 =title:Weekly_plan =discoveries:1 =runs:0 loaded tick =restored:edits =title:Weekly_plan =draft:1 call:Modified =modified:1 signed:acc-1 pagesaves =runs:1 =runtitle:Weekly_plan =page:page-1 =discoveries:1 end:30:errUploadFailed tick nextstart:0 =questions:1 =draft:0 =discoveries:2 nextstart:1 =questions:0", 0, "", "errUploadFailed", "", 0, 2, true, true},
    // The first start makes its folders and offers the installer; the next reads the editor's host from the configuration.
    Flow{"FirstStartFollowsTheConfiguration", "launch =step:-99 =maps: =runs:0 =installer:1 =configfile:Ardentis/Cogitra/zetapp.plist =folders:1 =editorloaded:1 =visible:0 =title:New_Map =quitwithwindow:0 host:maps.example.org:8080 nomenubar nextstart:0 =datadir:Ardentis/Cogitra =editorurl:http://maps.example.org:8080/km/v1.0/en/index-mac.html =visible:1", -99, "", "", "", 0, 0, true, false},
    // Open Recent keeps the ten newest, each once; a page the service no longer has is dropped with a notice.
    Flow{"RecentPagesKeepTheTenNewestOnceAndDropAPageThatIsGone", "signed:acc-1 launch loaded tick pages:12 renamed:5 =recent:Renamed,Page_12,Page_11,Page_10,Page_9,Page_8,Page_7,Page_6,Page_4,Page_3 recent:3 end:10:errGetNotebooksSections tick =recent:Renamed,Page_12,Page_11,Page_10,Page_9,Page_8,Page_7,Page_6,Page_4,Page_3 recent:3 end:11 tick =recent:Renamed,Page_12,Page_11,Page_10,Page_9,Page_8,Page_7,Page_6,Page_4", 11, "new", "errGetNotebooksSections", "strRecentPageGone/Page_3", 2, 0, false, false},
    // Every map handed to a save is kept privately for Refresh, before anything can fail.
    Flow{"EveryMapHandedToASaveIsKeptForRefresh", "launch loaded refresh =maps: =notice:strNoSavedMap from:editor:Save =step:1 =backup: flush =savecalls:String(window.g_ZetSaveMark_??_'')|g_ZetJsonResult|g_ZetPngResult =backup:map =backupprivate:1 unicodemap pageid:0-abc signed:a save end:30:errUploadFailed tick refresh =restored:unicode =datafiles:cogitra.json", 30, "set", "errUploadFailed", "strNoSavedMap", 0, 1, true, false},
    // The page's calls are answered only from the editor's own origin, and only exact commands.
    Flow{"JsCallAnswersOnlyExactCommandsOfTheEditorOrigin", "launch loaded signed:a page:a =scripts:1 from:elsewhere:Save from:elsewhere:Open from:elsewhere:New from:otherport:Save from:otherport:Open from:https:Open from:https:New from:none:Open from:file:///tmp/x.html:Open from:editor:save from:editor:open from:editor:new from:editor:SAVE from:editor:Save_ from:editor:Open_ from:editor: flush =scripts:1 =runs:0 =discoveries:1 from:otherpath:Open =runs:1", -1, "", "", "", 1, 0, true, false},
    // Pasted text becomes topics or a status word; an import asks about unsaved changes like any replacement.
    Flow{"PastedTextBecomesTopicsAndAnImportReplacesTheMap", "launch paste:list call:PasteText =pasted:1 =scripts:2 paste:blank call:PasteText =scripts:3 =notopics:1 import =maps:set call:Modified import =questions:1", -99, "set", "", "", 0, 0, true, false},
    // Discovery at start-up answers while the editor loads: what failed meanwhile is told then.
    Flow{"EditorFailureIsToldOnceDiscoveryAnswers", "signed:a page:a held launch ready:complete finished:0 =step:0 =alerts: =terminations:0 nopage answer", -99, "", "errOpenCogitraEditer", "", 0, 0, true, true}),
    [](const ::testing::TestParamInfo<Flow> &p) { return std::string(p.param.name); });
// clang-format on

// Discovery's script runs off the main thread, the clipboard on it, and the clipboard comes back.
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

} // namespace
} // namespace Cogitra::Test
