#include "OnlineTestSupport.h"

#include "online/MEndpoints.h"
#include "online/MGraphClient.h"
#include "online/MTokenClient.h"
#include "util/MGlobals.h"

#include <tuple>

using namespace Cogitra;
using namespace Cogitra::Testing;

namespace {

constexpr char k_TokenTarget[] = "/common/oauth2/v2.0/token";

using Tokens = OnlineTest;

TEST(ReplyTextMember, ReadsDecodedTopLevelMembersAndCutsWhatIsNoJson)
{
    const std::pair<const char *, const char *> rows[] = {
        {R"({"token_type":"Bearer","access_token":"EwB\/a+b\/c==","x":1})", "EwB/a+b/c=="},
        {R"({"error":{"access_token":"inner"},"access_token":"top"})", "top"},
        {R"({"access_token": "spaced"})", "spaced"},
        {R"({"access_token":3600})", ""},
        {R"({"error":"invalid_grant"})", ""},
        // The published sample with a trailing comma is no JSON: cut as before.
        {R"({"refresh_token":"def","access_token":"abc",})", "abc"},
    };
    for (const auto &[reply, member] : rows)
        EXPECT_EQ(ReplyTextMember(reply, QStringLiteral("access_token")), QLatin1String(member))
            << reply;
}

// The code is exchanged and the user looked up before the job. An exchange without an answer
// keeps what is stored.
TEST_F(Tokens, CodeGrantThenUserLookupBeforeTheJob)
{
    SignIn();
    SaveAccountState();
    g_AccessToken.set(QString());
    g_AuthCode.set(QStringLiteral("code"));
    m_Service->setFault(QStringLiteral("token"), {.kind = Service::FaultKind::Drop});
    MOnlineClients().tokens.RetrieveTokensByCode();
    EXPECT_TRUE(g_AccessToken.isEmpty());
    EXPECT_EQ(g_RefreshToken.get(), m_RefreshToken);
    EXPECT_EQ(ConfigValue(QStringLiteral("OnlineOneNoteAccessToken")), m_AccessToken);

    m_Service->clearFaults();
    for (SharedText *value : {&g_RefreshToken, &g_UserId, &g_UserPrincipalName})
        value->set(QString());
    const QString code = m_Service->mintAuthorizationCode(m_Account.cid, RedirectUri());
    g_AuthCode.set(code);
    Reset();
    Open(m_Page.id);
    ExpectOutcome(-22, "");
    EXPECT_EQ(Targets().mid(0, 3), (QList<QByteArray>{k_TokenTarget, "/v1.0/me", k_TreeTarget}));
    const std::vector<Request> requests = Requests();
    ASSERT_GE(requests.size(), 3u);
    EXPECT_EQ(requests[0].body, "grant_type=authorization_code&client_id=" + ClientId().toUtf8()
                                    + "&code=" + FormValue(code)
                                    + "&redirect_uri=" + RedirectUri().toUtf8());
    EXPECT_EQ(ClientHeaders(requests[0]),
              (Headers{{"Content-Length", QByteArray::number(requests[0].body.size())},
                       {"Content-Type", "application/x-www-form-urlencoded"}}));
    EXPECT_EQ(requests[1].header("Authorization"), "Bearer " + g_AccessToken.get().toUtf8());

    EXPECT_FALSE(g_RefreshToken.isEmpty());
    EXPECT_EQ(g_AuthCode.get(), code); // never cleared here
    EXPECT_EQ(ConfigValue(QStringLiteral("OnlineOneNoteAccessToken")), g_AccessToken.get());
    EXPECT_EQ(ConfigValue(QStringLiteral("OnlineOneNoteRefreshToken")), g_RefreshToken.get());
    EXPECT_EQ(ConfigValue(QStringLiteral("OnlineOneNoteUserId")), m_Account.cid);
    EXPECT_EQ(ConfigValue(QStringLiteral("UserPrincipalName")), m_Account.upn);
}

// Only a refusal signs out; whatever keeps the endpoint from answering keeps both tokens.
TEST_F(Tokens, RefreshSignsOutOnlyWhenRefused)
{
    MOnlineClients clients;
    MTokenClient &tokens = clients.tokens;
    using Service::FaultKind;
    enum class After { Renewed, SignedOut, Kept };
    // Fault route and fault, a refresh token in place of the signed-in one, the return, after.
    // clang-format off
    const std::tuple<const char *, Service::Fault, const char *, bool, After> rows[] = {
        {nullptr, {}, nullptr, true, After::Renewed},
        {nullptr, {}, "not-a-token", true, After::SignedOut},
        {nullptr, {}, "", false, After::Kept},
        {"token", {.kind = FaultKind::Drop}, nullptr, false, After::Kept},
        {"token", {.status = 503}, nullptr, false, After::Kept},
        {"token", {.kind = FaultKind::Throttle, .status = 429}, nullptr, false, After::Kept},
    };
    // clang-format on
    for (const auto &[route, fault, refreshToken, answered, after] : rows) {
        SCOPED_TRACE(std::string(route ? route : "") + (refreshToken ? refreshToken : "-"));
        m_Service->clearFaults();
        ClearRequests();
        SignIn();
        if (refreshToken) {
            g_RefreshToken.set(QString::fromLatin1(refreshToken));
            m_RefreshToken = g_RefreshToken.get();
        }
        SaveAccountState();
        if (route)
            m_Service->setFault(QString::fromLatin1(route), fault);
        EXPECT_EQ(tokens.RefreshTokens(), answered);

        const QString access = ConfigValue(QStringLiteral("OnlineOneNoteAccessToken"));
        const QString refresh = ConfigValue(QStringLiteral("OnlineOneNoteRefreshToken"));
        EXPECT_EQ(access, g_AccessToken.get());
        EXPECT_EQ(refresh, g_RefreshToken.get());
        EXPECT_EQ(access.isEmpty() && refresh.isEmpty(), after == After::SignedOut);
        EXPECT_EQ(access == m_AccessToken && refresh == m_RefreshToken, after == After::Kept);
        EXPECT_EQ(!access.isEmpty() && access != m_AccessToken && refresh != m_RefreshToken,
                  after == After::Renewed);
        const std::vector<Request> sent = Requests();
        EXPECT_EQ(sent.size(), m_RefreshToken.isEmpty() ? 0u : 1u);
        for (const Request &request : sent)
            EXPECT_EQ(request.body, "grant_type=refresh_token&client_id=" + ClientId().toUtf8()
                                        + "&refresh_token=" + FormValue(m_RefreshToken)
                                        + "&redirect_uri=" + RedirectUri().toUtf8());
    }

    // The refresh rule renews only outside the URL error domain, whatever its letter case.
    ClearRequests();
    for (const char *domain : {"NSURLErrorDomain", "nsurlerrordomain", ""})
        tokens.ApplyRefreshRule(MUrlError{QString::fromLatin1(domain), -1001, 0});
    EXPECT_EQ(Count(k_TokenTarget), 0);
    tokens.ApplyRefreshRule(MUrlError{QStringLiteral("kCFErrorDomainCFNetwork"), 303, 0});
    EXPECT_EQ(Count(k_TokenTarget), 1);
}

} // namespace
