#include "MThreadOnlineOneNote.h"

#include "MGraphClient.h"
#include "MHttp.h"
#include "MPageContent.h"
#include "MPageLocator.h"
#include "MSeenMaps.h"
#include "attachment/TZetGifAttachment.h"
#include "util/MGlobals.h"
#include "util/MStepCodes.h"
#include "util/MUtils.h"

#include <QDir>
#include <QJsonDocument>

#include <optional>

namespace Cogitra {
namespace {

// True when the file is exactly a container holding the empty map: the template, the name
// field and nothing after it. Any other file that yields no text is a map that could not
// be read.
bool IsEmptyContainer(const QString &path)
{
    const std::optional<QByteArray> templateBytes
        = ReadWholeFile(TZetGifAttachment::TemplatePath());
    const std::optional<QByteArray> file = ReadWholeFile(path);
    if (!templateBytes || !file)
        return false;
    return *file
           == BuildContainer(*templateBytes, TZetGifAttachment::PayloadFileName().toUtf8(), {});
}

// A map is a JSON object. The container has no length field, so a download cut short
// still yields text: the first part of the map, which is no object.
bool IsJsonObject(const QString &json)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(json.toUtf8(), &error);
    return error.error == QJsonParseError::NoError && document.isObject();
}

// The map a downloaded container holds ("" for the empty map), or no value when the file is
// not a container of a whole map.
std::optional<QString> ReadMap(const QString &path)
{
    QString json = TZetGifAttachment::Extract(path);
    if (json.isEmpty() ? !IsEmptyContainer(path) : !IsJsonObject(json))
        return std::nullopt;
    return json;
}

// The requests of one run, made on the worker's thread: one easy handle for all of them.
class Jobs
{
public:
    explicit Jobs(const MWorkerProperties &properties)
        : m_Properties(properties)
        , m_Locator(m_Clients.graph, properties.Page.link)
        , m_Content(m_Clients.graph)
    {}

    void EnsureAccount() { m_Clients.EnsureAccount(); }

    void GetCogitra();
    void PutCogitra();

private:
    // A step failed: told as a busy service when that is why.
    void Fail(int64_t step, const char *key)
    {
        RecordRunFailure(step, m_Clients.graph.failureKey(key));
    }

    // What the page must hold for the save to write over it: the address of the map the
    // editor's map came from, when that was this page. Nothing when it came from elsewhere.
    [[nodiscard]] std::optional<QString> AddressToReplace(const QString &page) const
    {
        if (!m_Properties.Origin)
            return m_Seen.Seen(page);
        if (m_Properties.Origin->pageId == page)
            return m_Properties.Origin->address;
        return std::nullopt;
    }

    // Remembers what the page holds now, for the next save from here or from cogitra-cli.
    void RememberMap(const QString &page, const QString &address)
    {
        g_MapAddress.set(address);
        (void)m_Seen.Remember(page, address);
    }

    [[nodiscard]] bool LocatePage()
    {
        const OneNotePageInfo &page = m_Properties.Page;
        return m_Locator.GetOnlinePageInfo(page.notebookName, page.sectionName, page.clientId);
    }

