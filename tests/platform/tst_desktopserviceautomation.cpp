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

// The notebook's reply goes to the clipboard only when it is a whole answer: status 200, a
// non-empty UTF-8 body of at most 64 KiB, within the time-out. Otherwise the clipboard stays
// as it was.
TEST(DesktopServiceAutomation, ClipboardTakesOnlyAWholeAnswer)
{
    const struct
    {
        const char *why;
        int status;
        std::string body;
        std::chrono::milliseconds delay;
        std::chrono::milliseconds timeout;
        bool taken;
    } cases[] = {
        {"a reply of the longest length", 200, std::string(64 * 1024, 'x'), 0ms, 2s, true},
        {"a reply one byte longer", 200, std::string(64 * 1024 + 1, 'x'), 0ms, 2s, false},
        {"no page selected", 200, "", 0ms, 2s, false},
        {"not UTF-8", 200, "onenote:https://\xff\xfe", 0ms, 2s, false},
        {"no content", 204, kLink, 0ms, 2s, false},
        {"not found", 404, kLink, 0ms, 2s, false},
        {"server error", 500, kLink, 0ms, 2s, false},
        {"unavailable", 503, kLink, 0ms, 2s, false},
        {"an answer after the time-out", 200, kLink, 1500ms, 300ms, false},
    };
    const auto noSleep = [](std::chrono::milliseconds) {
    };
    const ClipboardContents untouched{{{"application/x-mark", "untouched"}}};
    DesktopNotebook notebook;
    MemoryClipboard clipboard;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.why);
        notebook.status = c.status;
        notebook.body = c.body;
        notebook.delay = c.delay;
        clipboard.setContents(untouched);
        DesktopServiceAutomation(clipboard, notebook.root(), c.timeout, noSleep)
            .RunAppleScript(KeystrokeScript());
        if (c.taken)
            EXPECT_EQ(clipboard.text(), QString::fromStdString(c.body));
        else
            EXPECT_EQ(clipboard.contents(), untouched);
    }
    for (const QString &root : {ClosedRoot(), QString()}) {
        clipboard.setContents(untouched);
        DesktopServiceAutomation(clipboard, root, 2s, noSleep).RunAppleScript(KeystrokeScript());
        EXPECT_EQ(clipboard.contents(), untouched) << "nothing listening, or no root configured";
    }
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
