#include "CliRunner.h"
#include "cli/SessionVerbs.h"
#include "platform/IDesktopAutomation.h"
#include "platform/MemoryClipboard.h"
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

    QString File(const QString &name, const QByteArray &bytes) const
    {
        const QString path = m_Dir.filePath(name);
        QFile file(path);
        if (file.open(QIODevice::WriteOnly))
            file.write(bytes);
        return path;
    }

    QTemporaryDir m_Dir;
};

// One line on stderr, "cogitra-cli: VERB: STAGE: TEXT", nothing on stdout, status 1.
void ExpectFailure(const CliRun &run, const QByteArray &prefix, const QByteArray &text = {})
{
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(run.out.isEmpty()) << run.out.toStdString();
    EXPECT_TRUE(run.err.startsWith(QByteArray("cogitra-cli: ").append(prefix)))
        << run.err.toStdString();
    EXPECT_EQ(run.err.count('\n'), 1) << run.err.toStdString();
    EXPECT_TRUE(run.err.endsWith(QByteArray(text).append('\n'))) << run.err.toStdString();
}

QByteArray English(const char *key)
{
    return StringTable(QStringLiteral("en")).value(QString::fromLatin1(key)).toUtf8();
}

TEST_F(SessionVerbsTest, StatusOfAFreshDataFolderIsSignedOutAndCreatesTheFolder)
{
    const CliRun run = Cli({QStringLiteral("status")});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    const QJsonObject status = QJsonDocument::fromJson(run.out).object();
    EXPECT_FALSE(status.value(QStringLiteral("signedIn")).toBool());
    EXPECT_EQ(status.value(QStringLiteral("host")).toString(),
              QStringLiteral("editor.ardentis.app"));
    EXPECT_EQ(status.value(QStringLiteral("dataFolder")).toString(),
              m_Dir.filePath(QStringLiteral("data/Ardentis/Cogitra")));
    EXPECT_TRUE(QFileInfo(m_Dir.filePath(QStringLiteral("data/Ardentis/Cogitra/jCache"))).isDir());
}

TEST_F(SessionVerbsTest, StatusNeverPrintsTokens)
{
    // What another program saved is what status reads.
    InitGlobals(m_Dir.filePath(QStringLiteral("data")));
    g_AccessToken.set(QStringLiteral("EwB4A-secret-access"));
    g_RefreshToken.set(QStringLiteral("M.C5-secret-refresh"));
    g_UserId.set(QStringLiteral("4c1b2a0e9f8d7c6b"));
    g_UserPrincipalName.set(QStringLiteral("avery@example.com"));
    SaveAccountState();
    ResetGlobalsForTesting();

    const CliRun run = Cli({QStringLiteral("status")});
    ASSERT_EQ(run.status, 0);
    const QJsonObject status = QJsonDocument::fromJson(run.out).object();
    EXPECT_TRUE(status.value(QStringLiteral("signedIn")).toBool());
    EXPECT_EQ(status.value(QStringLiteral("userPrincipalName")).toString(),
              QStringLiteral("avery@example.com"));
    EXPECT_FALSE(run.out.contains("secret")) << run.out.toStdString();
    EXPECT_FALSE(run.err.contains("secret"));
}

struct ArgumentCase
{
    const char *name;
    QStringList arguments;
    QByteArray prefix;
};

class SessionArguments : public SessionVerbsTest, public testing::WithParamInterface<ArgumentCase>
{
};

TEST_P(SessionArguments, RefusedWithOneLine)
{
    ExpectFailure(Cli(GetParam().arguments), GetParam().prefix);
}

const QString kSome = QStringLiteral("x");

INSTANTIATE_TEST_SUITE_P(
    Verbs, SessionArguments,
    testing::Values(
        ArgumentCase{"StatusWithArgument", {QStringLiteral("status"), kSome}, "status takes"},
        ArgumentCase{"LoginWithArgument", {QStringLiteral("login"), kSome}, "login takes"},
        ArgumentCase{"OpenUnknownFlag",
                     {QStringLiteral("open"), QStringLiteral("--page"), kSome},
                     "open: unknown argument \"--page\""},
        ArgumentCase{"OpenFlagWithoutValue",
                     {QStringLiteral("open"), QStringLiteral("--out")},
                     "open: --out needs a value"},
        ArgumentCase{"OpenFlagTwice",
                     {QStringLiteral("open"), QStringLiteral("--out"), kSome,
                      QStringLiteral("--out"), kSome},
                     "open: --out given twice"},
        ArgumentCase{"SaveWithoutJson",
                     {QStringLiteral("save"), QStringLiteral("--png"), kSome},
                     "save: --json is required"},
        ArgumentCase{"SaveUnreadableJson",
                     {QStringLiteral("save"), QStringLiteral("--json"),
                      QStringLiteral("/nonexistent/map.json")},
                     "save: reading the files: cannot read /nonexistent/map.json"}),
    [](const testing::TestParamInfo<ArgumentCase> &p) { return p.param.name; });

