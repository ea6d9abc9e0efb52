#pragma once

#include <curl/curl.h>

#include <chrono>
#include <stop_token>

// Owns one libcurl easy handle and the multi handle that drives its transfers. Move-only: a
// handle belongs to one worker and is used on that worker's thread only.
namespace Cogitra {

class MCurlHandle
{
public:
    MCurlHandle();
    ~MCurlHandle();
    MCurlHandle(const MCurlHandle &) = delete;
    MCurlHandle &operator=(const MCurlHandle &) = delete;
    MCurlHandle(MCurlHandle &&other) noexcept;
    MCurlHandle &operator=(MCurlHandle &&other) noexcept;

    [[nodiscard]] CURL *get() const { return m_Handle; }
    [[nodiscard]] bool isValid() const { return m_Handle != nullptr && m_Multi != nullptr; }

    // Back to libcurl's defaults for a fresh request; the connection cache survives, so
    // consecutive requests to one host reuse their connection.
    void reset();

    // Runs the transfer set up on the handle to its end. It fails with
    // CURLE_OPERATION_TIMEDOUT once no byte has moved in either direction for idleLimit,
    // however long it has been running: a large body on a slow link takes as long as it
    // takes, a peer that stopped answering is given up on. It ends at once with
    // CURLE_ABORTED_BY_CALLBACK when stop is requested, from any thread.
    [[nodiscard]] CURLcode perform(std::chrono::milliseconds idleLimit,
                                   const std::stop_token &stop = {});

private:
    CURL *m_Handle = nullptr;
    CURLM *m_Multi = nullptr;
};

// Once per process, in main, before any thread starts (libcurl's global state is not
// safe to create concurrently on every platform).
void InitNetworking();

} // namespace Cogitra
