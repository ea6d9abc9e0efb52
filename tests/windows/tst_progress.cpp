#include "GuiTestSupport.h"

#include "windows/MMainWindow.h"
#include "windows/MWinState.h"

#include "util/MGlobals.h"
#include "util/MStrings.h"

#include <QTemporaryDir>

using namespace Cogitra;
using namespace Cogitra::Test;

// The progress window as the user meets it during a run: in words, over the main window.
class TestProgress : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init()
    {
        ResetGlobalsForTesting();
        SetLanguage(QStringLiteral("en"));
        QVERIFY(m_Dir.isValid());
        InitGlobals(m_Dir.path());
    }
    void cleanup() { MWinState::DestroyInstance(); }

    void sitsOverTheMainWindowInWords()
    {
        MMainWindow main;
        main.setGeometry(300, 150, 900, 560);
        main.showEditingPresentation();
        main.show();
        QVERIFY(QTest::qWaitForWindowExposed(&main));

        g_StepCode.store(-24);
        MarkWorkerStarted();
        MWinState::ShowWindow(true, &main);
        MWinState *window = MWinState::Instance();
        QVERIFY(window && window->isVisible());
        QCOMPARE(window->parentWidget(), &main);
        QVERIFY(window->isWindow());
        const QPoint offset = window->frameGeometry().center() - main.frameGeometry().center();
        QVERIFY2(offset.manhattanLength() < 40, "not centred on the main window");
        QCOMPARE(window->actionText(), LocalizedString(QStringLiteral("strDownloading")));
        QCOMPARE(window->stepText(), LocalizedString(QStringLiteral("stepReadingMap")));
        Screenshot(QStringLiteral("progress-window"));

        // Shown again after it hid itself, it comes back over the main window.
        g_StepCode.store(25);
        PublishWorkerFinished();
        window->TimerRun();
        QVERIFY(!window->isVisible());
        main.move(100, 100);
        MarkWorkerStarted();
        MWinState::ShowWindow(true, &main);
        const QPoint moved = window->frameGeometry().center() - main.frameGeometry().center();
        QVERIFY(moved.manhattanLength() < 40);
        QCOMPARE(window->stepText(), LocalizedString(QStringLiteral("stepPackingMap")));
        PublishWorkerFinished();
    }

private:
    QTemporaryDir m_Dir;
};

COGITRA_GUI_TEST_MAIN(TestProgress)
#include "tst_progress.moc"
