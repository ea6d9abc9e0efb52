#include "MWindowTexts.h"

#include "util/MGlobals.h"
#include "util/MStepCodes.h"
#include "util/MStrings.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDateTime>

#include <curl/curl.h>

#include <algorithm>
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

QStringList SplitHostsList(const QString &text)
{
    return text.split(QLatin1Char('\n'), Qt::KeepEmptyParts);
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
    curl_easy_setopt(curl.get(), CURLOPT_TIMEOUT, timeoutSeconds);
    curl_easy_setopt(curl.get(), CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, &AppendBody);
    curl_easy_setopt(curl.get(), CURLOPT_WRITEDATA, &body);
    if (curl_easy_perform(curl.get()) != CURLE_OK)
        return std::nullopt;
    return QString::fromUtf8(body);
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
