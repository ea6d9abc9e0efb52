#pragma once

#include "MQtAlert.h"

#include "app/AppDelegate.h"
#include "app/IAppShell.h"
#include "app/MEditorHost.h"

#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <functional>
#include <memory>

namespace Cogitra {

class MEditorPage;
class MMainWindow;
class MMapFileCommands;

// Puts the application together under Qt: the main window and its editor page, the
// embedded editor host, the alert, the secondary windows and the one-second timer, all
// around the application logic. Owns them for the life of the process.
class MAppController : public QObject, public IAppShell
{
    Q_OBJECT
public:
    struct Options
    {
        QString dataRoot;                    // empty: the platform's Application Support folder
        QString editorSiteDir;               // empty: DefaultEditorSiteDir()
        IPageDiscovery *discovery = nullptr; // none: no page is ever found
        IOnlineRun *online = nullptr;        // required once a page can be found
        std::function<void()> installer;
        // Called instead of ending the event loops (tests).
        std::function<void()> onTerminate;
    };

    explicit MAppController(Options options);
    ~MAppController() override;

    // Start-up: the editor host, the first half at once, the second half once the event
    // loop runs. False when the editor host could not start (the configured host may
    // still serve the editor).
    bool start();

    [[nodiscard]] AppDelegate &delegate() { return *m_Delegate; }
    [[nodiscard]] MMainWindow &mainWindow() { return *m_Window; }
    [[nodiscard]] MEditorPage &editorPage() { return *m_Editor; }
    [[nodiscard]] MMapFileCommands &fileCommands() { return *m_FileCommands; }
    [[nodiscard]] QString editorHostAddress() const { return m_EditorHost.hostAndPort(); }
    // Start-up is through: discovery has answered and the first run, if any, has started.
    [[nodiscard]] bool launched() const { return m_Launched && !m_Delegate->isLaunching(); }
    [[nodiscard]] bool timerRunning() const { return m_Timer.isActive(); }

    void activate() override;
    void terminate() override;
    [[nodiscard]] bool isModalActive() const override;
    [[nodiscard]] bool hasGlobalMenuBar() const override;
    void runLoginWindow(bool logInOrOut, bool signOutFirst) override;
    void runHostsWindow() override;
    [[nodiscard]] bool askUseBuiltInEditor(const QString &question) override;
    void runAboutWindow() override;
    void showStateWindow(bool hideWhenEnd) override;
    void showQuitWhenRunEnds(const QString &notice) override;
    [[nodiscard]] UnsavedChangesAnswer askUnsavedChanges(const QString &question) override;
    void answerUnsavedChangesWithSave() override;
    [[nodiscard]] bool askRestoreDraft(const QString &question) override;
    [[nodiscard]] UnseenMapAnswer askUnseenMap(const QString &question) override;
    [[nodiscard]] bool askReloadEditor(const QString &question) override;
    [[nodiscard]] std::optional<OneNotePageInfo> askPageLink() override;
    [[nodiscard]] std::optional<OneNotePageInfo> askPage() override;
    [[nodiscard]] OtherWayAnswer askOtherWayToOpen(const QString &message) override;
    void runInstaller() override;
    void tickSoon() override;

private:
    void FinishLaunching();
    void CreateTimer();
    void Tick();
    [[nodiscard]] QWidget *DialogParent() const;

    class TickBell;
    std::shared_ptr<TickBell> m_TickBell;
    struct PlatformStack;
    std::unique_ptr<PlatformStack> m_Platform;
    Options m_Options;
    MEditorHost m_EditorHost;
    MQtAlert m_Alert;
    std::unique_ptr<MMainWindow> m_Window;
    MEditorPage *m_Editor = nullptr;
    MMapFileCommands *m_FileCommands = nullptr; // owned by the window
    std::unique_ptr<AppDelegate> m_Delegate;
    QTimer m_Timer;
    int m_ModalDepth = 0;
    QPointer<QMessageBox> m_UnsavedQuestion;
    bool m_Launched = false;
    bool m_Terminated = false;
};

} // namespace Cogitra
