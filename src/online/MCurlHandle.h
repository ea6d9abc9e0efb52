#pragma once

#include <curl/curl.h>

// Owns one libcurl easy handle. Move-only: a handle belongs to one worker and is used on
// that worker's thread only.
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
    [[nodiscard]] bool isValid() const { return m_Handle != nullptr; }

    // Back to libcurl's defaults for a fresh request; the connection cache survives, so
    // consecutive requests to one host reuse their connection.
    void reset();

private:
    CURL *m_Handle = nullptr;
};

// Once per process, in main, before any thread starts (libcurl's global state is not
// safe to create concurrently on every platform).
void InitNetworking();

} // namespace Cogitra
