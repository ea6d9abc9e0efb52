#include "CliRunner.h"
#include "cli/SessionVerbs.h"
#include "platform/IDesktopAutomation.h"
#include "platform/MemoryClipboard.h"
#include "util/MConfig.h"
#include "util/MGlobals.h"
#include "util/MStrings.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace Cogitra;
using Cogitra::Testing::CliRun;
using Cogitra::Testing::RunVerbs;
using Cogitra::Testing::WriteFile;

namespace {

// OneNote that never answers the keystroke.
class SilentOneNote final : public IDesktopAutomation
{
public:
    void RunAppleScript(const QString &) override {}
};

// OneNote that copies the link of its selected page onto the system clipboard.
class CopyingOneNote final : public IDesktopAutomation
{
public:
    CopyingOneNote(IClipboard &clipboard, QString link)
        : m_Clipboard(clipboard)
        , m_Link(std::move(link))
    {}
    void RunAppleScript(const QString &) override { m_Clipboard.setText(m_Link); }

private:
    IClipboard &m_Clipboard;
    QString m_Link;
};

// A handle on a clipboard that outlives the run, as the system's does.
class SharedClipboard final : public IClipboard
{
public:
    explicit SharedClipboard(IClipboard &shared)
        : m_Shared(shared)
    {}
    [[nodiscard]] ClipboardContents contents() const override { return m_Shared.contents(); }
    void setContents(const ClipboardContents &contents) override { m_Shared.setContents(contents); }
    void clear() override { m_Shared.clear(); }
    [[nodiscard]] std::optional<QString> text() const override { return m_Shared.text(); }
    void setText(const QString &text) override { m_Shared.setText(text); }

private:
    IClipboard &m_Shared;
};

const QByteArray kMap = QString::fromUtf8("{\"root\":{\"data\":{\"text\":\"Plan – 计划\"},"
                                          "\"children\":[]},\"template\":\"default\"}")
                            .toUtf8();
const QString kLink = QStringLiteral(
    "onenote:https://d.docs.live.net/4c1b2a0e9f8d7c6b/Documents/Work%20Notes/Meetings.one"
    "#Weekly%20sync&section-id={11111111-2222-3333-4444-555555555555}"
    "&page-id={66666666-7777-8888-9999-000000000000}&end");

class SessionVerbsTest : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_Dir.isValid());
        ResetGlobalsForTesting();
    }
    void TearDown() override { ResetGlobalsForTesting(); }

    CliRun Cli(const QStringList &arguments, const QByteArray &input = QByteArray(),
               const std::function<void(SessionOptions &)> &adjust = {})
    {
        SessionOptions options;
        options.dataRoot = m_Dir.filePath(QStringLiteral("data"));
        options.makeAutomation = [](IClipboard &) {
            return std::make_unique<SilentOneNote>();
        };
        if (adjust)
            adjust(options);
        return RunVerbs(AllVerbs(options), arguments, input);
    }

    QTemporaryDir m_Dir;
};

TEST_F(SessionVerbsTest, StatusOfAFreshDataFolderIsSignedOutAndCreatesTheFolder)
{
    const CliRun run = Cli({QStringLiteral("status")});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    const QJsonObject status = QJsonDocument::fromJson(run.out).object();
    EXPECT_FALSE(status.value(QStringLiteral("signedIn")).toBool());
    EXPECT_EQ(status.value(QStringLiteral("host")).toString(), QStringLiteral("built-in"));
    EXPECT_EQ(status.value(QStringLiteral("dataFolder")).toString(),
              m_Dir.filePath(QStringLiteral("data/Ardentis/Cogitra")));
    EXPECT_TRUE(QFileInfo(m_Dir.filePath(QStringLiteral("data/Ardentis/Cogitra/jCache"))).isDir());

    // The host chosen in the application's host window is the one its next start uses.
    MConfig config(m_Dir.filePath(QStringLiteral("data/Ardentis/Cogitra/zetapp.plist")));
    config.WriteValueStr(QStringLiteral("Host"), QStringLiteral("maps.example.org:8080"));
    ASSERT_TRUE(config.Save());
    EXPECT_EQ(QJsonDocument::fromJson(Cli({QStringLiteral("status")}).out)
                  .object()
                  .value(QStringLiteral("host"))
                  .toString(),
              QStringLiteral("maps.example.org:8080"));
}

// Refusals: one line on stderr, "cogitra-cli: VERB: STAGE: TEXT", nothing on stdout, status
// 1. "@name" in the arguments stands for a file of the test's own.
struct RefusalCase
{
    const char *name;
    QStringList arguments;
    QByteArray prefix;
    QByteArray text = {}; // what the line ends with; a key's English text where it is one
    QByteArray input = {};
};

