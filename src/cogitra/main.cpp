#include "online/MCurlHandle.h"
#include "windows/MAppController.h"

#include <QApplication>

int main(int argc, char **argv)
{
    // Before any thread: the worker sends its requests with libcurl.
    Cogitra::InitNetworking();
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Cogitra"));
    QApplication::setApplicationVersion(QStringLiteral(COGITRA_VERSION));
    // The main window's close rule decides whether closing it ends the application.
    QApplication::setQuitOnLastWindowClosed(false);

    Cogitra::MAppController::Options options;
    Cogitra::MAppController controller(std::move(options));
    controller.start();
    return QApplication::exec();
}
