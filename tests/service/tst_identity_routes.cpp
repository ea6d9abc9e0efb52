#include "ServiceTestSupport.h"

#include <QUrl>
#include <QUrlQuery>

using namespace Cogitra::Service;
using namespace Cogitra::Service::Testing;

namespace {

const QString kScope = QStringLiteral(
    "offline_access%20User.Read%20Notes.Create%20Notes.ReadWrite%20Notes.ReadWrite.All");
const QString kLive = QStringLiteral("https://login.live.com/oauth20_desktop.srf");

const QString kAuthorize = QStringLiteral("/common/oauth2/v2.0/authorize");

QString Authorize(const QString &query)
{
    return kAuthorize + u'?' + query;
}

QString Field(const httplib::Result &res, const char *key)
{
    return res ? JsonObject(res->body).value(QLatin1String(key)).toString() : QString();
}

class IdentityRoutes : public ServiceTest
{
protected:
    // The authorize query as the sign-in window writes it: redirect URI unescaped.
    QString authorizeQuery(const QString &redirect = QString(), const QString &scope = kScope) const
    {
        return QStringLiteral("prompt=login&client_id=") + service->clientId()
               + QStringLiteral("&response_type=code&response_mode=query&scope=") + scope
               + QStringLiteral("&redirect_uri=")
               + (redirect.isEmpty() ? service->redirectUri() : redirect);
    }

    httplib::Result signIn(const QString &password,
                           const char *type = "application/x-www-form-urlencoded")
    {
        return post(kAuthorize,
                    authorizeQuery()
                        + QStringLiteral("&loginfmt=avery.example%40outlook.com&passwd=")
                        + password,
                    type);
    }

    // Token requests exactly as the client sends them: nothing percent-encoded.
    httplib::Result grant(const QString &what, const QString &redirect = QString())
    {
        return post(QStringLiteral("/common/oauth2/v2.0/token"),
                    QStringLiteral("grant_type=") + what + QStringLiteral("&client_id=")
                        + service->clientId() + QStringLiteral("&redirect_uri=")
                        + (redirect.isEmpty() ? service->redirectUri() : redirect));
    }
    httplib::Result codeGrant(const QString &code, const QString &redirect = QString())
    {
        return grant(QStringLiteral("authorization_code&code=") + code, redirect);
    }
    httplib::Result refreshGrant(const QString &refresh)
    {
        return grant(QStringLiteral("refresh_token&refresh_token=") + refresh);
    }

