#pragma once

#include "IClipboard.h"

namespace Cogitra {

// macOS: the general pasteboard through AppKit, without Qt Gui, so that cogitra-cli reads the
// link OneNote copies there and puts the user's pasteboard back afterwards. Formats are the
// pasteboard's own types (uniform type identifiers such as "public.utf8-plain-text"), not
// MIME types, and a format with an empty name starts the next item (several files copied in
// the Finder are several items): what contents() returns is for setContents() to put back.
class MacPasteboard final : public IClipboard
{
public:
    [[nodiscard]] ClipboardContents contents() const override;
    void setContents(const ClipboardContents &contents) override;
    void clear() override;
    [[nodiscard]] std::optional<QString> text() const override;
    void setText(const QString &text) override;
};

} // namespace Cogitra
