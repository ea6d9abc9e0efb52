#include "onenote/ClipFun.h"
#include "platform/DesktopServiceAutomation.h"
#include "platform/MemoryClipboard.h"

#include <httplib.h>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <tuple>

using namespace Cogitra;
using namespace std::chrono_literals;

namespace {

const std::string kLink = "onenote:https://d.docs.live.net/c/Book/Sec.one#T&page-id={P}&end";

// A desktop notebook on loopback that answers the selection route as the test says.
struct DesktopNotebook
{
    DesktopNotebook()
    {
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
    httplib::Server m_Server;
    int m_Port = 0;
    std::thread m_Thread;
};

} // namespace

// Only the copy-link keystroke asks, before its last delay; delays are bounded. Only a whole
// answer (200, non-empty UTF-8 of at most 64 KiB, in time) reaches the clipboard.
TEST(DesktopServiceAutomation, OnlyTheCopyLinkKeystrokeTakesAWholeAnswer)
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
    automation.RunAppleScript(
        "delay 0.25\nkeystroke \"c\" using {command down}\ndelay -3\ndelay x\ndelay 999\n");
    EXPECT_EQ(notebook.requests, 0);
    EXPECT_FALSE(clipboard.text().has_value());
    EXPECT_EQ(sleeps, (std::vector<std::chrono::milliseconds>{250ms, 10s}));

    sleeps.clear();
    automation.RunAppleScript(KeystrokeScript());
    EXPECT_EQ(clipboard.text(), QString::fromStdString(kLink));
    EXPECT_EQ(sleeps, (std::vector<std::chrono::milliseconds>{500ms, 500ms, 500ms}));
    EXPECT_EQ(requestsBeforeLastDelay, 1);

    const std::tuple<int, std::string, bool> cases[] = {
        {200, std::string(64 * 1024, 'x'), true},
        {200, std::string(64 * 1024 + 1, 'x'), false},
        {200, "", false}, // no page selected
        {200, "onenote:https://\xff\xfe", false},
        {404, kLink, false},
        {503, kLink, false},
    };
    const ClipboardContents untouched{{{"application/x-mark", "untouched"}}};
    const auto ask = [&](const QString &root, std::chrono::milliseconds timeout) {
        clipboard.setContents(untouched);
        DesktopServiceAutomation(clipboard, root, timeout, [](std::chrono::milliseconds) {
        }).RunAppleScript(KeystrokeScript());
        return clipboard.contents() == untouched ? std::nullopt : clipboard.text();
    };
    for (const auto &[status, body, taken] : cases) {
        notebook.status = status;
        notebook.body = body;
        EXPECT_EQ(ask(notebook.root(), 2s),
                  taken ? std::optional(QString::fromStdString(body)) : std::nullopt)
            << status << " " << body.size();
    }
    notebook.body = kLink;
    notebook.status = 200;
    notebook.delay = 1500ms;
    EXPECT_EQ(ask(notebook.root(), 300ms), std::nullopt) << "an answer after the time-out";
    EXPECT_EQ(ask("http://127.0.0.1:1", 2s), std::nullopt) << "nothing listening";
    EXPECT_EQ(ask(QString(), 2s), std::nullopt) << "no notebook configured";
}
