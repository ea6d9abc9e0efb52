#include "CliRunner.h"
#include "ServiceFixture.h"
#include "cli/SessionVerbs.h"
#include "platform/DesktopServiceAutomation.h"
#include "util/MStrings.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace Cogitra;
using namespace Cogitra::Testing;

// The session verbs against the local notebook service, in-process, with the demo account:
// a sign-in through the service's own sign-in form, then opens and saves as a user's
// scripts would run them, each verb starting from what the last one saved.
namespace {

const QByteArray kMap
    = QString::fromUtf8("{\"root\":{\"data\":{\"text\":\"Straße – 计划 \\\"q\\\"\"},"
                        "\"children\":[{\"data\":{\"text\":\"a'b\"}}]},"
                        "\"template\":\"default\",\"version\":\"1.4.43\"}")
          .toUtf8();

class CliOnline : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_Dir.isValid());
        ServiceFixture::Setup setup;
        setup.demo = true;
        setup.requestTimeoutMs = "3000";
        m_Svc.start(setup);
    }

    CliRun Cli(const QStringList &arguments, const QByteArray &input = QByteArray(),
               bool onTerminal = false)
    {
        SessionOptions options;
        options.dataRoot = m_Dir.filePath(QStringLiteral("data"));
        options.progressInterval = std::chrono::milliseconds(5);
        const QString root = m_Svc.rootUrl();
        // The desktop notebook answers at once: the keystroke script's delays are OneNote's.
        options.makeAutomation = [root](IClipboard &clipboard) {
            return std::make_unique<DesktopServiceAutomation>(
                clipboard, root, std::chrono::seconds(5), [](std::chrono::milliseconds) {});
        };
        return RunVerbs(AllVerbs(options), arguments, input, onTerminal);
    }

    // Signs in as a person does: the address login prints, the service's sign-in form, and
    // the address it sends the browser to pasted back. What login printed, and that address.
    std::pair<CliRun, QString> Login()
    {
        const CliRun prompt = Cli({QStringLiteral("login")});
        const QString authorize = QString::fromUtf8(prompt.out.split('\n').value(0));
        EXPECT_TRUE(
            authorize.startsWith(m_Svc.rootUrl() + u"/common/oauth2/v2.0/authorize?prompt=login"));
        const QString redirect = m_Svc.signInInBrowser(authorize);
        EXPECT_TRUE(redirect.startsWith(m_Svc.rootUrl() + u"/oauth20_desktop.srf?code="));
        const CliRun run = Cli({QStringLiteral("login")}, redirect.toUtf8() + "\n");
        EXPECT_EQ(run.status, 0) << run.err.toStdString();
        return {run, redirect};
    }

    QString Link(const QString &pageId) const { return m_Svc.service().pageDesktopLink(pageId); }

    // replace: over the demo page's map, which no run here has opened.
    CliRun SaveMap(const QString &pageId, const QByteArray &map, bool replace = false)
    {
        QStringList arguments{QStringLiteral("save"),
                              QStringLiteral("--link"),
                              Link(pageId),
                              QStringLiteral("--json"),
                              WriteFile(m_Dir, QStringLiteral("map.json"), map),
                              QStringLiteral("--png"),
                              WriteFile(m_Dir, QStringLiteral("map.png"),
                                        Service::MakePng(40, 20, 0x3366cc, 0xffffff))};
        if (replace)
            arguments << QStringLiteral("--replace");
        return Cli(arguments);
    }

    int ImagesWithAlt(const QString &pageId, const QString &alt) const
    {
        return int(m_Svc.service().pageHtml(pageId).count(u"alt=\"" + alt + u"\""));
    }

    ServiceFixture m_Svc;
    QTemporaryDir m_Dir;
};

void ExpectFailure(const CliRun &run, const QByteArray &line)
{
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(run.out.isEmpty()) << run.out.toStdString();
    EXPECT_EQ(run.err, "cogitra-cli: " + line + "\n");
}

QByteArray English(const char *key)
{
    return StringTable(QStringLiteral("en")).value(QString::fromLatin1(key)).toUtf8();
}

