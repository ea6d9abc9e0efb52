#include "MemoryClipboard.h"

namespace Cogitra {

namespace {
const QString kPlainText = QStringLiteral("text/plain");
}

ClipboardContents MemoryClipboard::contents() const
{
    std::scoped_lock lock(m_Mutex);
    return m_Contents;
}

void MemoryClipboard::setContents(const ClipboardContents &contents)
{
    std::scoped_lock lock(m_Mutex);
    m_Contents = contents;
}

void MemoryClipboard::clear()
{
    std::scoped_lock lock(m_Mutex);
    m_Contents = {};
}

std::optional<QString> MemoryClipboard::text() const
{
    std::scoped_lock lock(m_Mutex);
    for (const auto &[format, bytes] : m_Contents.formats) {
        if (format == kPlainText)
            return QString::fromUtf8(bytes);
    }
    return std::nullopt;
}

void MemoryClipboard::setText(const QString &text)
{
    std::scoped_lock lock(m_Mutex);
    m_Contents.formats = {{kPlainText, text.toUtf8()}};
}

} // namespace Cogitra