class Refusal : public SessionVerbsTest, public testing::WithParamInterface<RefusalCase>
{
};

TEST_P(Refusal, IsOneLineNamingTheStage)
{
    const QMap<QString, QByteArray> files
        = {{QStringLiteral("@map"), kMap},
           {QStringLiteral("@notJson"), "{\"root\":"},
           {QStringLiteral("@array"), "[{\"root\":{}}]"},
           {QStringLiteral("@latin1"), "{\"t\":\"\xe9\"}"},
           {QStringLiteral("@gif"), "GIF89a\x01\x00\x01\x00"},
           {QStringLiteral("@png"), QByteArray("\x89PNG\r\n\x1a\n", 8)}};
    QStringList arguments = GetParam().arguments;
    for (QString &argument : arguments) {
        if (files.contains(argument))
            argument = WriteFile(m_Dir, argument.mid(1), files.value(argument));
    }
    QByteArray text = GetParam().text;
    if (text.startsWith("err"))
        text = StringTable(QStringLiteral("en")).value(QString::fromLatin1(text)).toUtf8();
    const CliRun run = Cli(arguments, GetParam().input);
    EXPECT_EQ(run.status, 1);
    // Only login prints before it fails: the address to sign in at, and how.
    const bool prompts = arguments == QStringList{QStringLiteral("login")};
    EXPECT_EQ(run.out.contains("/common/oauth2/v2.0/authorize?prompt=login&client_id="), prompts);
    EXPECT_EQ(run.out.isEmpty(), !prompts) << run.out.toStdString();
    const QByteArray line = run.err.mid(run.err.lastIndexOf('\n', run.err.size() - 2) + 1);
    EXPECT_TRUE(prompts || line == run.err) << run.err.toStdString();
    EXPECT_TRUE(line.startsWith(QByteArray("cogitra-cli: ").append(GetParam().prefix)))
        << run.err.toStdString();
    EXPECT_TRUE(line.endsWith(text.append('\n'))) << run.err.toStdString();
}

const QString kSome = QStringLiteral("x");
const QString kSave = QStringLiteral("save");
const QString kOpen = QStringLiteral("open");
const QString kJson = QStringLiteral("--json");
const QString kPng = QStringLiteral("--png");
const QString kLinkFlag = QStringLiteral("--link");
const QString kNoTitle
    = QStringLiteral("onenote:https://d.docs.live.net/4c1b/Documents/Work%20Notes/Meetings.one"
                     "#section-id={1}&page-id={2}&end");
const QByteArray kNotSignedIn = "signing in: not signed in (run cogitra-cli login)";

INSTANTIATE_TEST_SUITE_P(
    Verbs, Refusal,
    testing::Values(
        RefusalCase{"StatusWithArgument", {QStringLiteral("status"), kSome}, "status takes"},
        RefusalCase{"LoginWithArgument", {QStringLiteral("login"), kSome}, "login takes"},
        RefusalCase{"SaveWithoutJson", {kSave, kPng, kSome}, "save: --json is required"},
        RefusalCase{"SaveUnreadableJson",
                    {kSave, kJson, QStringLiteral("/nonexistent/map.json")},
                    "save: reading the files: cannot read /nonexistent/map.json"},
        RefusalCase{"SaveJsonNotAnObject",
                    {kSave, kJson, "@notJson", kPng, "@gif"},
                    "save: reading the files: ",
                    "is not a map (a JSON object)"},
        RefusalCase{"SaveJsonNotUtf8",
                    {kSave, kJson, "@latin1", kPng, "@gif"},
                    "save: reading the files: ",
                    "is not a map (a JSON object)"},
        RefusalCase{"SavePictureNotAPng",
                    {kSave, kJson, "@map", kPng, "@gif"},
                    "save: reading the files: ",
                    "is not a PNG picture"},
        RefusalCase{"SaveWithoutAPicture",
                    {kSave, kJson, "@map"},
                    "save: reading the files: --png FILE is required",
                    "(export it from the editor, or save from Cogitra)"},
        RefusalCase{"OpenWithNoPageSelected",
                    {kOpen},
                    "open: finding the current page: ",
                    "errGetPageLink"},
        RefusalCase{"LinkWithoutTitle",
                    {kOpen, kLinkFlag, kNoTitle},
                    "open: reading the link: ",
                    "errPageTitleEmpty"},
        RefusalCase{"NotALink",
                    {kOpen, kLinkFlag, QStringLiteral("https://example.org/page")},
                    "open: reading the link: not a OneNote page link"},
        RefusalCase{"PackNotAnObject",
                    {QStringLiteral("container"), QStringLiteral("pack"), kJson, "@array",
                     QStringLiteral("--out"), QStringLiteral("/nonexistent/out.gif")},
                    "",
                    "is not a map (a JSON object)"},
        RefusalCase{"OpenSignedOut", {kOpen, kLinkFlag, kLink}, "open: " + kNotSignedIn},
        RefusalCase{"SaveSignedOut",
                    {kSave, kLinkFlag, kLink, kJson, "@map", kPng, "@png"},
                    "save: " + kNotSignedIn},
        RefusalCase{"LoginNothingPasted",
                    {QStringLiteral("login")},
                    "login: reading the code: nothing was pasted"},
        RefusalCase{"LoginNoCodeInThePaste",
                    {QStringLiteral("login")},
                    "login: reading the code: no authorization code in what was pasted",
                    {},
                    "https://login.live.com/oauth20_desktop.srf?error=access_denied&lc=1033\n"}),
    [](const testing::TestParamInfo<RefusalCase> &p) { return p.param.name; });

