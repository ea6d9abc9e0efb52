#include "ServiceTestSupport.h"

#include <QUrl>
#include <QUrlQuery>

#include <thread>

using namespace Cogitra::Service;
using namespace Cogitra::Service::Testing;

namespace {

const QString kScope = QStringLiteral(
    "offline_access%20User.Read%20Notes.Create%20Notes.ReadWrite%20Notes.ReadWrite.All");

std::string AuthorizeTarget(const QString &query)
{
    return "/common/oauth2/v2.0/authorize?" + query.toStdString();
}

class IdentityRoutes : public ServiceTest
{
protected:
    void SetUp() override
    {
        ServiceTest::SetUp();
        makeAccount();
    }

    // The authorize query as the sign-in window writes it: redirect URI unescaped.
    QString authorizeQuery(const QString &redirect = QString(), const QString &scope = kScope) const
    {
        return QStringLiteral("prompt=login&client_id=") + service->clientId()
               + QStringLiteral("&response_type=code&response_mode=query&scope=") + scope
               + QStringLiteral("&redirect_uri=")
               + (redirect.isEmpty() ? service->redirectUri() : redirect);
    }

    httplib::Result signIn(const QString &password, const QString &query = QString())
    {
        const QString form = (query.isEmpty() ? authorizeQuery() : query)
                             + QStringLiteral("&loginfmt=avery.example%40outlook.com&passwd=")
                             + password;
        return client->Post("/common/oauth2/v2.0/authorize", form.toStdString(),
                            "application/x-www-form-urlencoded");
    }

    // The token request exactly as the client sends it: nothing percent-encoded.
    httplib::Result tokenRequest(const QString &body)
    {
        return client->Post("/common/oauth2/v2.0/token", body.toStdString(),
                            "application/x-www-form-urlencoded");
    }

    httplib::Result codeGrant(const QString &code, const QString &redirect = QString())
    {
        return tokenRequest(QStringLiteral("grant_type=authorization_code&client_id=")
                            + service->clientId() + QStringLiteral("&code=") + code
                            + QStringLiteral("&redirect_uri=")
                            + (redirect.isEmpty() ? service->redirectUri() : redirect));
    }

    httplib::Result refreshGrant(const QString &refreshToken)
    {
        return tokenRequest(QStringLiteral("grant_type=refresh_token&client_id=")
                            + service->clientId() + QStringLiteral("&refresh_token=") + refreshToken
                            + QStringLiteral("&redirect_uri=") + service->redirectUri());
    }

    static QString Cut(const std::string &reply, const char *marker)
    {
        const QString text = QString::fromStdString(reply);
        const QString start = QLatin1String(marker);
        const qsizetype at = text.indexOf(start);
        if (at < 0)
            return QString();
        const qsizetype end = text.indexOf(u'"', at + start.size());
        return text.mid(at + start.size(), end - at - start.size());
    }

