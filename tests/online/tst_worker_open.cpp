#include "OnlineTestSupport.h"

#include "attachment/TZetGifAttachment.h"
#include "online/MGraphClient.h"
#include "online/MPageContent.h"
#include "online/MPageTree.h"
#include "online/MReplyCache.h"
#include "online/MRetry.h"
#include "service/PageContent.h"
#include "util/MGlobals.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <algorithm>
#include <thread>

using namespace Cogitra;
using namespace Cogitra::Testing;

namespace {

using Service::Fault;
using Service::FaultKind;

using WorkerJob = OnlineTest;

// Two appends on a page without a map, the preview first; an open; a save over the map aims at
// the images' ids, so one of each stays.
TEST_F(WorkerJob, SaveOpenAndSaveAgainOnOnePage)
{
    SignIn();
    const QString title = QStringLiteral("Road map & plan <v2>");
    m_Page = m_Service->createPage(m_Section.id, title, QStringLiteral("<p>x</p>")).value();
    const QString png = PreviewPng();
    Save(m_Page.id, AwkwardMapJson(), png);
    ExpectOutcome(100, "");
    EXPECT_EQ(g_PageTitle.get(), title);
    // The last reads back what the next save may replace.
    const QByteArray list = SectionPagesTarget(m_Section.id);
    ASSERT_EQ(Targets(),
              (QList<QByteArray>{k_TreeTarget, list, ContentTarget(), ContentTarget(false),
                                 ContentTarget(false), ContentTarget()}));
    std::vector<Request> requests = Requests();
    EXPECT_EQ(requests[3].body,
              MPageContent::UpdateBody(QString(), png, QStringLiteral("ZetCogitra")));
    // Packing is repeatable: the same map gives the same container.
    EXPECT_EQ(requests[4].body,
              MPageContent::UpdateBody(QString(), TZetGifAttachment::Package(AwkwardMapJson()),
                                       QStringLiteral("ZetGif")));
    ExpectAuthorized(m_AccessToken);

    // Values already held are not asked for again, even with a code at hand.
    g_AuthCode.set(QStringLiteral("unused"));
    ClearCache();
    const QByteArray download
        = EscapeUrl(TZetGifAttachment::GetZetGifUrlFromPageHtml(m_Service->pageHtml(m_Page.id)))
              .replace(m_Service->rootUrl().toUtf8(), QByteArray());
    ClearRequests();
    g_PageTitle.set(QString());
    Open(m_Page.id);
    ExpectOutcome(-100, "");
    EXPECT_EQ(g_DownloadedMapJson.get(), AwkwardMapJson());
    EXPECT_EQ(g_OnlinePageId.get(), m_Page.id);
    EXPECT_EQ(g_PageTitle.get(), title);
    EXPECT_EQ(Targets(), (QList<QByteArray>{k_TreeTarget, list, ContentTarget(), download}));
    ExpectAuthorized(m_AccessToken);

    const QString html
        = Service::ShapeImages(m_Service->pageHtml(m_Page.id), {.imageDataIds = true});
    // The ids as the service wrote them, read without the search under test.
    const auto idOf = [&html](const char *alt) {
        return QRegularExpression(QStringLiteral(R"re( id="(img:[^"]+)" alt="%1")re").arg(alt))
            .match(html)
            .captured(1);
    };
    const QString second = QStringLiteral(R"({"root":{"data":{"text":"second"}}})");
    ClearRequests();
    Save(m_Page.id, second, png);
    ExpectOutcome(100, "");
    ASSERT_EQ(Targets(), (QList<QByteArray>{ContentTarget(), ContentTarget(false),
                                            ContentTarget(false), ContentTarget()}));
    requests = Requests();
    EXPECT_EQ(requests[1].body,
              MPageContent::UpdateBody(idOf("ZetCogitra"), png, QStringLiteral("ZetCogitra")));
    EXPECT_EQ(requests[2].body,
              MPageContent::UpdateBody(idOf("ZetGif"), TZetGifAttachment::Package(second),
                                       QStringLiteral("ZetGif")));
    EXPECT_EQ(m_Service->pageResources(m_Page.id).size(), 2u);

    // A page the cached list holds without its online id is reported, not written.
    const QString cached = CacheFile(m_Section.id + QStringLiteral(".json"));
    const QByteArray id = "\"id\":\"" + m_Page.id.toUtf8() + '"';
    QByteArray pages = ReadWholeFile(cached).value_or("");
    ASSERT_TRUE(pages.contains(id));
    ASSERT_TRUE(WriteWholeFile(cached, pages.replace(id, "\"_\":0")));
    g_OnlinePageId.set(QString());
    ClearRequests();
    Save(m_Page.id, second, png);
    ExpectOutcome(21, "errGetServerPageId");
    EXPECT_TRUE(Requests().empty());
}

// Every job ending: what it tells, sends, leaves on the page and keeps in the cache. Busy replies
// are waited out, but an update that timed out at the gateway may have been carried out.
enum class Arrange {
    SignedIn,
    SignedOut,
    MapOnPage,
    Rendition, // of a map: the image's source names a picture without the map
    EmptyMap,
    DamagedMap,
    OtherAccount,
    NoSuchPage,
    NoDataFolder,
    HugeMap
};

struct JobCase
{
    const char *name;
    bool open;
    Arrange arrange;
    const char *route; // of the fault, or nullptr
    Fault fault;
    int64_t step;
    const char *key; // the error told; empty: none
    int sent;        // requests to the route of the fault; without one, to the tree
};

class JobEnding : public WorkerJob, public ::testing::WithParamInterface<JobCase>
{
};

TEST_P(JobEnding, IsToldAndKeepsOnlyWholeLists)
{
    const JobCase &row = GetParam();
    MWorkerProperties properties = PageProperties(m_Page.id, row.open);
    properties.CogitraJsonForUpload = QStringLiteral("{}");
    properties.CogitraImageBase64ForUpload = PreviewPng();
    const QString container = QDir(g_AppDataDir.get()).filePath(QStringLiteral("ZetFile.gif"));
    if (row.arrange != Arrange::SignedOut)
        SignIn();
    // A save knows its page unless the row is about locating it.
    if (!row.open && row.step > 21)
        g_OnlinePageId.set(m_Page.id);
    switch (row.arrange) {
    case Arrange::MapOnPage:
    case Arrange::Rendition:
    case Arrange::EmptyMap:
        PutMap(row.arrange == Arrange::EmptyMap ? QString() : AwkwardMapJson());
        ASSERT_TRUE(WriteWholeFile(container, "the container of an earlier open"));
        if (row.arrange == Arrange::Rendition)
            m_Service->setFault(QStringLiteral("pageContent"),
                                {.kind = FaultKind::OptimizedImages});
        break;
    case Arrange::DamagedMap:
        // An image with the map's alternative text whose bytes are no container.
        ASSERT_TRUE(
            m_Service->patchPage(m_Page.id, MPageContent::UpdateBody(QString(), PreviewPng(),
                                                                     QStringLiteral("ZetGif"))));
        break;
    case Arrange::OtherAccount:
        g_AccountId.set(QStringLiteral("0123456789ABCDEF"));
        break;
    case Arrange::NoSuchPage:
        properties.Page.clientId = QStringLiteral("00000000-0000-0000-0000-000000000000");
        break;
    case Arrange::NoDataFolder: // the container cannot be written
        g_AppDataDir.set(m_AppDir.filePath(QStringLiteral("missing/folder")));
        break;
    case Arrange::HugeMap: // past what the service takes in one request (413)
        properties.CogitraJsonForUpload
            = QStringLiteral("{\"t\":\"") + QString(13 * 1024 * 1024, u'x') + u"\"}";
        break;
    case Arrange::SignedIn:
    case Arrange::SignedOut:
        break;
    }
    if (row.route)
        m_Service->setFault(QString::fromLatin1(row.route), row.fault);
    RunJob(properties);

    ExpectOutcome(row.step, row.key);
    // Only a refused token is renewed, once, and the read sent again with the new one.
    const bool renewed = row.fault.kind == FaultKind::ExpiredToken;
    EXPECT_EQ(g_AccessToken.get() != m_AccessToken, renewed);
    EXPECT_EQ(Count("/common/oauth2/v2.0/token"), renewed ? 1 : 0);
    const std::vector<Request> requests = Requests();
    EXPECT_EQ(requests.empty(), row.arrange == Arrange::SignedOut);
    if (!requests.empty()) {
        EXPECT_EQ(requests.back().header("Authorization"),
                  "Bearer " + g_AccessToken.get().toUtf8());
    }
    // A page whose content cannot be read is no page to save to either.
    const bool located = row.open ? row.step == -100 || row.step <= -22 : row.step > 21;
    EXPECT_EQ(g_OnlinePageId.get(), located ? m_Page.id : QString());
    const bool shown = row.step == -100
                       && (row.arrange == Arrange::MapOnPage || row.arrange == Arrange::Rendition);
    EXPECT_EQ(g_DownloadedMapJson.get(), shown ? AwkwardMapJson() : QString());
    // The last open's container is replaced only by one that arrives or is packed for a save.
    const bool written = row.open ? row.step == -100 || row.step == -24 : row.step > 25;
    EXPECT_EQ(ReadWholeFile(container) == "the container of an earlier open",
              row.arrange == Arrange::MapOnPage && !written);
    if (!row.open && row.arrange != Arrange::MapOnPage) {
        EXPECT_EQ(m_Service->pageHtml(m_Page.id).count(QStringLiteral("<img")), row.step > 24);
    }
    EXPECT_EQ(std::ranges::count(requests, QString::fromLatin1(row.route ? row.route : "notebooks"),
                                 &Request::route),
              row.sent);
    EXPECT_EQ(g_NextTryAtMs.load(), 0);
    if (row.fault.kind == FaultKind::Throttle) {
        // Retry-After (10 s, scaled down for tests) is the pause, announced while it lasts.
        const auto throttled
            = std::ranges::find(requests, QString::fromLatin1(row.route), &Request::route);
        ASSERT_NE(throttled, requests.end());
        const int64_t ahead = m_NextTryAt - throttled->received.toMSecsSinceEpoch();
        EXPECT_TRUE(ahead >= 100 && ahead < 1000) << ahead;
    }
    // What is cached is a list, never an error reply or a garbled one.
    const std::optional<QByteArray> tree
        = LoadFromCacheFile(QStringLiteral("NotebooksSeccions.json"), 6);
    const std::optional<QByteArray> list = LoadFromCacheFile(m_Section.id + u".json", 3);
    const bool fetched = Count(k_TreeTarget) > 0;
    EXPECT_EQ(tree.has_value(), row.step != 10 && fetched);
    EXPECT_EQ(list.has_value(),
              fetched && (located || row.step == -21 || row.arrange == Arrange::NoSuchPage));
    for (const std::optional<QByteArray> &kept : {tree, list})
        EXPECT_TRUE(!kept || QJsonDocument::fromJson(*kept).object().contains(u"value"));
    if (row.arrange != Arrange::MapOnPage)
        return;
    // Whatever the ending, the page holds one whole map and one picture.
    m_Service->clearFaults();
    Reset();
    Open(m_Page.id);
    ExpectOutcome(-100, "");
    EXPECT_EQ(g_DownloadedMapJson.get(), row.step == 100 ? QStringLiteral("{}") : AwkwardMapJson());
    EXPECT_EQ(m_Service->pageResources(m_Page.id).size(), 2u);
}

constexpr const char *k_Lists = "errGetNotebooksSections";

// clang-format off
INSTANTIATE_TEST_SUITE_P(Steps, JobEnding, ::testing::Values(
    JobCase{"PageWithoutAMap", true, Arrange::SignedIn, nullptr, {}, -22, "", 1},
    JobCase{"EmptyMap", true, Arrange::EmptyMap, nullptr, {}, -100, "", 1},
    JobCase{"WithoutTokenOrCodeNothingIsSent", true, Arrange::SignedOut, nullptr, {}, -20, "errGetServerPageId", 0},
    // Three attempts at the tree, and no more.
    JobCase{"TreeRefusedThrice", true, Arrange::SignedIn, "notebooks", {.status = 500}, 10, k_Lists, 3},
    JobCase{"TreeDroppedTwice", true, Arrange::MapOnPage, "notebooks", {.kind = FaultKind::Drop, .times = 2}, -100, "", 3},
    JobCase{"GarbledTreeRetried", true, Arrange::SignedIn, "notebooks", {.kind = FaultKind::Malformed, .times = 1}, -22, "", 2},
    // A list not read is told as such, not as a page that is missing.
    JobCase{"GarbledPageList", true, Arrange::SignedIn, "sectionPages", {.kind = FaultKind::Malformed, .times = 1}, 11, k_Lists, 1},
    JobCase{"PageListRefused", true, Arrange::SignedIn, "sectionPages", {.status = 500, .times = 1}, 11, k_Lists, 1},
    JobCase{"AnotherAccountsTree", true, Arrange::OtherAccount, nullptr, {}, 11, "errAccountDiff", 1},
    JobCase{"PageInNoSection", true, Arrange::NoSuchPage, nullptr, {}, 11, "", 1},
    JobCase{"PageUnreadable", true, Arrange::SignedIn, "pageContent", {.status = 500}, -21, "errGetContentError", 1},
    JobCase{"TokenRefusedTwice", true, Arrange::SignedIn, "pageContent", {.kind = FaultKind::ExpiredToken}, -21, "errGetContentError", 2},
    // A whole reply with a 2xx status whose body is only the first half of the container.
    JobCase{"ContainerCutShort", true, Arrange::MapOnPage, "resource", {.kind = FaultKind::Malformed, .times = 1}, -24, "errMapUnreadable", 1},
    JobCase{"DownloadRefused", true, Arrange::MapOnPage, "resource", {.status = 404}, -23, "errDownloadFailed", 1},
    // The open asks once for the original, and what that one holds decides.
    JobCase{"RenditionThenTheOriginal", true, Arrange::Rendition, nullptr, {}, -100, "", 1},
    JobCase{"RenditionThenAGarbledOriginal", true, Arrange::Rendition, "resource", {.kind = FaultKind::Malformed, .times = 1, .skip = 1}, -24, "errMapUnreadable", 2},
    JobCase{"RenditionWithoutTheOriginal", true, Arrange::Rendition, "resource", {.status = 404, .times = 1, .skip = 1}, -24, "errDownloadFailed", 2},
    JobCase{"NoContainerBehindTheImage", true, Arrange::DamagedMap, nullptr, {}, -24, "errMapUnreadable", 1},
    JobCase{"SaveNotLocated", false, Arrange::OtherAccount, nullptr, {}, 20, "errGetServerPageId", 1},
    JobCase{"SaveSignedOutEndsAtTheContentRead", false, Arrange::SignedOut, nullptr, {}, 22, "errGetContentError", 0},
    JobCase{"SavePackingFailure", false, Arrange::NoDataFolder, nullptr, {}, 25, "errPackageFailed", 0},
    JobCase{"SaveRefusedContainer", false, Arrange::HugeMap, nullptr, {}, 30, "errUploadFailed", 0},
    JobCase{"TreeThrottled", true, Arrange::MapOnPage, "notebooks", {.status = 429, .times = 3}, -100, "", 4},
    JobCase{"PageListBusy", true, Arrange::MapOnPage, "sectionPages", {.status = 503, .times = 2}, -100, "", 3},
    JobCase{"ReadTimedOutAtTheGateway", true, Arrange::MapOnPage, "pageContent", {.status = 504, .times = 4}, -100, "", 5},
    JobCase{"ReadThrottledWithRetryAfter", true, Arrange::MapOnPage, "pageContent", {.kind = FaultKind::Throttle, .times = 1}, -100, "", 2},
    JobCase{"DownloadThrottled", true, Arrange::MapOnPage, "resource", {.status = 429, .times = 1}, -100, "", 2},
    JobCase{"TreeStaysBusy", true, Arrange::MapOnPage, "notebooks", {.status = 503}, 10, "errServiceBusy", 1 + k_MaxRetries},
    // Two throttled reads, the read and the read back after the save.
    JobCase{"SaveReadsThrottled", false, Arrange::MapOnPage, "pageContent", {.status = 429, .times = 2}, 100, "", 4},
    JobCase{"UpdatesThrottled", false, Arrange::MapOnPage, "patchContent", {.status = 429, .times = 2}, 100, "", 4},
    JobCase{"UpdateBusy", false, Arrange::MapOnPage, "patchContent", {.status = 503, .times = 1}, 100, "", 3},
    JobCase{"MapUpdateStaysThrottled", false, Arrange::MapOnPage, "patchContent", {.status = 429, .skip = 1}, 30, "errServiceBusy", 2 + k_MaxRetries},
    JobCase{"UpdateTimedOutAtTheGateway", false, Arrange::MapOnPage, "patchContent", {.status = 504, .times = 1}, 24, "errUploadFailed", 1}),
    [](const auto &param) { return std::string(param.param.name); });
// clang-format on

// A stopped read (the page picker closed) ends the request under way and sends nothing after it.
TEST_F(WorkerJob, AStoppedReadEndsWithTheRequestUnderWay)
{
    qputenv("COGITRA_REQUEST_TIMEOUT_MS", "20000");
    SignIn();
    m_Service->setFault(QStringLiteral("notebooks"), {.kind = FaultKind::Slow, .delayMs = 30'000});
    std::stop_source stop;
    MGraphReply reply;
    MPageTree tree;
    std::thread reader([&] {
        MOnlineClients clients(stop.get_token());
        reply = clients.graph.Send({.url = m_Service->rootUrl() + QLatin1String(k_TreeTarget),
                                    .form = MUrlForm::ServiceUrl});
        tree = ReadPageTree(clients, {QString(), QString(), true});
    });
    for (int i = 0; i < 1000 && Count(k_TreeTarget) == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    stop.request_stop();
    reader.join();
    EXPECT_EQ(reply.http.error.code, -999); // NSURLErrorCancelled, not timed out
    EXPECT_EQ(tree.failure, MPageTree::Failure::Notebooks);
    EXPECT_EQ(Count(k_TreeTarget), 1);
}

// The cache serves one account (replies cached before one was recorded are fetched anew); pages
// made later, past a long section's first reply, in a group or a second notebook of one name are
// found.
TEST_F(WorkerJob, PagesAreFoundWhereverTheyAreAndTheCacheServesOneAccount)
{
    // The same names as the first account's: only the account tells the trees apart.
    const Service::Account other
        = m_Service
              ->createAccount(QStringLiteral("blake.example@outlook.com"), QStringLiteral("secret"),
                              QStringLiteral("Blake Example"))
              .value();
    const QString notebook = m_Service->createNotebook(other.cid, m_Notebook.name)->id;
    const Service::Section otherSection
        = m_Service->createSection(notebook, {}, m_Section.name).value();
    const QString otherPage = m_Service->createPage(otherSection.id, m_Page.title)->id;
    // Opens the page, which holds no map: the open ends once it is located.
    const auto openLocated = [this](const QString &pageId) {
        ClearRequests();
        g_OnlinePageId.set(QString());
        MWorkerProperties properties = PageProperties(pageId, true);
        properties.Page.notebookName = properties.Page.notebookName.toLower();
        RunJob(properties);
        ExpectOutcome(-22, "");
        EXPECT_EQ(g_OnlinePageId.get(), pageId);
    };

    const QByteArray list = SectionPagesTarget(m_Section.id);
    SignIn();
    openLocated(m_Page.id);
    SignIn(other, otherPage);
    openLocated(otherPage);
    EXPECT_EQ(Targets().mid(0, 2),
              (QList<QByteArray>{k_TreeTarget, SectionPagesTarget(otherSection.id)}));
    ASSERT_TRUE(QFile::remove(CacheFile(QString::fromLatin1(k_CacheAccountFile))));
    SignIn();
    openLocated(m_Page.id);
    EXPECT_EQ(Targets().mid(0, 2), (QList<QByteArray>{k_TreeTarget, list}));
    // Only the account now signed in has replies kept.
    EXPECT_FALSE(QFile::exists(CacheFile(otherSection.id + QStringLiteral(".json"))));
    EXPECT_TRUE(QFile::exists(CacheFile(m_Section.id + QStringLiteral(".json"))));
    // The same account again: the cache answers.
    openLocated(m_Page.id);
    EXPECT_EQ(Count(k_TreeTarget) + Count(list), 0);

    const QString fresh = m_Service->createPage(m_Section.id, QStringLiteral("Made later"))->id;
    openLocated(fresh);
    EXPECT_EQ(Targets().mid(0, 1), QList<QByteArray>{list}); // the tree from the cache
    EXPECT_EQ(Count(list), 1);
    openLocated(fresh);
    EXPECT_EQ(Count(list), 0);
    MWorkerProperties absent = PageProperties(fresh, true);
    absent.Page.clientId = QStringLiteral("{00000000-0000-0000-0000-000000000000}");
    ClearRequests();
    for (int look = 1; look <= 2; ++look) {
        RunJob(absent);
        ExpectOutcome(11, "");
        EXPECT_EQ(Count(list), look);
    }

    const QString archive
        = m_Service->createSection(m_Notebook.id, {}, QStringLiteral("Archive"))->id;
    QString late;
    for (int i = 0; i < 130; ++i) {
        const QString id = m_Service->createPage(archive, QStringLiteral("Page %1").arg(i))->id;
        late = i == 120 ? id : late;
    }
    const QString group
        = m_Service->createSectionGroup(m_Notebook.id, {}, QStringLiteral("Projects"))->id;
    const QString team
        = m_Service->createSection(m_Notebook.id, group, QStringLiteral("A Team"))->id;
    const QString kickoff = m_Service->createPage(team, QStringLiteral("Kickoff"))->id;
    const QString twinBook
        = m_Service->createNotebook(m_Account.cid, QStringLiteral("Work Notes"))->id;
    const QString twinSection
        = m_Service->createSection(twinBook, {}, QStringLiteral("Meetings"))->id;
    const QString twin = m_Service->createPage(twinSection, QStringLiteral("Twin"))->id;

    for (const QString &id : {kickoff, twin, late}) {
        Reset();
        openLocated(id);
        // The first notebook's section is listed, finds nothing, and the second's follows.
        if (id == twin) {
            EXPECT_EQ(Targets().mid(1, 2), (QList<QByteArray>{SectionPagesTarget(m_Section.id),
                                                              SectionPagesTarget(twinSection)}));
        }
    }
    // The long section's list is kept whole, without its next link.
    const QJsonObject merged
        = QJsonDocument::fromJson(LoadFromCacheFile(archive + u".json", 3).value_or("")).object();
    EXPECT_EQ(merged.value(u"value").toArray().size(), 130);
    EXPECT_FALSE(merged.contains(u"@odata.nextLink"));
}

} // namespace
