#include "GuiService.h"
#include "GuiTestSupport.h"

#include "windows/MAppController.h"
#include "windows/MMainWindow.h"
#include "windows/MTabViewColumn.h"
#include "windows/MTableView.h"
#include "windows/MTextField.h"
#include "windows/MTextView.h"
#include "windows/MWebView.h"
#include "windows/MWinAbout.h"
#include "windows/MWinHosts.h"
#include "windows/MWinLogin.h"
#include "windows/MWinPageLink.h"
#include "windows/MWinState.h"

#include <QAction>
#include <QClipboard>
#include <QComboBox>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QVBoxLayout>

#include <tuple>

using namespace Cogitra;
using namespace Cogitra::Test;

namespace {

// Stands where a browser or mail program would open an address.
class UrlCatcher : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> urls;
public Q_SLOTS:
    void open(const QUrl &url) { urls.append(url); }
};

} // namespace

class TestWindows : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        ResetGlobalsForTesting();
        SetLanguage(QStringLiteral("en"));
        QVERIFY(m_Dir.isValid());
        InitGlobals(m_Dir.path());
        SetAlert(&m_Alert);
        m_Alert.messages.clear();
    }
    void cleanup()
    {
        SetAlert(nullptr);
        MWinState::DestroyInstance();
    }

    // The link field says in place why a text names no page, and opens only one that does.
    void pageLinkWindowOpensOnlyAPage()
    {
        MWinPageLink window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const QPushButton *open = window.buttons()->button(QDialogButtonBox::Open);
        QVERIFY(!open->isEnabled() && window.reason()->text().isEmpty());
        QTest::keyClicks(window.field(), "https://onedrive.live.com/redir.aspx?cid=1a2b&resid=1");
        QVERIFY(!open->isEnabled());
        QVERIFY(window.reason()->text().startsWith(u"The link names a notebook or a document"));
        window.field()->setText("https://onedrive.live.com/redir?resid=3B5D%2123108&wd=target%28"
                                "Notas%20Gerais.one%7C5b6d%2FDailys%7Cf014%2F%29");
        QVERIFY(open->isEnabled() && window.reason()->text().isEmpty());
        QCOMPARE(window.page().clientId, "f014");
        QTest::keyClick(window.field(), Qt::Key_Return);
        QCOMPARE(window.result(), int(QDialog::Accepted));

        // However large it would be, the sign-in window opens within the screen.
        MWinLogin login;
        login.resize(4000, 3000);
        login.show();
        QVERIFY(login.screen()->availableGeometry().contains(login.frameGeometry()));
    }

    // The progress window: over the main window, closed by the run's end unless asked for.
    void progressWindowFollowsTheRun()
    {
        MMainWindow main;
        main.setGeometry(300, 150, 900, 560);
        main.showEditingPresentation();
        main.show();
        QVERIFY(QTest::qWaitForWindowExposed(&main));
        const auto overMain = [&main](const QWidget *window) {
            return (window->frameGeometry().center() - main.frameGeometry().center())
                       .manhattanLength()
                   < 40;
        };

        g_StepCode.store(-24);
        MarkWorkerStarted();
        MWinState::ShowWindow(true, &main);
        MWinState *window = MWinState::Instance();
        QVERIFY(window && window->isVisible() && window->isWindow());
        QCOMPARE(window->parentWidget(), &main);
        QVERIFY(overMain(window));
        QCOMPARE(window->actionText(), Text("strDownloading"));
        QCOMPARE(window->stepText(), Text("stepReadingMap"));
        Screenshot(QStringLiteral("progress-window"));

        g_StepCode.store(25);
        PublishWorkerFinished();
        window->TimerRun();
        QVERIFY(!window->isVisible());
        main.move(100, 100);
        g_StepCode.store(100);
        MWinState::ShowWindow(false, &main);
        QCOMPARE(MWinState::Instance(), window);
        window->TimerRun();
        QVERIFY(window->isVisible() && overMain(window));
        QCOMPARE(window->actionText(), Text("strDone"));
        // The window's own timer keeps refreshing it.
        g_StepCode.store(0);
        MarkWorkerStarted();
        QVERIFY(WaitUntil([&] { return window->actionText() == Text("strSleep"); }, 3000));
    }

    // Every question, modal: Enter takes the default, Escape the safe one, a button its own.
    void questionsAnswerByButtonAndKey()
    {
        MAppController app({.dataRoot = m_Dir.path(), .onTerminate = qt_noop});
        using Ask = std::function<int(const QString &)>;
        const Ask asks[] = {
            [&](const QString &q) { return int(app.askUnseenMap(q)); },
            [&](const QString &q) { return int(app.askUnsavedChanges(q)); },
            [&](const QString &q) { return int(app.askRestoreDraft(q)); },
            [&](const QString &q) { return int(app.askUseBuiltInEditor(q)); },
            [&](const QString &q) { return int(app.askOtherWayToOpen(q)); },
        };
        const auto &[unseen, unsaved, restore, builtIn, otherWay] = asks;
        // The question, the key pressed or the text key of the button clicked, the answer.
        const std::tuple<const Ask *, const char *, int> rows[] = {
            {&unseen, "strReplaceMap", int(UnseenMapAnswer::Replace)},
            {&unseen, "strOpenPageMap", int(UnseenMapAnswer::OpenPagesMap)},
            {&unseen, "Return", int(UnseenMapAnswer::Cancel)},
            {&unseen, "Escape", int(UnseenMapAnswer::Cancel)},
            {&unsaved, "Return", int(UnsavedChangesAnswer::Save)},
            {&unsaved, "Discard", int(UnsavedChangesAnswer::Discard)},
            {&unsaved, "Escape", int(UnsavedChangesAnswer::Cancel)},
            {&restore, "Return", 1},
            {&restore, "Escape", 0},
            {&builtIn, "Return", 1},
            {&builtIn, "Escape", 0},
            {&otherWay, "btnOpenPage", int(OtherWayAnswer::OpenPage)},
            {&otherWay, "btnOpenPageLink", int(OtherWayAnswer::OpenPageLink)},
            {&otherWay, "Escape", int(OtherWayAnswer::Close)},
        };
        for (const auto &[ask, answer, expected] : rows) {
            const QString by = QString::fromLatin1(answer);
            QString shown;
            OnNextModal([&](QWidget *modal) {
                auto *box = qobject_cast<QMessageBox *>(modal);
                QVERIFY(box);
                shown = app.isModalActive() ? box->text() : QString();
                if (box->objectName() == u"unseenMapQuestion" && by == u"strReplaceMap")
                    Screenshot(QStringLiteral("unseen-map-question"));
                if (by == u"Return" || by == u"Escape") {
                    QTest::keyClick(box, by == u"Return" ? Qt::Key_Return : Qt::Key_Escape);
                    return;
                }
                if (by == u"Discard")
                    return box->button(QMessageBox::Discard)->click();
                for (QAbstractButton *button : box->buttons())
                    if (button->text() == Text(answer))
                        button->click();
            });
            QCOMPARE((*ask)(QStringLiteral("Question?")), expected);
            QCOMPARE(shown, QStringLiteral("Question?"));
        }
    }

    // The maker's site: the hosts window shows the choice, refuses non-host names, and only OK
    // stores one; About links to it.
    void hostsAndAboutWindowsReadTheMakersSite()
    {
        for (const char *valid :
             {"editor.example.com", "b.example:8080", "127.0.0.1:81", "my-host.example"})
            QVERIFY2(MWinHosts::IsHostName(QString::fromLatin1(valid)), valid);
        for (const char *invalid :
             {"http://a.example", "a.example/km", "a.example?x=1", "me@a.example", "a example",
              "-a.example", "a..example", "a.example:0", "a.example:65536", "a.example:"})
            QVERIFY2(!MWinHosts::IsHostName(QString::fromLatin1(invalid)), invalid);
        GuiService site; // its hosts list: editor.ardentis.app, editor.ardentis.cn
        QVERIFY(site.started);

        QCOMPARE(MWinHosts().m_ComboBoxHost()->currentText(), QString());
        QCOMPARE(MWinHosts().m_ComboBoxHost()->lineEdit()->placeholderText(),
                 Text("strBuiltInEditor"));
        Store({{QStringLiteral("Host"), QStringLiteral("unlisted.example")}});
        QCOMPARE(MWinHosts().m_ComboBoxHost()->currentText(), QStringLiteral("unlisted.example"));
        Store({{QStringLiteral("Host"), QStringLiteral("editor.ardentis.cn")}});

        MWinHosts hosts;
        QCOMPARE(hosts.m_ComboBoxHost()->currentIndex(), 1);
        OnNextModal([&](QWidget *) {
            Screenshot(QStringLiteral("hosts-window"));
            hosts.m_ComboBoxHost()->setEditText(QStringLiteral("http://evil.example/x"));
            hosts.buttonOKClick();
            QVERIFY(hosts.isVisible());
            QTest::mouseClick(hosts.findChild<QPushButton *>(QStringLiteral("buttonCancel")),
                              Qt::LeftButton);
        });
        hosts.showWindow();
        QCOMPARE(hosts.result(), int(QDialog::Rejected));
        QCOMPARE(m_Alert.messages,
                 QStringList{Text("strHostInvalid").arg(QStringLiteral("http://evil.example/x"))});
        QCOMPARE(Stored(QStringLiteral("Host")), QStringLiteral("editor.ardentis.cn"));

        OnNextModal([&](QWidget *) {
            hosts.m_ComboBoxHost()->setEditText(QStringLiteral(" typed.example:81 "));
            QTest::mouseClick(hosts.findChild<QPushButton *>(QStringLiteral("buttonOK")),
                              Qt::LeftButton);
        });
        hosts.showWindow();
        QCOMPARE(hosts.result(), int(QDialog::Accepted));
        QCOMPARE(Stored(QStringLiteral("Host")), QStringLiteral("typed.example:81"));
        QCOMPARE(m_Alert.messages.last(), Text("strRestartApp"));

        // About shows the version and stays open on its links to the maker's site and mail.
        UrlCatcher catcher;
        QDesktopServices::setUrlHandler(QStringLiteral("http"), &catcher, "open");
        QDesktopServices::setUrlHandler(QStringLiteral("mailto"), &catcher, "open");
        bool stayedOpen = false;
        MWinAbout about;
        QCOMPARE(about.versionText(), Text("strVersion") + QStringLiteral(" 1.0.0"));
        OnNextModal([&](QWidget *modal) {
            QCOMPARE(modal, &about);
            Screenshot(QStringLiteral("about-window"));
            for (QPushButton *button : about.findChildren<QPushButton *>())
                QTest::mouseClick(button, Qt::LeftButton);
            stayedOpen = about.isVisible() && QApplication::activeModalWidget() == &about;
            about.close();
        });
        about.showWindow();
        QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
        QDesktopServices::unsetUrlHandler(QStringLiteral("mailto"));
        QVERIFY(stayedOpen);
        QCOMPARE(catcher.urls, (QList<QUrl>{QUrl(site.service.rootUrl() + u'/'),
                                            QUrl(QStringLiteral("mailto:support@ardentis.app"))}));
    }

    // Edit keys reach the focused widget even where window-wide shortcuts claim them.
    void editKeysReachTheFocusedWidget()
    {
        QWidget window;
        auto *layout = new QVBoxLayout(&window);
        auto *field = new MTextField(&window);
        auto *view = new MTextView(&window);
        auto *column = new MTabViewColumn(&window);
        auto *web = new MWebView(&window);
        for (QWidget *each : std::initializer_list<QWidget *>{field, view, column, web})
            layout->addWidget(each);
        int stolen = 0;
        auto *action = new QAction(&window);
        action->setShortcuts(
            {QKeySequence(Qt::CTRL | Qt::Key_V), QKeySequence(Qt::CTRL | Qt::Key_C)});
        connect(action, &QAction::triggered, &window, [&stolen] { ++stolen; });
        window.addAction(action);
        bool loaded = false;
        connect(web, &QWebEngineView::loadFinished, this, [&](bool ok) { loaded = ok; });
        // The page swallows (and notes) every key, so a copy can only come from the view.
        web->setHtml(
            QStringLiteral("<html><body><p>map text</p><script>window.keys = [];"
                           "document.addEventListener('keydown', e => { if (e.key.length === 1)"
                           " window.keys.push((e.ctrlKey ? 'ctrl+' : '') + e.key.toLowerCase());"
                           " e.preventDefault(); });</script></body></html>"));
        MTableView *table = column->tableView();
        column->m_ArrayItems()->append({QStringLiteral("Notebook"), QStringLiteral("nb-id-1")});
        column->m_ArrayItems()->append({QStringLiteral("Section"), QStringLiteral("sec-id-2")});
        column->reloadData();
        window.resize(400, 800);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QClipboard *clipboard = QApplication::clipboard();
        const auto focus = [](QWidget *widget) {
            widget->setFocus();
            return WaitUntil([&] { return widget->hasFocus(); }, 3000);
        };

        clipboard->setText(QStringLiteral("pasted"));
        QVERIFY(focus(field));
        QTest::keyClick(field, Qt::Key_V, Qt::ControlModifier);
        QTest::keyClick(field, Qt::Key_V, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(field->text(), QStringLiteral("pasted")); // another modifier: no edit key

        view->setPlainText(QStringLiteral("two\nlines"));
        QVERIFY(focus(view));
        QTest::keyClick(view, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(view, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(clipboard->text(), QStringLiteral("two\nlines"));
        QTest::keyClick(view, Qt::Key_X, Qt::ControlModifier);
        QCOMPARE(view->toPlainText(), QString());

        QAbstractItemModel *rows = table->model();
        const auto click = [&](const QPoint &at) {
            clipboard->setText(QStringLiteral("before"));
            QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, at);
            return clipboard->text();
        };
        const QPoint belowTheRows(20, table->viewport()->height() - 5);
        QVERIFY(!table->indexAt(belowTheRows).isValid());
        QCOMPARE(click(belowTheRows), QStringLiteral("before"));
        QCOMPARE(click(table->visualRect(rows->index(0, 0)).center()), QStringLiteral("nb-id-1"));
        QVERIFY(focus(table));
        QTest::keyClick(table, Qt::Key_Down);
        clipboard->setText(QStringLiteral("before"));
        QTest::keyClick(table, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(clipboard->text(), QStringLiteral("sec-id-2"));
        // A list emptied before the table is told: nothing shown is copied, nothing breaks.
        column->m_ArrayItems()->clear();
        QCOMPARE(click(table->visualRect(rows->index(1, 0)).center()), QStringLiteral("before"));
        QTest::keyClick(table, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(clipboard->text(), QStringLiteral("before"));

        QVERIFY(WaitUntil([&] { return loaded && web->focusProxy(); }));
        QVERIFY(focus(web->focusProxy()));
        QTest::keyClick(web->focusProxy(), Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(web->focusProxy(), Qt::Key_C, Qt::ControlModifier);
        QVERIFY(WaitUntil([&] { return clipboard->text() == u"map text"; }, 5000));
        // Any other key goes on to the page as usual.
        QTest::keyClick(web->focusProxy(), Qt::Key_Z, Qt::ControlModifier);
        QVERIFY(WaitUntil(
            [&] {
                return RunJs(web->page(), QStringLiteral("window.keys.join()")).toString()
                       == u"ctrl+z";
            },
            5000));
        QCOMPARE(stolen, 0);
    }

private:
    QTemporaryDir m_Dir;
    RecordingAlert m_Alert;
};

COGITRA_GUI_TEST_MAIN(TestWindows)
#include "tst_windows.moc"
