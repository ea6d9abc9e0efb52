#pragma once

#include "app/MLoginFlow.h"

#include <QDialog>

#include <memory>

namespace Ui {
class MWinLogin;
}

namespace Cogitra {

class MWebView;

// The sign-in window: the identity platform's pages in a web view, until the redirect
// page brings an authorization code, which goes to g_AuthCode. Every opening starts a
// fresh sign-in: account state, cookies and cached replies are gone first.
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

private:
    void windowDidLoad();
    void cleanCacheAndCookie();
    void WebViewWinProgressFinished();
    void WebViewProgressEstimateChanged();
    void LoadPage(const QString &url);

    std::unique_ptr<Ui::MWinLogin> m_Ui;
    MLoginFlow m_Flow;
    bool m_LogInOrOut = false;
    bool m_SignOutFirst = false;
    bool m_Closing = false;
};

} // namespace Cogitra
