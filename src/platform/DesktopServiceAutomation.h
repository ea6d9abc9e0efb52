#pragma once

#include "IDesktopAutomation.h"

#include <chrono>
#include <functional>
#include <optional>

namespace Cogitra {

class IClipboard;

// Stands in for OneNote and System Events where there are none: answers the keystroke
// script by asking the desktop notebook (GET {root}/desktop/selection) for the selected
// page's link and putting it on the clipboard as plain text. The script's "delay" lines are
// honoured in order, so the link arrives when OneNote's would. When the notebook does not
// answer with a link, the clipboard is left as it is.
class DesktopServiceAutomation final : public IDesktopAutomation
{
public:
    using Sleep = std::function<void(std::chrono::milliseconds)>;

    DesktopServiceAutomation(IClipboard &clipboard, QString root,
                             std::chrono::milliseconds timeout = std::chrono::seconds(5),
                             Sleep sleep = {});

    void RunAppleScript(const QString &source) override;

    // The selected page's link, or no value when the notebook does not answer 200 with a
    // text.
    [[nodiscard]] std::optional<QString> FetchSelection() const;

    // The root named by COGITRA_DESKTOP_ROOT, without a trailing "/".
    [[nodiscard]] static QString RootFromEnvironment();

private:
    IClipboard &m_Clipboard;
    const QString m_Root;
    const std::chrono::milliseconds m_Timeout;
    const Sleep m_Sleep;
};

} // namespace Cogitra
