#pragma once

#include "CliRunner.h"
#include "ServiceFixture.h"
#include "cli/SessionVerbs.h"
#include "platform/DesktopServiceAutomation.h"

#include <QProcessEnvironment>

// cogitra-cli's session verbs against the local notebook service's demo account, on a data
// folder of the test's own: in this process (as main runs them) or as the real program.
namespace Cogitra::Testing {

class CliSession : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_Dir.isValid());
        ASSERT_NO_FATAL_FAILURE(m_Svc.start({.demo = true, .requestTimeoutMs = "5000"}));
    }

    CliRun Cli(const QStringList &arguments, const QByteArray &input = {}, bool onTerminal = false)
    {
        SessionOptions options;
        options.dataRoot = dataRoot();
        options.progressInterval = std::chrono::milliseconds(5);
        options.makeAutomation = [root = m_Svc.rootUrl()](IClipboard &clipboard) {
            return std::make_unique<DesktopServiceAutomation>(
                clipboard, root, std::chrono::seconds(5), [](std::chrono::milliseconds) {});
        };
        return RunVerbs(AllVerbs(options), arguments, input, onTerminal);
    }

    // Signs in as a person does, pasting back the redirect: that address; m_LoginRun the run.
    QString login()
    {
        const QString authorize = QString::fromUtf8(Cli({"login"}).out.split('\n').value(0));
        const QString redirect = m_Svc.signInInBrowser(authorize);
        m_LoginRun = Cli({"login"}, redirect.toUtf8() + "\n");
        EXPECT_EQ(m_LoginRun.status, 0) << m_LoginRun.err.toStdString();
        return redirect;
    }

    QStringList saveArguments(const QString &pageId, const QByteArray &map,
                              bool replace = false) const
    {
        const QString json = WriteFile(m_Dir, "map.json", map);
        const QString png
            = WriteFile(m_Dir, "map.png", Service::MakePng(320, 200, 0x3366cc, 0xffffff));
        return QStringList{"save", "--link", link(pageId), "--json", json, "--png", png}
               + (replace ? QStringList{"--replace"} : QStringList{});
    }
    CliRun save(const QString &pageId, const QByteArray &map, bool replace = false)
    {
        return Cli(saveArguments(pageId, map, replace));
    }
    CliRun open(const QString &pageId) { return Cli({"open", "--link", link(pageId)}); }

    // cogitra-cli itself, on the test's data folder; killed killAfterMs after its start.
    CliRun program(const QStringList &arguments, qint64 killAfterMs = -1) const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("COGITRA_DATA_ROOT", dataRoot());
        env.remove("COGITRA_CLI_DIAGNOSTICS");
        return RunProgram(QStringLiteral(COGITRA_CLI_PATH), arguments, env, killAfterMs);
    }

    [[nodiscard]] QString dataRoot() const { return m_Dir.filePath("data"); }
    [[nodiscard]] QString link(const QString &pageId) const
    {
        return m_Svc.service().pageDesktopLink(pageId);
    }

    ServiceFixture m_Svc;
    QTemporaryDir m_Dir;
    CliRun m_LoginRun;
};

} // namespace Cogitra::Testing
