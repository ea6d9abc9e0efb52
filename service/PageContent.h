#pragma once

#include "service/Store.h"

#include <QByteArray>
#include <QJsonArray>
#include <QString>

#include <functional>
#include <map>
#include <optional>

// Page HTML as the online notebook service writes it, and the changes its PATCH commands
// make. A page keeps the inner HTML of its default outline with generated element ids
// ("img:{guid}{n}") and image sources that name stored resources; the service root and
// user are put in when the page is written out.
namespace Cogitra::Service {

// Prefix of an image source that names a stored resource ("<prefix><id>/$value").
inline constexpr char kStoredResourcePrefix[] = "cogitra-resource:";

struct ContentImport
{
    // Stores an image's bytes for the page; gives the resource id.
    std::function<std::optional<QString>(const QString &contentType, const QByteArray &bytes)>
        addResource;
};

struct ContentError
{
    int status = 400;
    QString code;
    QString message;
};

// Shapes of the online service's page HTML that the service gives only when asked.
struct PageShape
{
    bool imageDataIds = false;    // data-id="pictureN" first in every image
    bool optimizedImages = false; // src names the rendition (kRenditionQuery) of a stored image
};

// Added to a resource's address, it asks for the rendition: the picture without the bytes
// that follow it.
inline constexpr char kRenditionQuery[] = "?rendition=optimized";

// Writes the page: resourceBase is "{root}/v1.0/users('{upn}')/onenote/resources/".
[[nodiscard]] QString RenderPageHtml(const Page &page, const QString &resourceBase,
                                     bool includeIds);

// Takes an HTML fragment in: drops scripts and event attributes, gives every element a
// generated id, stores data-URL and part images as resources. Empty on failure.
[[nodiscard]] std::optional<QString>
ImportFragment(const QString &html, Page &page, const ContentImport &import, ContentError *error);

// Applies PATCH commands to the page in memory; all of them, or none with an error.
[[nodiscard]] bool ApplyCommands(Page &page, const QJsonArray &commands,
                                 const ContentImport &import, ContentError *error);

// A new page from a whole document: the title and the body's content.
[[nodiscard]] bool FillNewPage(Page &page, const QString &html, const ContentImport &import,
                               ContentError *error);

// The resource ids that the page's HTML uses.
[[nodiscard]] QStringList ReferencedResources(const QString &body);

// Page HTML as RenderPageHtml wrote it, with the images in the given shape.
[[nodiscard]] QString ShapeImages(const QString &html, const PageShape &shape);

// The picture at the start of the bytes, a GIF or PNG, without what follows its end; other
// bytes as they are.
[[nodiscard]] QByteArray PictureOnly(const QByteArray &bytes);

// "image/png", "image/gif", "image/jpeg" from the bytes, else the given type.
[[nodiscard]] QString SniffImageType(const QByteArray &bytes, const QString &declared);

} // namespace Cogitra::Service
