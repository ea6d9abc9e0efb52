#include "CliVerbs.h"

#include "app/MMapConverter.h"
#include "attachment/TZetGifAttachment.h"
#include "onenote/MPageLink.h"
#include "util/MLimits.h"

#include <QFileInfo>
#include <QIODevice>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUtf8StringView>

#include <optional>

namespace Cogitra {

namespace {

void Print(QIODevice &device, const QByteArray &bytes)
{
    device.write(bytes);
}

int ContainerPack(const QStringList &arguments, CliIo &io)
{
    const QStringList names{QStringLiteral("--json"), QStringLiteral("--out")};
    const auto options = ParseCliOptions(QString(), arguments, names, names, io);
    if (!options)
        return 1;
    const QString jsonPath = options->value(QStringLiteral("--json"));
    const QString outPath = options->value(QStringLiteral("--out"));

    // The same bound as the application's packing: a larger map would give a container
    // that no reader opens.
    if (QFileInfo(jsonPath).size() > kMaxMapBytes)
        return CliError(io, QStringLiteral("%1 is larger than a map may be (%2 MiB)")
                                .arg(jsonPath)
                                .arg(kMaxMapBytes / kMiB));
    const std::optional<QByteArray> json = ReadWholeFile(jsonPath, kMaxMapBytes);
    if (!json)
        return CliError(io, QStringLiteral("cannot read %1").arg(jsonPath));
    // What cannot be decoded would not come back out of the container.
    if (!QUtf8StringView(*json).isValidUtf8())
        return CliError(io, QStringLiteral("%1 is not UTF-8 text").arg(jsonPath));
    // The editor opens only an object; a container of anything else is a map nobody opens.
    if (!QJsonDocument::fromJson(*json).isObject())
        return CliError(io, QStringLiteral("%1 is not a map (a JSON object)").arg(jsonPath));

    const std::optional<QByteArray> templateBytes
        = ReadWholeFile(TZetGifAttachment::TemplatePath());
    if (!templateBytes)
        return CliError(io, QStringLiteral("the container template is missing"));
    const QByteArray container
        = BuildContainer(*templateBytes, TZetGifAttachment::PayloadFileName().toUtf8(), *json);
    if (!WriteWholeFile(outPath, container))
        return CliError(io, QStringLiteral("cannot write %1").arg(outPath));
    PrintJson(io, {{QStringLiteral("out"), outPath},
                   {QStringLiteral("bytes"), qint64(container.size())}});
    return 0;
}

int ContainerExtract(const QStringList &arguments, CliIo &io)
{
    if (arguments.size() != 1)
        return CliError(io, QStringLiteral("container extract takes one FILE.gif"));
    const QString path = arguments.at(0);
    const QFileInfo info(path);
    if (!info.isFile() || !info.isReadable())
        return CliError(io, QStringLiteral("cannot read %1").arg(path));
    if (info.size() > kMaxContainerBytes)
        return CliError(io, QStringLiteral("%1 is larger than a map container may be").arg(path));
    const std::optional<QString> json = TZetGifAttachment::TryExtract(path);
    if (!json)
        return CliError(io, QStringLiteral("%1 holds no map: it is too short, damaged, or not "
                                           "UTF-8")
                                .arg(path));
    Print(io.out, json->toUtf8());
    return 0;
}

int LinkParse(const QStringList &arguments, CliIo &io)
{
    if (arguments.size() != 1)
        return CliError(io, QStringLiteral("link parse takes one LINK"));
    OneNotePageInfo page;
    const QString refusal = ReadAnyPageLink(arguments.at(0), page);
    if (!refusal.isEmpty())
        return CliError(io, QStringLiteral("not a page link: %1").arg(refusal));
    PrintJson(io, {{QStringLiteral("title"), page.title},
                   {QStringLiteral("notebook"), page.notebookName},
                   {QStringLiteral("section"), page.sectionName},
                   {QStringLiteral("accountId"), page.accountId},
                   {QStringLiteral("pageClientId"), page.clientId},
                   {QStringLiteral("link"), page.link}});
    return 0;
}

// A format given by name, or else by the suffix of the file it goes with.
std::optional<MapFormat> ChosenFormat(const QString &name, const QString &file, const char *option,
                                      CliIo &io)
{
    const std::optional<MapFormat> format
        = name.isEmpty() ? MapFormatOfFile(file) : MapFormatNamed(name);
    if (!format) {
        CliError(io, QStringLiteral("convert: %1 %2 (one of %3)")
                         .arg(QLatin1String(option),
                              name.isEmpty() ? QStringLiteral("is required")
                                             : QStringLiteral("\"%1\" is no format").arg(name),
                              MapFormatNames().join(QStringLiteral(", "))));
    }
    return format;
}

int Convert(const QStringList &arguments, CliIo &io)
{
    QStringList optionWords;
    QStringList files;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        if (arguments.at(i).startsWith(QLatin1String("--")) && arguments.at(i).size() > 2)
            optionWords << arguments.mid(i++, 2);
        else
            files << arguments.at(i);
    }
    const auto options = ParseCliOptions(
        QStringLiteral("convert"), optionWords,
        {QStringLiteral("--from"), QStringLiteral("--to"), QStringLiteral("--root")}, {}, io);
    if (!options)
        return 1;
    if (files.size() > 2)
        return CliError(io, QStringLiteral("convert takes at most an input and an output file"));
    const QString inPath = files.value(0) == u"-" ? QString() : files.value(0);
    const QString outPath = files.value(1) == u"-" ? QString() : files.value(1);
    const auto from = ChosenFormat(options->value(QStringLiteral("--from")), inPath, "--from", io);
    const auto to = from ? ChosenFormat(options->value(QStringLiteral("--to")), outPath, "--to", io)
                         : std::nullopt;
    if (!from || !to)
        return 1;