TEST_F(SessionVerbsTest, SaveRefusesWhatIsNotAMapOrNotAPicture)
{
    const QString map = File(QStringLiteral("map.json"), kMap);
    const QString notJson = File(QStringLiteral("notes.json"), "{\"root\":");
    const QString latin1 = File(QStringLiteral("latin1.json"), "{\"t\":\"\xe9\"}");
    const QString gif = File(QStringLiteral("picture.png"), "GIF89a\x01\x00\x01\x00");

    ExpectFailure(Cli({QStringLiteral("save"), QStringLiteral("--json"), notJson,
                       QStringLiteral("--png"), gif}),
                  "save: reading the files: ", "is not a map (a JSON object)");
    ExpectFailure(Cli({QStringLiteral("save"), QStringLiteral("--json"), latin1,
                       QStringLiteral("--png"), gif}),
                  "save: reading the files: ", "is not a map (a JSON object)");
    ExpectFailure(
        Cli({QStringLiteral("save"), QStringLiteral("--json"), map, QStringLiteral("--png"), gif}),
        "save: reading the files: ", "is not a PNG picture");
}

TEST_F(SessionVerbsTest, SaveWithoutAPictureSaysWhy)
{
    const QString map = File(QStringLiteral("map.json"), kMap);
    const CliRun run = Cli({QStringLiteral("save"), QStringLiteral("--json"), map});
    ExpectFailure(run, "save: reading the files: --png FILE is required");
    EXPECT_TRUE(run.err.contains("map editor")) << run.err.toStdString();
}

TEST_F(SessionVerbsTest, DiscoveryFailuresCarryTheKeysEnglishText)
{
    ExpectFailure(Cli({QStringLiteral("open")}),
                  "open: finding the current page: ", English("errGetPageLink"));
    const QString noTitle
        = QStringLiteral("onenote:https://d.docs.live.net/4c1b/Documents/Work%20Notes/Meetings.one"
                         "#section-id={1}&page-id={2}&end");
    ExpectFailure(Cli({QStringLiteral("open"), QStringLiteral("--link"), noTitle}),
                  "open: reading the link: ", English("errPageTitleEmpty"));
    ExpectFailure(Cli({QStringLiteral("open"), QStringLiteral("--link"), QStringLiteral("hello")}),
                  "open: reading the link: ", English("errGetPageLink"));
}

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
    ExpectFailure(run, "open: signing in: not signed in (run cogitra-cli login)");
    EXPECT_EQ(system.contents(), users);
}

TEST_F(SessionVerbsTest, OpenAndSaveNeedASignIn)
{
    ExpectFailure(Cli({QStringLiteral("open"), QStringLiteral("--link"), kLink}),
                  "open: signing in: not signed in (run cogitra-cli login)");
    const QString map = File(QStringLiteral("map.json"), kMap);
    const QString png = File(QStringLiteral("map.png"), QByteArray("\x89PNG\r\n\x1a\n", 8));
    ExpectFailure(Cli({QStringLiteral("save"), QStringLiteral("--link"), kLink,
                       QStringLiteral("--json"), map, QStringLiteral("--png"), png}),
                  "save: signing in: not signed in (run cogitra-cli login)");
}

TEST_F(SessionVerbsTest, LoginPrintsTheAuthorizeAddressAndRefusesWhatHoldsNoCode)
{
    const CliRun empty = Cli({QStringLiteral("login")});
    EXPECT_EQ(empty.status, 1);
    EXPECT_TRUE(empty.out.contains("/common/oauth2/v2.0/authorize?prompt=login&client_id="));
    EXPECT_TRUE(empty.err.endsWith("cogitra-cli: login: reading the code: nothing was pasted\n"))
        << empty.err.toStdString();

    const CliRun denied
        = Cli({QStringLiteral("login")},
              "https://login.live.com/oauth20_desktop.srf?error=access_denied&lc=1033\n");
    EXPECT_EQ(denied.status, 1);
    EXPECT_TRUE(denied.err.endsWith(
        "cogitra-cli: login: reading the code: no authorization code in what was pasted\n"));
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
