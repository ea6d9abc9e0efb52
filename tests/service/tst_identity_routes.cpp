#include "ServiceTestSupport.h"
#include "TestFiles.h"

using namespace Cogitra::Service;
using namespace Cogitra::Service::Testing;

namespace {

const QString kScope = QStringLiteral(
    "offline_access%20User.Read%20Notes.Create%20Notes.ReadWrite%20Notes.ReadWrite.All");
const QString kLive = QStringLiteral("https://login.live.com/oauth20_desktop.srf");
const QString kAuthorize = QStringLiteral("/common/oauth2/v2.0/authorize");
const QString kToken = QStringLiteral("/common/oauth2/v2.0/token");

class IdentityRoutes : public ServiceTest
{
protected:
    // The authorize query as the sign-in window writes it: redirect URI unescaped.
    QString authorizeQuery(const QString &redirect = QString(), const QString &scope = kScope) const
    {
        return QStringLiteral("prompt=login&client_id=%1&response_type=code&response_mode=query"
                              "&scope=%2&redirect_uri=%3")
            .arg(service->clientId(), scope,
                 redirect.isEmpty() ? service->redirectUri() : redirect);
    }
    QString signInForm(const QString &password) const
    {
        return authorizeQuery() + QStringLiteral("&loginfmt=avery.example%40outlook.com&passwd=")
               + password;
    }
    // Token requests exactly as the client sends them: nothing percent-encoded.
    QString grant(const QString &what, const QString &redirect = QString()) const
    {
        return QStringLiteral("grant_type=%1&client_id=%2&redirect_uri=%3")
            .arg(what, service->clientId(), redirect.isEmpty() ? service->redirectUri() : redirect);
    }
    QString codeGrant(const QString &code, const QString &redirect = QString()) const
    {
        return grant(QStringLiteral("authorization_code&code=") + code, redirect);
    }
};

// In order: codes serve once, expire and are bound to their redirect URI; refresh tokens rotate.
TEST_F(IdentityRoutes, RefusesWhatWasNotIssuedForThisRequestAsThePlatformDoes)
{
    const QString id = service->clientId();
    const QString other = QStringLiteral("11111111-2222-3333-4444-555555555555");
    service->setCodeLifetime(0);
    const QString expired = service->mintAuthorizationCode(account.cid);
    service->setCodeLifetime(600);
    const QString code = service->mintAuthorizationCode(account.cid);
    const TokenPair first = *service->mintTokens(account.cid);
    // Refresh tokens hold the characters that need escaping in a form.
    EXPECT_TRUE(first.refreshToken.contains(u'!') || first.refreshToken.contains(u'*')
                || first.refreshToken.contains(u'$') || first.refreshToken.size() > 100);
    const QString consent = authorizeQuery();
    const char *grantRefused = R"("error":"invalid_grant","error_description":"AADSTS)";
    // A POST (target, body) or a GET; what the body or Location holds, and what it must not.
    // clang-format off
    const struct { QString target; QString body; int status; QByteArray has; const char *lacks = nullptr; } rows[] = {
        {kAuthorize, signInForm(QStringLiteral("nope")), 200, "incorrect"},
        {kToken, codeGrant(code), 200, "refresh_token"},
        {kToken, codeGrant(code), 400, QByteArray(grantRefused) + "54005"},
        {kToken, codeGrant(expired), 400, QByteArray(grantRefused) + "70008"},
        {kToken, codeGrant(service->mintAuthorizationCode(account.cid), kLive), 400, QByteArray(grantRefused) + "70000"},
        {kToken, codeGrant(QStringLiteral("M.C500_BAY.2.U.made-up")), 400, QByteArray(grantRefused) + "70000"},
        // The real redirect URI is accepted too, when the code was issued for it.
        {kToken, codeGrant(service->mintAuthorizationCode(account.cid, kLive), kLive), 200, "access_token"},
        // Without offline access there is no refresh token.
        {kToken, codeGrant(service->mintAuthorizationCode(account.cid, QString(), QStringLiteral("User.Read Notes.ReadWrite"))), 200, "access_token", "refresh_token"},
        {kToken, grant("refresh_token&refresh_token=" + first.refreshToken), 200, "refresh_token"},
        {kToken, grant("refresh_token&refresh_token=" + first.refreshToken), 400, QByteArray(grantRefused) + "70000"},
        {kToken, grant("refresh_token&refresh_token=" + first.accessToken), 400, QByteArray(grantRefused) + "70000"},
        {kToken, QStringLiteral("client_id=") + id, 400, R"("error":"invalid_request")"},
        {kToken, QStringLiteral("grant_type=authorization_code&code=x"), 400, "invalid_request"},
        {kToken, QStringLiteral("grant_type=refresh_token&client_id=") + id, 400, "invalid_request"},
        {kToken, QStringLiteral("grant_type=authorization_code&code=x&client_id=") + other, 400, R"("error":"unauthorized_client")"},
        {kToken, QStringLiteral("grant_type=password&client_id=") + id, 400, "unsupported_grant_type"},
        {kAuthorize + u'?' + authorizeQuery(QStringLiteral("https://evil.example/cb")), {}, 400, "", "code="},
        {kAuthorize + u'?' + QString(consent).replace(id, other), {}, 400, "", "code="},
        {kAuthorize + u'?' + authorizeQuery({}, QStringLiteral("Mail.Send")), {}, 302, "?error=invalid_scope"},
        {kAuthorize + u'?' + QString(consent).replace(QStringLiteral("response_type=code"), QStringLiteral("response_type=token")), {}, 302, "error=", "code="},
        // The desktop redirect page shows nothing of what it was given.
        {QStringLiteral("/oauth20_desktop.srf?code=M.C500_BAY.2.U.x&lc=1033"), {}, 200, "", "code"},
    };
    // clang-format on
    for (const auto &row : rows) {
        SCOPED_TRACE(qPrintable(row.target + u' ' + row.body));
        const auto res = row.body.isEmpty() ? client->Get(row.target.toStdString())
                                            : post(row.target, row.body);
        ASSERT_TRUE(res);
        EXPECT_EQ(res->status, row.status);
        const std::string seen
            = (res->status == 302 ? "" : res->body) + res->get_header_value("Location");
        EXPECT_NE(seen.find(row.has.toStdString()), std::string::npos) << seen;
        EXPECT_TRUE(!row.lacks || seen.find(row.lacks) == std::string::npos) << seen;
    }
}

