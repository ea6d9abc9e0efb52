#include "CliRunner.h"
#include "attachment/TZetGifAttachment.h"
#include "cli/CliVerbs.h"
#include "util/MGlobals.h"
#include "util/MLimits.h"

#include <QBuffer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace Cogitra;
using Cogitra::Testing::CliRun;
using Cogitra::Testing::RunVerbs;

void PrintTo(const QString &text, std::ostream *os)
{
    *os << '"' << text.toStdString() << '"';
}

namespace {

CliRun Cli(const QStringList &arguments)
{
    return RunVerbs(ToolVerbs(), arguments);
}

void ExpectOneLineError(const CliRun &run)
{
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(run.out.isEmpty());
    EXPECT_TRUE(run.err.startsWith("cogitra-cli: ")) << run.err.toStdString();
    EXPECT_EQ(run.err.count('\n'), 1) << run.err.toStdString();
    EXPECT_TRUE(run.err.endsWith('\n'));
}

QByteArray ReadBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

class CliFiles : public testing::Test
{
protected:
    QString path(const QString &name) const { return m_Dir.filePath(name); }
    QTemporaryDir m_Dir;
};

const QByteArray kMap
    = QString::fromUtf8("{\"root\":{\"data\":{\"text\":\"导图 – Ünïcødé 😀\"},\"children\":[]},"
                        "\"template\":\"default\"}")
          .toUtf8();

} // namespace

TEST_F(CliFiles, PackWritesWhatTheApplicationUploadsAndExtractGivesTheJsonBack)
{
    Testing::WriteFile(m_Dir, "map.json", kMap);
    const CliRun pack
        = Cli({"container", "pack", "--json", path("map.json"), "--out", path("map.gif")});
    ASSERT_EQ(pack.status, 0) << pack.err.toStdString();
    EXPECT_TRUE(pack.err.isEmpty());
    const QJsonObject report = QJsonDocument::fromJson(pack.out).object();
    EXPECT_EQ(report.value("out").toString(), path("map.gif"));
    EXPECT_EQ(report.value("bytes").toInteger(), ReadBytes(path("map.gif")).size());

    const CliRun extract = Cli({"container", "extract", path("map.gif")});
    ASSERT_EQ(extract.status, 0) << extract.err.toStdString();
    EXPECT_EQ(extract.out, kMap) << "nothing added, not even a line feed";

    // The very bytes the application uploads for the map.
    g_AppDataDir.set(m_Dir.path());
    const QString base64 = TZetGifAttachment::Package(QString::fromUtf8(kMap));
    g_AppDataDir.set(QString());
    EXPECT_EQ(ReadBytes(path("map.gif")), QByteArray::fromBase64(base64.toLatin1()));
}

TEST_F(CliFiles, PackAndExtractErrors)
{
    Testing::WriteFile(m_Dir, "map.json", kMap);
    Testing::WriteFile(m_Dir, "latin1.json", "{\"a\":\"\xE9\"}");
    Testing::WriteFile(m_Dir, "overlong.json", "{\"a\":\"\xC0\xAF\"}");
    Testing::WriteFile(m_Dir, "short.gif", "GIF89a");
    const QString out = path("out.gif");
    for (const QStringList &arguments :
         {QStringList{"container", "pack"},
          QStringList{"container", "pack", "--json", path("map.json")},
          QStringList{"container", "pack", "--json", path("map.json"), "--out"},
          QStringList{"container", "pack", "--json", path("map.json"), "--out", out, "--x", "y"},
          QStringList{"container", "pack", "--json", path("a"), "--json", path("b"), "--out", out},
          QStringList{"container", "pack", "--json", path("missing.json"), "--out", out},
          QStringList{"container", "pack", "--json", path("latin1.json"), "--out", out},
          QStringList{"container", "pack", "--json", path("overlong.json"), "--out", out},
          QStringList{"container", "pack", "--json", path("map.json"), "--out",
                      path("no/dir/x.gif")},
          QStringList{"container", "extract"}, QStringList{"container", "extract", "a", "b"},
          QStringList{"container", "extract", path("missing.gif")},
          QStringList{"container", "extract", m_Dir.path()},
          QStringList{"container", "extract", path("short.gif")},
          QStringList{"container", "extract", path("map.json")}}) {
        SCOPED_TRACE(arguments.join(' ').toStdString());
        ExpectOneLineError(Cli(arguments));
    }
    EXPECT_FALSE(QFile::exists(out)) << "a failed pack writes nothing";
}

