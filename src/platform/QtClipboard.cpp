#include "QtClipboard.h"

#include <QBuffer>
#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QMimeData>

namespace Cogitra {

namespace {

// Qt's own image format holds a QImage, not bytes: an image copied inside this process (from
// the editor's web view, say) has no bytes under it. It is kept as PNG and put back as an
// image, so that pasting it still works after discovery borrowed the clipboard.
const QString kQtImageFormat = QStringLiteral("application/x-qt-image");

QByteArray ImageAsPng(const QMimeData &data)
{
    const QImage image = qvariant_cast<QImage>(data.imageData());
    QByteArray png;
    if (image.isNull())
        return png;
    QBuffer buffer(&png);
    if (!buffer.open(QIODevice::WriteOnly) || !image.save(&buffer, "PNG"))
        return {};
    return png;
}

} // namespace

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
    for (const QString &format : formats) {
        if (format == kQtImageFormat) {
            const QByteArray png = ImageAsPng(*data);
            if (!png.isEmpty())
                contents.formats.append({format, png});
            continue;
        }
        contents.formats.append({format, data->data(format)});
    }
    return contents;
}

void QtClipboard::setContents(const ClipboardContents &contents)
{
    if (contents.isEmpty()) {
        m_Clipboard->clear();
        return;
    }
    auto *data = new QMimeData;
    for (const auto &[format, bytes] : contents.formats) {
        if (format == kQtImageFormat) {
            QImage image;
            if (image.loadFromData(bytes, "PNG"))
                data->setImageData(image);
            continue;
        }
        data->setData(format, bytes);
    }
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
