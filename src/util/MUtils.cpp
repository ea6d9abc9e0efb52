#include "MUtils.h"

namespace Cogitra {

int64_t IndexOf(const QString &text, const QString &needle)
{
    if (needle.isEmpty())
        return -1;
    return text.indexOf(needle);
}

int64_t IndexOfFrom(const QString &text, const QString &needle, int64_t from)
{
    // A position past the end is the caller's fault; answering "absent" keeps a walk
    // over hostile input from reading outside the text.
    if (needle.isEmpty() || from < 0 || from >= text.size())
        return -1;
    return text.indexOf(needle, static_cast<qsizetype>(from));
}

int64_t LastIndexOf(const QString &text, const QString &needle)
{
    if (needle.isEmpty())
        return -1;
    return text.lastIndexOf(needle);
}

bool Contains(const QString &text, const QString &needle)
{
    return IndexOf(text, needle) >= 0;
}

bool EqualsIgnoreCase(const QString &a, const QString &b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

QString TextBetween(const QString &text, const QString &startMarker, const QString &endMarker)
{
    QString rest = text;
    if (!startMarker.isEmpty()) {
        const qsizetype p = text.indexOf(startMarker);
        if (p < 0)
            return {};
        rest = text.mid(p + startMarker.size());
    }
    if (endMarker.isEmpty())
        return rest;
    const qsizetype q = rest.indexOf(endMarker);
    if (q < 0)
        return {};
    return rest.left(q);
}

QString TextSpanBetween(const QString &text, const QString &startMarker, const QString &endMarker,
                        int64_t from, int64_t &outStart, int64_t &outEnd)
{
    outStart = from;
    outEnd = text.size();
    if (!startMarker.isEmpty()) {
        const int64_t p = IndexOfFrom(text, startMarker, from);
        if (p < 0)
            return {};
        outStart = p;
    }
    if (outStart < 0 || outStart > text.size())
        return {};
    if (!endMarker.isEmpty()) {
        const int64_t q = IndexOfFrom(text, endMarker, outStart + startMarker.size());
        if (q < 0)
            return {};
        outEnd = q + endMarker.size();
        return text.mid(outStart, outEnd - outStart);
    }
    return text.mid(outStart);
}

} // namespace Cogitra
