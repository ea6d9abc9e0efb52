#include "OnlineTestSupport.h"

#include "attachment/TZetGifAttachment.h"
#include "online/MReplyCache.h"
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
};

TEST_F(OpenJob, FirstOpenLocatesReadsAndDownloads)
{
    PutMap(AwkwardMapJson());
    Open(m_Page.id);

    ExpectOutcome(-100, 0, "");
    EXPECT_EQ(g_DownloadedMapJson.get(), AwkwardMapJson());
    EXPECT_EQ(g_OnlinePageId.get(), m_Page.id);
    EXPECT_EQ(g_PageTitle.get(), QStringLiteral("Weekly sync"));

    const std::vector<Request> requests = Requests();
    ASSERT_EQ(requests.size(), 4u);
    const QByteArray bearer = "Bearer " + m_AccessToken.toUtf8();
    EXPECT_EQ(requests[0].method, QStringLiteral("GET"));
    EXPECT_EQ(requests[0].target, k_TreeTarget);
    EXPECT_EQ(requests[1].target, SectionPagesTarget(m_Section.id).toUtf8());
    EXPECT_EQ(requests[2].target,
              "/v1.0/me/onenote/pages/" + m_Page.id.toUtf8() + "/content?includeIDs=true");
    EXPECT_EQ(requests[3].target, TargetOf(TZetGifAttachment::GetZetGifUrlFromPageHtml(
                                      m_Service->pageHtml(m_Page.id))));
    for (const Request &request : requests) {
        EXPECT_EQ(request.method, QStringLiteral("GET"));
        EXPECT_EQ(request.authorization, bearer);
        EXPECT_EQ(ClientHeaderNames(request), QList<QByteArray>{"authorization"});
        EXPECT_TRUE(request.body.isEmpty());
    }
    // Both list replies are kept, byte for byte as they came.
    EXPECT_TRUE(QFile::exists(CacheFile(QStringLiteral("NotebooksSeccions.json"))));
    EXPECT_TRUE(QFile::exists(CacheFile(m_Section.id + QStringLiteral(".json"))));
}

TEST_F(OpenJob, RepeatedOpenInTheSameSectionAsksTheCache)
{
    PutMap(AwkwardMapJson());
    Open(m_Page.id);
    ClearRequests();
    Open(m_Page.id);

    ExpectOutcome(-100, 0, "");
    EXPECT_EQ(g_DownloadedMapJson.get(), AwkwardMapJson());
    const std::vector<Request> requests = Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].target,
              "/v1.0/me/onenote/pages/" + m_Page.id.toUtf8() + "/content?includeIDs=true");
    EXPECT_EQ(requests[1].target, TargetOf(TZetGifAttachment::GetZetGifUrlFromPageHtml(
                                      m_Service->pageHtml(m_Page.id))));
    for (const Request &request : requests) {
        EXPECT_EQ(request.method, QStringLiteral("GET"));
        EXPECT_EQ(request.authorization, "Bearer " + m_AccessToken.toUtf8());
        EXPECT_TRUE(request.body.isEmpty());
    }
}

TEST_F(OpenJob, PageWithoutAMapEndsWithNothingToTell)
{
    SignIn();
    Open(m_Page.id);
    ExpectOutcome(-22, 0, "");
    EXPECT_TRUE(g_DownloadedMapJson.isEmpty());
    EXPECT_EQ(g_OnlinePageId.get(), m_Page.id);
    EXPECT_EQ(Requests().size(), 3u);
}

TEST_F(OpenJob, EmptyMapIsNotAnError)
{
    PutMap(QString());
    Open(m_Page.id);
    ExpectOutcome(-100, 0, "");
    EXPECT_TRUE(g_DownloadedMapJson.isEmpty());
}

TEST_F(OpenJob, WithoutTokenOrCodeNothingIsSent)
{
    Open(m_Page.id);
    ExpectOutcome(-20, -20, "errGetServerPageId");
    EXPECT_TRUE(Requests().empty());
}

TEST_F(OpenJob, NotebookTreeNotObtainedAfterThreeAttempts)
{
    SignIn();
    Service::Fault fault;
    fault.kind = Service::FaultKind::Status;
    fault.status = 500;
    m_Service->setFault(QStringLiteral("notebooks"), fault);
    Open(m_Page.id);

    ExpectOutcome(10, 10, "errGetNotebooksSections");
    const std::vector<Request> requests = Requests();
    ASSERT_EQ(requests.size(), 3u);
    for (const Request &request : requests)
        EXPECT_EQ(request.target, k_TreeTarget);
    // An error reply is no tree: it must not stand in for one for the next six minutes.
    EXPECT_FALSE(QFile::exists(CacheFile(QStringLiteral("NotebooksSeccions.json"))));
}

