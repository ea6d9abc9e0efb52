#include "GuiService.h"
#include "GuiTestSupport.h"

#include "windows/MAppController.h"
#include "windows/MEditorPage.h"
#include "windows/MMainWindow.h"
#include "windows/MWebView.h"
#include "windows/MWinLogin.h"
#include "windows/MWinState.h"

#include <QAction>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPushButton>
#include <QWebEngineHistory>

#include <algorithm>
#include <memory>

using namespace Cogitra;
using namespace Cogitra::Test;

namespace {

QString MapText(const QString &json)
{
    const QJsonObject root = QJsonDocument::fromJson(json.toUtf8()).object();
    return root.value(u"root").toObject().value(u"data").toObject().value(u"text").toString();
}

bool SignInFormShown(MWinLogin *login)
{
    QWebEnginePage *page = login->WebViewWin()->page();
    return WaitUntil([&] {
        return login->errorText().isEmpty() && page->url().path().endsWith(u"/authorize")
               && RunJs(page, QStringLiteral("!!document.getElementById('passwd')")).toBool();
    });
}

constexpr const char *kAuthorize = "/common/oauth2/v2.0/authorize";

} // namespace

// Cogitra as a person meets it: the real editor page and worker, against the local service.
class TestApplication : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        ResetGlobalsForTesting();
        SetLanguage(QStringLiteral("en"));
        m_DataDir = std::make_unique<QTemporaryDir>();
        m_Env = std::make_unique<GuiService>();
        m_Service = &m_Env->service;
        QVERIFY(m_Env->started);
        qputenv("COGITRA_EDITOR_SITE_DIR", COGITRA_TEST_EDITOR_SITE_DIR);
        m_Alert.messages.clear();
    }

    void cleanup()
    {
        m_App.reset();
        m_Env.reset();
    }

    // An unreachable chosen host offers the built-in editor; taken, the choice is forgotten.
    void unreachableChosenHostOffersTheBuiltInEditor()
    {
        const QString host = QStringLiteral("127.0.0.1:%1").arg(ClosedPort());
        const QString configDir = m_DataDir->filePath(QStringLiteral("Ardentis/Cogitra"));
        QVERIFY(QDir().mkpath(configDir));
        Store({{QStringLiteral("Host"), host}}, configDir + QStringLiteral("/zetapp.plist"));
        QString question;
        std::function<void(QWidget *)> answer = [&](QWidget *modal) {
            auto *box = qobject_cast<QMessageBox *>(modal);
            QVERIFY(box);
            // OneNote gave no page link: the offer of the other ways to a page is closed first.
            if (box->objectName() == u"otherWayQuestion")
                return box->escapeButton()->click(), OnNextModal(answer);
            question = box->text();
            box->defaultButton()->click();
        };
        OnNextModal(answer);
        startApp();
        QVERIFY(WaitUntil(
            [&] {
                return m_App->delegate().webViewNavigateComplete() && !window().isProgressVisible();
            },
            30000));
        QCOMPARE(question, Text("strUseBuiltInEditor").arg(host));
        QCOMPARE(QUrl(m_App->delegate().editorUrl()).authority(), m_App->editorHostAddress());
        QVERIFY(m_App->editorPage().mainFrameTitle().contains(QStringLiteral("Zet")));
        QCOMPARE(Stored(QStringLiteral("Host")), QString());

        // The editor view keeps the editor page: what would replace it is refused.
        QWebEnginePage *page = m_App->editorPage().page();
        edit(QStringLiteral("Kept edits"));
        const QString editorUrl = m_App->editorPage().mainFrameUrl();
        for (const char *away :
             {"location.href = 'http://127.0.0.1:9/elsewhere.html'",
              "var a = document.createElement('a'); a.href = 'http://127.0.0.1:9/link.html';"
              "document.body.appendChild(a); a.click()",
              "location.reload()", "history.back()"}) {
            RunJs(page, QString::fromLatin1(away));
            QTest::qWait(1200);
            QVERIFY2(m_App->editorPage().mainFrameUrl() == editorUrl
                         && MapText(editorJson()) == u"Kept edits"
                         && !QApplication::activeModalWidget(),
                     away);
        }
        // A page lost after start-up asks; Reload Editor brings the map and its edits back.
        QString asked;
        OnNextModal([&](QWidget *modal) {
            auto *box = qobject_cast<QMessageBox *>(modal);
            asked = box ? box->text() : QString();
            Screenshot(QStringLiteral("reload-editor-question"));
            if (box)
                box->defaultButton()->click();
        });
        m_App->editorPage().load(QStringLiteral("http://127.0.0.1:%1/gone.html").arg(ClosedPort()));
        QVERIFY(WaitUntil([&] { return !asked.isEmpty(); }));
        QCOMPARE(asked, Text("strEditorLost"));
        QVERIFY(WaitUntil([&] { return MapText(editorJson()) == u"Kept edits"; }));
        QCOMPARE(m_App->editorPage().mainFrameUrl(), m_App->delegate().editorUrl());
        QVERIFY(RunJs(page, QStringLiteral("IsModified()")).toBool());
        QVERIFY(m_App->delegate().isModified() && !m_App->delegate().terminated());
    }

    // Sign in through failed pages, open, each answer before edits go, Sign Out, Escape.
    void signInEditSaveAndSignOut()
    {
        const auto demo = m_Service->seedDemo();
        QVERIFY(demo);
        bool historyClean = false;
        bool signInShown = false;
        bool failedTwice = false;
        // Two dropped connections: loaded once more, then told; Try Again meets a 500, retried.
        m_Service->setFault(QStringLiteral("authorize"),
                            {.kind = Service::FaultKind::Drop, .times = 2});
        OnNextModal([&](QWidget *modal) {
            auto *login = qobject_cast<MWinLogin *>(modal);
            QVERIFY(login);
            failedTwice = WaitUntil([&] { return !login->errorText().isEmpty(); })
                          && WaitUntil([&] { return requestsTo(kAuthorize) == 2; })
                          && !login->WebViewWin()->isVisible();
            m_Service->setFault(QStringLiteral("authorize"), {.status = 500, .times = 1});
            QTest::mouseClick(login->findChild<QPushButton *>(QStringLiteral("buttonRetry")),
                              Qt::LeftButton);
            const bool formShown = SignInFormShown(login);
            if (!formShown)
                login->reject(); // a failure here must not leave the window waiting
            QVERIFY(formShown);
            signInShown = !login->titleText().isEmpty();
            Screenshot(QStringLiteral("sign-in-window"));
            connect(login, &QDialog::finished, this, [&, login] {
                const QWebEngineHistory *history = login->WebViewWin()->history();
                historyClean = history->count() <= 1
                               && !history->currentItem().url().toString().contains(u"code=");
            });
            RunJs(login->WebViewWin()->page(),
                  QStringLiteral("document.getElementById('loginfmt').value = '%1';"
                                 "document.getElementById('passwd').value = '%2';"
                                 "document.forms[0].submit();")
                      .arg(demo->upn, demo->password));
        });
        startApp();
        QVERIFY(WaitUntil([&] { return !g_AuthCode.isEmpty(); }, 30000));
        QVERIFY(failedTwice && signInShown && historyClean);
        QCOMPARE(requestsTo(kAuthorize), 5); // the form is sent to the page's own address
        QVERIFY(WaitUntil(
            [&] {
                return WorkerFinished() && g_StepCode.load() == 0 && !window().isProgressVisible()
                       && MapText(editorJson()) == u"Cogitra demo";
            },
            30000));
        // The code is never saved.
        QFile file(g_ConfigFile.get());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(!file.readAll().contains(g_AuthCode.get().toUtf8()));

        QCOMPARE(window().shownTitle(),
                 QStringLiteral("Project map (%1) - %2").arg(demo->upn, Text("appName")));
        Screenshot(QStringLiteral("main-window"));
        QCOMPARE(g_OnlinePageId.get(), demo->mapPageId);
        edit(QStringLiteral("Edited here"));
        QVERIFY(window().shownTitle().startsWith(u"*Project map"));

        // Cancel: the window stays open.
        answerNextQuestion(QMessageBox::Cancel, QStringLiteral("unsaved-changes-question"));
        QVERIFY(!window().close() && window().isVisible());

        // Save: the map goes to its page, then the new map starts; the progress window closes.
        answerNextQuestion(QMessageBox::Save);
        window().action(QStringLiteral("actionNew"))->trigger();
        QVERIFY(WaitUntil([&] { return window().windowTitle().contains(u"New Map"); }, 30000));
        QCOMPARE(g_StepCode.load(), 100);
        QVERIFY(MWinState::Instance());
        QVERIFY(WaitUntil([&] { return !MWinState::Instance()->isVisible(); }, 5000));
        QVERIFY(WaitUntil([&] { return !window().isWindowModified(); }));

        // Discard: the page keeps what was saved, the editor gets the page's map.
        edit(QStringLiteral("Thrown away"));
        answerNextQuestion(QMessageBox::Discard);
        window().action(QStringLiteral("actionOpen"))->trigger();
        QVERIFY(WaitUntil(
            [&] { return MapText(editorJson()) == u"Edited here" && !window().isWindowModified(); },
            30000));

        // Sign Out, then Save: nothing of the sign-in is left, and the save asks for one.
        QAction *signOut = window().findChild<QAction *>(QStringLiteral("actionSignOut"));
        QAction *login = window().findChild<QAction *>(QStringLiteral("actionLogin"));
        QVERIFY(signOut && login && signOut->isEnabled() && login->isChecked());
        signOut->trigger();
        QVERIFY(!window().shownTitle().contains(demo->upn));
        QVERIFY(!login->isChecked() && !signOut->isEnabled());
        QCOMPARE(Stored(QStringLiteral("UserPrincipalName")), QString());

        // A page that never comes is loaded once more.
        m_Service->setFault(QStringLiteral("authorize"),
                            {.kind = Service::FaultKind::Delay, .delayMs = 5000, .times = 1});
        bool formShown = false, escaped = false;
        QRect placed;
        OnNextModal([&](QWidget *modal) {
            auto *signIn = qobject_cast<MWinLogin *>(modal);
            QVERIFY(signIn);
            signIn->setLoadTimeout(1500);
            placed = signIn->frameGeometry();
            formShown = SignInFormShown(signIn);
            QWidget *keys = signIn->WebViewWin()->focusProxy();
            QTest::keyClick(keys ? keys : signIn, Qt::Key_Escape);
            escaped = WaitUntil([&] { return !signIn->isVisible(); }, 3000);
            if (!escaped)
                signIn->reject(); // a failure here must not leave the window waiting
        });
        window().setGeometry(40, 60, 700, 700); // within the offscreen screen, so exactly over
        window().findChild<QAction *>(QStringLiteral("actionSave"))->trigger();
        QVERIFY(
            WaitUntil([&] { return formShown && escaped && !QApplication::activeModalWidget(); }));

        // Within the window frames, which are not known before the window is shown.
        QVERIFY((placed.center() - window().frameGeometry().center()).manhattanLength() <= 8);
        QCOMPARE(m_Alert.messages, QStringList{Text("strSignInNeeded")});
        // The page held back is logged once it has been answered.
        QVERIFY(WaitUntil([&] { return requestsTo(kAuthorize) == 7; }, 10000));
    }

