#pragma once

#include <QString>
#include <QStringList>

// The links the notebook services write for notebooks and pages. A page's place is the
// account's CID, the folders from the notebook down through its section groups, and the
// section; its link ids are the section's and the page's GUIDs (upper case, no braces).
namespace Cogitra::Service {

inline constexpr char kConsumerDocumentHost[] = "d.docs.live.net";

struct PagePlace
{
    QString cid;
    QStringList folders; // notebook name, then section-group names, outermost first
    QString sectionName;
    QString sectionGuid;
    QString pageGuid;
    QString title;
};

// The desktop application's "Copy Link to Page":
// onenote:https://d.docs.live.net/<cid>/Documents/<folders>/<section>.one#<title>
//   &section-id={<GUID>}&page-id={<GUID>}&end
// with names and title percent-escaped (upper-case hex; parentheses, apostrophes and the
// like left as they are).
[[nodiscard]] QString DesktopCopyLink(const PagePlace &place);

// links.oneNoteClientUrl.href of a page in Graph replies: the path as it is (blanks
// included), the title escaped, GUIDs in lower case without braces.
[[nodiscard]] QString GraphPageClientUrl(const PagePlace &place);
[[nodiscard]] QString GraphPageWebUrl(const PagePlace &place, const QString &notebookId,
                                      qint64 resourceNumber);

[[nodiscard]] QString NotebookClientUrl(const QString &cid, const QString &notebookName);
[[nodiscard]] QString NotebookWebUrl(const QString &cid, const QString &notebookId);

// How the desktop application escapes one name or the title.
[[nodiscard]] QString DesktopEscape(const QString &text);

} // namespace Cogitra::Service