TEST_F(OpenJob, NotebookTreeThroughDroppedConnections)
{
    PutMap(AwkwardMapJson());
    Service::Fault fault;
    fault.kind = Service::FaultKind::Drop;
    fault.times = 2;
    m_Service->setFault(QStringLiteral("notebooks"), fault);
    Open(m_Page.id);

    ExpectOutcome(-100, 0, "");
    EXPECT_EQ(Requests().size(), 6u);              // three tree attempts, list, content, download
    EXPECT_EQ(g_AccessToken.get(), m_AccessToken); // no refresh for a transport failure
}

TEST_F(OpenJob, GarbledListsAreRetriedNotKept)
{
    SignIn();
    Service::Fault fault;
    fault.kind = Service::FaultKind::Malformed;
    fault.times = 1;
    m_Service->setFault(QStringLiteral("notebooks"), fault);
    Open(m_Page.id);
    ExpectOutcome(-22, 0, "");
    int trees = 0;
    for (const Request &request : Requests())
        trees += request.target == k_TreeTarget;
    EXPECT_EQ(trees, 2);
    const std::optional<QByteArray> tree
        = LoadFromCacheFile(QStringLiteral("NotebooksSeccions.json"), 6);
    ASSERT_TRUE(tree);
    EXPECT_TRUE(QJsonDocument::fromJson(*tree).isObject());

    // A garbled page list is a list not read: told, and not kept to hide the page.
    ClearCache();
    m_Service->setFault(QStringLiteral("sectionPages"), fault);
    Open(m_Page.id);
    ExpectOutcome(11, 11, "errGetNotebooksSections");
    EXPECT_FALSE(QFile::exists(CacheFile(m_Section.id + QStringLiteral(".json"))));
}

TEST_F(OpenJob, AnotherAccountsTreeIsReported)
{
    SignIn();
    g_AccountId.set(QStringLiteral("0123456789ABCDEF"));
    Open(m_Page.id);
    ExpectOutcome(11, 11, "errAccountDiff");
}

TEST_F(OpenJob, PageInNoMatchingSectionEndsQuietly)
{
    SignIn();
    MWorkerProperties properties = PageProperties(m_Page.id, true);
    properties.Page.clientId = QStringLiteral("00000000-0000-0000-0000-000000000000");
    RunJob(properties);
    ExpectOutcome(11, 0, "");
    EXPECT_TRUE(g_OnlinePageId.isEmpty());
}

TEST_F(OpenJob, ErrorReplyForThePageIsNoContent)
{
    SignIn();
    Service::Fault fault;
    fault.status = 500;
    m_Service->setFault(QStringLiteral("pageContent"), fault);
    Open(m_Page.id);
    ExpectOutcome(-21, -21, "errGetContentError");
    EXPECT_TRUE(g_OnlinePageId.isEmpty());
}

TEST_F(OpenJob, TimedOutContentReadKeepsTheTokens)
{
    SignIn();
    Service::Fault fault;
    fault.kind = Service::FaultKind::Delay;
    fault.delayMs = 2500; // past the test time-out of 1.5 s
    fault.times = 1;
    m_Service->setFault(QStringLiteral("pageContent"), fault);
    Open(m_Page.id);
    ExpectOutcome(-21, -21, "errGetContentError");
    EXPECT_EQ(g_AccessToken.get(), m_AccessToken);
    for (const Request &request : Requests())
        EXPECT_NE(request.target, "/common/oauth2/v2.0/token");
}

TEST_F(OpenJob, FailedDownloadIsToldAndLeavesTheFile)
{
    PutMap(AwkwardMapJson());
    const QString file = QDir(g_AppDataDir.get()).filePath(QStringLiteral("ZetFile.gif"));
    const QByteArray previous = "the container of an earlier open";
    ASSERT_TRUE(WriteWholeFile(file, previous));
    Service::Fault fault;
    fault.status = 404;
    m_Service->setFault(QStringLiteral("resource"), fault);
    Open(m_Page.id);
    ExpectOutcome(-23, -23, "errDownloadFailed");
    EXPECT_TRUE(g_DownloadedMapJson.isEmpty());
    EXPECT_EQ(ReadWholeFile(file).value_or(QByteArray()), previous);
}

TEST_F(OpenJob, DamagedMapIsToldNotShownAsEmpty)
{
    SignIn();
    // An image with the map's alternative text whose bytes are no container.
    ASSERT_TRUE(m_Service->patchPage(
        m_Page.id, "[{'target':'body','action':'append','content':'<div><img alt=\"ZetGif\" "
                   "src=\"data:image/png;base64,"
                       + PreviewPng().toLatin1() + "\" /></div>'}]"));
    Open(m_Page.id);
    ExpectOutcome(-24, -24, "errMapUnreadable");
    EXPECT_TRUE(g_DownloadedMapJson.isEmpty());
}

