#include "MPageLink.h"

#include "MCurrentPage.h"
#include "MOLONUtils.h"
#include "util/MLimits.h"

#include <QList>

#include <optional>

namespace Cogitra {

namespace {

QString Refuse(OneNotePageInfo &page, const QString &reason)
{
    page = OneNotePageInfo();
    return reason;
}

// The raw value of a query parameter (names compared without regard to case, as the
// services write "page=Edit" and "page=edit" alike); none when absent.
std::optional<QString> QueryValue(const QString &url, QLatin1StringView name)
{
    const qsizetype question = url.indexOf(u'?');
    if (question < 0)
        return std::nullopt;
    const QStringView query = QStringView(url).mid(question + 1);
    for (const QStringView pair : query.split(u'&')) {
        const qsizetype equals = pair.indexOf(u'=');
        if (equals > 0 && pair.left(equals).compare(name, Qt::CaseInsensitive) == 0)
            return pair.mid(equals + 1).toString();
    }
    return std::nullopt;
}

QString LastSegment(const QString &path)
{
    QString trimmed = path;
    while (trimmed.endsWith(u'/'))
        trimmed.chop(1);
    return trimmed.mid(trimmed.lastIndexOf(u'/') + 1);
}

QString ReadDesktopLink(const QString &text, OneNotePageInfo &page)
{
    const QString key = MCurrentPage::ReadPageLink(text, page);
    if (key.isEmpty())
        return {};
    if (key == u"errPageTitleEmpty")
        return Refuse(page, QStringLiteral("the link names no page title (a page needs one)"));
    if (key == u"errServerIndexing")
        return Refuse(page, QStringLiteral("the link names no page id (\"page-id=\")"));
    return Refuse(page, QStringLiteral("the link names a notebook, not a page (it has no section "
                                       "file, \".one\")"));
}

QString ReadWebLink(const QString &url, OneNotePageInfo &page)
{
    const std::optional<QString> wd = QueryValue(url, QLatin1StringView("wd"));
    if (!wd)
        return Refuse(page, QStringLiteral("the link names a notebook or a document, not a page "
                                           "(it has no \"wd=target(...)\")"));
    const QString target = PercentDecode(*wd);
    if (target.isEmpty())
        return Refuse(page, QStringLiteral("the link's \"wd\" is not valid percent-encoded "
                                           "UTF-8"));
    if (!target.startsWith(u"target(") || !target.endsWith(u')'))
        return Refuse(page, QStringLiteral("the link's \"wd\" is not \"target(...)\""));
    // SECTION-PATH.one|SECTION-GUID/TITLE|PAGE-GUID/ ; the title may itself hold "/" or "|",
    // so it runs from the section's GUID to the last "|".
    const QString inside = target.mid(7).chopped(1);
    const qsizetype sectionEnd = inside.indexOf(u".one|");
    const qsizetype titleStart = inside.indexOf(u'/', sectionEnd + 5);
    const qsizetype titleEnd = inside.lastIndexOf(u'|');
    if (sectionEnd < 0 || titleStart < 0 || titleEnd <= titleStart)
        return Refuse(page, QStringLiteral("the link names a section, not a page"));
    QString pageId = inside.mid(titleEnd + 1);
    if (pageId.endsWith(u'/'))
        pageId.chop(1);
    page.sectionName = LastSegment(inside.left(sectionEnd));
    page.title = inside.mid(titleStart + 1, titleEnd - titleStart - 1);
    page.clientId = pageId;
    if (page.sectionName.isEmpty() || page.clientId.isEmpty())
        return Refuse(page, QStringLiteral("the link names a section, not a page"));
    if (page.title.isEmpty())
        return Refuse(page, QStringLiteral("the link names no page title (a page needs one)"));

    // The notebook, where the form carries it: the folder of "edit.aspx/FOLDERS/NOTEBOOK" or
    // the site path in SharePoint's "id="; other forms name the notebook by an item id only.
    const qsizetype query = url.indexOf(u'?');
    const QString path = url.left(query);
    const qsizetype edit = path.indexOf(u"/edit.aspx/", 0, Qt::CaseInsensitive);
    if (edit >= 0)
        page.notebookName = PercentDecode(LastSegment(path.mid(edit + 11)));
    else if (path.endsWith(u"/OneNote.aspx", Qt::CaseInsensitive))
        page.notebookName
            = LastSegment(PercentDecode(QueryValue(url, QLatin1StringView("id")).value_or("")));

    if (const std::optional<QString> cid = QueryValue(url, QLatin1StringView("cid")))
        page.accountId = cid->toLower();
    else if (const std::optional<QString> resid = QueryValue(url, QLatin1StringView("resid")))
        page.accountId = PercentDecode(*resid).section(u'!', 0, 0).toLower();
    else
        page.accountId = AccountIdFromLink(path);
    if (page.accountId.isEmpty())
        return Refuse(page, QStringLiteral("the link names no account (no \"cid\", \"resid\" or "
                                           "site path)"));
    return {};
}

} // namespace

QString ReadAnyPageLink(const QString &text, OneNotePageInfo &page)
{
    page = OneNotePageInfo();
    const QString link = text.trimmed();
    if (link.isEmpty())
        return QStringLiteral("no link given");
    if (link.size() > kMaxLinkLength)
        return QStringLiteral("the text is longer than any page link");

    if (IsOneNoteLink(link))
        return ReadDesktopLink(link, page);
    if (link.startsWith(u"onenote:#")) {
        // A link to a page of the same notebook: its fragment first, then where it lies.
        const QString basePath = QStringLiteral("&base-path=");
        const qsizetype base = link.indexOf(basePath);
        if (base < 0)
            return QStringLiteral("the link is relative to its notebook and names no "
                                  "\"base-path\" where the page lies");
        const QString where = link.mid(base + basePath.size());
        if (!where.startsWith(u"https://"))
            return QStringLiteral("the page lies in a notebook on a disk or a network share, "
                                  "which is not online");
        return ReadDesktopLink(u"onenote:" + where + link.mid(8, base - 8), page);
    }
    if (link.startsWith(u"onenote:///") || link.startsWith(u"onenote:\\\\"))
        return QStringLiteral("the page lies in a notebook on a disk or a network share, which "
                              "is not online");
    if (link.startsWith(u"onenote:"))
        return QStringLiteral("the link is relative to its notebook and names no host where the "
                              "page lies");
    if (link.startsWith(u"https://"))
        return ReadWebLink(link, page);
    return QStringLiteral("not a OneNote link (it starts with neither \"onenote:\" nor "
                          "\"https://\")");
}

} // namespace Cogitra