    static void ExpectInvalidGrant(const httplib::Result &res, const char *aadsts)
    {
        ASSERT_TRUE(res);
        EXPECT_EQ(res->status, 400);
        const QJsonObject error = JsonObject(res->body);
        EXPECT_EQ(error.value(QStringLiteral("error")).toString(), QStringLiteral("invalid_grant"));
        EXPECT_TRUE(error.value(QStringLiteral("error_description"))
                        .toString()
                        .startsWith(QLatin1String(aadsts)))
            << res->body;
        EXPECT_EQ(KeyOrder(QByteArray::fromStdString(res->body)),
                  KeyOrder(Fixture("identity/token-error.invalid_grant.refresh_token.json")));
        EXPECT_TRUE(Cut(res->body, "\"access_token\":\"").isEmpty());
    }
};

TEST_F(IdentityRoutes, SignInFormRedirectsWithASingleUseCode)
{
    const auto form = client->Get(AuthorizeTarget(authorizeQuery()).c_str());
    ASSERT_TRUE(form);
    EXPECT_EQ(form->status, 200);
    EXPECT_NE(form->body.find("name=\"passwd\""), std::string::npos);

    const auto wrong = signIn(QStringLiteral("nope"));
    ASSERT_TRUE(wrong);
    EXPECT_EQ(wrong->status, 200);
    EXPECT_NE(wrong->body.find("incorrect"), std::string::npos);

    const auto ok = signIn(QStringLiteral("secret"));
    ASSERT_TRUE(ok);
    ASSERT_EQ(ok->status, 302);
    const QString location = QString::fromStdString(ok->get_header_value("Location"));
    ASSERT_TRUE(location.startsWith(service->redirectUri() + QStringLiteral("?code=M.C5")))
        << qPrintable(location);
    const QString code = QUrlQuery(QUrl(location)).queryItemValue(QStringLiteral("code"));

    const auto tokens = codeGrant(code);
    ASSERT_TRUE(tokens);
    ASSERT_EQ(tokens->status, 200) << tokens->body;
    EXPECT_EQ(KeyOrder(QByteArray::fromStdString(tokens->body)),
              KeyOrder(Fixture("identity/token-response.personal.no-openid.json")));
    EXPECT_TRUE(Cut(tokens->body, "\"access_token\":\"").startsWith(QStringLiteral("EwB")));
    EXPECT_FALSE(Cut(tokens->body, "\"refresh_token\":\"").isEmpty());
    EXPECT_EQ(JsonObject(tokens->body).value(QStringLiteral("scope")).toString(),
              QStringLiteral("User.Read Notes.Create Notes.ReadWrite Notes.ReadWrite.All"));
    EXPECT_EQ(tokens->get_header_value("Cache-Control"), "no-store, no-cache");

    const auto me = client->Get(
        "/v1.0/me",
        {{"Authorization", "Bearer " + Cut(tokens->body, "\"access_token\":\"").toStdString()}});
    ASSERT_TRUE(me);
    EXPECT_EQ(me->status, 200);

    ExpectInvalidGrant(codeGrant(code), "AADSTS54005");
}

TEST_F(IdentityRoutes, CodesExpireAndAreBoundToTheirRedirectUri)
{
    service->setCodeLifetime(0);
    ExpectInvalidGrant(codeGrant(service->mintAuthorizationCode(account.cid)), "AADSTS70008");
    service->setCodeLifetime(600);
    ExpectInvalidGrant(codeGrant(service->mintAuthorizationCode(account.cid),
                                 QStringLiteral("https://login.live.com/oauth20_desktop.srf")),
                       "AADSTS70000");
    ExpectInvalidGrant(codeGrant(QStringLiteral("M.C500_BAY.2.U.made-up")), "AADSTS70000");
    // The real redirect URI is accepted too, when the code was issued for it.
    const QString live = QStringLiteral("https://login.live.com/oauth20_desktop.srf");
    const auto ok = codeGrant(service->mintAuthorizationCode(account.cid, live), live);
    ASSERT_TRUE(ok);
    EXPECT_EQ(ok->status, 200);
    // Without offline access there is no refresh token.
    const auto online = codeGrant(service->mintAuthorizationCode(
        account.cid, QString(), QStringLiteral("User.Read Notes.ReadWrite")));
    ASSERT_TRUE(online);
    EXPECT_EQ(online->status, 200);
    EXPECT_EQ(online->body.find("refresh_token"), std::string::npos);
}

TEST_F(IdentityRoutes, RefreshTokensRotate)
{
    const TokenPair first = *service->mintTokens(account.cid);
    ASSERT_TRUE(first.refreshToken.contains(u'!') || first.refreshToken.contains(u'*')
                || first.refreshToken.contains(u'$') || first.refreshToken.size() > 100);
    const auto renewed = refreshGrant(first.refreshToken);
    ASSERT_TRUE(renewed);
    ASSERT_EQ(renewed->status, 200) << renewed->body;
    const QString second = Cut(renewed->body, "\"refresh_token\":\"");
    EXPECT_FALSE(second.isEmpty());
    EXPECT_NE(second, first.refreshToken);
    ExpectInvalidGrant(refreshGrant(first.refreshToken), "AADSTS70000");
    const auto again = refreshGrant(second);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->status, 200);
    // An access token is no refresh token.
    ExpectInvalidGrant(refreshGrant(first.accessToken), "AADSTS70000");
}

