#include "CliRunner.h"
#include "FakeOneNote.h"
#include "cli/SessionVerbs.h"
#include "util/MConfig.h"
#include "util/MGlobals.h"
#include "util/MLimits.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace Cogitra;
using namespace Cogitra::Testing;

// The verbs that need no notebook service, and the session verbs up to signing in.
namespace {

const QByteArray kMap
    = QString::fromUtf8("{\"root\":{\"data\":{\"text\":\"导图 – Ünïcødé 😀\"},\"children\":[]},"
                        "\"template\":\"default\"}")
          .toUtf8();
const QString kLink = QStringLiteral(
    "onenote:https://d.docs.live.net/4c1b2a0e9f8d7c6b/Documents/Work%20Notes/Meetings.one"
    "#Weekly%20sync&section-id={11111111-2222-3333-4444-555555555555}"
    "&page-id={66666666-7777-8888-9999-000000000000}&end");

class CliVerbs : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_Dir.isValid());
        ResetGlobalsForTesting();
    }

    // OneNote never answers the copy-link keystroke here.
    CliRun Cli(const QStringList &arguments, const QByteArray &input = {})
    {
        SessionOptions options;
        options.dataRoot = path("data");
        options.makeAutomation = [](IClipboard &clipboard) {
            return std::make_unique<Cogitra::Test::FakeOneNote>(clipboard);
        };
        return RunVerbs(AllVerbs(options), arguments, input);
    }
    QString path(const QString &name) const { return m_Dir.filePath(name); }
    QByteArray file(const QString &name) const { return ReadBytes(path(name)); }

    QTemporaryDir m_Dir;
};

