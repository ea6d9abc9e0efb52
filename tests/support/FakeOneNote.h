#pragma once

#include "platform/IClipboard.h"
#include "platform/IDesktopAutomation.h"

#include <QStringList>

#include <optional>

namespace Cogitra::Test {

// OneNote as the copy-link keystroke finds it: it puts its answer on the clipboard, or does
// nothing. It keeps the scripts it ran and the clipboard as each script left it.
class FakeOneNote final : public IDesktopAutomation
{
public:
    explicit FakeOneNote(IClipboard &clipboard)
        : m_Clipboard(clipboard)
    {}
    void RunAppleScript(const QString &source) override
    {
        scripts.append(source);
        clipboardAtKeystroke = m_Clipboard.contents();
        if (answer)
            m_Clipboard.setContents(*answer);
    }

    std::optional<ClipboardContents> answer;
    QStringList scripts;
    ClipboardContents clipboardAtKeystroke;

private:
    IClipboard &m_Clipboard;
};

} // namespace Cogitra::Test
