// Where a user waits on large maps: the editor-script escape of 1 MB and 5 MB of map JSON
// (linear when the 5 MB time is five times the 1 MB time), and reading a map out of a
// container of 1 MB and 5 MB, with cogitra-cli against cat of the same file and in process
// against reading the file's bytes. Packing 1 MB with cogitra-cli against base64 -w0.
// Prints one "figure: value" line each; the ratios are what to compare between versions.

#include "app/MEditorScript.h"
#include "attachment/TZetGifAttachment.h"
#include "online/MCurlHandle.h"
#include "online/MGraphClient.h"
#include "online/MHttp.h"
#include "online/MPageLocator.h"
#include "online/MPageMatching.h"
#include "online/MTokenClient.h"
#include "util/MGlobals.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
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

// Map JSON of about the given size, with the characters the escape has work with: quotes,
// backslashes, line breaks, apostrophes and text outside ASCII.
QString MapOfBytes(qsizetype bytes)
{
    QString json = QStringLiteral("{\"root\":{\"data\":{\"text\":\"Root\"},\"children\":[");
    const QString node = QString::fromUtf8(
        "{\"data\":{\"id\":\"n%1\",\"text\":\"Knoten %1 – 节点 it's \\\"q\\\" \\\\ \"},"
        "\"children\":[]},\n");
    for (int i = 0; json.toUtf8().size() < bytes; i += 1000) {
        QString chunk;
        for (int j = i; j < i + 1000; ++j)
            chunk += node.arg(j);
        json += chunk;
    }
    json.chop(2);
    return json + QStringLiteral("]},\"template\":\"default\",\"theme\":\"fresh-blue\"}");
}

// A notebook tree of the service's shape: notebooks with their sections and one section
// group each, ids and links as the service writes them.
QByteArray NotebookTree(int notebooks, int sections)
{
    QByteArray json = "{\"@odata.context\":\"https://graph.microsoft.com/v1.0/$metadata#users"
                      "('a%40b.example')/onenote/notebooks\",\"value\":[";
    const auto section = [](int n, int s) -> QByteArray {
        const QByteArray id = "0-5F3A9C0D2B7E4A61!s" + QByteArray::number(n * 1000 + s, 16);
        return "{\"id\":\"" + id
               + "\",\"self\":\"https://graph.microsoft.com/v1.0/me/onenote/"
                 "sections/"
               + id + "\",\"displayName\":\"Section " + QByteArray::number(s)
               + "\",\"pagesUrl\":\"https://graph.microsoft.com/v1.0/me/onenote/sections/" + id
               + "/pages\"}";
    };
    for (int n = 0; n < notebooks; ++n) {
        json += n ? ",{" : "{";
        json += "\"id\":\"0-5F3A9C0D2B7E4A61!n"
                + QByteArray::number(n)
                // One name for all, so that the walk enters every notebook.
                + "\",\"displayName\":\"Notebook\",\"links\":{\"oneNoteClientUrl\":"
                  "{\"href\":\"onenote:https://d.docs.live.net/5f3a9c0d2b7e4a61/Documents/"
                  "Notebook%20"
                + QByteArray::number(n) + "\"}},\"sections\":[";
        for (int s = 0; s < sections - 1; ++s)
            json += (s ? "," : "") + section(n, s);
        json += "],\"sectionGroups\":[{\"displayName\":\"Group\",\"sections\":["
                + section(n, sections - 1) + "],\"sectionGroups\":[]}]}";
    }
    return json + "]}";
}

