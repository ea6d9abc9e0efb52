#pragma once

#include "MHttp.h"
#include "MRetry.h"
#include "MTokenClient.h"

#include <QString>

// The one place where Graph requests are built, signed, escaped, sent and judged. Every
// request reads g_AccessToken and g_UserId when it is built. A transport failure applies
// the refresh rule; a 401 reply renews the tokens and sends the request once more; a
// busy service (429, 503, 504) is waited out as MRetryPlan says.
namespace Cogitra {

enum class MGraphGuard {
    Token,        // sent only with an access token
    TokenAndUser, // ... and a Graph user id
};

enum class MUrlForm {
    Escape,     // a URL text built here or taken from page HTML: escape it whole
    ServiceUrl, // a link the service made (a next page), already escaped
};

struct MGraphRequest
{
    QByteArray method = "GET";
    QString url;
    MUrlForm form = MUrlForm::Escape;
    MGraphGuard guard = MGraphGuard::Token;
    QByteArray contentType; // with a body only
    QByteArray body;
    int64_t maxReplyBytes = kMaxGraphReplyBytes;
};

struct MGraphReply
{
    bool sent = false; // false: the guard held it back
    MHttpReply http;

    [[nodiscard]] bool isReply() const { return sent && !http.isTransportError(); }
    // A reply with a 2xx status: the only kind that counts as content or a list.
    [[nodiscard]] bool isSuccess() const { return isReply() && http.isSuccessStatus(); }
};

class MGraphClient
{
public:
    MGraphClient(MHttpClient &http, MTokenClient &tokens);

    [[nodiscard]] MGraphReply Send(const MGraphRequest &request);
    // For a fetch made of several attempts: refreshAfter401 is spent by the first 401, so
    // the tokens are renewed at most once for the whole fetch.
    [[nodiscard]] MGraphReply Send(const MGraphRequest &request, bool &refreshAfter401);
    // ... and its waits for a busy service share one plan.
    [[nodiscard]] MGraphReply Send(const MGraphRequest &request, bool &refreshAfter401,
                                   MRetryPlan &plan);

    // True when the last request ended with the service still busy after its last try.
    [[nodiscard]] bool gaveUpBusy() const { return m_GaveUpBusy; }
    [[nodiscard]] const std::stop_token &stopToken() const { return m_Http.stopToken(); }
    // The message key for a failed step: the busy service's own when that was the cause.
    [[nodiscard]] const char *failureKey(const char *key) const
    {
        return m_GaveUpBusy ? "errServiceBusy" : key;
    }

    // The user id and principal name of the token's owner (GET /v1.0/me), saved at once
    // with SaveAccountState; does nothing without a token, or when no reply came.
    void RetrieveUserIdByToken();

private:
    [[nodiscard]] MGraphReply SendOnce(const MGraphRequest &request);

    MHttpClient &m_Http;
    MTokenClient &m_Tokens;
    bool m_GaveUpBusy = false;
};

// The clients of one run, sharing one easy handle: built together, used on one thread.
struct MOnlineClients
{
    MOnlineClients() = default;
    // Clients whose requests and waits end as cancelled once stop is requested.
    explicit MOnlineClients(std::stop_token stop)
        : http(std::move(stop))
    {}
    MOnlineClients(const MOnlineClients &) = delete;
    MOnlineClients &operator=(const MOnlineClients &) = delete;

    // What a run needs before its job: tokens from a pending sign-in code, then the Graph
    // user id of their owner.
    void EnsureAccount();

    MHttpClient http;
    MTokenClient tokens{http};
    MGraphClient graph{http, tokens};
};

} // namespace Cogitra
