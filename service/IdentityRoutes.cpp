#include "service/Ids.h"
#include "service/ServiceContext.h"

#include <QDateTime>
#include <QUrl>

// The identity platform's pages: authorize (a sign-in form), token (code and refresh
// grants), sign-out, and the desktop redirect page.
namespace Cogitra::Service {
namespace {

const QStringList kKnownScopes
    = {QStringLiteral("offline_access"), QStringLiteral("openid"),
       QStringLiteral("profile"),        QStringLiteral("email"),
       QStringLiteral("user.read"),      QStringLiteral("notes.create"),
       QStringLiteral("notes.read"),     QStringLiteral("notes.readwrite"),
       QStringLiteral("notes.read.all"), QStringLiteral("notes.readwrite.all")};

const char kSessionCookie[] = "CogitraSignIn";

QString NormalizedScope(const QString &scope, bool *ok)
{
    QStringList out;
    *ok = true;
    for (QString item : scope.split(u' ', Qt::SkipEmptyParts)) {
        if (item.startsWith(QStringLiteral("https://graph.microsoft.com/"), Qt::CaseInsensitive))
            item = item.mid(28);
        const qsizetype known = kKnownScopes.indexOf(item.toLower());
        if (known < 0) {
            *ok = false;
            return QString();
        }
        if (!out.contains(item, Qt::CaseInsensitive))
            out.append(item);
    }
    *ok = !out.isEmpty();
    return out.join(u' ');
}

// The scope the token reply names: what was granted, without offline_access.
QString ReplyScope(const QString &scope)
{
    QStringList out;
    for (const QString &item : scope.split(u' ', Qt::SkipEmptyParts)) {
        if (item.compare(QStringLiteral("offline_access"), Qt::CaseInsensitive) != 0)
            out.append(item);
    }
    return out.join(u' ');
}

void WriteHtml(httplib::Response &res, int status, const QString &html)
{
    res.status = status;
    res.set_header("Cache-Control", "no-store, no-cache");
    res.set_content(html.toStdString(), "text/html; charset=utf-8");
}

QString ErrorPage(const QString &message)
{
    return QStringLiteral(
               "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>Sign in to your "
               "account</title></head><body style=\"font-family:sans-serif;margin:40px\">"
               "<h1>We're unable to complete your request</h1><p>")
           + message.toHtmlEscaped() + QStringLiteral("</p></body></html>");
}

QString SignInPage(const std::map<QString, QString> &query, const QString &user, bool failed)
{
    QString hidden;
    for (const auto &[key, value] : query) {
        if (key == QStringLiteral("loginfmt") || key == QStringLiteral("passwd"))
            continue;
        hidden += QStringLiteral("<input type=\"hidden\" name=\"") + key.toHtmlEscaped()
                  + QStringLiteral("\" value=\"") + value.toHtmlEscaped() + QStringLiteral("\">");
    }
    return QStringLiteral(
               "<!DOCTYPE html><html lang=\"en\"><head><meta charset=\"utf-8\">"
               "<title>Sign in to your account</title><style>"
               "body{font-family:'Segoe UI',sans-serif;background:#f2f2f2;margin:0}"
               ".box{background:#fff;width:340px;margin:60px auto;padding:36px 44px;"
               "box-shadow:0 2px 6px rgba(0,0,0,.2)}h1{font-size:24px;font-weight:600;margin:0 0 "
               "16px}"
               "label{display:block;margin:12px 0 4px;font-size:14px}"
               "input[type=text],input[type=password]{width:100%;box-sizing:border-box;padding:6px;"
               "font-size:15px;border:0;border-bottom:1px solid #666}"
               ".error{color:#e81123;font-size:14px}button{margin-top:24px;float:right;"
               "background:#0067b8;color:#fff;border:0;padding:8px 28px;font-size:15px}"
               "</style></head><body><div class=\"box\"><h1>Sign in</h1>")
           + (failed ? QStringLiteral("<p class=\"error\" id=\"error\">Your account or password is "
                                      "incorrect.</p>")
                     : QString())
           + QStringLiteral("<form method=\"post\" action=\"/common/oauth2/v2.0/authorize\">")
           + hidden
           + QStringLiteral("<label for=\"loginfmt\">Email, phone, or Skype</label>"
                            "<input type=\"text\" id=\"loginfmt\" name=\"loginfmt\" value=\"")
           + user.toHtmlEscaped()
           + QStringLiteral("\" autofocus><label for=\"passwd\">Password</label>"
                            "<input type=\"password\" id=\"passwd\" name=\"passwd\">"
                            "<button type=\"submit\" id=\"idSIButton9\">Sign in</button>"
                            "<div style=\"clear:both\"></div></form></div></body></html>");
}

QString WithQuery(const QString &uri, const QString &query)
{
    return uri + (uri.contains(u'?') ? u'&' : u'?') + query;
}

QString Escaped(const QString &value)
{
    return QString::fromLatin1(QUrl::toPercentEncoding(value));
}

// Checks an authorize request. On a fault it writes the reply (an error page, or a
// redirect with error=) and returns false.
bool CheckAuthorize(ServiceContext &c, const std::map<QString, QString> &q, httplib::Response &res,
                    QString *scope)
{
    const auto value = [&](const char *key) {
        const auto found = q.find(QString::fromLatin1(key));
        return found == q.end() ? QString() : found->second;
    };
    if (value("client_id") != c.options.clientId) {
        WriteHtml(
            res, 400,
            ErrorPage(QStringLiteral("The client does not exist or is not enabled for consumers. "
                                     "If you are the application developer, configure a new "
                                     "application through the App Registrations in the Azure "
                                     "Portal.")));
        return false;
    }
    const QString redirect = value("redirect_uri");
    if (!c.knownRedirectUri(redirect)) {
        WriteHtml(
            res, 400,
            ErrorPage(QStringLiteral("The provided value for the input parameter 'redirect_uri' "
                                     "is not valid. The expected value is a URI which matches "
                                     "a redirect URI registered for this client application.")));
        return false;
    }
    const auto redirectError = [&](const QString &error, const QString &description) {
        QString query = QStringLiteral("error=") + error + QStringLiteral("&error_description=")
                        + Escaped(description).replace(QStringLiteral("%20"), QStringLiteral("+"));
        if (!value("state").isEmpty())
            query += QStringLiteral("&state=") + Escaped(value("state"));
        res.set_redirect(WithQuery(redirect, query).toStdString());
        return false;
    };
    if (value("response_type") != QStringLiteral("code"))
        return redirectError(QStringLiteral("unsupported_response_type"),
                             QStringLiteral("The provided value for the input parameter "
                                            "'response_type' is not allowed for this client. "
                                            "Expected value is 'code'."));
    bool ok = false;
    *scope = NormalizedScope(value("scope"), &ok);
    if (!ok)
        return redirectError(QStringLiteral("invalid_scope"),
                             QStringLiteral("The provided value for the input parameter 'scope' is "
                                            "not valid."));
    return true;
}

void RedirectWithCode(ServiceContext &c, const std::map<QString, QString> &q, const QString &cid,
                      const QString &scope, httplib::Response &res)
{
    const QString redirect = q.at(QStringLiteral("redirect_uri"));
    const QString code = c.issueCode(cid, redirect, scope);
    QString query = QStringLiteral("code=") + code;
    const auto state = q.find(QStringLiteral("state"));
    if (state != q.end() && !state->second.isEmpty())
        query += QStringLiteral("&state=") + Escaped(state->second);
    query += QStringLiteral("&lc=1033");
    res.set_redirect(WithQuery(redirect, query).toStdString());
}

// The value of the sign-in cookie, if the request carries it.
QString SessionCookie(const httplib::Request &req)
{
    const QList<QByteArray> cookies
        = QByteArray::fromStdString(req.get_header_value("Cookie")).split(';');
    for (const QByteArray &cookie : cookies) {
        const QByteArray pair = cookie.trimmed();
        const qsizetype eq = pair.indexOf('=');
        if (eq > 0 && pair.left(eq) == kSessionCookie)
            return QString::fromLatin1(pair.mid(eq + 1));
    }
    return QString();
}

QString SessionAccount(ServiceContext &c, const httplib::Request &req)
{
    const QString session = SessionCookie(req);
    std::scoped_lock lock(c.sessionMutex);
    const auto found = c.sessions.find(session);
    return session.isEmpty() || found == c.sessions.end() ? QString() : found->second;
}

void AuthorizeGet(ServiceContext &c, const httplib::Request &req, httplib::Response &res)
{
    const std::map<QString, QString> q = ParseForm(QueryOf(req.target));
    QString scope;
    if (!CheckAuthorize(c, q, res, &scope))
        return;
    const auto prompt = q.find(QStringLiteral("prompt"));
    const bool forceLogin = prompt != q.end() && prompt->second == QStringLiteral("login");
    const QString signedIn = forceLogin ? QString() : SessionAccount(c, req);
    if (!signedIn.isEmpty()) {
        RedirectWithCode(c, q, signedIn, scope, res);
        return;
    }
    const auto hint = q.find(QStringLiteral("login_hint"));
    WriteHtml(res, 200, SignInPage(q, hint == q.end() ? QString() : hint->second, false));
}

void AuthorizePost(ServiceContext &c, const httplib::Request &req, httplib::Response &res)
{
    const std::map<QString, QString> form = ParseForm(QByteArray::fromStdString(req.body));
    QString scope;
    if (!CheckAuthorize(c, form, res, &scope))
        return;
    const auto user = form.find(QStringLiteral("loginfmt"));
    const auto password = form.find(QStringLiteral("passwd"));
    const std::optional<Account> account
        = user == form.end() || password == form.end()
              ? std::nullopt
              : c.store.checkPassword(user->second.trimmed(), password->second);
    if (!account) {
        WriteHtml(res, 200, SignInPage(form, user == form.end() ? QString() : user->second, true));
        return;
    }
    const QString session = RandomHex(32);
    {
        std::scoped_lock lock(c.sessionMutex);
        c.sessions[session] = account->cid;
    }
    res.set_header("Set-Cookie", std::string(kSessionCookie) + "=" + session.toStdString()
                                     + "; Path=/; HttpOnly; SameSite=Lax");
    RedirectWithCode(c, form, account->cid, scope, res);
}

void Token(ServiceContext &c, const httplib::Request &req, httplib::Response &res)
{
    if (req.get_header_value("Content-Type").rfind("application/x-www-form-urlencoded", 0) != 0) {
        WriteIdentityError(res, 400, QStringLiteral("invalid_request"),
                           QStringLiteral("AADSTS900144: The request body must contain the "
                                          "following parameter: 'grant_type'."),
                           900144);
        return;
    }
    const std::map<QString, QString> form = ParseForm(QByteArray::fromStdString(req.body));
    const auto value = [&](const char *key) {
        const auto found = form.find(QString::fromLatin1(key));
        return found == form.end() ? QString() : found->second;
    };
    const auto missing = [&](const char *key) {
        WriteIdentityError(res, 400, QStringLiteral("invalid_request"),
                           QStringLiteral("AADSTS900144: The request body must contain the "
                                          "following parameter: '%1'.")
                               .arg(QLatin1String(key)),
                           900144);
    };
    const QString grantType = value("grant_type");
    if (grantType.isEmpty())
        return missing("grant_type");
    if (value("client_id").isEmpty())
        return missing("client_id");
    if (value("client_id") != c.options.clientId) {
        WriteIdentityError(res, 400, QStringLiteral("unauthorized_client"),
                           QStringLiteral("AADSTS700016: Application with identifier '%1' was "
                                          "not found in the directory 'Microsoft Accounts'.")
                               .arg(value("client_id")),
                           700016);
        return;
    }
    QString cid;
    QString scope;
    if (grantType == QStringLiteral("authorization_code")) {
        if (value("code").isEmpty())
            return missing("code");
        const std::optional<GrantRecord> grant = c.store.redeemGrant(SecretDigest(value("code")));
        if (!grant) {
            WriteIdentityError(res, 400, QStringLiteral("invalid_grant"),
                               QStringLiteral("AADSTS70000: The provided value for the 'code' "
                                              "parameter is not valid."),
                               70000);
            return;
        }
        if (grant->used) {
            WriteIdentityError(res, 400, QStringLiteral("invalid_grant"),
                               QStringLiteral("AADSTS54005: OAuth2 Authorization code was already "
                                              "redeemed, please retry with a new valid code or use "
                                              "an existing refresh token."),
                               54005);
            return;
        }
        if (grant->expires <= NowMs()) {
            WriteIdentityError(res, 400, QStringLiteral("invalid_grant"),
                               QStringLiteral("AADSTS70008: The provided authorization code or "
                                              "refresh token has expired due to inactivity. Send "
                                              "a new interactive authorization request for this "
                                              "user and resource."),
                               70008);
            return;
        }
        if (grant->redirectUri != value("redirect_uri")) {
            WriteIdentityError(
                res, 400, QStringLiteral("invalid_grant"),
                QStringLiteral("AADSTS70000: The provided value for the input "
                               "parameter 'redirect_uri' is not valid. It does not "
                               "match the redirect URI of the authorization request."),
                70000);
            return;
        }
        cid = grant->cid;
        scope = grant->scope;
    } else if (grantType == QStringLiteral("refresh_token")) {
        if (value("refresh_token").isEmpty())
            return missing("refresh_token");
        const QString digest = SecretDigest(value("refresh_token"));
        const std::optional<TokenRecord> token = c.store.token(digest);
        if (!token || token->kind != QStringLiteral("refresh") || token->revoked
            || token->expires <= NowMs() || token->clientId != c.options.clientId) {
            WriteIdentityError(
                res, 400, QStringLiteral("invalid_grant"),
                QStringLiteral("AADSTS70000: The provided value for the input "
                               "parameter 'refresh_token' or 'assertion' is not valid."),
                70000);
            return;
        }
        // Refresh tokens rotate: the one just used is spent.
        c.store.revokeToken(digest);
        cid = token->cid;
        scope = token->scope;
    } else {
        WriteIdentityError(res, 400, QStringLiteral("unsupported_grant_type"),
                           QStringLiteral("AADSTS70003: The app requested an unsupported grant "
                                          "type '%1'.")
                               .arg(grantType),
                           70003);
        return;
    }
    const TokenPair pair = c.issueTokens(cid, c.options.clientId, scope);
    Json body = Json::object();
    body.add(QStringLiteral("token_type"), "Bearer")
        .add(QStringLiteral("scope"), ReplyScope(scope))
        .add(QStringLiteral("expires_in"), pair.expiresIn)
        .add(QStringLiteral("ext_expires_in"), pair.expiresIn)
        .add(QStringLiteral("access_token"), pair.accessToken);
    if (!pair.refreshToken.isEmpty())
        body.add(QStringLiteral("refresh_token"), pair.refreshToken);
    const QByteArray json = body.toCompact();
    res.status = 200;
    res.set_header("Cache-Control", "no-store, no-cache");
    res.set_header("Pragma", "no-cache");
    res.set_content(json.constData(), static_cast<size_t>(json.size()),
                    "application/json; charset=utf-8");
}

void Logout(ServiceContext &c, const httplib::Request &req, httplib::Response &res)
{
    {
        std::scoped_lock lock(c.sessionMutex);
        c.sessions.erase(SessionCookie(req));
    }
    res.set_header("Set-Cookie", std::string(kSessionCookie) + "=; Path=/; Max-Age=0; HttpOnly");
    WriteHtml(res, 200,
              QStringLiteral("<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>Sign out"
                             "</title></head><body style=\"font-family:sans-serif;margin:40px\">"
                             "<p>You have signed out of your account.</p></body></html>"));
}

} // namespace

void WriteIdentityError(httplib::Response &res, int status, const QString &error,
                        const QString &description, int code)
{
    const QString trace = NewRequestId();
    const QString correlation = NewRequestId();
    const QString stamp
        = QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss'Z'"));
    Json body = Json::object();
    body.add(QStringLiteral("error"), error)
        .add(QStringLiteral("error_description"), description + QStringLiteral(" Trace ID: ")
                                                      + trace + QStringLiteral(" Correlation ID: ")
                                                      + correlation + QStringLiteral(" Timestamp: ")
                                                      + stamp)
        .add(QStringLiteral("error_codes"), Json::array().push(Json::number(code)))
        .add(QStringLiteral("timestamp"), stamp)
        .add(QStringLiteral("trace_id"), trace)
        .add(QStringLiteral("correlation_id"), correlation)
        .add(QStringLiteral("error_uri"),
             QStringLiteral("https://login.microsoftonline.com/error?code=")
                 + QString::number(code));
    res.status = status;
    res.set_header("Cache-Control", "no-store, no-cache");
    res.set_header("Pragma", "no-cache");
    const QByteArray json = body.toCompact();
    res.set_content(json.constData(), static_cast<size_t>(json.size()),
                    "application/json; charset=utf-8");
}

void WriteIdentityStatus(httplib::Response &res, int status)
{
    if (status == 400)
        WriteIdentityError(res, 400, QStringLiteral("invalid_grant"),
                           QStringLiteral("AADSTS70000: The provided value for the input "
                                          "parameter 'refresh_token' or 'assertion' is not valid."),
                           70000);
    else if (status == 503 || status == 504)
        WriteIdentityError(
            res, status, QStringLiteral("temporarily_unavailable"),
            QStringLiteral("AADSTS90033: A transient error has occurred. Please try again."),
            90033);
    else
        WriteIdentityError(res, status, QStringLiteral("server_error"),
                           QStringLiteral("AADSTS90100: An unexpected error occurred."), 90100);
}

void WriteIdentityThrottle(httplib::Response &res)
{
    WriteIdentityError(res, 429, QStringLiteral("temporarily_unavailable"),
                       QStringLiteral("AADSTS50196: The server terminated an operation "
                                      "because it encountered a client request loop."),
                       50196);
}

void RegisterIdentityRoutes(ServiceContext &context)
{
    ServiceContext *c = &context;
    c->server.Get(
        "/common/oauth2/v2.0/authorize", [c](const httplib::Request &req, httplib::Response &res) {
            c->serve(QStringLiteral("authorize"), RouteFamily::Page, req, res,
                     [c](const auto &rq, auto &rs, RequestScope &) { AuthorizeGet(*c, rq, rs); });
        });
    c->server.Post(
        "/common/oauth2/v2.0/authorize", [c](const httplib::Request &req, httplib::Response &res) {
            c->serve(QStringLiteral("authorize"), RouteFamily::Page, req, res,
                     [c](const auto &rq, auto &rs, RequestScope &) { AuthorizePost(*c, rq, rs); });
        });
    c->server.Post(
        "/common/oauth2/v2.0/token", [c](const httplib::Request &req, httplib::Response &res) {
            c->serve(QStringLiteral("token"), RouteFamily::Identity, req, res,
                     [c](const auto &rq, auto &rs, RequestScope &) { Token(*c, rq, rs); });
        });
    const auto logout = [c](const httplib::Request &req, httplib::Response &res) {
        c->serve(QStringLiteral("logout"), RouteFamily::Page, req, res,
                 [c](const auto &rq, auto &rs, RequestScope &) { Logout(*c, rq, rs); });
    };
    c->server.Get("/logout.srf", logout);
    c->server.Get("/common/oauth2/v2.0/logout", logout);
    c->server.Get("/oauth20_desktop.srf", [c](const httplib::Request &req, httplib::Response &res) {
        c->serve(QStringLiteral("desktopRedirect"), RouteFamily::Page, req, res,
                 [](const auto &, auto &rs, RequestScope &) {
                     // The real page is blank; the address is what the sign-in window reads.
                     WriteHtml(rs, 200,
                               QStringLiteral("<!DOCTYPE html><html><head><title></title>"
                                              "</head><body></body></html>"));
                 });
    });
}

} // namespace Cogitra::Service
