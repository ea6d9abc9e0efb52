#include "MTokenClient.h"

#include "MEndpoints.h"
#include "util/MConfig.h"
#include "util/MGlobals.h"
#include "util/MUtils.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace Cogitra {
namespace {

// An endpoint that is down or throttling has not judged the grant: its reply neither
// brings tokens nor refuses them, so it counts like one that never came.
bool IsUnanswered(const MHttpReply &reply)
{
    return reply.isTransportError() || reply.status == 429 || reply.status >= 500;
}

} // namespace

QString ReplyTextMember(const QByteArray &reply, const QString &name)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(reply, &error);
    if (error.error == QJsonParseError::NoError && document.isObject())
        return document.object().value(name).toString();
    return TextBetween(DecodeUtf8(reply), u'"' + name + QStringLiteral("\":\""),
                       QStringLiteral("\""));
}

MTokenClient::MTokenClient(MHttpClient &http)
    : m_Http(http)
{}

QByteArray MTokenClient::CodeGrantBody(const QString &clientId, const QString &code)
{
    return "grant_type=authorization_code&client_id=" + clientId.toUtf8()
           + "&code=" + FormValue(code) + "&redirect_uri=" + RedirectUri().toUtf8();
}

QByteArray MTokenClient::RefreshGrantBody(const QString &clientId, const QString &refreshToken)
{
    return "grant_type=refresh_token&client_id=" + clientId.toUtf8() + "&refresh_token="
           + FormValue(refreshToken) + "&redirect_uri=" + RedirectUri().toUtf8();
}

MHttpReply MTokenClient::PostTokenRequest(const QByteArray &body)
{
    MHttpRequest request;
    request.method = "POST";
    request.url = EscapeUrl(TokenEndpointUrl());
    request.timeout = k_TokenTimeout;
    // Its reply is the only copy of the new tokens, and a code is spent once sent.
    request.stoppable = false;
    request.headers.append({QByteArrayLiteral("Content-Length"), QByteArray::number(body.size())});
    request.headers.append({QByteArrayLiteral("Content-Type"),
                            QByteArrayLiteral("application/x-www-form-urlencoded")});
    request.body = body;
    request.maxReplyBytes = kMaxGraphReplyBytes;
    return m_Http.Send(request);
}

void MTokenClient::StoreTokens(const QByteArray &replyBody)
{
    g_AccessToken.set(ReplyTextMember(replyBody, QStringLiteral("access_token")));
    g_RefreshToken.set(ReplyTextMember(replyBody, QStringLiteral("refresh_token")));
    SaveAccountState();
}

void MTokenClient::RetrieveTokensByCode()
{
    const QString code = g_AuthCode.get();
    if (code.isEmpty())
        return;
    const MHttpReply reply = PostTokenRequest(CodeGrantBody(ClientId(), code));
    if (reply.isTransportError())
        ApplyRefreshRule(reply.error);
    if (IsUnanswered(reply))
        return;
    StoreTokens(reply.body);
}

bool MTokenClient::RefreshTokens()
{
    // A refresh token is spent by its use: two programs renewing with the same one would
    // leave one of them refused and signed out. Renewals take turns, and each starts from
    // what the one before it saved.
    const MConfigLock lock(g_ConfigFile.get());
    (void)AdoptRenewedTokens();
    const QString refreshToken = g_RefreshToken.get();
    if (refreshToken.isEmpty())
        return false;
    // The old access token stays in place while the request runs: when the endpoint
    // cannot be reached, is down or throttles, the user keeps both tokens and is not
    // signed out.
    const MHttpReply reply = PostTokenRequest(RefreshGrantBody(ClientId(), refreshToken));
    if (IsUnanswered(reply))
        return false;
    StoreTokens(reply.body);
    return true;
}

void MTokenClient::ApplyRefreshRule(const MUrlError &error)
{
    if (error.domain.isEmpty())
        return;
    if (EqualsIgnoreCase(error.domain, QString::fromLatin1(k_UrlErrorDomain)))
        return;
    RefreshTokens();
}

} // namespace Cogitra
