#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>

#include <cstdint>
#include <optional>

// Reading the notebook tree and the page lists of the service. Replies are parsed as JSON;
// a missing member reads as absent, an array entry that is not an object is skipped.
// In every name and id comparison the text is the desktop's value and the pattern the
// service's.
namespace Cogitra {

// Case-insensitive like test of the whole text against the whole pattern: "*" matches any
// run of characters, "?" exactly one, every other character itself (letter case ignored,
// accents not).
[[nodiscard]] bool IsLikeIgnoreCase(const QString &text, const QString &pattern);

// The top-level "value" array of a collection reply, its object entries only; no value when
// the reply is absent, not a JSON object, or has no "value" array.
[[nodiscard]] std::optional<QList<QJsonObject>>
CollectionEntries(const std::optional<QByteArray> &reply);

// -1: no notebook entry at all; 0: notebooks, none of the account; 1: one of the account.
[[nodiscard]] int64_t FoundAccountInJason(const std::optional<QByteArray> &tree,
                                          const QString &accountId);

// The first page of the list whose client link carries the client id.
[[nodiscard]] bool GetOnlineId(const std::optional<QByteArray> &pages, const QString &clientId,
                               QString &pageOnlineId, QString &sectionOnlineId);

// "links" -> "oneNoteClientUrl" -> "href", or the empty text.
[[nodiscard]] QString ClientUrlOf(const QJsonObject &entry);
// The object entries of an array member.
[[nodiscard]] QList<QJsonObject> ObjectEntries(const QJsonObject &node, const QString &member);

// The folder path of a desktop page link: the text before its first ".one", up to the
// last "/" there; empty when the link has no section file.
[[nodiscard]] QString FolderPathOfLink(const QString &pageLink);
// True when the notebook's client link names the folder of the page link or one of its
// parents, compared after percent-decoding and ignoring letter case.
[[nodiscard]] bool NotebookHoldsFolder(const QString &notebookHref, const QString &folderPath);

// One page-list reply and the next-page link it names ("@odata.nextLink"), if any.
struct MPageListPart
{
    QList<QJsonObject> pages;
    QString nextLink;
};
[[nodiscard]] std::optional<MPageListPart> ParsePageListPart(const QByteArray &reply);
// The first reply's object with the pages of all replies as its "value" and no next link.
[[nodiscard]] QByteArray MergePageLists(const QByteArray &firstReply,
                                        const QList<QJsonObject> &allPages);

} // namespace Cogitra
