#include "MGraphClient.h"

#include "MEndpoints.h"
#include "util/MGlobals.h"
#include "util/MUtils.h"

namespace Cogitra {

MGraphClient::MGraphClient(MHttpClient &http, MTokenClient &tokens)
    : m_Http(http)
    , m_Tokens(tokens)
{}

MGraphReply MGraphClient::Send(const MGraphRequest &request)
{
    bool refreshAfter401 = true;
    return Send(request, refreshAfter401);
}

MGraphReply MGraphClient::Send(const MGraphRequest &request, bool &refreshAfter401)
{
    MRetryPlan plan;
    return Send(request, refreshAfter401, plan);
}

MGraphReply MGraphClient::Send(const MGraphRequest &request, bool &refreshAfter401,
                               MRetryPlan &plan)
{
    m_GaveUpBusy = false;
    for (;;) {
        MGraphReply reply = SendOnce(request);
        if (reply.isReply() && reply.http.status == 401 && refreshAfter401) {
            refreshAfter401 = false;
            // An access token lasts about an hour; without this a signed-in user would be
            // locked out until the next sign-in.
            if (m_Tokens.RefreshTokens() && !g_AccessToken.isEmpty())
                reply = SendOnce(request);
        }
        if (!reply.isReply() || !IsPassingFailure(reply.http.status))
            return reply;
        // A gateway time-out may come after the update was carried out: sent again, an
        // append would add a second image.
        if (request.method != "GET" && reply.http.status == 504)
            return reply;
        const std::optional<Millis> retryAfter = reply.http.retryAfter.count() > 0
                                                     ? std::optional<Millis>(reply.http.retryAfter)
                                                     : std::nullopt;
        const std::optional<Millis> pause = plan.NextPause(retryAfter);
        if (!pause) {
            m_GaveUpBusy = true;
            return reply;
        }
        WaitBeforeRetry(*pause, m_Http.stopToken());
    }
}

void MGraphClient::RetrieveUserIdByToken()
{
    if (g_AccessToken.isEmpty())
        return;
    MGraphRequest request;
    request.url = UserResourceUrl();
    const MGraphReply reply = Send(request);
    if (!reply.isReply())
        return; // not sent, or a transport failure (the refresh rule has run)
    g_UserId.set(ReplyTextMember(reply.http.body, QStringLiteral("id")));
    g_UserPrincipalName.set(ReplyTextMember(reply.http.body, QStringLiteral("userPrincipalName")));
    SaveAccountState();
}

MGraphReply MGraphClient::SendOnce(const MGraphRequest &request)
{
    MGraphReply reply;
    const QString token = g_AccessToken.get();
    if (token.isEmpty())
        return reply;
    if (request.guard == MGraphGuard::TokenAndUser && g_UserId.isEmpty())
        return reply;

    MHttpRequest http;
    http.method = request.method;
    http.url
        = request.form == MUrlForm::Escape ? EscapeUrl(request.url) : EscapeServiceUrl(request.url);
    http.timeout = k_GraphTimeout;
    http.headers.append({"Authorization", "Bearer " + token.toUtf8()});
    if (!request.contentType.isEmpty()) {
        http.headers.append({"Content-Type", request.contentType});
        http.headers.append({"Content-Length", QByteArray::number(request.body.size())});
    }
    http.body = request.body;
    http.maxReplyBytes = request.maxReplyBytes;

    reply.sent = true;
    reply.http = m_Http.Send(http);
    if (reply.http.isTransportError())
        m_Tokens.ApplyRefreshRule(reply.http.error);
    return reply;
}

void MOnlineClients::EnsureAccount()
{
    if (g_AccessToken.isEmpty() && !g_AuthCode.isEmpty())
        tokens.RetrieveTokensByCode();
    if (g_UserId.isEmpty())
        graph.RetrieveUserIdByToken();
}

} // namespace Cogitra