TEST_F(OpenJob, ContainerCutShortIsToldNotShownAsEmpty)
{
    PutMap(AwkwardMapJson());
    // A whole reply with a 2xx status whose body is only the first half of the container.
    Service::Fault fault;
    fault.kind = Service::FaultKind::Malformed;
    fault.times = 1;
    m_Service->setFault(QStringLiteral("resource"), fault);
    Open(m_Page.id);
    ExpectOutcome(-24, -24, "errMapUnreadable");
    EXPECT_TRUE(g_DownloadedMapJson.isEmpty());
}

TEST_F(OpenJob, ExpiredTokenMidOpenIsRenewedOnce)
{
    PutMap(AwkwardMapJson());
    Service::Fault fault;
    fault.kind = Service::FaultKind::ExpiredToken;
    fault.times = 1;
    m_Service->setFault(QStringLiteral("pageContent"), fault);
    Open(m_Page.id);

    ExpectOutcome(-100, 0, "");
    EXPECT_EQ(g_DownloadedMapJson.get(), AwkwardMapJson());
    const std::vector<Request> requests = Requests();
    ASSERT_EQ(requests.size(), 6u);
    EXPECT_TRUE(requests[2].target.contains("/content?includeIDs=true"));
    EXPECT_EQ(requests[3].method, QStringLiteral("POST"));
    EXPECT_EQ(requests[3].target, "/common/oauth2/v2.0/token");
    EXPECT_TRUE(requests[3].body.startsWith("grant_type=refresh_token&"));
    EXPECT_EQ(requests[4].target, requests[2].target);
    EXPECT_NE(g_AccessToken.get(), m_AccessToken);
    EXPECT_EQ(requests[4].authorization, "Bearer " + g_AccessToken.get().toUtf8());
    EXPECT_EQ(ConfigValue(QStringLiteral("OnlineOneNoteAccessToken")), g_AccessToken.get());
}

TEST_F(OpenJob, RefreshThatCannotReachTheEndpointKeepsTheTokens)
{
    PutMap(AwkwardMapJson());
    const QString savedAccess = ConfigValue(QStringLiteral("OnlineOneNoteAccessToken"));
    Service::Fault expired;
    expired.kind = Service::FaultKind::ExpiredToken;
    m_Service->setFault(QStringLiteral("pageContent"), expired);
    Service::Fault drop;
    drop.kind = Service::FaultKind::Drop;
    m_Service->setFault(QStringLiteral("token"), drop);
    Open(m_Page.id);

    ExpectOutcome(-21, -21, "errGetContentError");
    EXPECT_EQ(g_AccessToken.get(), m_AccessToken);
    EXPECT_EQ(g_RefreshToken.get(), m_RefreshToken);
    EXPECT_EQ(ConfigValue(QStringLiteral("OnlineOneNoteAccessToken")), savedAccess);
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

TEST_F(OpenJob, CachedPageListHidesANewPageForThreeMinutes)
{
    SignIn();
    Open(m_Page.id);
    ASSERT_EQ(g_OnlinePageId.get(), m_Page.id);
    std::optional<Service::Page> later
        = m_Service->createPage(m_Section.id, QStringLiteral("Later"));
    ASSERT_TRUE(later);
    Open(later->id);
    ExpectOutcome(11, 0, "");

    QFile list(CacheFile(m_Section.id + QStringLiteral(".json")));
    ASSERT_TRUE(list.open(QIODevice::ReadWrite));
    ASSERT_TRUE(list.setFileTime(QDateTime::currentDateTimeUtc().addSecs(-180),
                                 QFileDevice::FileModificationTime));
    list.close();
    Open(later->id);
    EXPECT_EQ(g_OnlinePageId.get(), later->id);
}

TEST_F(OpenJob, ErrorReplyForAPageListIsNotKept)
{
    SignIn();
    Service::Fault fault;
    fault.status = 500;
    fault.times = 1;
    m_Service->setFault(QStringLiteral("sectionPages"), fault);
    Open(m_Page.id);
    // Told as a list that could not be read, not as a page that is missing.
    ExpectOutcome(11, 11, "errGetNotebooksSections");
    EXPECT_FALSE(QFile::exists(CacheFile(m_Section.id + QStringLiteral(".json"))));
    Open(m_Page.id);
    EXPECT_EQ(g_OnlinePageId.get(), m_Page.id);
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
