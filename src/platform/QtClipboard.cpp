#include "QtClipboard.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

namespace Cogitra {

QtClipboard::QtClipboard()
    : m_Clipboard(QGuiApplication::clipboard())
{}

ClipboardContents QtClipboard::contents() const
{
    ClipboardContents contents;
    const QMimeData *data = m_Clipboard->mimeData();
    if (data == nullptr)
        return contents;
    const QStringList formats = data->formats();
    for (const QString &format : formats)
        contents.formats.append({format, data->data(format)});
    return contents;
}

void QtClipboard::setContents(const ClipboardContents &contents)
{
    if (contents.isEmpty()) {
        m_Clipboard->clear();
        return;
    }
    auto *data = new QMimeData;
    for (const auto &[format, bytes] : contents.formats)
        data->setData(format, bytes);
    m_Clipboard->setMimeData(data); // the clipboard owns it
}

void QtClipboard::clear()
{
    m_Clipboard->clear();
}

std::optional<QString> QtClipboard::text() const
{
    const QMimeData *data = m_Clipboard->mimeData();
    if (data == nullptr || !data->hasText())
        return std::nullopt;
    return data->text();
}

void QtClipboard::setText(const QString &text)
{
    m_Clipboard->setText(text);
}

} // namespace Cogitra
