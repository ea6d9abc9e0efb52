#include "OnlineTestSupport.h"

#include "attachment/TZetGifAttachment.h"
#include "online/MEndpoints.h"
#include "online/MReplyCache.h"
#include "online/MTokenClient.h"
#include "util/MGlobals.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

using namespace Cogitra;
using namespace Cogitra::Testing;

namespace {

using Service::Fault;
using Service::FaultKind;

class OpenJob : public OnlineTest
{
protected:
    // Puts a map on the page the way a save does, then forgets the save's traces.
    void PutMap(const QString &json)
    {
        SignIn();
        Save(m_Page.id, json, PreviewPng());
        ASSERT_EQ(g_StepCode.load(), 100);
        ClearRequests();
        ClearCache();
        g_OnlinePageId.set(QString());
    }

    void ExpectOutcome(int64_t step, int64_t error, const char *key)
    {
        EXPECT_EQ(g_StepCode.load(), step);
        EXPECT_EQ(g_ErrorCode.load(), error);
        EXPECT_EQ(g_ErrorMessageKey.get(), QString::fromLatin1(key));
    }

    [[nodiscard]] QByteArray ContentTarget() const
    {
        return "/v1.0/me/onenote/pages/" + m_Page.id.toUtf8() + "/content?includeIDs=true";
    }
};

TEST_F(OpenJob, FirstOpenLocatesReadsAndDownloadsThenTheCacheServesTheLists)
{
    PutMap(AwkwardMapJson());
    // Values already held are not asked for again, even with a code at hand.
    g_AuthCode.set(QStringLiteral("unused"));
    Open(m_Page.id);

    ExpectOutcome(-100, 0, "");
    EXPECT_EQ(g_DownloadedMapJson.get(), AwkwardMapJson());
    EXPECT_EQ(g_OnlinePageId.get(), m_Page.id);
    EXPECT_EQ(g_PageTitle.get(), QStringLiteral("Weekly sync"));
    const QByteArray download
        = TargetOf(TZetGifAttachment::GetZetGifUrlFromPageHtml(m_Service->pageHtml(m_Page.id)));
    const QList<QByteArray> expected
        = {k_TreeTarget, SectionPagesTarget(m_Section.id).toUtf8(), ContentTarget(), download};
    // The same section again: both lists from the cache.
    for (const QList<QByteArray> &targets : {expected, expected.mid(2)}) {
        if (targets.size() == 2) {
            ClearRequests();
            Open(m_Page.id);
            ExpectOutcome(-100, 0, "");
            EXPECT_EQ(g_DownloadedMapJson.get(), AwkwardMapJson());
        }
        const std::vector<Request> requests = Requests();
        ASSERT_EQ(requests.size(), size_t(targets.size()));
        for (size_t i = 0; i < requests.size(); ++i) {
            EXPECT_EQ(requests[i].method, QStringLiteral("GET"));
            EXPECT_EQ(requests[i].target, targets[qsizetype(i)]);
            EXPECT_EQ(requests[i].authorization, "Bearer " + m_AccessToken.toUtf8());
            EXPECT_EQ(ClientHeaderNames(requests[i]), QList<QByteArray>{"authorization"});
            EXPECT_TRUE(requests[i].body.isEmpty());
        }
    }
}

// An open that ends early or fails at one step: what it tells, what it sends, and that a
// reply that is no list never stands in for one in the cache.
enum class Arrange {
    SignedIn,
    SignedOut,
    MapOnPage,
    EmptyMap,
    DamagedMap,
    OtherAccount,
    NoSuchPage
};

struct OpenCase
{
    const char *name;
    Arrange arrange;
    const char *route; // of the fault, or nullptr
    Fault fault;
    int64_t step;
    const char *key; // the error told; empty: none
    int trees;       // tree requests sent
};

class OpenOutcome : public OpenJob, public ::testing::WithParamInterface<OpenCase>
{
};

TEST_P(OpenOutcome, IsToldAndKeepsOnlyWholeLists)
{
    const OpenCase &row = GetParam();
    MWorkerProperties properties = PageProperties(m_Page.id, true);
    switch (row.arrange) {
    case Arrange::SignedOut:
        break;
    case Arrange::MapOnPage:
    case Arrange::EmptyMap:
        PutMap(row.arrange == Arrange::MapOnPage ? AwkwardMapJson() : QString());
        ASSERT_TRUE(WriteWholeFile(QDir(g_AppDataDir.get()).filePath(QStringLiteral("ZetFile.gif")),
                                   "the container of an earlier open"));
        break;
    case Arrange::DamagedMap:
        SignIn();
        // An image with the map's alternative text whose bytes are no container.
        ASSERT_TRUE(m_Service->patchPage(
            m_Page.id, "[{'target':'body','action':'append','content':'<div><img alt=\"ZetGif\" "
                       "src=\"data:image/png;base64,"
                           + PreviewPng().toLatin1() + "\" /></div>'}]"));
        break;
    case Arrange::OtherAccount:
        SignIn();
        g_AccountId.set(QStringLiteral("0123456789ABCDEF"));
        break;
    case Arrange::NoSuchPage:
        SignIn();
        properties.Page.clientId = QStringLiteral("00000000-0000-0000-0000-000000000000");
        break;
    case Arrange::SignedIn:
        SignIn();
        break;
    }
    if (row.route)
        m_Service->setFault(QString::fromLatin1(row.route), row.fault);
    RunJob(properties);

    ExpectOutcome(row.step, *row.key ? row.step : 0, row.key);
    EXPECT_EQ(g_AccessToken.get(), m_AccessToken); // no refresh for these failures
    // A page whose content cannot be read is no page to save to either.
    const bool located = row.step == -100 || row.step <= -22;
    EXPECT_EQ(g_OnlinePageId.get(), located ? m_Page.id : QString());
    const bool shown = row.step == -100 && row.arrange == Arrange::MapOnPage;
    EXPECT_EQ(g_DownloadedMapJson.get(), shown ? AwkwardMapJson() : QString());
    // A failed download leaves the container of the last open.
    const std::optional<QByteArray> container
        = ReadWholeFile(QDir(g_AppDataDir.get()).filePath(QStringLiteral("ZetFile.gif")));
    EXPECT_EQ(row.arrange == Arrange::MapOnPage && row.step == -23,
              container == "the container of an earlier open");
    int trees = 0;
    for (const Request &request : Requests())
        trees += request.target == k_TreeTarget;
    EXPECT_EQ(trees, row.trees);
    EXPECT_EQ(Requests().empty(), row.arrange == Arrange::SignedOut);
    // What is cached is a list, never an error reply or a garbled one.
    const std::optional<QByteArray> tree
        = LoadFromCacheFile(QStringLiteral("NotebooksSeccions.json"), 6);
    const std::optional<QByteArray> list = LoadFromCacheFile(m_Section.id + u".json", 3);
    EXPECT_EQ(tree.has_value(), row.step != 10 && row.trees > 0);
    EXPECT_EQ(list.has_value(), located || row.step == -21 || row.arrange == Arrange::NoSuchPage);
    for (const std::optional<QByteArray> &kept : {tree, list})
        EXPECT_TRUE(!kept || QJsonDocument::fromJson(*kept).object().contains(u"value"));
}

constexpr const char *k_Lists = "errGetNotebooksSections";

INSTANTIATE_TEST_SUITE_P(
    Steps, OpenOutcome,
    ::testing::Values(
        OpenCase{"PageWithoutAMap", Arrange::SignedIn, nullptr, {}, -22, "", 1},
        OpenCase{"EmptyMap", Arrange::EmptyMap, nullptr, {}, -100, "", 1},
        OpenCase{"WithoutTokenOrCodeNothingIsSent",
                 Arrange::SignedOut,
                 nullptr,
                 {},
                 -20,
                 "errGetServerPageId",
                 0},
        // Three attempts at the tree, and no more.
        OpenCase{"TreeRefusedThrice",
                 Arrange::SignedIn,
                 "notebooks",
                 {.kind = FaultKind::Status, .status = 500},
                 10,
                 k_Lists,
                 3},
        OpenCase{"TreeDroppedTwice",
                 Arrange::MapOnPage,
                 "notebooks",
                 {.kind = FaultKind::Drop, .times = 2},
                 -100,
                 "",
                 3},
        OpenCase{"GarbledTreeRetried",
                 Arrange::SignedIn,
                 "notebooks",
                 {.kind = FaultKind::Malformed, .times = 1},
                 -22,
                 "",
                 2},
        // A list not read is told as such, not as a page that is missing.
        OpenCase{"GarbledPageList",
                 Arrange::SignedIn,
                 "sectionPages",
                 {.kind = FaultKind::Malformed, .times = 1},
                 11,
                 k_Lists,
                 1},
        OpenCase{"PageListRefused",
                 Arrange::SignedIn,
                 "sectionPages",
                 {.kind = FaultKind::Status, .status = 500, .times = 1},
                 11,
                 k_Lists,
                 1},
        OpenCase{
            "AnotherAccountsTree", Arrange::OtherAccount, nullptr, {}, 11, "errAccountDiff", 1},
        OpenCase{"PageInNoSection", Arrange::NoSuchPage, nullptr, {}, 11, "", 1},
        OpenCase{"PageUnreadable",
                 Arrange::SignedIn,
                 "pageContent",
                 {.kind = FaultKind::Status, .status = 500},
                 -21,
                 "errGetContentError",
                 1},
        // A whole reply with a 2xx status whose body is only the first half of the container.
        OpenCase{"ContainerCutShort",
                 Arrange::MapOnPage,
                 "resource",
                 {.kind = FaultKind::Malformed, .times = 1},
                 -24,
                 "errMapUnreadable",
                 1},
        OpenCase{"DownloadRefused",
                 Arrange::MapOnPage,
                 "resource",
                 {.kind = FaultKind::Status, .status = 404},
                 -23,
                 "errDownloadFailed",
                 1},
        OpenCase{"NoContainerBehindTheImage",
                 Arrange::DamagedMap,
                 nullptr,
                 {},
                 -24,
                 "errMapUnreadable",
                 1}),
    [](const auto &param) { return std::string(param.param.name); });

// A token the service refuses is renewed once and the request sent once more with the new
// one; refused again, the read fails rather than renewing without end.
TEST_F(OpenJob, RefusedTokenIsRenewedOnceThenTheReadFails)
{
    SignIn();
    Service::Fault fault;
    fault.kind = Service::FaultKind::ExpiredToken;
    m_Service->setFault(QStringLiteral("pageContent"), fault);
    Open(m_Page.id);

    ExpectOutcome(-21, -21, "errGetContentError");
    const std::vector<Request> requests = Requests();
    ASSERT_EQ(requests.size(), 5u); // tree, list, content, one refresh, content once more
    EXPECT_EQ(requests[2].target, ContentTarget());
    EXPECT_EQ(requests[3].method, QStringLiteral("POST"));
    EXPECT_EQ(requests[3].target, "/common/oauth2/v2.0/token");
    EXPECT_EQ(requests[3].body, MTokenClient::RefreshGrantBody(ClientId(), m_RefreshToken));
    EXPECT_EQ(requests[4].target, ContentTarget());
    EXPECT_NE(g_AccessToken.get(), m_AccessToken);
    EXPECT_EQ(requests[4].authorization, "Bearer " + g_AccessToken.get().toUtf8());
    EXPECT_EQ(ConfigValue(QStringLiteral("OnlineOneNoteAccessToken")), g_AccessToken.get());
}

TEST_F(OpenJob, LongSectionIsReadPastItsFirstReply)
{
    SignIn();
    std::optional<Service::Section> big
        = m_Service->createSection(m_Notebook.id, QString(), QStringLiteral("Archive"));
    ASSERT_TRUE(big);
    QString target;
    for (int i = 0; i < 130; ++i) {
        std::optional<Service::Page> page
            = m_Service->createPage(big->id, QStringLiteral("Page %1").arg(i));
        ASSERT_TRUE(page);
        if (i == 120)
            target = page->id;
    }
    Open(target);

    EXPECT_EQ(g_OnlinePageId.get(), target);
    ExpectOutcome(-22, 0, "");
    const std::vector<Request> requests = Requests();
    ASSERT_GE(requests.size(), 4u);
    EXPECT_EQ(requests[1].target, SectionPagesTarget(big->id).toUtf8());
    EXPECT_TRUE(requests[2].target.startsWith("/v1.0/me/onenote/sections/"));
    EXPECT_NE(requests[2].target, requests[1].target);

    const std::optional<QByteArray> cached
        = LoadFromCacheFile(big->id + QStringLiteral(".json"), 3);
    ASSERT_TRUE(cached);
    const QJsonObject merged = QJsonDocument::fromJson(*cached).object();
    EXPECT_EQ(merged.value(QLatin1String("value")).toArray().size(), 130);
    EXPECT_FALSE(merged.contains(QLatin1String("@odata.nextLink")));
}

// The link of a grouped section names the group's folder, not the notebook.
TEST_F(OpenJob, SectionInsideASectionGroupIsFound)
{
    SignIn();
    std::optional<Service::SectionGroup> group
        = m_Service->createSectionGroup(m_Notebook.id, QString(), QStringLiteral("Projects"));
    ASSERT_TRUE(group);
    std::optional<Service::Section> section
        = m_Service->createSection(m_Notebook.id, group->id, QStringLiteral("A Team"));
    ASSERT_TRUE(section);
    std::optional<Service::Page> page
        = m_Service->createPage(section->id, QStringLiteral("Kickoff"));
    ASSERT_TRUE(page);
    EXPECT_EQ(PageProperties(page->id, true).Page.notebookName, QStringLiteral("Projects"));

    Open(page->id);
    EXPECT_EQ(g_OnlinePageId.get(), page->id);
    ExpectOutcome(-22, 0, "");
}

TEST_F(OpenJob, SecondNotebookOfTheSameNameIsSearchedToo)
{
    SignIn();
    std::optional<Service::Notebook> twin
        = m_Service->createNotebook(m_Account.cid, QStringLiteral("Work Notes"));
    ASSERT_TRUE(twin);
    std::optional<Service::Section> section
        = m_Service->createSection(twin->id, QString(), QStringLiteral("Meetings"));
    ASSERT_TRUE(section);
    std::optional<Service::Page> page = m_Service->createPage(section->id, QStringLiteral("Twin"));
    ASSERT_TRUE(page);
    MWorkerProperties properties = PageProperties(page->id, true);
    properties.Page.notebookName = QStringLiteral("work notes");
    RunJob(properties);
    EXPECT_EQ(g_OnlinePageId.get(), page->id);
    std::vector<QByteArray> lists;
    for (const Request &request : Requests()) {
        if (request.target.endsWith("/pages?top=100"))
            lists.push_back(request.target);
    }
    // The first notebook's section is listed, finds nothing, and the second's follows.
    ASSERT_EQ(lists.size(), 2u);
    EXPECT_EQ(lists[0], SectionPagesTarget(m_Section.id).toUtf8());
    EXPECT_EQ(lists[1], SectionPagesTarget(section->id).toUtf8());
}

} // namespace
