#include "service/Links.h"

#include <QUrl>

#include <cctype>

namespace Cogitra::Service {
namespace {

const QByteArray kLeftRaw = QByteArrayLiteral("()'!*,;:@$+=");

// Graph writes its escapes in lower-case hex.
QString GraphEscape(const QString &text)
{
    QByteArray escaped = QUrl::toPercentEncoding(text, kLeftRaw);
    for (qsizetype i = 0; i + 2 < escaped.size(); ++i) {
        if (escaped[i] == '%') {
            escaped[i + 1]
                = static_cast<char>(std::tolower(static_cast<unsigned char>(escaped[i + 1])));
            escaped[i + 2]
                = static_cast<char>(std::tolower(static_cast<unsigned char>(escaped[i + 2])));
            i += 2;
        }
    }
    return QString::fromLatin1(escaped);
}

// Graph writes the path of a client link as it is, blanks included; only non-ASCII
// characters are escaped (in lower-case hex).
QString GraphPathPart(const QString &text)
{
    QString out;
    for (const QChar c : text) {
        if (c.unicode() < 0x80) {
            out += c;
            continue;
        }
        out += GraphEscape(QString(c));
    }
    return out;
}

QString WithoutZeroDash(const QString &id)
{
    return id.startsWith(QStringLiteral("0-")) ? id.mid(2) : id;
}

} // namespace

QString DesktopEscape(const QString &text)
{
    return QString::fromLatin1(QUrl::toPercentEncoding(text, kLeftRaw));
}

QString DesktopCopyLink(const PagePlace &place)
{
    QString link = QStringLiteral("onenote:https://") + QLatin1String(kConsumerDocumentHost) + u'/'
                   + place.cid.toLower() + QStringLiteral("/Documents");
    for (const QString &folder : place.folders)
        link += u'/' + DesktopEscape(folder);
    link += u'/' + DesktopEscape(place.sectionName) + QStringLiteral(".one#")
            + DesktopEscape(place.title) + QStringLiteral("&section-id={")
            + place.sectionGuid.toUpper() + QStringLiteral("}&page-id={") + place.pageGuid.toUpper()
            + QStringLiteral("}&end");
    return link;
}

QString GraphPageClientUrl(const PagePlace &place)
{
    QString link = QStringLiteral("onenote:https://") + QLatin1String(kConsumerDocumentHost) + u'/'
                   + place.cid.toLower() + QStringLiteral("/Documents");
    for (const QString &folder : place.folders)
        link += u'/' + GraphPathPart(folder);
    link += u'/' + GraphPathPart(place.sectionName) + QStringLiteral(".one#")
            + GraphEscape(place.title) + QStringLiteral("&section-id=")
            + place.sectionGuid.toLower() + QStringLiteral("&page-id=") + place.pageGuid.toLower()
            + QStringLiteral("&end");
    return link;
}

QString GraphPageWebUrl(const PagePlace &place, const QString &notebookId, qint64 resourceNumber)
{
    const QString target = place.sectionName + QStringLiteral(".one|") + place.sectionGuid.toLower()
                           + u'/' + place.title + u'|' + place.pageGuid.toLower() + u'/';
    return QStringLiteral("https://onedrive.live.com/redir.aspx?cid=") + place.cid.toUpper()
           + QStringLiteral("&page=edit&resid=") + place.cid.toUpper() + u'!'
           + QString::number(resourceNumber) + QStringLiteral("&parId=")
           + WithoutZeroDash(notebookId) + QStringLiteral("&wd=target%28")
           + QString::fromLatin1(QUrl::toPercentEncoding(target)) + QStringLiteral("%29");
}

QString NotebookClientUrl(const QString &cid, const QString &notebookName)
{
    return QStringLiteral("onenote:https://") + QLatin1String(kConsumerDocumentHost) + u'/'
           + cid.toLower() + QStringLiteral("/Documents/") + GraphPathPart(notebookName);
}

QString NotebookWebUrl(const QString &cid, const QString &notebookId)
{
    return QStringLiteral("https://onedrive.live.com/redir.aspx?resid=")
           + WithoutZeroDash(notebookId) + QStringLiteral("&id=documents&page=edit&cid=")
           + cid.toLower();
}

} // namespace Cogitra::Service
