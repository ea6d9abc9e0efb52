#include "MMapDraft.h"

#include "util/MGlobals.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

namespace Cogitra {

namespace {

// Far above any map a person edits; a larger file is not one this application wrote.
constexpr qint64 MaxDraftBytes = 256 * 1024 * 1024;

QString Field(const QJsonObject &object, const char *name)
{
    return object.value(QLatin1String(name)).toString();
}

} // namespace

QString MapDraftPath()
{
    const QString dir = g_AppDataDir.get();
    if (dir.isEmpty())
        return QString();
    return QDir(dir).filePath(QStringLiteral("draft.json"));
}

bool SaveMapDraft(const MapDraft &draft)
{
    const QString path = MapDraftPath();
    if (path.isEmpty() || draft.json.isEmpty())
        return false;
    const QJsonObject object{
        {QStringLiteral("map"), draft.json},
        {QStringLiteral("onlinePageId"), draft.onlinePageId},
        {QStringLiteral("pageTitle"), draft.pageTitle},
        {QStringLiteral("account"), draft.page.accountId},
        {QStringLiteral("clientId"), draft.page.clientId},
        {QStringLiteral("title"), draft.page.title},
        {QStringLiteral("notebook"), draft.page.notebookName},
        {QStringLiteral("section"), draft.page.sectionName},
        {QStringLiteral("link"), draft.page.link},
        {QStringLiteral("originPageId"), draft.origin.pageId},
        {QStringLiteral("originAddress"), draft.origin.address},
        {QStringLiteral("savedAt"), draft.savedAt.toUTC().toString(Qt::ISODateWithMs)},
    };
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    // Before the first byte: the map is nobody else's to read.
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    const QByteArray bytes = QJsonDocument(object).toJson(QJsonDocument::Compact);
    if (file.write(bytes) != bytes.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

std::optional<MapDraft> LoadMapDraft()
{
    const QString path = MapDraftPath();
    if (path.isEmpty())
        return std::nullopt;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > MaxDraftBytes)
        return std::nullopt;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll());
    const QJsonObject object = document.object();
    MapDraft draft;
    draft.json = Field(object, "map");
    if (draft.json.isEmpty())
        return std::nullopt;
    draft.onlinePageId = Field(object, "onlinePageId");
    draft.pageTitle = Field(object, "pageTitle");
    draft.page = {Field(object, "account"),  Field(object, "clientId"), Field(object, "title"),
                  Field(object, "notebook"), Field(object, "section"),  Field(object, "link")};
    draft.origin = {Field(object, "originPageId"), Field(object, "originAddress")};
    draft.savedAt = QDateTime::fromString(Field(object, "savedAt"), Qt::ISODateWithMs);
    return draft;
}

void RemoveMapDraft()
{
    const QString path = MapDraftPath();
    if (!path.isEmpty())
        QFile::remove(path);
}

} // namespace Cogitra
