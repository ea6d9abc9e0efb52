#pragma once

#include "platform/IClipboard.h"
#include "platform/IDesktopAutomation.h"

#include <QStringList>

#include <optional>

namespace Cogitra::Test {

// OneNote answering the copy-link keystroke on the clipboard, or not; it keeps what it saw.
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
