#include "GuiTestSupport.h"

#include "windows/MAppController.h"
#include "windows/MEditorPage.h"
#include "windows/MMainWindow.h"
#include "windows/MWebView.h"
#include "windows/MWinLogin.h"
#include "windows/MWinState.h"

#include "app/MMapBackup.h"
#include "attachment/TZetGifAttachment.h"
#include "onenote/MCurrentPage.h"
#include "service/NotebookService.h"
#include "util/MAlert.h"
#include "util/MConfig.h"
#include "util/MGlobals.h"
#include "util/MStrings.h"

#include <QAbstractButton>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QWebEngineHistory>

#include <httplib.h>

#include <memory>
#include <thread>

using namespace Cogitra;
using namespace Cogitra::Test;

namespace {

QString Text(const char *key)
{
    return LocalizedString(QString::fromLatin1(key));
}

QString MapText(const QString &json)
{
    const QJsonObject root = QJsonDocument::fromJson(json.toUtf8()).object();
    return root.value(u"root").toObject().value(u"data").toObject().value(u"text").toString();
}

const char *const Roots[] = {"COGITRA_GRAPH_ROOT", "COGITRA_LOGIN_ROOT", "COGITRA_ACCOUNT_ROOT",
                             "COGITRA_MAKER_ROOT", "COGITRA_DESKTOP_ROOT"};

// Notes that a progress window was shown, however briefly.
class ShowWatcher : public QObject
{
public:
    bool shown = false;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Show && qobject_cast<MWinState *>(watched))
            shown = true;
        return false;
    }
};

} // namespace

