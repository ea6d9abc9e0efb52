// Requests per open and per save, cold and warm cache, and the wall time of an open and of a
// save against the same requests sent bare with libcurl to the same local notebook service in
// the same run.
// With a 429 on the first request of each route, the requests and the wall time of a cold open
// and save against the same job without faults.
// Prints one line per figure; the ratio is what to compare between versions.

#include "onenote/MOLONUtils.h"
#include "online/MCurlHandle.h"
#include "online/MThreadOnlineOneNote.h"
#include "service/NotebookService.h"
#include "util/MGlobals.h"

#include <QCoreApplication>
#include <QDir>
#include <QLoggingCategory>
#include <QTemporaryDir>

#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

using namespace Cogitra;

namespace {

using Clock = std::chrono::steady_clock;

struct Sent
{
    QByteArray method;
    QByteArray target;
    QByteArray authorization;
    QByteArray contentType;
    QByteArray acceptEncoding;
    QByteArray body;
};

size_t Collect(char *data, size_t size, size_t count, void *to)
{
    static_cast<QByteArray *>(to)->append(data, static_cast<qsizetype>(size * count));
    return size * count;
}

// The id of the picture with this alt text in page HTML, found as a script would find it.
QByteArray ImageId(const QByteArray &html, const QByteArray &alt)
{
    const QByteArray altAttribute = "alt=\"" + alt + "\"";
    for (qsizetype at = html.indexOf("<img"); at >= 0; at = html.indexOf("<img", at + 1)) {
        const qsizetype end = html.indexOf('>', at);
        if (end < 0)
            break;
        const QByteArray element = html.mid(at, end - at);
        const qsizetype id = element.indexOf(" id=\"");
        if (element.contains(altAttribute) && id >= 0)
            return element.mid(id + 5, element.indexOf('"', id + 5) - id - 5);
    }
    return {};
}

// An update that replaces a picture names it by the id it had when the page was read; a
// replay names the picture with the same alt text in the page as it reads it now.
QByteArray RetargetUpdate(const QByteArray &body, const QByteArray &pageHtml)
{
    const QByteArray key = "{'target':'";
    const qsizetype start = body.indexOf(key);
    const qsizetype end = start < 0 ? -1 : body.indexOf('\'', start + key.size());
    if (end < 0 || body.mid(start + key.size(), end - start - key.size()) == "body")
        return body;
    for (const QByteArray &alt : {QByteArray("ZetCogitra"), QByteArray("ZetGif")}) {
        if (!body.contains(QByteArray("alt=\"" + alt + "\"")))
            continue;
        const QByteArray id = ImageId(pageHtml, alt);
        if (!id.isEmpty())
            return QByteArray(body).replace(start + key.size(), end - start - key.size(), id);
    }
    return body;
}

double Millis(Clock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0.0 : values[values.size() / 2];
}

class Bench
{
public:
    bool Start()
    {
        Service::ServiceOptions options;
        options.dataDir = m_ServiceDir.path();
        m_Service = std::make_unique<Service::NotebookService>(options);
        if (!m_Service->start())
            return false;
        m_Service->setRevealSecretsInLog(true);
        const QByteArray root = m_Service->rootUrl().toUtf8();
        qputenv("COGITRA_GRAPH_ROOT", root);
        qputenv("COGITRA_LOGIN_ROOT", root);
        qputenv("COGITRA_ACCOUNT_ROOT", root);
        InitGlobals(m_AppDir.path());

        const auto account = m_Service->createAccount(
            QStringLiteral("bench@example.com"), QStringLiteral("pw"), QStringLiteral("Bench"));
        if (!account)
            return false;
        // A tree of ordinary size: a few notebooks with sections; the page in one of them.
        QString pageId;
        for (int n = 0; n < 4; ++n) {
            const auto notebook
                = m_Service->createNotebook(account->cid, QStringLiteral("Notebook %1").arg(n));
            if (!notebook)
                return false;
            for (int s = 0; s < 6; ++s) {
                const auto section = m_Service->createSection(notebook->id, QString(),
                                                              QStringLiteral("Section %1").arg(s));
                if (!section)
                    return false;
                for (int p = 0; p < 20; ++p) {
                    const auto page
                        = m_Service->createPage(section->id, QStringLiteral("Page %1").arg(p));
                    if (!page)
                        return false;
                    if (n == 2 && s == 3 && p == 7)
                        pageId = page->id;
                }
            }
        }
        m_PageId = pageId;
        const auto tokens = m_Service->mintTokens(account->cid);
        if (!tokens)
            return false;
        g_AccessToken.set(tokens->accessToken);
        g_RefreshToken.set(tokens->refreshToken);
        g_UserId.set(account->cid);
        g_AccountId.set(AccountIdFromLink(m_Service->pageDesktopLink(m_PageId)));
        return true;
    }

