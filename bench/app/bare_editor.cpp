// The editor page alone in the web engine, as the start-up benchmark's baseline: a window
// with one web view, the editor site served by the same embedded host as the application,
// and a map handed over the way the application hands it over. No bridge, no worker, no
// windows of the application.
//
//   bare_editor SITE_DIR MAP_FILE
//
// Prints "bare: map shown (N characters)" on stderr once the map is in the editor, then
// keeps running until it is ended, so that its memory can be read.

#include "app/MEditorHost.h"
#include "app/MEditorScript.h"
#include "util/MGlobals.h"

#include <QApplication>
#include <QFile>
#include <QTimer>
#include <QWebEngineProfile>
#include <QWebEngineView>

#include <cstdio>

using namespace Cogitra;

int main(int argc, char **argv)
{
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: bare_editor SITE_DIR MAP_FILE\n");
        return 2;
    }
    QFile mapFile(QString::fromLocal8Bit(argv[2]));
    if (!mapFile.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "bare: cannot read the map\n");
        return 2;
    }
    const QString map = QString::fromUtf8(mapFile.readAll());

    MEditorHost host(QString::fromLocal8Bit(argv[1]));
    if (!host.start()) {
        std::fprintf(stderr, "bare: the editor host did not start\n");
        return 1;
    }
    // As the application: nothing of the editor is kept between loads.
    QWebEngineProfile::defaultProfile()->setHttpCacheType(QWebEngineProfile::NoCache);
    QWebEngineView view;
    view.resize(1100, 720);
    view.show();

    QWebEnginePage *page = view.page();
    QTimer poll;
    poll.setInterval(10);
    bool asked = false;
    bool handedOver = false;
    QObject::connect(&poll, &QTimer::timeout, page, [&] {
        if (asked || handedOver)
            return;
        asked = true;
        page->runJavaScript(
            QStringLiteral("typeof g_ZetJsonResult === 'string' && "
                           "g_ZetJsonResult.length > 0"),
            [&](const QVariant &ready) {
                asked = false;
                if (!ready.toBool() || handedOver)
                    return;
                handedOver = true;
                poll.stop();
                page->runJavaScript(
                    QStringLiteral("SetJsonData('%1')").arg(EscapeForJsString(map)));
                page->runJavaScript(QStringLiteral("String(g_ZetJsonResult || '').length"),
                                    [](const QVariant &length) {
                                        std::fprintf(stderr, "bare: map shown (%lld characters)\n",
                                                     static_cast<long long>(length.toLongLong()));
                                    });
            });
    });
    QObject::connect(page, &QWebEnginePage::loadFinished, &poll, [&](bool ok) {
        if (!ok) {
            std::fprintf(stderr, "bare: the editor page did not load\n");
            QCoreApplication::exit(1);
            return;
        }
        poll.start();
    });
    view.load(QUrl(EditorPageUrl(host.hostAndPort(), QStringLiteral("en"))));
    return QApplication::exec();
}
