// Unsaved changes with the real window and editor page, against the local notebook service:
// the questions a person answers, Undo across Restore and Open, and edits kept over a kill.
#include "GuiTestSupport.h"

#include "windows/MAppController.h"
#include "windows/MEditorPage.h"
#include "windows/MMainWindow.h"

#include "app/MMapBackup.h"
#include "app/MMapDraft.h"
#include "onenote/MCurrentPage.h"
#include "service/NotebookService.h"
#include "util/MAlert.h"
#include "util/MConfig.h"
#include "util/MGlobals.h"
#include "util/MStrings.h"

#include <QAbstractButton>
#include <QAction>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMessageBox>
#include <QTemporaryDir>

#include <memory>

using namespace Cogitra;
using namespace Cogitra::Test;

namespace {

QString MapText(const QString &json)
{
    const QJsonObject root = QJsonDocument::fromJson(json.toUtf8()).object();
    return root.value(u"root").toObject().value(u"data").toObject().value(u"text").toString();
}

QString MapOf(const QString &text)
{
    return QStringLiteral(R"({"root":{"data":{"text":"%1"},"children":[]}})").arg(text);
}

const char *const Roots[] = {"COGITRA_GRAPH_ROOT", "COGITRA_LOGIN_ROOT", "COGITRA_ACCOUNT_ROOT",
                             "COGITRA_MAKER_ROOT", "COGITRA_DESKTOP_ROOT"};

} // namespace

class TestMapSafety : public QObject
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
        m_Demo = m_Service->seedDemo();
        QVERIFY(m_Demo);
        signInBeforeStart();
    }

    void cleanup()
    {
        m_App.reset();
        m_Service.reset();
        for (const char *name : Roots)
            qunsetenv(name);
        ResetGlobalsForTesting();
    }

    // New, Open and closing the window with edits: each answer of the question.
    void replacingAnEditedMapAsksFirst()
    {
        startAndOpen();
        const QString pageHtml = m_Service->pageHtml(m_Demo->mapPageId);
        edit(QStringLiteral("Edited here"));
        QVERIFY(window().shownTitle().startsWith(u"*Project map"));
        QVERIFY(WaitUntil([] { return QFile::exists(MapDraftPath()); }, 2000));

        answerNextQuestion(QMessageBox::Cancel, QStringLiteral("unsaved-changes-question"));
        window().action(QStringLiteral("actionNew"))->trigger();
        answerNextQuestion(QMessageBox::Cancel);
        window().action(QStringLiteral("actionOpen"))->trigger();
        answerNextQuestion(QMessageBox::Cancel);
        QVERIFY(!window().close());
        QVERIFY(window().isVisible());
        QCOMPARE(MapText(editorJson()), QStringLiteral("Edited here"));
        QVERIFY(window().isWindowModified());
        QCOMPARE(m_Service->pageHtml(m_Demo->mapPageId), pageHtml);

        // Save: the map goes to its page first, then the new map starts.
        answerNextQuestion(QMessageBox::Save);
        window().action(QStringLiteral("actionNew"))->trigger();
        QVERIFY(WaitUntil([&] { return window().windowTitle().contains(u"New Map"); }, 30000));
        QCOMPARE(g_StepCode.load(), 100);
        QVERIFY(m_Service->pageHtml(m_Demo->mapPageId) != pageHtml);
        QCOMPARE(MapText(LoadMapBackup()), QStringLiteral("Edited here"));
        QVERIFY(WaitUntil([&] { return !window().isWindowModified(); }));
        QVERIFY(!QFile::exists(MapDraftPath()));

        // Discard: the page keeps what was saved, the editor gets the page's map.
        edit(QStringLiteral("Thrown away"));
        answerNextQuestion(QMessageBox::Discard);
        window().action(QStringLiteral("actionOpen"))->trigger();
        QVERIFY(WaitUntil([&] { return MapText(editorJson()) == u"Edited here"; }, 30000));
        QVERIFY(WaitUntil([&] { return !window().isWindowModified(); }));
        QCOMPARE(window().shownTitle(),
                 QStringLiteral("Project map (%1) - Cogitra").arg(m_Demo->upn));
        QVERIFY(!QFile::exists(MapDraftPath()));
        QVERIFY(m_Alert.messages.isEmpty());
    }

    // Restore Last Saved Map is an edit: Undo takes it back.
    void restoreThenUndo()
    {
        startAndOpen();
        QVERIFY(SaveMapBackup(MapOf(QStringLiteral("Saved last week"))));
        window().action(QStringLiteral("actionRefresh"))->trigger();
        QVERIFY(WaitUntil([&] { return MapText(editorJson()) == u"Saved last week"; }));
        QVERIFY(WaitUntil([&] { return window().isWindowModified(); }));
        undo();
        QVERIFY(WaitUntil([&] { return MapText(editorJson()) == u"Cogitra demo"; }));
        QVERIFY(WaitUntil([&] { return !window().isWindowModified(); }));
    }

    // A page without a map opens as a new history: Undo brings nothing of the last page.
    void undoAfterOpeningAPageWithoutAMap()
    {
        startAndOpen();
        QVERIFY(m_Service->selectPage(m_Demo->imagesPageId));
        window().action(QStringLiteral("actionOpen"))->trigger();
        QVERIFY(WaitUntil([&] { return g_OnlinePageId.get() == m_Demo->imagesPageId; }, 30000));
        QVERIFY(WaitUntil([&] { return MapText(editorJson()) != u"Cogitra demo"; }));
        const QString blank = editorJson();
        const QString title = window().shownTitle();
        QVERIFY(!title.contains(u"Project map"));
        undo();
        QTest::qWait(300);
        QCOMPARE(editorJson(), blank);
        QVERIFY(!window().isWindowModified());
        QCOMPARE(window().shownTitle(), title);
    }

    // The program was killed while edits were unsaved; the next start offers them back.
    void editsOfAKilledSessionComeBack()
    {
        startAndOpen();
        edit(QStringLiteral("Before the crash"));
        QVERIFY(WaitUntil([] { return QFile::exists(MapDraftPath()); }, 2000));
        m_App.reset(); // as good as a kill: nothing is asked on the way out
        ResetGlobalsForTesting();

        answerNextQuestion(QMessageBox::Yes, QStringLiteral("restore-draft-question"));
        startApp();
        QVERIFY(WaitUntil([&] { return MapText(editorJson()) == u"Before the crash"; }, 30000));
        QVERIFY(WaitUntil([&] { return window().isWindowModified(); }));
        QCOMPARE(window().shownTitle(),
                 QStringLiteral("*Project map (%1) - Cogitra").arg(m_Demo->upn));
        QCOMPARE(g_OnlinePageId.get(), m_Demo->mapPageId);
    }

