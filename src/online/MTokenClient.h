#pragma once

#include "MHttp.h"

// The OAuth 2.0 exchanges with the identity platform and the lookup of the token's owner.
// Results go into the shared account values and are saved at once with SaveAccountState.
// Replies are read with marker searches, not parsed: the service writes compact JSON.
namespace Cogitra {

class MGraphClient;

class MTokenClient
{
public:
    explicit MTokenClient(MHttpClient &http);

    // Needed by RetrieveUserIdByToken, which is a Graph request like the others.
    void setGraphClient(MGraphClient *graph) { m_Graph = graph; }

    // Code grant with g_AuthCode; does nothing without a code. g_AuthCode is never cleared.
    // Like a refresh, it stores nothing after a transport failure, a 429 or a 5xx reply.
    void RetrieveTokensByCode();
    // Refresh grant with g_RefreshToken; does nothing without one. A reply from the token
    // endpoint replaces both tokens (a refusal empties them) and saves; a transport
    // failure, a 429 or a 5xx reply changes nothing. Returns whether the endpoint answered.
    bool RefreshTokens();
    // The user id and principal name of the token's owner; does nothing without a token.
    void RetrieveUserIdByToken();

    // The rule for a failed request: an error whose domain is present and is not
    // "NSURLErrorDomain" (any letter case) renews the tokens.
    void ApplyRefreshRule(const MUrlError &error);

    // The form bodies, exactly as sent.
    [[nodiscard]] static QByteArray CodeGrantBody(const QString &clientId, const QString &code);
    [[nodiscard]] static QByteArray RefreshGrantBody(const QString &clientId,
                                                     const QString &refreshToken);

private:
    [[nodiscard]] MHttpReply PostTokenRequest(const QByteArray &body);
    void StoreTokens(const QByteArray &replyBody);

    MHttpClient &m_Http;
    MGraphClient *m_Graph = nullptr;
};

} // namespace Cogitra
