#include "../support/CliRunner.h"
#include "app/MMapConverter.h"
#include "cli/CliVerbs.h"

#include <QJsonDocument>

#include <gtest/gtest.h>

using namespace Cogitra;
using namespace Qt::StringLiterals;

// Maps in and out of every format, files made to hurt, and cogitra-cli convert.
namespace {

// A line a topic: indented text, "[note]", "<link>", "!priority", "%progress", other fields.
void DumpTopic(const MapTopic &topic, int depth, QString &out)
{
    out += QString(depth * 2, u' ') + topic.text;
    if (!topic.note.isEmpty())
        out += u" [%1]"_s.arg(QString(topic.note).replace(u'\n', u'|'));
    if (!topic.link.isEmpty())
        out += u" <%1>"_s.arg(topic.link);
    if (topic.priority)
        out += u" !%1"_s.arg(topic.priority);
    if (topic.progress)
        out += u" %%1"_s.arg(topic.progress);
    if (!topic.extra.isEmpty())
        out += u' ' + QString::fromUtf8(QJsonDocument(topic.extra).toJson(QJsonDocument::Compact));
    out += u'\n';
    for (const MapTopic &child : topic.children)
        DumpTopic(child, depth + 1, out);
}

QString Dump(const OutlineRead &read)
{
    if (!read.ok())
        return u"error: "_s + read.error;
    QString out
        = read.outline.title.isEmpty() ? QString() : u"title: %1\n"_s.arg(read.outline.title);
    for (const MapTopic &topic : read.outline.topics)
        DumpTopic(topic, 0, out);
    return out;
}

QByteArray Nested(int depth, const QByteArray &open, const QByteArray &close,
                  const QByteArray &leaf)
{
    return open.repeated(depth) + leaf + close.repeated(depth);
}

// A map in the editor's JSON, depth levels below its root.
QByteArray Deep(int depth)
{
    return "{\"root\":" + Nested(depth, "{\"children\":[", "]}", "{}") + "}";
}

struct ReadRow
{
    const char *name;
    MapFormat format;
    QByteArray input;
    QString expected; // the dump, "error: " and the start of the message, or empty: no error
};

const ReadRow kReadRows[] = {
    {"markdown headings, lists, notes and links", MapFormat::Markdown,
     "# Plan\n\nThe why,\nin two lines.\n\n## Goals ##\n\n- ship\n  * soon\n\n    after the test\n"
     "1. [docs](https://example.com/d)\n\n```\n# not a heading\n```\n## Risks\n",
     "Plan [The why,|in two lines.]\n  Goals\n    ship\n      soon [after the test]\n"
     "    docs [```|# not a heading|```] <https://example.com/d>\n  Risks\n"},
    {"a pasted list: several top topics, tabs and spaces", MapFormat::Markdown,
     "Intro line\n- a\n\t- b\n        - c\n  - d\n+ e\n",
     "Intro line\n  a\n    b\n      c\n    d\n  e\n"},
    {"indented text", MapFormat::Text,
     "\xEF\xBB\xBFRoot\r\n\tA\r\n\t\tA1\r\n\r\n    B\n  B0\n      B1\n",
     "Root\n  A\n    A1\n  B\n  B0\n    B1\n"},
    {"OPML with a title over two outlines", MapFormat::Opml,
     "<?xml version=\"1.0\"?><opml version=\"2.0\"><head><title>Reading</title></head><body>"
     "<outline text=\"Books\" _note=\"a&#10;b\"><outline title=\"By title\" "
     "url=\"https://x.test\"/>"
     "</outline><outline text=\"Papers\"/></body></opml>",
     "title: Reading\nBooks [a|b]\n  By title <https://x.test>\nPapers\n"},
    {"FreeMind with notes, rich text, icons and links", MapFormat::FreeMind,
     "<map version=\"1.0.1\"><node TEXT=\"Garden\"><node TEXT=\"Veg\"><icon BUILTIN=\"full-3\"/>"
     "<node TEXT=\"Beans\" LINK=\"https://b.test\"/><richcontent TYPE=\"NOTE\"><html><body>"
     "<p>after the</p><p></p><p>last   frost</p></body></html></richcontent></node>"
     "<node><richcontent TYPE=\"NODE\"><html><body><p>Herbs &amp; more</p></body></html>"
     "</richcontent></node></node></map>",
     "Garden\n  Veg [after the||last frost] !3\n    Beans <https://b.test>\n  Herbs & more\n"},
    {"the editor's JSON keeps every field", MapFormat::Json,
     "{\"root\":{\"data\":{\"id\":\"r\",\"text\":7,\"priority\":12},\"children\":[null,"
     "{\"data\":{\"id\":\"c\",\"text\":\"C\",\"note\":\"n\",\"progress\":4,\"expandState\":"
     "\"collapse\"}}]},"
     "\"template\":\"right\",\"theme\":\"snow\"}",
     "7 {\"id\":\"r\"}\n  C [n] %4 {\"expandState\":\"collapse\",\"id\":\"c\"}\n"},
    // Files made to hurt.
    {"Markdown nested too deeply", MapFormat::Markdown,
     [] {
         QByteArray text;
         for (int i = 0; i < 258; ++i)
             text += QByteArray(i, ' ') + "- x\n";
         return text;
     }(),
     "error: nested deeper than 256"},
    {"OPML nested too deeply", MapFormat::Opml,
     "<opml><body>" + Nested(258, "<outline text='x'>", "</outline>", "") + "</body></opml>",
     "error: nested deeper than 256"},
    {"larger than a map may be", MapFormat::Markdown, QByteArray(32 * 1024 * 1024 + 1, 'x'),
     "error: larger than a map may be"},
    {"not UTF-8", MapFormat::Markdown, "# caf\xE9\n", "error: not UTF-8 text"},
    {"entities of a document type", MapFormat::Opml,
     "<!DOCTYPE o [<!ENTITY a \"aaaa\"><!ENTITY b \"&a;&a;&a;\">]><opml><body><outline "
     "text=\"&b;\"/>"
     "</body></opml>",
     "error: the file declares a document type"},
    {"broken XML", MapFormat::FreeMind, "<map><node TEXT=\"a\"></map>",
     "error: not well-formed XML"},
    {"XML of another kind", MapFormat::FreeMind, "<opml><body/></opml>",
     "error: not a FreeMind map"},
    // The editor opens a map with its root and 256 levels below it, of 100000 topics at most.
    {"as deep as the editor goes", MapFormat::Json, Deep(256), ""},
    {"a level deeper", MapFormat::Json, Deep(257), "error: nested deeper than 256"},
    {"as many topics as the editor holds", MapFormat::Text, QByteArray("x\n").repeated(100000), ""},
    {"a topic more", MapFormat::Text, QByteArray("x\n").repeated(100001),
     "error: more than 100000"},
    {"OPML without outlines", MapFormat::Opml, "<opml><body/></opml>", "error: no topics"},
    {"empty text", MapFormat::Markdown, "\n \n", "error: no topics"},
    {"JSON that is not a map", MapFormat::Json, "[1,2]", "error: not a map"},
    {"not JSON", MapFormat::Json, "{\"root\":", "error: not JSON"},
    // Long lines read in one pass, not by backtracking patterns.
    {"long lines", MapFormat::Markdown,
     "# " + QByteArray(4 * 1024 * 1024, ' ') + "#x\n" + QByteArray(4 * 1024 * 1024, ' ') + "-\n",
     "#x [-]\n"},
};

TEST(MapConverter, ReadsWhatTheFileHolds)
{
    for (const ReadRow &row : kReadRows) {
        SCOPED_TRACE(row.name);
        const QString dump = Dump(MMapConverter::read(row.format, row.input));
        if (row.expected.isEmpty() || row.expected.startsWith(u"error: "))
            EXPECT_TRUE(dump.startsWith(row.expected)
                        && dump.startsWith(u"error: ") != row.expected.isEmpty())
                << dump.toStdString();
        else
            EXPECT_EQ(dump, row.expected);
    }
}

MapTopic Topic(const char *text, std::vector<MapTopic> children = {})
{
    MapTopic topic;
    topic.text = QString::fromUtf8(text);
    topic.children = std::move(children);
    return topic;
}

TEST(MapConverter, RoundTripsKeepWhatEachFormatCarries)
{
    MapTopic root
        = Topic("Trip 旅行 😀",
                {Topic("Pack", {Topic("Tent"), Topic("<Stove & \"fuel\">")}), Topic("Route")});
    root.note = u"first line\n\nafter a blank"_s;
    root.children[0].link = u"https://example.com/a?b=1&c=2"_s;
    root.children[0].priority = 2;
    root.children[0].children[0].note = u"in the car"_s;
    root.children[1].progress = 5;
    root.children[1].extra = {{u"id"_s, u"route"_s}};

    const QString full = u"Trip 旅行 😀 [first line||after a blank]\n"
                         "  Pack <https://example.com/a?b=1&c=2> !2\n    Tent [in the car]\n"
                         "    <Stove & \"fuel\">\n  Route %5 {\"id\":\"route\"}\n"_s;
    const QString noMarks = QString(full).remove(u" %5 {\"id\":\"route\"}"_s);
    const QString plain = QString(noMarks).remove(u" !2"_s);
    const struct
    {
        MapFormat format;
        QString kept;       // the dump after a round trip
        QByteArray written; // the exact file, where people read it
    } rows[] = {
        // Topics that came without an id get one: the editor tells topics apart by them.
        {MapFormat::Json,
         QString(full)
             .replace(u"blank]"_s, u"blank] {\"id\":\"outline-1\"}"_s)
             .replace(
                 u"!2"_s,
                 u"!2 {\"hyperlinkTitle\":\"https://example.com/a?b=1&c=2\",\"id\":\"outline-2\"}"_s)
             .replace(u"car]"_s, u"car] {\"id\":\"outline-3\"}"_s)
             .replace(u"\">\n"_s, u"\"> {\"id\":\"outline-4\"}\n"_s),
         {}},
        {MapFormat::FreeMind, noMarks, {}},
        {MapFormat::Opml, u"title: Trip 旅行 😀\n"_s + plain, {}},
        {MapFormat::Markdown, plain,
         "# Trip 旅行 😀\n\nfirst line\n\nafter a blank\n\n## "
         "[Pack](https://example.com/a?b=1&c=2)\n\n"
         "- Tent\n  in the car\n- <Stove & \"fuel\">\n\n## Route\n"},
        {MapFormat::Text, u"Trip 旅行 😀\n  Pack\n    Tent\n    <Stove & \"fuel\">\n  Route\n"_s,
         "Trip 旅行 😀\n\tPack\n\t\tTent\n\t\t<Stove & \"fuel\">\n\tRoute\n"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(int(row.format));
        const QByteArray written = MMapConverter::write(row.format, root);
        EXPECT_TRUE(row.written.isEmpty() || written == row.written) << written.toStdString();
        const OutlineRead read = MMapConverter::read(row.format, written);
        EXPECT_EQ(Dump(read), row.kept);
        ASSERT_TRUE(read.ok());
        EXPECT_EQ(MMapConverter::write(row.format, OutlineAsTree(read.outline, {})), written);
    }
}

TEST(MapConverter, CliConvertsFilesAndStreams)
{
    QTemporaryDir dir;
    const QString in = Testing::WriteFile(dir, u"Plan.md"_s, "- a\n  - b\n- c\n");
    const QString out = dir.filePath(u"plan.opml"_s);
    Testing::CliRun run = Testing::RunVerbs(ToolVerbs(), {u"convert"_s, in, out});
    EXPECT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_EQ(Dump(MMapConverter::read(MapFormat::Opml, Testing::ReadBytes(out))),
              "title: Plan\nPlan\n  a\n    b\n  c\n")
        << "several topics go under a root named after the file";

    run = Testing::RunVerbs(ToolVerbs(), u"convert --to txt --from json"_s.split(u' '),
                            R"({"root":{"data":{"text":"R"},"children":[{"data":{"text":"x"}}]}})");
    EXPECT_EQ(run.out, "R\n\tx\n");

    for (const auto &[arguments, error] : {std::pair{"--from md", "--to is required"},
                                           {"--from doc --to md", "\"doc\" is no format"},
                                           {"--from md --to json", "input: no topics"}}) {
        run = Testing::RunVerbs(ToolVerbs(),
                                u"convert %1"_s.arg(QLatin1StringView(arguments)).split(u' '));
        EXPECT_EQ(run.status, 1);
        EXPECT_TRUE(run.err.contains(error)) << run.err.toStdString();
    }
}

} // namespace
