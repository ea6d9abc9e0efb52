#include "OnlineTestSupport.h"

#include "attachment/TZetGifAttachment.h"
#include "online/MPageContent.h"
#include "online/MSeenMaps.h"
#include "util/MGlobals.h"
#include "util/MStepCodes.h"

using namespace Cogitra;
using namespace Cogitra::Testing;

namespace {

const QString kOurs = QStringLiteral("{\"root\":{\"data\":{\"text\":\"ours\"}}}");
const QString kTheirs = QStringLiteral("{\"root\":{\"data\":{\"text\":\"theirs\"}}}");

// Saves that meet a map on the page which did not come from this editor.
class SeenMaps : public OnlineTest
{
protected:
    void SetUp() override
    {
        OnlineTest::SetUp();
        SignIn();
        const auto other = m_Service->createPage(m_Section.id, QStringLiteral("Other page"));
        ASSERT_TRUE(other);
        m_Other = other->id;
    }

    // Another computer writes a map onto the page: through the service, not this client.
    void PutTheirMap(const QString &pageId, const QString &json) const
    {
        const QString html = m_Service->pageHtml(pageId);
        const QString imageId
            = TZetGifAttachment::GetZetGifIdFromPageHtml(html, QStringLiteral("ZetGif"));
        ASSERT_TRUE(m_Service->patchPage(
            pageId, MPageContent::UpdateBody(imageId, TZetGifAttachment::Package(json),
                                             QStringLiteral("ZetGif"))));
    }

    // The container bytes of the page's map as the service holds them.
    [[nodiscard]] QByteArray MapBytes(const QString &pageId) const
    {
        const QString src
            = TZetGifAttachment::GetZetGifUrlFromPageHtml(m_Service->pageHtml(pageId));
        const auto resource = m_Service->store().resource(MSeenMaps::AddressOf(src));
        return resource ? resource->data : QByteArray();
    }

    [[nodiscard]] static QByteArray Container(const QString &json)
    {
        return QByteArray::fromBase64(TZetGifAttachment::Package(json).toLatin1());
    }

    // A save from the editor whose map came from origin.
    void SaveFrom(const MapOrigin &origin, const QString &pageId, bool replace = false)
    {
        g_OnlinePageId.set(QString());
        MWorkerProperties properties = PageProperties(pageId, false);
        properties.CogitraJsonForUpload = kOurs;
        properties.CogitraImageBase64ForUpload = PreviewPng();
        properties.Origin = origin;
        properties.Replace = replace;
        RunJob(properties);
    }

    // Asked, and nothing was written: the page is as it was.
    void ExpectRefused(const QString &pageId, const QString &htmlBefore)
    {
        EXPECT_EQ(g_StepCode.load(), Step::SaveUnseenMap);
        EXPECT_EQ(g_ErrorMessageKey.get(), QStringLiteral("errMapNotSeen"));
        EXPECT_EQ(m_Service->pageHtml(pageId), htmlBefore);
        for (const Request &request : Requests())
            EXPECT_NE(request.method, QStringLiteral("PATCH"));
    }

