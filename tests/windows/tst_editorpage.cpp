// The editor view keeps the editor page: what would replace it is refused, and a page lost
// after start-up comes back, with the map, when the user asks for it.
#include "GuiTestSupport.h"

#include "util/MAlert.h"
#include "util/MGlobals.h"
#include "util/MStepCodes.h"
#include "windows/MAppController.h"
#include "windows/MEditorPage.h"
#include "windows/MMainWindow.h"
#include "windows/MWebView.h"

#include <QPushButton>
#include <QTemporaryDir>

#include <memory>

using namespace Cogitra;
using namespace Cogitra::Test;

namespace {
const QString kMap = QStringLiteral(R"({"root":{"data":{"text":"Kept map"}}})");
const QString kEdited = QStringLiteral(R"({"root":{"data":{"text":"Kept edits"}}})");
} // namespace

class TestEditorPage : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_Dir.isValid());
        SetLanguage(QStringLiteral("en"));
        // An ending is only noted, by the delegate: the test goes on.
        m_App = std::make_unique<MAppController>(
            MAppController::Options{.dataRoot = m_Dir.path(),
                                    .editorSiteDir = QStringLiteral(COGITRA_TEST_EDITOR_SITE_DIR),
                                    .onTerminate = qt_noop});
        SetAlert(&m_Alert);
        // No OneNote here: the message offers the other ways to a page, and is closed.
        QString offer;
        OnNextModal([&offer](QWidget *modal) {
            auto *box = qobject_cast<QMessageBox *>(modal);
            offer = box ? box->text() : modal->objectName();
            if (box)
                box->escapeButton()->click();
        });
        QVERIFY(m_App->start());
        // No page found at launch, nothing configured: the built-in editor shows the empty map.
        QVERIFY(WaitUntil([this] {
            return m_App->launched() && m_App->delegate().webViewNavigateComplete()
                   && g_StepCode.load() == Step::Idle && !m_App->mainWindow().isProgressVisible();
        }));
        QCOMPARE(offer, Text("errGetPageLinkOffer"));
        QVERIFY(m_Alert.messages.isEmpty());
        QCOMPARE(m_App->delegate().editorUrl(),
                 QStringLiteral("http://%1/km/v1.0/en/index-mac.html").arg(g_Host.get()));
        QVERIFY(g_Host.get().startsWith(QStringLiteral("127.0.0.1:")));
        QVERIFY(m_App->mainWindow().isVisible() && m_App->mainWindow().WebViewMain()->isVisible());
        QVERIFY(m_App->editorPage().mainFrameTitle().contains(QStringLiteral("Zet")));
        QVERIFY(!m_App->delegate().terminated());
        m_App->delegate().PutJsonToKityMind(kMap);
        QVERIFY(WaitUntil([this] { return Map().contains(u"Kept map"); }));
    }

    void cleanupTestCase()
    {
        m_App.reset();
        SetAlert(nullptr);
        ResetGlobalsForTesting();
    }

    void navigationsAwayAreRefused_data()
    {
        QTest::addColumn<QString>("script");
        QTest::newRow("script") << "location.href = 'http://127.0.0.1:9/elsewhere.html'";
        QTest::newRow("link") << "var a = document.createElement('a');"
                                 "a.href = 'http://127.0.0.1:9/link.html';"
                                 "document.body.appendChild(a); a.click()";
        QTest::newRow("reload") << "location.reload()";
        QTest::newRow("back") << "history.back()";
    }
    void navigationsAwayAreRefused()
    {
        QFETCH(QString, script);
        const QString editor = m_App->editorPage().mainFrameUrl();
        QString asked;
        OnNextModal([&](QWidget *modal) { asked = modal->windowTitle() + u'|', modal->close(); },
                    1000);
        RunJs(Page(), script);
        QTest::qWait(1200);
        QCOMPARE(asked, QString());
        QCOMPARE(m_App->editorPage().mainFrameUrl(), editor);
        QVERIFY2(Map().contains(u"Kept map"), qPrintable(Map()));
        QVERIFY(!m_App->delegate().terminated() && m_App->delegate().webViewNavigateComplete());
    }

    // A load that fails after start-up asks; Reload Editor puts the map and its unsaved
    // edits back into a new editor page.
    void lostPageComesBackWithTheMap()
    {
        RunJs(Page(), QStringLiteral("RestoreJsonData('%1')").arg(kEdited));
        QVERIFY(WaitUntil([this] { return m_App->delegate().isModified(); }));
        QTest::qWait(1200); // the page hands the edits over as a draft
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
        QVERIFY(WaitUntil([this] { return Map().contains(u"Kept edits"); }));
        QCOMPARE(m_App->editorPage().mainFrameUrl(), m_App->delegate().editorUrl());
        QVERIFY(RunJs(Page(), QStringLiteral("IsModified()")).toBool());
        QVERIFY(m_App->delegate().isModified() && !m_App->delegate().terminated());
    }

private:
    [[nodiscard]] QWebEnginePage *Page() const { return m_App->editorPage().page(); }
    [[nodiscard]] QString Map() const { return EditorJson(Page()); }

    QTemporaryDir m_Dir;
    RecordingAlert m_Alert;
    std::unique_ptr<MAppController> m_App;
};

COGITRA_GUI_TEST_MAIN(TestEditorPage)
#include "tst_editorpage.moc"
