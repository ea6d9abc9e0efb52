// Requests per second of the page-content route under 8 concurrent clients, and its mean
// latency against the loopback floor: the blank desktop redirect page, measured the same
// way in the same run. Prints one line per figure; the ratio is what to compare between
// versions. bench_service [seconds per phase, default 10]

#include "service/DemoSeed.h"
#include "service/NotebookService.h"

#include <httplib.h>

#include <QCoreApplication>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

using namespace Cogitra::Service;

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kClients = 8;

struct Phase
{
    long long requests = 0;
    long long failures = 0;
    std::vector<double> latenciesMs;
    double seconds = 0;
};

Phase Run(quint16 port, const std::string &target, const httplib::Headers &headers, double seconds)
{
    std::vector<Phase> perClient(kClients);
    std::vector<std::thread> clients;
    const auto end = Clock::now() + std::chrono::duration<double>(seconds);
    const auto start = Clock::now();
    for (int i = 0; i < kClients; ++i) {
        clients.emplace_back([&, i] {
            httplib::Client client("127.0.0.1", port);
            client.set_keep_alive(true);
            Phase &mine = perClient[static_cast<size_t>(i)];
            while (Clock::now() < end) {
                const auto sent = Clock::now();
                const auto res = client.Get(target.c_str(), headers);
                const double ms
                    = std::chrono::duration<double, std::milli>(Clock::now() - sent).count();
                if (!res || res->status != 200) {
                    ++mine.failures;
                    continue;
                }
                ++mine.requests;
                mine.latenciesMs.push_back(ms);
            }
        });
    }
    for (std::thread &t : clients)
        t.join();
    Phase all;
    all.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    for (const Phase &p : perClient) {
        all.requests += p.requests;
        all.failures += p.failures;
        all.latenciesMs.insert(all.latenciesMs.end(), p.latenciesMs.begin(), p.latenciesMs.end());
    }
    std::sort(all.latenciesMs.begin(), all.latenciesMs.end());
    return all;
}

double Mean(const std::vector<double> &values)
{
    double sum = 0;
    for (const double v : values)
        sum += v;
    return values.empty() ? 0 : sum / static_cast<double>(values.size());
}

double Percentile(const std::vector<double> &sorted, double p)
{
    if (sorted.empty())
        return 0;
    return sorted[std::min(sorted.size() - 1,
                           static_cast<size_t>(p * static_cast<double>(sorted.size())))];
}

void Print(const char *name, const Phase &phase)
{
    std::printf(
        "%-14s %9.0f req/s  mean %.3f ms  p50 %.3f ms  p99 %.3f ms  (%lld requests, %lld failed)\n",
        name, static_cast<double>(phase.requests) / phase.seconds, Mean(phase.latenciesMs),
        Percentile(phase.latenciesMs, 0.5), Percentile(phase.latenciesMs, 0.99), phase.requests,
        phase.failures);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const double seconds = argc > 1 ? std::max(1.0, std::atof(argv[1])) : 10.0;
    QTemporaryDir data;
    ServiceOptions options;
    options.dataDir = data.path();
    NotebookService service(options);
    QString error;
    if (!service.start(&error)) {
        std::fprintf(stderr, "bench_service: %s\n", qPrintable(error));
        return 1;
    }
    const std::optional<DemoAccount> demo = service.seedDemo();
    const std::optional<TokenPair> tokens
        = demo ? service.mintTokens(demo->account.cid) : std::nullopt;
    if (!tokens) {
        std::fprintf(stderr, "bench_service: cannot seed the demo account\n");
        return 1;
    }
    const httplib::Headers bearer
        = {{"Authorization", "Bearer " + tokens->accessToken.toStdString()}};
    const std::string content
        = "/v1.0/me/onenote/pages/" + demo->mapPageId.toStdString() + "/content?includeIDs=true";

    std::printf("bench_service: %d clients, %.0f s a phase, map page of %lld bytes\n", kClients,
                seconds, static_cast<long long>(service.pageHtml(demo->mapPageId).toUtf8().size()));
    const Phase floor = Run(service.port(), "/oauth20_desktop.srf", {}, seconds);
    Print("empty route", floor);
    const Phase pages = Run(service.port(), content, bearer, seconds);
    Print("page content", pages);
    std::printf("latency ratio content/empty: %.2f\n",
                Mean(pages.latenciesMs) / std::max(1e-9, Mean(floor.latenciesMs)));
    service.stop();
    return 0;
}
