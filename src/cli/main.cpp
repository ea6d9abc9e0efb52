#include "CliVerbs.h"
#include "SessionVerbs.h"

#include "online/MCurlHandle.h"

#include <QCoreApplication>
#include <QFile>

#ifdef Q_OS_MACOS
#include "platform/MacPasteboard.h"
#endif

#include <cstdio>
#include <unistd.h>

namespace {

// The core's diagnostic lines (the notebook tree after each search, and the like) are for
// the application's console. Here standard error carries one line per failure, which
// scripts read, so they are shown only when COGITRA_CLI_DIAGNOSTICS is set.
void DiagnosticsOff(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    static const bool wanted = qEnvironmentVariableIsSet("COGITRA_CLI_DIAGNOSTICS");
    if (wanted || type == QtFatalMsg)
        std::fprintf(stderr, "%s\n",
                     qFormatLogMessage(type, context, message).toLocal8Bit().constData());
}

} // namespace

int main(int argc, char **argv)
{
    // Before any thread: the worker sends its requests with libcurl.
    Cogitra::InitNetworking();
    qInstallMessageHandler(DiagnosticsOff);
    QCoreApplication app(argc, argv);
    Cogitra::SessionOptions options;
#ifdef Q_OS_MACOS
    // OneNote copies the page's link onto the system pasteboard. Elsewhere the desktop
    // notebook hands it to a clipboard of the process's own, the options' default.
    options.makeClipboard = [] {
        return std::make_unique<Cogitra::MacPasteboard>();
    };
#endif
    // The application's name names the data folder that both programs share.
    QCoreApplication::setApplicationName(QStringLiteral("Cogitra"));

    QFile out;
    QFile err;
    QFile in;
    if (!out.open(stdout, QIODevice::WriteOnly) || !err.open(stderr, QIODevice::WriteOnly)
        || !in.open(stdin, QIODevice::ReadOnly))
        return 1;
    Cogitra::CliIo io{out, err, &in, isatty(fileno(stderr)) == 1};
    return Cogitra::RunCli(QCoreApplication::arguments().mid(1), io, Cogitra::AllVerbs(options));
}
