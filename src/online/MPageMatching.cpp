#include "MPageMatching.h"

#include "onenote/MOLONUtils.h"
#include "util/MUtils.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonValue>

namespace Cogitra {
namespace {

bool SameLetter(QChar a, QChar b)
{
    return a == b || a.toCaseFolded() == b.toCaseFolded();
}

std::optional<QJsonObject> ParseObject(const QByteArray &reply)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(reply, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    return document.object();
}

QList<QJsonObject> ObjectsOf(const QJsonArray &array)
{
    QList<QJsonObject> objects;
    objects.reserve(array.size());
    for (const QJsonValue &entry : array) {
        if (entry.isObject())
            objects.append(entry.toObject());
    }
    return objects;
}

QString WithoutTrailingSlashes(QString text)
{
    while (text.endsWith(u'/'))
        text.chop(1);
    return text;
}

} // namespace

bool IsLikeIgnoreCase(const QString &text, const QString &pattern)
{
    // Greedy match that backs up to the last "*" only: O(text x pattern) at worst, no
    // recursion, whatever the service sends as a name.
    const qsizetype n = text.size();
    const qsizetype m = pattern.size();
    qsizetype i = 0;
    qsizetype j = 0;
    qsizetype star = -1;
    qsizetype resume = 0;
    while (i < n) {
        if (j < m && pattern[j] == u'*') {
            star = j++;
            resume = i;
        } else if (j < m && (pattern[j] == u'?' || SameLetter(pattern[j], text[i]))) {
            ++i;
            ++j;
        } else if (star >= 0) {
            j = star + 1;
            i = ++resume;
        } else {
            return false;
        }
    }
    while (j < m && pattern[j] == u'*')
        ++j;
    return j == m;
}

std::optional<QList<QJsonObject>> CollectionEntries(const std::optional<QByteArray> &reply)
{
    if (!reply)
        return std::nullopt;
    const std::optional<QJsonObject> root = ParseObject(*reply);
    if (!root)
        return std::nullopt;
    const QJsonValue value = root->value(QLatin1String("value"));
    if (!value.isArray())
        return std::nullopt;
    return ObjectsOf(value.toArray());
}

QString ClientUrlOf(const QJsonObject &entry)
{
    return entry.value(QLatin1String("links"))
        .toObject()
        .value(QLatin1String("oneNoteClientUrl"))
        .toObject()
        .value(QLatin1String("href"))
        .toString();
}

QList<QJsonObject> ObjectEntries(const QJsonObject &node, const QString &member)
{
    return ObjectsOf(node.value(member).toArray());
}

int64_t FoundAccountInJason(const std::optional<QByteArray> &tree, const QString &accountId)
{
    const std::optional<QList<QJsonObject>> notebooks = CollectionEntries(tree);
    if (!notebooks || notebooks->isEmpty())
        return -1;
    for (const QJsonObject &notebook : *notebooks) {
        if (IsLikeIgnoreCase(accountId, AccountIdFromLink(ClientUrlOf(notebook))))
            return 1;
    }
    return 0;
}

bool GetOnlineId(const std::optional<QByteArray> &pages, const QString &clientId,
                 QString &pageOnlineId, QString &sectionOnlineId)
{
    pageOnlineId.clear();
    sectionOnlineId.clear();
    const std::optional<QList<QJsonObject>> entries = CollectionEntries(pages);
    if (!entries)
        return false;
    for (const QJsonObject &page : *entries) {
        if (!IsLikeIgnoreCase(clientId, PageIdFromLink(ClientUrlOf(page))))
            continue;
        pageOnlineId = page.value(QLatin1String("id")).toString();
        sectionOnlineId = page.value(QLatin1String("parentSection"))
                              .toObject()
                              .value(QLatin1String("id"))
                              .toString();
        return true;
    }
    return false;
}

QString FolderPathOfLink(const QString &pageLink)
{
    const QString beforeSection = TextBetween(pageLink, QString(), QStringLiteral(".one"));
    const int64_t slash = LastIndexOf(beforeSection, QStringLiteral("/"));
    if (slash < 0)
        return QString();
    return beforeSection.left(slash);
}

bool NotebookHoldsFolder(const QString &notebookHref, const QString &folderPath)
{
    const QString notebook = WithoutTrailingSlashes(PercentDecode(notebookHref));
    const QString folder = WithoutTrailingSlashes(PercentDecode(folderPath));
    if (notebook.isEmpty() || folder.isEmpty())
        return false;
    if (folder.compare(notebook, Qt::CaseInsensitive) == 0)
        return true;
    // A whole folder name must match: "Notes" does not hold "Notes 2/Group".
    return folder.size() > notebook.size() && folder[notebook.size()] == u'/'
           && folder.startsWith(notebook, Qt::CaseInsensitive);
}

std::optional<MPageListPart> ParsePageListPart(const QByteArray &reply)
{
    const std::optional<QJsonObject> root = ParseObject(reply);
    if (!root)
        return std::nullopt;
    const QJsonValue value = root->value(QLatin1String("value"));
    if (!value.isArray())
        return std::nullopt;
    MPageListPart part;
    part.pages = ObjectsOf(value.toArray());
    part.nextLink = root->value(QLatin1String("@odata.nextLink")).toString();
    return part;
}

QByteArray MergePageLists(const QByteArray &firstReply, const QList<QJsonObject> &allPages)
{
    QJsonObject root = ParseObject(firstReply).value_or(QJsonObject());
    QJsonArray pages;
    for (const QJsonObject &page : allPages)
        pages.append(page);
    root.insert(QLatin1String("value"), pages);
    root.remove(QLatin1String("@odata.nextLink"));
    return QJsonDocument(root).toJson(QJsonDocument::Compact);
}

} // namespace Cogitra
