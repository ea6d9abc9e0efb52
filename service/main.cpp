#include "service/NotebookService.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <csignal>
#include <cstdio>
#include <pthread.h>

// cogitra-notebook-service --data DIR [--port N] [--seed-demo] [--log FILE] [--test-routes]
// Prints its root URL on the first line of stdout and runs until SIGTERM or SIGINT.
int main(int argc, char **argv)
{
    // The signals are taken by sigwait below; every thread started later inherits the mask.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("cogitra-notebook-service"));
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("The local notebook service."));
    parser.addHelpOption();
    const QCommandLineOption data(QStringLiteral("data"), QStringLiteral("Data folder."),
                                  QStringLiteral("DIR"));
    const QCommandLineOption port(QStringLiteral("port"),
                                  QStringLiteral("Port (0: any free port)."), QStringLiteral("N"),
                                  QStringLiteral("0"));
    const QCommandLineOption seed(QStringLiteral("seed-demo"),
                                  QStringLiteral("Create the demo account."));
    const QCommandLineOption log(QStringLiteral("log"), QStringLiteral("Request log (JSON lines)."),
                                 QStringLiteral("FILE"));
    const QCommandLineOption testRoutes(QStringLiteral("test-routes"),
                                        QStringLiteral("Serve POST /_test/faults."));
    const QCommandLineOption clientId(QStringLiteral("client-id"),
                                      QStringLiteral("Accepted client id."), QStringLiteral("ID"));
    const QCommandLineOption tokenLifetime(QStringLiteral("token-lifetime"),
                                           QStringLiteral("Access-token lifetime in seconds."),
                                           QStringLiteral("SECONDS"), QStringLiteral("3600"));
    parser.addOptions({data, port, seed, log, testRoutes, clientId, tokenLifetime});
    parser.process(app);
    if (!parser.isSet(data)) {
        std::fprintf(stderr, "cogitra-notebook-service: --data DIR is required\n");
        return 2;
    }
    bool portOk = false;
    const uint portNumber = parser.value(port).toUInt(&portOk);
    if (!portOk || portNumber > 65535) {
        std::fprintf(stderr, "cogitra-notebook-service: bad --port\n");
        return 2;
    }

    Cogitra::Service::ServiceOptions options;
    options.dataDir = parser.value(data);
    options.port = static_cast<quint16>(portNumber);
    options.logFile = parser.value(log);
    options.testRoutes = parser.isSet(testRoutes);
    options.clientId = parser.value(clientId);
    options.accessTokenLifetimeSeconds = parser.value(tokenLifetime).toLongLong();
    Cogitra::Service::NotebookService service(options);
    QString error;
    if (!service.start(&error)) {
        std::fprintf(stderr, "cogitra-notebook-service: %s\n", qPrintable(error));
        return 1;
    }
    std::printf("%s\n", qPrintable(service.rootUrl()));
    if (parser.isSet(seed)) {
        const std::optional<Cogitra::Service::DemoAccount> demo = service.seedDemo();
        if (!demo) {
            std::fprintf(stderr, "cogitra-notebook-service: cannot seed the demo account\n");
            return 1;
        }
        std::printf("demo account: %s  password: %s\n", qPrintable(demo->upn),
                    qPrintable(demo->password));
    }
    std::printf("desktop notebook: %s/desktop/\n", qPrintable(service.rootUrl()));
    std::fflush(stdout);

    int received = 0;
    sigwait(&stopSignals, &received);
    service.stop();
    return 0;
}
