#include "CliVerbs.h"

#include <QCoreApplication>
#include <QFile>

#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Cogitra"));

    QFile out;
    QFile err;
    if (!out.open(stdout, QIODevice::WriteOnly) || !err.open(stderr, QIODevice::WriteOnly))
        return 1;
    Cogitra::CliIo io{out, err};
    return Cogitra::RunCli(QCoreApplication::arguments().mid(1), io, Cogitra::ToolVerbs());
}
