// Packing a 5 MB map with cogitra-cli against base64 -w0 of the same bytes, both as
// processes started the same way in the same run, and the in-process pack (template,
// name field, map, base64 of the whole) against Qt's base64 of the map alone. Prints one
// line per figure; the ratios are what to compare between versions.
//
// The container is written atomically and flushed to disk (QSaveFile), which base64 to
// /dev/null never is; the third baseline writes base64's output to a file and syncs that
// file, to show how much of the difference is the disk.

#include "attachment/TZetGifAttachment.h"
#include "util/MGlobals.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <vector>

#include "../BenchSupport.h"

using namespace Cogitra;

namespace {

using Bench::MedianMillis;
using Bench::RunProcess;

QByteArray FiveMegabyteMap()
{
    QByteArray json = "{\"root\":{\"data\":{\"text\":\"Root\"},\"children\":[";
    for (int i = 0; json.size() < 5 * 1024 * 1024; ++i) {
        json += "{\"data\":{\"id\":\"n" + QByteArray::number(i) + "\",\"text\":\"Knoten "
                + QByteArray::number(i)
                + " \xE2\x80\x93 \xE8\x8A\x82\xE7\x82\xB9\"},\"children\":[]},";
    }
    json.chop(1);
    json += "]},\"template\":\"default\",\"theme\":\"fresh-blue\",\"version\":\"1.4.43\"}";
    return json;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(1, atoi(argv[1])) : 9;

    QTemporaryDir dir;
    const QByteArray json = FiveMegabyteMap();
    const QString jsonPath = dir.filePath("map.json");
    QFile file(jsonPath);
    if (!file.open(QIODevice::WriteOnly) || file.write(json) != json.size())
        return 1;
    file.close();

    const QString cli = QStringLiteral(COGITRA_CLI_PATH);
    const QString gifPath = dir.filePath("map.gif");
    const double cliMs = MedianMillis(rounds, [&] {
        return RunProcess(cli, {"container", "pack", "--json", jsonPath, "--out", gifPath});
    });
    const double base64Ms = MedianMillis(rounds, [&] {
        return RunProcess("base64", {"-w0", jsonPath});
    });
    const QString base64Out = dir.filePath("map.b64");
    const double base64SyncMs = MedianMillis(rounds, [&] {
        return RunProcess(
            "sh", {"-c", "base64 -w0 \"$1\" > \"$2\" && sync \"$2\"", "sh", jsonPath, base64Out});
    });
    if (cliMs < 0 || base64Ms < 0 || base64SyncMs < 0) {
        std::fprintf(stderr, "bench_container: a process failed\n");
        return 1;
    }

    g_AppDataDir.set(dir.path());
    const QString text = QString::fromUtf8(json);
    const double packMs
        = MedianMillis(rounds, [&] { return !TZetGifAttachment::Package(text).isEmpty(); });
    const double qtBase64Ms = MedianMillis(rounds, [&] { return !json.toBase64().isEmpty(); });

    std::printf("map bytes                           %lld\n", static_cast<long long>(json.size()));
    std::printf("cogitra-cli container pack (ms)     %.1f\n", cliMs);
    std::printf("base64 -w0 of the map (ms)          %.1f\n", base64Ms);
    std::printf("ratio cli pack / base64 -w0         %.2f\n", cliMs / base64Ms);
    std::printf("base64 -w0 to a file + sync (ms)    %.1f\n", base64SyncMs);
    std::printf("ratio cli pack / base64 + sync      %.2f\n", cliMs / base64SyncMs);
    std::printf("Package in process (ms)             %.1f\n", packMs);
    std::printf("QByteArray::toBase64 of the map (ms) %.1f\n", qtBase64Ms);
    std::printf("ratio Package / toBase64            %.2f\n", packMs / qtBase64Ms);
    // The program's own packing against base64 written and synced; base64 pays a process
    // start here that Package does not.
    std::printf("ratio Package / base64 + sync       %.2f\n", packMs / base64SyncMs);
    return 0;
}
