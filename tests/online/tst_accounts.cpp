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
        m_Other = m_Service
                      ->createAccount(QStringLiteral("blake.example@outlook.com"),
                                      QStringLiteral("secret"), QStringLiteral("Blake Example"))
                      .value();
        // The same names as the first account's: only the account tells the trees apart.
        const QString notebook = m_Service->createNotebook(m_Other.cid, m_Notebook.name)->id;
        m_OtherSection = m_Service->createSection(notebook, {}, m_Section.name).value();
        m_OtherPage = m_Service->createPage(m_OtherSection.id, m_Page.title).value();
    }

    void SignInAsOther()
    {
        const Service::TokenPair tokens = m_Service->mintTokens(m_Other.cid).value();
        g_AccessToken.set(tokens.accessToken);
        g_RefreshToken.set(tokens.refreshToken);
        g_AccountId.set(AccountIdFromLink(m_Service->pageDesktopLink(m_OtherPage.id)));
        g_UserId.set(m_Other.cid);
        g_UserPrincipalName.set(m_Other.upn);
    }

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

TEST_F(CachedAccounts, AChangeOfAccountFetchesTheTreeAndListsAnew)
{
    const QByteArray list = SectionPagesTarget(m_Section.id).toUtf8();
    SignIn();
    OpenLocated(m_Page.id);
    SignInAsOther();
    OpenLocated(m_OtherPage.id);
    EXPECT_EQ(Targets().mid(0, 2),
              (QList<QByteArray>{k_TreeTarget, SectionPagesTarget(m_OtherSection.id).toUtf8()}));
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

TEST_F(CachedAccounts, RepliesCachedBeforeTheAccountWasRecordedAreNotUsed)
{
    // Another account's tree, left by a version that kept no account: it would pass the
    // account check of no page of ours, and must not stand for six minutes.
    SignInAsOther();
    OpenLocated(m_OtherPage.id);
    ASSERT_TRUE(QFile::remove(CacheFile(QString::fromLatin1(k_CacheAccountFile))));
    SignIn();
    OpenLocated(m_Page.id);
    EXPECT_EQ(Count(k_TreeTarget), 1);
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
