#pragma once

#include "MMapOutline.h"

namespace Cogitra {

// OPML 2.0: <outline text="..."> elements in the body, notes in "_note", links in "url".
class MOpmlFormat
{
public:
    [[nodiscard]] static OutlineRead read(const QByteArray &bytes);
    [[nodiscard]] static QByteArray write(const MapTopic &root);
};

// FreeMind's .mm: nested <node TEXT="..." LINK="...">, a note as <richcontent TYPE="NOTE">
// holding HTML, a topic's rich text as <richcontent TYPE="NODE">.
class MFreeMindFormat
{
public:
    [[nodiscard]] static OutlineRead read(const QByteArray &bytes);
    [[nodiscard]] static QByteArray write(const MapTopic &root);
};

} // namespace Cogitra
