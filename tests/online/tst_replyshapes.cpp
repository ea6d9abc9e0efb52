#include "OnlineTestSupport.h"

#include "onenote/MOLONUtils.h"
#include "online/MGraphClient.h"
#include "online/MTokenClient.h"
#include "util/MGlobals.h"

using namespace Cogitra;
using namespace Cogitra::Testing;
using Service::FaultKind;

namespace {

TEST(ReplyTextMember, ReadsDecodedMembersAndCutsWhatIsNoJson)
{
    const QByteArray escaped = R"({"token_type":"Bearer","access_token":"EwB\/a+b\/c==","x":1})";
    EXPECT_EQ(ReplyTextMember(escaped, QStringLiteral("access_token")),
              QStringLiteral("EwB/a+b/c=="));
    // The first occurrence anywhere is not the member: only the top level counts.
    const QByteArray nested = R"({"error":{"id":"inner"},"id":"5f3a9c0d2b7e4a61"})";
    EXPECT_EQ(ReplyTextMember(nested, QStringLiteral("id")), QStringLiteral("5f3a9c0d2b7e4a61"));
    EXPECT_EQ(ReplyTextMember(R"({"id": "spaced"})", QStringLiteral("id")),
              QStringLiteral("spaced"));
    EXPECT_EQ(ReplyTextMember(R"({"expires_in":3600})", QStringLiteral("expires_in")), QString());
    EXPECT_EQ(ReplyTextMember(R"({"error":"invalid_grant"})", QStringLiteral("access_token")),
              QString());
    // The published sample with a trailing comma is no JSON: cut as before.
    EXPECT_EQ(ReplyTextMember(R"({"access_token":"abc","refresh_token":"def",})",
                              QStringLiteral("refresh_token")),
              QStringLiteral("def"));
}

class ReplyShapes : public OnlineTest
{
};

TEST_F(ReplyShapes, EscapedSlashesInTokenAndUserRepliesGiveAWorkingAccount)
{
    m_Service->setFault(QStringLiteral("token"), {.kind = FaultKind::EscapedSlashes});
    m_Service->setFault(QStringLiteral("me"), {.kind = FaultKind::EscapedSlashes});
    // An access token is Base64: sign in until one holds a "/", which the reply escapes.
    for (int attempt = 0; attempt < 8 && !g_AccessToken.get().contains(u'/'); ++attempt) {
        for (SharedText *value : {&g_AccessToken, &g_RefreshToken, &g_UserId, &g_UserPrincipalName})
            value->set(QString());
        g_AuthCode.set(m_Service->mintAuthorizationCode(m_Account.cid));
        MOnlineClients clients;
        clients.EnsureAccount();
    }
    ASSERT_TRUE(g_AccessToken.get().contains(u'/'));
    EXPECT_FALSE(g_AccessToken.get().contains(u'\\'));
    EXPECT_FALSE(g_RefreshToken.isEmpty());
    EXPECT_EQ(g_UserId.get(), m_Account.cid);
    EXPECT_EQ(g_UserPrincipalName.get(), m_Account.upn);

    g_AccountId.set(AccountIdFromLink(m_Service->pageDesktopLink(m_Page.id)));
    m_Service->clearFaults();
    Open(m_Page.id);
    EXPECT_EQ(g_ErrorMessageKey.get(), QString());
    EXPECT_FALSE(g_OnlinePageId.isEmpty());
}

} // namespace