TEST_F(SessionVerbsTest, DiscoveryReadsTheGivenClipboardAndPutsItBack)
{
    // Where OneNote itself copies the link, the tool must look on the system's clipboard,
    // and leave there what the user had.
    MemoryClipboard system;
    const ClipboardContents users{{{QStringLiteral("text/plain"), QByteArray("my own notes")},
                                   {QStringLiteral("text/html"), QByteArray("<b>my</b>")}}};
    system.setContents(users);
    const CliRun run = Cli({QStringLiteral("open")}, {}, [&system](SessionOptions &options) {
        options.makeClipboard = [&system] {
            return std::make_unique<SharedClipboard>(system);
        };
        options.makeAutomation = [&system](IClipboard &) {
            return std::make_unique<CopyingOneNote>(system, kLink);
        };
    });
    // The link was found and read: the run got as far as the sign-in.
    EXPECT_EQ(run.err, "cogitra-cli: open: signing in: not signed in (run cogitra-cli login)\n");
    EXPECT_EQ(system.contents(), users);
}

TEST_F(SessionVerbsTest, AbandonedLoginKeepsTheAccount)
{
    InitGlobals(m_Dir.filePath(QStringLiteral("data")));
    g_AccessToken.set(QStringLiteral("kept-token"));
    g_UserId.set(QStringLiteral("4c1b2a0e9f8d7c6b"));
    SaveAccountState();
    ResetGlobalsForTesting();

    EXPECT_EQ(Cli({QStringLiteral("login")}, "\n").status, 1);
    const CliRun status = Cli({QStringLiteral("status")});
    EXPECT_TRUE(QJsonDocument::fromJson(status.out).object().value(u"signedIn").toBool());
}

struct PastedCase
{
    const char *name;
    const char *pasted;
    const char *code;
};

class PastedCode : public testing::TestWithParam<PastedCase>
{
};

TEST_P(PastedCode, Read)
{
    EXPECT_EQ(Internal::CodeFromPastedText(QString::fromUtf8(GetParam().pasted)),
              QString::fromUtf8(GetParam().code));
}

INSTANTIATE_TEST_SUITE_P(
    Login, PastedCode,
    testing::Values(
        PastedCase{"RedirectWithMoreFields",
                   "https://login.live.com/oauth20_desktop.srf?code=M.C507_BAY.2.U.ab-c1&lc=1033",
                   "M.C507_BAY.2.U.ab-c1"},
        PastedCase{"RedirectCodeLast", "http://127.0.0.1:8080/oauth20_desktop.srf?code=abc", "abc"},
        PastedCase{"RedirectEmptyCode", "https://login.live.com/oauth20_desktop.srf?code=&lc=1",
                   ""},
        PastedCase{"BareCode", "M.C507_BAY.2.U.0a1b2c3d-4e5f", "M.C507_BAY.2.U.0a1b2c3d-4e5f"},
        PastedCase{"BareCodeThatWouldAddAFormField", "abc&client_id=evil", ""},
        PastedCase{"BareTextWithBlanks", "my code", ""},
        PastedCase{"AddressWithoutCode", "https://login.live.com/oauth20_desktop.srf?lc=1033", ""},
        PastedCase{"Empty", "", ""}),
    [](const testing::TestParamInfo<PastedCase> &p) { return p.param.name; });

} // namespace
