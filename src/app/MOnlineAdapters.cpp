#include "MOnlineAdapters.h"

#include "online/MThreadOnlineOneNote.h"

namespace Cogitra {

std::shared_ptr<MThreadOnlineOneNote> g_Worker;

MPageDiscovery::MPageDiscovery(IDesktopAutomation &automation, IClipboard &clipboard)
    : m_CurrentPage(automation, clipboard)
{}

bool MPageDiscovery::GetCurrentOneNotePageInfo(CurrentPage &page)
{
    OneNotePageInfo info;
    const bool found = m_CurrentPage.GetCurrentOneNotePageInfo(info);
    page = {info.accountId,    info.clientId,    info.title,
            info.notebookName, info.sectionName, info.link};
    return found;
}

void MOnlineRunner::Run(const OnlineRunRequest &request)
{
    MWorkerProperties properties;
    properties.DownloadCogitra = request.downloadCogitra;
    properties.AccountId = request.accountId;
    properties.CurrentPageTitle = request.currentPageTitle;
    properties.CurrentPageClientId = request.currentPageClientId;
    properties.CurrentNotebookName = request.currentNotebookName;
    properties.CurrentSectionName = request.currentSectionName;
    properties.CurrentPageLink = request.currentPageLink;
    properties.CogitraJsonForUpload = request.cogitraJsonForUpload;
    properties.CogitraImageBase64ForUpload = request.cogitraImageBase64ForUpload;
    g_Worker = MThreadOnlineOneNote::Create(std::move(properties));
    g_Worker->Run();
}

} // namespace Cogitra
