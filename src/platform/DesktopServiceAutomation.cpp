#include "DesktopServiceAutomation.h"

#include "CurlProtocols.h"
#include "IClipboard.h"

#include <QStringDecoder>
#include <QStringList>

#include <curl/curl.h>

#include <memory>
#include <thread>

namespace Cogitra {

namespace {

// A page link is a few hundred bytes; anything much longer is not one.
constexpr size_t kMaxReplyBytes = 64 * 1024;
// A script cannot hold the caller longer than this per delay.
constexpr double kMaxDelaySeconds = 10.0;

struct CurlDeleter
{
    void operator()(CURL *handle) const { curl_easy_cleanup(handle); }
};
using CurlHandle = std::unique_ptr<CURL, CurlDeleter>;

size_t AppendBounded(char *data, size_t size, size_t count, void *userData)
{
    auto *reply = static_cast<QByteArray *>(userData);
    const size_t bytes = size * count;
    if (static_cast<size_t>(reply->size()) + bytes > kMaxReplyBytes)
        return 0; // aborts the transfer
    reply->append(data, static_cast<qsizetype>(bytes));
    return bytes;
}

bool IsCopyLinkKeystroke(const QString &line)
{
    return line == QLatin1String("keystroke \"p\" using {command down, control down}");
}

} // namespace

DesktopServiceAutomation::DesktopServiceAutomation(IClipboard &clipboard, QString root,
                                                   std::chrono::milliseconds timeout, Sleep sleep)
    : m_Clipboard(clipboard)
    , m_Root(std::move(root))
    , m_Timeout(timeout)
    , m_Sleep(sleep ? std::move(sleep) : Sleep([](std::chrono::milliseconds span) {
        std::this_thread::sleep_for(span);
    }))
{}

void DesktopServiceAutomation::RunAppleScript(const QString &source)
{
    const QStringList lines = source.split(QLatin1Char('\n'));
    for (const QString &rawLine : lines) {
        const QString line = rawLine.trimmed();
        if (line.startsWith(QLatin1String("delay "))) {
            bool ok = false;
            const double seconds = line.mid(6).trimmed().toDouble(&ok);
            if (ok && seconds > 0)
                m_Sleep(std::chrono::milliseconds(
                    static_cast<int64_t>(std::min(seconds, kMaxDelaySeconds) * 1000)));
        } else if (IsCopyLinkKeystroke(line)) {
            if (const std::optional<QString> link = FetchSelection())
                m_Clipboard.setText(*link);
        }
    }
}

std::optional<QString> DesktopServiceAutomation::FetchSelection() const
{
    if (m_Root.isEmpty())
        return std::nullopt;
    CurlHandle curl(curl_easy_init());
    if (!curl)
        return std::nullopt;
    const QByteArray url = (m_Root + QStringLiteral("/desktop/selection")).toUtf8();
    QByteArray reply;
    curl_easy_setopt(curl.get(), CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl.get(), CURLOPT_URL, url.constData());
    RestrictToWeb(curl.get());
    curl_easy_setopt(curl.get(), CURLOPT_TIMEOUT_MS, static_cast<long>(m_Timeout.count()));
    curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, &AppendBounded);
    curl_easy_setopt(curl.get(), CURLOPT_WRITEDATA, &reply);
    if (curl_easy_perform(curl.get()) != CURLE_OK)
        return std::nullopt;
    long status = 0;
    curl_easy_getinfo(curl.get(), CURLINFO_RESPONSE_CODE, &status);
    if (status != 200 || reply.isEmpty())
        return std::nullopt;
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(reply);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

QString DesktopServiceAutomation::RootFromEnvironment()
{
    QString root = qEnvironmentVariable("COGITRA_DESKTOP_ROOT");
    while (root.endsWith(QLatin1Char('/')))
        root.chop(1);
    return root;
}

} // namespace Cogitra
