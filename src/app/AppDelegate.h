#pragma once

#include "IAppShell.h"
#include "IEditorPage.h"
#include "IMainWindow.h"
#include "IOnlineRun.h"
#include "IPageDiscovery.h"
#include "MMapDraft.h"

#include <QString>
#include <QUrl>

#include <functional>
#include <optional>

namespace Cogitra {

// The application's own logic: start-up, the status loop, the editor bridge and the
// commands. It reaches the windows, the editor page, page discovery and the worker only
// through the interfaces it is given, so it runs the same under Qt and under tests.
// Main thread only.
class AppDelegate
{
public:
    struct Ports
    {
        IMainWindow *window = nullptr;
        IEditorPage *editor = nullptr;
        IAppShell *shell = nullptr;
        IPageDiscovery *discovery = nullptr;
        IOnlineRun *online = nullptr;
    };

    explicit AppDelegate(const Ports &ports);
    AppDelegate(const AppDelegate &) = delete;
    AppDelegate &operator=(const AppDelegate &) = delete;

    // Start-up. dataRoot replaces the Application Support folder when not empty.
    void awakeFromNib(const QString &dataRoot = QString());
    void applicationDidFinishLaunching();
    [[nodiscard]] bool applicationShouldTerminateAfterLastWindowClosed() const;

    // Status loop; the caller's timer calls TimerRun once a second.
    void TimerRun();
    void StartWaiting();
    void Waiting();
    void SetMainWinTitle(const QString &documentTitle);

    // Editor bridge. callerUrl is the address of the page that made the call.
    void JsCall(const QString &command, const QUrl &callerUrl);
    void PutJsonToKityMind(const QString &json);
    void IsCogitraWebPageCompleteLoaded(std::function<void(bool ready)> done);
    // The load-finished check, for every finished load of the editor view.
    void WebViewProgressFinished(bool loadSucceeded);
    void NewMap();
    void SaveMap();

    // Commands.
    [[nodiscard]] bool LoadMindMapFromCurrentOneNotePage();
    void SaveMindMapToOneNotePage(const QString &json, const QString &png);
    void MenuItemNew();
    void MenuItemSave();
    void MenuItemSaveToCurrentPage();
    void MenuItemOpenFromCurrentPage();
    // Opens the page a link names, as an open of the current page does once it is found.
    void MenuItemOpenPageLink();
    // The page picker: a sign-in first when nobody is signed in, then the chosen page's open.
    void MenuItemOpenPage();
    // A page of Open Recent; one that no longer exists is taken off the list.
    void MenuItemOpenRecent(const OneNotePageInfo &page);
    void MenuItemLoginClick();
    void MenuItemLogoutClick();
    void MenuItemSignOutClick();
    void MenuItemRefreshClick();
    void MenuItemHostsClick();
    void MenuItemAboutClick();
    void MenuItemUploadStateClick();
    void MenuItemQuit();
    // Replaces the map with one made from a file (File > Import) as an edit Undo takes back,
    // after the unsaved-changes question.
    void ImportMap(const QString &json);

    // Closing the main window: true when it may close now. Otherwise the user cancelled, or
    // a save runs first and closeAgain is called once it has succeeded, or a run is going and
    // closeAgain is called once it has ended.
    [[nodiscard]] bool MayCloseWindow(std::function<void()> closeAgain);
    [[nodiscard]] bool isModified() const { return m_Modified; }

