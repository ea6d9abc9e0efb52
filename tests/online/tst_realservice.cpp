#include "OnlineTestSupport.h"

#include "attachment/TZetGifAttachment.h"
#include "online/MPageContent.h"
#include "service/PageContent.h"
#include "util/MGlobals.h"

#include <QFile>
#include <QRegularExpression>

// The client against the notebook service answering in shapes the online service gives and
// our own pages never had: images with a data-id before their id, and an image source that
// names a rendition holding the picture only.
using namespace Cogitra;
using namespace Cogitra::Testing;

namespace {

const QString kMap = QStringLiteral(R"({"root":{"data":{"text":"Road map & plan"}}})");
const QString kSecondMap = QStringLiteral(R"({"root":{"data":{"text":"second"}}})");

class RealService : public OnlineTest
{
protected:
    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(OnlineTest::SetUp());
        SignIn();
    }

    void PutMap(const QString &json)
    {
        Save(m_Page.id, json, PreviewPng());
        ASSERT_EQ(g_StepCode.load(), 100) << g_ErrorMessageKey.get().toStdString();
        ClearRequests();
        ClearCache();
        g_OnlinePageId.set(QString());
    }

    void Switch(const char *route, Service::FaultKind kind, Service::Fault fault = {})
    {
        fault.kind = kind;
        m_Service->setFault(QString::fromLatin1(route), fault);
    }

    // The page's HTML as the client reads it, with the switches that are on.
    [[nodiscard]] QString ShapedHtml(const Service::PageShape &shape) const
    {
        return Service::ShapeImages(m_Service->pageHtml(m_Page.id), shape);
    }

    [[nodiscard]] QByteArray ContentTarget() const
    {
        return "/v1.0/me/onenote/pages/" + m_Page.id.toUtf8() + "/content?includeIDs=true";
    }
};

