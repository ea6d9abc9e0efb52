#pragma once

#include "app/IMainWindow.h"

#include <QMainWindow>

#include <functional>
#include <memory>

class QAction;

namespace Ui {
class MMainWindow;
}

namespace Cogitra {

class AppDelegate;
class MWebView;

// The main window: the editor view, the waiting presentation shown while a map is on its
// way, an inline notice line, and the menus that drive the application's commands.
class MMainWindow : public QMainWindow, public IMainWindow
{
    Q_OBJECT
public:
    explicit MMainWindow(QWidget *parent = nullptr);
    ~MMainWindow() override;

    // Connects the menus to the commands; before it they do nothing.
    void setDelegate(AppDelegate *delegate);
    // Asked when the window is closed: true ends the application.
    void setCloseRule(std::function<bool()> rule) { m_CloseRule = std::move(rule); }
    // Asked first: false keeps the window open (the user cancelled, or a save runs first).
    void setCloseGuard(std::function<bool()> guard) { m_CloseGuard = std::move(guard); }

    [[nodiscard]] MWebView *WebViewMain() const;
    [[nodiscard]] QAction *action(const QString &name) const;
    [[nodiscard]] QString noticeText() const;
    // The title as it is shown: "*" before it while the map has unsaved changes (on macOS
    // the close button shows that instead).
    [[nodiscard]] QString shownTitle() const;

    void setTitle(const QString &title) override;
    void setModified(bool modified) override;
    void showWaitingPresentation() override;
    void showEditingPresentation() override;
    [[nodiscard]] bool isProgressVisible() const override;
    void startProgressAnimation() override;
    [[nodiscard]] bool isLoginItemChecked() const override;
    void setLoginItemChecked(bool checked) override;
    void makeVisible() override;
    void showNotice(const QString &text) override;
    void showStatus(const QString &text) override;
    [[nodiscard]] QString statusText() const;

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void BuildMenus();
    void FillRecentMenu(QMenu *menu);
    QAction *AddAction(QMenu *menu, const char *name, const char *key, const QKeySequence &shortcut,
                       void (AppDelegate::*command)());

    std::unique_ptr<Ui::MMainWindow> m_Ui;
    AppDelegate *m_Delegate = nullptr;
    QAction *m_Login = nullptr;
    QAction *m_SignOut = nullptr;
    std::function<bool()> m_CloseRule;
    std::function<bool()> m_CloseGuard;
};

} // namespace Cogitra