// A map the application could not pack, or a container it could not open, is refused by its
// size; a map at the limit packs into a container that extracts.
TEST_F(CliFiles, PackAndExtractKeepToTheMapLimit)
{
    Testing::WriteFile(m_Dir, "limit.json",
                       "{\"a\":\"" + QByteArray(kMaxMapBytes - 8, 'x') + "\"}");
    ASSERT_EQ(
        Cli({"container", "pack", "--json", path("limit.json"), "--out", path("limit.gif")}).status,
        0);
    const CliRun extract = Cli({"container", "extract", path("limit.gif")});
    EXPECT_EQ(extract.status, 0) << extract.err.toStdString();
    EXPECT_EQ(extract.out.size(), kMaxMapBytes);

    QFile over(path("over.json"));
    ASSERT_TRUE(over.open(QIODevice::WriteOnly));
    ASSERT_TRUE(over.resize(kMaxMapBytes + 1));
    over.close();
    const CliRun pack
        = Cli({"container", "pack", "--json", path("over.json"), "--out", path("over.gif")});
    ExpectOneLineError(pack);
    EXPECT_TRUE(pack.err.contains("larger than a map may be")) << pack.err.toStdString();
    EXPECT_FALSE(QFile::exists(path("over.gif")));

    QFile huge(path("huge.gif"));
    ASSERT_TRUE(huge.open(QIODevice::WriteOnly));
    ASSERT_TRUE(huge.resize(kMaxContainerBytes + 1));
    huge.close();
    const CliRun refused = Cli({"container", "extract", path("huge.gif")});
    ExpectOneLineError(refused);
    EXPECT_TRUE(refused.err.contains("larger than a map container")) << refused.err.toStdString();
}

TEST(CliLinkParse, PrintsTheFiveReadings)
{
    const CliRun run
        = Cli({"link", "parse",
               "Link: onenote:https://d.docs.live.net/0b7d4e2a9c315f68/Documenten/TEST/"
               "New%20Section%201.one#Salt%20%26%20%22Pepper%22&section-id={S}"
               "&page-id={C12E883F-0B36-4C51-96CF-D6852A271E59}&end "});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_EQ(run.out, "{\"accountId\":\"0b7d4e2a9c315f68\",\"notebook\":\"TEST\",\"pageClientId\":"
                       "\"C12E883F-0B36-4C51-96CF-D6852A271E59\",\"section\":\"New Section 1\","
                       "\"title\":\"Salt & \\\"Pepper\\\"\"}\n");
    EXPECT_TRUE(run.err.isEmpty());

    const CliRun notebook
        = Cli({"link", "parse", "onenote:https://d.docs.live.net/cid/Documents/Book"});
    ASSERT_EQ(notebook.status, 0);
    const QJsonObject readings = QJsonDocument::fromJson(notebook.out).object();
    EXPECT_EQ(readings.keys(),
              (QStringList{"accountId", "notebook", "pageClientId", "section", "title"}));
    EXPECT_EQ(readings.value("accountId").toString(), "cid");
    EXPECT_EQ(readings.value("title").toString(), "");
}

TEST(CliLinkParse, Errors)
{
    ExpectOneLineError(Cli({"link", "parse"}));
    ExpectOneLineError(Cli({"link", "parse", "a", "b"}));
    ExpectOneLineError(Cli({"link", "parse", "https://onedrive.live.com/redir.aspx?cid=1"}));
    ExpectOneLineError(Cli({"link", "parse", "onenote:#T&page-id={P}&end"}));
}

TEST(CliVerbTable, ChoosesByWordsAndReportsTheRest)
{
    ExpectOneLineError(Cli({}));
    ExpectOneLineError(Cli({"container"}));
    ExpectOneLineError(Cli({"container", "unpack", "x"}));
    ExpectOneLineError(Cli({"links", "parse", "x"}));
    ExpectOneLineError(Cli({"line\nbreak"}));

    const CliRun help = Cli({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_TRUE(help.out.contains("container pack --json FILE --out FILE.gif"));
    EXPECT_TRUE(help.out.contains("link parse LINK"));

    // A table with more verbs takes the longest match, so later verbs can share a word.
    std::vector<CliVerb> verbs = ToolVerbs();
    verbs.push_back({{"container"}, "ANY", "test verb", [](const QStringList &rest, CliIo &) {
                         return 40 + static_cast<int>(rest.size());
                     }});
    QBuffer out;
    QBuffer err;
    out.open(QIODevice::WriteOnly);
    err.open(QIODevice::WriteOnly);
    CliIo io{out, err};
    EXPECT_EQ(RunCli({"container", "a", "b"}, io, verbs), 42);
    EXPECT_EQ(RunCli({"container", "extract"}, io, verbs), 1) << "extract still wins";
}
