#pragma once

#include "MMapOutline.h"

namespace Cogitra {

// Markdown: headings and lists make topics, other lines the note of the topic above them,
// "[text](address)" a topic with a link. Written as a heading for the root and its
// children and nested lists below them.
class MMarkdownFormat
{
public:
    [[nodiscard]] static OutlineRead read(const QString &text);
    [[nodiscard]] static QByteArray write(const MapTopic &root);
    // Whether the text has a heading or a list item, as a pasted Markdown text does.
    [[nodiscard]] static bool looksLikeMarkdown(const QString &text);
};

// One topic a line, nested by indentation (tabs or spaces); written with a tab a level.
class MIndentedTextFormat
{
public:
    [[nodiscard]] static OutlineRead read(const QString &text);
    [[nodiscard]] static QByteArray write(const MapTopic &root);
};

} // namespace Cogitra