TEST_F(CliOnline, LoginThroughTheSignInFormSignsInWithoutShowingTokens)
{
    const auto [login, redirect] = Login();
    EXPECT_TRUE(
        login.out.endsWith("{\"signedIn\":true,\"userPrincipalName\":\"demo@cogitra.test\"}\n"))
        << login.out.toStdString();

    const CliRun status = Cli({QStringLiteral("status")});
    const QJsonObject state = QJsonDocument::fromJson(status.out).object();
    EXPECT_TRUE(state.value(u"signedIn").toBool());
    EXPECT_EQ(state.value(u"userPrincipalName").toString(), m_Svc.demo().upn);
    // The tokens are in the configuration, and nowhere in what was printed.
    InitGlobals(m_Dir.filePath(QStringLiteral("data")));
    const QByteArray token = g_AccessToken.get().toUtf8();
    const QByteArray refresh = g_RefreshToken.get().toUtf8();
    ASSERT_FALSE(token.isEmpty());
    ASSERT_FALSE(refresh.isEmpty());
    for (const QByteArray &printed : {login.out, login.err, status.out, status.err}) {
        EXPECT_FALSE(printed.contains(token));
        EXPECT_FALSE(printed.contains(refresh));
    }

    // A code is good once: pasting the same address again signs out and says so.
    const CliRun again = Cli({QStringLiteral("login")}, redirect.toUtf8() + "\n");
    EXPECT_EQ(again.status, 1);
    EXPECT_TRUE(again.err.endsWith("cogitra-cli: login: exchanging the code for tokens: the "
                                   "identity platform gave no token (the code may have expired "
                                   "or been used already)\n"))
        << again.err.toStdString();
    EXPECT_FALSE(QJsonDocument::fromJson(Cli({QStringLiteral("status")}).out)
                     .object()
                     .value(u"signedIn")
                     .toBool());
}

TEST_F(CliOnline, SavedMapOpensAgainOnStandardOutputOrIntoAFile)
{
    Login();
    const QString page = m_Svc.demo().nonAsciiPageId;
    const CliRun save = SaveMap(page, kMap);
    ASSERT_EQ(save.status, 0) << save.err.toStdString();
    EXPECT_EQ(QJsonDocument::fromJson(save.out).object().value(u"title").toString(),
              QString::fromUtf8("Ideen & Pläne: Straße — 思维导图"));
    EXPECT_EQ(ImagesWithAlt(page, QStringLiteral("ZetCogitra")), 1);
    EXPECT_EQ(ImagesWithAlt(page, QStringLiteral("ZetGif")), 1);

    const CliRun open = Cli({QStringLiteral("open"), QStringLiteral("--link"), Link(page)});
    ASSERT_EQ(open.status, 0) << open.err.toStdString();
    EXPECT_EQ(open.out, kMap);

    const QString out = m_Dir.filePath(QStringLiteral("opened.json"));
    const CliRun toFile = Cli({QStringLiteral("open"), QStringLiteral("--link"), Link(page),
                               QStringLiteral("--out"), out});
    ASSERT_EQ(toFile.status, 0) << toFile.err.toStdString();
    EXPECT_EQ(QJsonDocument::fromJson(toFile.out).object().value(u"bytes").toInteger(), kMap.size())
        << toFile.out.toStdString();
    QFile file(out);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), kMap);
}

TEST_F(CliOnline, WithoutALinkTheVerbsTakeThePageSelectedInTheDesktopNotebook)
{
    Login();
    ASSERT_TRUE(m_Svc.service().selectPage(m_Svc.demo().imagesPageId));
    const CliRun save
        = Cli({QStringLiteral("save"), QStringLiteral("--json"),
               WriteFile(m_Dir, QStringLiteral("m.json"), kMap), QStringLiteral("--png"),
               WriteFile(m_Dir, QStringLiteral("m.png"), Service::MakePng(8, 8, 0, 0xffffff))});
    ASSERT_EQ(save.status, 0) << save.err.toStdString();
    EXPECT_EQ(ImagesWithAlt(m_Svc.demo().imagesPageId, QStringLiteral("ZetGif")), 1);
    // The page's other pictures stay.
    EXPECT_EQ(ImagesWithAlt(m_Svc.demo().imagesPageId, QStringLiteral("Whiteboard photo")), 1);

    const CliRun open = Cli({QStringLiteral("open")});
    ASSERT_EQ(open.status, 0) << open.err.toStdString();
    EXPECT_EQ(open.out, kMap);

    ASSERT_TRUE(m_Svc.service().selectPage(m_Svc.demo().nonAsciiPageId));
    EXPECT_EQ(Cli({QStringLiteral("open")}).status, 1);
}

