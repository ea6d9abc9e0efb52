#include "MEditorScript.h"

namespace Cogitra {

namespace {

// The horizontal blanks trimmed from both ends: tab and the space separators. Line breaks
// are not among them; they are removed afterwards wherever they stand.
bool IsHorizontalBlank(QChar c)
{
    return c == u'\t' || c.category() == QChar::Separator_Space;
}

QString TrimHorizontalBlanks(const QString &text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && IsHorizontalBlank(text.at(begin)))
        ++begin;
    while (end > begin && IsHorizontalBlank(text.at(end - 1)))
        --end;
    return text.mid(begin, end - begin);
}

void AppendHexEscape(QString &out, char16_t unit, int digits)
{
    out += digits == 2 ? u"\\x" : u"\\u";
    out += QString::number(unit, 16).rightJustified(digits, u'0');
}

} // namespace

QString EscapeForJsString(const QString &json)
{
    QString text = TrimHorizontalBlanks(json);
    text.remove(u'\n');
    text.remove(u'\r');

    QString out;
    out.reserve(text.size() + text.size() / 8 + 16);
    const qsizetype size = text.size();
    for (qsizetype i = 0; i < size; ++i) {
        const char16_t unit = text.at(i).unicode();
        if (unit == u'\\') {
            out += u"\\\\";
        } else if (unit == u'\'') {
            out += u"\\'";
        } else if (unit == 0x2028 || unit == 0x2029) {
            // Line terminators inside a string literal end it in older engines.
            AppendHexEscape(out, unit, 4);
        } else if (unit < 0x20) {
            AppendHexEscape(out, unit, 2);
        } else if (QChar::isHighSurrogate(unit) && i + 1 < size
                   && QChar::isLowSurrogate(text.at(i + 1).unicode())) {
            out += text.at(i);
            out += text.at(++i);
        } else if (QChar::isSurrogate(unit)) {
            // A lone surrogate would not survive the trip to the page as UTF-8; written as an
            // escape it reaches the literal unchanged.
            AppendHexEscape(out, unit, 4);
        } else {
            out += text.at(i);
        }
    }
    return out;
}

} // namespace Cogitra
