#include "MOLONUtils.h"

#include "util/MUtils.h"

#include <QStringDecoder>
#include <QStringEncoder>
#include <QStringList>

namespace Cogitra {

namespace {

const QString kLinkPrefix = QStringLiteral("onenote:https://");
const QString kHttps = QStringLiteral("https://");
const QString kSectionFile = QStringLiteral(".one");
const QLatin1Char kSlash('/');

// Blanks of every kind and the tab; line breaks are not trimmed, so a link followed by a
// line feed keeps it.
bool IsBlankOrTab(QChar c)
{
    return c == QLatin1Char('\t') || c.category() == QChar::Separator_Space;
}

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// The text after its last "/", or all of it when there is none.
QString LastComponent(const QString &text)
{
    return text.mid(text.lastIndexOf(kSlash) + 1);
}

} // namespace

bool IsOneNoteLink(const QString &clip)
{
    return Contains(clip, kLinkPrefix);
}

QString NormalizeOneNoteLink(const QString &clip)
{
    const QString rest = TextBetween(clip, kLinkPrefix, QString());
    qsizetype begin = 0;
    qsizetype end = rest.size();
    while (begin < end && IsBlankOrTab(rest.at(begin)))
        ++begin;
    while (end > begin && IsBlankOrTab(rest.at(end - 1)))
        --end;
    return kLinkPrefix + rest.mid(begin, end - begin);
}

QString PercentDecode(const QString &text)
{
    QStringEncoder toUtf8(QStringEncoder::Utf8);
    const QByteArray encoded = toUtf8.encode(text);
    if (toUtf8.hasError())
        return {};

    QByteArray bytes;
    bytes.reserve(encoded.size());
    for (qsizetype i = 0; i < encoded.size(); ++i) {
        const char c = encoded.at(i);
        if (c != '%') {
            bytes.append(c);
            continue;
        }
        if (i + 2 >= encoded.size())
            return {};
        const int high = HexValue(encoded.at(i + 1));
        const int low = HexValue(encoded.at(i + 2));
        if (high < 0 || low < 0)
            return {};
        bytes.append(static_cast<char>(high * 16 + low));
        i += 2;
    }

    QStringDecoder fromUtf8(QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom
                                                      | QStringDecoder::Flag::Stateless);
    QString decoded = fromUtf8.decode(bytes);
    if (fromUtf8.hasError())
        return {};
    return decoded;
}

QString PageTitleFromLink(const QString &link)
{
    const QString title
        = PercentDecode(TextBetween(link, QStringLiteral("#"), QStringLiteral("&")));
    if (title.startsWith(QLatin1String("section-id=")))
        return {};
    return title;
}

QString NotebookNameFromLink(const QString &link)
{
    QString folders = TextBetween(link, QString(), kSectionFile);
    const qsizetype cut = folders.lastIndexOf(kSlash);
    if (cut >= 0)
        folders.truncate(cut);
    return PercentDecode(LastComponent(folders));
}

QString SectionNameFromLink(const QString &link)
{
    return PercentDecode(LastComponent(TextBetween(link, kHttps, kSectionFile)));
}

QString AccountIdFromLink(const QString &link)
{
    const QStringList segments = TextBetween(link, kHttps, QString()).split(kSlash);
    if (segments.size() >= 2 && IsConsumerDocumentHost(segments.at(0)))
        return segments.at(1);
    if (segments.size() >= 3)
        return segments.at(2);
    return {};
}

QString PageIdFromLink(const QString &link)
{
    const QString braced = TextBetween(link, QStringLiteral("page-id={"), QStringLiteral("}"));
    if (!braced.isEmpty())
        return braced;
    return TextBetween(link, QStringLiteral("page-id="), QStringLiteral("&"));
}

bool IsConsumerDocumentHost(const QString &host)
{
    return host == QStringView(kConsumerDocumentHost);
}

} // namespace Cogitra
