// Requests per open and per save, cold and warm cache, and an open's wall time against the
// same requests sent bare with libcurl to the same local notebook service in the same run.
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
};

size_t Discard(char *, size_t size, size_t count, void *)
{
    return size * count;
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
        properties.CurrentPageClientId = PageIdFromLink(link);
        properties.CurrentNotebookName = NotebookNameFromLink(link);
        properties.CurrentSectionName = SectionNameFromLink(link);
        properties.CurrentPageLink = link;
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
            sent.push_back(
                {request.method.toUtf8(), request.target, request.header("Authorization")});
        return sent;
    }

    // The same GET requests with one bare handle, as a client without any rules would send.
    double Bare(const std::vector<Sent> &requests)
    {
        MCurlHandle curl;
        const QByteArray root = m_Service->rootUrl().toUtf8();
        const auto started = Clock::now();
        for (const Sent &request : requests) {
            curl_easy_reset(curl.get());
            const QByteArray url = root + request.target;
            const QByteArray header = "Authorization: " + request.authorization;
            curl_slist *headers = curl_slist_append(nullptr, header.constData());
            curl_easy_setopt(curl.get(), CURLOPT_NOSIGNAL, 1L);
            curl_easy_setopt(curl.get(), CURLOPT_URL, url.constData());
            curl_easy_setopt(curl.get(), CURLOPT_HTTPHEADER, headers);
            curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, &Discard);
            curl_easy_perform(curl.get());
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

    // Wall time of an open against the sum of its requests sent bare.
    const int rounds = 15;
    for (const bool cold : {true, false}) {
        std::vector<double> client;
        std::vector<double> bare;
        std::vector<double> ratios;
        for (int i = 0; i < rounds; ++i) {
            if (cold)
                bench.ClearCache();
            const double ms = bench.Run(true);
            const double bareMs = bench.Bare(bench.Log());
            client.push_back(ms);
            bare.push_back(bareMs);
            ratios.push_back(bareMs > 0 ? ms / bareMs : 0.0);
        }
        std::printf(
            "open, %s cache: client %.2f ms, bare curl %.2f ms, ratio %.2f (median of %d)\n",
            cold ? "cold" : "warm", Median(client), Median(bare), Median(ratios), rounds);
    }
    return 0;
}