    static void ExpectInvalidGrant(const httplib::Result &res, const char *aadsts)
    {
        ASSERT_EQ(Status(res), 400);
        const QJsonObject error = JsonObject(res->body);
        EXPECT_EQ(error.value(u"error").toString(), QStringLiteral("invalid_grant"));
        EXPECT_TRUE(error.value(u"error_description").toString().startsWith(QLatin1String(aadsts)))
            << res->body;
    }
};

// The happy path is the sign-in of every cli and window test; here what they do not try.
TEST_F(IdentityRoutes, SignInRefusesAWrongPasswordAndACodeServesOnce)
{
    const auto wrong = signIn(QStringLiteral("nope"));
    ASSERT_EQ(Status(wrong), 200);
    EXPECT_NE(wrong->body.find("incorrect"), std::string::npos);
    const auto ok = signIn(QStringLiteral("secret"));
    ASSERT_EQ(Status(ok), 302);
    const QString code = QUrlQuery(QUrl(QString::fromStdString(ok->get_header_value("Location"))))
                             .queryItemValue(QStringLiteral("code"));
    EXPECT_EQ(Status(codeGrant(code)), 200);
    ExpectInvalidGrant(codeGrant(code), "AADSTS54005");
}

// Codes expire and are bound to their redirect URI; refresh tokens rotate.
TEST_F(IdentityRoutes, GrantsOnlyWhatWasIssuedForThisRequest)
{
    service->setCodeLifetime(0);
    ExpectInvalidGrant(codeGrant(service->mintAuthorizationCode(account.cid)), "AADSTS70008");
    service->setCodeLifetime(600);
    ExpectInvalidGrant(codeGrant(service->mintAuthorizationCode(account.cid), kLive),
                       "AADSTS70000");
    ExpectInvalidGrant(codeGrant(QStringLiteral("M.C500_BAY.2.U.made-up")), "AADSTS70000");
    // The real redirect URI is accepted too, when the code was issued for it.
    EXPECT_EQ(Status(codeGrant(service->mintAuthorizationCode(account.cid, kLive), kLive)), 200);
    // Without offline access there is no refresh token.
    const auto online = codeGrant(service->mintAuthorizationCode(
        account.cid, QString(), QStringLiteral("User.Read Notes.ReadWrite")));
    ASSERT_EQ(Status(online), 200);
    EXPECT_EQ(online->body.find("refresh_token"), std::string::npos);

    // Refresh tokens hold the characters that need escaping in a form.
    const TokenPair first = *service->mintTokens(account.cid);
    ASSERT_TRUE(first.refreshToken.contains(u'!') || first.refreshToken.contains(u'*')
                || first.refreshToken.contains(u'$') || first.refreshToken.size() > 100);
    const auto renewed = refreshGrant(first.refreshToken);
    ASSERT_EQ(Status(renewed), 200) << renewed->body;
    const QString second = Field(renewed, "refresh_token");
    EXPECT_FALSE(second.isEmpty());
    EXPECT_NE(second, first.refreshToken);
    ExpectInvalidGrant(refreshGrant(first.refreshToken), "AADSTS70000");
    EXPECT_EQ(Status(refreshGrant(second)), 200);
    ExpectInvalidGrant(refreshGrant(first.accessToken), "AADSTS70000");
}

TEST_F(IdentityRoutes, RequestsThatCannotBeServedAreRefusedAsThePlatformDoes)
{
    const QString id = service->clientId();
    const QString other = QStringLiteral("11111111-2222-3333-4444-555555555555");
    const QString tokenBody = QStringLiteral("grant_type=authorization_code&code=x&client_id=");
    const QString consent = authorizeQuery();
    // A token request's body, or for a GET its target; what the body (or for a redirect, the
    // Location) holds, and what it must not.
    // clang-format off
    const struct { QString token; QString target; int status; const char *has; const char *lacks = nullptr; } cases[] = {
        {QStringLiteral("client_id=") + id, {}, 400, R"("error":"invalid_request")"},
        {QStringLiteral("grant_type=authorization_code&code=x"), {}, 400, "invalid_request"},
        {QStringLiteral("grant_type=refresh_token&client_id=") + id, {}, 400, "invalid_request"},
        {tokenBody + other, {}, 400, R"("error":"unauthorized_client")"},
        {QStringLiteral("grant_type=password&client_id=") + id, {}, 400, "unsupported_grant_type"},
        {{}, Authorize(authorizeQuery(QStringLiteral("https://evil.example/cb"))), 400, "", "code="},
        {{}, Authorize(QString(consent).replace(id, other)), 400, "", "code="},
        {{}, Authorize(authorizeQuery({}, QStringLiteral("Mail.Send"))), 302, "?error=invalid_scope"},
        {{}, Authorize(QString(consent).replace(QStringLiteral("response_type=code"), QStringLiteral("response_type=token"))), 302, "error=", "code="},
        // The desktop redirect page shows nothing of what it was given.
        {{}, QStringLiteral("/oauth20_desktop.srf?code=M.C500_BAY.2.U.x&lc=1033"), 200, "", "code"},
    };
    // clang-format on
    for (const auto &c : cases) {
        const auto res = c.token.isEmpty()
                             ? client->Get(c.target.toStdString())
                             : post(QStringLiteral("/common/oauth2/v2.0/token"), c.token);
        ASSERT_TRUE(res);
        SCOPED_TRACE(qPrintable(c.token + c.target));
        EXPECT_EQ(res->status, c.status);
        const std::string seen
            = (res->status == 302 ? "" : res->body) + res->get_header_value("Location");
        EXPECT_NE(seen.find(c.has), std::string::npos) << seen;
        EXPECT_TRUE(!c.lacks || seen.find(c.lacks) == std::string::npos) << seen;
    }
}

TEST_F(IdentityRoutes, ASignedInSessionSkipsTheFormUntilSignOut)
{
    const auto ok = signIn(QStringLiteral("secret"));
    ASSERT_TRUE(ok);
    const std::string cookie = ok->get_header_value("Set-Cookie")
                                   .substr(0, ok->get_header_value("Set-Cookie").find(';'));
    const auto status = [&](const QString &target) {
        return Status(client->Get(target.toStdString(), {{"Cookie", cookie}}));
    };
    const QString silent = Authorize(authorizeQuery().remove(QStringLiteral("prompt=login&")));
    EXPECT_EQ(status(silent), 302);
    EXPECT_EQ(status(Authorize(authorizeQuery())), 200); // prompt=login asks again
    EXPECT_EQ(status(QStringLiteral("/logout.srf")), 200);
    EXPECT_EQ(status(silent), 200);
}

TEST_F(IdentityRoutes, TheLogNeverShowsSecretsUnlessAsked)
{
    const TokenPair pair = *service->mintTokens(account.cid);
    token = pair.accessToken;
    (void)refreshGrant(pair.refreshToken);
    (void)get(QStringLiteral("/v1.0/me"));
    (void)signIn(QStringLiteral("secret"));
    // The sign-in form reads its fields whatever the body claims to be.
    (void)signIn(QStringLiteral("secret"), "text/plain");
    for (const LoggedRequest &entry : service->requestLog()) {
        EXPECT_FALSE(entry.body.contains(pair.refreshToken.toUtf8()));
        EXPECT_FALSE(entry.body.contains("secret"));
        EXPECT_FALSE(entry.header("Authorization").contains(pair.accessToken.toUtf8()));
    }
    service->setRevealSecretsInLog(true);
    (void)get(QStringLiteral("/v1.0/me"));
    EXPECT_EQ(service->requestLog().back().header("Authorization"),
              "Bearer " + pair.accessToken.toUtf8());
}

} // namespace
