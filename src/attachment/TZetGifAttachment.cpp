#include "TZetGifAttachment.h"

#include "util/MGlobals.h"
#include "util/MUtils.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringDecoder>
#include <QTemporaryFile>

#include <filesystem>
#include <mutex>

// Q_INIT_RESOURCE names a function in the global namespace.
static void InitAttachmentResources()
{
    Q_INIT_RESOURCE(attachment);
}

namespace Cogitra {

namespace {

const QString kPayloadFileName = QStringLiteral("ZetTmp.txt");
const QString kContainerFileName = QStringLiteral("ZetFile.gif");
const QString kImageStart = QStringLiteral("<img");
const QString kImageEnd = QStringLiteral(">");
const QString kQuote = QStringLiteral("\"");

// "ZetTmp.txt" and "ZetFile.gif" are shared by every pack and every open of the process.
std::mutex &DataFileMutex()
{
    static std::mutex mutex;
    return mutex;
}

bool IsHtmlSpace(QChar c)
{
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r' || c == u'\f';
}

// The value of the attribute called name in one element: its name must stand on its own,
// after white space, so that data-id="..." is not read as id="..." nor data-fullres-src="..."
// as src="...". The value runs to the next quote and stays as written.
QString AttributeValue(const QString &element, const QString &name)
{
    const QString marker = name + QStringLiteral("=\"");
    for (int64_t at = IndexOfFrom(element, marker, 0); at >= 0;
         at = IndexOfFrom(element, marker, at + 1)) {
        if (at == 0 || !IsHtmlSpace(element.at(at - 1)))
            continue;
        const int64_t valueStart = at + marker.size();
        const int64_t close = IndexOfFrom(element, kQuote, valueStart);
        return close < 0 ? QString() : element.mid(valueStart, close - valueStart);
    }
    return {};
}

// The first image element (in document order) whose alternative text is wanted, then the
// value of the attribute called attributeName in that element.
QString AttributeOfImage(const QString &pageHtml, const QString &wanted,
                         const QString &attributeName)
{
    // An empty wanted text would match every image without an alternative text, and the
    // save job would replace a picture that is not ours.
    if (wanted.isEmpty())
        return {};
    int64_t position = 0;
    // Each element found moves the position past its ">", so the walk ends.
    while (position < pageHtml.size()) {
        int64_t start = 0;
        int64_t end = 0;
        const QString element
            = TextSpanBetween(pageHtml, kImageStart, kImageEnd, position, start, end);
        if (element.isEmpty())
            return {};
        position = end;
        if (AttributeValue(element, QStringLiteral("alt")) == wanted)
            return AttributeValue(element, attributeName);
    }
    return {};
}

QString DataFilePath(const QString &name)
{
    const QString dir = g_AppDataDir.get();
    // Without a data folder the files would land wherever the process was started.
    if (dir.isEmpty())
        return {};
    return QDir(dir).filePath(name);
}

std::optional<QString> DecodeUtf8(const QByteArray &bytes)
{
    // A leading U+FEFF belongs to the map's text; keep it so the round trip is exact.
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom
                                                     | QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

// The container is built once in memory, written once (synced) to "ZetFile.gif", and its
// base64 taken from the same bytes rather than from the file read back.
QString ContainerBase64Locked(const QString &payloadPath, const QByteArray &payload)
{
    const QString containerPath = DataFilePath(kContainerFileName);
    if (containerPath.isEmpty())
        return {};
    const std::optional<QByteArray> templateBytes
        = ReadWholeFile(TZetGifAttachment::TemplatePath());
    if (!templateBytes || templateBytes->isEmpty())
        return {};
    const QByteArray container
        = BuildContainer(*templateBytes, QFileInfo(payloadPath).fileName().toUtf8(), payload);
    if (container.isEmpty() || !WriteWholeFile(containerPath, container))
        return {};
    return QString::fromLatin1(container.toBase64());
}

// Replaces the file at once, as WriteWholeFile does, without waiting for the disk: a copy
// that nothing reads back need not survive a power cut, and the sync would cost as much as
// the container's own.
bool WriteScratchFile(const QString &path, const QByteArray &bytes)
{
    QTemporaryFile file(path + QStringLiteral(".XXXXXX"));
    file.setAutoRemove(false);
    if (!file.open())
        return false;
    const bool written = file.write(bytes) == bytes.size() && file.flush();
    file.close();
    std::error_code error;
    if (written)
        std::filesystem::rename(QFile::encodeName(file.fileName()).toStdString(),
                                QFile::encodeName(path).toStdString(), error);
    if (!written || error) {
        file.remove();
        return false;
    }
    return true;
}

} // namespace

QString TZetGifAttachment::GetZetGifUrlFromPageHtml(const QString &pageHtml)
{
    return AttributeOfImage(pageHtml, QStringLiteral("ZetGif"), QStringLiteral("src"));
}

QString TZetGifAttachment::GetZetGifOriginalUrlFromPageHtml(const QString &pageHtml)
{
    return AttributeOfImage(pageHtml, QStringLiteral("ZetGif"), QStringLiteral("data-fullres-src"));
}

QString TZetGifAttachment::GetZetGifIdFromPageHtml(const QString &pageHtml, const QString &altStr)
{
    return AttributeOfImage(pageHtml, altStr, QStringLiteral("id"));
}

QString TZetGifAttachment::Extract(const QString &containerPath)
{
    return TryExtract(containerPath).value_or(QString());
}

std::optional<QString> TZetGifAttachment::TryExtract(const QString &containerPath)
{
    std::scoped_lock lock(DataFileMutex());
    return ReadContainerPayload(TemplatePath(), containerPath);
}

QString TZetGifAttachment::Package(const QString &json)
{
    const QByteArray payload = json.toUtf8();
    // A map that opening would refuse must never replace the one on the page.
    if (payload.size() > kMaxMapBytes)
        return {};
    std::scoped_lock lock(DataFileMutex());
    const QString payloadPath = DataFilePath(kPayloadFileName);
    if (payloadPath.isEmpty() || !WriteScratchFile(payloadPath, payload))
        return {};
    return ContainerBase64Locked(payloadPath, payload);
}

QString TZetGifAttachment::TemplatePath()
{
    static std::once_flag once;
    std::call_once(once, InitAttachmentResources);
    return QStringLiteral(":/cogitra/ZetData.gif");
}

QString TZetGifAttachment::PayloadFileName()
{
    return kPayloadFileName;
}

QString TZetGifAttachment::ContainerFileName()
{
    return kContainerFileName;
}

QByteArray BuildContainer(const QByteArray &templateBytes, const QByteArray &name,
                          const QByteArray &payload)
{
    if (name.isEmpty() || name.size() > kContainerNameFieldLength)
        return {};
    QByteArray container;
    container.reserve(templateBytes.size() + kContainerNameFieldLength + payload.size());
    container.append(templateBytes);
    container.append(name);
    container.append(kContainerNameFieldLength - name.size(), '\0');
    container.append(payload);
    return container;
}

std::optional<QString> ParseContainer(qsizetype templateLength, const QByteArray &container)
{
    if (templateLength < 0 || container.size() - kContainerNameFieldLength < templateLength)
        return std::nullopt;
    const QByteArray expectedName = kPayloadFileName.toUtf8();
    const QByteArrayView field
        = QByteArrayView(container).sliced(templateLength, kContainerNameFieldLength);
    if (!field.startsWith(expectedName))
        return std::nullopt;
    for (qsizetype i = expectedName.size(); i < field.size(); ++i) {
        if (field[i] != '\0')
            return std::nullopt;
    }
    return DecodeUtf8(container.sliced(templateLength + kContainerNameFieldLength));
}

std::optional<QString> ReadContainerPayload(const QString &templatePath,
                                            const QString &containerPath)
{
    const std::optional<QByteArray> templateBytes = ReadWholeFile(templatePath);
    if (!templateBytes || templateBytes->isEmpty())
        return std::nullopt;
    const std::optional<QByteArray> container = ReadWholeFile(containerPath);
    if (!container)
        return std::nullopt;
    return ParseContainer(templateBytes->size(), *container);
}

QString ReadContainerJson(const QString &templatePath, const QString &containerPath)
{
    return ReadContainerPayload(templatePath, containerPath).value_or(QString());
}

bool WriteContainerFile(const QString &templatePath, const QString &payloadPath,
                        const QString &outputPath)
{
    const QByteArray name = QFileInfo(payloadPath).fileName().toUtf8();
    const std::optional<QByteArray> templateBytes = ReadWholeFile(templatePath);
    if (!templateBytes || templateBytes->isEmpty())
        return false;
    const std::optional<QByteArray> payload = ReadWholeFile(payloadPath);
    if (!payload)
        return false;
    const QByteArray container = BuildContainer(*templateBytes, name, *payload);
    return !container.isEmpty() && WriteWholeFile(outputPath, container);
}

QString FileToBase64(const QString &path)
{
    const std::optional<QByteArray> bytes = ReadWholeFile(path);
    if (!bytes)
        return {};
    return QString::fromLatin1(bytes->toBase64());
}

std::optional<QByteArray> ReadWholeFile(const QString &path, qsizetype maxBytes)
{
    QFile file(path);
    if (path.isEmpty() || !file.open(QIODevice::ReadOnly))
        return std::nullopt;
    if (file.size() > maxBytes)
        return std::nullopt;
    QByteArray bytes = file.readAll();
    if (bytes.size() > maxBytes || file.error() != QFileDevice::NoError)
        return std::nullopt;
    return bytes;
}

bool WriteWholeFile(const QString &path, const QByteArray &bytes)
{
    if (path.isEmpty())
        return false;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    if (file.write(bytes) != bytes.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

} // namespace Cogitra
