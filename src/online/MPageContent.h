#pragma once

#include <QByteArray>
#include <QString>

// Requests on one page whose online id is known: its HTML, the download of one of its
// image resources into a file, and the update that writes an image onto it.
namespace Cogitra {

class MGraphClient;

class MPageContent
{
public:
    explicit MPageContent(MGraphClient &graph);

    // The page HTML with element ids; empty without a token or user id, on a transport
    // failure, on a reply whose status is not 2xx, when the reply is not UTF-8, or when it
    // is not a whole document (no "</html>").
    [[nodiscard]] QString GetPageContent(const QString &pageId);

    // Writes the resource's bytes to filePath (directly, replacing the file). False, with
    // the file untouched, when nothing was sent, the transport failed, the status is not
    // 2xx, or the URL is not on the Graph host (the request would carry the user's token).
    [[nodiscard]] bool DownloadAttachment(const QString &url, const QString &filePath);

    // Replaces the element imageId with the image, or appends it in a division at the end
    // of the body when imageId is empty. True when the service accepted the update (2xx).
    [[nodiscard]] bool UploadImage(const QString &pageId, const QString &imageId,
                                   const QString &imageText, const QString &altText);

    // The update body, exactly as sent. Quotes in the element id are escaped, since it
    // comes from page HTML; the other values go in unchanged.
    [[nodiscard]] static QByteArray UpdateBody(const QString &imageId, const QString &imageText,
                                               const QString &altText);

    // The page's title as its reader sees it: the text of <title> with its character
    // references decoded in one pass ("&amp;lt;" gives "&lt;"): the five XML names, &nbsp;,
    // and decimal or hexadecimal numbers ended by ";". A number that names no character
    // (0, a surrogate, past U+10FFFF) gives U+FFFD; any other "&" stays as written.
    [[nodiscard]] static QString PageTitle(const QString &pageHtml);

private:
    MGraphClient &m_Graph;
};

} // namespace Cogitra
