#pragma once

#include "MMapOutline.h"

#include <QStringList>

#include <optional>

namespace Cogitra {

enum class MapFormat { Json, Markdown, Opml, FreeMind, Text };

// "json", "md" (or "markdown"), "opml", "mm" (or "freemind"), "txt" (or "text").
[[nodiscard]] std::optional<MapFormat> MapFormatNamed(const QString &name);
// By the file's suffix, the same names.
[[nodiscard]] std::optional<MapFormat> MapFormatOfFile(const QString &path);
[[nodiscard]] QStringList MapFormatNames();

struct MapConversion
{
    QByteArray bytes;
    QString error;
    [[nodiscard]] bool ok() const { return error.isEmpty(); }
};

// Reads and writes maps in every format, with the bounds an outside file is held to.
class MMapConverter
{
public:
    [[nodiscard]] static OutlineRead read(MapFormat format, const QByteArray &bytes);
    [[nodiscard]] static QByteArray write(MapFormat format, const MapTopic &root,
                                          const QJsonObject &mapFields = {});
    // The file in one format as the other. Several top-level topics go under a root named
    // after the file's title, else rootText.
    [[nodiscard]] static MapConversion convert(MapFormat from, MapFormat to,
                                               const QByteArray &bytes, const QString &rootText);
    // Text pasted from elsewhere (a Markdown list or headings, else an indented outline) as
    // a map JSON whose root holds the pasted topics.
    [[nodiscard]] static MapConversion pastedTopics(const QString &text);
};

} // namespace Cogitra
