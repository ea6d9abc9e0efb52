#pragma once

#include <QtGlobal>

// The largest inputs Cogitra accepts from outside. Each is far above what a real page, map or
// reply holds and low enough that the copies one open or save makes (bytes, UTF-16 text, the
// editor's script literal, base64) stay within a few hundred megabytes. docs/limits.md gives
// the reasons and what happens past each limit.
namespace Cogitra {

inline constexpr qint64 kMiB = 1024 * 1024;

// A map's JSON in UTF-8. The editor's maps of 5000 nodes are about 1 MiB.
inline constexpr qint64 kMaxMapBytes = 32 * kMiB;

// A container file (template, 255-byte name field, map); also the largest download of one.
inline constexpr qint64 kMaxContainerBytes = kMaxMapBytes + 64 * 1024;

// A page's HTML as the content request returns it. Images travel by URL, so even a page of
// many images is well under a megabyte.
inline constexpr qint64 kMaxPageHtmlBytes = 32 * kMiB;

// One JSON reply of the Graph service (notebook tree, one page list) or the identity platform.
inline constexpr qint64 kMaxGraphReplyBytes = 16 * kMiB;

// Nesting of objects and arrays in a Graph reply, and of section groups in the notebook tree.
inline constexpr int kMaxJsonDepth = 64;

// Clipboard text read as a page link, in UTF-16 code units. A link is a few hundred.
inline constexpr qsizetype kMaxLinkLength = 64 * 1024;

// The configuration file.
inline constexpr qint64 kMaxConfigBytes = 16 * kMiB;

} // namespace Cogitra
