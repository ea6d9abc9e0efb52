#include "windows/MAppController.h"

#include <QApplication>

#include <curl/curl.h>

int main(int argc, char **argv)
{
    curl_global_init(CURL_GLOBAL_DEFAULT);
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Cogitra"));
    QApplication::setApplicationVersion(QStringLiteral(COGITRA_VERSION));
    // The main window's close rule decides whether closing it ends the application.
    QApplication::setQuitOnLastWindowClosed(false);

    Cogitra::MAppController::Options options;
    Cogitra::MAppController controller(std::move(options));
    controller.start();
    const int status = QApplication::exec();
    curl_global_cleanup();
    return status;
}
