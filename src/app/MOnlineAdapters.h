#pragma once

#include "IOnlineRun.h"
#include "IPageDiscovery.h"

#include "onenote/MCurrentPage.h"

#include <memory>

namespace Cogitra {

class IClipboard;
class IDesktopAutomation;
class MThreadOnlineOneNote;

// The worker of the latest run; keeps it alive after its command has returned.
extern std::shared_ptr<MThreadOnlineOneNote> g_Worker;

// Current page discovery through OneNote (or the desktop notebook that stands in for it).
class MPageDiscovery : public IPageDiscovery
{
public:
    MPageDiscovery(IDesktopAutomation &automation, IClipboard &clipboard);
    [[nodiscard]] bool GetCurrentOneNotePageInfo(OneNotePageInfo &page) override;

private:
    MCurrentPage m_CurrentPage;
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
};

} // namespace Cogitra
