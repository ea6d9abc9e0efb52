#pragma once

#include "MCurlHandle.h"
#include "util/MLimits.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <chrono>
#include <cstdint>
#include <stop_token>
#include <utility>

// Synchronous HTTP on the worker's thread. A transport failure (no connection, time-out,
// a reply cut short) is reported the way the platform's URL loading reports it: the error
// domain "NSURLErrorDomain" and one of its codes. An HTTP status is never a transport
// failure; the caller judges it.
namespace Cogitra {

struct MUrlError
{
    QString domain; // empty: no error
    int64_t code = 0;
    int curlCode = 0; // diagnostics only

    [[nodiscard]] bool isError() const { return !domain.isEmpty(); }
};

inline constexpr auto k_UrlErrorDomain = "NSURLErrorDomain";

// Replies larger than this are cut off as a transport failure (the largest container).
inline constexpr int64_t k_MaxReplyBytes = kMaxContainerBytes;

struct MHttpRequest
{
    QByteArray method = "GET";
    QByteArray url;                                   // already escaped
    QList<std::pair<QByteArray, QByteArray>> headers; // sent in this order
    QByteArray body;
    // An idle time-out, as with the platform's loader: the request fails when no byte has
    // moved either way for this long, not when a large transfer is still moving.
    std::chrono::milliseconds timeout{30'000};
    // A longer reply is cut off and reported as a transport failure.
    int64_t maxReplyBytes = k_MaxReplyBytes;
    // false: runs to its end even when the client's stop is requested.
    bool stoppable = true;
};

struct MHttpReply
{
    MUrlError error;
    long status = 0;
    QByteArray body;
    // Retry-After (seconds or a date) as a wait from now; 0 when the reply named none.
    std::chrono::seconds retryAfter{0};

    [[nodiscard]] bool isTransportError() const { return error.isError(); }
    [[nodiscard]] bool isSuccessStatus() const { return status >= 200 && status < 300; }
};

// The time-outs the requests are specified with. COGITRA_REQUEST_TIMEOUT_MS (tests only)
// replaces every time-out; the shipped defaults are these.
inline constexpr std::chrono::seconds k_GraphTimeout{30};
inline constexpr std::chrono::seconds k_TokenTimeout{10};
[[nodiscard]] std::chrono::milliseconds EffectiveTimeout(std::chrono::milliseconds specified);

class MHttpClient
{
public:
    MHttpClient() = default;
    // Stoppable requests fail as cancelled (NSURLErrorCancelled) once stop is requested,
    // one under way included: for reads whose reader has gone.
    explicit MHttpClient(std::stop_token stop)
        : m_Stop(std::move(stop))
    {}

    [[nodiscard]] MHttpReply Send(const MHttpRequest &request);

    // Requests sent through this client (attempts that reached libcurl), for measurements.
    [[nodiscard]] int64_t requestCount() const { return m_RequestCount; }
    [[nodiscard]] const std::stop_token &stopToken() const { return m_Stop; }

private:
    MCurlHandle m_Curl;
    std::stop_token m_Stop;
    int64_t m_RequestCount = 0;
};

// Percent-escapes a whole URL text as RFC 2396 demands, with UTF-8 for non-ASCII: every
// character outside letters, digits and ; / ? : @ & = + $ , - _ . ! ~ * ' ( ) is escaped,
// a "%" already present included.
[[nodiscard]] QByteArray EscapeUrl(const QString &url);
// The same, but a "%" stays: for URLs the service made, which are escaped already.
[[nodiscard]] QByteArray EscapeServiceUrl(const QString &url);

// Percent-encodes the characters that change meaning in a form body ("%", "&", "+", "=",
// "#", the blank) and every non-ASCII character; everything else stays as it is.
[[nodiscard]] QByteArray FormValue(const QString &value);

// UTF-8 decoding that fails instead of repairing: invalid bytes give the empty text.
// A leading byte-order mark is kept, so that decoding and encoding again is exact.
[[nodiscard]] QString DecodeUtf8(const QByteArray &bytes, bool *ok = nullptr);

// The NSURLErrorDomain code for a libcurl result.
[[nodiscard]] int64_t UrlErrorCodeFor(CURLcode code);

} // namespace Cogitra
