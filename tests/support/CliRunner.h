#pragma once

#include "TestFiles.h"
#include "cli/CliVerbs.h"
#include "util/MStrings.h"

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
    if (!out.open(QIODevice::WriteOnly) || !err.open(QIODevice::WriteOnly)
        || !in.open(QIODevice::ReadOnly))
        return {};
    CliIo io{out, err, &in, errIsTerminal};
    const int status = RunCli(arguments, io, verbs);
    return {status, out.data(), err.data()};
}

// The English text of a string key, as the verbs print it.
inline QByteArray English(const char *key)
{
    return StringTable("en").value(QString::fromLatin1(key)).toUtf8();
}

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
    if (!process.waitForStarted(10000))
        return {};
    if (killAfterMs >= 0
        && !process.waitForFinished(int(std::max<qint64>(killAfterMs - clock.elapsed(), 1))))
        process.kill();
    process.waitForFinished(60000);
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            process.readAllStandardOutput(), process.readAllStandardError(), clock.elapsed()};
}

} // namespace Cogitra::Testing
