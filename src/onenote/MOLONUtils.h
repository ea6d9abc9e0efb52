#pragma once

#include <QString>

// Readers of the link that OneNote's "Copy Link to Page" puts on the clipboard, and of the
// oneNoteClientUrl links the online service reports. Plain marker searches, first
// occurrence, case-sensitive: page discovery and page location must cut the same values
// out of the same link, so no URL parser is involved.
//
//   onenote:https://HOST/SEG/.../NOTEBOOK/SECTION.one#TITLE&section-id={..}&page-id={GUID}&end
namespace Cogitra {

// The host under which notebooks of personal Microsoft accounts are served.
inline constexpr char16_t kConsumerDocumentHost[] = u"d.docs.live.net";

// True when "onenote:https://" occurs anywhere in the text.
[[nodiscard]] bool IsOneNoteLink(const QString &clip);

// Drops whatever precedes the first "onenote:https://" and trims blanks and tabs (not line
// breaks) from both ends of the rest.
[[nodiscard]] QString NormalizeOneNoteLink(const QString &clip);

// The decoded title between the first "#" and the next "&"; empty when the link has no title
// (the fragment starts with "section-id=") or the title does not decode.
[[nodiscard]] QString PageTitleFromLink(const QString &link);

// The decoded name of the last folder before the section file (the first ".one"); for a
// section group that is the group's folder.
[[nodiscard]] QString NotebookNameFromLink(const QString &link);

// The decoded name of the section file, without ".one".
[[nodiscard]] QString SectionNameFromLink(const QString &link);

// The account segment, not decoded: the first path segment on the consumer host, the second
// on any other host; empty when the link has too few segments.
[[nodiscard]] QString AccountIdFromLink(const QString &link);

// The page's client id: the GUID of "page-id={GUID}" without braces, else the value of
// "page-id=VALUE&"; empty when there is neither.
[[nodiscard]] QString PageIdFromLink(const QString &link);

// Exact, case-sensitive comparison with kConsumerDocumentHost.
[[nodiscard]] bool IsConsumerDocumentHost(const QString &host);

// Replaces each "%XX" escape by its byte and reads the bytes as UTF-8; "+" stays "+".
// A "%" without two hex digits after it, or bytes that are not UTF-8, give the empty text.
[[nodiscard]] QString PercentDecode(const QString &text);

} // namespace Cogitra
