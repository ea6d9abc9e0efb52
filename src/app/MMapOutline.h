#pragma once

#include <QJsonObject>
#include <QString>

#include <vector>

// A map as the outline formats see it: topics with their text, note, link and marks, in a
// tree. Every format is read into this and written from it.
namespace Cogitra {

// The editor's own bounds: a map past them does not open. The root is at depth 0.
inline constexpr int kMaxOutlineTopics = 100000;
inline constexpr int kMaxOutlineDepth = 256;

struct MapTopic
{
    QString text;
    QString note;
    QString link;
    int priority = 0; // 1..9, 0 for none
    int progress = 0;
    // The editor's other fields of the topic (id, picture, fold state), kept from its JSON.
    QJsonObject extra;
    std::vector<MapTopic> children;
};

struct MapOutline
{
    QString title; // what the file calls the whole outline, if anything
    std::vector<MapTopic> topics;
    // The editor's map fields (template, theme, version), kept from its JSON.
    QJsonObject mapFields;
};

// A reading's outcome: the outline, or why there is none.
struct OutlineRead
{
    MapOutline outline;
    QString error;
    [[nodiscard]] bool ok() const { return error.isEmpty(); }
};

// Places topics by depth as line-based formats meet them; a topic deeper than the one
// before it by more than a level becomes that one's child. Counts topics against the bounds.
class MOutlineBuilder
{
public:
    explicit MOutlineBuilder(MapOutline &outline)
        : m_Outline(outline)
    {}
    // Adds the topic at depth (0: top level) and returns it, or nullptr past a bound
    // (error() says which).
    MapTopic *add(int depth, MapTopic topic);
    // The topic added last, or nullptr.
    [[nodiscard]] MapTopic *last() const { return m_Path.empty() ? nullptr : m_Path.back(); }
    [[nodiscard]] int lastDepth() const { return int(m_Path.size()) - 1; }
    [[nodiscard]] const QString &error() const { return m_Error; }

private:
    MapOutline &m_Outline;
    std::vector<MapTopic *> m_Path;
    int m_Count = 0;
    QString m_Error;
};

// The outline as one tree: its only top-level topic, or a topic named after the title
// (else rootText) holding them all.
[[nodiscard]] MapTopic OutlineAsTree(MapOutline outline, const QString &rootText);

// The editor's map JSON.
class MMapJsonFormat
{
public:
    [[nodiscard]] static OutlineRead read(const QByteArray &bytes);
    [[nodiscard]] static QByteArray write(const MapTopic &root, const QJsonObject &mapFields = {});
};

} // namespace Cogitra