    MWorkerProperties Properties(bool open) const
    {
        const QString link = m_Service->pageDesktopLink(m_PageId);
        MWorkerProperties properties;
        properties.DownloadCogitra = open;
        properties.Page.clientId = PageIdFromLink(link);
        properties.Page.notebookName = NotebookNameFromLink(link);
        properties.Page.sectionName = SectionNameFromLink(link);
        properties.Page.link = link;
        properties.CogitraJsonForUpload
            = QStringLiteral("{\"root\":{\"data\":{\"text\":\"Bench\"}}}");
        properties.CogitraImageBase64ForUpload = QString(40000, u'A');
        return properties;
    }

    // Runs one job and returns its wall time; the request log then holds its requests.
    double Run(bool open)
    {
        m_Service->clearRequestLog();
        const auto started = Clock::now();
        const auto worker = MThreadOnlineOneNote::Create(Properties(open));
        worker->Run();
        worker->Wait();
        return Millis(Clock::now() - started);
    }

    std::vector<Sent> Log() const
    {
        std::vector<Sent> sent;
        for (const auto &request : m_Service->requestLog())
            sent.push_back({request.method.toUtf8(), request.target,
                            request.header("Authorization"), request.header("Content-Type"),
                            request.header("Accept-Encoding"), request.body});
        return sent;
    }

    // The same requests with one bare handle, as a client without any rules would send them:
    // the same methods, headers that matter (authorization, content type, compression) and
    // bodies; an update names the pictures by their
    // ids in the page content read just before. Counts the replies that were not a success,
    // which would make the baseline meaningless.
    double Bare(const std::vector<Sent> &requests, int &failures)
    {
        MCurlHandle curl;
        const QByteArray root = m_Service->rootUrl().toUtf8();
        QByteArray pageHtml;
        const auto started = Clock::now();
        for (const Sent &request : requests) {
            curl_easy_reset(curl.get());
            const QByteArray url = root + request.target;
            curl_slist *headers = curl_slist_append(
                nullptr, QByteArray("Authorization: " + request.authorization).constData());
            if (!request.contentType.isEmpty())
                headers = curl_slist_append(
                    headers, QByteArray("Content-Type: " + request.contentType).constData());
            QByteArray reply;
            QByteArray body;
            const bool isGet = request.method == "GET";
            curl_easy_setopt(curl.get(), CURLOPT_NOSIGNAL, 1L);
            // Compressed replies when the client asked for them, as it did: the service's
            // compressing and the unpacking are part of the same requests.
            if (!request.acceptEncoding.isEmpty())
                curl_easy_setopt(curl.get(), CURLOPT_ACCEPT_ENCODING,
                                 request.acceptEncoding.constData());
            curl_easy_setopt(curl.get(), CURLOPT_URL, url.constData());
            curl_easy_setopt(curl.get(), CURLOPT_HTTPHEADER, headers);
            curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, &Collect);
            curl_easy_setopt(curl.get(), CURLOPT_WRITEDATA, &reply);
            if (!isGet) {
                body = request.method == "PATCH" ? RetargetUpdate(request.body, pageHtml)
                                                 : request.body;
                curl_easy_setopt(curl.get(), CURLOPT_CUSTOMREQUEST, request.method.constData());
                curl_easy_setopt(curl.get(), CURLOPT_POSTFIELDS, body.constData());
                curl_easy_setopt(curl.get(), CURLOPT_POSTFIELDSIZE_LARGE,
                                 static_cast<curl_off_t>(body.size()));
            }
            long status = 0;
            if (curl_easy_perform(curl.get()) != CURLE_OK
                || curl_easy_getinfo(curl.get(), CURLINFO_RESPONSE_CODE, &status) != CURLE_OK
                || status < 200 || status > 299)
                ++failures;
            if (isGet && request.target.contains("/content"))
                pageHtml = reply;
            curl_slist_free_all(headers);
        }
        return Millis(Clock::now() - started);
    }

    void ClearCache() const
    {
        QDir cache(g_CacheDir.get());
        for (const QString &name : cache.entryList(QDir::Files))
            cache.remove(name);
    }

    QTemporaryDir m_ServiceDir;
    QTemporaryDir m_AppDir;
    std::unique_ptr<Service::NotebookService> m_Service;
    QString m_PageId;
};

} // namespace

