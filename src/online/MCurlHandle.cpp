#include "MCurlHandle.h"

#include <utility>

namespace Cogitra {

MCurlHandle::MCurlHandle()
    : m_Handle(curl_easy_init())
{}

MCurlHandle::~MCurlHandle()
{
    if (m_Handle)
        curl_easy_cleanup(m_Handle);
}

MCurlHandle::MCurlHandle(MCurlHandle &&other) noexcept
    : m_Handle(std::exchange(other.m_Handle, nullptr))
{}

MCurlHandle &MCurlHandle::operator=(MCurlHandle &&other) noexcept
{
    if (this != &other) {
        if (m_Handle)
            curl_easy_cleanup(m_Handle);
        m_Handle = std::exchange(other.m_Handle, nullptr);
    }
    return *this;
}

void MCurlHandle::reset()
{
    if (m_Handle)
        curl_easy_reset(m_Handle);
}

void InitNetworking()
{
    static const CURLcode once = curl_global_init(CURL_GLOBAL_DEFAULT);
    (void)once;
}

} // namespace Cogitra
