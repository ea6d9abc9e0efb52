#include "MWinLogin.h"

#include "ui_MWinLogin.h"

#include "MWebView.h"
#include "online/MEndpoints.h"

#include "util/MStrings.h"

#include <QTimer>
#include <QUrl>
#include <QWebEngineCookieStore>
#include <QWebEngineHistory>
#include <QWebEnginePage>
#include <QWebEngineProfile>

namespace Cogitra {

MWinLogin::MWinLogin(QWidget *parent)
    : QDialog(parent)
    , m_Ui(std::make_unique<Ui::MWinLogin>())
{
    m_Ui->setupUi(this);
    setWindowTitle(LocalizedString(QStringLiteral("strLoginTitle")));
    connect(m_Ui->WebViewWin, &QWebEngineView::loadFinished, this,
            &MWinLogin::WebViewWinProgressFinished);
    connect(m_Ui->WebViewWin, &QWebEngineView::loadProgress, this,
            &MWinLogin::WebViewProgressEstimateChanged);
    connect(m_Ui->WebViewWin, &QWebEngineView::titleChanged, this,
            &MWinLogin::WebViewProgressEstimateChanged);
}

MWinLogin::~MWinLogin() = default;

MWebView *MWinLogin::WebViewWin() const
{
    return m_Ui->WebViewWin;
}

QString MWinLogin::titleText() const
{
    return m_Ui->labelShowTitle->text();
}

void MWinLogin::showWindow()
{
    setWindowModality(Qt::ApplicationModal);
    // The first page loads once the modal loop runs, so a redirect that comes at once
    // still finds the loop to end.
    QTimer::singleShot(0, this, &MWinLogin::windowDidLoad);
    exec();
}

void MWinLogin::windowDidLoad()
{
    if (m_SignOutFirst)
        Logout();
    else
        Login();
    activateWindow();
    raise();
}

void MWinLogin::Login()
{
    m_Flow.Login();
    cleanCacheAndCookie();
    LoadPage(MLoginFlow::AuthorizeUrl());
}

void MWinLogin::Logout()
{
    m_Flow.Logout();
    LoadPage(LogoutUrl());
}

void MWinLogin::LoadPage(const QString &url)
{
    m_Ui->WebViewWin->load(QUrl(url));
}

void MWinLogin::cleanCacheAndCookie()
{
    QWebEngineProfile *profile = m_Ui->WebViewWin->page()->profile();
    profile->cookieStore()->deleteAllCookies();
    // Nothing of a sign-in is kept: the profile caches nothing, in memory or on disk, so
    // there is no cache to clear. (Clearing it here would also swallow the sign-in page's
    // load that follows at once: the engine resets its network state while it clears.)
    if (profile->httpCacheType() != QWebEngineProfile::NoCache)
        profile->setHttpCacheType(QWebEngineProfile::NoCache);
}

void MWinLogin::WebViewProgressEstimateChanged()
{
    m_Ui->labelShowTitle->setText(m_Ui->WebViewWin->page()->title());
}

void MWinLogin::WebViewWinProgressFinished()
{
    if (m_Closing) {
        // The blank page has replaced the redirect page: the history can forget the code.
        m_Ui->WebViewWin->history()->clear();
        done(QDialog::Accepted);
        return;
    }
    const QString url = m_Ui->WebViewWin->page()->url().toString(QUrl::FullyEncoded);
    const MLoginFlow::PageOutcome outcome = m_Flow.PageFinished(url);
    if (outcome.closeWindow) {
        // The code must not stay behind in the view's history: leave the redirect page
        // first, then clear the history and close.
        m_Closing = true;
        m_Ui->WebViewWin->setUrl(QUrl(QStringLiteral("about:blank")));
        QTimer::singleShot(3000, this, [this] {
            m_Ui->WebViewWin->history()->clear();
            done(QDialog::Accepted);
        });
        return;
    }
    if (outcome.startLogin)
        Login();
}

} // namespace Cogitra
