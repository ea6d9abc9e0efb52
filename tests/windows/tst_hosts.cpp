#include "GuiTestSupport.h"

#include "windows/MAppController.h"
#include "windows/MEditorPage.h"
#include "windows/MMainWindow.h"
#include "windows/MWebView.h"
#include "windows/MWinHosts.h"

#include "util/MAlert.h"
#include "util/MConfig.h"
#include "util/MGlobals.h"
#include "util/MStrings.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTcpServer>
#include <QTemporaryDir>

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

// The maker's web site with a hosts list of the test's choosing.
struct HostsSite
{
    explicit HostsSite(std::string body)
    {
        server.Get("/uploads/soft/cogitra/hosts.txt",
                   [body](const httplib::Request &, httplib::Response &res) {
                       res.set_content(body, "text/plain");
                   });
        const int port = server.bind_to_any_port("127.0.0.1");
        thread = std::thread([this] { server.listen_after_bind(); });
        qputenv("COGITRA_MAKER_ROOT", "http://127.0.0.1:" + QByteArray::number(port));
    }
    ~HostsSite()
    {
        server.stop();
        thread.join();
        qunsetenv("COGITRA_MAKER_ROOT");
    }
    httplib::Server server;
    std::thread thread;
};

// A port on which nothing answers.
int ClosedPort()
{
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost) ? probe.serverPort() : 9;
}

} // namespace

// The editor host a user chooses, and what happens when it cannot serve the editor.
class TestHosts : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        ResetGlobalsForTesting();
        SetLanguage(QStringLiteral("en"));
        m_Dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_Dir->isValid());
        InitGlobals(m_Dir->path());
        qputenv("COGITRA_EDITOR_SITE_DIR", COGITRA_TEST_EDITOR_SITE_DIR);
        SetAlert(&m_Alert);
        m_Alert.messages.clear();
        m_Terminations = 0;
    }

    void cleanup()
    {
        m_App.reset();
        SetAlert(nullptr);
        ResetGlobalsForTesting();
    }

    void hostNamesOnly_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::newRow("name") << "editor.example.com" << true;
        QTest::newRow("port") << "b.example:8080" << true;
        QTest::newRow("address") << "127.0.0.1:81" << true;
        QTest::newRow("hyphen inside") << "my-host.example" << true;
        QTest::newRow("scheme") << "http://a.example" << false;
        QTest::newRow("path") << "a.example/km" << false;
        QTest::newRow("query") << "a.example?x=1" << false;
        QTest::newRow("user") << "me@a.example" << false;
        QTest::newRow("space") << "a example" << false;
        QTest::newRow("leading hyphen") << "-a.example" << false;
        QTest::newRow("empty label") << "a..example" << false;
        QTest::newRow("port zero") << "a.example:0" << false;
        QTest::newRow("port too big") << "a.example:65536" << false;
        QTest::newRow("port empty") << "a.example:" << false;
    }
    void hostNamesOnly()
    {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        QCOMPARE(MWinHosts::IsHostName(text), valid);
    }

    // The window opens on the stored choice, refuses what is not a host name, and Cancel
    // leaves the choice alone; OK stores a valid one for the next start.
    void hostsWindowShowsTheChoiceChecksEntriesAndCancels()
    {
        HostsSite site("a.example\nb.example:8080\n");
        QCOMPARE(MWinHosts().m_ComboBoxHost()->currentText(), QString());
        QCOMPARE(MWinHosts().m_ComboBoxHost()->lineEdit()->placeholderText(),
                 Text("strBuiltInEditor"));
        writeHost(QStringLiteral("unlisted.example"));
        QCOMPARE(MWinHosts().m_ComboBoxHost()->currentText(), QStringLiteral("unlisted.example"));
        writeHost(QStringLiteral("b.example:8080"));
        const auto stored = [] {
            return MConfig(g_ConfigFile.get())
                .ReadValueDefStr(QStringLiteral("Host"), QString())
                .toString();
        };

        MWinHosts cancelled;
        QCOMPARE(cancelled.m_ComboBoxHost()->currentIndex(), 1);
        OnNextModal([&](QWidget *) {
            Screenshot(QStringLiteral("hosts-window"));
            cancelled.m_ComboBoxHost()->setEditText(QStringLiteral("http://evil.example/x"));
            cancelled.buttonOKClick();
            QVERIFY(cancelled.isVisible());
            QTest::mouseClick(cancelled.findChild<QPushButton *>(QStringLiteral("buttonCancel")),
                              Qt::LeftButton);
        });
        cancelled.showWindow();
        QCOMPARE(cancelled.result(), int(QDialog::Rejected));
        QCOMPARE(m_Alert.messages,
                 QStringList{Text("strHostInvalid").arg(QStringLiteral("http://evil.example/x"))});
        QCOMPARE(stored(), QStringLiteral("b.example:8080"));

        MWinHosts chosen;
        OnNextModal([&](QWidget *) {
            chosen.m_ComboBoxHost()->setEditText(QStringLiteral(" typed.example:81 "));
            QTest::mouseClick(chosen.findChild<QPushButton *>(QStringLiteral("buttonOK")),
                              Qt::LeftButton);
        });
        chosen.showWindow();
        QCOMPARE(chosen.result(), int(QDialog::Accepted));
        QCOMPARE(stored(), QStringLiteral("typed.example:81"));
        QCOMPARE(m_Alert.messages.last(), Text("strRestartApp"));
    }

    // A chosen host that cannot be reached offers the built-in editor; taking it shows the
    // editor and stores the choice, so the next start does not ask again.
    void unreachableChosenHostOffersTheBuiltInEditor()
    {
        const QString host = QStringLiteral("127.0.0.1:%1").arg(ClosedPort());
        writeHost(host);
        QString question;
        OnNextModal([&](QWidget *modal) {
            auto *box = qobject_cast<QMessageBox *>(modal);
            QVERIFY(box);
            QCOMPARE(box->objectName(), QStringLiteral("builtInEditorQuestion"));
            question = box->text();
            box->defaultButton()->click();
        });
        startApp();
        QVERIFY(WaitUntil(
            [&] {
                return m_App->delegate().webViewNavigateComplete()
                       && !m_App->mainWindow().isProgressVisible();
            },
            30000));
        QCOMPARE(question, Text("strUseBuiltInEditor").arg(host));
        QCOMPARE(QUrl(m_App->delegate().editorUrl()).authority(), m_App->editorHostAddress());
        QVERIFY(m_App->editorPage().mainFrameTitle().contains(QStringLiteral("Zet")));
        QCOMPARE(m_Terminations, 0);
        QVERIFY(!m_Alert.messages.contains(Text("errOpenCogitraEditer")));
        QVERIFY(!MConfig(g_ConfigFile.get()).ReadValueDefStr(QStringLiteral("Host"), {}).isValid());
    }

private:
    void writeHost(const QString &host)
    {
        MConfig config(g_ConfigFile.get());
        config.WriteValueStr(QStringLiteral("Host"), host);
        QVERIFY(config.Save());
    }

    void startApp()
    {
        MAppController::Options options;
        options.dataRoot = m_Dir->path();
        options.onTerminate = [this] {
            ++m_Terminations;
        };
        m_App = std::make_unique<MAppController>(options);
        SetAlert(&m_Alert);
        m_App->start();
    }

    std::unique_ptr<QTemporaryDir> m_Dir;
    std::unique_ptr<MAppController> m_App;
    RecordingAlert m_Alert;
    int m_Terminations = 0;
};

COGITRA_GUI_TEST_MAIN(TestHosts)
#include "tst_hosts.moc"
