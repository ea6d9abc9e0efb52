#include "service/PageContent.h"

#include "service/HtmlFragment.h"

#include <QDateTime>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTimeZone>

namespace Cogitra::Service {
namespace {

const QString kLineIndent = QStringLiteral("\t\t\t");
const QString kLineEnd = QStringLiteral("\r\n");

// Removed with everything inside them; the service never keeps active content.
bool IsDroppedWithContent(const QString &name)
{
    static const QStringList kNames
        = {QStringLiteral("script"),  QStringLiteral("style"),    QStringLiteral("iframe"),
           QStringLiteral("frame"),   QStringLiteral("frameset"), QStringLiteral("textarea"),
           QStringLiteral("select"),  QStringLiteral("title"),    QStringLiteral("noscript"),
           QStringLiteral("template")};
    return kNames.contains(name);
}

// Removed, their content kept.
bool IsDroppedTag(const QString &name)
{
    static const QStringList kNames
        = {QStringLiteral("html"), QStringLiteral("head"),  QStringLiteral("body"),
           QStringLiteral("meta"), QStringLiteral("link"),  QStringLiteral("base"),
           QStringLiteral("form"), QStringLiteral("input"), QStringLiteral("button"),
           QStringLiteral("embed")};
    return kNames.contains(name);
}

bool IsUnsafeUrl(const QString &value)
{
    const QString v = value.trimmed().toLower();
    return v.startsWith(QStringLiteral("javascript:")) || v.startsWith(QStringLiteral("vbscript:"));
}

QString GeneratedId(const QString &tag, Page &page)
{
    return tag + QStringLiteral(":{") + page.elementGuid + QStringLiteral("}{")
           + QString::number(page.nextElement++) + u'}';
}

QString DefaultOutlineId(const Page &page)
{
    return QStringLiteral("div:{") + page.elementGuid + QStringLiteral("}{1}");
}

std::optional<std::pair<int, int>> ImageSize(const QByteArray &bytes)
{
    const auto u = [&](int i) {
        return static_cast<unsigned char>(bytes[i]);
    };
    if (bytes.size() >= 24 && bytes.startsWith("\x89PNG\r\n\x1a\n"))
        return std::pair((u(16) << 24) | (u(17) << 16) | (u(18) << 8) | u(19),
                         (u(20) << 24) | (u(21) << 16) | (u(22) << 8) | u(23));
    if (bytes.size() >= 10 && (bytes.startsWith("GIF87a") || bytes.startsWith("GIF89a")))
        return std::pair(u(6) | (u(7) << 8), u(8) | (u(9) << 8));
    return std::nullopt;
}

struct ImageSource
{
    QString type;
    QByteArray bytes;
};

std::optional<ImageSource> DecodeImageSource(const QString &src, ContentError *error)
{
    if (src.startsWith(QStringLiteral("data:"), Qt::CaseInsensitive)) {
        const qsizetype comma = src.indexOf(u',');
        const QString header = src.mid(5, comma - 5);
        if (comma < 0 || !header.endsWith(QStringLiteral(";base64"), Qt::CaseInsensitive)) {
            *error = {400, QStringLiteral("20112"),
                      QStringLiteral("The image data URL is not valid.")};
            return std::nullopt;
        }
        const auto decoded = QByteArray::fromBase64Encoding(
            src.mid(comma + 1).toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
        if (!decoded || decoded.decoded.isEmpty()) {
            *error = {400, QStringLiteral("20112"),
                      QStringLiteral("The image data URL is not valid.")};
            return std::nullopt;
        }
        return ImageSource{header.chopped(7), *decoded};
    }
    return std::nullopt;
}

QString WriteStartTag(const QString &name, const std::vector<HtmlAttribute> &attributes,
                      bool isVoid)
{
    QString out = u'<' + name;
    for (const HtmlAttribute &a : attributes)
        out += u' ' + a.name + QStringLiteral("=\"") + EscapeHtmlAttribute(a.value) + u'"';
    out += isVoid ? QStringLiteral(" />") : QStringLiteral(">");
    return out;
}

// An image as the service writes it: id, alt, width, height, src, data-src-type,
// data-fullres-src, data-fullres-src-type, then what else it had.
std::optional<QString> WriteImage(const HtmlToken &tag, Page &page, const ContentImport &import,
                                  ContentError *error)
{
    const QString src = tag.attribute(QStringLiteral("src"));
    std::vector<HtmlAttribute> attributes;
    attributes.push_back({QStringLiteral("id"), GeneratedId(QStringLiteral("img"), page)});
    if (tag.hasAttribute(QStringLiteral("alt")))
        attributes.push_back({QStringLiteral("alt"), tag.attribute(QStringLiteral("alt"))});
    QString width = tag.attribute(QStringLiteral("width"));
    QString height = tag.attribute(QStringLiteral("height"));
    QString storedSrc = src;
    QString type;
    if (src.startsWith(QStringLiteral("data:"), Qt::CaseInsensitive)) {
        const std::optional<ImageSource> image = DecodeImageSource(src, error);
        if (!image)
            return std::nullopt;
        type = SniffImageType(image->bytes, image->type);
        const std::optional<QString> id = import.addResource(type, image->bytes);
        if (!id) {
            *error = {500, QStringLiteral("10001"),
                      QStringLiteral("An unexpected error occurred and the request failed.")};
            return std::nullopt;
        }
        storedSrc = QLatin1String(kStoredResourcePrefix) + *id + QStringLiteral("/$value");
        // Sizes the request gives win; the picture's own fill in the rest.
        if (const auto size = ImageSize(image->bytes)) {
            if (width.isEmpty())
                width = QString::number(size->first);
            if (height.isEmpty())
                height = QString::number(size->second);
        }
    } else if (IsUnsafeUrl(src)) {
        storedSrc.clear();
    }
    if (!width.isEmpty())
        attributes.push_back({QStringLiteral("width"), width});
    if (!height.isEmpty())
        attributes.push_back({QStringLiteral("height"), height});
    attributes.push_back({QStringLiteral("src"), storedSrc});
    if (!type.isEmpty()) {
        attributes.push_back({QStringLiteral("data-src-type"), type});
        attributes.push_back({QStringLiteral("data-fullres-src"), storedSrc});
        attributes.push_back({QStringLiteral("data-fullres-src-type"), type});
    }
    static const QStringList kHandled = {QStringLiteral("id"),
                                         QStringLiteral("alt"),
                                         QStringLiteral("width"),
                                         QStringLiteral("height"),
                                         QStringLiteral("src"),
                                         QStringLiteral("data-src-type"),
                                         QStringLiteral("data-fullres-src"),
                                         QStringLiteral("data-fullres-src-type")};
    for (const HtmlAttribute &a : tag.attributes) {
        if (!kHandled.contains(a.name) && !a.name.startsWith(QStringLiteral("on")))
            attributes.push_back(a);
    }
    return WriteStartTag(QStringLiteral("img"), attributes, true);
}

} // namespace

QString SniffImageType(const QByteArray &bytes, const QString &declared)
{
    if (bytes.startsWith("\x89PNG\r\n\x1a\n"))
        return QStringLiteral("image/png");
    if (bytes.startsWith("GIF87a") || bytes.startsWith("GIF89a"))
        return QStringLiteral("image/gif");
    if (bytes.startsWith("\xff\xd8\xff"))
        return QStringLiteral("image/jpeg");
    return declared.isEmpty() ? QStringLiteral("application/octet-stream") : declared;
}

std::optional<QString> ImportFragment(const QString &html, Page &page, const ContentImport &import,
                                      ContentError *error)
{
    const std::vector<HtmlToken> tokens = TokenizeHtml(html);
    QString out;
    QStringList open;
    QString skipping; // the element whose content is being dropped
    int skipDepth = 0;
    for (const HtmlToken &t : tokens) {
        if (!skipping.isEmpty()) {
            if (t.name == skipping && t.kind == HtmlToken::Kind::Start && !t.selfClosing)
                ++skipDepth;
            else if (t.name == skipping && t.kind == HtmlToken::Kind::End && --skipDepth == 0)
                skipping.clear();
            continue;
        }
        switch (t.kind) {
        case HtmlToken::Kind::Comment:
            break;
        case HtmlToken::Kind::Text:
            out += EscapeHtmlText(DecodeHtmlEntities(html.mid(t.begin, t.end - t.begin)));
            break;
        case HtmlToken::Kind::Start: {
            if (IsDroppedWithContent(t.name)) {
                if (!t.selfClosing) {
                    skipping = t.name;
                    skipDepth = 1;
                }
                break;
            }
            if (IsDroppedTag(t.name))
                break;
            if (t.name == QStringLiteral("img")) {
                const std::optional<QString> image = WriteImage(t, page, import, error);
                if (!image)
                    return std::nullopt;
                out += *image;
                break;
            }
            std::vector<HtmlAttribute> attributes;
            attributes.push_back({QStringLiteral("id"), GeneratedId(t.name, page)});
            for (const HtmlAttribute &a : t.attributes) {
                if (a.name == QStringLiteral("id") || a.name.startsWith(QStringLiteral("on")))
                    continue;
                if ((a.name == QStringLiteral("href") || a.name == QStringLiteral("src")
                     || a.name == QStringLiteral("data"))
                    && IsUnsafeUrl(a.value))
                    continue;
                attributes.push_back(a);
            }
            const bool isVoid = t.selfClosing || IsVoidElement(t.name);
            out += WriteStartTag(t.name, attributes, isVoid);
            if (!isVoid)
                open.push_back(t.name);
            break;
        }
        case HtmlToken::Kind::End: {
            const qsizetype at = open.lastIndexOf(t.name);
            if (at < 0)
                break;
            while (open.size() > at) {
                out += QStringLiteral("</") + open.takeLast() + u'>';
            }
            break;
        }
        }
    }
    while (!open.isEmpty())
        out += QStringLiteral("</") + open.takeLast() + u'>';
    return out;
}

QString RenderPageHtml(const Page &page, const QString &resourceBase, bool includeIds)
{
    const QString created = QDateTime::fromMSecsSinceEpoch(page.created, Qt::UTC)
                                .toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz0000"));
    QString body = page.body;
    body.replace(QLatin1String(kStoredResourcePrefix), resourceBase);
    QString outline
        = QStringLiteral("\t\t<div id=\"") + DefaultOutlineId(page)
          + QStringLiteral("\" data-id=\"_default\" style=\"position:absolute;left:48px;"
                           "top:120px;width:624px\">\r\n")
          + body + QStringLiteral("\t\t</div>\r\n");
    if (!includeIds) {
        // Every generated id of the page carries its element GUID: id="tag:{guid}{n}".
        const QString marker = QStringLiteral(":{") + page.elementGuid + QStringLiteral("}{");
        qsizetype at = outline.indexOf(marker);
        while (at >= 0) {
            const qsizetype start = outline.lastIndexOf(QStringLiteral(" id=\""), at);
            const qsizetype close = outline.indexOf(u'"', at);
            if (start < 0 || close < 0)
                break;
            outline.remove(start, close + 1 - start);
            at = outline.indexOf(marker, start);
        }
    }
    return QStringLiteral("<html lang=\"en-US\">\r\n\t<head>\r\n\t\t<title>")
           + EscapeHtmlText(page.title)
           + QStringLiteral(
               "</title>\r\n\t\t<meta http-equiv=\"Content-Type\" content=\"text/html; "
               "charset=utf-8\" />\r\n\t\t<meta name=\"created\" content=\"")
           + created
           + QStringLiteral("\" />\r\n\t</head>\r\n\t<body data-absolute-enabled=\"true\" "
                            "style=\"font-family:Calibri;font-size:11pt\">\r\n")
           + outline + QStringLiteral("\t</body>\r\n</html>");
}

QStringList ReferencedResources(const QString &body)
{
    QStringList ids;
    const QString prefix = QLatin1String(kStoredResourcePrefix);
    qsizetype at = body.indexOf(prefix);
    while (at >= 0) {
        const qsizetype start = at + prefix.size();
        const qsizetype end = body.indexOf(QStringLiteral("/$value"), start);
        if (end < 0)
            break;
        ids.append(body.mid(start, end - start));
        at = body.indexOf(prefix, end);
    }
    return ids;
}

namespace {

ContentError BadTarget()
{
    return {400, QStringLiteral("20134"),
            QStringLiteral("The specified target element is invalid. If the target uses a data-id, "
                           "make sure it is prefixed with #.")};
}

ContentError BadAction(const QString &action)
{
    return {
        400, QStringLiteral("20135"),
        QStringLiteral("The action '%1' is not supported for the specified target.").arg(action)};
}

bool ApplyOne(Page &page, const QJsonObject &command, const ContentImport &import,
              ContentError *error)
{
    const QString target = command.value(QStringLiteral("target")).toString();
    const QString action = command.value(QStringLiteral("action")).toString().toLower();
    const QJsonValue contentValue = command.value(QStringLiteral("content"));
    if (target.isEmpty()) {
        *error = BadTarget();
        return false;
    }
    if (!contentValue.isString()) {
        *error = {400, QStringLiteral("20136"), QStringLiteral("The command has no 'content'.")};
        return false;
    }
    const QString content = contentValue.toString();

    const std::optional<QString> fragment = ImportFragment(content, page, import, error);
    if (!fragment)
        return false;

    const bool wholeBody = target == QStringLiteral("body") || target == DefaultOutlineId(page)
                           || target == QStringLiteral("#_default");
    if (wholeBody) {
        if (action == QStringLiteral("append")) {
            page.body += kLineIndent + *fragment + kLineEnd;
            return true;
        }
        *error = BadAction(action);
        return false;
    }

    std::optional<ElementSpan> span;
    if (target.startsWith(u'#')) {
        const QString dataId = target.mid(1);
        span = FindElement(page.body, [&](const HtmlToken &t) {
            return t.attribute(QStringLiteral("data-id")) == dataId;
        });
    } else {
        span = FindElement(page.body, [&](const HtmlToken &t) {
            return t.attribute(QStringLiteral("id")) == target;
        });
    }
    if (!span) {
        *error = BadTarget();
        return false;
    }
    const bool isVoid = span->end == span->innerBegin;
    if (action == QStringLiteral("replace")) {
        page.body.replace(span->begin, span->end - span->begin, *fragment);
    } else if (action == QStringLiteral("append") && !isVoid) {
        page.body.insert(span->innerEnd, *fragment);
    } else {
        *error = BadAction(action);
        return false;
    }
    return true;
}

} // namespace

bool ApplyCommands(Page &page, const QJsonArray &commands, const ContentImport &import,
                   ContentError *error)
{
    if (commands.isEmpty()) {
        *error
            = {400, QStringLiteral("20124"), QStringLiteral("The request contains no commands.")};
        return false;
    }
    Page changed = page;
    for (const QJsonValue &command : commands) {
        if (!command.isObject()) {
            *error
                = {400, QStringLiteral("BadRequest"),
                   QStringLiteral("Unable to read JSON request payload. Please ensure Content-Type "
                                  "header is set and payload is of valid JSON format.")};
            return false;
        }
        if (!ApplyOne(changed, command.toObject(), import, error))
            return false;
    }
    page = std::move(changed);
    return true;
}

bool FillNewPage(Page &page, const QString &html, const ContentImport &import, ContentError *error)
{
    const std::optional<ElementSpan> title
        = FindElement(html, [](const HtmlToken &t) { return t.name == QStringLiteral("title"); });
    if (title)
        page.title
            = DecodeHtmlEntities(html.mid(title->innerBegin, title->innerEnd - title->innerBegin))
                  .trimmed();
    const std::optional<ElementSpan> body
        = FindElement(html, [](const HtmlToken &t) { return t.name == QStringLiteral("body"); });
    const QString inner = body ? html.mid(body->innerBegin, body->innerEnd - body->innerBegin)
                               : (title ? QString() : html);
    const std::optional<QString> fragment = ImportFragment(inner, page, import, error);
    if (!fragment)
        return false;
    if (!fragment->trimmed().isEmpty())
        page.body = kLineIndent + fragment->trimmed() + kLineEnd;
    return true;
}

QString ShapeImages(const QString &html, const PageShape &shape)
{
    if (!shape.imageDataIds && !shape.optimizedImages)
        return html;
    // The service writes every image as <img id=... src="..." ... data-fullres-src="..." />,
    // with no ">" inside a value (EscapeHtmlAttribute).
    static const QRegularExpression image(QStringLiteral("<img [^>]*>"));
    static const QRegularExpression source(QStringLiteral(" src=\"([^\"]*)\""));
    QString out;
    qsizetype done = 0;
    int count = 0;
    QRegularExpressionMatchIterator it = image.globalMatch(html);
    while (it.hasNext()) {
        const QRegularExpressionMatch match = it.next();
        QString tag = match.captured();
        if (shape.optimizedImages) {
            const QRegularExpressionMatch src = source.match(tag);
            const QString value = src.captured(1);
            if (src.hasMatch() && !value.isEmpty()
                && tag.contains(QStringLiteral(" data-fullres-src=\"") + value + u'"'))
                tag.insert(src.capturedEnd(1), QLatin1String(kRenditionQuery));
        }
        if (shape.imageDataIds)
            tag.insert(4, QStringLiteral(" data-id=\"picture%1\"").arg(++count));
        out += QStringView(html).sliced(done, match.capturedStart() - done);
        out += tag;
        done = match.capturedEnd();
    }
    out += QStringView(html).sliced(done);
    return out;
}

namespace {

// Past the data sub-blocks that start at pos (each a length byte, the last one 0); -1 when
// the bytes end first.
qsizetype SkipGifSubBlocks(const QByteArray &bytes, qsizetype pos)
{
    while (pos < bytes.size()) {
        const auto length = static_cast<unsigned char>(bytes[pos]);
        pos += 1 + length;
        if (length == 0)
            return pos;
    }
    return -1;
}

qsizetype ColourTableBytes(unsigned char flags)
{
    return (flags & 0x80) != 0 ? 3 * (qsizetype(1) << ((flags & 0x07) + 1)) : 0;
}

// The length of the GIF at the start of bytes, up to and with its trailer; -1 when none ends.
qsizetype GifLength(const QByteArray &bytes)
{
    if (bytes.size() < 13 || !(bytes.startsWith("GIF87a") || bytes.startsWith("GIF89a")))
        return -1;
    qsizetype pos = 13 + ColourTableBytes(static_cast<unsigned char>(bytes[10]));
    while (pos >= 0 && pos < bytes.size()) {
        const auto introducer = static_cast<unsigned char>(bytes[pos]);
        if (introducer == 0x3B)
            return pos + 1;
        if (introducer == 0x21) {
            pos = SkipGifSubBlocks(bytes, pos + 2);
        } else if (introducer == 0x2C) {
            if (pos + 10 > bytes.size())
                return -1;
            pos += 10 + ColourTableBytes(static_cast<unsigned char>(bytes[pos + 9]));
            pos = SkipGifSubBlocks(bytes, pos + 1); // past the LZW code size
        } else {
            return -1;
        }
    }
    return -1;
}

// The length of the PNG at the start of bytes, up to and with its IEND chunk; -1 when none.
qsizetype PngLength(const QByteArray &bytes)
{
    if (!bytes.startsWith("\x89PNG\r\n\x1a\n"))
        return -1;
    qsizetype pos = 8;
    while (pos + 12 <= bytes.size()) {
        const auto *p = reinterpret_cast<const unsigned char *>(bytes.constData() + pos);
        const qsizetype length = (qsizetype(p[0]) << 24) | (p[1] << 16) | (p[2] << 8) | p[3];
        const bool end = bytes.mid(pos + 4, 4) == "IEND";
        pos += 12 + length;
        if (end)
            return pos <= bytes.size() ? pos : -1;
    }
    return -1;
}

} // namespace

QByteArray PictureOnly(const QByteArray &bytes)
{
    qsizetype length = GifLength(bytes);
    if (length < 0)
        length = PngLength(bytes);
    return length < 0 ? bytes : bytes.first(length);
}

} // namespace Cogitra::Service
