#include "MPageContent.h"

#include "MEndpoints.h"
#include "MGraphClient.h"
#include "MHttp.h"
#include "attachment/TZetGifAttachment.h"
#include "util/MGlobals.h"
#include "util/MUtils.h"

namespace Cogitra {
namespace {

QString PagePath(const QString &pageId)
{
    return GraphUserBaseUrl(g_UserId.get()) + QStringLiteral("/onenote/pages/") + pageId
           + QStringLiteral("/content");
}

QString EscapeQuotedValue(QString value)
{
    value.replace(u'\\', QStringLiteral("\\\\"));
    value.replace(u'\'', QStringLiteral("\\'"));
    return value;
}

} // namespace

MPageContent::MPageContent(MGraphClient &graph)
    : m_Graph(graph)
{}

QString MPageContent::GetPageContent(const QString &pageId)
{
    MGraphRequest request;
    request.url = PagePath(pageId) + QStringLiteral("?includeIDs=true");
    request.guard = MGraphGuard::TokenAndUser;
    request.maxReplyBytes = kMaxPageHtmlBytes;
    const MGraphReply reply = m_Graph.Send(request);
    if (!reply.isSuccess())
        return QString();
    // The service sends the whole document. A page cut short may have lost its images:
    // read as a page without a map, its map would be shown empty and then saved over.
    const QString html = DecodeUtf8(reply.http.body);
    if (!html.contains(QLatin1String("</html>"), Qt::CaseInsensitive))
        return QString();
    return html;
}

bool MPageContent::DownloadAttachment(const QString &url, const QString &filePath)
{
    if (!IsGraphUrl(url))
        return false;
    MGraphRequest request;
    request.url = url;
    request.guard = MGraphGuard::TokenAndUser;
    request.maxReplyBytes = kMaxContainerBytes;
    const MGraphReply reply = m_Graph.Send(request);
    if (!reply.isSuccess())
        return false;
    // Replaced whole: a run that dies mid-write leaves the last container, not a part of one.
    return WriteWholeFile(filePath, reply.http.body);
}

QByteArray MPageContent::UpdateBody(const QString &imageId, const QString &imageText,
                                    const QString &altText)
{
    const QString element
        = Contains(imageText, QStringLiteral("data:image/"))
              ? QStringLiteral("<img alt=\"%1\" src=\"%2\" />")
              : QStringLiteral("<img alt=\"%1\" src=\"data:image/png;base64,%2\" />");
    const QString image = element.arg(altText, imageText);
    QString command;
    if (!imageId.isEmpty()) {
        command = QStringLiteral("{'target':'") + EscapeQuotedValue(imageId)
                  + QStringLiteral("','action':'replace','content':'") + image
                  + QStringLiteral("'}");
    } else {
        command = QStringLiteral("{'target':'body','action':'append','content':'<div>") + image
                  + QStringLiteral("</div>'}");
    }
    return (u'[' + command + u']').toUtf8();
}

bool MPageContent::UploadImage(const QString &pageId, const QString &imageId,
                               const QString &imageText, const QString &altText)
{
    MGraphRequest request;
    request.method = "PATCH";
    request.url = PagePath(pageId);
    request.guard = MGraphGuard::TokenAndUser;
    request.contentType = "application/json";
    request.body = UpdateBody(imageId, imageText, altText);
    return m_Graph.Send(request).isSuccess();
}

} // namespace Cogitra
