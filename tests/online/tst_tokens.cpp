#include "OnlineTestSupport.h"

#include "online/MEndpoints.h"
#include "online/MGraphClient.h"
#include "online/MTokenClient.h"
#include "util/MGlobals.h"

using namespace Cogitra;
using namespace Cogitra::Testing;

namespace {

class Tokens : public OnlineTest
{
protected:
    [[nodiscard]] std::vector<Request> TokenRequests() const
    {
        std::vector<Request> requests;
        for (const Request &request : Requests()) {
            if (request.target == "/common/oauth2/v2.0/token")
                requests.push_back(request);
        }
        return requests;
    }

    MOnlineClients m_Clients;
    MTokenClient &m_Tokens = m_Clients.tokens;
    MGraphClient &m_Graph = m_Clients.graph;
};

TEST(FormBodies, OrdinaryValuesStayAsWrittenOthersAreEncoded)
{
    qputenv("COGITRA_ACCOUNT_ROOT", "https://login.live.com");
    EXPECT_EQ(MTokenClient::CodeGrantBody(QStringLiteral("c1d2"), QStringLiteral("M.C5.U.a-b")),
              "grant_type=authorization_code&client_id=c1d2&code=M.C5.U.a-b&redirect_uri="
              "https://login.live.com/oauth20_desktop.srf");
    EXPECT_EQ(MTokenClient::RefreshGrantBody(QStringLiteral("c1d2"), QStringLiteral("M.C*!$")),
              "grant_type=refresh_token&client_id=c1d2&refresh_token=M.C*!$&redirect_uri="
              "https://login.live.com/oauth20_desktop.srf");
    EXPECT_EQ(MTokenClient::RefreshGrantBody(QStringLiteral("c"), QStringLiteral("a&b=c+d#e f")),
              "grant_type=refresh_token&client_id=c&refresh_token=a%26b%3Dc%2Bd%23e%20f&"
              "redirect_uri=https://login.live.com/oauth20_desktop.srf");
    qunsetenv("COGITRA_ACCOUNT_ROOT");
}

TEST_F(Tokens, CodeGrantThenUserLookupBeforeTheJob)
{
    g_AccountId.set(QStringLiteral("x"));
    const QString code = m_Service->mintAuthorizationCode(m_Account.cid, RedirectUri());
    ASSERT_FALSE(code.isEmpty());
    g_AuthCode.set(code);
    Open(m_Page.id);

    const std::vector<Request> requests = Requests();
    ASSERT_GE(requests.size(), 3u);
    EXPECT_EQ(requests[0].method, QStringLiteral("POST"));
    EXPECT_EQ(requests[0].target, "/common/oauth2/v2.0/token");
    EXPECT_EQ(requests[0].body, MTokenClient::CodeGrantBody(ClientId(), code));
    EXPECT_EQ(requests[1].method, QStringLiteral("GET"));
    EXPECT_EQ(requests[1].target, "/v1.0/me");
    EXPECT_EQ(requests[1].authorization, "Bearer " + g_AccessToken.get().toUtf8());
    EXPECT_EQ(requests[2].target, k_TreeTarget);

    EXPECT_FALSE(g_AccessToken.isEmpty());
    EXPECT_FALSE(g_RefreshToken.isEmpty());
    EXPECT_EQ(g_UserId.get(), m_Account.cid);
    EXPECT_EQ(g_UserPrincipalName.get(), m_Account.upn);
    EXPECT_EQ(g_AuthCode.get(), code); // never cleared here
    EXPECT_EQ(ConfigValue(QStringLiteral("OnlineOneNoteAccessToken")), g_AccessToken.get());
    EXPECT_EQ(ConfigValue(QStringLiteral("OnlineOneNoteRefreshToken")), g_RefreshToken.get());
    EXPECT_EQ(ConfigValue(QStringLiteral("OnlineOneNoteUserId")), m_Account.cid);
    EXPECT_EQ(ConfigValue(QStringLiteral("UserPrincipalName")), m_Account.upn);
}

TEST_F(Tokens, TokenRequestHeadersAndLength)
{
    g_AuthCode.set(m_Service->mintAuthorizationCode(m_Account.cid, RedirectUri()));
    m_Tokens.RetrieveTokensByCode();
    const std::vector<Service::LoggedRequest> log = m_Service->requestLog();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].header("Content-Type"), "application/x-www-form-urlencoded");
    EXPECT_EQ(log[0].header("Content-Length"), QByteArray::number(log[0].body.size()));
    QList<QByteArray> names;
    for (const auto &header : log[0].headers)
        names.append(header.first.toLower());
    EXPECT_LT(names.indexOf("content-length"), names.indexOf("content-type"));
    EXPECT_FALSE(names.contains("authorization"));
}

TEST_F(Tokens, PresentValuesAreNotAskedForAgain)
{
    SignIn();
    g_AuthCode.set(QStringLiteral("unused"));
    Open(m_Page.id);
    for (const Request &request : Requests()) {
        EXPECT_NE(request.target, "/common/oauth2/v2.0/token");
        EXPECT_NE(request.target, "/v1.0/me");
    }
}

TEST_F(Tokens, WithoutCodeOrRefreshTokenNothingIsSent)
{
    m_Tokens.RetrieveTokensByCode();
    g_AccessToken.set(QStringLiteral("kept"));
    EXPECT_FALSE(m_Tokens.RefreshTokens());
    EXPECT_EQ(g_AccessToken.get(), QStringLiteral("kept"));
    EXPECT_TRUE(Requests().empty());
}

