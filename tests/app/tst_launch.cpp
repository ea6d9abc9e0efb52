#include "AppFakes.h"

#include "app/MOnlineAdapters.h"
#include "onenote/ClipFun.h"
#include "platform/IDesktopAutomation.h"
#include "platform/MemoryClipboard.h"
#include "util/MGlobals.h"
#include "util/MStepCodes.h"
#include "util/MStrings.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>

// Start-up looks for the current page while the editor page loads; what discovery answers
// is acted on in the order a blocking discovery had, and never under a modal window.
namespace Cogitra::Test {
namespace {

const QString kLink
    = QStringLiteral("onenote:https://d.docs.live.net/acc/Documents/Work/Projects.one#Weekly%20plan"
                     "&section-id={s}&page-id={client}&end");

// Answers when the test says, as the real discovery answers once its script has run.
class HeldDiscovery : public FakeDiscovery
{
public:
    void DiscoverCurrentPage(Answer answer) override { held = std::move(answer); }
    void answer() { std::exchange(held, nullptr)(found, page); }
    Answer held;
};

class TickShell : public FakeShell
{
public:
    void tickSoon() override { ++ticksAsked; }
    int ticksAsked = 0;
};

class LaunchTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ResetGlobalsForTesting();
        SetLanguage(QStringLiteral("en"));
        ASSERT_TRUE(dir.isValid());
        app.awakeFromNib(dir.path());
        g_AccessToken.set(QStringLiteral("access-token"));
        g_UserId.set(QStringLiteral("user-id"));
        g_AccountId.set(QStringLiteral("acc"));
        discovery.found = true;
        discovery.page.accountId = QStringLiteral("acc");
        discovery.page.clientId = QStringLiteral("{client}");
        discovery.page.title = QStringLiteral("Weekly plan");
        app.applicationDidFinishLaunching();
    }
    void TearDown() override { ResetGlobalsForTesting(); }

    QTemporaryDir dir;
    FakeWindow window;
    FakeEditor editor;
    TickShell shell;
    HeldDiscovery discovery;
    FakeOnline online;
    InstalledAlert alert;
    AppDelegate app{{&window, &editor, &shell, &discovery, &online}};
};

TEST_F(LaunchTest, TheEditorLoadsWhileDiscoveryRunsAndTheRunWaitsOutAModalWindow)
{
    EXPECT_EQ(editor.loads.size(), 1u);
    EXPECT_TRUE(app.isBusy()) << "a command meanwhile is refused";
    editor.finishLoading(app, QStringLiteral("{}"));
    app.TimerRun();
    EXPECT_TRUE(online.runs.empty());
    EXPECT_TRUE(window.visible) << "signed in: shown while discovery runs";

    shell.modal = true;
    discovery.answer();
    EXPECT_TRUE(online.runs.empty()) << "nothing is started under a modal window";
    shell.modal = false;
    const int ticksBefore = shell.ticksAsked;
    app.TimerRun();
    ASSERT_EQ(online.runs.size(), 1u);
    EXPECT_EQ(online.runs[0].Page.clientId, QStringLiteral("{client}"));
    EXPECT_EQ(editor.loads.size(), 1u) << "loaded once";
    EXPECT_GT(shell.ticksAsked, ticksBefore) << "the ready page is handed the run at once";

    g_DownloadedMapJson.set(QStringLiteral(R"({"root":{}})"));
    g_StepCode.store(Step::OpenDone);
    PublishWorkerFinished();
    app.TimerRun();
    editor.flush();
    EXPECT_TRUE(editor.scripts.last().startsWith(QStringLiteral("SetJsonData(")));
}

TEST_F(LaunchTest, AnEditorThatFailsDuringDiscoveryIsToldAfterStartUp)
{
    editor.answers[QStringLiteral("document.readyState")] = QStringLiteral("complete");
    app.WebViewProgressFinished(false);
    editor.flush();
    EXPECT_EQ(shell.terminations, 0);
    EXPECT_TRUE(alert.messages.isEmpty());

    discovery.found = false;
    discovery.answer();
    EXPECT_EQ(g_StepCode.load(), Step::NoCurrentPage);
    EXPECT_EQ(alert.messages, QStringList{LocalizedString(QStringLiteral("errOpenCogitraEditer"))});
    EXPECT_EQ(shell.terminations, 1);
}

// The keystroke script runs off the main thread; the clipboard is touched only on the main
// thread, and the user's comes back whether the answer is taken or the program ends first.
class ThreadCheckedClipboard : public IClipboard
{
public:
    ClipboardContents contents() const override { return check(), inner.contents(); }
    void setContents(const ClipboardContents &c) override { check(), inner.setContents(c); }
    void clear() override { check(), inner.clear(); }
    std::optional<QString> text() const override { return check(), inner.text(); }
    void setText(const QString &t) override { check(), inner.setText(t); }
    void check() const { offMainThread += QThread::currentThread() != qApp->thread(); }

    MemoryClipboard inner;
    mutable std::atomic<int> offMainThread = 0;
};

// The desktop notebook's answer to the script: the link, written to the clipboard from
// the script's thread.
class LinkAutomation : public IDesktopAutomation
{
public:
    explicit LinkAutomation(IClipboard &clipboard)
        : m_Clipboard(clipboard)
    {}
    void RunAppleScript(const QString &source) override
    {
        EXPECT_EQ(source, KeystrokeScript());
        m_Clipboard.setText(kLink);
    }

private:
    IClipboard &m_Clipboard;
};

TEST(PageDiscovery, TheScriptRunsOffTheMainThreadAndTheClipboardComesBack)
{
    ThreadCheckedClipboard clipboard;
    const QString users = QStringLiteral("the user's text");
    clipboard.inner.setText(users);
    {
        // As the application holds them: a write still posted goes with its poster.
        MPostedClipboard posted(clipboard);
        LinkAutomation automation(posted);
        MPageDiscovery discovery(automation, clipboard);
        QEventLoop loop;
        std::optional<OneNotePageInfo> found;
        discovery.DiscoverCurrentPage([&](bool ok, const OneNotePageInfo &page) {
            if (ok)
                found = page;
            loop.quit();
        });
        QTimer::singleShot(10000, &loop, &QEventLoop::quit);
        loop.exec();
        ASSERT_TRUE(found);
        EXPECT_EQ(found->clientId, QStringLiteral("client"));
        EXPECT_EQ(clipboard.inner.text(), users);

        // Ended before the answer was taken: the clipboard is put back all the same.
        discovery.DiscoverCurrentPage([](bool, const OneNotePageInfo &) { ADD_FAILURE(); });
    }
    QCoreApplication::processEvents();
    EXPECT_EQ(clipboard.inner.text(), users);
    EXPECT_EQ(clipboard.offMainThread.load(), 0);
}

} // namespace
} // namespace Cogitra::Test
