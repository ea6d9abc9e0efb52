#include "MWindowTexts.h"

#include "platform/CurlProtocols.h"
#include "util/MGlobals.h"
#include "util/MStepCodes.h"
#include "util/MStrings.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QRegularExpression>
#include <QUrl>

#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <memory>

namespace Cogitra {

namespace {

// The maker's main web host, which is also the default editor host outside "cn".
const char *const DefaultMakerRoot = "http://editor.ardentis.app";
const char *const SupportAddress = "mailto:support@ardentis.app";
// A hosts list is a few lines; a larger reply is cut here.
constexpr size_t MaxDownloadBytes = 1024 * 1024;

size_t AppendBody(char *data, size_t size, size_t count, void *user)
{
    auto *body = static_cast<QByteArray *>(user);
    const size_t bytes = size * count;
    if (static_cast<size_t>(body->size()) + bytes > MaxDownloadBytes)
        return 0;
    body->append(data, static_cast<qsizetype>(bytes));
    return bytes;
}

struct CurlDeleter
{
    void operator()(CURL *curl) const { curl_easy_cleanup(curl); }
};

} // namespace

QString StateActionText(int64_t stepCode, bool workerFinished)
{
    if (workerFinished)
        return LocalizedString(QStringLiteral("strDone"));
    if (const std::optional<int64_t> seconds = SecondsToNextTry())
        return LocalizedString(QStringLiteral("strServiceBusy")).arg(*seconds);
    if (stepCode == Step::Idle)
        return LocalizedString(QStringLiteral("strSleep"));
    if (Step::IsSaving(stepCode))
        return LocalizedString(QStringLiteral("strUploading"));
    if (Step::IsOpening(stepCode))
        return LocalizedString(QStringLiteral("strDownloading"));
    return QString();
}

std::optional<int64_t> SecondsToNextTry()
{
    const int64_t at = g_NextTryAtMs.load(std::memory_order_acquire);
    if (at == 0)
        return std::nullopt;
    const int64_t left = at - QDateTime::currentMSecsSinceEpoch();
    return std::max<int64_t>(1, (left + 999) / 1000);
}

QString StateStepText(int64_t stepCode)
{
    const char *key = StepTextKey(stepCode);
    return key ? LocalizedString(QString::fromLatin1(key)) : QString();
}

QString MakerRoot()
{
    QString root = qEnvironmentVariable("COGITRA_MAKER_ROOT");
    if (root.isEmpty())
        root = QString::fromLatin1(DefaultMakerRoot);
    while (root.endsWith(u'/'))
        root.chop(1);
    return root;
}

QString HostsListUrl()
{
    return MakerRoot() + QStringLiteral("/uploads/soft/cogitra/hosts.txt");
}

bool IsHostsListEntry(const QString &line)
{
    static const QRegularExpression host(
        QStringLiteral("^[A-Za-z0-9](?:[A-Za-z0-9.-]{0,251}[A-Za-z0-9])?(?::[0-9]{1,5})?$"));
    if (!host.match(line).hasMatch())
        return false;
    const qsizetype colon = line.indexOf(u':');
    return colon < 0 || line.mid(colon + 1).toInt() <= 65535;
}

QStringList SplitHostsList(const QString &text)
{
    QStringList hosts;
    for (const QString &line : text.split(QLatin1Char('\n'))) {
        const QString entry = line.trimmed();
        if (IsHostsListEntry(entry))
            hosts.append(entry);
    }
    return hosts;
}

bool MayFollowRedirect(const QString &from, const QString &to)
{
    const QString scheme = QUrl(to).scheme().toLower();
    if (scheme == QLatin1String("https"))
        return true;
    return scheme == QLatin1String("http")
           && QUrl(from).scheme().toLower() != QLatin1String("https");
}

std::optional<QString> DownloadText(const QString &url, long timeoutSeconds)
{
    std::unique_ptr<CURL, CurlDeleter> curl(curl_easy_init());
    if (!curl)
        return std::nullopt;
    QByteArray body;
    const QByteArray address = url.toUtf8();
    curl_easy_setopt(curl.get(), CURLOPT_URL, address.constData());
    curl_easy_setopt(curl.get(), CURLOPT_NOSIGNAL, 1L);
    RestrictToWeb(curl.get());
    curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, &AppendBody);
    curl_easy_setopt(curl.get(), CURLOPT_WRITEDATA, &body);
    // Redirects are followed here rather than by libcurl, which has no rule against going
    // back from https to http once a chain has reached https.
    QString current = url;
    // The time-out is the whole download's, however many addresses it passes through.
    const QDeadlineTimer deadline{std::chrono::seconds(timeoutSeconds)};
    for (int redirects = 0;; ++redirects) {
        body.clear();
        const qint64 left = deadline.remainingTime();
        if (left == 0)
            return std::nullopt;
        curl_easy_setopt(curl.get(), CURLOPT_TIMEOUT_MS,
                         static_cast<long>(std::max<qint64>(1, left)));
        if (curl_easy_perform(curl.get()) != CURLE_OK)
            return std::nullopt;
        const char *location = nullptr;
        if (curl_easy_getinfo(curl.get(), CURLINFO_REDIRECT_URL, &location) != CURLE_OK
            || location == nullptr)
            return QString::fromUtf8(body);
        const QString next = QString::fromUtf8(location);
        if (redirects == k_MaxRedirects || !MayFollowRedirect(current, next))
            return std::nullopt;
        current = next;
        const QByteArray nextAddress = next.toUtf8();
        curl_easy_setopt(curl.get(), CURLOPT_URL, nextAddress.constData());
    }
}

QString AboutVersionLine()
{
    return QStringLiteral("%1 %2").arg(LocalizedString(QStringLiteral("strVersion")),
                                       QCoreApplication::applicationVersion());
}

QString WebsiteUrl()
{
    return MakerRoot() + QLatin1Char('/');
}

QString SupportMailto()
{
    return QString::fromLatin1(SupportAddress);
}

} // namespace Cogitra