TEST_F(Tokens, RefusedRefreshSignsOut)
{
    SignIn();
    g_RefreshToken.set(QStringLiteral("not-a-token"));
    EXPECT_TRUE(m_Tokens.RefreshTokens());
    EXPECT_TRUE(g_AccessToken.isEmpty());
    EXPECT_TRUE(g_RefreshToken.isEmpty());
    EXPECT_EQ(ConfigValue(QStringLiteral("OnlineOneNoteAccessToken")), QString());
    EXPECT_EQ(ConfigValue(QStringLiteral("OnlineOneNoteRefreshToken")), QString());
}

TEST_F(Tokens, RefreshRenewsBothTokens)
{
    SignIn();
    EXPECT_TRUE(m_Tokens.RefreshTokens());
    EXPECT_FALSE(g_AccessToken.isEmpty());
    EXPECT_NE(g_AccessToken.get(), m_AccessToken);
    EXPECT_EQ(ConfigValue(QStringLiteral("OnlineOneNoteRefreshToken")), g_RefreshToken.get());
    const std::vector<Request> requests = TokenRequests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].body, MTokenClient::RefreshGrantBody(ClientId(), m_RefreshToken));
}

TEST_F(Tokens, UnreachableEndpointChangesNothing)
{
    SignIn();
    SaveAccountState();
    Service::Fault drop;
    drop.kind = Service::FaultKind::Drop;
    m_Service->setFault(QStringLiteral("token"), drop);
    EXPECT_FALSE(m_Tokens.RefreshTokens());
    EXPECT_EQ(g_AccessToken.get(), m_AccessToken);
    EXPECT_EQ(g_RefreshToken.get(), m_RefreshToken);

    g_AccessToken.set(QString());
    g_AuthCode.set(QStringLiteral("code"));
    m_Tokens.RetrieveTokensByCode();
    EXPECT_TRUE(g_AccessToken.isEmpty());
    EXPECT_EQ(g_RefreshToken.get(), m_RefreshToken);
    EXPECT_EQ(ConfigValue(QStringLiteral("OnlineOneNoteAccessToken")), m_AccessToken);
}

TEST_F(Tokens, EndpointDownOrThrottlingChangesNothing)
{
    SignIn();
    SaveAccountState();
    for (const int status : {500, 503, 429}) {
        Service::Fault fault;
        fault.kind = status == 429 ? Service::FaultKind::Throttle : Service::FaultKind::Status;
        fault.status = status;
        fault.times = 1;
        m_Service->setFault(QStringLiteral("token"), fault);
        EXPECT_FALSE(m_Tokens.RefreshTokens()) << status;
        EXPECT_TRUE(g_AccessToken.get() == m_AccessToken) << status;
        EXPECT_TRUE(g_RefreshToken.get() == m_RefreshToken) << status;
        EXPECT_TRUE(ConfigValue(QStringLiteral("OnlineOneNoteRefreshToken")) == m_RefreshToken);
    }
    // The endpoint up again: the same refresh token still renews.
    EXPECT_TRUE(m_Tokens.RefreshTokens());
    EXPECT_FALSE(g_AccessToken.isEmpty());
    EXPECT_FALSE(g_AccessToken.get() == m_AccessToken);
}

TEST_F(Tokens, RefreshRuleRenewsOnlyOutsideTheUrlErrorDomain)
{
    SignIn();
    m_Tokens.ApplyRefreshRule(MUrlError{QStringLiteral("NSURLErrorDomain"), -1001, 0});
    m_Tokens.ApplyRefreshRule(MUrlError{QStringLiteral("nsurlerrordomain"), -1004, 0});
    m_Tokens.ApplyRefreshRule(MUrlError{});
    EXPECT_TRUE(TokenRequests().empty());
    m_Tokens.ApplyRefreshRule(MUrlError{QStringLiteral("kCFErrorDomainCFNetwork"), 303, 0});
    EXPECT_EQ(TokenRequests().size(), 1u);
}

TEST_F(Tokens, UnauthorizedReplyRenewsAndRetriesOnce)
{
    SignIn();
    Service::Fault expired;
    expired.kind = Service::FaultKind::ExpiredToken;
    m_Service->setFault(QStringLiteral("pageContent"), expired);
    MGraphRequest request;
    request.url = GraphUserBaseUrl(g_UserId.get()) + QStringLiteral("/onenote/pages/") + m_Page.id
                  + QStringLiteral("/content?includeIDs=true");
    const MGraphReply reply = m_Graph.Send(request);
    EXPECT_EQ(reply.http.status, 401);
    const std::vector<Request> requests = Requests();
    ASSERT_EQ(requests.size(), 3u); // the request, one refresh, the request once more
    EXPECT_EQ(TokenRequests().size(), 1u);
    EXPECT_EQ(requests[2].target, requests[0].target);
}

TEST_F(Tokens, UserReplyWithoutFieldsLeavesTheIdEmpty)
{
    SignIn(false);
    Service::Fault refused;
    refused.status = 403;
    m_Service->setFault(QStringLiteral("me"), refused);
    m_Graph.RetrieveUserIdByToken();
    EXPECT_TRUE(g_UserId.isEmpty());
    EXPECT_TRUE(g_UserPrincipalName.isEmpty());
}

} // namespace