    const MWorkerProperties &m_Properties;
    MOnlineClients m_Clients;
    MPageLocator m_Locator;
    MPageContent m_Content;
    const MSeenMaps m_Seen;
};

void Jobs::GetCogitra()
{
    g_OnlinePageId.set(QString());
    g_DownloadedMapJson.set(QString());
    g_MapAddress.set(QString());
    g_StepCode.store(Step::OpenLocating);
    if (!LocatePage()) {
        // Location leaves its first step only when there is no token; from 10 or 11 on,
        // its own code and error stand.
        if (g_StepCode.load() == Step::OpenLocating)
            RecordRunFailure(Step::OpenLocateFailed, "errGetServerPageId");
        return;
    }

    g_StepCode.store(Step::OpenReadingPage);
    const QString html = m_Content.GetPageContent(g_OnlinePageId.get());
    if (html.isEmpty()) {
        g_OnlinePageId.set(QString());
        Fail(Step::OpenReadingPage, "errGetContentError");
        return;
    }
    g_PageTitle.set(MPageContent::PageTitle(html));

    g_StepCode.store(Step::OpenFindingMap);
    const QString url = TZetGifAttachment::GetZetGifUrlFromPageHtml(html);
    if (url.isEmpty()) {
        RememberMap(g_OnlinePageId.get(), QString());
        return; // the page holds no map
    }

    g_StepCode.store(Step::OpenDownloadingMap);
    const QString file = QDir(g_AppDataDir.get()).filePath(TZetGifAttachment::ContainerFileName());
    if (!m_Content.DownloadAttachment(url, file)) {
        // Said out loud: an empty map shown now would be saved over the page's map.
        Fail(Step::OpenDownloadingMap, "errDownloadFailed");
        return;
    }

    g_StepCode.store(Step::OpenReadingMap);
    std::optional<QString> json = ReadMap(file);
    // The service may give the source as a rendition of the picture, without the map that
    // follows it; the original is named apart.
    const QString original = TZetGifAttachment::GetZetGifOriginalUrlFromPageHtml(html);
    if (!json && !original.isEmpty() && original != url) {
        if (!m_Content.DownloadAttachment(original, file)) {
            Fail(Step::OpenReadingMap, "errDownloadFailed");
            return;
        }
        json = ReadMap(file);
    }
    if (!json) {
        RecordRunFailure(Step::OpenReadingMap, "errMapUnreadable");
        return;
    }
    g_DownloadedMapJson.set(*json);
    RememberMap(g_OnlinePageId.get(), MSeenMaps::AddressOf(url));
    g_StepCode.store(Step::OpenDone);
}

void Jobs::PutCogitra()
{
    g_MapAddress.set(QString());
    if (g_OnlinePageId.isEmpty()) {
        g_OnlinePageId.set(QString());
        g_DownloadedMapJson.set(QString());
        g_StepCode.store(Step::SaveLocating);
        if (!LocatePage()) {
            Fail(Step::SaveLocateFailed, "errGetServerPageId");
            return;
        }
    }

    g_StepCode.store(Step::SavePageKnown);
    const QString page = g_OnlinePageId.get();
    if (page.isEmpty()) {
        RecordRunFailure(Step::SavePageKnown, "errGetServerPageId");
        return;
    }

    g_StepCode.store(Step::SaveReadingPage);
    const QString html = m_Content.GetPageContent(page);
    if (html.isEmpty()) {
        Fail(Step::SaveReadingPage, "errGetContentError");
        return;
    }

    g_StepCode.store(Step::SaveFindingImages);
    const QString previewId
        = TZetGifAttachment::GetZetGifIdFromPageHtml(html, QStringLiteral("ZetCogitra"));
    const QString containerId
        = TZetGifAttachment::GetZetGifIdFromPageHtml(html, QStringLiteral("ZetGif"));
    const QString onPage = MSeenMaps::AddressOf(TZetGifAttachment::GetZetGifUrlFromPageHtml(html));
    if (!m_Properties.Replace && (!containerId.isEmpty() || !onPage.isEmpty())) {
        // A map this editor has not seen is someone's work: the user decides, before
        // anything is written.
        const std::optional<QString> expected = AddressToReplace(page);
        if (onPage.isEmpty() || !expected || *expected != onPage) {
            RecordRunFailure(Step::SaveUnseenMap, "errMapNotSeen");
            return;
        }
    }

    g_StepCode.store(Step::SaveUploadingPreview);
    if (!m_Content.UploadImage(page, previewId, m_Properties.CogitraImageBase64ForUpload,
                               QStringLiteral("ZetCogitra"))) {
        Fail(Step::SaveUploadingPreview, "errUploadFailed");
        return;
    }

    g_StepCode.store(Step::SavePackingMap);
    const QString container = TZetGifAttachment::Package(m_Properties.CogitraJsonForUpload);
    if (container.isEmpty()) {
        RecordRunFailure(Step::SavePackingMap, "errPackageFailed");
        return;
    }

    g_StepCode.store(Step::SaveUploadingMap);
    if (!m_Content.UploadImage(page, containerId, container, QStringLiteral("ZetGif"))) {
        Fail(Step::SaveUploadingMap, "errUploadFailed");
        return;
    }

    // The service names the new image only in the page: one read more tells the next save
    // what it may replace. Unread, the next save asks, which loses nothing.
    const QString after = m_Content.GetPageContent(page);
    RememberMap(page, MSeenMaps::AddressOf(TZetGifAttachment::GetZetGifUrlFromPageHtml(after)));

    g_PageTitle.set(MPageContent::PageTitle(html));
    g_StepCode.store(Step::SaveDone);
}

} // namespace

std::shared_ptr<MThreadOnlineOneNote> MThreadOnlineOneNote::Create(MWorkerProperties properties)
{
    return std::make_shared<MThreadOnlineOneNote>(Private{}, std::move(properties));
}

MThreadOnlineOneNote::MThreadOnlineOneNote(Private, MWorkerProperties properties)
    : m_Properties(std::move(properties))
{}

MThreadOnlineOneNote::~MThreadOnlineOneNote()
{
    // The last reference goes either on the worker's own thread, as the job returns, or
    // on another thread after the job has returned; only the latter may join.
    if (m_Thread.joinable()) {
        if (m_Thread.get_id() == std::this_thread::get_id())
            m_Thread.detach();
        else
            m_Thread.join();
    }
}

void MThreadOnlineOneNote::Run(std::function<void()> finished)
{
    std::scoped_lock lock(m_ThreadMutex);
    if (m_Started)
        return;
    m_Started = true;
    m_Finished = std::move(finished);
    m_Thread = std::thread([self = shared_from_this()] { self->ThreadRun(); });
}

void MThreadOnlineOneNote::Wait()
{
    std::thread thread;
    {
        std::scoped_lock lock(m_ThreadMutex);
        if (!m_Thread.joinable() || m_Thread.get_id() == std::this_thread::get_id())
            return;
        thread = std::move(m_Thread);
    }
    thread.join();
}

void MThreadOnlineOneNote::ThreadRun()
{
    MarkWorkerStarted();
    {
        Jobs jobs(m_Properties);
        jobs.EnsureAccount();
        if (m_Properties.DownloadCogitra)
            jobs.GetCogitra();
        else
            jobs.PutCogitra();
    }
    PublishWorkerFinished();
    // Set before the thread started and never written again.
    if (m_Finished)
        m_Finished();
}

} // namespace Cogitra
