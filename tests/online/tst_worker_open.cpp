#include "OnlineTestSupport.h"

#include "attachment/TZetGifAttachment.h"
#include "onenote/MOLONUtils.h"
#include "online/MEndpoints.h"
#include "online/MReplyCache.h"
#include "online/MTokenClient.h"
#include "util/MGlobals.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

using namespace Cogitra;
using namespace Cogitra::Testing;

namespace {

using Service::Fault;

using OpenJob = OnlineTest;

TEST_F(OpenJob, FirstOpenLocatesReadsAndDownloadsThenTheCacheServesTheLists)
{
    PutMap(AwkwardMapJson());
    // Values already held are not asked for again, even with a code at hand.
    g_AuthCode.set(QStringLiteral("unused"));
    const QByteArray download
        = TargetOf(TZetGifAttachment::GetZetGifUrlFromPageHtml(m_Service->pageHtml(m_Page.id)));
    const QList<QByteArray> expected
        = {k_TreeTarget, SectionPagesTarget(m_Section.id).toUtf8(), ContentTarget(), download};
    // The same section again: both lists from the cache.
    for (const QList<QByteArray> &targets : {expected, expected.mid(2)}) {
        ClearRequests();
        Open(m_Page.id);
        ExpectOutcome(-100, "");
        EXPECT_EQ(g_DownloadedMapJson.get(), AwkwardMapJson());
        EXPECT_EQ(g_OnlinePageId.get(), m_Page.id);
        EXPECT_EQ(g_PageTitle.get(), QStringLiteral("Weekly sync"));
        EXPECT_EQ(Targets(), targets);
        ExpectAuthorized(m_AccessToken);
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

    ExpectOutcome(row.step, row.key);
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
    EXPECT_EQ(Count(k_TreeTarget), row.trees);
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

using Service::FaultKind;

// clang-format off
INSTANTIATE_TEST_SUITE_P(Steps, OpenOutcome, ::testing::Values(
    OpenCase{"PageWithoutAMap", Arrange::SignedIn, nullptr, {}, -22, "", 1},
    OpenCase{"EmptyMap", Arrange::EmptyMap, nullptr, {}, -100, "", 1},
    OpenCase{"WithoutTokenOrCodeNothingIsSent", Arrange::SignedOut, nullptr, {}, -20, "errGetServerPageId", 0},
    // Three attempts at the tree, and no more.
    OpenCase{"TreeRefusedThrice", Arrange::SignedIn, "notebooks", {.status = 500}, 10, k_Lists, 3},
    OpenCase{"TreeDroppedTwice", Arrange::MapOnPage, "notebooks", {.kind = FaultKind::Drop, .times = 2}, -100, "", 3},
    OpenCase{"GarbledTreeRetried", Arrange::SignedIn, "notebooks", {.kind = FaultKind::Malformed, .times = 1}, -22, "", 2},
    // A list not read is told as such, not as a page that is missing.
    OpenCase{"GarbledPageList", Arrange::SignedIn, "sectionPages", {.kind = FaultKind::Malformed, .times = 1}, 11, k_Lists, 1},
    OpenCase{"PageListRefused", Arrange::SignedIn, "sectionPages", {.status = 500, .times = 1}, 11, k_Lists, 1},
    OpenCase{"AnotherAccountsTree", Arrange::OtherAccount, nullptr, {}, 11, "errAccountDiff", 1},
    OpenCase{"PageInNoSection", Arrange::NoSuchPage, nullptr, {}, 11, "", 1},
    OpenCase{"PageUnreadable", Arrange::SignedIn, "pageContent", {.status = 500}, -21, "errGetContentError", 1},
    // A whole reply with a 2xx status whose body is only the first half of the container.
    OpenCase{"ContainerCutShort", Arrange::MapOnPage, "resource", {.kind = FaultKind::Malformed, .times = 1}, -24, "errMapUnreadable", 1},
    OpenCase{"DownloadRefused", Arrange::MapOnPage, "resource", {.status = 404}, -23, "errDownloadFailed", 1},
    OpenCase{"NoContainerBehindTheImage", Arrange::DamagedMap, nullptr, {}, -24, "errMapUnreadable", 1}),
    [](const auto &param) { return std::string(param.param.name); });
// clang-format on

// A token the service refuses is renewed once and the request sent once more with the new
// one; refused again, the read fails rather than renewing without end.
TEST_F(OpenJob, RefusedTokenIsRenewedOnceThenTheReadFails)
{
    SignIn();
    m_Service->setFault(QStringLiteral("pageContent"), {.kind = Service::FaultKind::ExpiredToken});
    Open(m_Page.id);

    ExpectOutcome(-21, "errGetContentError");
    const QList<QByteArray> token = {"/common/oauth2/v2.0/token"};
    EXPECT_EQ(Targets().mid(2),
              QList<QByteArray>({ContentTarget()}) + token + QList{ContentTarget()});
    const std::vector<Request> requests = Requests();
    ASSERT_EQ(requests.size(), 5u);
    EXPECT_EQ(requests[3].method, QStringLiteral("POST"));
    EXPECT_EQ(requests[3].body, MTokenClient::RefreshGrantBody(ClientId(), m_RefreshToken));
    EXPECT_NE(g_AccessToken.get(), m_AccessToken);
    EXPECT_EQ(requests[4].header("Authorization"), "Bearer " + g_AccessToken.get().toUtf8());
    EXPECT_EQ(ConfigValue(QStringLiteral("OnlineOneNoteAccessToken")), g_AccessToken.get());
}

// Pages past the first reply of a long section, in a section group (whose link names the
// group's folder, not the notebook), and in the second of two notebooks of one name.
TEST_F(OpenJob, PagesAreFoundWhereverTheirSectionIs)
{
    SignIn();
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
    EXPECT_EQ(PageProperties(kickoff, true).Page.notebookName, QStringLiteral("Projects"));
    const QString twinBook
        = m_Service->createNotebook(m_Account.cid, QStringLiteral("Work Notes"))->id;
    const QString twinSection
        = m_Service->createSection(twinBook, {}, QStringLiteral("Meetings"))->id;
    const QString twin = m_Service->createPage(twinSection, QStringLiteral("Twin"))->id;

    for (const QString &id : {kickoff, twin, late}) {
        Reset();
        MWorkerProperties properties = PageProperties(id, true);
        properties.Page.notebookName = properties.Page.notebookName.toLower();
        RunJob(properties);
        EXPECT_EQ(g_OnlinePageId.get(), id);
        ExpectOutcome(-22, "");
        // The first notebook's section is listed, finds nothing, and the second's follows.
        if (id == twin) {
            EXPECT_EQ(Targets().mid(1, 2),
                      (QList<QByteArray>{SectionPagesTarget(m_Section.id).toUtf8(),
                                         SectionPagesTarget(twinSection).toUtf8()}));
        }
    }
    // The long section's list is kept whole, without its next link.
    const QJsonObject merged
        = QJsonDocument::fromJson(LoadFromCacheFile(archive + u".json", 3).value_or("")).object();
    EXPECT_EQ(merged.value(u"value").toArray().size(), 130);
    EXPECT_FALSE(merged.contains(u"@odata.nextLink"));
}

// The cache holds one account's replies; a second account on the machine never reads them.
class CachedAccounts : public OnlineTest
{
protected:
    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(OnlineTest::SetUp());
        m_Other = m_Service
                      ->createAccount(QStringLiteral("blake.example@outlook.com"),
                                      QStringLiteral("secret"), QStringLiteral("Blake Example"))
                      .value();
        // The same names as the first account's: only the account tells the trees apart.
        const QString notebook = m_Service->createNotebook(m_Other.cid, m_Notebook.name)->id;
        m_OtherSection = m_Service->createSection(notebook, {}, m_Section.name).value();
        m_OtherPage = m_Service->createPage(m_OtherSection.id, m_Page.title).value();
    }

    void SignInAsOther() { SignIn(m_Other, m_OtherPage.id); }

    // Opens the page, which holds no map: the open ends once it is located.
    void OpenLocated(const QString &pageId)
    {
        ClearRequests();
        g_OnlinePageId.set(QString());
        Open(pageId);
        ExpectOutcome(-22, "");
        EXPECT_EQ(g_OnlinePageId.get(), pageId);
    }

    Service::Account m_Other;
    Service::Section m_OtherSection;
    Service::Page m_OtherPage;
};

// A change of account fetches the tree and the lists anew, and so do replies cached before the
// account was recorded: another account's tree, left by a version that kept no account, would
// pass the account check of no page of ours, and must not stand for six minutes.
TEST_F(CachedAccounts, AChangeOfAccountFetchesTheTreeAndListsAnew)
{
    const QByteArray list = SectionPagesTarget(m_Section.id).toUtf8();
    SignIn();
    OpenLocated(m_Page.id);
    SignInAsOther();
    OpenLocated(m_OtherPage.id);
    EXPECT_EQ(Targets().mid(0, 2),
              (QList<QByteArray>{k_TreeTarget, SectionPagesTarget(m_OtherSection.id).toUtf8()}));
    ASSERT_TRUE(QFile::remove(CacheFile(QString::fromLatin1(k_CacheAccountFile))));
    SignIn();
    OpenLocated(m_Page.id);
    EXPECT_EQ(Targets().mid(0, 2), (QList<QByteArray>{k_TreeTarget, list}));
    // Only the account now signed in has replies kept.
    EXPECT_FALSE(QFile::exists(CacheFile(m_OtherSection.id + QStringLiteral(".json"))));
    EXPECT_TRUE(QFile::exists(CacheFile(m_Section.id + QStringLiteral(".json"))));
    // The same account again: the cache answers.
    OpenLocated(m_Page.id);
    EXPECT_EQ(Count(k_TreeTarget) + Count(list), 0);
}

// The list fetched anew is kept: the next open of it costs no list request, and a page that
// is in no list costs one, not one per look.
TEST_F(CachedAccounts, APageMadeAfterItsListWasCachedCostsOneMoreListRequest)
{
    const QByteArray list = SectionPagesTarget(m_Section.id).toUtf8();
    SignIn();
    OpenLocated(m_Page.id);
    const QString fresh = m_Service->createPage(m_Section.id, QStringLiteral("Made later"))->id;
    OpenLocated(fresh);
    EXPECT_EQ(Targets().mid(0, 1), QList<QByteArray>{list}); // the tree from the cache
    EXPECT_EQ(Count(list), 1);
    OpenLocated(fresh);
    EXPECT_EQ(Count(list), 0);
    MWorkerProperties absent = PageProperties(fresh, true);
    absent.Page.clientId = QStringLiteral("{00000000-0000-0000-0000-000000000000}");
    ClearRequests();
    for (int look = 1; look <= 2; ++look) {
        RunJob(absent);
        ExpectOutcome(11, "");
        EXPECT_EQ(Count(list), look);
    }
}

} // namespace