TEST_F(IdentityRoutes, RequestsThatCannotBeServedAreRefusedAsThePlatformDoes)
{
    const QString id = service->clientId();
    const QString other = QStringLiteral("11111111-2222-3333-4444-555555555555");
    QString wrongClient = authorizeQuery();
    wrongClient.replace(id, other);
    QString tokenType = authorizeQuery();
    tokenType.replace(QStringLiteral("response_type=code"), QStringLiteral("response_type=token"));
    struct Case
    {
        QString token; // a token request's body; empty: a GET of target
        std::string target;
        int status;
        const char *has; // in the body, or in Location for a redirect
        const char *lacks = nullptr;
    };
    const Case cases[] = {
        {QStringLiteral("client_id=") + id, {}, 400, R"("error":"invalid_request")"},
        {QStringLiteral("grant_type=authorization_code&code=x"), {}, 400, "invalid_request"},
        {QStringLiteral("grant_type=authorization_code&code=x&client_id=") + other,
         {},
         400,
         R"("error":"unauthorized_client")"},
        {QStringLiteral("grant_type=password&client_id=") + id, {}, 400, "unsupported_grant_type"},
        {QStringLiteral("grant_type=refresh_token&client_id=") + id, {}, 400, "invalid_request"},
        {{},
         AuthorizeTarget(authorizeQuery(QStringLiteral("https://evil.example/cb"))),
         400,
         "",
         "code="},
        {{}, AuthorizeTarget(wrongClient), 400, "", "code="},
        {{},
         AuthorizeTarget(authorizeQuery(QString(), QStringLiteral("Mail.Send"))),
         302,
         "?error=invalid_scope"},
        {{}, AuthorizeTarget(tokenType), 302, "error=", "code="},
        // The desktop redirect page shows nothing of what it was given.
        {{}, "/oauth20_desktop.srf?code=M.C500_BAY.2.U.x&lc=1033", 200, "", "code"},
    };
    for (const Case &c : cases) {
        const auto res = c.token.isEmpty() ? client->Get(c.target) : tokenRequest(c.token);
        ASSERT_TRUE(res);
        SCOPED_TRACE(c.token.isEmpty() ? c.target : c.token.toStdString());
        EXPECT_EQ(res->status, c.status);
        const std::string seen = res->status == 302 ? res->get_header_value("Location")
                                                    : res->body + res->get_header_value("Location");
        EXPECT_NE(seen.find(c.has), std::string::npos) << seen;
        if (c.lacks) {
            EXPECT_EQ(seen.find(c.lacks), std::string::npos) << seen;
        }
    }
}

TEST_F(IdentityRoutes, ASignedInSessionSkipsTheFormUntilSignOut)
{
    const auto ok = signIn(QStringLiteral("secret"));
    ASSERT_TRUE(ok);
    const std::string cookie = ok->get_header_value("Set-Cookie")
                                   .substr(0, ok->get_header_value("Set-Cookie").find(';'));
    QString query = authorizeQuery();
    query.remove(QStringLiteral("prompt=login&"));
    const auto again = client->Get(AuthorizeTarget(query).c_str(), {{"Cookie", cookie}});
    ASSERT_TRUE(again);
    EXPECT_EQ(again->status, 302);
    const auto forced
        = client->Get(AuthorizeTarget(authorizeQuery()).c_str(), {{"Cookie", cookie}});
    ASSERT_TRUE(forced);
    EXPECT_EQ(forced->status, 200); // prompt=login asks for the password again
    const auto out = client->Get("/logout.srf", {{"Cookie", cookie}});
    ASSERT_TRUE(out);
    EXPECT_EQ(out->status, 200);
    const auto after = client->Get(AuthorizeTarget(query).c_str(), {{"Cookie", cookie}});
    ASSERT_TRUE(after);
    EXPECT_EQ(after->status, 200);
}

TEST_F(IdentityRoutes, DesktopRedirectPageIsBlank)
{
    const auto res = client->Get("/oauth20_desktop.srf?code=M.C500_BAY.2.U.x&lc=1033");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200);
    EXPECT_EQ(res->body.find("code"), std::string::npos);
}

TEST_F(IdentityRoutes, TheLogNeverShowsSecretsUnlessAsked)
{
    const TokenPair pair = *service->mintTokens(account.cid);
    (void)refreshGrant(pair.refreshToken);
    (void)client->Get("/v1.0/me", {{"Authorization", "Bearer " + pair.accessToken.toStdString()}});
    (void)signIn(QStringLiteral("secret"));
    // The sign-in form reads its fields whatever the body claims to be.
    (void)client->Post("/common/oauth2/v2.0/authorize",
                       QString(authorizeQuery()
                               + QStringLiteral("&loginfmt=avery.example%40outlook.com"
                                                "&passwd=secret"))
                           .toStdString(),
                       "text/plain");
    for (const LoggedRequest &entry : service->requestLog()) {
        EXPECT_FALSE(entry.body.contains(pair.refreshToken.toUtf8()));
        EXPECT_FALSE(entry.body.contains("secret"));
        EXPECT_FALSE(entry.header("Authorization").contains(pair.accessToken.toUtf8()));
    }
    service->setRevealSecretsInLog(true);
    (void)client->Get("/v1.0/me", {{"Authorization", "Bearer " + pair.accessToken.toStdString()}});
    EXPECT_EQ(service->requestLog().back().header("Authorization"),
              "Bearer " + pair.accessToken.toUtf8());
}

} // namespace
