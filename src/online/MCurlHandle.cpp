#include "MCurlHandle.h"

#include <optional>
#include <utility>

namespace Cogitra {
namespace {

using Clock = std::chrono::steady_clock;
using Millis = std::chrono::milliseconds;

// When bytes last moved either way. Connecting and waiting for the reply count as idle.
struct ProgressWatch
{
    curl_off_t down = 0;
    curl_off_t up = 0;
    Clock::time_point moved = Clock::now();
};

int NoteProgress(void *user, curl_off_t, curl_off_t dlnow, curl_off_t, curl_off_t ulnow)
{
    auto *watch = static_cast<ProgressWatch *>(user);
    if (dlnow != watch->down || ulnow != watch->up) {
        watch->down = dlnow;
        watch->up = ulnow;
        watch->moved = Clock::now();
    }
    return 0;
}

} // namespace

MCurlHandle::MCurlHandle()
    : m_Handle(curl_easy_init())
    , m_Multi(curl_multi_init())
{}

MCurlHandle::~MCurlHandle()
{
    if (m_Handle)
        curl_easy_cleanup(m_Handle);
    if (m_Multi)
        curl_multi_cleanup(m_Multi);
}

MCurlHandle::MCurlHandle(MCurlHandle &&other) noexcept
    : m_Handle(std::exchange(other.m_Handle, nullptr))
    , m_Multi(std::exchange(other.m_Multi, nullptr))
{}

MCurlHandle &MCurlHandle::operator=(MCurlHandle &&other) noexcept
{
    if (this != &other) {
        if (m_Handle)
            curl_easy_cleanup(m_Handle);
        if (m_Multi)
            curl_multi_cleanup(m_Multi);
        m_Handle = std::exchange(other.m_Handle, nullptr);
        m_Multi = std::exchange(other.m_Multi, nullptr);
    }
    return *this;
}

void MCurlHandle::reset()
{
    if (m_Handle)
        curl_easy_reset(m_Handle);
}

CURLcode MCurlHandle::perform(Millis idleLimit, const std::stop_token &stop)
{
    if (!isValid())
        return CURLE_FAILED_INIT;
    // libcurl reports progress about once a second while nothing moves, and
    // curl_easy_perform sleeps as long between looks: too coarse for a limit of a second
    // in tests. Driving the transfer ourselves wakes it when the limit runs out.
    ProgressWatch watch;
    curl_easy_setopt(m_Handle, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(m_Handle, CURLOPT_XFERINFOFUNCTION, &NoteProgress);
    curl_easy_setopt(m_Handle, CURLOPT_XFERINFODATA, &watch);
    if (curl_multi_add_handle(m_Multi, m_Handle) != CURLM_OK)
        return CURLE_FAILED_INIT;
    // curl_multi_wakeup is the one call libcurl allows from another thread.
    const std::stop_callback wake(stop, [multi = m_Multi] { curl_multi_wakeup(multi); });

    std::optional<CURLcode> result;
    while (!result) {
        if (stop.stop_requested()) {
            result = CURLE_ABORTED_BY_CALLBACK;
            break;
        }
        int running = 0;
        if (curl_multi_perform(m_Multi, &running) != CURLM_OK) {
            result = CURLE_FAILED_INIT;
            break;
        }
        int queued = 0;
        while (const CURLMsg *message = curl_multi_info_read(m_Multi, &queued)) {
            if (message->msg == CURLMSG_DONE && message->easy_handle == m_Handle)
                result = message->data.result;
        }
        if (result)
            break;
        const Millis idle = std::chrono::duration_cast<Millis>(Clock::now() - watch.moved);
        if (idle >= idleLimit) {
            result = CURLE_OPERATION_TIMEDOUT;
            break;
        }
        // Wakes for the sockets, for libcurl's own timers, when the limit runs out or when
        // stop is requested.
        const Millis wait = idleLimit - idle;
        if (curl_multi_poll(m_Multi, nullptr, 0, static_cast<int>(wait.count()), nullptr)
            != CURLM_OK)
            result = CURLE_FAILED_INIT;
    }
    // A transfer given up on closes its connection here; a finished one stays for reuse.
    curl_multi_remove_handle(m_Multi, m_Handle);
    return *result;
}

void InitNetworking()
{
    static const CURLcode once = curl_global_init(CURL_GLOBAL_DEFAULT);
    (void)once;
}

} // namespace Cogitra