// Cogitra as a person meets it, against the local notebook service in-process: the real
// editor page, the real worker, the desktop notebook standing in for OneNote.
class TestApplication : public QObject
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
        m_Alert.messages.clear();
        m_Terminations = 0;
    }

    void cleanup()
    {
        m_App.reset();
        m_Service.reset();
        for (const char *name : Roots)
            qunsetenv(name);
        ResetGlobalsForTesting();
    }

    void firstStartWithNoConfiguration()
    {
        // Nothing selected in the desktop notebook, nobody signed in.
        startApp();
        QVERIFY(WaitUntil([&] { return m_App->launched(); }));
        QCOMPARE(m_Alert.messages, QStringList{Text("errGetPageLink")});
        QVERIFY(g_Host.get().startsWith(QStringLiteral("127.0.0.1:")));
        QCOMPARE(m_App->delegate().editorUrl(),
                 QStringLiteral("http://%1/km/v1.0/en/index-mac.html").arg(g_Host.get()));
        QVERIFY(m_App->mainWindow().isVisible());
        QVERIFY(m_App->mainWindow().isProgressVisible());
        QVERIFY(waitForEditing());
        QCOMPARE(g_StepCode.load(), 0);
        QVERIFY(m_App->editorPage().mainFrameTitle().contains(QStringLiteral("Zet")));
        QCOMPARE(m_Terminations, 0);
    }

    void openOfAPageOfAnotherAccountSignsIn()
    {
        const auto demo = seedDemoWithMap();
        QVERIFY(demo);
        bool historyClean = false;
        bool signInShown = false;
        OnNextModal([&](QWidget *modal) {
            auto *login = qobject_cast<MWinLogin *>(modal);
            QVERIFY(login);
            QWebEnginePage *page = login->WebViewWin()->page();
            const bool formShown = WaitUntil([&] {
                return page->url().path().endsWith(u"/authorize")
                       && RunJs(page, QStringLiteral("!!document.getElementById('passwd')"))
                              .toBool();
            });
            if (!formShown)
                login->reject(); // a failure here must not leave the window waiting
            QVERIFY2(formShown, qPrintable(page->url().toString(QUrl::RemoveQuery)));
            signInShown = !login->titleText().isEmpty();
            Screenshot(QStringLiteral("sign-in-window"));
            connect(login, &QDialog::finished, this, [&, login] {
                const QWebEngineHistory *history = login->WebViewWin()->history();
                historyClean = history->count() <= 1
                               && !history->currentItem().url().toString().contains(u"code=");
            });
            RunJs(page, QStringLiteral("document.getElementById('loginfmt').value = '%1';"
                                       "document.getElementById('passwd').value = '%2';"
                                       "document.forms[0].submit();")
                            .arg(demo->upn, demo->password));
        });
        startApp();
        QVERIFY(WaitUntil([&] { return !g_AuthCode.isEmpty(); }, 30000));
        QVERIFY(signInShown);
        QVERIFY(historyClean);
        QVERIFY(WaitUntil([&] { return !g_AccessToken.isEmpty() && !g_UserId.isEmpty(); }));
        QCOMPARE(g_AccountId.get(), pageAccountId());
        QVERIFY2(waitForHandOver(), qPrintable(state()));
        QVERIFY(!MapText(editorJson()).isEmpty());
        // The tokens were saved for the next start; the code never was.
        const MConfig stored(g_ConfigFile.get());
        QCOMPARE(stored.ReadValueDefStr(QStringLiteral("OnlineOneNoteAccessToken"), QString())
                     .toString(),
                 g_AccessToken.get());
        QFile file(g_ConfigFile.get());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(!file.readAll().contains(g_AuthCode.get().toUtf8()));
    }

    // Open, save with the progress window, open again, and save to another page.
    void openAndSaveOfAPageWithAMap()
    {
        const auto demo = seedDemoWithMap();
        QVERIFY(demo);
        signInBeforeStart(*demo);
        startApp();
        QVERIFY2(waitForHandOver(), qPrintable(state()));
        QVERIFY(m_Alert.messages.isEmpty());
        QVERIFY(!MapText(g_DownloadedMapJson.get()).isEmpty());
        QCOMPARE(MapText(editorJson()), MapText(g_DownloadedMapJson.get()));
        QCOMPARE(m_App->mainWindow().shownTitle(),
                 QStringLiteral("Project map (%1) - %2").arg(demo->upn, Text("appName")));
        Screenshot(QStringLiteral("main-window"));
        const QString pageId = g_OnlinePageId.get();
        QVERIFY(!pageId.isEmpty());

        editMap(QStringLiteral("Edited by the test"));
        // The window may be up only for a moment: a fast save ends before a poll would see it.
        ShowWatcher progress;
        qApp->installEventFilter(&progress);
        m_App->delegate().MenuItemSave();
        QVERIFY(WaitUntil([&] { return g_StepCode.load() == 100 && WorkerFinished(); }, 30000));
        qApp->removeEventFilter(&progress);
        QVERIFY(progress.shown);
        QVERIFY(WaitUntil([&] { return !MWinState::Instance()->isVisible(); }, 5000));
        QVERIFY(m_Alert.messages.isEmpty());
        const QString html = m_Service->pageHtml(pageId);
        QVERIFY(html.contains(QStringLiteral("alt=\"ZetCogitra\"")));
        QVERIFY(html.contains(QStringLiteral("alt=\"ZetGif\"")));
        QCOMPARE(MapText(LoadMapBackup()), QStringLiteral("Edited by the test"));

        // Opening the page again brings back what was saved.
        m_App->delegate().MenuItemOpenFromCurrentPage();
        QVERIFY2(waitForHandOver(), qPrintable(state()));
        QCOMPARE(MapText(g_DownloadedMapJson.get()), QStringLiteral("Edited by the test"));

        // Saving to the current page asks OneNote again which page that is.
        QVERIFY(m_Service->selectPage(demo->imagesPageId));
        QVERIFY(pageId != demo->imagesPageId);
        editMap(QStringLiteral("Copied over"));
        m_App->delegate().MenuItemSaveToCurrentPage();
        QVERIFY(WaitUntil([&] { return g_StepCode.load() == 100 && WorkerFinished(); }, 30000));
        QCOMPARE(g_OnlinePageId.get(), demo->imagesPageId);
        QVERIFY(m_Service->pageHtml(demo->imagesPageId).contains(QStringLiteral("alt=\"ZetGif\"")));
    }

    void wrongEditorPageEndsTheApplication()
    {
        // An editor host whose page sends the view elsewhere.
        httplib::Server wrongHost;
        wrongHost.Get("/km/v1.0/en/index-mac.html",
                      [](const httplib::Request &, httplib::Response &res) {
                          res.set_redirect("/elsewhere");
                      });
        wrongHost.Get("/elsewhere", [](const httplib::Request &, httplib::Response &res) {
            res.set_content("<html><head><title>Sign in</title></head><body>no</body></html>",
                            "text/html");
        });
        const int port = wrongHost.bind_to_any_port("127.0.0.1");
        std::thread serving([&] { wrongHost.listen_after_bind(); });
        writeConfig({{QStringLiteral("Host"), QStringLiteral("127.0.0.1:%1").arg(port)}});
        // Offered the built-in editor, the user quits instead.
        OnNextModal([](QWidget *modal) {
            if (auto *box = qobject_cast<QMessageBox *>(modal))
                box->escapeButton()->click();
        });
        startApp();
        const bool ended = WaitUntil([&] { return m_Terminations > 0; }, 30000);
        wrongHost.stop();
        serving.join();
        QVERIFY(ended);
        QVERIFY(m_Alert.messages.contains(Text("errOpenCogitraEditer")));
        QVERIFY(m_App->delegate().terminated());
    }

