#include "GuiTestSupport.h"

#include "windows/MAppController.h"
#include "windows/MEditorPage.h"
#include "windows/MMainWindow.h"
#include "windows/MWebView.h"
#include "windows/MWinLogin.h"

#include "onenote/MCurrentPage.h"
#include "service/NotebookService.h"
#include "util/MAlert.h"
#include "util/MConfig.h"
#include "util/MGlobals.h"
#include "util/MStrings.h"

#include <QAction>
#include <QPushButton>
#include <QTemporaryDir>

#include <memory>

using namespace Cogitra;
using namespace Cogitra::Test;

namespace {

const char *const Roots[] = {"COGITRA_GRAPH_ROOT", "COGITRA_LOGIN_ROOT", "COGITRA_ACCOUNT_ROOT",
                             "COGITRA_MAKER_ROOT", "COGITRA_DESKTOP_ROOT"};

const char *const AuthorizePath = "/common/oauth2/v2.0/authorize";

bool SignInFormShown(MWinLogin *login)
{
    QWebEnginePage *page = login->WebViewWin()->page();
    return WaitUntil([&] {
        return login->errorText().isEmpty() && page->url().path().endsWith(u"/authorize")
               && RunJs(page, QStringLiteral("!!document.getElementById('passwd')")).toBool();
    });
}

} // namespace

// The sign-in window against the local notebook service: its failures, its place, and
// signing out and in again from the main window.
class TestSignIn : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        ResetGlobalsForTesting();
        SetLanguage(QStringLiteral("en"));
        m_ServiceDir = std::make_unique<QTemporaryDir>();
        m_DataDir = std::make_unique<QTemporaryDir>();
        Service::ServiceOptions options;
        options.dataDir = m_ServiceDir->path();
        m_Service = std::make_unique<Service::NotebookService>(options);
        QVERIFY(m_Service->start());
        for (const char *name : Roots)
            qputenv(name, m_Service->rootUrl().toUtf8());
        qputenv("COGITRA_EDITOR_SITE_DIR", COGITRA_TEST_EDITOR_SITE_DIR);
        SetAlert(&m_Alert);
        m_Alert.messages.clear();
    }

    void cleanup()
    {
        m_App.reset();
        SetAlert(nullptr);
        m_Service.reset();
        for (const char *name : Roots)
            qunsetenv(name);
        ResetGlobalsForTesting();
    }

    void failedPageIsLoadedOnceMoreThenShownAsAnError_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("failures"); // the first that passes is answered at once
        QTest::newRow("one dropped connection") << int(Service::FaultKind::Drop) << 1;
        QTest::newRow("two dropped connections") << int(Service::FaultKind::Drop) << 2;
        QTest::newRow("two server errors") << int(Service::FaultKind::Status) << 2;
        QTest::newRow("two pages that never come") << int(Service::FaultKind::Delay) << 2;
    }

    void failedPageIsLoadedOnceMoreThenShownAsAnError()
    {
        QFETCH(int, kind);
        QFETCH(int, failures);
        const bool errorShown = failures > 1;
        InitGlobals(m_DataDir->path());
        Service::Fault fault;
        fault.kind = Service::FaultKind(kind);
        fault.delayMs = 5000;
        fault.times = failures;
        m_Service->setFault(QStringLiteral("authorize"), fault);

        MWinLogin login;
        login.setLoadTimeout(1500);
        login.resize(4000, 3000); // however large it would be, it opens within the screen
        int loads = 0;
        connect(login.WebViewWin(), &QWebEngineView::loadStarted, this, [&] { ++loads; });
        int loadsBeforeError = -1;
        bool shownAfterTryAgain = false;
        OnNextModal([&](QWidget *) {
            [&] {
                const QRect screen = login.screen()->availableGeometry();
                QVERIFY(screen.contains(login.frameGeometry()));
                QVERIFY(login.width() <= screen.width() * 0.9);
                if (errorShown) {
                    QVERIFY(WaitUntil([&] { return !login.errorText().isEmpty(); }, 20000));
                    loadsBeforeError = loads;
                    QVERIFY(!login.WebViewWin()->isVisible());
                    // Try Again starts the sign-in afresh; the service answers by now.
                    QTest::mouseClick(login.findChild<QPushButton *>(QStringLiteral("buttonRetry")),
                                      Qt::LeftButton);
                }
                shownAfterTryAgain = SignInFormShown(&login);
            }();
            login.reject(); // also after a failure, which must not leave the window waiting
        });
        login.showWindow();
        QVERIFY(shownAfterTryAgain);
        // A page held back is logged once it has been answered.
        QVERIFY(WaitUntil([&] { return requestsTo(AuthorizePath) == failures + 1; }, 10000));
        if (errorShown) {
            QCOMPARE(loadsBeforeError, 2);
            QVERIFY(login.errorText().isEmpty());
        }
        QVERIFY(g_AuthCode.isEmpty());
    }

    // Sign Out, then Save: the sign-in question and a sign-in window that shows its page,
    // placed over the main window; Escape there leaves the map and the user signed out.
    void signOutThenSaveAsksToSignInAndEscapeAbandons()
    {
        const auto demo = m_Service->seedDemo();
        QVERIFY(demo);
        signInBeforeStart(*demo);
        startApp();
        QVERIFY(WaitUntil(
            [&] {
                return m_App->launched() && WorkerFinished() && g_StepCode.load() == 0
                       && !m_App->mainWindow().isProgressVisible();
            },
            30000));
        MMainWindow &window = m_App->mainWindow();
        QAction *signOut = window.findChild<QAction *>(QStringLiteral("actionSignOut"));
        QAction *login = window.findChild<QAction *>(QStringLiteral("actionLogin"));
        QVERIFY(signOut && login);
        QVERIFY(signOut->isEnabled() && login->isChecked());
        QVERIFY(window.shownTitle().contains(demo->upn));

        signOut->trigger();
        QVERIFY(!window.shownTitle().contains(demo->upn));
        QVERIFY(!login->isChecked() && !signOut->isEnabled());
        const MConfig stored(g_ConfigFile.get());
        for (const char *key : {"OnlineOneNoteAccessToken", "OnlineOneNoteRefreshToken",
                                "OnlineOneNoteUserId", "UserPrincipalName"})
            QCOMPARE(stored.ReadValueDefStr(QString::fromLatin1(key), QString()).toString(),
                     QString());

        bool formShown = false;
        bool escaped = false;
        QRect placed;
        OnNextModal([&](QWidget *modal) {
            auto *signIn = qobject_cast<MWinLogin *>(modal);
            QVERIFY(signIn);
            placed = signIn->frameGeometry();
            formShown = SignInFormShown(signIn);
            QWidget *keys = signIn->WebViewWin()->focusProxy();
            QTest::keyClick(keys ? keys : signIn, Qt::Key_Escape);
            escaped = WaitUntil([&] { return !signIn->isVisible(); }, 3000);
            if (!escaped)
                signIn->reject(); // a failure here must not leave the window waiting
        });
        const int graphRequests = requestsTo("/v1.0/");
        window.setGeometry(40, 60, 700, 700); // within the offscreen screen, so exactly over
        window.findChild<QAction *>(QStringLiteral("actionSave"))->trigger();
        QVERIFY(WaitUntil([&] { return formShown && !QApplication::activeModalWidget(); }));
        QVERIFY(escaped);

        const QRect screen = window.screen()->availableGeometry();
        QVERIFY(placed.width() <= screen.width() * 0.9 && placed.height() <= screen.height() * 0.9);
        // Within the window frames, which are not known before the window is shown.
        QVERIFY((placed.center() - window.frameGeometry().center()).manhattanLength() <= 8);
        QCOMPARE(m_Alert.messages, QStringList{Text("strSignInNeeded")});
        QVERIFY(g_AuthCode.isEmpty() && !login->isChecked());
        QVERIFY(!m_App->delegate().terminated() && !m_App->delegate().isBusy());
        QCOMPARE(requestsTo("/v1.0/"), graphRequests); // no page was read or written
    }

