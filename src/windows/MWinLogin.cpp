#include "MWinLogin.h"

#include "ui_MWinLogin.h"

#include "MWebView.h"
#include "online/MEndpoints.h"

#include "util/MStrings.h"

#include <QGuiApplication>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QShortcut>
#include <QShowEvent>
#include <QUrl>
#include <QWebEngineCookieStore>
#include <QWebEngineHistory>
#include <QWebEngineLoadingInfo>
#include <QWebEnginePage>
#include <QWebEngineProfile>

#include <algorithm>

namespace Cogitra {

namespace {

// A page that has not finished by then counts as failed: the window never stays blank
// for long, even when the network neither answers nor gives up.
constexpr int LoadTimeoutMs = 15000;

// Windows never cover more than this share of the screen they open on.
constexpr double MaxScreenShare = 0.9;

// The identity platform shows its own refusals as pages; only a page that could not be
// had at all, or a server that broke down, is a failed load.
bool IsFailedLoad(const QWebEngineLoadingInfo &info)
{
    if (info.status() != QWebEngineLoadingInfo::LoadFailedStatus)
        return false;
    return info.errorDomain() != QWebEngineLoadingInfo::HttpStatusCodeDomain
           || info.errorCode() >= 500;
}

// What went wrong, in a few plain words: the engine's own texts are templates of its
// error page, with markup in them.
QString FailureReason(const QWebEngineLoadingInfo &info)
{
    if (info.errorDomain() == QWebEngineLoadingInfo::HttpStatusCodeDomain)
        return QStringLiteral("HTTP %1").arg(info.errorCode());
    const QString text = info.errorString().remove(QRegularExpression(QStringLiteral("<[^>]*>")));
    return text.simplified().isEmpty() ? QStringLiteral("error %1").arg(info.errorCode())
                                       : text.simplified();
}

} // namespace

MWinLogin::MWinLogin(QWidget *parent)
    : QDialog(parent)
    , m_Ui(std::make_unique<Ui::MWinLogin>())
{
    m_Ui->setupUi(this);
    setWindowTitle(LocalizedString(QStringLiteral("strLoginTitle")));
    m_Ui->buttonRetry->setText(LocalizedString(QStringLiteral("strTryAgain")));
    m_Ui->buttonCancel->setText(LocalizedString(QStringLiteral("strCancel")));
    connect(m_Ui->buttonRetry, &QPushButton::clicked, this, &MWinLogin::TryAgain);
    connect(m_Ui->buttonCancel, &QPushButton::clicked, this, &QDialog::reject);
    // The web view keeps the keys it is given, Escape included; closing with it is the
    // window's, and it means what closing the window means: no sign-in.
    auto *escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, this, &QDialog::reject);

    m_LoadTimer.setSingleShot(true);
    m_LoadTimer.setInterval(LoadTimeoutMs);
    connect(&m_LoadTimer, &QTimer::timeout, this, [this] {
        const int serial = m_LoadSerial;
        m_Ui->WebViewWin->stop();
        if (serial == m_LoadSerial && !m_Closing)
            LoadFailed(LocalizedString(QStringLiteral("strSignInPageTimedOut")));
    });
    connect(m_Ui->WebViewWin->page(), &QWebEnginePage::loadingChanged, this,
            [this](const QWebEngineLoadingInfo &info) {
                if (info.status() == QWebEngineLoadingInfo::LoadStartedStatus) {
                    m_LoadTimer.start();
                    return;
                }
                m_LoadTimer.stop();
                if (info.status() == QWebEngineLoadingInfo::LoadSucceededStatus)
                    m_Retried = false;
                if (!IsFailedLoad(info))
                    return;
                // Once the finished load has been looked at: a failed redirect page still
                // carries the code, and a failed sign-out page starts the sign-in anyway.
                const int serial = m_LoadSerial;
                const QString reason = FailureReason(info);
                QTimer::singleShot(0, this, [this, serial, reason] {
                    if (serial == m_LoadSerial && !m_Closing)
                        LoadFailed(reason);
                });
            });
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

QString MWinLogin::errorText() const
{
    return m_Ui->errorPanel->isHidden() ? QString() : m_Ui->labelError->text();
}

void MWinLogin::PlaceOverParent()
{
    QWidget *over
        = parentWidget() && parentWidget()->isVisible() ? parentWidget()->window() : nullptr;
    QScreen *screen = over ? over->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect available = screen->availableGeometry();
    const QSize most(int(available.width() * MaxScreenShare),
                     int(available.height() * MaxScreenShare));
    resize(size().boundedTo(most));
    QRect placed(QPoint(), size());
    placed.moveCenter(over ? over->geometry().center() : available.center());
    // Over the main window, but never off the screen where it hangs over an edge.
    placed.moveLeft(std::clamp(placed.left(), available.left(),
                               std::max(available.left(), available.right() - placed.width())));
    placed.moveTop(std::clamp(placed.top(), available.top(),
                              std::max(available.top(), available.bottom() - placed.height())));
    move(placed.topLeft());
}

void MWinLogin::showEvent(QShowEvent *event)
{
    // Once the layout has settled the window's size, before the window appears.
    if (!event->spontaneous())
        PlaceOverParent();
    QDialog::showEvent(event);
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
    m_Requested = url;
    m_Retried = false;
    m_Ui->errorPanel->hide();
    m_Ui->WebViewWin->show();
    ++m_LoadSerial;
    m_Ui->WebViewWin->load(QUrl(url));
}

void MWinLogin::LoadFailed(const QString &reason)
{
    if (!m_Retried && !m_Requested.isEmpty()) {
        // Most failures pass (a dropped connection, a server restarting): once more,
        // from the page this window asked for.
        m_Retried = true;
        ++m_LoadSerial;
        m_Ui->WebViewWin->load(QUrl(m_Requested));
        return;
    }
    ShowError(reason);
}

void MWinLogin::ShowError(const QString &reason)
{
    m_LoadTimer.stop();
    m_Ui->WebViewWin->hide();
    m_Ui->labelShowTitle->setText(windowTitle());
    m_Ui->labelError->setText(LocalizedString(QStringLiteral("strSignInPageFailed")).arg(reason));
    m_Ui->errorPanel->show();
    m_Ui->buttonRetry->setFocus();
}

void MWinLogin::TryAgain()
{
    // A new sign-in from the start: whatever page failed, the sign-in pages begin at the
    // authorize page.
    Login();
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
    // The error shown in the page's place keeps the window's own title.
    if (!m_Ui->errorPanel->isHidden())
        return;
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