void Line(const QByteArray &figure, double value)
{
    std::printf("%s: %.2f\n", figure.constData(), value);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    if (!dir.isValid())
        return 1;
    g_AppDataDir.set(dir.path());
    const int rounds = 7;

    // Escape: 1 MB and 5 MB, and the ratio of the two against the ideal 5.
    const QString map1 = MapOfBytes(1 << 20);
    const QString map5 = MapOfBytes(5 << 20);
    const double escape1 = MedianMillis(rounds, [&] { return !EscapeForJsString(map1).isEmpty(); });
    const double escape5 = MedianMillis(rounds, [&] { return !EscapeForJsString(map5).isEmpty(); });
    const double copy5 = MedianMillis(rounds, [&] {
        QString copy = map5;
        copy.detach();
        return !copy.isEmpty();
    });
    Line("EscapeForJsString 1 MB (ms)", escape1);
    Line("EscapeForJsString 5 MB (ms)", escape5);
    Line("ratio escape 5 MB / 1 MB (5 when linear)", escape5 / escape1);
    Line("copy of the 5 MB text (ms)", copy5);
    Line("ratio escape 5 MB / copy 5 MB", escape5 / copy5);

    // The notebook tree of 200 notebooks with 50 sections each: the account test and the
    // walk of every notebook and group (no token, so no page list is fetched) against
    // parsing the same reply alone.
    {
        InitNetworking();
        g_AccessToken.set(QString());
        MHttpClient http;
        MTokenClient tokens(http);
        MGraphClient graph(http, tokens);
        MPageLocator locator(graph, QString());
        const std::optional<QByteArray> tree = NotebookTree(200, 50);
        const double walk = MedianMillis(rounds, [&] {
            return FoundAccountInJason(tree, QStringLiteral("5f3a9c0d2b7e4a61")) == 1
                   && !locator.GetOnlinePageInfo_LoopNotebooks(tree, QStringLiteral("Notebook"),
                                                               QStringLiteral("Missing"),
                                                               QStringLiteral("P"));
        });
        const double parse
            = MedianMillis(rounds, [&] { return QJsonDocument::fromJson(*tree).isObject(); });
        Line("notebook tree 200 x 50 bytes", static_cast<double>(tree->size()));
        Line("notebook tree 200 x 50, account test and walk (ms)", walk);
        Line("notebook tree 200 x 50, JSON parse alone (ms)", parse);
        Line("ratio tree walk / parse", walk / parse);
    }

    const QString cli = QStringLiteral(COGITRA_CLI_PATH);
    for (const auto &[label, json] : {std::pair{"1 MB", &map1}, std::pair{"5 MB", &map5}}) {
        const QString payload = QDir(dir.path()).filePath(QStringLiteral("map.json"));
        {
            QFile file(payload);
            if (!file.open(QIODevice::WriteOnly) || file.write(json->toUtf8()) < 0)
                return 1;
        }
        if (TZetGifAttachment::Package(*json).isEmpty())
            return 1;
        const QString container = QDir(dir.path()).filePath(QStringLiteral("map.gif"));
        QFile::remove(container);
        if (!QFile::copy(QDir(dir.path()).filePath(TZetGifAttachment::ContainerFileName()),
                         container))
            return 1;

        const double cliExtract = MedianMillis(rounds, [&] {
            return RunProcess(cli,
                              {QStringLiteral("container"), QStringLiteral("extract"), container});
        });
        const double cat
            = MedianMillis(rounds, [&] { return RunProcess(QStringLiteral("cat"), {container}); });
        const double extract = MedianMillis(
            rounds, [&] { return TZetGifAttachment::TryExtract(container).has_value(); });
        const double read = MedianMillis(rounds, [&] {
            QFile file(container);
            return file.open(QIODevice::ReadOnly) && !file.readAll().isEmpty();
        });
        const double cliPack = MedianMillis(rounds, [&] {
            return RunProcess(cli, {QStringLiteral("container"), QStringLiteral("pack"),
                                    QStringLiteral("--json"), payload, QStringLiteral("--out"),
                                    QDir(dir.path()).filePath(QStringLiteral("packed.gif"))});
        });
        const double base64 = MedianMillis(rounds, [&] {
            return RunProcess(QStringLiteral("base64"), {QStringLiteral("-w0"), payload});
        });
        const QByteArray name(label);
        Line("cogitra-cli container extract " + name + " (ms)", cliExtract);
        Line("cat of the container " + name + " (ms)", cat);
        Line("ratio cli extract / cat " + name, cliExtract / cat);
        Line("TryExtract in process " + name + " (ms)", extract);
        Line("reading the file's bytes " + name + " (ms)", read);
        Line("ratio TryExtract / read " + name, extract / read);
        Line("cogitra-cli container pack " + name + " (ms)", cliPack);
        Line("base64 -w0 of the map " + name + " (ms)", base64);
        Line("ratio cli pack / base64 -w0 " + name, cliPack / base64);
    }
    return 0;
}
