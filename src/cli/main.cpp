#include "CliVerbs.h"
#include "SessionVerbs.h"

#include "online/MCurlHandle.h"

#include <QCoreApplication>
#include <QFile>

#include <cstdio>
#include <unistd.h>

int main(int argc, char **argv)
{
    // Before any thread: the worker sends its requests with libcurl.
    Cogitra::InitNetworking();
    QCoreApplication app(argc, argv);
    // The application's name names the data folder that both programs share.
    QCoreApplication::setApplicationName(QStringLiteral("Cogitra"));

    QFile out;
    QFile err;
    QFile in;
    if (!out.open(stdout, QIODevice::WriteOnly) || !err.open(stderr, QIODevice::WriteOnly)
        || !in.open(stdin, QIODevice::ReadOnly))
        return 1;
    Cogitra::CliIo io{out, err, &in, isatty(fileno(stderr)) == 1};
    return Cogitra::RunCli(QCoreApplication::arguments().mid(1), io, Cogitra::AllVerbs());
}
