// The application as a user starts it: the cogitra program, signed in, against the local
// notebook service program with its demo account, from process start to the current page's
// map shown in the editor; and the peak memory of the application and its web engine
// processes with a map of 5000 topics. The baseline of both is the editor page alone in
// the same web engine (bare_editor), handed the same map, in the same run.
//
//   bench_app [runs]     (QT_QPA_PLATFORM=offscreen, or under Xvfb)
//
// One figure a line on stdout; each run's figures on stderr.

#include "attachment/TZetGifAttachment.h"
#include "onenote/MCurrentPage.h"
#include "service/DemoSeed.h"
#include "service/NotebookService.h"
#include "util/MConfig.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>

#include <httplib.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <optional>
#include <vector>

#include <signal.h>

#include "../BenchSupport.h"

using namespace Cogitra;

namespace {

using Bench::Median;

constexpr int kMarkerTimeoutMs = 180000;
// After the map is shown: the first paint of a large map comes a moment later.
constexpr int kSettleMs = 2500;

void Wait(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// The map the editor's tests use: topics breadth first, six children each.
QByteArray MapOfTopics(int count)
{
    // Built bottom-up: the children of node i are 6i+1 .. 6i+6.
    std::vector<QJsonObject> nodes(static_cast<size_t>(count));
    for (int i = count - 1; i >= 0; --i) {
        QJsonArray children;
        for (int c = 6 * i + 1; c <= 6 * i + 6 && c < count; ++c)
            children.append(nodes[static_cast<size_t>(c)]);
        nodes[static_cast<size_t>(i)] = QJsonObject{
            {QStringLiteral("data"),
             QJsonObject{{QStringLiteral("id"), QStringLiteral("n%1").arg(i)},
                         {QStringLiteral("text"), i == 0 ? QStringLiteral("Topic map")
                                                         : QStringLiteral("Topic %1").arg(i)}}},
            {QStringLiteral("children"), children}};
    }
    const QJsonObject map{{QStringLiteral("root"), nodes.front()},
                          {QStringLiteral("template"), QStringLiteral("default")},
                          {QStringLiteral("theme"), QStringLiteral("fresh-blue")},
                          {QStringLiteral("version"), QStringLiteral("1.4.43")}};
    return QJsonDocument(map).toJson(QJsonDocument::Compact);
}

// A page holding the map as the application writes one: its picture, then the container.
std::optional<QString> AddMapPage(Service::NotebookService &service, const QString &sectionId,
                                  const QByteArray &json)
{
    QFile templateFile(TZetGifAttachment::TemplatePath());
    if (!templateFile.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray container = BuildContainer(
        templateFile.readAll(), TZetGifAttachment::PayloadFileName().toUtf8(), json);
    const auto page = service.createPage(sectionId, QStringLiteral("Large map"),
                                         QStringLiteral("<p>Five thousand topics.</p>"));
    if (!page || container.isEmpty())
        return std::nullopt;
    const auto append = [&](const QString &alt, const QByteArray &bytes) {
        const QString commands
            = QStringLiteral("[{'target':'body','action':'append','content':'<div><img "
                             "alt=\"%1\" src=\"data:image/png;base64,%2\" /></div>'}]")
                  .arg(alt, QString::fromLatin1(bytes.toBase64()));
        return service.patchPage(page->id, commands.toUtf8());
    };
    if (!append(QStringLiteral("ZetCogitra"), Service::MakePng(320, 180, 0xFFFFFF, 0xD8C8F0))
        || !append(QStringLiteral("ZetGif"), container))
        return std::nullopt;
    return page->id;
}

struct Prepared
{
    QString demoPageId;
    QString largePageId;
    QString accessToken;
    QString refreshToken;
    QString accountId;
    QString userId;
};

// The service's data folder with the demo account, a 5000-topic map page beside the demo
// map, and tokens for the application's configuration, made in process before the
// service program starts on the same folder.
std::optional<Prepared> PrepareService(const QString &dataDir, const QByteArray &largeMap)
{
    Service::ServiceOptions options;
    options.dataDir = dataDir;
    Service::NotebookService service(options);
    if (!service.start())
        return std::nullopt;
    const auto demo = service.seedDemo();
    if (!demo)
        return std::nullopt;
    const auto tokens = service.mintTokens(demo->account.cid);
    const auto mapPage = service.store().page(demo->mapPageId);
    if (!tokens || !mapPage)
        return std::nullopt;
    const auto large = AddMapPage(service, mapPage->sectionId, largeMap);
    OneNotePageInfo page;
    (void)MCurrentPage::ReadPageLink(service.pageDesktopLink(demo->mapPageId), page);
    if (!large || page.accountId.isEmpty())
        return std::nullopt;
    return Prepared{demo->mapPageId,      *large,         tokens->accessToken,
                    tokens->refreshToken, page.accountId, demo->account.cid};
}

// A data folder signed in to the demo account, as the sign-in window leaves it.
bool WriteSignedInConfig(const QString &dataRoot, const Prepared &prepared)
{
    const QString dir = QDir(dataRoot).filePath(QStringLiteral("Ardentis/Cogitra"));
    if (!QDir().mkpath(dir))
        return false;
    MConfig config(QDir(dir).filePath(QStringLiteral("zetapp.plist")));
    config.WriteValueStr(QStringLiteral("OnlineOneNoteAccessToken"), prepared.accessToken);
    config.WriteValueStr(QStringLiteral("OnlineOneNoteRefreshToken"), prepared.refreshToken);
    config.WriteValueStr(QStringLiteral("OnlineOneNoteAccountId"), prepared.accountId);
    config.WriteValueStr(QStringLiteral("OnlineOneNoteUserId"), prepared.userId);
    return config.Save();
}

bool SelectPage(const QString &root, const QString &pageId)
{
    const QUrl url(root);
    httplib::Client client(url.host().toStdString(), url.port());
    const QByteArray body = QJsonDocument(QJsonObject{{QStringLiteral("pageId"), pageId}})
                                .toJson(QJsonDocument::Compact);
    const auto reply
        = client.Post("/desktop/api/selection", body.toStdString(), "application/json");
    return reply && reply->status == 200;
}

// Every process below pid, from /proc.
std::vector<qint64> Descendants(qint64 pid)
{
    std::multimap<qint64, qint64> children;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString &entry : entries) {
        bool number = false;
        const qint64 id = entry.toLongLong(&number);
        if (!number)
            continue;
        QFile stat(QStringLiteral("/proc/%1/stat").arg(id));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray text = stat.read(4096);
        // "pid (comm) state ppid ...": comm may hold spaces and parentheses.
        const qsizetype close = text.lastIndexOf(')');
        const QList<QByteArray> fields = text.mid(close + 2).split(' ');
        if (close > 0 && fields.size() > 1)
            children.emplace(fields.at(1).toLongLong(), id);
    }
    std::vector<qint64> found;
    std::vector<qint64> todo{pid};
    while (!todo.empty() && found.size() < 1000) {
        const qint64 parent = todo.back();
        todo.pop_back();
        const auto [begin, end] = children.equal_range(parent);
        for (auto it = begin; it != end; ++it) {
            found.push_back(it->second);
            todo.push_back(it->second);
        }
    }
    return found;
}

// VmHWM of a process in KiB; 0 when it is gone.
qint64 PeakRssKiB(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    static const QRegularExpression hwm(QStringLiteral("^VmHWM:\\s+(\\d+) kB"),
                                        QRegularExpression::MultilineOption);
    const auto match = hwm.match(QString::fromLatin1(status.read(16384)));
    return match.hasMatch() ? match.captured(1).toLongLong() : 0;
}

struct Launch
{
    double ms = -1;        // process start to the marker line
    qint64 characters = 0; // the map text the editor holds, as the marker says
    double mainMiB = 0;    // VmHWM of the program itself
    double engineMiB = 0;  // VmHWM of its web engine processes, summed
    int engineProcesses = 0;
};

// Starts program, times it to its "map shown" line on stderr, reads the peak memory of it
// and its children a moment later, and ends them all.
std::optional<Launch> Run(const QString &program, const QStringList &arguments,
                          const QProcessEnvironment &env, const QString &marker)
{
    QProcess process;
    process.setProcessEnvironment(env);
    process.setStandardOutputFile(QProcess::nullDevice());
    Launch launch;
    QByteArray errors;
    const QRegularExpression shown(QRegularExpression::escape(marker)
                                   + QStringLiteral(" map shown \\((\\d+) characters\\)"));
    QEventLoop loop;
    QElapsedTimer clock;
    QObject::connect(&process, &QProcess::readyReadStandardError, &loop, [&] {
        errors += process.readAllStandardError();
        if (launch.ms >= 0)
            return;
        const auto match = shown.match(QString::fromUtf8(errors));
        if (match.hasMatch()) {
            launch.ms = double(clock.nsecsElapsed()) / 1e6;
            launch.characters = match.captured(1).toLongLong();
            loop.quit();
        }
    });
    QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(kMarkerTimeoutMs, &loop, &QEventLoop::quit);
    clock.start();
    process.start(program, arguments);
    loop.exec();

    std::vector<qint64> engine;
    if (launch.ms >= 0 && process.state() == QProcess::Running) {
        Wait(kSettleMs);
        const qint64 pid = process.processId();
        launch.mainMiB = double(PeakRssKiB(pid)) / 1024;
        engine = Descendants(pid);
        for (const qint64 child : engine)
            launch.engineMiB += double(PeakRssKiB(child)) / 1024;
        launch.engineProcesses = int(engine.size());
    }
    if (process.state() != QProcess::NotRunning) {
        process.terminate();
        if (!process.waitForFinished(15000)) {
            process.kill();
            (void)process.waitForFinished(5000);
        }
    }
    // The web engine's processes end with their parent; any that outlive it are ended here.
    for (const qint64 child : engine) {
        if (QFile::exists(QStringLiteral("/proc/%1").arg(child)))
            ::kill(static_cast<pid_t>(child), SIGTERM);
    }
    if (launch.ms < 0) {
        const QString last = QString::fromUtf8(errors).trimmed().section(u'\n', -3);
        std::fprintf(stderr, "%s: no map shown; last output: %s\n", qPrintable(marker),
                     qPrintable(last));
        return std::nullopt;
    }
    return launch;
}

struct Side
{
    std::vector<double> ms;
    std::vector<double> mainMiB;
    std::vector<double> engineMiB;
    std::vector<double> totalMiB;
    qint64 characters = 0;
    int engineProcesses = 0;

    void add(const Launch &l)
    {
        ms.push_back(l.ms);
        mainMiB.push_back(l.mainMiB);
        engineMiB.push_back(l.engineMiB);
        totalMiB.push_back(l.mainMiB + l.engineMiB);
        characters = l.characters;
        engineProcesses = l.engineProcesses;
    }
};

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication qapp(argc, argv);
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 5;
    const QString site = QStringLiteral(COGITRA_BENCH_EDITOR_SITE_DIR);

    QTemporaryDir work;
    const QString serviceDir = QDir(work.path()).filePath(QStringLiteral("service"));
    const QByteArray largeMap = MapOfTopics(5000);
    const auto prepared = PrepareService(serviceDir, largeMap);
    if (!prepared) {
        std::fprintf(stderr, "bench_app: the service's data could not be prepared\n");
        return 1;
    }
    const QString demoMapFile = QDir(work.path()).filePath(QStringLiteral("demo-map.json"));
    const QString largeMapFile = QDir(work.path()).filePath(QStringLiteral("large-map.json"));
    for (const auto &[path, bytes] :
         {std::pair{demoMapFile, Service::DemoMapJson()}, std::pair{largeMapFile, largeMap}}) {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            return 1;
    }

    QProcess service;
    service.setStandardErrorFile(QProcess::nullDevice());
    service.start(QStringLiteral(COGITRA_BENCH_SERVICE_PATH),
                  {QStringLiteral("--data"), serviceDir, QStringLiteral("--seed-demo")});
    QString root;
    if (service.waitForReadyRead(30000))
        root = QString::fromUtf8(service.readLine()).trimmed();
    if (!root.startsWith(u"http://127.0.0.1:")) {
        std::fprintf(stderr, "bench_app: the notebook service did not start\n");
        return 1;
    }

    QProcessEnvironment base = QProcessEnvironment::systemEnvironment();
    // What a headless web engine needs, as the GUI tests run it.
    if (!base.contains(QStringLiteral("QTWEBENGINE_CHROMIUM_FLAGS")))
        base.insert(QStringLiteral("QTWEBENGINE_CHROMIUM_FLAGS"),
                    QStringLiteral("--disable-gpu --no-sandbox"));
    base.insert(QStringLiteral("QTWEBENGINE_DISABLE_SANDBOX"), QStringLiteral("1"));
    base.insert(QStringLiteral("COGITRA_LANG"), QStringLiteral("en"));

    int dataFolders = 0;
    const auto app = [&]() -> std::optional<Launch> {
        // A fresh data folder each time: signed in, nothing cached.
        const QString data = QDir(work.path()).filePath(QStringLiteral("app%1").arg(++dataFolders));
        if (!WriteSignedInConfig(data, *prepared))
            return std::nullopt;
        QProcessEnvironment env = base;
        for (const char *name : {"COGITRA_GRAPH_ROOT", "COGITRA_LOGIN_ROOT", "COGITRA_ACCOUNT_ROOT",
                                 "COGITRA_MAKER_ROOT", "COGITRA_DESKTOP_ROOT"})
            env.insert(QString::fromLatin1(name), root);
        env.insert(QStringLiteral("COGITRA_DATA_ROOT"), data);
        env.insert(QStringLiteral("COGITRA_EDITOR_SITE_DIR"), site);
        env.insert(QStringLiteral("COGITRA_REPORT_MAP_SHOWN"), QStringLiteral("1"));
        return Run(QStringLiteral(COGITRA_BENCH_APP_PATH), {}, env, QStringLiteral("cogitra:"));
    };
    const auto bare = [&](const QString &mapFile) {
        return Run(QStringLiteral(COGITRA_BENCH_BARE_EDITOR_PATH), {site, mapFile}, base,
                   QStringLiteral("bare:"));
    };

    // One pass of each against one map: start-up times always, memory kept for the large map.
    const auto measure = [&](const QString &pageId, const QString &mapFile, const char *label,
                             int rounds, Side &appSide, Side &bareSide) {
        if (!SelectPage(root, pageId)) {
            std::fprintf(stderr, "bench_app: the page could not be selected\n");
            return false;
        }
        // Warm-up: the programs and the web engine's files in the page cache.
        if (!app() || !bare(mapFile))
            return false;
        for (int i = 0; i < rounds; ++i) {
            // Alternate which starts first so that neither always gets the quieter machine.
            std::optional<Launch> a;
            std::optional<Launch> b;
            if (i % 2) {
                b = bare(mapFile);
                a = app();
            } else {
                a = app();
                b = bare(mapFile);
            }
            if (!a || !b)
                return false;
            appSide.add(*a);
            bareSide.add(*b);
            std::fprintf(stderr,
                         "%s run %d: application %.0f ms, %.1f MiB (+ %.1f MiB in %d engine "
                         "processes); bare %.0f ms, %.1f MiB (+ %.1f MiB in %d)\n",
                         label, i + 1, a->ms, a->mainMiB, a->engineMiB, a->engineProcesses, b->ms,
                         b->mainMiB, b->engineMiB, b->engineProcesses);
        }
        if (appSide.characters != bareSide.characters)
            std::fprintf(stderr,
                         "bench_app: %s: the application shows %lld characters, the bare "
                         "page %lld\n",
                         label, static_cast<long long>(appSide.characters),
                         static_cast<long long>(bareSide.characters));
        return true;
    };

    Side demoApp, demoBare, largeApp, largeBare;
    const bool ok = measure(prepared->demoPageId, demoMapFile, "demo map", runs, demoApp, demoBare)
                    && measure(prepared->largePageId, largeMapFile, "5000 topics",
                               std::max(3, runs / 2 + 1), largeApp, largeBare);
    service.terminate();
    if (!service.waitForFinished(10000))
        service.kill();
    if (!ok) {
        std::printf("a run did not finish\n");
        return 1;
    }

    const double a = Median(demoApp.ms), b = Median(demoBare.ms);
    std::printf("start-up to the demo map shown (ms): application %.0f, bare editor page %.0f "
                "(median of %zu)\n",
                a, b, demoApp.ms.size());
    std::printf("ratio start-up application / bare editor page: %.2f\n", a / b);
    const double la = Median(largeApp.ms), lb = Median(largeBare.ms);
    std::printf("start-up to a 5000-topic map shown (ms): application %.0f, bare editor page %.0f "
                "(median of %zu)\n",
                la, lb, largeApp.ms.size());
    std::printf("ratio start-up 5000 topics application / bare editor page: %.2f\n", la / lb);
    std::printf("peak RSS with 5000 topics (MiB): application %.0f (program %.0f, web engine "
                "%.0f in %d processes), bare editor page %.0f (program %.0f, web engine %.0f in "
                "%d)\n",
                Median(largeApp.totalMiB), Median(largeApp.mainMiB), Median(largeApp.engineMiB),
                largeApp.engineProcesses, Median(largeBare.totalMiB), Median(largeBare.mainMiB),
                Median(largeBare.engineMiB), largeBare.engineProcesses);
    std::printf("ratio peak RSS application / bare editor page: %.2f\n",
                Median(largeApp.totalMiB) / Median(largeBare.totalMiB));
    std::printf("peak RSS with the demo map (MiB): application %.0f, bare editor page %.0f\n",
                Median(demoApp.totalMiB), Median(demoBare.totalMiB));
    return 0;
}
