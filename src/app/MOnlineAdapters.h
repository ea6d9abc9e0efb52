#pragma once

#include "IOnlineRun.h"
#include "IPageDiscovery.h"

#include "onenote/MCurrentPage.h"
#include "platform/IClipboard.h"

#include <QObject>

#include <functional>
#include <memory>
#include <optional>
#include <thread>

namespace Cogitra {

class IClipboard;
class IDesktopAutomation;
class MThreadOnlineOneNote;

// The worker of the latest run; keeps it alive after its command has returned.
extern std::shared_ptr<MThreadOnlineOneNote> g_Worker;

// Current page discovery through OneNote (or the desktop notebook that stands in for it).
// Made and used on the main thread, which owns the clipboard. DiscoverCurrentPage runs the
// keystroke script on a thread of its own and answers through the main thread's event
// loop; the automation must then not touch the clipboard from that thread other than by
// posting to the main thread. One discovery at a time.
class MPageDiscovery : public IPageDiscovery
{
public:
    MPageDiscovery(IDesktopAutomation &automation, IClipboard &clipboard);
    // Waits for a script still running; the user's clipboard is put back even when the
    // answer never came.
    ~MPageDiscovery() override;
    MPageDiscovery(const MPageDiscovery &) = delete;
    MPageDiscovery &operator=(const MPageDiscovery &) = delete;

    [[nodiscard]] bool GetCurrentOneNotePageInfo(OneNotePageInfo &page) override;
    void DiscoverCurrentPage(Answer answer) override;
    [[nodiscard]] QString untoldFailure() const override { return m_Untold; }

private:
    void Deliver();
    void JoinScript();
    // Alerts a failure, except one the caller tells with the other ways to a page.
    void TellFailure(const QString &failure);

    IDesktopAutomation &m_Automation;
    IClipboard &m_Clipboard;
    MCurrentPage m_CurrentPage;
    QString m_Untold;
    // The user's clipboard while the script runs.
    std::optional<ClipboardContents> m_Borrowed;
    IPageDiscovery::Answer m_Answer;
    // Where the script's end is delivered: on the main thread, and gone with this object.
    QObject m_Receiver;
    std::thread m_Script;
};

// Stands between a keystroke script run off the main thread and the clipboard it writes:
// writes from another thread are posted to the thread that made this object, in order;
// reads from another thread see an empty clipboard.
class MPostedClipboard : public IClipboard
{
public:
    explicit MPostedClipboard(IClipboard &target);

    [[nodiscard]] ClipboardContents contents() const override;
    void setContents(const ClipboardContents &contents) override;
    void clear() override;
    [[nodiscard]] std::optional<QString> text() const override;
    void setText(const QString &text) override;

private:
    [[nodiscard]] bool onOwnThread() const;
    void Post(std::function<void()> write);

    IClipboard &m_Target;
    QObject m_Receiver;
};

// Starts each run on a new MThreadOnlineOneNote, kept in g_Worker.
class MOnlineRunner : public IOnlineRun
{
public:
    MOnlineRunner() = default;
    // Joins the worker: its thread writes the shared values until its job has returned.
    ~MOnlineRunner() override;
    MOnlineRunner(const MOnlineRunner &) = delete;
    MOnlineRunner &operator=(const MOnlineRunner &) = delete;
    void Run(const MWorkerProperties &properties) override;
    void WaitForRun() override;
    // Called on the worker's thread once each later run has published its end.
    void setFinishedHandler(std::function<void()> handler) { m_Finished = std::move(handler); }

private:
    std::function<void()> m_Finished;
};

} // namespace Cogitra
