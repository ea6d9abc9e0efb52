#pragma once

#include <QByteArray>
#include <QString>

#include "util/MLimits.h"

#include <optional>

// The container that carries a map on its page: the template picture "ZetData.gif", byte
// for byte, then a 255-byte name field ("ZetTmp.txt" and zero bytes), then the map's JSON
// in UTF-8 up to the end of the file. Image viewers stop at the template's trailer; the map
// is found only by skipping the template's length, so that length is fixed forever.
//
// Every operation may run on any thread. Packing and extraction through the fixed files in
// g_AppDataDir are serialised within the process.
namespace Cogitra {

inline constexpr qsizetype kContainerNameFieldLength = 255;

class TZetGifAttachment
{
public:
    TZetGifAttachment() = delete;

    // The source URL of the first image whose alternative text is "ZetGif", or empty. The
    // service may give there a rendition of the picture rather than the stored bytes.
    [[nodiscard]] static QString GetZetGifUrlFromPageHtml(const QString &pageHtml);
    // The same image's data-fullres-src: the address of the bytes as they were stored.
    [[nodiscard]] static QString GetZetGifOriginalUrlFromPageHtml(const QString &pageHtml);
    // The element id of the first image whose alternative text is altStr, or empty.
    [[nodiscard]] static QString GetZetGifIdFromPageHtml(const QString &pageHtml,
                                                         const QString &altStr);

    // The JSON carried by a downloaded container; empty when the file is short, damaged
    // or not UTF-8 (TryExtract tells these apart from an empty map).
    [[nodiscard]] static QString Extract(const QString &containerPath);
    [[nodiscard]] static std::optional<QString> TryExtract(const QString &containerPath);

    // Writes the JSON to "ZetTmp.txt" and returns the base64 of the container built around
    // it in "ZetFile.gif" (both in g_AppDataDir); empty when a file cannot be read or
    // written.
    [[nodiscard]] static QString Package(const QString &json);

    // The template in the application's resources.
    [[nodiscard]] static QString TemplatePath();
    [[nodiscard]] static QString PayloadFileName();   // "ZetTmp.txt"
    [[nodiscard]] static QString ContainerFileName(); // "ZetFile.gif"
};

// The container bytes: template, name field, payload. Empty when the name is empty or
// longer than the name field.
[[nodiscard]] QByteArray BuildContainer(const QByteArray &templateBytes, const QByteArray &name,
                                        const QByteArray &payload);

// The payload of a container whose template is templateLength bytes long; no value when
// the bytes are too short, the name field is not "ZetTmp.txt" and zero bytes, or the
// payload is not UTF-8.
[[nodiscard]] std::optional<QString> ParseContainer(qsizetype templateLength,
                                                    const QByteArray &container);

// ReadContainerJson with failures told apart: no value when a file cannot be read or the
// container is damaged.
[[nodiscard]] std::optional<QString> ReadContainerPayload(const QString &templatePath,
                                                          const QString &containerPath);
// The payload as text; empty on any failure.
[[nodiscard]] QString ReadContainerJson(const QString &templatePath, const QString &containerPath);

// Writes template, the payload file's name in the name field, and the payload file to
// outputPath atomically. False when a file cannot be read or written.
[[nodiscard]] bool WriteContainerFile(const QString &templatePath, const QString &payloadPath,
                                      const QString &outputPath);

// The file's bytes in standard base64 without line breaks; empty when it cannot be read.
[[nodiscard]] QString FileToBase64(const QString &path);

// Reads a whole file of at most maxBytes; no value when it cannot be opened, is larger, or
// a read fails.
[[nodiscard]] std::optional<QByteArray> ReadWholeFile(const QString &path,
                                                      qsizetype maxBytes = kMaxContainerBytes);
// Writes bytes to a file atomically (a temporary moved into place).
[[nodiscard]] bool WriteWholeFile(const QString &path, const QByteArray &bytes);

} // namespace Cogitra
