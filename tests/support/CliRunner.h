#pragma once

#include "TestFiles.h"
#include "cli/CliVerbs.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <vector>

// cogitra-cli's verbs, in this process through RunCli (as main does) or as the real program:
// what a script would see.
namespace Cogitra::Testing {

struct CliRun
{
    int status = -1;
    QByteArray out;
    QByteArray err;
    qint64 elapsedMs = 0; // the program only
};

inline CliRun RunVerbs(const std::vector<CliVerb> &verbs, const QStringList &arguments,
                       const QByteArray &input = QByteArray(), bool errIsTerminal = false)
{
    QBuffer out;
    QBuffer err;
    QBuffer in;
    in.setData(input);
    out.open(QIODevice::WriteOnly);
    err.open(QIODevice::WriteOnly);
    in.open(QIODevice::ReadOnly);
    CliIo io{out, err, &in, errIsTerminal};
    CliRun run;
    run.status = RunCli(arguments, io, verbs);
    run.out = out.data();
    run.err = err.data();
    return run;
}

// Writes a file the verbs are to read: its path.
inline QString WriteFile(const QTemporaryDir &dir, const QString &name, const QByteArray &bytes)
{
    WriteBytes(dir.filePath(name), bytes);
    return dir.filePath(name);
}

// The program at path; killed (SIGKILL) killAfterMs after its start, never when < 0.
inline CliRun RunProgram(const QString &path, const QStringList &arguments,
                         const QProcessEnvironment &environment, qint64 killAfterMs = -1)
{
    QProcess process;
    process.setProcessEnvironment(environment);
    QElapsedTimer clock;
    clock.start();
    process.start(path, arguments);
    CliRun run;
    if (!process.waitForStarted(10000))
        return run;
    if (killAfterMs >= 0) {
        const qint64 left = killAfterMs - clock.elapsed();
        if (left > 0)
            (void)process.waitForFinished(int(left));
        if (process.state() != QProcess::NotRunning)
            process.kill();
    }
    process.waitForFinished(60000);
    run.elapsedMs = clock.elapsed();
    run.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    return run;
}

} // namespace Cogitra::Testing
