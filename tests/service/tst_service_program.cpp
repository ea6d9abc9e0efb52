#include <QProcess>
#include <QTemporaryDir>
#include <QUrl>

#include <httplib.h>

#include <gtest/gtest.h>

#include <csignal>

namespace {

QByteArray NextLine(QProcess &program)
{
    while (!program.canReadLine() && program.waitForReadyRead(20000)) {
    }
    return program.readLine();
}

// Given a data folder, the program prints its root URL first and ends cleanly on SIGTERM; a
// second start finds the data of the first.
TEST(ServiceProgram, PrintsItsRootFirstAndStopsCleanlyOnSigterm)
{
    QProcess refused; // without a data folder
    refused.start(QStringLiteral(COGITRA_SERVICE_PROGRAM), {});
    ASSERT_TRUE(refused.waitForFinished(10000));
    EXPECT_NE(refused.exitCode(), 0);
    EXPECT_TRUE(refused.readAllStandardError().contains("--data"));
    QTemporaryDir data;
    for (int run = 0; run < 2; ++run) {
        QProcess program;
        program.start(QStringLiteral(COGITRA_SERVICE_PROGRAM),
                      {QStringLiteral("--data"), data.path(), QStringLiteral("--seed-demo")});
        ASSERT_TRUE(program.waitForStarted(10000));
        const QUrl root(QString::fromUtf8(NextLine(program)).trimmed());
        ASSERT_EQ(root.host(), QStringLiteral("127.0.0.1")) << qPrintable(root.toString());
        EXPECT_TRUE(NextLine(program).contains("demo@cogitra.test"));
        const auto selection = httplib::Client("127.0.0.1", root.port()).Get("/desktop/selection");
        ASSERT_TRUE(selection);
        EXPECT_EQ(selection->body.rfind("onenote:https://d.docs.live.net/", 0), 0u);

        ::kill(static_cast<pid_t>(program.processId()), SIGTERM);
        ASSERT_TRUE(program.waitForFinished(10000));
        EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(program.exitCode(), 0);
    }
}

} // namespace