    [[nodiscard]] const QString &editorUrl() const { return m_URLCogitra; }
    [[nodiscard]] bool webViewNavigateComplete() const { return m_WebViewNavigateComplete; }
    [[nodiscard]] bool loginCheckAccountIdDiff() const { return m_LoginCheckAccountIdDiff; }
    [[nodiscard]] bool terminated() const { return m_Terminated; }
    // From the start of launching until the current page's run has started (or none will).
    [[nodiscard]] bool isLaunching() const { return m_Launching; }
    // The page the latest discovery found, under the names the commands know it by.
    [[nodiscard]] const OneNotePageInfo &currentPage() const { return m_CurrPage; }
    [[nodiscard]] const QString &AccountId() const { return m_CurrPage.accountId; }
    [[nodiscard]] const QString &CurrPageClientId() const { return m_CurrPage.clientId; }
    [[nodiscard]] const QString &CurrPageTitle() const { return m_CurrPage.title; }
    [[nodiscard]] const QString &CurrNotebookName() const { return m_CurrPage.notebookName; }
    [[nodiscard]] const QString &CurrSectionName() const { return m_CurrPage.sectionName; }
    // True from the moment a command has passed its busy check until its worker run has
    // finished: a command that stops before starting one ends the pending state too.
    [[nodiscard]] bool isBusy() const;

private:
    // Runs action once the editor's map may be replaced: at once when it has no unsaved
    // changes; otherwise after asking, and with Save only once the save has succeeded.
    void WhenChangesAreSafe(std::function<void()> action);
    // With Save, starts the save and keeps afterSave for when it has succeeded; a save under
    // way answers Save itself.
    UnsavedChangesAnswer AskAboutUnsavedChanges(std::function<void()> afterSave);
    // A save of the map running, or ended well and not yet taken up by the status loop.
    [[nodiscard]] bool SaveUnderWay() const;
    void SetModified(bool modified);
    void KeepDraft();
    void PasteText();
    void EndOfSaveRun();
    [[nodiscard]] bool OfferDraft();
    void RestoreDraftWhenReady();
    // The title of the page the next save writes to.
    [[nodiscard]] QString TargetTitle() const;
    [[nodiscard]] bool RefuseWhenBusy();
    [[nodiscard]] bool workerRunning() const;
    [[nodiscard]] bool DiscoverCurrentPage();
    // Start-up from the current page's discovery on: the sign-in, the run and the rest of
    // launching. found is what discovery answered.
    void ContinueLaunch(bool found);
    void FinishLaunching(bool found);
    void ShowWindowWhenDue();
    [[nodiscard]] bool OpenDiscoveredPage(bool found);
    void EditorLoadFailed();
    // False when the sign-in was abandoned; at launch the application has then ended.
    [[nodiscard]] bool SignInDecision();
    void StartRun(const MWorkerProperties &properties);
    void ApplyDeferredPageIdClear(bool now = false);
    void HandOverWhenReady();
    void ReportMapShownOnce();
    void ConfirmSave();
    // The page of the open or save that just succeeded goes first in Open Recent.
    void RememberPage();
    void EndOpenRunWithoutMap(int64_t stepCode);
    [[nodiscard]] bool KeepMapOfFailedOpen();
    void Terminate();
    void UpdateLoginItem();
    void AfterLoginWindow();
    [[nodiscard]] bool IsEditorOrigin(const QUrl &url) const;
    [[nodiscard]] bool OfferBuiltInEditor();
    // The open run of the page in m_CurrPage, after discovery.
    [[nodiscard]] bool OpenCurrPage();
    // The open of a page the user named (link, picker, Open Recent), after the usual
    // question about unsaved changes.
    void OpenChosenPage(const OneNotePageInfo &page, bool recent);
    // A discovery failure left to this side: with offer, the message offers the picker and the
    // link field, taken up by the next tick once the command that discovered has ended.
    void TellDiscoveryFailure(bool offer);
    // The save run of m_SaveJson and m_SavePng; replace: also over a map not seen here.
    void StartSaveRun(bool replace);
    void AskAboutUnseenMap();
    // Quitting waits for the run: a save cut short could leave the page with the new
    // picture and the old map.
    void QuitWhenRunEnds(std::function<void()> closeAgain);
    void CloseAfterRun();
    void EditorPageFailed();
    void PutMapBackWhenReady();

    Ports m_Ports;

    bool m_WebViewNavigateComplete = false;
    QString m_URLCogitra;
    // The editor comes from a host the user chose, not from the application itself.
    bool m_EditorHostChosen = false;
    bool m_LoginCheckAccountIdDiff = true;
    // What the title names besides the account, for showing it again after a sign-in.
    QString m_DocumentTitle;
    // What discovery left: it is never cleared, and a save without a new discovery goes
    // to this page.
    OneNotePageInfo m_CurrPage;

    bool m_Launching = false;
    // Start-up waits for discovery's answer, or for a modal window to close to act on it.
    bool m_LaunchDiscovery = false;
    std::optional<bool> m_LaunchAnswer;
    bool m_EditorLoadStarted = false;
    // The editor page failed while start-up waited for discovery: told once it is through.
    bool m_EditorFailedWhileLaunching = false;
    bool m_Terminated = false;
    bool m_RunStarted = false;
    // A command between its busy check and the start of its worker (a Save waiting for
    // the page's answers, a sign-in window): counts as busy.
    bool m_RunPending = false;
    bool m_InTick = false;
    bool m_ReadyCheckPending = false;
    bool m_MapShownReported = false;
    // An open run whose end the status loop has not acted on yet.
    bool m_OpenRunPending = false;
    bool m_OpenRunReportedError = false;
    // The running open came from Open Recent: a page not found is taken off the list.
    bool m_OpenRunFromRecent = false;
    std::optional<OtherWayAnswer> m_OtherWay;
    // A code captured by the Login command stands for a sign-in for the next run.
    bool m_FreshSignIn = false;
    // New during a run clears the page id once the run has ended, not under the worker.
    bool m_PageIdClearDeferred = false;
    // Once the editor holds a map the user may have changed, a failed open leaves it, and
    // the page it came from, in place.
    bool m_EditorHasMap = false;
    QString m_PageIdBeforeOpen;
    QString m_PageTitleBeforeOpen;

    bool m_Modified = false;
    // After Discard on the way out no later draft may bring the edits back.
    bool m_DraftsStopped = false;
    // The page's token for the state of the map that the running save writes.
    QString m_SaveMark;
    QString m_SaveRunMark;
    bool m_SaveRunPending = false;
    std::function<void()> m_AfterSave;
    // Edits brought back from a draft at start-up, for the editor once it is ready.
    QString m_DraftToRestore;
    MapOrigin m_DraftOrigin;
    // Where the editor's map came from; a save may replace only that page's map unasked.
    MapOrigin m_MapOrigin;
    // A save of the editor's map runs: once done, its page is where the map came from.
    bool m_SaveOriginPending = false;
    // What the last save sent, to send again when the user says Replace.
    QString m_SaveJson;
    QString m_SavePng;

    // A quit or close that came during a run, taken again once the run has ended.
    std::function<void()> m_AfterRun;
    int m_TicksSinceRunEnd = 0;
    // The editor page has shown a map once; losing it later is not a failed start.
    bool m_EditorStarted = false;
    // The editor's map as last read from the page, saved or started, and the edits on top
    // of it as the editor last handed them over: what a reloaded editor gets back.
    QString m_CleanMap;
    QString m_EditedMap;
    QString m_SavingMap;
    bool m_MapToPutBack = false;
};

} // namespace Cogitra
