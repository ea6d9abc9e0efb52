#include "service/HtmlFragment.h"

#include <QStringList>

namespace Cogitra::Service {
namespace {

bool IsNameChar(QChar c)
{
    return c.isLetterOrNumber() || c == u'-' || c == u':' || c == u'_' || c == u'.';
}

bool IsBlank(QChar c)
{
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r' || c == u'\f';
}

// Reads a tag from position pos ("<" there). Returns false when it is no tag.
bool ReadTag(const QString &html, qsizetype pos, HtmlToken &token)
{
    const qsizetype size = html.size();
    qsizetype i = pos + 1;
    if (i >= size)
        return false;
    if (html[i] == u'!') {
        const bool comment = html.mid(i, 3) == QStringLiteral("!--");
        const qsizetype close
            = comment ? html.indexOf(QStringLiteral("-->"), i + 3) : html.indexOf(u'>', i);
        if (close < 0)
            return false;
        token.kind = HtmlToken::Kind::Comment;
        token.begin = pos;
        token.end = close + (comment ? 3 : 1);
        return true;
    }
    const bool endTag = html[i] == u'/';
    if (endTag)
        ++i;
    if (i >= size || !html[i].isLetter())
        return false;
    const qsizetype nameStart = i;
    while (i < size && IsNameChar(html[i]))
        ++i;
    token.name = html.mid(nameStart, i - nameStart).toLower();
    token.kind = endTag ? HtmlToken::Kind::End : HtmlToken::Kind::Start;
    while (i < size) {
        while (i < size && IsBlank(html[i]))
            ++i;
        if (i >= size)
            return false;
        if (html[i] == u'>') {
            token.begin = pos;
            token.end = i + 1;
            return true;
        }
        if (html[i] == u'/' && i + 1 < size && html[i + 1] == u'>') {
            token.selfClosing = true;
            token.begin = pos;
            token.end = i + 2;
            return true;
        }
        if (html[i] == u'/') {
            ++i;
            continue;
        }
        const qsizetype attrStart = i;
        while (i < size && !IsBlank(html[i]) && html[i] != u'=' && html[i] != u'>'
               && html[i] != u'/')
            ++i;
        HtmlAttribute attribute;
        attribute.name = html.mid(attrStart, i - attrStart).toLower();
        if (attribute.name.isEmpty()) {
            ++i;
            continue;
        }
        while (i < size && IsBlank(html[i]))
            ++i;
        if (i < size && html[i] == u'=') {
            ++i;
            while (i < size && IsBlank(html[i]))
                ++i;
            if (i < size && (html[i] == u'"' || html[i] == u'\'')) {
                const QChar quote = html[i];
                const qsizetype close = html.indexOf(quote, i + 1);
                if (close < 0)
                    return false;
                attribute.value = DecodeHtmlEntities(html.mid(i + 1, close - i - 1));
                i = close + 1;
            } else {
                const qsizetype valueStart = i;
                while (i < size && !IsBlank(html[i]) && html[i] != u'>')
                    ++i;
                attribute.value = DecodeHtmlEntities(html.mid(valueStart, i - valueStart));
            }
        }
        if (!endTag)
            token.attributes.push_back(std::move(attribute));
    }
    return false;
}

} // namespace

QString HtmlToken::attribute(const QString &attributeName) const
{
    for (const HtmlAttribute &a : attributes) {
        if (a.name == attributeName)
            return a.value;
    }
    return QString();
}

bool HtmlToken::hasAttribute(const QString &attributeName) const
{
    for (const HtmlAttribute &a : attributes) {
        if (a.name == attributeName)
            return true;
    }
    return false;
}

std::vector<HtmlToken> TokenizeHtml(const QString &html, size_t maxTokens)
{
    std::vector<HtmlToken> tokens;
    qsizetype pos = 0;
    qsizetype textStart = 0;
    const qsizetype size = html.size();
    auto flushText = [&](qsizetype upTo) {
        if (upTo > textStart) {
            HtmlToken text;
            text.begin = textStart;
            text.end = upTo;
            tokens.push_back(std::move(text));
        }
    };
    while (pos < size) {
        if (tokens.size() + 2 >= maxTokens)
            break;
        const qsizetype open = html.indexOf(u'<', pos);
        if (open < 0)
            break;
        HtmlToken tag;
        if (!ReadTag(html, open, tag)) {
            pos = open + 1;
            continue;
        }
        flushText(open);
        pos = tag.end;
        textStart = pos;
        tokens.push_back(std::move(tag));
    }
    flushText(size);
    return tokens;
}

bool IsVoidElement(const QString &name)
{
    static const QStringList kVoid
        = {QStringLiteral("area"), QStringLiteral("base"),   QStringLiteral("br"),
           QStringLiteral("col"),  QStringLiteral("embed"),  QStringLiteral("hr"),
           QStringLiteral("img"),  QStringLiteral("input"),  QStringLiteral("link"),
           QStringLiteral("meta"), QStringLiteral("source"), QStringLiteral("track"),
           QStringLiteral("wbr")};
    return kVoid.contains(name);
}

std::optional<ElementSpan> FindElement(const QString &html,
                                       const std::function<bool(const HtmlToken &)> &test)
{
    const std::vector<HtmlToken> tokens = TokenizeHtml(html);
    for (size_t i = 0; i < tokens.size(); ++i) {
        const HtmlToken &start = tokens[i];
        if (start.kind != HtmlToken::Kind::Start || !test(start))
            continue;
        ElementSpan span{start.begin, start.end, start.end, start.end};
        if (start.selfClosing || IsVoidElement(start.name))
            return span;
        int depth = 0;
        for (size_t j = i + 1; j < tokens.size(); ++j) {
            const HtmlToken &t = tokens[j];
            if (t.name != start.name)
                continue;
            if (t.kind == HtmlToken::Kind::Start && !t.selfClosing) {
                ++depth;
            } else if (t.kind == HtmlToken::Kind::End) {
                if (depth == 0) {
                    span.innerEnd = t.begin;
                    span.end = t.end;
                    return span;
                }
                --depth;
            }
        }
        // An element left open runs to the end of the text.
        span.innerEnd = html.size();
        span.end = html.size();
        return span;
    }
    return std::nullopt;
}

QString EscapeHtmlText(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        if (c == u'&')
            out += QStringLiteral("&amp;");
        else if (c == u'<')
            out += QStringLiteral("&lt;");
        else if (c == u'>')
            out += QStringLiteral("&gt;");
        else
            out += c;
    }
    return out;
}

