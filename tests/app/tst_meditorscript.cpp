#include "app/MEditorScript.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QStringList>

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

using Cogitra::EscapeForJsString;

struct EscapeCase
{
    std::string name;
    QString input;
    QString expected; // the literal's value: trimmed, without line feeds or carriage returns
};

std::vector<EscapeCase> Corpus()
{
    const QString cjk = QString::fromUtf8("\xE4\xB8\xAD\xE5\xBF\x83\xE4\xB8\xBB\xE9\xA2\x98");
    const QString emoji = QString::fromUtf8("\xF0\x9F\x98\x80\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F"
                                            "\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7");
    // Quotes, backslashes (one ending the text), JSON escapes written out, the tildes an
    // older escape used as its marker, separators that end a line in older engines.
    const QString hostile
        = QStringLiteral(R"(it's 'q' '' \' \\ \\\ \" `b` ~~~~~~ ~~~~~~~~~~~~ )")
          + QStringLiteral(R"(\n \r \b \f \& \t \u0022 \/ </script><!-- ')+x+(' )") + cjk + emoji
          + QChar(0x2028) + QChar(0x2029) + QChar(0x85) + QStringLiteral("a\tb\x01\x1f\x7f\x0b\x0c")
          + QChar(0) + QChar(0xD800) + u'x' + QChar(0xDC00) + u'\\';
    const QString spaces = QString(QChar(0x00A0)) + QChar(0x3000);
    QString megabyte;
    while (megabyte.size() < (1 << 20))
        megabyte += hostile + QStringLiteral("\r\n\t");
    return {
        {"Empty", QString(), QString()},
        {"Hostile", hostile, hostile},
        {"OuterBlanks", QStringLiteral(" \t ") + spaces + u"abc" + spaces + u" \t ",
         QStringLiteral("abc")},
        {"LineBreaksRemoved", QStringLiteral("a\nb\r\nc\rd"), QStringLiteral("abcd")},
        // Trimming comes first and stops at a line break; the break itself then goes.
        {"BreakStopsTrim", QStringLiteral("\n  abc  \r"), QStringLiteral("  abc  ")},
        {"PrettyPrinted", QStringLiteral("  {\r\n  \"a\": 1\n}  \n"),
         QStringLiteral("{  \"a\": 1}  ")},
        // Broken across lines as a pretty printer would; ends in a tab, which the trim takes.
        {"Megabyte", megabyte, megabyte.chopped(1).remove(QStringLiteral("\r\n"))},
    };
}

// Node is the oracle: what SetJsonData('<escaped>') receives for each case, or the error.
QJsonArray RunInNode(const std::vector<EscapeCase> &cases)
{
    QByteArray scripts;
    for (const EscapeCase &c : cases)
        scripts += QString(u"SetJsonData('" + EscapeForJsString(c.input) + u"')\n").toUtf8();
    const QString program = QStringLiteral(R"JS(
const vm = require('vm');
const lines = require('fs').readFileSync(0, 'utf8').split('\n');
lines.pop();
process.stdout.write(JSON.stringify(lines.map((line) => {
  let value = null;
  try { vm.runInNewContext(line, { SetJsonData: (text) => { value = text; } }); }
  catch (e) { value = '<error> ' + e; }
  return value;
})));
)JS");
    QProcess node;
    node.start(QStringLiteral(COGITRA_NODE_EXECUTABLE), {QStringLiteral("-e"), program});
    node.write(scripts);
    node.closeWriteChannel();
    if (!node.waitForFinished(120000) || node.exitCode() != 0)
        return {};
    return QJsonDocument::fromJson(node.readAllStandardOutput()).array();
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
        const auto at
            = std::mismatch(got.begin(), got.end(), want.begin(), want.end()).first - got.begin();
        const QString escaped = EscapeForJsString(corpus[i].input);
        for (const char16_t terminator : {u'\n', u'\r', u'\u2028', u'\u2029'})
            EXPECT_FALSE(escaped.contains(QChar(terminator))) << "a raw line terminator";
        EXPECT_TRUE(got == want) << "sizes " << got.size() << " / " << want.size()
                                 << ", first difference at " << at << ": "
                                 << got.mid(std::max<qsizetype>(0, at - 20), 60).toStdString();
    }
}

} // namespace