// The save aims its updates at the images' ids, never at their data-ids: the map and its
// picture are replaced where they stand, and the page keeps one of each.
TEST_F(RealService, DataIdsBeforeIdsSaveOverTheMapImages)
{
    ASSERT_NO_FATAL_FAILURE(PutMap(kMap));
    Switch("pageContent", Service::FaultKind::ImageDataIds);
    const QString html = ShapedHtml({.imageDataIds = true});
    ASSERT_TRUE(html.contains(QStringLiteral(R"(<img data-id="picture1" id="img:)")));
    // The ids as the service wrote them, read without the search under test.
    const auto idOf = [&html](const char *alt) {
        return QRegularExpression(QStringLiteral(R"re( id="(img:[^"]+)" alt="%1")re").arg(alt))
            .match(html)
            .captured(1);
    };
    const QString previewId = idOf("ZetCogitra");
    const QString mapId = idOf("ZetGif");
    ASSERT_FALSE(previewId.isEmpty());
    ASSERT_FALSE(mapId.isEmpty());

    g_OnlinePageId.set(m_Page.id);
    Save(m_Page.id, kSecondMap, PreviewPng());
    EXPECT_EQ(g_StepCode.load(), 100) << g_ErrorMessageKey.get().toStdString();
    const std::vector<Request> requests = Requests();
    // The page is read once more after the updates, to learn what the next save may replace.
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_EQ(requests[0].target, ContentTarget());
    EXPECT_EQ(requests[3].target, ContentTarget());
    EXPECT_EQ(requests[1].body,
              MPageContent::UpdateBody(previewId, PreviewPng(), QStringLiteral("ZetCogitra")));
    EXPECT_EQ(requests[2].body,
              MPageContent::UpdateBody(mapId, TZetGifAttachment::Package(kSecondMap),
                                       QStringLiteral("ZetGif")));
    EXPECT_EQ(m_Service->pageResources(m_Page.id).size(), 2u);

    ClearRequests();
    Open(m_Page.id);
    EXPECT_EQ(g_StepCode.load(), -100);
    EXPECT_EQ(g_DownloadedMapJson.get(), kSecondMap);
    EXPECT_EQ(Requests().back().target, TargetOf(TZetGifAttachment::GetZetGifUrlFromPageHtml(
                                            m_Service->pageHtml(m_Page.id))));
}

struct RenditionCase
{
    const char *name;
    QString map;
    std::optional<Service::Fault> originalFault; // on the download of data-fullres-src
    int64_t step;
    const char *key;

    friend void PrintTo(const RenditionCase &c, std::ostream *os) { *os << c.name; }
};

class Rendition : public RealService, public testing::WithParamInterface<RenditionCase>
{
};

// The source gives the picture without the map behind it; the open asks once for the
// original, and what that one holds decides.
TEST_P(Rendition, OpenAsksOnceForTheOriginal)
{
    const RenditionCase &c = GetParam();
    ASSERT_NO_FATAL_FAILURE(PutMap(c.map));
    Switch("pageContent", Service::FaultKind::OptimizedImages);
    if (c.originalFault) {
        Service::Fault fault = *c.originalFault;
        fault.skip = 1;
        fault.times = 1;
        m_Service->setFault(QStringLiteral("resource"), fault);
    }
    const QString html = ShapedHtml({.optimizedImages = true});
    const QString rendition = TZetGifAttachment::GetZetGifUrlFromPageHtml(html);
    const QString original = TZetGifAttachment::GetZetGifOriginalUrlFromPageHtml(html);
    ASSERT_TRUE(rendition.endsWith(QLatin1String(Service::kRenditionQuery)));
    ASSERT_EQ(rendition, original + QLatin1String(Service::kRenditionQuery));

    Open(m_Page.id);
    EXPECT_EQ(g_StepCode.load(), c.step);
    EXPECT_EQ(g_ErrorMessageKey.get(), QString::fromLatin1(c.key));
    EXPECT_EQ(g_DownloadedMapJson.get(), c.step == -100 ? c.map : QString());
    const std::vector<Request> requests = Requests();
    ASSERT_EQ(requests.size(), 5u);
    EXPECT_EQ(requests[0].target, k_TreeTarget);
    EXPECT_EQ(requests[1].target, SectionPagesTarget(m_Section.id).toUtf8());
    EXPECT_EQ(requests[2].target, ContentTarget());
    EXPECT_EQ(requests[3].target, TargetOf(rendition));
    EXPECT_EQ(requests[4].target, TargetOf(original));
    for (const Request &request : requests) {
        EXPECT_EQ(request.method, QStringLiteral("GET"));
        EXPECT_EQ(request.authorization, "Bearer " + m_AccessToken.toUtf8());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Originals, Rendition,
    testing::Values(RenditionCase{"Map", kMap, std::nullopt, -100, ""},
                    RenditionCase{"EmptyMap", QString(), std::nullopt, -100, ""},
                    RenditionCase{"OriginalDamagedToo", kMap,
                                  Service::Fault{.kind = Service::FaultKind::Malformed}, -24,
                                  "errMapUnreadable"},
                    RenditionCase{"OriginalNotFound", kMap,
                                  Service::Fault{.kind = Service::FaultKind::Status, .status = 404},
                                  -24, "errDownloadFailed"}),
    [](const auto &param) { return std::string(param.param.name); });

// What the rendition holds: the picture up to its end, nothing of the map.
TEST_F(RealService, RenditionHoldsThePictureOnly)
{
    ASSERT_NO_FATAL_FAILURE(PutMap(kMap));
    QFile templateFile(TZetGifAttachment::TemplatePath());
    ASSERT_TRUE(templateFile.open(QIODevice::ReadOnly));
    const QByteArray picture = templateFile.readAll();
    const QByteArray png = QByteArray::fromBase64(PreviewPng().toLatin1());
    int seen = 0;
    for (const Service::Resource &resource : m_Service->pageResources(m_Page.id)) {
        if (resource.data.startsWith("GIF")) {
            EXPECT_EQ(Service::PictureOnly(resource.data), picture);
            ++seen;
        } else {
            EXPECT_EQ(resource.data, png);
            EXPECT_EQ(Service::PictureOnly(resource.data + "after"), png);
            ++seen;
        }
    }
    EXPECT_EQ(seen, 2);
    EXPECT_EQ(Service::PictureOnly("GIF89a cut short"), QByteArray("GIF89a cut short"));
}

// The title shown is the page's text: the service writes "&" as "&amp;".
TEST_F(RealService, TitlesAreShownDecoded)
{
    const std::optional<Service::Page> page = m_Service->createPage(
        m_Section.id, QStringLiteral("Road map & plan <v2>"), QStringLiteral("<p>x</p>"));
    ASSERT_TRUE(page);
    ASSERT_TRUE(m_Service->pageHtml(page->id).contains(
        QStringLiteral("<title>Road map &amp; plan &lt;v2&gt;</title>")));
    Open(page->id);
    EXPECT_EQ(g_PageTitle.get(), QStringLiteral("Road map & plan <v2>"));
    g_PageTitle.set(QString());
    Save(page->id, kMap, PreviewPng());
    EXPECT_EQ(g_StepCode.load(), 100);
    EXPECT_EQ(g_PageTitle.get(), QStringLiteral("Road map & plan <v2>"));
}

} // namespace
