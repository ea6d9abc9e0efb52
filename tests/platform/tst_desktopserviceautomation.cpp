#include "onenote/ClipFun.h"
#include "platform/DesktopServiceAutomation.h"
#include "platform/MemoryClipboard.h"

#include <httplib.h>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

using namespace Cogitra;
using namespace std::chrono_literals;

namespace {

const std::string kLink = "onenote:https://d.docs.live.net/0b7d4e2a9c315f68/Documenten/TEST/"
                          "New%20Section%201.one#Problemen%20MHZ&section-id={B065EC60-B8DD-4F52-"
                          "9907-1C2DD8EC417C}&page-id={C12E883F-0B36-4C51-96CF-D6852A271E59}&end";

// A desktop notebook on loopback that answers the selection route as the test says.
class DesktopNotebook
{
public:
    DesktopNotebook()
    {
        m_Server.set_keep_alive_timeout(1);
        m_Server.Get("/desktop/selection",
                     [this](const httplib::Request &, httplib::Response &res) {
                         ++requests;
                         if (delay > 0ms)
                             std::this_thread::sleep_for(delay);
                         res.status = status;
                         res.set_content(body, "text/plain; charset=utf-8");
                     });
        m_Port = m_Server.bind_to_any_port("127.0.0.1");
        m_Thread = std::thread([this] { m_Server.listen_after_bind(); });
        for (int i = 0; i < 500 && !m_Server.is_running(); ++i)
            std::this_thread::sleep_for(2ms);
    }
    ~DesktopNotebook()
    {
        m_Server.stop();
        m_Thread.join();
    }

    QString root() const { return QStringLiteral("http://127.0.0.1:%1").arg(m_Port); }

    std::string body = kLink;
    int status = 200;
    std::chrono::milliseconds delay = 0ms;
    std::atomic<int> requests = 0;

private:
    httplib::Server m_Server;
    int m_Port = 0;
    std::thread m_Thread;
};

// A port that nothing listens on: bound, then closed.
QString ClosedRoot()
{
    httplib::Server server;
    const int port = server.bind_to_any_port("127.0.0.1");
    server.stop();
    return QStringLiteral("http://127.0.0.1:%1").arg(port);
}

} // namespace

TEST(DesktopServiceAutomation, AnswersTheKeystrokeWithTheSelectedLink)
{
    DesktopNotebook notebook;
    MemoryClipboard clipboard;
    std::vector<std::chrono::milliseconds> sleeps;
    int requestsBeforeLastDelay = -1;
    DesktopServiceAutomation automation(clipboard, notebook.root(), 5s,
                                        [&](std::chrono::milliseconds span) {
                                            sleeps.push_back(span);
                                            if (sleeps.size() == 3)
                                                requestsBeforeLastDelay = notebook.requests;
                                        });
    automation.RunAppleScript(KeystrokeScript());
    EXPECT_EQ(clipboard.text(), QString::fromStdString(kLink));
    EXPECT_EQ(sleeps, (std::vector<std::chrono::milliseconds>{500ms, 500ms, 500ms}));
    EXPECT_EQ(requestsBeforeLastDelay, 1) << "the link comes between the second and third delay";
}

TEST(DesktopServiceAutomation, ClipboardStaysAsItWasWhenTheNotebookDoesNotAnswer)
{
    const auto noSleep = [](std::chrono::milliseconds) {
    };
    MemoryClipboard clipboard;
    const ClipboardContents untouched{{{"application/x-mark", "untouched"}}};

    clipboard.setContents(untouched);
    DesktopServiceAutomation(clipboard, ClosedRoot(), 2s, noSleep)
        .RunAppleScript(KeystrokeScript());
    EXPECT_EQ(clipboard.contents(), untouched) << "nothing listening";

    DesktopServiceAutomation(clipboard, QString(), 2s, noSleep).RunAppleScript(KeystrokeScript());
    EXPECT_EQ(clipboard.contents(), untouched) << "no desktop root configured";

    DesktopNotebook notebook;
    for (const int status : {204, 404, 500, 503}) {
        notebook.status = status;
        DesktopServiceAutomation(clipboard, notebook.root(), 2s, noSleep)
            .RunAppleScript(KeystrokeScript());
        EXPECT_EQ(clipboard.contents(), untouched) << status;
    }

    notebook.status = 200;
    notebook.body.clear();
    DesktopServiceAutomation(clipboard, notebook.root(), 2s, noSleep)
        .RunAppleScript(KeystrokeScript());
    EXPECT_EQ(clipboard.contents(), untouched) << "no page selected";

    notebook.body = std::string(100 * 1024, 'x');
    DesktopServiceAutomation(clipboard, notebook.root(), 2s, noSleep)
        .RunAppleScript(KeystrokeScript());
    EXPECT_EQ(clipboard.contents(), untouched) << "a reply far too long to be a link";

    notebook.body = "onenote:https://\xff\xfe";
    DesktopServiceAutomation(clipboard, notebook.root(), 2s, noSleep)
        .RunAppleScript(KeystrokeScript());
    EXPECT_EQ(clipboard.contents(), untouched) << "not UTF-8";

    notebook.body = kLink;
    notebook.delay = 1500ms;
    DesktopServiceAutomation(clipboard, notebook.root(), 300ms, noSleep)
        .RunAppleScript(KeystrokeScript());
    EXPECT_EQ(clipboard.contents(), untouched) << "an answer after the time-out";
}

TEST(DesktopServiceAutomation, OnlyTheCopyLinkKeystrokeAsksTheNotebook)
{
    DesktopNotebook notebook;
    MemoryClipboard clipboard;
    std::vector<std::chrono::milliseconds> sleeps;
    DesktopServiceAutomation automation(
        clipboard, notebook.root(), 2s,
        [&](std::chrono::milliseconds span) { sleeps.push_back(span); });
    automation.RunAppleScript(
        "delay 0.25\nkeystroke \"c\" using {command down}\ndelay -3\ndelay x\n"
        "delay 999\n");
    EXPECT_EQ(notebook.requests, 0);
    EXPECT_FALSE(clipboard.text().has_value());
    EXPECT_EQ(sleeps, (std::vector<std::chrono::milliseconds>{250ms, 10s})) << "delays are bounded";
}
