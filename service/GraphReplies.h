#pragma once

#include "service/JsonWriter.h"
#include "service/Links.h"
#include "service/Store.h"

#include <httplib.h>

#include <QByteArray>
#include <QString>

#include <map>
#include <optional>

// The Graph OneNote reply shapes: notebooks, section groups, sections, pages and the user,
// with the keys in the real service's order; and the replies themselves, with their headers.
namespace Cogitra::Service {

// An $expand option: which navigation properties to include, each with its own options.
struct ExpandSpec
{
    std::map<QString, ExpandSpec> children; // lower-case property names
    int levels = 1;                         // levels=max is a large number
};

// Parses "sections,sectionGroups(expand=sections,sectionGroups(levels=max;expand=sections))".
[[nodiscard]] std::optional<ExpandSpec> ParseExpand(const QString &text);

struct GraphView
{
    Store &store;
    QString root; // "http://127.0.0.1:<port>"
    Account account;

    [[nodiscard]] QString userBase() const;    // "{root}/v1.0/users/{upn}"
    [[nodiscard]] QString contextBase() const; // "{root}/v1.0/$metadata#users('{upn, @ as %40}')"
};

[[nodiscard]] QString ResourceBase(const QString &root, const QString &upn);
[[nodiscard]] std::optional<PagePlace> PlaceOfPage(Store &store, const QString &pageId);
[[nodiscard]] PagePlace PlaceOf(Store &store, const Section &section, const Page &page);
[[nodiscard]] QString GraphTime(qint64 ms);

[[nodiscard]] Json NotebookJson(const GraphView &view, const Notebook &notebook,
                                const ExpandSpec *expand);
[[nodiscard]] Json SectionGroupJson(const GraphView &view, const SectionGroup &group,
                                    const ExpandSpec *expand, const QString &context);
[[nodiscard]] Json SectionJson(const GraphView &view, const Section &section);
[[nodiscard]] Json PageJson(const GraphView &view, const Section &section, const Page &page);
[[nodiscard]] Json MeJson(const GraphView &view);

[[nodiscard]] QString ContextId(const QString &id); // "!" as "%21", for context URLs

void WriteGraphJson(httplib::Response &res, int status, const QByteArray &json);
// Graph's error object with its innerError, and the headers the service sends with it.
void WriteGraphError(httplib::Response &res, int status, const QString &code,
                     const QString &message);
// The error Graph gives for a bare status code (a Status fault, a page that failed to store).
void WriteGraphStatus(httplib::Response &res, int status);
// 429 as Graph throttles; the caller adds Retry-After.
void WriteGraphThrottle(httplib::Response &res);

} // namespace Cogitra::Service
