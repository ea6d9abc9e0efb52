#include "MAppController.h"

#include "MEditorPage.h"
#include "MMainWindow.h"
#include "MMapFileCommands.h"
#include "MWebView.h"
#include "MWinAbout.h"
#include "MWinHosts.h"
#include "MWinLogin.h"
#include "MWinPageLink.h"
#include "MWinPagePicker.h"
#include "MWinState.h"

#include "app/MOnlineAdapters.h"
#include "onenote/MInstall.h"
#include "platform/IDesktopAutomation.h"
#include "platform/IProcessList.h"
#include "platform/IShell.h"
#include "platform/PlatformServices.h"
#include "platform/QtClipboard.h"
#include "util/MAlert.h"
#include "util/MGlobals.h"
#include "util/MStrings.h"

#include <QAction>
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QScopeGuard>
#include <QWebEngineProfile>

#include <mutex>

namespace Cogitra {

// The system's clipboard, OneNote (or the desktop notebook standing in for it), the
// process list and shell of the installer, and the online worker.
struct MAppController::PlatformStack
{
    QtClipboard clipboard;
    // Discovery runs the keystroke script off the main thread; the stand-in for OneNote
    // answers it by writing the clipboard, which only the main thread may touch.
    MPostedClipboard scriptClipboard{clipboard};
    std::unique_ptr<IDesktopAutomation> automation = MakeDesktopAutomation(scriptClipboard);
    std::unique_ptr<IProcessList> processes = MakeProcessList();
    std::unique_ptr<IShell> shell = MakeShell();
    MPageDiscovery discovery{*automation, clipboard};
    MOnlineRunner online;
};

namespace {

class ModalScope
{
public:
    explicit ModalScope(int &depth)
        : m_Depth(depth)
    {
        ++m_Depth;
    }
    ~ModalScope() { --m_Depth; }
    ModalScope(const ModalScope &) = delete;
    ModalScope &operator=(const ModalScope &) = delete;

private:
    int &m_Depth;
};

// A warning with one way on (the default) and Quit (Escape); true when the way on was taken.
bool AskOrQuit(const QString &question, const QString &objectName, const QString &goOnKey,
               QWidget *parent)
{
    QMessageBox box(QMessageBox::Warning, LocalizedString(QStringLiteral("appName")), question,
                    QMessageBox::NoButton, parent);
    box.setObjectName(objectName);
    QPushButton *goOn = box.addButton(LocalizedString(goOnKey), QMessageBox::AcceptRole);
    QPushButton *quit
        = box.addButton(LocalizedString(QStringLiteral("strQuit")), QMessageBox::RejectRole);
    box.setDefaultButton(goOn);
    box.setEscapeButton(quit);
    box.exec();
    return box.clickedButton() == goOn;
}

} // namespace

// Lets a worker's thread ask for a tick; cut off before the controller goes, so that a
// run ending late posts nothing to an object that is gone.
class MAppController::TickBell
{
public:
    explicit TickBell(MAppController *controller)
        : m_Controller(controller)
    {}
    void ring()
    {
        std::scoped_lock lock(m_Mutex);
        if (m_Controller) {
            QMetaObject::invokeMethod(
                m_Controller, [controller = m_Controller] { controller->tickSoon(); },
                Qt::QueuedConnection);
        }
    }
    void cutOff()
    {
        std::scoped_lock lock(m_Mutex);
        m_Controller = nullptr;
    }

private:
    std::mutex m_Mutex;
    MAppController *m_Controller;
};

MAppController::MAppController(Options options)
    : m_Options(std::move(options))
    , m_EditorHost(m_Options.editorSiteDir.isEmpty() ? DefaultEditorSiteDir()
                                                     : m_Options.editorSiteDir)
{
    m_TickBell = std::make_shared<TickBell>(this);
    // The editor is always loaded afresh; nothing of it is kept between loads.
    QWebEngineProfile::defaultProfile()->setHttpCacheType(QWebEngineProfile::NoCache);

    if (!m_Options.discovery || !m_Options.online) {
        m_Platform = std::make_unique<PlatformStack>();
        if (!m_Options.discovery)
            m_Options.discovery = &m_Platform->discovery;
        if (!m_Options.online) {
            m_Options.online = &m_Platform->online;
            m_Platform->online.setFinishedHandler([bell = m_TickBell] { bell->ring(); });
        }
        if (!m_Options.installer) {
            m_Options.installer = [platform = m_Platform.get()] {
                InstallShortcut(QCoreApplication::arguments(), FirstPreferredLanguage(),
                                *platform->processes, *platform->shell);
            };
        }
    }
    m_Window = std::make_unique<MMainWindow>();
    m_Editor = new MEditorPage(m_Window->WebViewMain());
    m_Delegate = std::make_unique<AppDelegate>(
        AppDelegate::Ports{m_Window.get(), m_Editor, this, m_Options.discovery, m_Options.online});
    m_Window->setDelegate(m_Delegate.get());
    m_Window->setCloseGuard([this] {
        return m_Delegate->MayCloseWindow([this] {
            // After the save, once the event that asked is over.
            QTimer::singleShot(0, m_Window.get(), [this] { m_Window->close(); });
        });
    });
    m_Window->setCloseRule([this] {
        return !hasGlobalMenuBar() || m_Delegate->applicationShouldTerminateAfterLastWindowClosed();
    });
    m_FileCommands = new MMapFileCommands(m_Window.get(), *m_Editor, *m_Delegate);
    connect(m_Window->action(QStringLiteral("actionImport")), &QAction::triggered, m_FileCommands,
            &MMapFileCommands::importMap);
    connect(m_Window->action(QStringLiteral("actionExport")), &QAction::triggered, m_FileCommands,
            &MMapFileCommands::exportMap);
    m_Editor->setJsCallHandler([this](const QString &command, const QUrl &caller) {
        // The picture for File > Export; the commands ignore it unless they asked.
        if (command == u"Exported")
            m_FileCommands->pictureExported();
        else
            m_Delegate->JsCall(command, caller);
    });
    m_Editor->setLoadFinishedHandler([this](bool ok) { m_Delegate->WebViewProgressFinished(ok); });
    m_Alert.setParentWindow(m_Window.get());
    SetAlert(&m_Alert);
}

MAppController::~MAppController()
{
    m_TickBell->cutOff();
    // Whatever ended the application, the worker's thread still writes the shared values
    // until its job has returned; a save it left half done would leave the page with the
    // new picture and the old map.
    m_Options.online->WaitForRun();
    m_Timer.stop();
    SetAlert(nullptr);
    MWinState::DestroyInstance();
    m_Window.reset();
    m_EditorHost.stop();
}

bool MAppController::start()
{
    const bool hostStarted = m_EditorHost.start();
    if (hostStarted) {
        const QString address = m_EditorHost.hostAndPort();
        SetDefaultEditorHosts(address, address);
    }
    m_Delegate->awakeFromNib(m_Options.dataRoot);
    QTimer::singleShot(0, this, &MAppController::FinishLaunching);
    return hostStarted;
}

void MAppController::FinishLaunching()
{
    m_Delegate->applicationDidFinishLaunching();
    m_Launched = true;
    if (!m_Terminated)
        CreateTimer();
}

void MAppController::CreateTimer()
{
    m_Timer.setInterval(1000);
    connect(&m_Timer, &QTimer::timeout, this, &MAppController::Tick);
    m_Timer.start();
}

void MAppController::tickSoon()
{
    QTimer::singleShot(0, this, [this] {
        if (m_Timer.isActive())
            Tick();
    });
}

void MAppController::Tick()
{
    // Qt's timers keep firing inside modal loops; a tick must not act under a modal window.
    if (isModalActive())
        return;
    m_Delegate->TimerRun();
}

QWidget *MAppController::DialogParent() const
{
    return m_Window->isVisible() ? m_Window.get() : nullptr;
}

void MAppController::activate()
{
    if (m_Window->isVisible()) {
        m_Window->raise();
        m_Window->activateWindow();
    }
}

void MAppController::terminate()
{
    m_Terminated = true;
    m_Timer.stop();
    if (m_Options.onTerminate) {
        m_Options.onTerminate();
        return;
    }
    // Ends every event loop of the thread, modal ones included.
    QCoreApplication::exit(0);
}

bool MAppController::isModalActive() const
{
    return m_ModalDepth > 0 || QApplication::activeModalWidget() != nullptr;
}

bool MAppController::hasGlobalMenuBar() const
{
#ifdef Q_OS_MACOS
    return true;
#else
    return false;
#endif
}

void MAppController::runLoginWindow(bool logInOrOut, bool signOutFirst)
{
    ModalScope scope(m_ModalDepth);
    MWinLogin window(DialogParent());
    window.setLogInOrOut(logInOrOut);
    window.setSignOutFirst(signOutFirst);
    window.showWindow();
}

void MAppController::runHostsWindow()
{
    ModalScope scope(m_ModalDepth);
    MWinHosts window(DialogParent());
    window.showWindow();
}

bool MAppController::askUseBuiltInEditor(const QString &question)
{
    ModalScope scope(m_ModalDepth);
    return AskOrQuit(question, QStringLiteral("builtInEditorQuestion"),
                     QStringLiteral("strUseBuiltInEditorButton"), DialogParent());
}

void MAppController::runAboutWindow()
{
    ModalScope scope(m_ModalDepth);
    MWinAbout window(DialogParent());
    window.showWindow();
}

void MAppController::showStateWindow(bool hideWhenEnd)
{
    MWinState::ShowWindow(hideWhenEnd, m_Window.get());
}

void MAppController::showQuitWhenRunEnds(const QString &notice)
{
    MWinState::ShowWindow(true, m_Window.get());
    MWinState::Instance()->setNote(notice);
}

bool MAppController::askReloadEditor(const QString &question)
{
    ModalScope scope(m_ModalDepth);
    return AskOrQuit(question, QStringLiteral("reloadEditorQuestion"),
                     QStringLiteral("strReloadEditor"), DialogParent());
}

UnsavedChangesAnswer MAppController::askUnsavedChanges(const QString &question)
{
    ModalScope scope(m_ModalDepth);
    QMessageBox box(QMessageBox::Warning, LocalizedString(QStringLiteral("appName")), question,
                    QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, DialogParent());
    box.setObjectName(QStringLiteral("unsavedChangesQuestion"));
    box.setDefaultButton(QMessageBox::Save);
    box.setEscapeButton(QMessageBox::Cancel);
    m_UnsavedQuestion = &box;
    const auto forget = qScopeGuard([this] { m_UnsavedQuestion = nullptr; });
    switch (box.exec()) {
    case QMessageBox::Save:
        return UnsavedChangesAnswer::Save;
    case QMessageBox::Discard:
        return UnsavedChangesAnswer::Discard;
    default:
        return UnsavedChangesAnswer::Cancel;
    }
}

void MAppController::answerUnsavedChangesWithSave()
{
    if (m_UnsavedQuestion)
        m_UnsavedQuestion->done(QMessageBox::Save);
}

bool MAppController::askRestoreDraft(const QString &question)
{
    ModalScope scope(m_ModalDepth);
    QMessageBox box(QMessageBox::Question, LocalizedString(QStringLiteral("appName")), question,
                    QMessageBox::Yes | QMessageBox::No, DialogParent());
    box.setObjectName(QStringLiteral("restoreDraftQuestion"));
    box.setDefaultButton(QMessageBox::Yes);
    box.setEscapeButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

std::optional<OneNotePageInfo> MAppController::askPageLink()
{
    ModalScope scope(m_ModalDepth);
    MWinPageLink window(DialogParent());
    if (window.exec() != QDialog::Accepted)
        return std::nullopt;
    return window.page();
}

std::optional<OneNotePageInfo> MAppController::askPage()
{
    ModalScope scope(m_ModalDepth);
    MWinPagePicker window(DialogParent());
    window.Load(false);
    if (window.exec() != QDialog::Accepted)
        return std::nullopt;
    return window.page();
}

OtherWayAnswer MAppController::askOtherWayToOpen(const QString &message)
{
    ModalScope scope(m_ModalDepth);
    QMessageBox box(QMessageBox::Information, LocalizedString(QStringLiteral("appName")), message,
                    QMessageBox::Ok, DialogParent());
    box.setObjectName(QStringLiteral("otherWayQuestion"));
    QPushButton *page
        = box.addButton(LocalizedString(QStringLiteral("btnOpenPage")), QMessageBox::ActionRole);
    QPushButton *link = box.addButton(LocalizedString(QStringLiteral("btnOpenPageLink")),
                                      QMessageBox::ActionRole);
    box.setDefaultButton(QMessageBox::Ok);
    box.setEscapeButton(QMessageBox::Ok);
    box.exec();
    if (box.clickedButton() == page)
        return OtherWayAnswer::OpenPage;
    if (box.clickedButton() == link)
        return OtherWayAnswer::OpenPageLink;
    return OtherWayAnswer::Close;
}

UnseenMapAnswer MAppController::askUnseenMap(const QString &question)
{
    ModalScope scope(m_ModalDepth);
    QMessageBox box(QMessageBox::Warning, LocalizedString(QStringLiteral("appName")), question,
                    QMessageBox::NoButton, DialogParent());
    box.setObjectName(QStringLiteral("unseenMapQuestion"));
    QPushButton *replace
        = box.addButton(LocalizedString(QStringLiteral("strReplaceMap")), QMessageBox::AcceptRole);
    replace->setObjectName(QStringLiteral("replace"));
    QPushButton *open
        = box.addButton(LocalizedString(QStringLiteral("strOpenPageMap")), QMessageBox::ActionRole);
    open->setObjectName(QStringLiteral("openPagesMap"));
    QPushButton *cancel
        = box.addButton(LocalizedString(QStringLiteral("strCancel")), QMessageBox::RejectRole);
    cancel->setObjectName(QStringLiteral("cancel"));
    // Nothing is replaced by a key pressed in passing.
    box.setDefaultButton(cancel);
    box.setEscapeButton(cancel);
    box.exec();
    if (box.clickedButton() == replace)
        return UnseenMapAnswer::Replace;
    if (box.clickedButton() == open)
        return UnseenMapAnswer::OpenPagesMap;
    return UnseenMapAnswer::Cancel;
}

void MAppController::runInstaller()
{
    if (m_Options.installer)
        m_Options.installer();
}

} // namespace Cogitra
