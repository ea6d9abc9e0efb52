#include "app/MEditorScript.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <vector>

namespace {

using Cogitra::EscapeForJsString;

struct EscapeCase
{
    std::string name;
    QString input;
    QString expected; // the literal's value: trimmed, without line feeds or carriage returns
};

QString Repeat(const QString &piece, qsizetype totalUnits)
{
    QString out;
    out.reserve(totalUnits + piece.size());
    while (out.size() < totalUnits)
        out += piece;
    return out;
}

std::vector<EscapeCase> Corpus()
{
    const QString emoji = QString::fromUtf8("\xF0\x9F\x98\x80\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F"
                                            "\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7");
    const QString cjk = QString::fromUtf8("\xE4\xB8\xAD\xE5\xBF\x83\xE4\xB8\xBB\xE9\xA2\x98");
    const QString lineSep = QString(QChar(0x2028));
    const QString paraSep = QString(QChar(0x2029));
    const QString nbsp = QString(QChar(0x00A0));
    const QString ideographicSpace = QString(QChar(0x3000));
    const QString map = QStringLiteral(
        R"({"root":{"data":{"id":"a1","text":"It's a \"map\"\twith \\ and \u0022"},)"
        R"("children":[]},"template":"default","theme":"fresh-blue","version":"1.4.43"})");
    const QString hostile = QStringLiteral(R"(\' ' \\ \" ~~~~~~ \n \r \b \f \& \t \u0022 \/ )")
                            + cjk + emoji + lineSep + paraSep + u'\t';

    std::vector<EscapeCase> cases = {
        {"Empty", QString(), QString()},
        {"Plain", QStringLiteral("abc"), QStringLiteral("abc")},
        {"Apostrophes", QStringLiteral("it's 'quoted' ''"), QStringLiteral("it's 'quoted' ''")},
        {"BackslashApostrophe", QStringLiteral(R"(a\'b)"), QStringLiteral(R"(a\'b)")},
        {"Backslashes", QStringLiteral(R"(\ \\ \\\ \\\\)"), QStringLiteral(R"(\ \\ \\\ \\\\)")},
        {"TrailingBackslash", QStringLiteral(R"(ends with \)"), QStringLiteral(R"(ends with \)")},
        {"JsonEscapes", QStringLiteral(R"(\n \r \t \b \f \/ \u0022 \")"),
         QStringLiteral(R"(\n \r \t \b \f \/ \u0022 \")")},
        {"SixTildes", QStringLiteral("~~~~~~ and ~~~~~~~~~~~~"),
         QStringLiteral("~~~~~~ and ~~~~~~~~~~~~")},
        {"Quotes", QStringLiteral(R"("double" and `back`)"),
         QStringLiteral(R"("double" and `back`)")},
        {"LineSeparators", u'a' + lineSep + u'b' + paraSep + u'c',
         u'a' + lineSep + u'b' + paraSep + u'c'},
        {"Emoji", emoji, emoji},
        {"Cjk", cjk + QStringLiteral(" ") + cjk, cjk + QStringLiteral(" ") + cjk},
        {"InnerTabs", QStringLiteral("a\tb\t\tc"), QStringLiteral("a\tb\t\tc")},
        {"OuterBlanks", QStringLiteral(" \t  abc \t "), QStringLiteral("abc")},
        {"OuterUnicodeSpaces", nbsp + ideographicSpace + u'x' + ideographicSpace + nbsp,
         QStringLiteral("x")},
        {"LineBreaksRemoved", QStringLiteral("a\nb\r\nc\rd"), QStringLiteral("abcd")},
        // Trimming comes first and stops at a line break; the break itself then goes.
        {"BreakStopsTrim", QStringLiteral("\n  abc  \r"), QStringLiteral("  abc  ")},
        {"BlanksAroundBreaks", QStringLiteral("  {\n  \"a\": 1\n}  \n"),
         QStringLiteral("{  \"a\": 1}  ")},
        {"ControlCharacters",
         QStringLiteral("a\x01"
                        "b\x1f"
                        "c\x7f"
                        "d\x0b"
                        "e\x0c"
                        "f"),
         QStringLiteral("a\x01"
                        "b\x1f"
                        "c\x7f"
                        "d\x0b"
                        "e\x0c"
                        "f")},
        {"Nul", QString(QChar(0)) + QStringLiteral("x"), QString(QChar(0)) + QStringLiteral("x")},
        {"ScriptClose", QStringLiteral("</script><!-- ')+alert(1)+('"),
         QStringLiteral("</script><!-- ')+alert(1)+('")},
        {"LoneSurrogates", QChar(0xD800) + QStringLiteral("x") + QChar(0xDC00),
         QChar(0xD800) + QStringLiteral("x") + QChar(0xDC00)},
        {"Map", map, map},
        // Ends in a tab, which the trim takes away.
        {"MegabyteHostile", Repeat(hostile, 1 << 20), Repeat(hostile, 1 << 20).chopped(1)},
    };

    // A megabyte map whose text is broken across lines as a pretty printer would.
    QString pretty
        = QStringLiteral("{\n  \"root\": {\"data\": {\"text\": \"r\"}, \"children\": [\n");
    QString flat = QStringLiteral("{  \"root\": {\"data\": {\"text\": \"r\"}, \"children\": [");
    for (int i = 0; pretty.size() < (1 << 20); ++i) {
        const QString node = QStringLiteral("{\"data\":{\"text\":\"n%1 it's \\\\ \\t \\u0022\"},"
                                            "\"children\":[]}")
                                 .arg(i);
        const QString separator = i == 0 ? QString() : QStringLiteral(",");
        pretty += separator + QStringLiteral("\r\n    ") + node;
        flat += separator + QStringLiteral("    ") + node;
    }
    pretty += QStringLiteral("\n]}}\n");
    flat += QStringLiteral("]}}");
    cases.push_back({"MegabyteMap", pretty, flat});
    return cases;
}

// Node is the oracle: every case becomes one line "SetJsonData('<escaped>')", one node
// process evaluates them all and writes back what SetJsonData received, or the error.
QJsonArray RunInNode(const std::vector<EscapeCase> &cases)
{
    QTemporaryDir dir;
    const QString scripts = dir.filePath(QStringLiteral("scripts.txt"));
    const QString results = dir.filePath(QStringLiteral("results.json"));
    QFile file(scripts);
    if (!dir.isValid() || !file.open(QIODevice::WriteOnly))
        return {};
    for (const EscapeCase &c : cases)
        file.write(QString(u"SetJsonData('" + EscapeForJsString(c.input) + u"')\n").toUtf8());
    file.close();

    const QString program = QStringLiteral(R"JS(
const fs = require('fs'), vm = require('vm');
const lines = fs.readFileSync(process.argv[1], 'utf8').split('\n');
lines.pop();
fs.writeFileSync(process.argv[2], JSON.stringify(lines.map((line) => {
  let value = null;
  try { vm.runInNewContext(line, { SetJsonData: (text) => { value = text; } }); }
  catch (e) { value = '<error> ' + e; }
  return value;
})));
)JS");
    QProcess node;
    node.start(QStringLiteral(COGITRA_NODE_EXECUTABLE),
               {QStringLiteral("-e"), program, scripts, results});
    QFile answer(results);
    if (!node.waitForFinished(120000) || node.exitCode() != 0 || !answer.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(answer.readAll()).array();
}

TEST(EscapeForJsString, LiteralValueIsTheTrimmedTextWithoutBreaks)
{
    const std::vector<EscapeCase> corpus = Corpus();
    const QJsonArray values = RunInNode(corpus);
    ASSERT_EQ(values.size(), qsizetype(corpus.size())) << "one result per script line";
    for (size_t i = 0; i < corpus.size(); ++i) {
        SCOPED_TRACE(corpus[i].name);
        const QString got = values.at(qsizetype(i)).toString();
        const QString &want = corpus[i].expected;
        qsizetype at = 0;
        while (at < got.size() && at < want.size() && got.at(at) == want.at(at))
            ++at;
        EXPECT_TRUE(got == want) << "sizes " << got.size() << " / " << want.size()
                                 << ", first difference at " << at << ": "
                                 << got.mid(std::max<qsizetype>(0, at - 20), 60).toStdString();
    }
}

TEST(EscapeForJsString, WritesEscapesInTheirShortForms)
{
    EXPECT_EQ(EscapeForJsString(QStringLiteral(R"(a'b\c)")), QStringLiteral(R"(a\'b\\c)"));
    EXPECT_EQ(EscapeForJsString(QStringLiteral("a\tb")), QStringLiteral(R"(a\x09b)"));
    EXPECT_EQ(EscapeForJsString(QString(QChar(0x2028))), QStringLiteral(R"(\u2028)"));
    EXPECT_EQ(EscapeForJsString(QStringLiteral("~~~~~~")), QStringLiteral("~~~~~~"));
}

TEST(EscapeForJsString, LeavesNoRawLineTerminators)
{
    const QString out = EscapeForJsString(QStringLiteral("a\nb\rc") + QChar(0x2028) + QChar(0x2029)
                                          + QChar(0x85) + u'd');
    for (const QChar c : out)
        EXPECT_FALSE(c == u'\n' || c == u'\r' || c.unicode() == 0x2028 || c.unicode() == 0x2029);
}

} // namespace
