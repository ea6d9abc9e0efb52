#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <stop_token>

// Waiting out a busy service. OneNote answers 429 (code 20166) when a user passes its
// limits (about 120 requests a minute, 400 an hour, 5 at once), without Retry-After; 503
// and 504 come and go. Such a request is sent again after a pause that grows with each
// try, or that the service named in Retry-After, and one request never waits longer than
// k_MaxRetryWait in all.
namespace Cogitra {

using Millis = std::chrono::milliseconds;

inline constexpr int k_MaxRetries = 4;
inline constexpr Millis k_FirstRetryPause{2'000};
inline constexpr Millis k_MaxRetryPause{12'000};
inline constexpr Millis k_MaxRetryAfter{20'000};
inline constexpr Millis k_MaxRetryWait{30'000};

// 429, 503 and 504: the service did not act on the request and may well later.
[[nodiscard]] bool IsPassingFailure(long status);

// The pauses between the tries of one request (or of one fetch made of several attempts).
class MRetryPlan
{
public:
    // scale multiplies every pause and the whole wait (COGITRA_RETRY_SCALE, tests only).
    explicit MRetryPlan(double scale = DefaultScale());

    // The pause before the next try; none when the tries or the whole wait are spent. A
    // Retry-After is honoured up to a cap; without one the pause doubles, with jitter so
    // that clients turned away together do not come back together.
    [[nodiscard]] std::optional<Millis> NextPause(std::optional<Millis> retryAfter);

    [[nodiscard]] int retries() const { return m_Retries; }

    [[nodiscard]] static double DefaultScale();

private:
    double m_Scale;
    int m_Retries = 0;
    Millis m_Waited{0};
};

// Sleeps for the pause on the worker's thread and publishes, for the status loop, when
// the next try is due (g_NextTryAtMs), clearing it afterwards. A stop request ends the
// sleep at once.
void WaitBeforeRetry(Millis pause, const std::stop_token &stop = {});

} // namespace Cogitra
