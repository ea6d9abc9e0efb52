#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <chrono>
#include <functional>
#include <utility>
#include <vector>

// Timing helpers shared by the benchmarks.
namespace Cogitra::Bench {

// The median of values; -1 when there are none.
inline double Median(std::vector<double> values)
{
    if (values.empty())
        return -1;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

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
    return Median(std::move(times));
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
