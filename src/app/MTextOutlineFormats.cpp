#include "MTextOutlineFormats.h"

#include <QRegularExpression>

namespace Cogitra {

namespace {

// "# Text", up to six marks, with an optional closing run of marks; level 0 when the line
// is no heading. By hand: a pattern with a lazy middle backtracks badly on long lines.
int HeadingLevel(const QString &line, QString *text = nullptr)
{
    qsizetype at = 0;
    while (at < line.size() && at < 3 && line.at(at) == u' ')
        ++at;
    qsizetype level = 0;
    while (at + level < line.size() && line.at(at + level) == u'#')
        ++level;
    const qsizetype rest = at + level;
    if (level < 1 || level > 6
        || (rest < line.size() && line.at(rest) != u' ' && line.at(rest) != u'\t'))
        return 0;
    if (text) {
        QString body = line.mid(rest).trimmed();
        qsizetype end = body.size();
        while (end > 0 && body.at(end - 1) == u'#')
            --end;
        if (end == 0 || body.at(end - 1) == u' ' || body.at(end - 1) == u'\t')
            body = body.left(end).trimmed();
        *text = body;
    }
    return int(level);
}

const QRegularExpression &ListLine()
{
    static const QRegularExpression re(
        QStringLiteral("^([ \\t]*)(?:[-*+]|\\d{1,9}[.)])[ \\t]+(.*)$"));
    return re;
}

// A tab counts to the next multiple of four columns.
int IndentColumns(QStringView line)
{
    int columns = 0;
    for (const QChar c : line) {
        if (c == u' ')
            ++columns;
        else if (c == u'\t')
            columns = (columns / 4 + 1) * 4;
        else
            break;
    }
    return columns;
}

// Nesting by indentation: the depth of a line among the open lines above it.
class IndentLevels
{
public:
    int depthOf(int columns)
    {
        while (!m_Columns.empty() && m_Columns.back() >= columns)
            m_Columns.pop_back();
        m_Columns.push_back(columns);
        return int(m_Columns.size()) - 1;
    }
    void reset() { m_Columns.clear(); }

private:
    std::vector<int> m_Columns;
};

QStringList Lines(const QString &text)
{
    QString unified = text;
    unified.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(u'\r', u'\n');
    return unified.split(u'\n');
}

// One line of a topic's text: its own line breaks would start new topics.
QString OneLine(const QString &text)
{
    return text.simplified();
}

MapTopic TopicFromMarkdown(const QString &text)
{
    static const QRegularExpression linkOnly(QStringLiteral("^\\[([^\\]]*)\\]\\(([^)\\s]+)\\)$"));
    MapTopic topic;
    const QRegularExpressionMatch match = linkOnly.match(text);
    if (match.hasMatch()) {
        topic.text = match.captured(1);
        topic.link = match.captured(2);
    } else {
        topic.text = text;
    }
    return topic;
}

QString MarkdownText(const MapTopic &topic)
{
    const QString text = OneLine(topic.text);
    return topic.link.isEmpty() ? text : QStringLiteral("[%1](%2)").arg(text, topic.link);
}

void WriteMarkdown(const MapTopic &topic, int depth, QString &out)
{
    const QString indent(std::max(0, depth - 2) * 2, u' ');
    if (depth < 2) {
        // A heading after a list stands apart from it.
        if (!out.isEmpty() && !out.endsWith(QStringLiteral("\n\n")))
            out += u'\n';
        out += QString(depth + 1, u'#') + u' ' + MarkdownText(topic) + u'\n';
    } else {
        out += indent + QStringLiteral("- ") + MarkdownText(topic) + u'\n';
    }
    if (!topic.note.isEmpty()) {
        const QString noteIndent = depth < 2 ? QString() : indent + QStringLiteral("  ");
        if (depth < 2)
            out += u'\n';
        for (const QString &line : Lines(topic.note)) {
            if (!line.isEmpty())
                out += noteIndent + line;
            out += u'\n';
        }
    }
    if (depth < 2)
        out += u'\n';
    for (const MapTopic &child : topic.children)
        WriteMarkdown(child, depth + 1, out);
}

void WriteIndented(const MapTopic &topic, int depth, QString &out)
{
    out += QString(depth, u'\t') + OneLine(topic.text) + u'\n';
    for (const MapTopic &child : topic.children)
        WriteIndented(child, depth + 1, out);
}

void AddNoteLine(MapTopic &topic, const QString &line, bool afterBlank)
{
    if (!topic.note.isEmpty())
        topic.note += afterBlank ? QStringLiteral("\n\n") : QStringLiteral("\n");
    topic.note += line;
}

} // namespace

OutlineRead MMarkdownFormat::read(const QString &text)
{
    OutlineRead result;
    MOutlineBuilder builder(result.outline);
    IndentLevels lists;
    int headingDepth = -1; // the depth of the last heading's topic
    bool inFence = false;
    bool blank = false;
    for (const QString &line : Lines(text)) {
        const bool fence = line.trimmed().startsWith(QStringLiteral("```"));
        if (fence)
            inFence = !inFence;
        QRegularExpressionMatch match;
        QString heading;
        if (!inFence && !fence && HeadingLevel(line, &heading)) {
            lists.reset();
            if (!builder.add(HeadingLevel(line) - 1, TopicFromMarkdown(heading)))
                return {{}, builder.error()};
            headingDepth = builder.lastDepth();
        } else if (!inFence && !fence && (match = ListLine().match(line)).hasMatch()) {
            const int depth = headingDepth + 1 + lists.depthOf(IndentColumns(line));
            if (!builder.add(depth, TopicFromMarkdown(match.captured(2).trimmed())))
                return {{}, builder.error()};
        } else if (line.trimmed().isEmpty() && !inFence) {
            blank = true;
            continue;
        } else if (MapTopic *topic = builder.last()) {
            AddNoteLine(*topic, inFence ? line : line.trimmed(), blank);
        } else {
            // Text before the first topic: the first topic made from it.
            if (!builder.add(0, TopicFromMarkdown(line.trimmed())))
                return {{}, builder.error()};
            headingDepth = 0;
        }
        blank = false;
    }
    if (result.outline.topics.empty())
        return {{}, QStringLiteral("no topics: the text is empty")};
    return result;
}

QByteArray MMarkdownFormat::write(const MapTopic &root)
{
    QString out;
    WriteMarkdown(root, 0, out);
    while (out.endsWith(QStringLiteral("\n\n")))
        out.chop(1);
    return out.toUtf8();
}

bool MMarkdownFormat::looksLikeMarkdown(const QString &text)
{
    const QStringList lines = Lines(text);
    return std::any_of(lines.cbegin(), lines.cend(), [](const QString &line) {
        return HeadingLevel(line) > 0 || ListLine().match(line).hasMatch();
    });
}

OutlineRead MIndentedTextFormat::read(const QString &text)
{
    OutlineRead result;
    MOutlineBuilder builder(result.outline);
    IndentLevels levels;
    for (const QString &line : Lines(text)) {
        if (line.trimmed().isEmpty())
            continue;
        MapTopic topic;
        topic.text = line.trimmed();
        if (!builder.add(levels.depthOf(IndentColumns(line)), std::move(topic)))
            return {{}, builder.error()};
    }
    if (result.outline.topics.empty())
        return {{}, QStringLiteral("no topics: the text is empty")};
    return result;
}

QByteArray MIndentedTextFormat::write(const MapTopic &root)
{
    QString out;
    WriteIndented(root, 0, out);
    return out.toUtf8();
}

} // namespace Cogitra
