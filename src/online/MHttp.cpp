#include "MHttp.h"

#include "platform/CurlProtocols.h"

#include <QStringDecoder>

#include <algorithm>
#include <cstring>

namespace Cogitra {
namespace {

// NSURLError codes.
constexpr int64_t k_Unknown = -1;
constexpr int64_t k_Cancelled = -999;
constexpr int64_t k_BadUrl = -1000;
constexpr int64_t k_TimedOut = -1001;
constexpr int64_t k_UnsupportedUrl = -1002;
constexpr int64_t k_CannotFindHost = -1003;
constexpr int64_t k_CannotConnectToHost = -1004;
constexpr int64_t k_NetworkConnectionLost = -1005;
constexpr int64_t k_HttpTooManyRedirects = -1007;
constexpr int64_t k_BadServerResponse = -1011;
constexpr int64_t k_DataLengthExceedsMaximum = -1103;
constexpr int64_t k_SecureConnectionFailed = -1200;
constexpr int64_t k_ServerCertificateUntrusted = -1202;

struct ReplySink
{
    QByteArray *body = nullptr;
    int64_t limit = 0;
    bool overflow = false;
};

size_t WriteBody(char *data, size_t size, size_t count, void *user)
{
    auto *sink = static_cast<ReplySink *>(user);
    const size_t bytes = size * count;
    if (static_cast<int64_t>(sink->body->size()) + static_cast<int64_t>(bytes) > sink->limit) {
        sink->overflow = true;
        return 0; // makes libcurl stop with CURLE_WRITE_ERROR
    }
    sink->body->append(data, static_cast<qsizetype>(bytes));
    return bytes;
}

// RFC 2396's reserved and mark characters: with letters, digits and "-_.~" (which Qt
// never escapes), what a URL text keeps as it is.
const QByteArray k_UriKept = QByteArrayLiteral(";/?:@&=+$,!*'()");

// Every ASCII byte but the ones that change meaning in a form body; a zero byte stays too.
QByteArray FormKept()
{
    QByteArray kept;
    for (int c = 0; c < 0x80; ++c) {
        if (c == 0 || std::strchr("%&+=# ", c) == nullptr)
            kept.append(char(c));
    }
    return kept;
}

curl_slist *HeaderList(const MHttpRequest &request)
{
    curl_slist *list = nullptr;
    for (const auto &[name, value] : request.headers) {
        const QByteArray line = name + ": " + value;
        curl_slist *next = curl_slist_append(list, line.constData());
        if (!next) {
            curl_slist_free_all(list);
            return nullptr;
        }
        list = next;
    }
    // No "Expect: 100-continue" round trip before a large body.
    if (curl_slist *next = curl_slist_append(list, "Expect:"))
        list = next;
    return list;
}

} // namespace

std::chrono::milliseconds EffectiveTimeout(std::chrono::milliseconds specified)
{
    bool ok = false;
    const qint64 overrideMs = qEnvironmentVariableIntValue("COGITRA_REQUEST_TIMEOUT_MS", &ok);
    if (ok && overrideMs > 0)
        return std::chrono::milliseconds(overrideMs);
    return specified;
}

int64_t UrlErrorCodeFor(CURLcode code)
{
    switch (code) {
    case CURLE_OK:
        return 0;
    case CURLE_URL_MALFORMAT:
        return k_BadUrl;
    case CURLE_UNSUPPORTED_PROTOCOL:
        return k_UnsupportedUrl;
    case CURLE_OPERATION_TIMEDOUT:
        return k_TimedOut;
    case CURLE_ABORTED_BY_CALLBACK:
        return k_Cancelled;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
        return k_CannotFindHost;
    case CURLE_COULDNT_CONNECT:
        return k_CannotConnectToHost;
    case CURLE_GOT_NOTHING:
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_PARTIAL_FILE:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
        return k_NetworkConnectionLost;
    case CURLE_TOO_MANY_REDIRECTS:
        return k_HttpTooManyRedirects;
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_BAD_CONTENT_ENCODING:
        return k_BadServerResponse;
    case CURLE_FILESIZE_EXCEEDED:
        return k_DataLengthExceedsMaximum;
    case CURLE_PEER_FAILED_VERIFICATION:
        return k_ServerCertificateUntrusted;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_ENGINE_SETFAILED:
    case CURLE_SSL_ENGINE_INITFAILED:
    case CURLE_SSL_SHUTDOWN_FAILED:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_SSL_CLIENTCERT:
        return k_SecureConnectionFailed;
    default:
        return k_Unknown;
    }
}

MHttpReply MHttpClient::Send(const MHttpRequest &request)
{
    MHttpReply reply;
    auto fail = [&reply](CURLcode code, int64_t urlCode) {
        reply.error.domain = QString::fromLatin1(k_UrlErrorDomain);
        reply.error.code = urlCode;
        reply.error.curlCode = code;
        reply.status = 0;
        reply.body.clear();
        return reply;
    };
    if (!m_Curl.isValid())
        return fail(CURLE_FAILED_INIT, k_Unknown);
    const std::stop_token stop = request.stoppable ? m_Stop : std::stop_token();
    if (stop.stop_requested())
        return fail(CURLE_ABORTED_BY_CALLBACK, k_Cancelled);

    CURL *curl = m_Curl.get();
    m_Curl.reset();
    ++m_RequestCount;

    ReplySink sink{&reply.body, request.maxReplyBytes};
    curl_slist *headers = HeaderList(request);

    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    // Graph compresses large replies when asked; libcurl undoes it.
    curl_easy_setopt(curl, CURLOPT_ACCEPT_ENCODING, "");
    curl_easy_setopt(curl, CURLOPT_URL, request.url.constData());
    RestrictToWeb(curl);
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &WriteBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &sink);
    curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE,
                     static_cast<curl_off_t>(request.maxReplyBytes));
    if (request.method == "GET") {
        curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
        // Like the platform's loader, a GET follows redirects; libcurl keeps a custom
        // Authorization header to the original host.
        curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
        curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 10L);
        curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    } else {
        if (request.method != "POST")
            curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, request.method.constData());
        // libcurl sends a request once more by itself when a reused connection turns out to
        // be closed; the first one may have been carried out. An append must not land twice
        // and a code must not be spent twice, so these get a connection of their own.
        curl_easy_setopt(curl, CURLOPT_FRESH_CONNECT, 1L);
        curl_easy_setopt(curl, CURLOPT_POST, 1L);
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, request.body.constData());
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE,
                         static_cast<curl_off_t>(request.body.size()));
    }

    const CURLcode result = m_Curl.perform(EffectiveTimeout(request.timeout), stop);
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    curl_off_t retryAfter = 0;
    curl_easy_getinfo(curl, CURLINFO_RETRY_AFTER, &retryAfter);
    // The handle keeps pointers to our sink and header list; clear them before they go.
    m_Curl.reset();
    curl_slist_free_all(headers);

    if (sink.overflow)
        return fail(CURLE_FILESIZE_EXCEEDED, k_DataLengthExceedsMaximum);
    if (result != CURLE_OK)
        return fail(result, UrlErrorCodeFor(result));
    reply.status = status;
    reply.retryAfter = std::chrono::seconds(std::max<curl_off_t>(retryAfter, 0));
    return reply;
}

QByteArray EscapeUrl(const QString &url)
{
    return url.toUtf8().toPercentEncoding(k_UriKept);
}

QByteArray EscapeServiceUrl(const QString &url)
{
    // Qt escapes a "%" whatever it is told, so the text between them is escaped alone.
    QList<QByteArray> parts = url.toUtf8().split('%');
    for (QByteArray &part : parts)
        part = part.toPercentEncoding(k_UriKept);
    return parts.join('%');
}

QByteArray FormValue(const QString &value)
{
    static const QByteArray kept = FormKept();
    return value.toUtf8().toPercentEncoding(kept);
}

QString DecodeUtf8(const QByteArray &bytes, bool *ok)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringConverter::Flag::ConvertInitialBom);
    QString text = decoder.decode(bytes);
    const bool valid = !decoder.hasError();
    if (ok)
        *ok = valid;
    return valid ? text : QString();
}

} // namespace Cogitra
