#include "MThreadOnlineOneNote.h"

#include "MGraphClient.h"
#include "MHttp.h"
#include "MPageContent.h"
#include "MPageLocator.h"
#include "attachment/TZetGifAttachment.h"
#include "util/MGlobals.h"
#include "util/MUtils.h"

#include <QDir>
#include <QJsonDocument>

namespace Cogitra {
namespace {

void RecordError(int64_t code, const char *key)
{
    g_ErrorMessageKey.set(QString::fromLatin1(key));
    g_ErrorCode.store(code);
}

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

// The requests of one run, made on the worker's thread: one easy handle for all of them.
class Jobs
{
public:
    explicit Jobs(const MWorkerProperties &properties)
        : m_Properties(properties)
        , m_Locator(m_Clients.graph, properties.CurrentPageLink)
        , m_Content(m_Clients.graph)
    {}

    void EnsureAccount() { m_Clients.EnsureAccount(); }

    void GetCogitra();
    void PutCogitra();

private:
    [[nodiscard]] bool LocatePage()
    {
        return m_Locator.GetOnlinePageInfo(m_Properties.CurrentNotebookName,
                                           m_Properties.CurrentSectionName,
                                           m_Properties.CurrentPageClientId);
    }

    const MWorkerProperties &m_Properties;
    MOnlineClients m_Clients;
    MPageLocator m_Locator;
    MPageContent m_Content;
};

void Jobs::GetCogitra()
{
    g_OnlinePageId.set(QString());
    g_DownloadedMapJson.set(QString());
    g_StepCode.store(-2);
    if (!LocatePage()) {
        // Location leaves -2 only when there is no token; from 10 or 11 on, its own code
        // and error stand.
        if (g_StepCode.load() == -2) {
            g_StepCode.store(-20);
            RecordError(-20, "errGetServerPageId");
        }
        return;
    }

    g_StepCode.store(-21);
    const QString html = m_Content.GetPageContent(g_OnlinePageId.get());
    if (html.isEmpty()) {
        g_OnlinePageId.set(QString());
        RecordError(-21, "errGetContentError");
        return;
    }
    g_PageTitle.set(TextBetween(html, QStringLiteral("<title>"), QStringLiteral("</title>")));

    g_StepCode.store(-22);
    const QString url = TZetGifAttachment::GetZetGifUrlFromPageHtml(html);
    if (url.isEmpty())
        return; // the page holds no map

    g_StepCode.store(-23);
    const QString file = QDir(g_AppDataDir.get()).filePath(TZetGifAttachment::ContainerFileName());
    if (!m_Content.DownloadAttachment(url, file)) {
        // Said out loud: an empty map shown now would be saved over the page's map.
        RecordError(-23, "errDownloadFailed");
        return;
    }

    g_StepCode.store(-24);
    const QString json = TZetGifAttachment::Extract(file);
    if (json.isEmpty() ? !IsEmptyContainer(file) : !IsJsonObject(json)) {
        RecordError(-24, "errMapUnreadable");
        return;
    }
    g_DownloadedMapJson.set(json);
    g_StepCode.store(-100);
}

void Jobs::PutCogitra()
{
    if (g_OnlinePageId.isEmpty()) {
        g_OnlinePageId.set(QString());
        g_DownloadedMapJson.set(QString());
        g_StepCode.store(2);
        if (!LocatePage()) {
            g_StepCode.store(20);
            RecordError(20, "errGetServerPageId");
            return;
        }
    }

    g_StepCode.store(21);
    const QString page = g_OnlinePageId.get();
    if (page.isEmpty()) {
        RecordError(21, "errGetServerPageId");
        return;
    }

    g_StepCode.store(22);
    const QString html = m_Content.GetPageContent(page);
    if (html.isEmpty()) {
        RecordError(22, "errGetContentError");
        return;
    }

    g_StepCode.store(23);
    const QString previewId
        = TZetGifAttachment::GetZetGifIdFromPageHtml(html, QStringLiteral("ZetCogitra"));
    const QString containerId
        = TZetGifAttachment::GetZetGifIdFromPageHtml(html, QStringLiteral("ZetGif"));

    g_StepCode.store(24);
    if (!m_Content.UploadImage(page, previewId, m_Properties.CogitraImageBase64ForUpload,
                               QStringLiteral("ZetCogitra"))) {
        RecordError(24, "errUploadFailed");
        return;
    }

    g_StepCode.store(25);
    const QString container = TZetGifAttachment::Package(m_Properties.CogitraJsonForUpload);
    if (container.isEmpty()) {
        RecordError(25, "errPackageFailed");
        return;
    }

    g_StepCode.store(30);
    if (!m_Content.UploadImage(page, containerId, container, QStringLiteral("ZetGif"))) {
        RecordError(30, "errUploadFailed");
        return;
    }

    g_PageTitle.set(TextBetween(html, QStringLiteral("<title>"), QStringLiteral("</title>")));
    g_StepCode.store(100);
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

void MThreadOnlineOneNote::Run()
{
    std::scoped_lock lock(m_ThreadMutex);
    if (m_Started)
        return;
    m_Started = true;
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
}

} // namespace Cogitra