private:
    MMainWindow &window() { return m_App->mainWindow(); }

    void startApp()
    {
        m_App = std::make_unique<MAppController>(
            MAppController::Options{.dataRoot = m_DataDir->path(), .onTerminate = qt_noop});
        SetAlert(&m_Alert);
        m_App->start();
    }

    int requestsTo(const char *path) const
    {
        return int(std::ranges::count_if(m_Service->requestLog(),
                                         [&](const auto &r) { return r.target.startsWith(path); }));
    }

    // The page keeps g_ZetJsonResult at the map it shows.
    QString editorJson()
    {
        return RunJs(m_App->editorPage().page(),
                     QStringLiteral("String(window.g_ZetJsonResult || '')"))
            .toString();
    }

    // An ordinary, undoable edit of the whole map, as the page makes it.
    void edit(const QString &text)
    {
        RunJs(m_App->editorPage().page(),
              QStringLiteral(R"(RestoreJsonData('{"root":{"data":{"text":"%1"},"children":[]}}'))")
                  .arg(text));
        QVERIFY(WaitUntil(
            [&] { return MapText(editorJson()) == text && window().isWindowModified(); }));
    }

    void answerNextQuestion(QMessageBox::StandardButton button, const QString &screenshot = {})
    {
        OnNextModal([button, screenshot](QWidget *modal) {
            auto *box = qobject_cast<QMessageBox *>(modal);
            QVERIFY(box);
            if (!screenshot.isEmpty())
                Screenshot(screenshot);
            box->button(button)->click();
        });
    }

    std::unique_ptr<QTemporaryDir> m_DataDir;
    std::unique_ptr<GuiService> m_Env;
    Service::NotebookService *m_Service = nullptr;
    std::unique_ptr<MAppController> m_App;
    RecordingAlert m_Alert;
};

COGITRA_GUI_TEST_MAIN(TestApplication)
#include "tst_application.moc"
