#include "AppDelegate.h"

#include "MEditorScript.h"
#include "MLoginFlow.h"
#include "MMapBackup.h"
#include "MMapConverter.h"
#include "MRecentPages.h"

#include "util/MAlert.h"
#include "util/MGlobals.h"
#include "util/MStepCodes.h"
#include "util/MStrings.h"
#include "util/MUtils.h"

#include <QLocale>
#include <QTime>

#include <cstdio>
#include <utility>

namespace Cogitra {

namespace {

void ShowKey(const char *key)
{
    ShowMessage(LocalizedString(QString::fromLatin1(key)));
}

// The worker's last run was a save that reached the page.
bool SaveEndedWell()
{
    return g_StepCode.load() == Step::SaveDone && g_ErrorCode.load() == 0;
}

// Holds a flag set for the life of a scope: a tick whose alert is up, a command that has
// not started its run yet.
class FlagGuard
{
public:
    explicit FlagGuard(bool &flag)
        : m_Flag(flag)
    {
        m_Flag = true;
    }
    ~FlagGuard() { m_Flag = false; }
    FlagGuard(const FlagGuard &) = delete;
    FlagGuard &operator=(const FlagGuard &) = delete;

private:
    bool &m_Flag;
};

} // namespace

AppDelegate::AppDelegate(const Ports &ports)
    : m_Ports(ports)
{}

void AppDelegate::awakeFromNib(const QString &dataRoot)
{
    m_Ports.shell->runInstaller();
    InitGlobals(dataRoot);
    m_WebViewNavigateComplete = false;
    m_LoginCheckAccountIdDiff = true;
}

void AppDelegate::applicationDidFinishLaunching()
{
    m_EditorHostChosen = !ChosenEditorHost().isEmpty();
    m_URLCogitra = EditorPageUrl(g_Host.get(), LocalizedString(QStringLiteral("local")));
    SetMainWinTitle(LocalizedString(QStringLiteral("strNewMap")));

    m_Launching = true;
    if (OfferDraft()) {
        // The edits brought back belong to the draft's page: nothing is opened over them.
        PublishWorkerFinished();
        StartWaiting();
        SetMainWinTitle(TargetTitle());
        FinishLaunching(false);
        return;
    }
    // Shown while discovery runs when it is due anyway: the editor page then has its size
    // well before a map is handed to it and centred.
    ShowWindowWhenDue();
    // Busy until the run has started, as a command is.
    m_RunPending = true;
    ApplyDeferredPageIdClear();
    m_Ports.window->showNotice(QString());
    m_LaunchDiscovery = true;
    m_Ports.discovery->DiscoverCurrentPage([this](bool found, const OneNotePageInfo &page) {
        m_CurrPage = page;
        m_LaunchAnswer = found;
        // Under a modal window the status loop takes the answer up once it has closed.
        if (!m_Terminated && !m_Ports.shell->isModalActive())
            ContinueLaunch(found);
    });
    // The keystroke script takes its one and a half seconds while the editor page loads.
    if (m_LaunchDiscovery && !m_Terminated) {
        m_EditorLoadStarted = true;
        m_Ports.editor->load(m_URLCogitra);
    }
}

void AppDelegate::ContinueLaunch(bool found)
{
    m_LaunchDiscovery = false;
    m_LaunchAnswer.reset();
    found = OpenDiscoveredPage(found);
    m_RunPending = false;
    FinishLaunching(found);
}

void AppDelegate::FinishLaunching(bool found)
{
    m_Launching = false;
    if (m_Terminated)
        return;

    if (!std::exchange(m_EditorLoadStarted, true))
        m_Ports.editor->load(m_URLCogitra);
    if (!found)
        g_StepCode.store(Step::NoCurrentPage);

    ShowWindowWhenDue();

    if (std::exchange(m_EditorFailedWhileLaunching, false))
        EditorLoadFailed();
    else
        m_Ports.shell->tickSoon();
}

void AppDelegate::ShowWindowWhenDue()
{
    // Without a menu bar of its own the application would be out of reach with its
    // window hidden, so there the window is always shown.
    if (!g_AccessToken.isEmpty() || !g_AuthCode.isEmpty() || !m_Ports.shell->hasGlobalMenuBar())
        m_Ports.window->makeVisible();
}

bool AppDelegate::applicationShouldTerminateAfterLastWindowClosed() const
{
    return !g_AccessToken.isEmpty();
}

void AppDelegate::TimerRun()
{
    if (m_Terminated || m_InTick || m_Ports.shell->isModalActive())
        return;
    FlagGuard guard(m_InTick);
    // Start-up is not through: nothing is there for a tick yet, except an answer of
    // discovery that came while a modal window was up.
    if (m_LaunchDiscovery) {
        if (m_LaunchAnswer)
            ContinueLaunch(*m_LaunchAnswer);
        return;
    }

    if (m_OtherWay && !isBusy()) {
        const OtherWayAnswer way = *std::exchange(m_OtherWay, std::nullopt);
        if (way == OtherWayAnswer::OpenPage)
            MenuItemOpenPage();
        else
            MenuItemOpenPageLink();
        return;
    }
    if (m_MapToPutBack)
        PutMapBackWhenReady();
    if (WorkerFinished()) {
        if (std::exchange(m_SaveOriginPending, false) && g_StepCode.load() == Step::SaveDone)
            m_MapOrigin = OriginOfFinishedRun();
        if (g_ErrorCode.load() == Step::SaveUnseenMap) {
            // Before the save's end is taken: after a Replace, what waits for the save still
            // waits for it.
            g_ErrorCode.store(0);
            AskAboutUnseenMap();
            return;
        }
        // Kept only for a Replace: a map may be megabytes.
        m_SaveJson.clear();
        m_SavePng.clear();
        EndOfSaveRun();
        ApplyDeferredPageIdClear();
        if (g_ErrorCode.load() != 0) {
            g_ErrorCode.store(0);
            if (m_OpenRunPending)
                m_OpenRunReportedError = true;
            ShowMessage(LocalizedString(g_ErrorMessageKey.get()));
            if (m_Terminated)
                return;
        }
        const int64_t step = g_StepCode.load();
        if (step <= Step::HandOverAtOrBelow)
            HandOverWhenReady();
        else if (m_OpenRunPending
                 && (step == Step::ListingNotebooks || step == Step::SearchingNotebooks))
            EndOpenRunWithoutMap(step);
    }
    UpdateLoginItem();
    CloseAfterRun();
}

void AppDelegate::QuitWhenRunEnds(std::function<void()> closeAgain)
{
    // A later close stands for an earlier one and for whatever waited for a save.
    m_AfterRun = std::move(closeAgain);
    m_AfterSave = nullptr;
    m_TicksSinceRunEnd = 0;
    const bool saving = Step::IsSaving(g_StepCode.load());
    m_Ports.shell->showQuitWhenRunEnds(LocalizedString(saving ? QStringLiteral("strQuitAfterSave")
                                                              : QStringLiteral("strQuitAfterRun")));
}

void AppDelegate::CloseAfterRun()
{
    if (!m_AfterRun)
        return;
    if (isBusy() || m_ReadyCheckPending) {
        m_TicksSinceRunEnd = 0;
        return;
    }
    // The tick that took the run's end has told the editor what it brought (the saved state,
    // the opened map); the close goes on one tick later, once the editor has answered.
    if (++m_TicksSinceRunEnd < 2)
        return;
    m_TicksSinceRunEnd = 0;
    std::exchange(m_AfterRun, nullptr)();
}

void AppDelegate::HandOverWhenReady()
{
    if (!m_WebViewNavigateComplete || m_ReadyCheckPending)
        return;
    m_ReadyCheckPending = true;
    IsCogitraWebPageCompleteLoaded([this](bool ready) {
        m_ReadyCheckPending = false;
        // The answer comes later than the tick that asked: look again at what it saw.
        if (!ready || m_Terminated || !WorkerFinished()
            || g_StepCode.load() > Step::HandOverAtOrBelow)
            return;
        Waiting();
        if (!(m_OpenRunPending && m_OpenRunReportedError && KeepMapOfFailedOpen())) {
            m_MapToPutBack = false;
            m_MapOrigin = OriginOfFinishedRun();
            if (m_OpenRunPending && !m_OpenRunReportedError)
                RememberPage();
            PutJsonToKityMind(g_DownloadedMapJson.get());
            RestoreDraftWhenReady();
            ReportMapShownOnce();
        }
        g_StepCode.store(Step::Idle);
        m_OpenRunPending = false;
    });
}

bool AppDelegate::KeepMapOfFailedOpen()
{
    // An empty map in place of the user's would lose every change not yet saved, and
    // the next save would go to the page that could not be read.
    if (!m_EditorHasMap)
        return false;
    g_OnlinePageId.set(m_PageIdBeforeOpen);
    g_PageTitle.set(m_PageTitleBeforeOpen);
    return true;
}

void AppDelegate::ReportMapShownOnce()
{
    // With COGITRA_REPORT_MAP_SHOWN set, one line on stderr once the first map handed over
    // is in the editor, for measuring start-up from outside. Scripts answer in order, so
    // this answer comes after the map's.
    if (m_MapShownReported || !qEnvironmentVariableIsSet("COGITRA_REPORT_MAP_SHOWN"))
        return;
    m_MapShownReported = true;
    m_Ports.editor->evaluate(QStringLiteral("String(g_ZetJsonResult || '').length"),
                             [](const QVariant &length) {
                                 std::fprintf(stderr, "cogitra: map shown (%lld characters)\n",
                                              static_cast<long long>(length.toLongLong()));
                             });
}

void AppDelegate::EndOpenRunWithoutMap(int64_t stepCode)
{
    if (!m_WebViewNavigateComplete)
        return;
    m_OpenRunPending = false;
    (void)KeepMapOfFailedOpen();
    Waiting();
    if (stepCode != Step::SearchingNotebooks || m_OpenRunReportedError)
        return;
    if (std::exchange(m_OpenRunFromRecent, false)) {
        ForgetRecentPage(m_CurrPage);
        m_Ports.window->showNotice(
            LocalizedString(QStringLiteral("strRecentPageGone")).arg(m_CurrPage.title));
        return;
    }
    m_Ports.window->showNotice(LocalizedString(QStringLiteral("errPageNotFound")));
}

void AppDelegate::RememberPage()
{
    m_OpenRunFromRecent = false;
    OneNotePageInfo page = m_CurrPage;
    // The page's own title, as the service has it now: a web link may carry none or an old one.
    if (!g_PageTitle.isEmpty())
        page.title = g_PageTitle.get();
    RememberRecentPage(page);
}

void AppDelegate::ConfirmSave()
{
    // The progress window is gone by now; without this the user cannot tell a save that
    // reached the page from one that never started.
    const QString time = QTime::currentTime().toString(QStringLiteral("HH:mm"));
    m_Ports.window->showStatus(
        LocalizedString(QStringLiteral("strSavedTo")).arg(g_PageTitle.get(), time));
}

void AppDelegate::UpdateLoginItem()
{
    const bool signedIn = !g_AccessToken.isEmpty() && !g_UserId.isEmpty();
    const bool checked = m_Ports.window->isLoginItemChecked();
    if (!signedIn && checked)
        m_Ports.window->setLoginItemChecked(false);
    else if (signedIn && !checked)
        m_Ports.window->setLoginItemChecked(true);
}

void AppDelegate::StartWaiting()
{
    m_Ports.window->showWaitingPresentation();
}

void AppDelegate::Waiting()
{
    if (WorkerFinished() && m_WebViewNavigateComplete && m_Ports.window->isProgressVisible())
        m_Ports.window->showEditingPresentation();
}

void AppDelegate::SetMainWinTitle(const QString &documentTitle)
{
    m_DocumentTitle = documentTitle;
    const QString upn = g_UserPrincipalName.get();
    const QString appName = LocalizedString(QStringLiteral("appName"));
    if (!upn.isEmpty())
        m_Ports.window->setTitle(QStringLiteral("%1 (%2) - %3").arg(documentTitle, upn, appName));
    else
        m_Ports.window->setTitle(QStringLiteral("%1 - %2").arg(documentTitle, appName));
}

bool AppDelegate::IsEditorOrigin(const QUrl &url) const
{
    const QUrl editor(m_URLCogitra);
    return url.isValid() && editor.isValid() && !editor.host().isEmpty()
           && url.scheme() == editor.scheme() && url.host() == editor.host()
           && url.port(-1) == editor.port(-1);
}

void AppDelegate::JsCall(const QString &command, const QUrl &callerUrl)
{
    if (m_Terminated || !IsEditorOrigin(callerUrl))
        return;
    if (command == u"New") {
        MenuItemNew();
    } else if (command == u"Open") {
        MenuItemOpenFromCurrentPage();
    } else if (command == u"Save") {
        if (RefuseWhenBusy()) {
            m_AfterSave = nullptr;
            return;
        }
        // The worker starts two page answers from now; whatever arrives in between is
        // refused as if the run were already going.
        m_RunPending = true;
        g_StepCode.store(Step::SaveRequested);
        // Which state of the map the save holds, for telling the page once it is saved.
        m_Ports.editor->evaluate(QStringLiteral("String(window.g_ZetSaveMark ?? '')"),
                                 [this](const QVariant &mark) { m_SaveMark = mark.toString(); });
        m_Ports.editor->evaluate(QStringLiteral("g_ZetJsonResult"), [this](const QVariant &json) {
            m_Ports.editor->evaluate(QStringLiteral("g_ZetPngResult"),
                                     [this, json = json.toString()](const QVariant &png) {
                                         if (m_Terminated)
                                             return;
                                         m_RunPending = false;
                                         SaveMindMapToOneNotePage(json, png.toString());
                                     });
        });
    } else if (command == u"Modified" || command == u"Unmodified") {
        SetModified(command == u"Modified");
    } else if (command == u"Draft") {
        KeepDraft();
    } else if (command == u"PasteText") {
        PasteText();
    }
}

void AppDelegate::PasteText()
{
    // Text from another program: read the way an imported outline is, and handed back as
    // topics for the page to paste.
    m_Ports.editor->evaluate(
        QStringLiteral("String(window.g_ZetPasteText ?? '')"), [this](const QVariant &text) {
            if (m_Terminated)
                return;
            const MapConversion topics = MMapConverter::pastedTopics(text.toString());
            if (!topics.ok()) {
                m_Ports.window->showStatus(
                    LocalizedString(QStringLiteral("strPasteUnreadable")).arg(topics.error));
                return;
            }
            m_Ports.editor->evaluate(QStringLiteral("PasteTopics('%1')")
                                         .arg(EscapeForJsString(QString::fromUtf8(topics.bytes))));
        });
}

void AppDelegate::PutJsonToKityMind(const QString &json)
{
    m_EditorHasMap = true;
    m_CleanMap = json;
    m_EditedMap.clear();
    QString script;
    if (json.length() > 0)
        script = QStringLiteral("SetJsonData('%1')").arg(EscapeForJsString(json));
    else
        script = QStringLiteral("NewMap()");
    SetMainWinTitle(TargetTitle());
    m_Ports.editor->evaluate(script);
}

void AppDelegate::IsCogitraWebPageCompleteLoaded(std::function<void(bool)> done)
{
    if (!m_WebViewNavigateComplete
        || !Contains(m_Ports.editor->mainFrameTitle(), QStringLiteral("Zet"))) {
        done(false);
        return;
    }
    m_Ports.editor->evaluate(
        QStringLiteral("g_ZetJsonResult"), [done = std::move(done)](const QVariant &result) {
            done(result.typeId() == QMetaType::QString && result.toString().length() > 0);
        });
}

void AppDelegate::WebViewProgressFinished(bool loadSucceeded)
{
    if (m_Terminated)
        return;
    // A load that failed leaves no page behind, whatever the error page's state says.
    if (!loadSucceeded) {
        EditorPageFailed();
        return;
    }
    m_Ports.editor->evaluate(QStringLiteral("document.readyState"), [this](const QVariant &state) {
        if (m_Terminated || state.toString() != u"complete")
            return;
        const QString url = m_Ports.editor->mainFrameUrl();
        if (url.isEmpty()
            || (url != m_URLCogitra
                && !Contains(m_Ports.editor->mainFrameTitle(), QStringLiteral("Zet")))) {
            EditorPageFailed();
            return;
        }
        m_WebViewNavigateComplete = true;
        m_EditorStarted = true;
        m_Ports.shell->tickSoon();
    });
}

void AppDelegate::EditorPageFailed()
{
    m_WebViewNavigateComplete = false;
    if (m_EditorStarted) {
        // The editor held the user's map. It is kept here (and, with unsaved changes, in the
        // draft), so ending the application would lose nothing, but reloading loses less.
        if (m_Ports.shell->askReloadEditor(LocalizedString(QStringLiteral("strEditorLost")))) {
            if (m_Terminated)
                return;
            m_MapToPutBack = true;
            m_Ports.editor->load(m_URLCogitra);
        } else if (!m_Terminated) {
            Terminate();
        }
        return;
    }
    // Start-up's sign-in and alerts come first, as when the page loaded after them.
    if (m_Launching)
        m_EditorFailedWhileLaunching = true;
    else
        EditorLoadFailed();
}

void AppDelegate::PutMapBackWhenReady()
{
    if (!m_WebViewNavigateComplete || m_ReadyCheckPending)
        return;
    m_ReadyCheckPending = true;
    IsCogitraWebPageCompleteLoaded([this](bool ready) {
        m_ReadyCheckPending = false;
        if (!ready || m_Terminated || !std::exchange(m_MapToPutBack, false))
            return;
        const bool modified = m_Modified;
        const QString edited = m_EditedMap;
        PutJsonToKityMind(m_CleanMap);
        // The edits go on top as an edit of their own: still unsaved, and undoable.
        if (modified && !edited.isEmpty()) {
            m_EditedMap = edited;
            m_Ports.editor->evaluate(
                QStringLiteral("RestoreJsonData('%1')").arg(EscapeForJsString(edited)));
        } else if (modified) {
            SetModified(false);
        }
    });
}

void AppDelegate::EditorLoadFailed()
{
    if (OfferBuiltInEditor())
        return;
    ShowKey("errOpenCogitraEditer");
    Terminate();
}

bool AppDelegate::OfferBuiltInEditor()
{
    // A host that is down or gone would otherwise end every start until "Host" was
    // removed from the configuration by hand.
    if (!m_EditorHostChosen)
        return false;
    const QString question = LocalizedString(QStringLiteral("strUseBuiltInEditor"))
                                 .arg(QUrl(m_URLCogitra).authority());
    if (!m_Ports.shell->askUseBuiltInEditor(question) || m_Terminated)
        return false;
    (void)ForgetChosenEditorHost();
    m_EditorHostChosen = false;
    m_URLCogitra = EditorPageUrl(g_Host.get(), LocalizedString(QStringLiteral("local")));
    m_Ports.editor->load(m_URLCogitra);
    return true;
}

void AppDelegate::NewMap()
{
    SetMainWinTitle(LocalizedString(QStringLiteral("strNewMap")));
    m_Ports.editor->evaluate(QStringLiteral("NewMap()"));
    m_EditorHasMap = true;
    m_CleanMap.clear();
    m_EditedMap.clear();
    // The new map comes from no page, also when a save of the old one is still running.
    m_MapOrigin = {};
    m_SaveOriginPending = false;
    m_PageIdBeforeOpen.clear();
    m_PageTitleBeforeOpen.clear();
    if (workerRunning())
        m_PageIdClearDeferred = true;
    else
        ApplyDeferredPageIdClear(true);
}

void AppDelegate::SaveMap()
{
    m_Ports.editor->evaluate(QStringLiteral("SaveMap()"));
}

bool AppDelegate::isBusy() const
{
    return m_RunPending || workerRunning();
}

bool AppDelegate::SaveUnderWay() const
{
    return m_SaveRunPending && (workerRunning() || SaveEndedWell());
}

bool AppDelegate::workerRunning() const
{
    return m_RunStarted && !WorkerFinished();
}

bool AppDelegate::RefuseWhenBusy()
{
    if (!isBusy())
        return false;
    ShowKey("strBusy");
    return true;
}

void AppDelegate::ApplyDeferredPageIdClear(bool now)
{
    if ((now || m_PageIdClearDeferred) && !workerRunning()) {
        m_PageIdClearDeferred = false;
        // The new map has no page: a title left behind would name one it is not saved to.
        g_OnlinePageId.set(QString());
        g_PageTitle.set(QString());
    }
}

bool AppDelegate::DiscoverCurrentPage()
{
    return m_Ports.discovery->GetCurrentOneNotePageInfo(m_CurrPage);
}

bool AppDelegate::SignInDecision()
{
    const bool fresh = std::exchange(m_FreshSignIn, false);
    if (fresh)
        g_AccountId.set(AccountId());
    const bool signedIn = fresh
                          || (!g_AccessToken.isEmpty() && !g_UserId.isEmpty()
                              && (!m_LoginCheckAccountIdDiff || g_AccountId.get() == AccountId()));
    if (!signedIn) {
        // Signed out: say why a sign-in window appears before it does.
        if (g_AccessToken.isEmpty() && !m_Launching)
            ShowKey("strSignInNeeded");
        m_Ports.shell->runLoginWindow(false, false);
        m_Ports.window->startProgressAnimation();
        if (g_AuthCode.isEmpty()) {
            m_LoginCheckAccountIdDiff = true;
            // Ending the application loses nothing only before any map was shown.
            if (m_Launching)
                Terminate();
            return false;
        }
        g_AccountId.set(AccountId());
    }
    m_LoginCheckAccountIdDiff = true;
    return true;
}

void AppDelegate::StartRun(const MWorkerProperties &properties)
{
    m_RunStarted = true;
    MarkWorkerStarted();
    m_Ports.online->Run(properties);
}

bool AppDelegate::LoadMindMapFromCurrentOneNotePage()
{
    FlagGuard pending(m_RunPending);
    ApplyDeferredPageIdClear();
    m_Ports.window->showNotice(QString());
    return OpenDiscoveredPage(DiscoverCurrentPage());
}

bool AppDelegate::OpenDiscoveredPage(bool found)
{
    if (!found) {
        PublishWorkerFinished();
        TellDiscoveryFailure(true);
        // Outside launch the editor keeps the map it shows: there is nothing to wait for.
        if (m_Launching)
            StartWaiting();
        m_Ports.shell->activate();
        return false;
    }
    return OpenCurrPage();
}

bool AppDelegate::OpenCurrPage()
{
    MarkWorkerStarted();
    StartWaiting();

    if (!SignInDecision()) {
        PublishWorkerFinished();
        if (!m_Terminated)
            Waiting();
        return false;
    }
    m_LoginCheckAccountIdDiff = true;
    g_StepCode.store(Step::OpenRequested);
    m_OpenRunPending = true;
    m_OpenRunReportedError = false;
    m_OpenRunFromRecent = false;
    m_PageIdBeforeOpen = g_OnlinePageId.get();
    m_PageTitleBeforeOpen = g_PageTitle.get();

    StartRun(RunOfPage(m_CurrPage, true));

    m_Ports.shell->activate();
    return true;
}

void AppDelegate::SaveMindMapToOneNotePage(const QString &json, const QString &png)
{
    // Before anything can fail: the map handed to a save is never lost.
    if (!json.isEmpty()) {
        (void)SaveMapBackup(json);
        m_EditedMap = json;
    }
    FlagGuard pending(m_RunPending);
    ApplyDeferredPageIdClear();

    if (g_OnlinePageId.isEmpty()) {
        if (!DiscoverCurrentPage()) {
            TellDiscoveryFailure(false);
            m_AfterSave = nullptr;
            return;
        }
        m_Ports.shell->activate();
    }
    if (!SignInDecision()) {
        m_AfterSave = nullptr;
        return;
    }
    m_LoginCheckAccountIdDiff = true;
    m_OpenRunPending = false;

    m_Ports.shell->showStateWindow(true);

    m_SaveRunPending = true;
    m_SaveRunMark = std::exchange(m_SaveMark, QString());
    m_SaveJson = json;
    m_SavePng = png;
    m_SavingMap = json;
    StartSaveRun(false);
    // The page's own Save (Ctrl+S a moment before a quit) can arrive while the question about
    // unsaved changes is up; the save's end is taken only once no window is modal. So this
    // save answers the question: what asked waits for it.
    m_Ports.shell->answerUnsavedChangesWithSave();
}

void AppDelegate::StartSaveRun(bool replace)
{
    MWorkerProperties run = RunOfPage(m_CurrPage, false, m_SaveJson, m_SavePng);
    run.Origin = m_MapOrigin;
    run.Replace = replace;
    m_SaveOriginPending = true;
    StartRun(run);
}

void AppDelegate::AskAboutUnseenMap()
{
    Waiting();
    const UnseenMapAnswer answer
        = m_Ports.shell->askUnseenMap(LocalizedString(QStringLiteral("errMapNotSeen")));
    if (m_Terminated)
        return;
    if (answer == UnseenMapAnswer::Replace) {
        // The page is known now: the run writes to the page that refused.
        g_StepCode.store(Step::SaveRequested);
        m_Ports.shell->showStateWindow(true);
        StartSaveRun(true);
        return;
    }
    // The next save goes where it went before this one, and so does a failed open.
    g_OnlinePageId.set(m_MapOrigin.pageId);
    g_StepCode.store(Step::Idle);
    // The page's map replaces the editor's like any Open: unsaved edits are asked about.
    if (answer == UnseenMapAnswer::OpenPagesMap) {
        WhenChangesAreSafe([this] {
            if (!RefuseWhenBusy())
                (void)OpenCurrPage();
        });
    }
}

void AppDelegate::MenuItemNew()
{
    WhenChangesAreSafe([this] { NewMap(); });
}

void AppDelegate::MenuItemSave()
{
    // A save of the user's own: what waited for an earlier one whose page never answered
    // does not go ahead behind it.
    m_AfterSave = nullptr;
    if (!RefuseWhenBusy())
        SaveMap();
}

void AppDelegate::MenuItemSaveToCurrentPage()
{
    m_AfterSave = nullptr;
    if (RefuseWhenBusy())
        return;
    g_OnlinePageId.set(QString());
    SaveMap();
}

void AppDelegate::MenuItemOpenFromCurrentPage()
{
    if (RefuseWhenBusy())
        return;
    WhenChangesAreSafe([this] {
        if (!RefuseWhenBusy())
            (void)LoadMindMapFromCurrentOneNotePage();
    });
}

void AppDelegate::MenuItemOpenPageLink()
{
    if (RefuseWhenBusy())
        return;
    // The link first: a field given up on leaves the map alone without a question.
    const std::optional<OneNotePageInfo> page = m_Ports.shell->askPageLink();
    if (page)
        OpenChosenPage(*page, false);
}

void AppDelegate::MenuItemOpenPage()
{
    if (RefuseWhenBusy())
        return;
    // The picker lists the signed-in account's notebooks: without one there is nothing to
    // list. A code from the sign-in window is exchanged by the picker's own read.
    if (g_AccessToken.isEmpty() && !m_FreshSignIn) {
        ShowKey("strSignInNeeded");
        m_Ports.shell->runLoginWindow(false, false);
        AfterLoginWindow();
        if (!m_FreshSignIn)
            return;
    }
    const std::optional<OneNotePageInfo> page = m_Ports.shell->askPage();
    // The picker's read signs in like a run: the title and the Login item say so now.
    SetMainWinTitle(m_DocumentTitle);
    UpdateLoginItem();
    if (page)
        OpenChosenPage(*page, false);
}

void AppDelegate::TellDiscoveryFailure(bool offer)
{
    const QString key = m_Ports.discovery->untoldFailure();
    if (key.isEmpty() || m_Terminated)
        return;
    if (!offer) {
        ShowMessage(LocalizedString(key));
        return;
    }
    const OtherWayAnswer answer
        = m_Ports.shell->askOtherWayToOpen(LocalizedString(QStringLiteral("errGetPageLinkOffer")));
    if (answer == OtherWayAnswer::Close || m_Terminated)
        return;
    m_OtherWay = answer;
    m_Ports.shell->tickSoon();
}

void AppDelegate::MenuItemOpenRecent(const OneNotePageInfo &page)
{
    if (!RefuseWhenBusy())
        OpenChosenPage(page, true);
}

void AppDelegate::OpenChosenPage(const OneNotePageInfo &page, bool recent)
{
    WhenChangesAreSafe([this, page, recent] {
        if (RefuseWhenBusy())
            return;
        FlagGuard pending(m_RunPending);
        ApplyDeferredPageIdClear();
        m_Ports.window->showNotice(QString());
        m_CurrPage = page;
        if (OpenCurrPage())
            m_OpenRunFromRecent = recent;
    });
}

void AppDelegate::AfterLoginWindow()
{
    // The window only captures a code; the next run exchanges it for tokens. A window
    // closed without one stands for nothing, whatever an earlier window left behind.
    m_FreshSignIn = !g_AuthCode.isEmpty() && g_AccessToken.isEmpty();
    if (!g_AccessToken.isEmpty() || m_FreshSignIn) {
        m_LoginCheckAccountIdDiff = false;
        m_Ports.window->makeVisible();
    }
    // Opening the window emptied the account; the name it was signed in with goes too,
    // so the title and the Login item say nobody is signed in until a run has signed in.
    if (g_AccessToken.isEmpty() && !g_UserPrincipalName.isEmpty()) {
        g_UserPrincipalName.set(QString());
        SaveAccountState();
    }
    SetMainWinTitle(m_DocumentTitle);
    UpdateLoginItem();
}

void AppDelegate::MenuItemLoginClick()
{
    if (RefuseWhenBusy())
        return;
    m_Ports.shell->runLoginWindow(true, false);
    AfterLoginWindow();
}

void AppDelegate::MenuItemLogoutClick()
{
    if (RefuseWhenBusy())
        return;
    m_Ports.shell->runLoginWindow(true, true);
    AfterLoginWindow();
}

void AppDelegate::MenuItemSignOutClick()
{
    // The worker reads and renews the tokens while it runs.
    if (RefuseWhenBusy())
        return;
    MLoginFlow::SignOut();
    m_FreshSignIn = false;
    m_LoginCheckAccountIdDiff = true;
    SetMainWinTitle(m_DocumentTitle);
    UpdateLoginItem();
    m_Ports.window->showStatus(LocalizedString(QStringLiteral("strSignedOut")));
}

void AppDelegate::MenuItemRefreshClick()
{
    WhenChangesAreSafe([this] {
        const QString json = LoadMapBackup();
        if (json.isEmpty()) {
            m_Ports.window->showNotice(LocalizedString(QStringLiteral("strNoSavedMap")));
            return;
        }
        // An edit like any other: Undo brings back the map it replaced. The map stays the
        // page's it was, so the title does too.
        m_EditorHasMap = true;
        m_EditedMap = json;
        m_Ports.editor->evaluate(
            QStringLiteral("RestoreJsonData('%1')").arg(EscapeForJsString(json)));
    });
}

void AppDelegate::ImportMap(const QString &json)
{
    // An open still running would put its page's map over the imported one.
    if (RefuseWhenBusy())
        return;
    WhenChangesAreSafe([this, json] {
        // As a restored map: the page's map still, so the title stays.
        m_EditorHasMap = true;
        m_EditedMap = json;
        m_Ports.editor->evaluate(
            QStringLiteral("RestoreJsonData('%1')").arg(EscapeForJsString(json)));
    });
}

void AppDelegate::MenuItemHostsClick()
{
    m_Ports.shell->runHostsWindow();
}

void AppDelegate::MenuItemAboutClick()
{
    m_Ports.shell->runAboutWindow();
}

void AppDelegate::MenuItemUploadStateClick()
{
    m_Ports.shell->showStateWindow(false);
}

void AppDelegate::MenuItemQuit()
{
    // Asked again after a save or a run it waited for: edits made meanwhile are unsaved.
    if (MayCloseWindow([this] { MenuItemQuit(); }))
        Terminate();
}

bool AppDelegate::MayCloseWindow(std::function<void()> closeAgain)
{
    if (m_Terminated)
        return true;
    // A second close while the first one waits does not go ahead of it.
    if (isBusy() || m_AfterRun) {
        QuitWhenRunEnds(std::move(closeAgain));
        return false;
    }
    if (!m_Modified)
        return true;
    const UnsavedChangesAnswer answer = AskAboutUnsavedChanges(std::move(closeAgain));
    // On the way out no late draft may keep what the user threw away.
    if (answer == UnsavedChangesAnswer::Discard)
        m_DraftsStopped = true;
    return answer == UnsavedChangesAnswer::Discard;
}

void AppDelegate::WhenChangesAreSafe(std::function<void()> action)
{
    if (!m_Modified || AskAboutUnsavedChanges(action) == UnsavedChangesAnswer::Discard)
        action();
}

UnsavedChangesAnswer AppDelegate::AskAboutUnsavedChanges(std::function<void()> afterSave)
{
    m_AfterSave = nullptr;
    // A save of the map under way (the page's own Save, which arrived while a window such as
    // the page picker was up) is the answer already.
    const UnsavedChangesAnswer answer
        = SaveUnderWay()
              ? UnsavedChangesAnswer::Save
              : m_Ports.shell->askUnsavedChanges(
                  LocalizedString(QStringLiteral("strUnsavedChanges")).arg(TargetTitle()));
    switch (answer) {
    case UnsavedChangesAnswer::Cancel:
        break;
    case UnsavedChangesAnswer::Discard:
        // A draft written before the page reports its new map clean is removed then.
        RemoveMapDraft();
        break;
    case UnsavedChangesAnswer::Save:
        // One under way, or started beneath the question, serves: what asked waits for it.
        if (SaveUnderWay()) {
            m_AfterSave = std::move(afterSave);
            break;
        }
        if (!RefuseWhenBusy()) {
            m_AfterSave = std::move(afterSave);
            SaveMap();
        }
        break;
    }
    return answer;
}

void AppDelegate::SetModified(bool modified)
{
    m_Modified = modified;
    m_Ports.window->setModified(modified);
    if (!modified) {
        // What the editor shows is saved, opened or new: there is nothing to bring back.
        m_DraftsStopped = false;
        RemoveMapDraft();
    }
}

void AppDelegate::KeepDraft()
{
    if (m_DraftsStopped || !m_Modified)
        return;
    // Asked in one script so the text and the state belong together.
    m_Ports.editor->evaluate(
        QStringLiteral("(typeof IsModified === 'function' && IsModified()) ? g_ZetDraftJson : ''"),
        [this](const QVariant &json) {
            if (m_DraftsStopped || !m_Modified || m_Terminated)
                return;
            MapDraft draft;
            draft.json = json.toString();
            if (!draft.json.isEmpty())
                m_EditedMap = draft.json;
            // During an open the map still belongs to the page it came from.
            const bool opening = m_OpenRunPending;
            draft.onlinePageId = opening ? m_PageIdBeforeOpen : g_OnlinePageId.get();
            draft.pageTitle = opening ? m_PageTitleBeforeOpen : g_PageTitle.get();
            draft.page = m_CurrPage;
            draft.origin = m_MapOrigin;
            draft.savedAt = QDateTime::currentDateTimeUtc();
            (void)SaveMapDraft(draft);
        });
}

void AppDelegate::EndOfSaveRun()
{
    if (!m_SaveRunPending)
        return;
    m_SaveRunPending = false;
    std::function<void()> after = std::exchange(m_AfterSave, nullptr);
    if (!SaveEndedWell())
        return; // the map stays, with its changes, and what waited for the save is dropped
    ConfirmSave();
    RememberPage();
    SetMainWinTitle(TargetTitle());
    m_CleanMap = std::exchange(m_SavingMap, QString());
    const QString mark = std::exchange(m_SaveRunMark, QString());
    if (!mark.isEmpty())
        m_Ports.editor->evaluate(QStringLiteral("MarkSaved('%1')").arg(EscapeForJsString(mark)));
    // Edits made while the save ran are still unsaved: the page says so, and only then
    // does what waited for the save go on.
    m_Ports.editor->evaluate(
        QStringLiteral("typeof IsModified === 'function' ? IsModified() : true"),
        [this, after = std::move(after)](const QVariant &modified) {
            if (m_Terminated)
                return;
            SetModified(modified.toBool());
            if (after)
                after();
        });
}

bool AppDelegate::OfferDraft()
{
    const std::optional<MapDraft> draft = LoadMapDraft();
    if (!draft)
        return false;
    const QString page = draft->onlinePageId.isEmpty() || draft->pageTitle.isEmpty()
                             ? LocalizedString(QStringLiteral("strNewMap"))
                             : draft->pageTitle;
    const QString when = QLocale().toString(draft->savedAt.toLocalTime(), QLocale::ShortFormat);
    if (!m_Ports.shell->askRestoreDraft(
            LocalizedString(QStringLiteral("strRestoreDraft")).arg(page, when))) {
        RemoveMapDraft();
        return false;
    }
    m_CurrPage = draft->page;
    g_OnlinePageId.set(draft->onlinePageId);
    g_PageTitle.set(draft->onlinePageId.isEmpty() ? QString() : draft->pageTitle);
    m_DraftToRestore = draft->json;
    m_DraftOrigin = draft->origin;
    return true;
}

void AppDelegate::RestoreDraftWhenReady()
{
    if (m_DraftToRestore.isEmpty())
        return;
    // On top of the map just started, so that the editor holds them as unsaved changes.
    m_EditedMap = std::exchange(m_DraftToRestore, {});
    m_MapOrigin = std::exchange(m_DraftOrigin, {});
    m_Ports.editor->evaluate(
        QStringLiteral("RestoreJsonData('%1')").arg(EscapeForJsString(m_EditedMap)));
    SetMainWinTitle(TargetTitle());
}

QString AppDelegate::TargetTitle() const
{
    const QString title = g_PageTitle.get();
    return title.isEmpty() ? LocalizedString(QStringLiteral("strNewMap")) : title;
}

void AppDelegate::Terminate()
{
    m_Terminated = true;
    m_Ports.shell->terminate();
}

} // namespace Cogitra