int main(int argc, char **argv)
{
    InitNetworking();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Cogitra"));
    QLoggingCategory::setFilterRules(QStringLiteral("default.info=false")); // the search lines

    Bench bench;
    if (!bench.Start()) {
        std::fprintf(stderr, "bench_online: the local notebook service did not start\n");
        return 1;
    }

    // Requests per job.
    bench.ClearCache();
    g_OnlinePageId.set(QString());
    bench.Run(false);
    const size_t saveCold = bench.Log().size();
    bench.Run(false);
    const size_t saveKnownPage = bench.Log().size();
    bench.ClearCache();
    bench.Run(true);
    const size_t openCold = bench.Log().size();
    bench.Run(true);
    const size_t openWarm = bench.Log().size();
    bench.Run(false);
    const size_t saveAfterOpen = bench.Log().size();
    g_OnlinePageId.set(QString());
    bench.Run(false);
    const size_t saveWarmCache = bench.Log().size();

    std::printf("requests per open, cold cache:        %zu\n", openCold);
    std::printf("requests per open, warm cache:        %zu\n", openWarm);
    std::printf("requests per save, cold cache:        %zu\n", saveCold);
    std::printf("requests per save, warm cache:        %zu\n", saveWarmCache);
    std::printf("requests per save, page id known:     %zu (after an open: %zu)\n", saveKnownPage,
                saveAfterOpen);

    // Wall time of an open and of a save against the sum of their requests sent bare.
    const int rounds = 15;
    int bareFailures = 0;
    for (const bool open : {true, false}) {
        for (const bool cold : {true, false}) {
            std::vector<double> client;
            std::vector<double> bare;
            std::vector<double> ratios;
            for (int i = 0; i < rounds; ++i) {
                if (cold)
                    bench.ClearCache();
                // A save of its own process: the page is located, from the cache when warm.
                g_OnlinePageId.set(QString());
                const double ms = bench.Run(open);
                const double bareMs = bench.Bare(bench.Log(), bareFailures);
                client.push_back(ms);
                bare.push_back(bareMs);
                ratios.push_back(bareMs > 0 ? ms / bareMs : 0.0);
            }
            std::printf("%s, %s cache: client %.2f ms, bare curl %.2f ms, ratio %.2f (median of "
                        "%d)\n",
                        open ? "open" : "save", cold ? "cold" : "warm", Median(client),
                        Median(bare), Median(ratios), rounds);
        }
    }

    // OneNote's own throttling, a 429 without Retry-After, on the first request of every
    // route a job uses, against the same job without faults in the same round: the retries
    // and the pauses before them, as a user on a busy service meets them.
    const int throttledRounds = 3;
    int throttledFailures = 0;
    for (const bool open : {true, false}) {
        std::vector<double> plain;
        std::vector<double> throttled;
        std::vector<double> ratios;
        size_t plainCount = 0;
        size_t throttledCount = 0;
        for (int i = 0; i < throttledRounds; ++i) {
            bench.ClearCache();
            g_OnlinePageId.set(QString());
            plain.push_back(bench.Run(open));
            plainCount = bench.Log().size();
            QStringList routes;
            for (const auto &request : bench.m_Service->requestLog()) {
                if (!routes.contains(request.route))
                    routes.append(request.route);
            }
            for (const QString &route : routes)
                bench.m_Service->setFault(
                    route, {.kind = Service::FaultKind::Status, .status = 429, .times = 1});
            bench.ClearCache();
            g_OnlinePageId.set(QString());
            throttled.push_back(bench.Run(open));
            throttledCount = bench.Log().size();
            bench.m_Service->clearFaults();
            throttledFailures += g_StepCode.load() != (open ? -100 : 100);
            ratios.push_back(plain.back() > 0 ? throttled.back() / plain.back() : 0.0);
        }
        std::printf("%s, cold cache, a 429 on each route once: requests %zu against %zu (ratio "
                    "%.2f), wall %.0f ms against %.2f ms (ratio %.0f, median of %d)\n",
                    open ? "open" : "save", throttledCount, plainCount,
                    plainCount > 0 ? double(throttledCount) / double(plainCount) : 0.0,
                    Median(throttled), Median(plain), Median(ratios), throttledRounds);
    }
    if (throttledFailures != 0) {
        std::fprintf(stderr, "bench_online: %d throttled jobs did not end well\n",
                     throttledFailures);
        return 1;
    }
    if (bareFailures != 0) {
        std::fprintf(stderr, "bench_online: %d bare requests failed; the baseline is wrong\n",
                     bareFailures);
        return 1;
    }
    return 0;
}
