#include "OnlineTestSupport.h"

#include "onenote/MOLONUtils.h"
#include "service/DemoSeed.h"
#include "util/MGlobals.h"

#include <chrono>
#include <thread>

namespace Cogitra::Testing {

const QByteArray OnlineTest::k_TreeTarget
    = "/v1.0/me/onenote/notebooks?expand=sections,sectionGroups(expand=sections,sectionGroups("
      "levels=max;expand=sections))";

void OnlineTest::SetUp()
{
    ASSERT_TRUE(m_AppDir.isValid());
    ASSERT_NO_FATAL_FAILURE(m_Fixture.start());
    m_Service = &m_Fixture.service();
    m_Service->setRevealSecretsInLog(true);
    InitGlobals(m_AppDir.path());

    const SeededAccount seeded = m_Fixture.seedAccount();
    m_Account = seeded.account;
    m_Notebook = seeded.notebook;
    m_Section = seeded.section;
    m_Page = seeded.page;
}

void OnlineTest::SignIn(const Service::Account &account, const QString &pageId)
{
    const std::optional<Service::TokenPair> tokens = m_Service->mintTokens(account.cid);
    ASSERT_TRUE(tokens);
    m_AccessToken = tokens->accessToken;
    m_RefreshToken = tokens->refreshToken;
    g_AccessToken.set(m_AccessToken);
    g_RefreshToken.set(m_RefreshToken);
    g_AccountId.set(AccountIdFromLink(m_Service->pageDesktopLink(pageId)));
    g_UserId.set(account.cid);
    g_UserPrincipalName.set(account.upn);
}

MWorkerProperties OnlineTest::PageProperties(const QString &pageId, bool open) const
{
    const QString link = m_Service->pageDesktopLink(pageId);
    MWorkerProperties properties;
    properties.DownloadCogitra = open;
    properties.Page
        = {AccountIdFromLink(link),    PageIdFromLink(link),      PageTitleFromLink(link),
           NotebookNameFromLink(link), SectionNameFromLink(link), link};
    return properties;
}

void OnlineTest::RunJob(const MWorkerProperties &properties)
{
    g_WorkerFinished.store(0);
    m_NextTryAt = 0;
    const std::shared_ptr<MThreadOnlineOneNote> worker = MThreadOnlineOneNote::Create(properties);
    worker->Run();
    // As the status loop reads: under a thread checker, the flag alone orders the results.
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (!WorkerFinished() && std::chrono::steady_clock::now() < giveUp) {
        (void)g_StepCode.load(std::memory_order_relaxed);
        if (const int64_t at = g_NextTryAtMs.load(); m_NextTryAt == 0)
            m_NextTryAt = at;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    const bool finished = WorkerFinished();
    if (finished) {
        (void)g_ErrorCode.load(std::memory_order_relaxed);
        (void)g_ErrorMessageKey.get();
        (void)g_OnlinePageId.get();
        (void)g_PageTitle.get();
        (void)g_DownloadedMapJson.get();
    }
    worker->Wait();
    ASSERT_TRUE(finished);
}

void OnlineTest::Save(const QString &pageId, const QString &json, const QString &png)
{
    MWorkerProperties properties = PageProperties(pageId, false);
    properties.CogitraJsonForUpload = json;
    properties.CogitraImageBase64ForUpload = png;
    RunJob(properties);
}

void OnlineTest::PutMap(const QString &json)
{
    Save(m_Page.id, json, PreviewPng());
    ASSERT_EQ(g_StepCode.load(), 100) << g_ErrorMessageKey.get().toStdString();
    Reset();
}

void OnlineTest::Reset()
{
    g_OnlinePageId.set(QString());
    g_ErrorMessageKey.set(QString());
    g_ErrorCode.store(0);
    ClearCache();
    ClearRequests();
}

void OnlineTest::ExpectOutcome(int64_t step, const char *key)
{
    EXPECT_EQ(g_StepCode.load(), step);
    EXPECT_EQ(g_ErrorCode.load(), *key ? step : 0);
    EXPECT_EQ(g_ErrorMessageKey.get(), QString::fromLatin1(key));
}

QList<QByteArray> OnlineTest::Targets() const
{
    QList<QByteArray> targets;
    for (const Service::LoggedRequest &logged : m_Service->requestLog())
        targets.append(logged.target);
    return targets;
}

Headers OnlineTest::ClientHeaders(const Request &request)
{
    Headers headers = request.headers;
    headers.removeIf([](const auto &header) {
        const QByteArray name = header.first.toLower();
        return name == "host" || name == "accept" || name == "accept-encoding";
    });
    return headers;
}

void OnlineTest::ExpectAuthorized(const QString &accessToken) const
{
    for (const Request &request : Requests()) {
        SCOPED_TRACE(request.method.toStdString() + ' ' + request.target.toStdString());
        Headers expected = {{"Authorization", "Bearer " + accessToken.toUtf8()}};
        if (request.method == QLatin1String("PATCH"))
            expected += {{"Content-Type", "application/json"},
                         {"Content-Length", QByteArray::number(request.body.size())}};
        else
            EXPECT_TRUE(request.body.isEmpty());
        EXPECT_EQ(ClientHeaders(request), expected);
    }
}

void OnlineTest::ClearCache()
{
    QDir cache(g_CacheDir.get());
    for (const QString &name : cache.entryList(QDir::Files))
        cache.remove(name);
}

QString PreviewPng()
{
    return QString::fromLatin1(Service::MakePng(4, 2, 0x3366cc, 0).toBase64());
}

QString AwkwardMapJson()
{
    return QStringLiteral(
        u"{\"root\":{\"data\":{\"text\":\"Übersicht – 日本語 'quoted' \\\\path\\\\ "
        u"it\\u0027s\"},\"children\":[{\"data\":{\"text\":\"O'Brien\\\\n 🙂\"}}]},"
        u"\"template\":\"default\"}");
}

} // namespace Cogitra::Testing
