#pragma once

#include <QString>

#include <functional>
#include <optional>
#include <vector>

// A small, bounded HTML tokenizer: enough to find an element by an attribute, to take a
// fragment apart and to write it back in the notebook service's own form.
namespace Cogitra::Service {

struct HtmlAttribute
{
    QString name;  // lower case
    QString value; // entities decoded
};

struct HtmlToken
{
    enum class Kind { Text, Start, End, Comment };
    Kind kind = Kind::Text;
    QString name; // lower case; empty for text and comments
    std::vector<HtmlAttribute> attributes;
    bool selfClosing = false;
    qsizetype begin = 0; // [begin, end) in the source text
    qsizetype end = 0;

    [[nodiscard]] QString attribute(const QString &attributeName) const;
    [[nodiscard]] bool hasAttribute(const QString &attributeName) const;
};

// At most maxTokens tokens; the rest of a longer text is given as one text token.
[[nodiscard]] std::vector<HtmlToken> TokenizeHtml(const QString &html, size_t maxTokens = 200000);

[[nodiscard]] bool IsVoidElement(const QString &name);

struct ElementSpan
{
    qsizetype begin = 0;      // the start tag's "<"
    qsizetype innerBegin = 0; // after the start tag
    qsizetype innerEnd = 0;   // the end tag's "<" (innerBegin for void elements)
    qsizetype end = 0;        // after the end tag
};

// The first element whose start tag satisfies the test, with its extent.
[[nodiscard]] std::optional<ElementSpan>
FindElement(const QString &html, const std::function<bool(const HtmlToken &)> &test);

[[nodiscard]] QString EscapeHtmlText(const QString &text);
[[nodiscard]] QString EscapeHtmlAttribute(const QString &text);
[[nodiscard]] QString DecodeHtmlEntities(const QString &text);

} // namespace Cogitra::Service