private:
    int requestsTo(const char *path) const
    {
        int count = 0;
        for (const auto &request : m_Service->requestLog())
            count += request.target.startsWith(path) ? 1 : 0;
        return count;
    }

    void startApp()
    {
        MAppController::Options options;
        options.dataRoot = m_DataDir->path();
        options.onTerminate = [] {
        };
        m_App = std::make_unique<MAppController>(options);
        SetAlert(&m_Alert);
        m_App->start();
    }

    void signInBeforeStart(const Service::DemoAccount &demo)
    {
        const auto tokens = m_Service->mintTokens(demo.account.cid);
        QVERIFY(tokens);
        OneNotePageInfo page;
        (void)MCurrentPage::ReadPageLink(m_Service->selectionLink(), page);
        const QString dir = QDir(m_DataDir->path()).filePath(QStringLiteral("Ardentis/Cogitra"));
        QDir().mkpath(dir);
        MConfig config(QDir(dir).filePath(QStringLiteral("zetapp.plist")));
        config.WriteValueStr(QStringLiteral("OnlineOneNoteAccessToken"), tokens->accessToken);
        config.WriteValueStr(QStringLiteral("OnlineOneNoteRefreshToken"), tokens->refreshToken);
        config.WriteValueStr(QStringLiteral("OnlineOneNoteAccountId"), page.accountId);
        config.WriteValueStr(QStringLiteral("OnlineOneNoteUserId"), demo.account.cid);
        config.WriteValueStr(QStringLiteral("UserPrincipalName"), demo.upn);
        QVERIFY(config.Save());
    }

    std::unique_ptr<QTemporaryDir> m_ServiceDir;
    std::unique_ptr<QTemporaryDir> m_DataDir;
    std::unique_ptr<Service::NotebookService> m_Service;
    std::unique_ptr<MAppController> m_App;
    RecordingAlert m_Alert;
};

COGITRA_GUI_TEST_MAIN(TestSignIn)
#include "tst_signin.moc"
