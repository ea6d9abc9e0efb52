#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <chrono>
#include <functional>
#include <vector>

// Timing helpers shared by the benchmarks.
namespace Cogitra::Bench {

// Median wall time of rounds runs of work, in milliseconds; -1 when a run fails.
inline double MedianMillis(int rounds, const std::function<bool()> &work)
{
    using Clock = std::chrono::steady_clock;
    std::vector<double> times;
    for (int i = 0; i < rounds; ++i) {
        const auto start = Clock::now();
        if (!work())
            return -1;
        times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

// Runs a program with its output discarded; true when it exits 0.
inline bool RunProcess(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.setStandardOutputFile(QProcess::nullDevice());
    process.start(program, arguments);
    return process.waitForFinished(120000) && process.exitStatus() == QProcess::NormalExit
           && process.exitCode() == 0;
}

} // namespace Cogitra::Bench
