#include "MPageContent.h"

#include "MEndpoints.h"
#include "MGraphClient.h"
#include "MHttp.h"
#include "attachment/TZetGifAttachment.h"
#include "util/MGlobals.h"
#include "util/MUtils.h"

#include <optional>
#include <utility>

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

// The character a numeric reference's digits name; U+FFFD for none.
char32_t CodePointOf(QStringView digits, int base)
{
    while (digits.size() > 1 && digits.front() == u'0')
        digits = digits.sliced(1);
    bool ok = false;
    // Eight digits reach past U+10FFFF in either base; more can only be out of range.
    const uint value = digits.size() <= 8 ? digits.toUInt(&ok, base) : 0;
    if (!ok || value == 0 || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
        return 0xFFFD;
    return value;
}

// The reference that starts text (at its "&"): the characters it stands for and its length.
std::optional<std::pair<QString, qsizetype>> ReadReference(QStringView text)
{
    static const std::pair<QLatin1StringView, QChar> kNamed[] = {
        {QLatin1StringView("&amp;"), u'&'},   {QLatin1StringView("&lt;"), u'<'},
        {QLatin1StringView("&gt;"), u'>'},    {QLatin1StringView("&quot;"), u'"'},
        {QLatin1StringView("&apos;"), u'\''}, {QLatin1StringView("&nbsp;"), QChar(0xA0)},
    };
    for (const auto &[name, character] : kNamed) {
        if (text.startsWith(name))
            return std::pair(QString(character), name.size());
    }
    if (!text.startsWith(u"&#"))
        return std::nullopt;
    const bool hex = text.size() > 2 && (text[2] == u'x' || text[2] == u'X');
    const qsizetype digitsStart = hex ? 3 : 2;
    qsizetype end = digitsStart;
    const auto isDigit = [hex](QChar c) {
        const char16_t u = c.unicode();
        return (u >= u'0' && u <= u'9')
               || (hex && ((u >= u'a' && u <= u'f') || (u >= u'A' && u <= u'F')));
    };
    while (end < text.size() && isDigit(text[end]))
        ++end;
    if (end == digitsStart || end >= text.size() || text[end] != u';')
        return std::nullopt;
    const char32_t codePoint
        = CodePointOf(text.sliced(digitsStart, end - digitsStart), hex ? 16 : 10);
    return std::pair(QString::fromUcs4(&codePoint, 1), end + 1);
}

// Character references in HTML text, decoded in one pass.
QString DecodeHtmlText(const QString &text)
{
    if (!text.contains(u'&'))
        return text;
    QString out;
    out.reserve(text.size());
    qsizetype i = 0;
    while (i < text.size()) {
        const qsizetype amp = text.indexOf(u'&', i);
        if (amp < 0) {
            out += QStringView(text).sliced(i);
            break;
        }
        out += QStringView(text).sliced(i, amp - i);
        if (const auto reference = ReadReference(QStringView(text).sliced(amp))) {
            out += reference->first;
            i = amp + reference->second;
        } else {
            out += u'&';
            i = amp + 1;
        }
    }
    return out;
}

} // namespace

QString MPageContent::PageTitle(const QString &pageHtml)
{
    return DecodeHtmlText(
        TextBetween(pageHtml, QStringLiteral("<title>"), QStringLiteral("</title>")));
}

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
