// Reading a downloaded container: the bytes in memory against the format's own rules, the
// same bytes through the file the open job reads, and packing any payload and reading it back.
#include "FuzzSupport.h"

#include "attachment/TZetGifAttachment.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <QByteArray>
#include <QDir>
#include <QString>
#include <QStringDecoder>

#include <cstddef>
#include <cstdint>
#include <optional>

using namespace Cogitra;

namespace {

const QByteArray &TemplateBytes()
{
    static const QByteArray bytes = ReadWholeFile(TZetGifAttachment::TemplatePath()).value();
    return bytes;
}

QByteArray NameField()
{
    QByteArray field("ZetTmp.txt");
    field.append(kContainerNameFieldLength - field.size(), '\0');
    return field;
}

// Valid UTF-8 is exactly what survives a decode and encode unchanged: an invalid sequence
// becomes U+FFFD, a truncated one at the end is held back. A leading byte-order mark is part
// of the map's text.
std::optional<QString> Utf8(const QByteArray &bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom);
    QString text = decoder.decode(bytes);
    if (text.toUtf8() != bytes)
        return std::nullopt;
    return text;
}

// What the format says a container of these bytes holds.
std::optional<QString> Expected(qsizetype templateLength, const QByteArray &container)
{
    if (templateLength < 0 || container.size() - kContainerNameFieldLength < templateLength)
        return std::nullopt;
    if (container.mid(templateLength, kContainerNameFieldLength) != NameField())
        return std::nullopt;
    return Utf8(container.mid(templateLength + kContainerNameFieldLength));
}

const QString &ContainerPath()
{
    static const QString path = QDir(Fuzz::ScratchDir()).filePath(QStringLiteral("ZetFile.gif"));
    return path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider input(data, size);
    const QByteArray &templateBytes = TemplateBytes();
    switch (input.ConsumeIntegralInRange(0, 3)) {
    case 0: {
        // Any template length, including ones past the end and negative ones.
        const auto templateLength = input.ConsumeIntegral<int64_t>();
        const std::string rest = input.ConsumeRemainingBytesAsString();
        const QByteArray bytes(rest.data(), static_cast<qsizetype>(rest.size()));
        FUZZ_CHECK(ParseContainer(templateLength, bytes) == Expected(templateLength, bytes));
        break;
    }
    case 1: {
        // The real template and name field, then whatever the service sent.
        const std::string rest = input.ConsumeRemainingBytesAsString();
        QByteArray bytes = templateBytes + NameField();
        bytes.append(rest.data(), static_cast<qsizetype>(rest.size()));
        FUZZ_CHECK(ParseContainer(templateBytes.size(), bytes)
                   == Utf8(bytes.sliced(templateBytes.size() + kContainerNameFieldLength)));
        break;
    }
    case 2: {
        const std::string rest = input.ConsumeRemainingBytesAsString();
        const QByteArray bytes(rest.data(), static_cast<qsizetype>(rest.size()));
        FUZZ_CHECK(WriteWholeFile(ContainerPath(), bytes));
        FUZZ_CHECK(TZetGifAttachment::TryExtract(ContainerPath())
                   == Expected(templateBytes.size(), bytes));
        break;
    }
    default: {
        const std::string rest = input.ConsumeRemainingBytesAsString();
        const QByteArray payload(rest.data(), static_cast<qsizetype>(rest.size()));
        const QByteArray container = BuildContainer(templateBytes, "ZetTmp.txt", payload);
        FUZZ_CHECK(container.startsWith(templateBytes));
        FUZZ_CHECK(container.size()
                   == templateBytes.size() + kContainerNameFieldLength + payload.size());
        const std::optional<QString> json = ParseContainer(templateBytes.size(), container);
        FUZZ_CHECK(json == Utf8(payload));
        if (json)
            FUZZ_CHECK(json->toUtf8() == payload);
        break;
    }
    }
    return 0;
}
