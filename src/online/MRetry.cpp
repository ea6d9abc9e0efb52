#include "MRetry.h"

#include "util/MGlobals.h"

#include <QDateTime>
#include <QRandomGenerator>

#include <algorithm>
#include <condition_variable>
#include <mutex>

namespace Cogitra {

bool IsPassingFailure(long status)
{
    return status == 429 || status == 503 || status == 504;
}

MRetryPlan::MRetryPlan(double scale)
    : m_Scale(std::clamp(scale, 0.0, 1.0))
{}

double MRetryPlan::DefaultScale()
{
    bool ok = false;
    const double scale = qEnvironmentVariable("COGITRA_RETRY_SCALE").toDouble(&ok);
    return ok && scale >= 0.0 ? scale : 1.0;
}

std::optional<Millis> MRetryPlan::NextPause(std::optional<Millis> retryAfter)
{
    if (m_Retries >= k_MaxRetries)
        return std::nullopt;
    Millis pause{0};
    if (retryAfter) {
        pause = std::clamp(*retryAfter, Millis{0}, k_MaxRetryAfter);
    } else {
        const Millis full
            = std::min(k_FirstRetryPause * (int64_t(1) << m_Retries), k_MaxRetryPause);
        // Between half and the whole of the doubled pause.
        const int64_t half = full.count() / 2;
        pause = Millis(half + int64_t(QRandomGenerator::global()->bounded(double(half + 1))));
    }
    pause = Millis(int64_t(double(pause.count()) * m_Scale));
    const Millis budget = Millis(int64_t(double(k_MaxRetryWait.count()) * m_Scale));
    if (m_Waited + pause > budget)
        return std::nullopt;
    m_Waited += pause;
    ++m_Retries;
    return pause;
}

void WaitBeforeRetry(Millis pause, const std::stop_token &stop)
{
    g_NextTryAtMs.store(QDateTime::currentMSecsSinceEpoch() + pause.count(),
                        std::memory_order_release);
    std::mutex mutex;
    std::condition_variable_any stopped;
    std::unique_lock lock(mutex);
    (void)stopped.wait_for(lock, stop, pause, [] { return false; });
    g_NextTryAtMs.store(0, std::memory_order_release);
}

} // namespace Cogitra