private:
    MMainWindow &window() { return m_App->mainWindow(); }

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

    void startAndOpen()
    {
        startApp();
        const bool opened = WaitUntil(
            [&] {
                return WorkerFinished() && g_StepCode.load() == 0
                       && !m_App->mainWindow().isProgressVisible()
                       && MapText(editorJson()) == u"Cogitra demo";
            },
            30000);
        QVERIFY2(opened, qPrintable(QStringLiteral("step %1 map '%2' title '%3' alerts %4")
                                        .arg(g_StepCode.load())
                                        .arg(editorJson(), window().shownTitle(),
                                             m_Alert.messages.join(u'|'))));
    }

    // An ordinary, undoable edit of the whole map, as the page makes it.
    void edit(const QString &text)
    {
        RunJs(m_App->editorPage().page(), QStringLiteral("RestoreJsonData('%1')").arg(MapOf(text)));
        QVERIFY(WaitUntil([&] { return MapText(editorJson()) == text; }));
        QVERIFY(WaitUntil([&] { return window().isWindowModified(); }));
    }

    void undo()
    {
        RunJs(m_App->editorPage().page(),
              QStringLiteral("document.body.dispatchEvent(new KeyboardEvent('keydown', "
                             "{key: 'z', code: 'KeyZ', ctrlKey: true, bubbles: true}))"));
    }

    // The page keeps g_ZetJsonResult at the map it shows.
    QString editorJson()
    {
        return RunJs(m_App->editorPage().page(), QStringLiteral("g_ZetJsonResult")).toString();
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

    void signInBeforeStart()
    {
        const auto tokens = m_Service->mintTokens(m_Demo->account.cid);
        QVERIFY(tokens);
        OneNotePageInfo info;
        (void)MCurrentPage::ReadPageLink(m_Service->selectionLink(), info);
        const QString dir = QDir(m_DataDir->path()).filePath(QStringLiteral("Ardentis/Cogitra"));
        QDir().mkpath(dir);
        MConfig config(QDir(dir).filePath(QStringLiteral("zetapp.plist")));
        config.WriteValueStr(QStringLiteral("OnlineOneNoteAccessToken"), tokens->accessToken);
        config.WriteValueStr(QStringLiteral("OnlineOneNoteRefreshToken"), tokens->refreshToken);
        config.WriteValueStr(QStringLiteral("OnlineOneNoteAccountId"), info.accountId);
        config.WriteValueStr(QStringLiteral("OnlineOneNoteUserId"), m_Demo->account.cid);
        config.WriteValueStr(QStringLiteral("UserPrincipalName"), m_Demo->upn);
        QVERIFY(config.Save());
    }

    std::unique_ptr<QTemporaryDir> m_ServiceDir;
    std::unique_ptr<QTemporaryDir> m_DataDir;
    std::unique_ptr<Service::NotebookService> m_Service;
    std::optional<Service::DemoAccount> m_Demo;
    std::unique_ptr<MAppController> m_App;
    RecordingAlert m_Alert;
};

COGITRA_GUI_TEST_MAIN(TestMapSafety)
#include "tst_mapsafety.moc"
