// Time from the application's start to the editor ready with the current page's map
// shown, against the same editor page loaded bare in the same web engine. Both against
// loopback: the local notebook service in-process, the embedded editor host.
//
//   xvfb-run -a build/bench/app/bench_startup [runs]    (or QT_QPA_PLATFORM=offscreen)

#include "app/MEditorHost.h"
#include "attachment/TZetGifAttachment.h"
#include "onenote/MCurrentPage.h"
#include "online/MCurlHandle.h"
#include "service/NotebookService.h"
#include "util/MAlert.h"
#include "util/MConfig.h"
#include "util/MGlobals.h"
#include "windows/MAppController.h"
#include "windows/MEditorPage.h"
#include "windows/MMainWindow.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTimer>
#include <QWebEnginePage>
#include <QWebEngineView>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

using namespace Cogitra;

namespace {

bool WaitUntil(const std::function<bool()> &done, int timeoutMs = 60000)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QEventLoop loop;
        QTimer::singleShot(5, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

QString Js(QWebEnginePage *page, const QString &script)
{
    QString result;
    bool answered = false;
    page->runJavaScript(script, [&](const QVariant &v) {
        result = v.toString();
        answered = true;
    });
    (void)WaitUntil([&] { return answered; }, 10000);
    return result;
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

class SilentAlert : public IAlert
{
public:
    void showMessage(const QString &text) override
    {
        std::fprintf(stderr, "alert: %s\n", qPrintable(text));
    }
};

// The editor page alone: a view, the page, until it holds its (empty) map.
double BareEditorMs(const QString &site)
{
    MEditorHost host(site);
    if (!host.start())
        return -1;
    QElapsedTimer clock;
    clock.start();
    QWebEngineView view;
    view.resize(1100, 720);
    view.show();
    view.load(QUrl(EditorPageUrl(host.hostAndPort(), QStringLiteral("en"))));
    const bool ready = WaitUntil(
        [&] { return !Js(view.page(), QStringLiteral("g_ZetJsonResult || ''")).isEmpty(); });
    return ready ? double(clock.nsecsElapsed()) / 1e6 : -1;
}

// The application: start-up, discovery, the open run, the hand-over into the editor.
double ApplicationMs(Service::NotebookService &service, const Service::DemoAccount &demo,
                     const QString &site)
{
    QTemporaryDir data;
    const QString dir = QDir(data.path()).filePath(QStringLiteral("Ardentis/Cogitra"));
    QDir().mkpath(dir);
    const auto tokens = service.mintTokens(demo.account.cid);
    MConfig config(QDir(dir).filePath(QStringLiteral("zetapp.plist")));
    config.WriteValueStr(QStringLiteral("OnlineOneNoteAccessToken"), tokens->accessToken);
    config.WriteValueStr(QStringLiteral("OnlineOneNoteRefreshToken"), tokens->refreshToken);
    OneNotePageInfo page;
    (void)MCurrentPage::ReadPageLink(service.selectionLink(), page);
    config.WriteValueStr(QStringLiteral("OnlineOneNoteAccountId"), page.accountId);
    config.WriteValueStr(QStringLiteral("OnlineOneNoteUserId"), demo.account.cid);
    (void)config.Save();

    ResetGlobalsForTesting();
    QElapsedTimer clock;
    clock.start();
    MAppController::Options options;
    options.dataRoot = data.path();
    options.editorSiteDir = site;
    MAppController app(options);
    SilentAlert alert;
    SetAlert(&alert);
    app.start();
    const bool shown = WaitUntil([&] {
        return app.launched() && WorkerFinished() && g_StepCode.load() == 0
               && !app.mainWindow().isProgressVisible();
    });
    const double ms = double(clock.nsecsElapsed()) / 1e6;
    // The demo page's own map, in the editor.
    const QString downloaded = g_DownloadedMapJson.get();
    const QString shownJson = Js(app.editorPage().page(), QStringLiteral("g_ZetJsonResult || ''"));
    const bool hasMap = !downloaded.isEmpty() && shownJson.left(40) == downloaded.left(40);
    SetAlert(nullptr);
    if (!shown || !hasMap)
        std::fprintf(
            stderr,
            "not shown: downloaded [%s] editor [%s] step %lld finished %d waiting %d map %d\n",
            qPrintable(g_DownloadedMapJson.get().left(80)),
            qPrintable(
                Js(app.editorPage().page(), QStringLiteral("g_ZetJsonResult || ''")).left(80)),
            static_cast<long long>(g_StepCode.load()), int(WorkerFinished()),
            int(app.mainWindow().isProgressVisible()), int(hasMap));
    return shown && hasMap ? ms : -1;
}

} // namespace

int main(int argc, char **argv)
{
    InitNetworking();
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication qapp(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Cogitra"));
    QApplication::setQuitOnLastWindowClosed(false);
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 3;
    const QString site = QStringLiteral(COGITRA_BENCH_EDITOR_SITE_DIR);

    QTemporaryDir serviceDir;
    Service::ServiceOptions serviceOptions;
    serviceOptions.dataDir = serviceDir.path();
    Service::NotebookService service(serviceOptions);
    if (!service.start())
        return 1;
    const auto demo = service.seedDemo();
    if (!demo)
        return 1;
    for (const char *name : {"COGITRA_GRAPH_ROOT", "COGITRA_LOGIN_ROOT", "COGITRA_ACCOUNT_ROOT",
                             "COGITRA_MAKER_ROOT", "COGITRA_DESKTOP_ROOT"})
        qputenv(name, service.rootUrl().toUtf8());

    std::vector<double> bare;
    std::vector<double> full;
    (void)BareEditorMs(site); // the web engine's own start-up, paid once per process
    for (int i = 0; i < runs; ++i) {
        bare.push_back(BareEditorMs(site));
        full.push_back(ApplicationMs(service, *demo, site));
        std::printf("run %d: bare editor %.0f ms, application %.0f ms\n", i + 1, bare.back(),
                    full.back());
    }
    if (std::count(bare.begin(), bare.end(), -1.0) || std::count(full.begin(), full.end(), -1.0)) {
        std::printf("a run did not finish\n");
        return 1;
    }
    const double b = Median(bare);
    const double f = Median(full);
    std::printf("median: bare editor %.0f ms, application to map shown %.0f ms, ratio %.2f\n", b, f,
                f / b);
    return 0;
}