    QByteArray bytes;
    if (inPath.isEmpty()) {
        if (!io.in)
            return CliError(io, QStringLiteral("convert: nothing to read"));
        bytes = io.in->read(kMaxMapBytes + 1);
    } else if (QFileInfo(inPath).size() > kMaxMapBytes) {
        bytes.resize(kMaxMapBytes + 1);
    } else if (const auto read = ReadWholeFile(inPath, kMaxMapBytes)) {
        bytes = *read;
    } else {
        return CliError(io, QStringLiteral("cannot read %1").arg(inPath));
    }
    const QString rootText = options->value(
        QStringLiteral("--root"),
        inPath.isEmpty() ? QStringLiteral("Central Topic") : QFileInfo(inPath).completeBaseName());
    const MapConversion converted = MMapConverter::convert(*from, *to, bytes, rootText);
    if (!converted.ok())
        return CliError(
            io, QStringLiteral("%1: %2").arg(inPath.isEmpty() ? QStringLiteral("input") : inPath,
                                             converted.error));
    if (outPath.isEmpty())
        Print(io.out, converted.bytes);
    else if (!WriteWholeFile(outPath, converted.bytes))
        return CliError(io, QStringLiteral("cannot write %1").arg(outPath));
    return 0;
}

QByteArray Usage(const std::vector<CliVerb> &verbs)
{
    QByteArray usage = "usage: cogitra-cli COMMAND [ARGUMENTS]\n";
    for (const CliVerb &verb : verbs) {
        usage += "  " + (verb.words.join(QLatin1Char(' ')) + QLatin1Char(' ') + verb.usage).toUtf8()
                 + "\n      " + verb.summary.toUtf8() + "\n";
    }
    return usage;
}

} // namespace

std::vector<CliVerb> ToolVerbs()
{
    return {
        {{QStringLiteral("container"), QStringLiteral("pack")},
         QStringLiteral("--json FILE --out FILE.gif"),
         QStringLiteral("packs a map's JSON into the GIF container that carries it on its page"),
         ContainerPack},
        {{QStringLiteral("container"), QStringLiteral("extract")},
         QStringLiteral("FILE.gif"),
         QStringLiteral("prints the map's JSON carried by a container"),
         ContainerExtract},
        {{QStringLiteral("link"), QStringLiteral("parse")},
         QStringLiteral("LINK"),
         QStringLiteral("prints the title, notebook, section, account and page id of a link to a "
                        "OneNote page (desktop or web)"),
         LinkParse},
        {{QStringLiteral("convert")},
         QStringLiteral("[--from FORMAT] [--to FORMAT] [--root TEXT] [IN] [OUT]"),
         QStringLiteral("converts a map between json, md, opml, mm (FreeMind) and txt (indented); "
                        "formats default to the files' suffixes, files to standard input and "
                        "output"),
         Convert},
    };
}

int RunCli(const QStringList &arguments, CliIo &io, const std::vector<CliVerb> &verbs)
{
    if (arguments.size() == 1
        && (arguments.at(0) == QLatin1String("--help") || arguments.at(0) == QLatin1String("-h"))) {
        Print(io.out, Usage(verbs));
        return 0;
    }
    const CliVerb *chosen = nullptr;
    for (const CliVerb &verb : verbs) {
        if (arguments.size() >= verb.words.size()
            && arguments.first(verb.words.size()) == verb.words
            && (chosen == nullptr || verb.words.size() > chosen->words.size()))
            chosen = &verb;
    }
    if (chosen == nullptr) {
        if (arguments.isEmpty())
            return CliError(io, QStringLiteral("no command given (try --help)"));
        return CliError(io, QStringLiteral("unknown command \"%1\" (try --help)")
                                .arg(arguments.mid(0, 2).join(QLatin1Char(' '))));
    }
    return chosen->run(arguments.mid(chosen->words.size()), io);
}

int CliError(CliIo &io, const QString &text)
{
    QString line = text;
    line.replace(QLatin1Char('\n'), QLatin1Char(' '));
    Print(io.err, "cogitra-cli: " + line.toUtf8() + "\n");
    return 1;
}

std::optional<QMap<QString, QString>> ParseCliOptions(const QString &verb,
                                                      const QStringList &arguments,
                                                      const QStringList &allowed,
                                                      const QStringList &required, CliIo &io)
{
    const QString prefix = verb.isEmpty() ? QString() : verb + u": ";
    QMap<QString, QString> options;
    for (qsizetype i = 0; i < arguments.size(); i += 2) {
        const QString &name = arguments.at(i);
        if (!allowed.contains(name)) {
            CliError(io, prefix + QStringLiteral("unknown argument \"%1\"").arg(name));
            return std::nullopt;
        }
        if (i + 1 >= arguments.size()) {
            CliError(io, prefix + QStringLiteral("%1 needs a value").arg(name));
            return std::nullopt;
        }
        if (options.contains(name)) {
            CliError(io, prefix + QStringLiteral("%1 given twice").arg(name));
            return std::nullopt;
        }
        options.insert(name, arguments.at(i + 1));
    }
    for (const QString &name : required) {
        if (!options.contains(name)) {
            CliError(io, prefix + QStringLiteral("%1 is required").arg(name));
            return std::nullopt;
        }
    }
    return options;
}

void PrintJson(CliIo &io, const QJsonObject &object)
{
    Print(io.out, QJsonDocument(object).toJson(QJsonDocument::Compact) + "\n");
}

} // namespace Cogitra