// A restart keeps the pages, the selection and the tokens, on loopback only; the host list; the
// logs hold no secrets, but in memory when asked.
TEST_F(IdentityRoutes, ARestartKeepsEverythingAndTheLogsHoldNoSecrets)
{
    const TokenPair pair = *service->mintTokens(account.cid);
    ASSERT_TRUE(service->patchPage(page.id,
                                   "[{'target':'body','action':'append','content':'<img alt=\"a\" "
                                   "src=\"data:image/png;base64,iVBORw0KGgo=\" />'}]"));
    ASSERT_TRUE(service->selectPage(page.id));
    const QString link = service->selectionLink();
    const QByteArray picture = service->pageResources(page.id).at(0).data;
    const QString path = fixture.dataDir() + QStringLiteral("/requests.jsonl");
    ASSERT_NO_FATAL_FAILURE(start( // most likely on another port
        {.logFile = path,
         .hosts = {QStringLiteral("editor.ardentis.app"), QStringLiteral("127.0.0.1:8123")}}));
    EXPECT_EQ(service->selectionLink(), link);
    EXPECT_EQ(service->pageResources(page.id).at(0).data, picture);
    EXPECT_TRUE(
        service->pageHtml(page.id).contains(service->rootUrl() + QStringLiteral("/v1.0/users('")));
    // 127.0.0.2 is this machine too: a server on every address would answer it.
    EXPECT_FALSE(httplib::Client("127.0.0.2", service->port()).Get("/"));
    const auto hosts = client->Get("/uploads/soft/cogitra/hosts.txt");
    ASSERT_EQ(Status(hosts), 200);
    EXPECT_EQ(hosts->body, "editor.ardentis.app\n127.0.0.1:8123\n");
    EXPECT_EQ(Status(client->Get("/")), 200);
    token = pair.accessToken;
    EXPECT_EQ(Status(get(QStringLiteral("/v1.0/me"))), 200);
    EXPECT_EQ(Status(post(kToken, grant("refresh_token&refresh_token=" + pair.refreshToken))), 200);
    // The sign-in form reads its fields whatever the body claims to be.
    for (const char *type : {"application/x-www-form-urlencoded", "text/plain"})
        (void)post(kAuthorize, signInForm(QStringLiteral("secret")), type);
    (void)client->Get("/nowhere");
    service->stop(); // every request is logged once it is answered
    for (const LoggedRequest &entry : service->requestLog()) {
        EXPECT_FALSE(entry.body.contains(pair.refreshToken.toUtf8()));
        EXPECT_FALSE(entry.body.contains("secret"));
        EXPECT_FALSE(entry.header("Authorization").contains(token.toUtf8()));
    }
    const QByteArray file = Cogitra::Testing::ReadBytes(path);
    EXPECT_EQ(file.count('\n'), 7);
    EXPECT_FALSE(file.contains(token.toUtf8()));
    EXPECT_TRUE(file.contains("\"Bearer ***\"") && file.contains("\"status\":404")) << file.data();

    ASSERT_NO_FATAL_FAILURE(start());
    service->setRevealSecretsInLog(true);
    (void)get(QStringLiteral("/v1.0/me"));
    service->stop();
    EXPECT_EQ(service->requestLog().back().header("Authorization"), "Bearer " + token.toUtf8());
}

} // namespace
