#include "../support/TestFiles.h"

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
using namespace Cogitra::Testing;
using namespace std::chrono_literals;

TEST(ProcProcessList, NamesInProcessIdOrder)
{
    QTemporaryDir proc;
    WriteBytes(proc.filePath("10/comm"), "OneNote\n");
    WriteBytes(proc.filePath("2/comm"), "init\n");
    WriteBytes(proc.filePath("1000/comm"), QString::fromUtf8("Zählwerk\n").toUtf8());
    QDir(proc.path()).mkpath("77"); // ended between listing and reading
    WriteBytes(proc.filePath("self/comm"), "self\n");
    WriteBytes(proc.filePath("sys/comm"), "sys\n");
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
    WriteBytes(runner,
               ("#!/bin/sh\n[ \"$1\" = - ] || exit 2\ncat > '" + received + "'\n").toUtf8());
    QFile::setPermissions(runner, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    const QString script = QString::fromUtf8("delay 0.5\ntell application \"Ünïcode\"\nend tell\n");
    OsaScriptAutomation(runner).RunAppleScript(script);
    EXPECT_EQ(ReadBytes(received), script.toUtf8());

    // Where there is no osascript nothing happens, and nothing fails.
    OsaScriptAutomation(dir.filePath("missing")).RunAppleScript(script);
}
