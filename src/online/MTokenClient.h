#pragma once

#include "MHttp.h"

// The OAuth 2.0 exchanges with the identity platform. Results go into the shared account values and
// are saved at once with SaveAccountState.
namespace Cogitra {

// A text member of a JSON reply's top-level object, its escapes decoded: a stand-in that
// writes "/" as "\/" gives the same token as one that does not. A missing member, or one
// that is not text, is the empty text. A reply that is not a JSON object is cut with the
// marker "name":" up to the next double quote.
[[nodiscard]] QString ReplyTextMember(const QByteArray &reply, const QString &name);

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
