#include "CliRunner.h"
#include "ServiceFixture.h"
#include "cli/SessionVerbs.h"
#include "online/MEndpoints.h"
#include "online/MGraphClient.h"
#include "util/MConfig.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

using namespace Cogitra;
using namespace Cogitra::Testing;

// The application and cogitra-cli share one configuration file and one account. Each
// refresh token is spent by its use, so a program that renews with one the other has
// already spent is refused and signed out.
namespace {

TEST(SharedConfiguration, CoreAndCliRenewingAtOnceBothStaySignedIn)
{
    ServiceFixture svc;
    ServiceFixture::Setup setup;
    setup.demo = true;
    setup.requestTimeoutMs = "5000";
    ASSERT_NO_FATAL_FAILURE(svc.start(setup));
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    SessionOptions options;
    options.dataRoot = dir.filePath(QStringLiteral("data"));

    // Signed in through cogitra-cli, as a person does.
    const std::vector<CliVerb> verbs = AllVerbs(options);
    const CliRun prompt = RunVerbs(verbs, {QStringLiteral("login")});
    const QString redirect = svc.signInInBrowser(QString::fromUtf8(prompt.out.split('\n')[0]));
    ASSERT_FALSE(redirect.isEmpty());
    ASSERT_EQ(RunVerbs(verbs, {QStringLiteral("login")}, redirect.toUtf8() + "\n").status, 0);
    const QString configFile = g_ConfigFile.get();

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("COGITRA_DATA_ROOT"), options.dataRoot);
    const QStringList open{QStringLiteral("open"), QStringLiteral("--link"),
                           svc.service().pageDesktopLink(svc.demo().mapPageId)};
    // Slow renewals, so that the two programs' overlap.
    Service::Fault slow;
    slow.kind = Service::FaultKind::Delay;
    slow.delayMs = 300;
    svc.service().setFault(QStringLiteral("token"), slow);

    for (int round = 0; round < 4; ++round) {
        SCOPED_TRACE(round);
        svc.service().expireAccessTokens();
        // The core renews after its 401, while the program renews for its own.
        std::thread core([round] {
            std::this_thread::sleep_for(std::chrono::milliseconds(80 * round));
            MOnlineClients clients;
            clients.graph.RetrieveUserIdByToken();
        });
        const CliRun cli = RunProgram(QStringLiteral(COGITRA_CLI_PATH), open, env);
        core.join();
        EXPECT_EQ(cli.status, 0) << cli.err.toStdString();
        EXPECT_FALSE(cli.out.isEmpty());
        EXPECT_FALSE(g_UserId.isEmpty()) << "the core was signed out";
        EXPECT_FALSE(g_RefreshToken.isEmpty());
    }
    svc.service().clearFaults();

    // The file is whole and holds the last renewal's tokens; they still work for both.
    const MConfig config(configFile);
    ASSERT_TRUE(config.hasDictionary());
    EXPECT_FALSE(QFile::exists(configFile + u".damaged"));
    const QString stored
        = config.ReadValueDefStr(QStringLiteral("OnlineOneNoteRefreshToken"), QString()).toString();
    EXPECT_FALSE(stored.isEmpty());
    svc.service().expireAccessTokens();
    EXPECT_EQ(RunProgram(QStringLiteral(COGITRA_CLI_PATH), open, env).status, 0);
    svc.service().expireAccessTokens();
    MOnlineClients clients;
    clients.graph.RetrieveUserIdByToken();
    EXPECT_FALSE(g_UserId.isEmpty());
}

} // namespace