private:
    void startApp()
    {
        MAppController::Options options;
        options.dataRoot = m_DataDir->path();
        options.onTerminate = [this] {
            ++m_Terminations;
        };
        m_App = std::make_unique<MAppController>(options);
        SetAlert(&m_Alert);
        m_App->start();
    }

    // The demo account, its "Project map" page carrying a map as Cogitra writes it.
    std::optional<Service::DemoAccount> seedDemoWithMap()
    {
        auto demo = m_Service->seedDemo();
        if (!demo
            || m_Service->pageHtml(demo->mapPageId).contains(QStringLiteral("alt=\"ZetGif\"")))
            return demo;
        InitGlobals(m_DataDir->path());
        const QString container = TZetGifAttachment::Package(
            QStringLiteral(R"({"root":{"data":{"text":"Project goals"},"children":[{"data":)"
                           R"({"text":"Ship the editor"}}]},"template":"default"})"));
        const QJsonArray commands{
            QJsonObject{{QStringLiteral("target"), QStringLiteral("body")},
                        {QStringLiteral("action"), QStringLiteral("append")},
                        {QStringLiteral("content"),
                         QStringLiteral("<img alt=\"ZetGif\" src=\"data:image/gif;base64,%1\" />")
                             .arg(container)}}};
        if (container.isEmpty()
            || !m_Service->patchPage(demo->mapPageId, QJsonDocument(commands).toJson()))
            return std::nullopt;
        return demo;
    }

    QString pageAccountId()
    {
        OneNotePageInfo info;
        (void)MCurrentPage::ReadPageLink(m_Service->selectionLink(), info);
        return info.accountId;
    }

    void writeConfig(const QList<QPair<QString, QString>> &values)
    {
        const QString dir = QDir(m_DataDir->path()).filePath(QStringLiteral("Ardentis/Cogitra"));
        QDir().mkpath(dir);
        MConfig config(QDir(dir).filePath(QStringLiteral("zetapp.plist")));
        for (const auto &[key, value] : values)
            config.WriteValueStr(key, value);
        QVERIFY(config.Save());
    }

    void signInBeforeStart(const Service::DemoAccount &demo)
    {
        const auto tokens = m_Service->mintTokens(demo.account.cid);
        QVERIFY(tokens);
        writeConfig({{QStringLiteral("OnlineOneNoteAccessToken"), tokens->accessToken},
                     {QStringLiteral("OnlineOneNoteRefreshToken"), tokens->refreshToken},
                     {QStringLiteral("OnlineOneNoteAccountId"), pageAccountId()},
                     {QStringLiteral("OnlineOneNoteUserId"), demo.account.cid},
                     {QStringLiteral("UserPrincipalName"), demo.upn}});
    }

    bool waitForEditing()
    {
        return WaitUntil([&] {
            return m_App->launched() && !m_App->mainWindow().isProgressVisible()
                   && m_App->mainWindow().WebViewMain()->isVisible();
        });
    }

    bool waitForHandOver()
    {
        return WaitUntil(
            [&] {
                return WorkerFinished() && g_StepCode.load() == 0
                       && !m_App->mainWindow().isProgressVisible();
            },
            30000);
    }

    static QString state()
    {
        return QStringLiteral("step %1 finished %2").arg(g_StepCode.load()).arg(WorkerFinished());
    }

    QString editorJson()
    {
        return RunJs(m_App->editorPage().page(), QStringLiteral("g_ZetJsonResult")).toString();
    }

    void editMap(const QString &text)
    {
        RunJs(m_App->editorPage().page(),
              QStringLiteral(
                  "SetJsonData(JSON.stringify({root: {data: {text: '%1'}, children: []}}))")
                  .arg(text));
        QVERIFY(WaitUntil([&] { return MapText(editorJson()) == text; }));
    }

    std::unique_ptr<QTemporaryDir> m_ServiceDir;
    std::unique_ptr<QTemporaryDir> m_DataDir;
    std::unique_ptr<Service::NotebookService> m_Service;
    std::unique_ptr<MAppController> m_App;
    RecordingAlert m_Alert;
    int m_Terminations = 0;
};

COGITRA_GUI_TEST_MAIN(TestApplication)
#include "tst_application.moc"
