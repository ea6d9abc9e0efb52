#include "MOnlineAdapters.h"

#include "online/MThreadOnlineOneNote.h"

namespace Cogitra {

std::shared_ptr<MThreadOnlineOneNote> g_Worker;

MPageDiscovery::MPageDiscovery(IDesktopAutomation &automation, IClipboard &clipboard)
    : m_CurrentPage(automation, clipboard)
{}

bool MPageDiscovery::GetCurrentOneNotePageInfo(OneNotePageInfo &page)
{
    return m_CurrentPage.GetCurrentOneNotePageInfo(page);
}

MOnlineRunner::~MOnlineRunner()
{
    WaitForRun();
}

void MOnlineRunner::Run(const MWorkerProperties &properties)
{
    g_Worker = MThreadOnlineOneNote::Create(properties);
    g_Worker->Run();
}

void MOnlineRunner::WaitForRun()
{
    if (g_Worker)
        g_Worker->Wait();
}

} // namespace Cogitra
