#pragma once

#include "app/MLoginFlow.h"

#include <QDialog>
#include <QTimer>

#include <memory>

namespace Ui {
class MWinLogin;
}

namespace Cogitra {

class MWebView;

// The sign-in window: the identity platform's pages in a web view, until the redirect
// page brings an authorization code, which goes to g_AuthCode. Every opening starts a
// fresh sign-in: account state, cookies and cached replies are gone first. A page that
// does not load is loaded once more, then the window says so instead of staying blank.
class MWinLogin : public QDialog
{
    Q_OBJECT
public:
    explicit MWinLogin(QWidget *parent = nullptr);
    ~MWinLogin() override;

    [[nodiscard]] bool LogInOrOut() const { return m_LogInOrOut; }
    void setLogInOrOut(bool value) { m_LogInOrOut = value; }
    // Load the sign-out page first, then sign in (signing in as another user).
    void setSignOutFirst(bool value) { m_SignOutFirst = value; }

    // Runs the window modally; returns once it is closed.
    void showWindow();
    void Login();
    void Logout();

    [[nodiscard]] MWebView *WebViewWin() const;
    [[nodiscard]] QString titleText() const;
    // The failure the window shows in place of the page; empty while it shows the page.
    [[nodiscard]] QString errorText() const;
    // How long a page may take before it counts as failed.
    void setLoadTimeout(int ms) { m_LoadTimer.setInterval(ms); }

protected:
    void showEvent(QShowEvent *event) override;

private:
    void windowDidLoad();
    void cleanCacheAndCookie();
    void WebViewWinProgressFinished();
    void WebViewProgressEstimateChanged();
    void LoadPage(const QString &url);
    void PlaceOverParent();
    void LoadFailed(const QString &reason);
    void ShowError(const QString &reason);
    void TryAgain();

    std::unique_ptr<Ui::MWinLogin> m_Ui;
    MLoginFlow m_Flow;
    bool m_LogInOrOut = false;
    bool m_SignOutFirst = false;
    bool m_Closing = false;
    // The address this window last asked for, loaded again when a load fails.
    QString m_Requested;
    bool m_Retried = false;
    // Counts the loads this window starts, so that a failure reported late is not taken
    // for the load that followed it.
    int m_LoadSerial = 0;
    QTimer m_LoadTimer;
};

} // namespace Cogitra
