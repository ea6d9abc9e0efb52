#pragma once

#include "IClipboard.h"

#include <mutex>

namespace Cogitra {

// A clipboard of the process's own, for the command-line tool and tests. Plain text is
// the "text/plain" format in UTF-8, as on the system's clipboard.
class MemoryClipboard final : public IClipboard
{
public:
    [[nodiscard]] ClipboardContents contents() const override;
    void setContents(const ClipboardContents &contents) override;
    void clear() override;
    [[nodiscard]] std::optional<QString> text() const override;
    void setText(const QString &text) override;

private:
    mutable std::mutex m_Mutex;
    ClipboardContents m_Contents;
};

} // namespace Cogitra
