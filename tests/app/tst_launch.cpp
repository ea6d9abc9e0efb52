#include "AppFakes.h"

#include "app/MOnlineAdapters.h"
#include "onenote/ClipFun.h"
#include "platform/IDesktopAutomation.h"
#include "platform/MemoryClipboard.h"
#include "util/MStepCodes.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <QTimer>

#include <atomic>

// Start-up looks for the current page while the editor page loads; what discovery answers
// is acted on in the order a blocking discovery had, and never under a modal window.
namespace Cogitra::Test {
namespace {

struct LaunchTest : AppTest
{
    void SetUp() override
    {
        AppTest::SetUp();
        discovery.hold = discovery.found = true;
        discovery.page = {account = QStringLiteral("acc"), QStringLiteral("{client}"),
                          QStringLiteral("Weekly plan")};
        launch();
    }
};

TEST_F(LaunchTest, TheEditorLoadsWhileDiscoveryRunsAndTheRunWaitsOutAModalWindow)
{
    EXPECT_EQ(editor.loads.size(), 1u);
    EXPECT_TRUE(app->isBusy()) << "a command meanwhile is refused";
    editor.finishLoading(*app, QStringLiteral("{}"));
    app->TimerRun();
    EXPECT_TRUE(online.runs.empty());
    EXPECT_TRUE(window.visible) << "signed in: shown while discovery runs";

    shell.modal = true;
    discovery.answer();
    EXPECT_TRUE(online.runs.empty()) << "nothing is started under a modal window";
    shell.modal = false;
    const int ticksBefore = shell.ticksAsked;
    app->TimerRun();
    ASSERT_EQ(online.runs.size(), 1u);
    EXPECT_EQ(online.runs[0].Page.clientId, QStringLiteral("{client}"));
    EXPECT_EQ(editor.loads.size(), 1u) << "loaded once";
    EXPECT_GT(shell.ticksAsked, ticksBefore) << "the ready page is handed the run at once";

    g_DownloadedMapJson.set(QStringLiteral(R"({"root":{}})"));
    endRun(Step::OpenDone);
    tick();
    EXPECT_TRUE(editor.scripts.last().startsWith(QStringLiteral("SetJsonData(")));
}

TEST_F(LaunchTest, AnEditorThatFailsDuringDiscoveryIsToldAfterStartUp)
{
    editor.answers[QStringLiteral("document.readyState")] = QStringLiteral("complete");
    app->WebViewProgressFinished(false);
    editor.flush();
    EXPECT_EQ(shell.terminations, 0);
    EXPECT_TRUE(alert.messages.isEmpty());
    discovery.found = false;
    discovery.answer();
    EXPECT_EQ(g_StepCode.load(), Step::NoCurrentPage);
    EXPECT_EQ(alert.messages, QStringList{Text("errOpenCogitraEditer")});
    EXPECT_EQ(shell.terminations, 1);
}

// The keystroke script runs off the main thread; the clipboard is touched only on the main
// thread, and the user's comes back whether the answer is taken or the program ends first.
// The desktop notebook answers the script by writing the link from the script's thread.
struct Desktop : IClipboard, IDesktopAutomation
{
    ClipboardContents contents() const override { return check(), inner.contents(); }
    void setContents(const ClipboardContents &c) override { check(), inner.setContents(c); }
    void clear() override { check(), inner.clear(); }
    std::optional<QString> text() const override { return check(), inner.text(); }
    void setText(const QString &t) override { check(), inner.setText(t); }
    void check() const { offMainThread += QThread::currentThread() != qApp->thread(); }
    void RunAppleScript(const QString &source) override
    {
        EXPECT_EQ(source, KeystrokeScript());
        posted->setText(QStringLiteral("onenote:https://d.docs.live.net/acc/Documents/Work/"
                                       "Projects.one#Weekly%20plan&section-id={s}"
                                       "&page-id={client}&end"));
    }

    MemoryClipboard inner;
    mutable std::atomic<int> offMainThread = 0;
    IClipboard *posted = nullptr;
};

TEST(PageDiscovery, TheScriptRunsOffTheMainThreadAndTheClipboardComesBack)
{
    Desktop desktop;
    const QString users = QStringLiteral("the user's text");
    desktop.inner.setText(users);
    {
        // As the application holds them: a write still posted goes with its poster.
        MPostedClipboard posted(desktop);
        desktop.posted = &posted;
        MPageDiscovery discovery(desktop, desktop);
        std::optional<OneNotePageInfo> found;
        QEventLoop loop;
        QTimer::singleShot(10000, &loop, &QEventLoop::quit);
        discovery.DiscoverCurrentPage([&](bool ok, const OneNotePageInfo &page) {
            found = ok ? std::optional(page) : std::nullopt;
            loop.quit();
        });
        loop.exec();
        ASSERT_TRUE(found);
        EXPECT_EQ(found->clientId, QStringLiteral("client"));
        EXPECT_EQ(desktop.inner.text(), users);
        // Ended before the answer was taken: the clipboard is put back all the same.
        discovery.DiscoverCurrentPage([](bool, const OneNotePageInfo &) { ADD_FAILURE(); });
    }
    QCoreApplication::processEvents();
    EXPECT_EQ(desktop.inner.text(), users);
    EXPECT_EQ(desktop.offMainThread.load(), 0);
}

} // namespace
} // namespace Cogitra::Test
