#include "GuiTestSupport.h"

#include "windows/MTabViewColumn.h"
#include "windows/MTableView.h"
#include "windows/MTextField.h"
#include "windows/MTextView.h"
#include "windows/MWebView.h"
#include "windows/MWinAbout.h"
#include "windows/MWinHosts.h"
#include "windows/MWinState.h"

#include "util/MAlert.h"
#include "util/MConfig.h"
#include "util/MGlobals.h"
#include "util/MStrings.h"

#include <QAction>
#include <QClipboard>
#include <QComboBox>
#include <QDesktopServices>
#include <QPushButton>
#include <QTemporaryDir>
#include <QVBoxLayout>

#include <httplib.h>

#include <optional>
#include <thread>

using namespace Cogitra;
using namespace Cogitra::Test;

namespace {

QString Text(const char *key)
{
    return LocalizedString(QString::fromLatin1(key));
}

// Stands where a browser or mail program would open an address.
class UrlCatcher : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> urls;
public Q_SLOTS:
    void open(const QUrl &url) { urls.append(url); }
};

// The maker's web site with a hosts list of the test's choosing.
class HostsSite
{
public:
    explicit HostsSite(std::string body)
    {
        m_Server.Get("/uploads/soft/cogitra/hosts.txt",
                     [body](const httplib::Request &, httplib::Response &res) {
                         res.set_content(body, "text/plain");
                     });
        m_Port = m_Server.bind_to_any_port("127.0.0.1");
        m_Thread = std::thread([this] { m_Server.listen_after_bind(); });
        qputenv("COGITRA_MAKER_ROOT", QByteArray("http://127.0.0.1:") + QByteArray::number(m_Port));
    }
    ~HostsSite()
    {
        m_Server.stop();
        m_Thread.join();
        qunsetenv("COGITRA_MAKER_ROOT");
    }

private:
    httplib::Server m_Server;
    std::thread m_Thread;
    int m_Port = 0;
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
        m_Alert.onShow = nullptr;
    }
    void cleanup()
    {
        SetAlert(nullptr);
        MWinState::DestroyInstance();
    }

    void progressWindowFollowsTheRun()
    {
        g_StepCode.store(-24);
        MarkWorkerStarted();
        MWinState::ShowWindow(true);
        MWinState *window = MWinState::Instance();
        QVERIFY(window);
        QVERIFY(window->isVisible());
        QCOMPARE(window->actionText(), Text("strDownloading"));
        QCOMPARE(window->stepText(), Text("strStep") + QStringLiteral(" -24 "));
        Screenshot(QStringLiteral("progress-window"));

        g_StepCode.store(100);
        PublishWorkerFinished();
        window->TimerRun();
        QVERIFY(!window->isVisible());
        QCOMPARE(window->actionText(), Text("strDone"));

        MWinState::ShowWindow(false);
        QCOMPARE(MWinState::Instance(), window);
        QVERIFY(window->isVisible());
        window->TimerRun();
        QVERIFY(window->isVisible());
        QCOMPARE(window->actionText(), Text("strDone"));
        // The window's own timer keeps refreshing it.
        g_StepCode.store(0);
        MarkWorkerStarted();
        QVERIFY(WaitUntil([&] { return window->actionText() == Text("strSleep"); }, 3000));
    }

    void aboutWindowShowsTheVersionAndStaysOpenOnItsLinks()
    {
        UrlCatcher catcher;
        QDesktopServices::setUrlHandler(QStringLiteral("http"), &catcher, "open");
        QDesktopServices::setUrlHandler(QStringLiteral("mailto"), &catcher, "open");
        qputenv("COGITRA_MAKER_ROOT", "http://maker.example");
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
        qunsetenv("COGITRA_MAKER_ROOT");
        QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
        QDesktopServices::unsetUrlHandler(QStringLiteral("mailto"));
        QVERIFY(stayedOpen);
        QCOMPARE(catcher.urls.size(), 2);
        QVERIFY(catcher.urls.contains(QUrl(QStringLiteral("http://maker.example/"))));
        QCOMPARE(catcher.urls.count(QUrl(QStringLiteral("mailto:support@ardentis.app"))), 1);
    }

    void hostsWindowListsTheHosts_data()
    {
        QTest::addColumn<QByteArray>("list");
        QTest::addColumn<QString>("current");
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("selected");
        QTest::newRow("two hosts and the empty last entry")
            << QByteArray("a.example\nb.example:8080\n") << QStringLiteral("b.example:8080") << 3
            << 1;
        QTest::newRow("carriage returns stay in the entries")
            << QByteArray("a.example\r\nb.example\r\n") << QStringLiteral("a.example") << 3 << -1;
        QTest::newRow("current host absent")
            << QByteArray("a.example") << QStringLiteral("c.example") << 1 << -1;
        // An empty list stands for a site that cannot be reached: nothing to choose from.
        QTest::newRow("no site") << QByteArray() << QStringLiteral("a.example") << 0 << -1;
    }
    void hostsWindowListsTheHosts()
    {
        QFETCH(QByteArray, list);
        QFETCH(QString, current);
        QFETCH(int, count);
        QFETCH(int, selected);
        std::optional<HostsSite> site;
        if (list.isEmpty())
            qputenv("COGITRA_MAKER_ROOT", "http://127.0.0.1:9");
        else
            site.emplace(list.toStdString());
        g_Host.set(current);
        MWinHosts hosts;
        qunsetenv("COGITRA_MAKER_ROOT");
        QVERIFY(hosts.m_ComboBoxHost()->isEditable());
        QCOMPARE(hosts.m_ComboBoxHost()->count(), count);
        QCOMPARE(hosts.m_ComboBoxHost()->currentIndex(), selected);
        if (selected < 0)
            QVERIFY(hosts.m_ComboBoxHost()->currentText().isEmpty());
        if (count == 3 && selected == 1) {
            hosts.show();
            Screenshot(QStringLiteral("hosts-window"));
        }
    }

    void hostsWindowOkStoresTheHostForTheNextStart()
    {
        HostsSite site("a.example\nb.example\n");
        g_Host.set(QStringLiteral("a.example"));
        MWinHosts hosts;
        bool stayedOpenWhenEmpty = false;
        OnNextModal([&](QWidget *) {
            hosts.m_ComboBoxHost()->setCurrentIndex(-1);
            hosts.m_ComboBoxHost()->setEditText(QString());
            hosts.buttonOKClick();
            stayedOpenWhenEmpty = hosts.isVisible() && !QFileInfo::exists(g_ConfigFile.get());
            hosts.m_ComboBoxHost()->setEditText(QStringLiteral("typed.example:81"));
            QTest::mouseClick(hosts.findChild<QPushButton *>(QStringLiteral("buttonOK")),
                              Qt::LeftButton);
        });
        hosts.showWindow();
        QVERIFY(stayedOpenWhenEmpty);
        QVERIFY(!hosts.isVisible());
        QCOMPARE(m_Alert.messages, QStringList{Text("strRestartApp")});
        QCOMPARE(MConfig(g_ConfigFile.get())
                     .ReadValueDefStr(QStringLiteral("Host"), QString())
                     .toString(),
                 QStringLiteral("typed.example:81"));
        QCOMPARE(g_Host.get(), QStringLiteral("a.example"));
    }

    void editShortcutsReachTheFocusedField()
    {
        QWidget window;
        auto *layout = new QVBoxLayout(&window);
        auto *first = new MTextField(&window);
        auto *second = new MTextField(&window);
        auto *view = new MTextView(&window);
        layout->addWidget(first);
        layout->addWidget(second);
        layout->addWidget(view);
        // A window-wide Ctrl+V that would take the key from an ordinary field.
        int stolen = 0;
        auto *thief = new QAction(&window);
        thief->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_V));
        connect(thief, &QAction::triggered, &window, [&] { ++stolen; });
        window.addAction(thief);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        QApplication::clipboard()->setText(QStringLiteral("pasted"));
        second->setFocus();
        QVERIFY(WaitUntil([&] { return second->hasFocus(); }, 2000));
        QTest::keyClick(second, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(second->text(), QStringLiteral("pasted"));
        QCOMPARE(first->text(), QString());
        QCOMPARE(stolen, 0);

        QTest::keyClick(second, Qt::Key_V, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(second->text(), QStringLiteral("pasted"));
        QTest::keyClick(second, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(second->text(), QString()); // Ctrl+Z: the field's own undo

        view->setPlainText(QStringLiteral("two\nlines"));
        view->setFocus();
        QVERIFY(WaitUntil([&] { return view->hasFocus(); }, 2000));
        QTest::keyClick(view, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(view, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("two\nlines"));
        QTest::keyClick(view, Qt::Key_X, Qt::ControlModifier);
        QCOMPARE(view->toPlainText(), QString());
        QCOMPARE(stolen, 0);
    }

    void editShortcutsAreTheWebViewsOwn()
    {
        MWebView view;
        bool loaded = false;
        connect(&view, &QWebEngineView::loadFinished, this, [&](bool ok) { loaded = ok; });
        // The page swallows every key it sees (noting the characters), so a copy can only come
        // from the view.
        view.setHtml(
            QStringLiteral("<html><body><p>map text</p><script>window.keys = [];"
                           "document.addEventListener('keydown', e => { if (e.key.length === 1)"
                           " window.keys.push((e.ctrlKey ? 'ctrl+' : '') + e.key.toLowerCase());"
                           " e.preventDefault(); });</script></body></html>"));
        view.resize(400, 200);
        view.show();
        QVERIFY(WaitUntil([&] { return loaded && view.focusProxy(); }));
        view.setFocus();
        QVERIFY(WaitUntil([&] { return view.focusProxy()->hasFocus(); }, 3000));
        QApplication::clipboard()->setText(QStringLiteral("before"));
        QTest::keyClick(view.focusProxy(), Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(view.focusProxy(), Qt::Key_C, Qt::ControlModifier);
        QVERIFY(WaitUntil([&] { return QApplication::clipboard()->text() == u"map text"; }, 5000));

        // Any other key goes on to the page as usual.
        const auto keys = [&] {
            return RunJs(view.page(), QStringLiteral("window.keys"));
        };
        QTest::keyClick(view.focusProxy(), Qt::Key_Z, Qt::ControlModifier);
        QVERIFY(WaitUntil([&] { return keys().toStringList().contains(u"ctrl+z"); }, 5000));
        QCOMPARE(keys().toStringList(), QStringList{QStringLiteral("ctrl+z")});
    }

    void recordTableCopiesTheSelectedValue()
    {
        QWidget window;
        auto *layout = new QVBoxLayout(&window);
        auto *column = new MTabViewColumn(&window);
        layout->addWidget(column);
        MTableView *table = column->tableView();
        QCOMPARE(table->m_ArrayItems(), column->m_ArrayItems());
        column->m_ArrayItems()->append({QStringLiteral("Notebook"), QStringLiteral("nb-id-1")});
        column->m_ArrayItems()->append({QStringLiteral("Section"), QStringLiteral("sec-id-2")});
        column->m_ArrayItems()->append({QStringLiteral("Page"), QStringLiteral("page-id-3")});
        column->reloadData();
        // Window-wide shortcuts on keys the table does or does not take for itself.
        int copyStolen = 0;
        int undone = 0;
        auto *copy = new QAction(&window);
        copy->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_C));
        connect(copy, &QAction::triggered, &window, [&] { ++copyStolen; });
        auto *undo = new QAction(&window);
        undo->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Z));
        connect(undo, &QAction::triggered, &window, [&] { ++undone; });
        window.addActions({copy, undo});
        window.resize(300, 400);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        QAbstractItemModel *rows = table->model();
        QCOMPARE(rows->rowCount(), 3);
        QCOMPARE(rows->index(1, 0).data().toString(), QStringLiteral("Section"));

        QClipboard *clipboard = QApplication::clipboard();
        clipboard->setText(QStringLiteral("before"));
        const QPoint belowTheRows(20, table->viewport()->height() - 5);
        QVERIFY(!table->indexAt(belowTheRows).isValid());
        QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, belowTheRows);
        QCOMPARE(clipboard->text(), QStringLiteral("before"));

        QTest::mouseClick(table->viewport(), Qt::LeftButton, {},
                          table->visualRect(rows->index(1, 0)).center());
        QCOMPARE(clipboard->text(), QStringLiteral("sec-id-2"));

        table->setFocus();
        QVERIFY(WaitUntil([&] { return table->hasFocus(); }, 2000));
        QTest::keyClick(table, Qt::Key_Down);
        clipboard->setText(QStringLiteral("before"));
        QTest::keyClick(table, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(clipboard->text(), QStringLiteral("page-id-3"));
        QCOMPARE(copyStolen, 0);
        QTest::keyClick(table, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(undone, 1);

        // A list emptied before the table is told: nothing shown is copied, nothing breaks.
        column->m_ArrayItems()->clear();
        clipboard->setText(QStringLiteral("before"));
        QTest::mouseClick(table->viewport(), Qt::LeftButton, {},
                          table->visualRect(rows->index(2, 0)).center());
        QTest::keyClick(table, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(clipboard->text(), QStringLiteral("before"));
        column->reloadData();
        QCOMPARE(rows->rowCount(), 0);
        QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, QPoint(20, 20));
        QCOMPARE(clipboard->text(), QStringLiteral("before"));

        // A new list goes to the table too, so what is copied is what is shown.
        auto other = std::make_shared<QList<MNameValue>>(
            QList<MNameValue>{{QStringLiteral("Host"), QStringLiteral("h.example")}});
        column->setM_ArrayItems(other);
        QCOMPARE(table->m_ArrayItems(), other);
        QCOMPARE(rows->rowCount(), 1);
        QTest::mouseClick(table->viewport(), Qt::LeftButton, {},
                          table->visualRect(rows->index(0, 0)).center());
        QCOMPARE(clipboard->text(), QStringLiteral("h.example"));
    }

private:
    QTemporaryDir m_Dir;
    RecordingAlert m_Alert;
};

COGITRA_GUI_TEST_MAIN(TestWindows)
#include "tst_windows.moc"
