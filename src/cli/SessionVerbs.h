#pragma once

#include "CliVerbs.h"

#include <chrono>
#include <functional>
#include <memory>
#include <vector>

// The verbs that work with an account, on the application's own core: login, status, open,
// pages and save share the application's data folder, configuration and reply cache, and run
// their jobs on the same worker, so a sign-in made in one serves the other.
namespace Cogitra {

class IClipboard;
class IDesktopAutomation;

struct SessionOptions
{
    // Replaces the per-user data location when not empty (otherwise COGITRA_DATA_ROOT or
    // the platform's own, as in the application).
    QString dataRoot;
    // Makes what answers page discovery; empty: the platform's (OneNote on macOS, the
    // desktop notebook named by COGITRA_DESKTOP_ROOT elsewhere).
    std::function<std::unique_ptr<IDesktopAutomation>(IClipboard &)> makeAutomation;
    // The clipboard that discovery reads the link from and puts back; empty: one of the
    // process's own, which the desktop notebook writes to. Where OneNote copies the link
    // itself (macOS), this must be the system's.
    std::function<std::unique_ptr<IClipboard>()> makeClipboard;
    // How often the progress line is redrawn while a job runs.
    std::chrono::milliseconds progressInterval{100};
};

// cogitra-cli save's exit status when the page holds a map it may not replace unasked.
inline constexpr int kExitUnseenMap = 3;

// login, status, open, pages, save.
[[nodiscard]] std::vector<CliVerb> SessionVerbs(SessionOptions options = {});

// Every verb of cogitra-cli: the session verbs and the tool verbs.
[[nodiscard]] std::vector<CliVerb> AllVerbs(SessionOptions options = {});

namespace Internal {

// Why the JSON is no map the editor page can open ("is not a map …", to follow the file's
// name), or empty when it is one.
[[nodiscard]] QString WhyNotAMap(const QByteArray &json);

// What a worker's step code says the job was doing, for progress and error lines.
[[nodiscard]] QString StageOfStep(int64_t stepCode);

// The code in what the user pasted after signing in: the "code" field of a redirect
// address holding "?code=", or a bare code. Empty when there is none, or when a bare text
// holds characters that no code has (it is sent unencoded in a form body).
[[nodiscard]] QString CodeFromPastedText(const QString &pasted);

} // namespace Internal

} // namespace Cogitra
