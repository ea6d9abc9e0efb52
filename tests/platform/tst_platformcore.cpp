#include "platform/OsaScriptAutomation.h"
#include "platform/ProcProcessList.h"
#include "platform/SystemShell.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>

using namespace Cogitra;
using namespace std::chrono_literals;

namespace {

void WriteFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

QByteArray ReadFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

TEST(ProcProcessList, NamesInProcessIdOrder)
{
    QTemporaryDir proc;
    WriteFile(proc.filePath("10/comm"), "OneNote\n");
    WriteFile(proc.filePath("2/comm"), "init\n");
    WriteFile(proc.filePath("1000/comm"), QString::fromUtf8("Zählwerk\n").toUtf8());
    QDir(proc.path()).mkpath("77"); // ended between listing and reading
    WriteFile(proc.filePath("self/comm"), "self\n");
    WriteFile(proc.filePath("sys/comm"), "sys\n");
    EXPECT_EQ(ProcProcessList(proc.path()).processNames(),
              (QStringList{"init", "OneNote", QString::fromUtf8("Zählwerk")}));
    EXPECT_TRUE(ProcProcessList(proc.filePath("missing")).processNames().isEmpty());
}

TEST(SystemShell, RunsThroughShAndReportsTheExitStatus)
{
    SystemShell shell;
    EXPECT_EQ(shell.run("exit 3"), 3);
    EXPECT_EQ(shell.run("/nonexistent/defaults write x"), 127) << "fails, and silently";
    EXPECT_EQ(SystemShell(200ms).run("sleep 5"), -1) << "killed past its time limit";
}

TEST(OsaScriptAutomation, HandsTheScriptToTheRunnerOnItsInput)
{
    QTemporaryDir dir;
    const QString runner = dir.filePath("osascript");
    const QString received = dir.filePath("received.txt");
    WriteFile(runner, ("#!/bin/sh\n[ \"$1\" = - ] || exit 2\ncat > '" + received + "'\n").toUtf8());
    QFile::setPermissions(runner, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    const QString script = QString::fromUtf8("delay 0.5\ntell application \"Ünïcode\"\nend tell\n");
    OsaScriptAutomation(runner).RunAppleScript(script);
    EXPECT_EQ(ReadFile(received), script.toUtf8());

    // Where there is no osascript nothing happens, and nothing fails.
    OsaScriptAutomation(dir.filePath("missing")).RunAppleScript(script);
}
