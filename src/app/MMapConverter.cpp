#include "MMapConverter.h"

#include "MTextOutlineFormats.h"
#include "MXmlOutlineFormats.h"

#include "util/MLimits.h"

#include <QFileInfo>
#include <QUtf8StringView>

namespace Cogitra {

namespace {

struct FormatName
{
    const char *name;
    MapFormat format;
};

constexpr FormatName kNames[] = {
    {"json", MapFormat::Json}, {"md", MapFormat::Markdown}, {"markdown", MapFormat::Markdown},
    {"opml", MapFormat::Opml}, {"mm", MapFormat::FreeMind}, {"freemind", MapFormat::FreeMind},
    {"txt", MapFormat::Text},  {"text", MapFormat::Text},
};

std::optional<QString> Utf8Text(QByteArray bytes)
{
    if (bytes.startsWith("\xEF\xBB\xBF"))
        bytes.remove(0, 3);
    if (!QUtf8StringView(bytes).isValidUtf8())
        return std::nullopt;
    return QString::fromUtf8(bytes);
}

} // namespace

std::optional<MapFormat> MapFormatNamed(const QString &name)
{
    for (const FormatName &entry : kNames) {
        if (name.compare(QLatin1String(entry.name), Qt::CaseInsensitive) == 0)
            return entry.format;
    }
    return std::nullopt;
}

std::optional<MapFormat> MapFormatOfFile(const QString &path)
{
    return MapFormatNamed(QFileInfo(path).suffix());
}

QStringList MapFormatNames()
{
    QStringList names;
    for (const FormatName &entry : kNames)
        names << QLatin1String(entry.name);
    return names;
}

OutlineRead MMapConverter::read(MapFormat format, const QByteArray &bytes)
{
    if (bytes.size() > kMaxMapBytes)
        return {{}, QStringLiteral("larger than a map may be (%1 MiB)").arg(kMaxMapBytes / kMiB)};
    switch (format) {
    case MapFormat::Json:
        return MMapJsonFormat::read(bytes);
    case MapFormat::Opml:
        return MOpmlFormat::read(bytes);
    case MapFormat::FreeMind:
        return MFreeMindFormat::read(bytes);
    case MapFormat::Markdown:
    case MapFormat::Text:
        break;
    }
    const std::optional<QString> text = Utf8Text(bytes);
    if (!text)
        return {{}, QStringLiteral("not UTF-8 text")};
    return format == MapFormat::Markdown ? MMarkdownFormat::read(*text)
                                         : MIndentedTextFormat::read(*text);
}

QByteArray MMapConverter::write(MapFormat format, const MapTopic &root,
                                const QJsonObject &mapFields)
{
    switch (format) {
    case MapFormat::Json:
        return MMapJsonFormat::write(root, mapFields);
    case MapFormat::Markdown:
        return MMarkdownFormat::write(root);
    case MapFormat::Opml:
        return MOpmlFormat::write(root);
    case MapFormat::FreeMind:
        return MFreeMindFormat::write(root);
    case MapFormat::Text:
        return MIndentedTextFormat::write(root);
    }
    return {};
}

MapConversion MMapConverter::convert(MapFormat from, MapFormat to, const QByteArray &bytes,
                                     const QString &rootText)
{
    OutlineRead read = MMapConverter::read(from, bytes);
    if (!read.ok())
        return {{}, read.error};
    const QJsonObject mapFields = read.outline.mapFields;
    return {write(to, OutlineAsTree(std::move(read.outline), rootText), mapFields), {}};
}

MapConversion MMapConverter::pastedTopics(const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    OutlineRead read = MMapConverter::read(
        MMarkdownFormat::looksLikeMarkdown(text) ? MapFormat::Markdown : MapFormat::Text, bytes);
    if (!read.ok())
        return {{}, read.error};
    MapTopic holder;
    holder.children = std::move(read.outline.topics);
    return {MMapJsonFormat::write(holder), {}};
}

} // namespace Cogitra