QString EscapeHtmlAttribute(const QString &text)
{
    QString out = EscapeHtmlText(text);
    out.replace(u'"', QStringLiteral("&quot;"));
    return out;
}

QString DecodeHtmlEntities(const QString &text)
{
    if (!text.contains(u'&'))
        return text;
    QString out;
    out.reserve(text.size());
    qsizetype i = 0;
    while (i < text.size()) {
        if (text[i] != u'&') {
            out += text[i++];
            continue;
        }
        const qsizetype semi = text.indexOf(u';', i);
        if (semi < 0 || semi - i > 10) {
            out += text[i++];
            continue;
        }
        const QString name = text.mid(i + 1, semi - i - 1);
        QString decoded;
        if (name == QStringLiteral("amp"))
            decoded = QStringLiteral("&");
        else if (name == QStringLiteral("lt"))
            decoded = QStringLiteral("<");
        else if (name == QStringLiteral("gt"))
            decoded = QStringLiteral(">");
        else if (name == QStringLiteral("quot"))
            decoded = QStringLiteral("\"");
        else if (name == QStringLiteral("apos"))
            decoded = QStringLiteral("'");
        else if (name == QStringLiteral("nbsp"))
            decoded = QString(QChar(0xA0));
        else if (name.startsWith(u'#')) {
            bool ok = false;
            const uint code
                = name.startsWith(QStringLiteral("#x")) || name.startsWith(QStringLiteral("#X"))
                      ? name.mid(2).toUInt(&ok, 16)
                      : name.mid(1).toUInt(&ok, 10);
            if (ok && code > 0 && code <= 0x10FFFF) {
                const char32_t c32 = code;
                decoded = QString::fromUcs4(&c32, 1);
            }
        }
        if (decoded.isEmpty()) {
            out += text[i++];
            continue;
        }
        out += decoded;
        i = semi + 1;
    }
    return out;
}

} // namespace Cogitra::Service