// The tool verbs: pack writes what the application uploads, extract gives the JSON back, link
// parse and help print their results.
TEST_F(CliVerbs, ToolVerbsPrintTheirResults)
{
    WriteFile(m_Dir, "map.json", kMap);
    const CliRun pack
        = Cli({"container", "pack", "--json", path("map.json"), "--out", path("m.gif")});
    ASSERT_EQ(pack.status, 0) << pack.err.toStdString();
    EXPECT_TRUE(pack.err.isEmpty());
    const QJsonObject report = QJsonDocument::fromJson(pack.out).object();
    EXPECT_EQ(report.value("out").toString(), path("m.gif"));
    EXPECT_EQ(report.value("bytes").toInteger(), file("m.gif").size());

    const CliRun extract = Cli({"container", "extract", path("m.gif")});
    ASSERT_EQ(extract.status, 0) << extract.err.toStdString();
    EXPECT_EQ(extract.out, kMap) << "nothing added, not even a line feed";

    // A map at the limit packs into a container that extracts.
    WriteFile(m_Dir, "limit.json", "{\"a\":\"" + QByteArray(kMaxMapBytes - 8, 'x') + "\"}");
    ASSERT_EQ(
        Cli({"container", "pack", "--json", path("limit.json"), "--out", path("l.gif")}).status, 0);
    EXPECT_EQ(Cli({"container", "extract", path("l.gif")}).out.size(), kMaxMapBytes);

    const CliRun help = Cli({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_TRUE(help.out.contains("container pack --json FILE --out FILE.gif"));
    EXPECT_TRUE(help.out.contains("link parse LINK"));
    const CliRun run
        = Cli({"link", "parse",
               "Link: onenote:https://d.docs.live.net/0b7d4e2a9c315f68/Documenten/TEST/"
               "New%20Section%201.one#Salt%20%26%20%22Pepper%22&section-id={S}"
               "&page-id={C12E883F-0B36-4C51-96CF-D6852A271E59}&end "});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_EQ(run.out, "{\"accountId\":\"0b7d4e2a9c315f68\",\"link\":\"onenote:https://"
                       "d.docs.live.net/0b7d4e2a9c315f68/Documenten/TEST/New%20Section%201.one#Salt"
                       "%20%26%20%22Pepper%22&section-id={S}&page-id={C12E883F-0B36-4C51-96CF-"
                       "D6852A271E59}&end\",\"notebook\":\"TEST\",\"pageClientId\":"
                       "\"C12E883F-0B36-4C51-96CF-D6852A271E59\",\"section\":\"New Section 1\","
                       "\"title\":\"Salt & \\\"Pepper\\\"\"}\n");
    EXPECT_TRUE(run.err.isEmpty());
}

// Refusals: status 1, nothing on stdout, one line "cogitra-cli: PREFIX...TEXT" on stderr.
// "@name" stands for a file of the test's own; a text starting "err" is that key's English text.
TEST_F(CliVerbs, RefusalsAreOneLineNamingTheStage)
{
    QByteArray deep = "{\"data\":{}}";
    for (int i = 0; i < 257; ++i) // the innermost topic one level past the limit
        deep = "{\"children\":[" + deep + "]}";
    const QMap<QString, QByteArray> files = {{"@map", kMap},
                                             {"@notJson", "{\"root\":"},
                                             {"@array", "[{\"root\":{}}]"},
                                             {"@latin1", "{\"t\":\"\xe9\"}"},
                                             {"@gif", "GIF89a\x01\x00\x01\x00"},
                                             {"@png", QByteArray("\x89PNG\r\n\x1a\n", 8)},
                                             {"@noRoot", "{\"template\":\"default\",\"data\":{}}"},
                                             {"@listRoot", "{\"root\":[{\"data\":{}}]}"},
                                             {"@deep", "{\"root\":" + deep + "}"}};
    QFile over(path("over.json"));
    QFile huge(path("huge.gif"));
    ASSERT_TRUE(over.open(QIODevice::WriteOnly) && over.resize(kMaxMapBytes + 1));
    ASSERT_TRUE(huge.open(QIODevice::WriteOnly) && huge.resize(kMaxContainerBytes + 1));
    const QString out = path("out.gif");
    // clang-format off
    const struct { QStringList arguments; QByteArray prefix; QByteArray text = {}; QByteArray input = {}; } rows[] = {
        {{}, ""},
        {{"container", "unpack", "x"}, ""},
        {{"line\nbreak"}, ""},
        {{"container", "pack", "--json", "@map"}, ""},
        {{"container", "pack", "--json", "@map", "--out"}, ""},
        {{"container", "pack", "--json", "@map", "--out", out, "--x", "y"}, ""},
        {{"container", "pack", "--json", path("a"), "--json", path("b"), "--out", out}, ""},
        {{"container", "pack", "--json", path("missing.json"), "--out", out}, ""},
        {{"container", "pack", "--json", "@latin1", "--out", out}, ""},
        {{"container", "pack", "--json", "@array", "--out", out}, "", "is not a map (a JSON object)"},
        {{"container", "pack", "--json", path("over.json"), "--out", out}, "", "larger than a map may be"},
        {{"container", "pack", "--json", "@map", "--out", path("no/dir/x.gif")}, ""},
        {{"container", "extract"}, ""},
        {{"container", "extract", m_Dir.path()}, ""},
        {{"container", "extract", "@gif"}, ""},
        {{"container", "extract", path("huge.gif")}, "", "larger than a map container"},
        {{"link", "parse", "a", "b"}, ""},
        {{"link", "parse", "onenote:https://d.docs.live.net/cid/Documents/Book"}, "not a page link: the link names a notebook, not a page"},
        {{"status", "x"}, "status takes"},
        {{"login", "x"}, "login takes"},
        {{"save", "--png", "x"}, "save: --json is required"},
        {{"save", "--json", "/nonexistent/map.json"}, "save: reading the files: cannot read /nonexistent/map.json"},
        {{"save", "--json", "@notJson", "--png", "@gif"}, "save: reading the files: ", "is not a map (a JSON object)"},
        {{"save", "--json", "@latin1", "--png", "@gif"}, "save: reading the files: ", "is not a map (a JSON object)"},
        {{"save", "--json", "@map", "--png", "@gif"}, "save: reading the files: ", "is not a PNG picture"},
        {{"save", "--json", "@noRoot", "--png", "@png"}, "save: reading the files: ", "is not a map the editor can open: it has no root topic"},
        {{"save", "--json", "@listRoot", "--png", "@png"}, "save: reading the files: ", "is not a map the editor can open: its root is not a topic"},
        {{"save", "--json", "@deep", "--png", "@png"}, "save: reading the files: ", "is not a map the editor can open: its topics are nested deeper than 256"},
        {{"save", "--json", "@map"}, "save: reading the files: --png FILE is required", "(export it from the editor, or save from Cogitra)"},
        {{"open"}, "open: finding the current page: ", "errGetPageLink"},
        {{"open", "--link", "onenote:///C:\\N\\S.one#T&page-id={P}&end"}, "open: reading the link: the page lies in a notebook on a disk"},
        {{"open", "--link", kLink}, "open: signing in: not signed in (run cogitra-cli login)"},
        {{"save", "--link", kLink, "--json", "@map", "--png", "@png"}, "save: signing in: not signed in (run cogitra-cli login)"},
        {{"login"}, "login: reading the code: nothing was pasted"},
        {{"login"}, "login: reading the code: no authorization code in what was pasted", {}, "https://login.live.com/oauth20_desktop.srf?error=access_denied&lc=1033\n"},
        {{"login"}, "login: reading the code: no authorization code in what was pasted", {}, "https://login.live.com/oauth20_desktop.srf?code=&lc=1\n"},
        {{"login"}, "login: reading the code: no authorization code in what was pasted", {}, "abc&client_id=evil\n"}, // a form field added
    };
    // clang-format on
    for (const auto &row : rows) {
        QStringList arguments = row.arguments;
        for (QString &argument : arguments) {
            if (files.contains(argument))
                argument = WriteFile(m_Dir, argument.mid(1), files.value(argument));
        }
        SCOPED_TRACE(arguments.join(' ').left(200).toStdString());
        const QByteArray text
            = row.text.startsWith("err") ? English(row.text.constData()) : row.text;
        const CliRun run = Cli(arguments, row.input);
        EXPECT_EQ(run.status, 1);
        // Only login prints before it fails: the address to sign in at, and how.
        const bool prompts = arguments == QStringList{"login"};
        EXPECT_EQ(run.out.contains("/common/oauth2/v2.0/authorize?prompt=login&client_id="),
                  prompts);
        EXPECT_EQ(run.out.isEmpty(), !prompts) << run.out.toStdString();
        const QByteArray line = run.err.mid(run.err.lastIndexOf('\n', run.err.size() - 2) + 1);
        EXPECT_TRUE(prompts || line == run.err) << run.err.toStdString();
        EXPECT_TRUE(line.startsWith(QByteArray("cogitra-cli: " + row.prefix)))
            << run.err.toStdString();
        EXPECT_TRUE(line.contains(text) && line.endsWith('\n')) << run.err.toStdString();
    }
    EXPECT_FALSE(QFile::exists(out)) << "a failed pack writes nothing";
    // What login takes besides an address: the code alone.
    EXPECT_EQ(Internal::CodeFromPastedText("M.C507_BAY.2.U.0a1b2c3d"), "M.C507_BAY.2.U.0a1b2c3d");
    // Maps the editor opens, also with what is no topic among the children.
    EXPECT_TRUE(Internal::WhyNotAMap("{\"root\":{}}").isEmpty());
    EXPECT_TRUE(
        Internal::WhyNotAMap("{\"root\":{\"children\":[1,null,\"x\",{\"data\":{}}]}}").isEmpty());
}

// A fresh data folder is signed out; an abandoned login keeps the account, which opens only its
// pages.
TEST_F(CliVerbs, StatusNamesTheStoredHostAndAnAbandonedLoginKeepsTheAccount)
{
    const CliRun run = Cli({"status"});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    const QJsonObject status = QJsonDocument::fromJson(run.out).object();
    EXPECT_FALSE(status.value("signedIn").toBool());
    EXPECT_EQ(status.value("host").toString(), "built-in");
    EXPECT_EQ(status.value("dataFolder").toString(), path("data/Ardentis/Cogitra"));

    // The host chosen in the application's host window is the one its next start uses.
    MConfig config(path("data/Ardentis/Cogitra/zetapp.plist"));
    config.WriteValueStr("Host", "maps.example.org:8080");
    ASSERT_TRUE(config.Save());
    EXPECT_EQ(QJsonDocument::fromJson(Cli({"status"}).out).object().value("host").toString(),
              "maps.example.org:8080");

    InitGlobals(path("data"));
    g_AccessToken.set("kept-token");
    g_UserId.set("u");
    g_AccountId.set("0123456789abcdef");
    SaveAccountState();
    ResetGlobalsForTesting();
    EXPECT_EQ(Cli({"login"}, "\n").status, 1);
    EXPECT_TRUE(QJsonDocument::fromJson(Cli({"status"}).out).object().value("signedIn").toBool());
    // Another account's page is refused before anything is sent.
    EXPECT_EQ(Cli({"open", "--link", kLink}).err,
              "cogitra-cli: open: signing in: " + English("errAccountDiff") + '\n');
}

} // namespace
