#pragma once

#include "IClipboard.h"

class QClipboard;

namespace Cogitra {

// The system's general clipboard through QClipboard. Main thread only.
class QtClipboard final : public IClipboard
{
public:
    QtClipboard();

    [[nodiscard]] ClipboardContents contents() const override;
    void setContents(const ClipboardContents &contents) override;
    void clear() override;
    [[nodiscard]] std::optional<QString> text() const override;
    void setText(const QString &text) override;

private:
    QClipboard *m_Clipboard;
};

} // namespace Cogitra
