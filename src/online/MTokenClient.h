#pragma once

#include "MHttp.h"

// The OAuth 2.0 exchanges with the identity platform. Results go into the shared account values and
// are saved at once with SaveAccountState. Replies are read with marker searches, not parsed: the
// service writes compact JSON.
namespace Cogitra {

class MTokenClient
{
public:
    explicit MTokenClient(MHttpClient &http);

    // Code grant with g_AuthCode; does nothing without a code. g_AuthCode is never cleared.
    // Like a refresh, it stores nothing after a transport failure, a 429 or a 5xx reply.
    void RetrieveTokensByCode();
    // Refresh grant with g_RefreshToken, or with a newer one that another program saved; does
    // nothing without one. Holds the configuration's lock from the read to the save. A reply from
    // the token endpoint replaces both tokens (a refusal empties them) and saves; a transport
    // failure, a 429 or a 5xx reply changes nothing. Returns whether the endpoint answered.
    bool RefreshTokens();

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
};

} // namespace Cogitra