TEST_F(CliOnline, RunFailuresNameTheStageAndTheKeysText)
{
    Login();
    ExpectFailure(
        Cli({QStringLiteral("open"), QStringLiteral("--link"), Link(m_Svc.demo().nonAsciiPageId)}),
        QString::fromUtf8("open: looking for the map: the page \"Ideen & Pläne: Straße "
                          "— 思维导图\" holds no map")
            .toUtf8());

    // A page the account does not have (deleted, or not yet synced) is named as not found.
    const QString gone
        = Link(m_Svc.demo().mapPageId)
              .replace(QRegularExpression(QStringLiteral("page-id=\\{[^}]*\\}")),
                       QStringLiteral("page-id={00000000-0000-0000-0000-000000000001}"));
    ExpectFailure(Cli({QStringLiteral("open"), QStringLiteral("--link"), gone}),
                  "open: locating the page: " + English("errPageNotFound"));

    m_Svc.service().setFault(QStringLiteral("pageContent"), {Service::FaultKind::Status, 500});
    ExpectFailure(
        Cli({QStringLiteral("open"), QStringLiteral("--link"), Link(m_Svc.demo().mapPageId)}),
        "open: reading the page: " + English("errGetContentError"));
    m_Svc.service().clearFaults();

    m_Svc.service().setFault(QStringLiteral("patchContent"), {Service::FaultKind::Status, 500});
    ExpectFailure(SaveMap(m_Svc.demo().mapPageId, kMap, true),
                  "save: uploading the picture: " + English("errUploadFailed"));
    m_Svc.service().clearFaults();

    // The first page opened binds the sign-in to its account; another account's page is
    // refused before anything is sent.
    ASSERT_EQ(SaveMap(m_Svc.demo().nonAsciiPageId, kMap).status, 0);
    const auto other = m_Svc.service().createAccount(QStringLiteral("other@example.com"),
                                                     QStringLiteral("pw"), QStringLiteral("Other"));
    ASSERT_TRUE(other);
    const auto notebook = m_Svc.service().createNotebook(other->cid, QStringLiteral("Theirs"));
    const auto section
        = m_Svc.service().createSection(notebook->id, QString(), QStringLiteral("S"));
    const auto page = m_Svc.service().createPage(section->id, QStringLiteral("Their page"));
    ASSERT_TRUE(page);
    m_Svc.service().clearRequestLog();
    ExpectFailure(Cli({QStringLiteral("open"), QStringLiteral("--link"), Link(page->id)}),
                  "open: signing in: " + English("errAccountDiff"));
    EXPECT_TRUE(m_Svc.service().requestLog().empty());
}

TEST_F(CliOnline, OnATerminalTheProgressLineIsDrawnAndClearedBeforeTheResult)
{
    Login();
    ASSERT_EQ(SaveMap(m_Svc.demo().mapPageId, kMap, true).status, 0);
    const CliRun open
        = Cli({QStringLiteral("open"), QStringLiteral("--link"), Link(m_Svc.demo().mapPageId)},
              QByteArray(), true);
    ASSERT_EQ(open.status, 0) << open.err.toStdString();
    EXPECT_EQ(open.out, kMap); // the map alone: progress goes to standard error
    EXPECT_TRUE(open.err.startsWith("\r\x1b[Kcogitra-cli: open: signing in\xe2\x80\xa6"))
        << open.err.toStdString();
    EXPECT_TRUE(open.err.endsWith("\r\x1b[K")) << open.err.toStdString();
    EXPECT_FALSE(open.err.contains('\n'));

    // A failure's line starts on the cleared line.
    const CliRun failed
        = Cli({QStringLiteral("open"), QStringLiteral("--link"), Link(m_Svc.demo().nonAsciiPageId)},
              QByteArray(), true);
    EXPECT_EQ(failed.status, 1);
    const qsizetype cleared = failed.err.lastIndexOf("\r\x1b[K");
    ASSERT_GE(cleared, 0) << failed.err.toStdString();
    EXPECT_TRUE(failed.err.mid(cleared + 4).startsWith("cogitra-cli: open: looking for the map: "))
        << failed.err.toStdString();
    EXPECT_EQ(failed.err.count('\n'), 1);
}

TEST_F(CliOnline, TheProgramExitsWithTheVerbsStatusAndItsErrorLine)
{
    Login();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("COGITRA_DATA_ROOT"), m_Dir.filePath(QStringLiteral("data")));
    const QString program = QStringLiteral(COGITRA_CLI_PATH);

    const CliRun failed = RunProgram(
        program,
        {QStringLiteral("open"), QStringLiteral("--link"), Link(m_Svc.demo().nonAsciiPageId)}, env);
    EXPECT_EQ(failed.status, 1);
    EXPECT_TRUE(failed.out.isEmpty());
    EXPECT_EQ(failed.err.count('\n'), 1) << failed.err.toStdString();
    EXPECT_TRUE(failed.err.startsWith("cogitra-cli: open: looking for the map: "))
        << failed.err.toStdString();
}

} // namespace
