#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

#include <optional>

namespace Cogitra {

// Everything on a clipboard: each format (a MIME type) with its bytes, in the order the
// clipboard lists them. Enough to put a user's clipboard back as it was. An image held as a
// picture rather than bytes ("application/x-qt-image") is carried as PNG.
struct ClipboardContents
{
    QList<QPair<QString, QByteArray>> formats;

    [[nodiscard]] bool isEmpty() const { return formats.isEmpty(); }
    bool operator==(const ClipboardContents &) const = default;
};

// The general clipboard. The application uses the system's; the command-line tool and
// tests use one of their own.
class IClipboard
{
public:
    virtual ~IClipboard() = default;

    [[nodiscard]] virtual ClipboardContents contents() const = 0;
    // Empty contents clear the clipboard.
    virtual void setContents(const ClipboardContents &contents) = 0;
    virtual void clear() = 0;
    // The plain text on the clipboard; no value when it holds no text.
    [[nodiscard]] virtual std::optional<QString> text() const = 0;
    virtual void setText(const QString &text) = 0;
};

} // namespace Cogitra
