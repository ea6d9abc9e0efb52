#include "OnlineTestSupport.h"

#include "onenote/MOLONUtils.h"
#include "online/MReplyCache.h"
#include "util/MGlobals.h"

#include <QDir>
#include <QFile>

using namespace Cogitra;
using namespace Cogitra::Testing;

namespace {

// The cache holds one account's replies; a second account on the machine never reads them.
class CachedAccounts : public OnlineTest
{
protected:
    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(OnlineTest::SetUp());
        auto other
            = m_Service->createAccount(QStringLiteral("blake.example@outlook.com"),
                                       QStringLiteral("secret"), QStringLiteral("Blake Example"));
        ASSERT_TRUE(other);
        m_Other = *other;
        // The same names as the first account's: only the account tells the trees apart.
        auto notebook = m_Service->createNotebook(m_Other.cid, m_Notebook.name);
        ASSERT_TRUE(notebook);
        auto section = m_Service->createSection(notebook->id, QString(), m_Section.name);
        ASSERT_TRUE(section);
        m_OtherSection = *section;
        auto page = m_Service->createPage(m_OtherSection.id, QStringLiteral("Weekly sync"),
                                          QStringLiteral("<p>Agenda</p>"));
        ASSERT_TRUE(page);
        m_OtherPage = *page;
    }

    void SignInAsOther()
    {
        const std::optional<Service::TokenPair> tokens = m_Service->mintTokens(m_Other.cid);
        ASSERT_TRUE(tokens);
        g_AccessToken.set(tokens->accessToken);
        g_RefreshToken.set(tokens->refreshToken);
        g_AccountId.set(AccountIdFromLink(m_Service->pageDesktopLink(m_OtherPage.id)));
        g_UserId.set(m_Other.cid);
        g_UserPrincipalName.set(m_Other.upn);
    }

    // The page was located (it holds no map, so the open ends there).
    void ExpectLocated(const QString &pageId)
    {
        EXPECT_EQ(g_StepCode.load(), -22);
        EXPECT_EQ(g_ErrorMessageKey.get(), QString());
        EXPECT_EQ(g_OnlinePageId.get(), pageId);
    }

    [[nodiscard]] int Count(const QByteArray &target) const
    {
        int count = 0;
        for (const Request &request : Requests())
            count += request.target == target;
        return count;
    }

    Service::Account m_Other;
    Service::Section m_OtherSection;
    Service::Page m_OtherPage;
};

TEST_F(CachedAccounts, AChangeOfAccountFetchesTheTreeAndListsAnew)
{
    SignIn();
    Open(m_Page.id);
    ExpectLocated(m_Page.id);

    for (int round = 0; round < 2; ++round) {
        ClearRequests();
        g_OnlinePageId.set(QString());
        if (round == 0)
            SignInAsOther();
        else
            SignIn();
        const QString pageId = round == 0 ? m_OtherPage.id : m_Page.id;
        const QString sectionId = round == 0 ? m_OtherSection.id : m_Section.id;
        Open(pageId);
        ExpectLocated(pageId);
        EXPECT_EQ(Count(k_TreeTarget), 1) << round;
        EXPECT_EQ(Count(SectionPagesTarget(sectionId).toUtf8()), 1) << round;
    }
    // Only the account now signed in has replies kept.
    EXPECT_FALSE(QFile::exists(CacheFile(m_OtherSection.id + QStringLiteral(".json"))));
    EXPECT_TRUE(QFile::exists(CacheFile(m_Section.id + QStringLiteral(".json"))));

    // The same account again: the cache answers.
    ClearRequests();
    Open(m_Page.id);
    ExpectLocated(m_Page.id);
    EXPECT_EQ(Count(k_TreeTarget), 0);
    EXPECT_EQ(Count(SectionPagesTarget(m_Section.id).toUtf8()), 0);
}

TEST_F(CachedAccounts, RepliesCachedBeforeTheAccountWasRecordedAreNotUsed)
{
    // Another account's tree, left by a version that kept no account: it would pass the
    // account check of no page of ours, and must not stand for six minutes.
    SignInAsOther();
    Open(m_OtherPage.id);
    ExpectLocated(m_OtherPage.id);
    ASSERT_TRUE(QFile::remove(CacheFile(QString::fromLatin1(k_CacheAccountFile))));

    SignIn();
    ClearRequests();
    Open(m_Page.id);
    ExpectLocated(m_Page.id);
    EXPECT_EQ(Count(k_TreeTarget), 1);
}

TEST_F(CachedAccounts, APageMadeAfterItsListWasCachedCostsOneMoreListRequest)
{
    SignIn();
    Open(m_Page.id);
    ExpectLocated(m_Page.id);

    auto fresh = m_Service->createPage(m_Section.id, QStringLiteral("Made a moment ago"),
                                       QStringLiteral("<p>New</p>"));
    ASSERT_TRUE(fresh);
    const QByteArray listTarget = SectionPagesTarget(m_Section.id).toUtf8();
    ClearRequests();
    g_OnlinePageId.set(QString());
    Open(fresh->id);
    ExpectLocated(fresh->id);
    EXPECT_EQ(Count(k_TreeTarget), 0);
    EXPECT_EQ(Count(listTarget), 1);

    // The list fetched anew is kept: the next open of it costs no list request, and a page
    // that is in no list costs one, not one per look.
    ClearRequests();
    g_OnlinePageId.set(QString());
    Open(fresh->id);
    ExpectLocated(fresh->id);
    EXPECT_EQ(Count(listTarget), 0);
    MWorkerProperties absent = PageProperties(fresh->id, true);
    absent.Page.clientId = QStringLiteral("{00000000-0000-0000-0000-000000000000}");
    ClearRequests();
    RunJob(absent);
    EXPECT_EQ(g_StepCode.load(), 11);
    EXPECT_EQ(g_ErrorMessageKey.get(), QString());
    EXPECT_EQ(Count(listTarget), 1);
    RunJob(absent);
    EXPECT_EQ(Count(listTarget), 2);
}

} // namespace
