#pragma once

#include <QString>

#include <cstdint>

// Marker search over texts. Positions and lengths count UTF-16 code units, the unit of
// QString. An empty needle never matches; TextBetween and TextSpanBetween give an empty
// marker its own meaning (the start or the end of the text).
namespace Cogitra {

[[nodiscard]] QString TextBetween(const QString &text, const QString &startMarker,
                                  const QString &endMarker);

// Walks a document: pass the previous outEnd as the next from. Both markers are part of
// the result. On a failed search the out positions keep what was set before the search.
[[nodiscard]] QString TextSpanBetween(const QString &text, const QString &startMarker,
                                      const QString &endMarker, int64_t from, int64_t &outStart,
                                      int64_t &outEnd);

[[nodiscard]] int64_t IndexOf(const QString &text, const QString &needle);
[[nodiscard]] int64_t IndexOfFrom(const QString &text, const QString &needle, int64_t from);
[[nodiscard]] int64_t LastIndexOf(const QString &text, const QString &needle);
[[nodiscard]] bool Contains(const QString &text, const QString &needle);
[[nodiscard]] bool EqualsIgnoreCase(const QString &a, const QString &b);

struct MNameValue
{
    QString name;
    QString value;
};

} // namespace Cogitra