    QString m_Other;
};

TEST_F(SeenMaps, NewMapOntoAPageWithAMapIsAskedAndReplacedOnlyWhenTold)
{
    PutTheirMap(m_Other, kTheirs);
    const QString before = m_Service->pageHtml(m_Other);
    ClearRequests();
    SaveFrom(MapOrigin{}, m_Other);
    ExpectRefused(m_Other, before);

    SaveFrom(MapOrigin{}, m_Other, true);
    EXPECT_EQ(g_StepCode.load(), Step::SaveDone);
    EXPECT_EQ(MapBytes(m_Other), Container(kOurs));

    // A page without a map takes a new map unasked.
    SaveFrom(MapOrigin{}, m_Page.id);
    EXPECT_EQ(g_StepCode.load(), Step::SaveDone);
}

TEST_F(SeenMaps, SaveToCurrentPageOntoAnotherPagesMapIsAsked)
{
    Open(m_Page.id);
    const MapOrigin opened = OriginOfFinishedRun();
    ASSERT_EQ(opened.pageId, m_Page.id);
    PutTheirMap(m_Other, kTheirs);
    const QString before = m_Service->pageHtml(m_Other);
    ClearRequests();
    SaveFrom(opened, m_Other);
    ExpectRefused(m_Other, before);
    EXPECT_EQ(MapBytes(m_Other), Container(kTheirs));
}

TEST_F(SeenMaps, MapReplacedElsewhereSinceTheOpenIsAskedAndOpeningShowsTheirs)
{
    SaveFrom(MapOrigin{}, m_Page.id);
    Open(m_Page.id);
    const MapOrigin opened = OriginOfFinishedRun();
    PutTheirMap(m_Page.id, kTheirs);
    const QString before = m_Service->pageHtml(m_Page.id);
    ClearRequests();
    SaveFrom(opened, m_Page.id);
    ExpectRefused(m_Page.id, before);

    Open(m_Page.id);
    EXPECT_EQ(g_DownloadedMapJson.get(), kTheirs);
    SaveFrom(OriginOfFinishedRun(), m_Page.id);
    EXPECT_EQ(g_StepCode.load(), Step::SaveDone);
}

TEST_F(SeenMaps, SavesAfterAnOpenWriteUnaskedWithOneReadMore)
{
    PutTheirMap(m_Page.id, kTheirs);
    Open(m_Page.id);
    ClearRequests();
    // The page id stays known from the open, as in the application.
    MWorkerProperties properties = PageProperties(m_Page.id, false);
    properties.CogitraJsonForUpload = kOurs;
    properties.CogitraImageBase64ForUpload = PreviewPng();
    properties.Origin = OriginOfFinishedRun();
    RunJob(properties);
    ASSERT_EQ(g_StepCode.load(), Step::SaveDone);
    const std::vector<Request> requests = Requests();
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_EQ(requests[0].method + requests[1].method + requests[2].method + requests[3].method,
              QStringLiteral("GETPATCHPATCHGET"));

    // What the save left is what the next one may replace, from here or from cogitra-cli,
    // which has no origin and goes by the shared record.
    SaveFrom(OriginOfFinishedRun(), m_Page.id);
    EXPECT_EQ(g_StepCode.load(), Step::SaveDone);
    SaveFrom(OriginOfFinishedRun(), m_Page.id);
    EXPECT_EQ(g_StepCode.load(), Step::SaveDone);
    MWorkerProperties cli = PageProperties(m_Page.id, false);
    cli.CogitraJsonForUpload = kOurs;
    cli.CogitraImageBase64ForUpload = PreviewPng();
    g_OnlinePageId.set(QString());
    RunJob(cli);
    EXPECT_EQ(g_StepCode.load(), Step::SaveDone);
    EXPECT_EQ(MapBytes(m_Page.id), Container(kOurs));
}

TEST_F(SeenMaps, SaveNotReadBackLeavesTheNextSaveAsking)
{
    Open(m_Page.id);
    Service::Fault fault;
    fault.status = 500;
    fault.skip = 1; // the read before the writes passes, the one after fails
    fault.times = 1;
    m_Service->setFault(QStringLiteral("pageContent"), fault);
    SaveFrom(OriginOfFinishedRun(), m_Page.id);
    // The map is on the page; only what it is called there is unknown.
    EXPECT_EQ(g_StepCode.load(), Step::SaveDone);
    EXPECT_EQ(MapBytes(m_Page.id), Container(kOurs));
    const QString html = m_Service->pageHtml(m_Page.id);
    ClearRequests();
    SaveFrom(OriginOfFinishedRun(), m_Page.id);
    ExpectRefused(m_Page.id, html);
}

} // namespace
