#pragma once

#include <QString>

#include <map>
#include <mutex>
#include <optional>

namespace Cogitra::Service {

// What a route does instead of (or to) its normal reply, for tests.
enum class FaultKind {
    Status,       // the given status with the real error body for it
    Delay,        // waits delayMs, then answers normally
    Drop,         // closes the connection before acting on the request: no reply, no change
    Truncate,     // announces the whole body, sends half of it, closes the connection
    Malformed,    // a complete reply whose body is cut in half (invalid JSON or HTML)
    ExpiredToken, // judges the request's access token as expired
    Throttle,     // 429 with Retry-After and the generic throttling body
    // Switches: the normal reply in a shape the online service also gives.
    ImageDataIds,    // page HTML: every image has a data-id, written before its id
    OptimizedImages, // page HTML: every stored image's src names a rendition, the picture
                     // only; data-fullres-src still names the stored bytes
    EscapedSlashes,  // JSON replies write "/" as "\/" (valid JSON; some serializers do it)
    Slow, // the body goes out at bytesPerSecond; at 0 half of it, then nothing for delayMs
};

struct Fault
{
    FaultKind kind = FaultKind::Status;
    int status = 503;
    int delayMs = 0;
    int retryAfterSeconds = 10;
    int bytesPerSecond = 0;
    int times = -1; // how many requests it applies to; -1: until cleared
    int skip = 0;   // how many requests it lets through untouched before it applies
};

[[nodiscard]] std::optional<FaultKind> FaultKindFromName(const QString &name);
[[nodiscard]] QString FaultKindName(FaultKind kind);

// Faults by route name ("token", "notebooks", "pageContent", ...; "*" for every route).
class FaultTable
{
public:
    void set(const QString &route, const Fault &fault);
    void clear(const QString &route = QString()); // empty: all
    // The fault for a request to this route, counting it down.
    [[nodiscard]] std::optional<Fault> take(const QString &route);

private:
    std::mutex m_Mutex;
    std::map<QString, Fault> m_Faults;
};

} // namespace Cogitra::Service
