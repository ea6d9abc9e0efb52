#pragma once

#include <curl/curl.h>

namespace Cogitra {

// Lets a handle speak http and https only. CURLOPT_PROTOCOLS_STR came with libcurl 7.85;
// the libcurl in older macOS SDKs has only the bit mask, which later releases deprecate.
inline CURLcode RestrictToWeb(CURL *curl)
{
#if LIBCURL_VERSION_NUM >= 0x075500
    return curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
#else
    return curl_easy_setopt(curl, CURLOPT_PROTOCOLS,
                            static_cast<long>(CURLPROTO_HTTP | CURLPROTO_HTTPS));
#endif
}

} // namespace Cogitra
