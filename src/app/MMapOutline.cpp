#include "MMapOutline.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace Cogitra {

namespace {

const QString kText = QStringLiteral("text");
const QString kNote = QStringLiteral("note");
const QString kLink = QStringLiteral("hyperlink");
const QString kLinkTitle = QStringLiteral("hyperlinkTitle");
const QString kPriority = QStringLiteral("priority");
const QString kProgress = QStringLiteral("progress");

int Mark(const QJsonValue &value)
{
    const double number = value.toDouble();
    return number >= 1 && number <= 9 && number == int(number) ? int(number) : 0;
}

MapTopic TopicFromJson(const QJsonObject &node)
{
    QJsonObject data = node.value(QStringLiteral("data")).toObject();
    MapTopic topic;
    const QJsonValue text = data.take(kText);
    topic.text = text.isDouble() ? QString::number(text.toDouble()) : text.toString();
    topic.note = data.take(kNote).toString();
    topic.link = data.take(kLink).toString();
    topic.priority = Mark(data.take(kPriority));
    topic.progress = Mark(data.take(kProgress));
    topic.extra = data;
    return topic;
}

// next: the number for the next topic that comes without an id of its own.
QJsonObject TopicToJson(const MapTopic &topic, int &next)
{
    QJsonObject data = topic.extra;
    // The editor tells topics apart by their ids (undo, the text being typed); outlines
    // from elsewhere have none.
    if (!data.contains(QStringLiteral("id")))
        data.insert(QStringLiteral("id"), QStringLiteral("outline-%1").arg(next++));
    data.insert(kText, topic.text);
    if (!topic.note.isEmpty())
        data.insert(kNote, topic.note);
    if (!topic.link.isEmpty()) {
        data.insert(kLink, topic.link);
        if (!data.contains(kLinkTitle))
            data.insert(kLinkTitle, topic.link);
    }
    if (topic.priority)
        data.insert(kPriority, topic.priority);
    if (topic.progress)
        data.insert(kProgress, topic.progress);
    QJsonArray children;
    for (const MapTopic &child : topic.children)
        children.append(TopicToJson(child, next));
    return {{QStringLiteral("data"), data}, {QStringLiteral("children"), children}};
}

} // namespace

MapTopic *MOutlineBuilder::add(int depth, MapTopic topic)
{
    if (!m_Error.isEmpty())
        return nullptr;
    if (++m_Count > kMaxOutlineTopics) {
        m_Error = QStringLiteral("more than %1 topics").arg(kMaxOutlineTopics);
        return nullptr;
    }
    depth = std::clamp(depth, 0, int(m_Path.size()));
    if (depth > kMaxOutlineDepth) {
        m_Error = QStringLiteral("nested deeper than %1 levels").arg(kMaxOutlineDepth);
        return nullptr;
    }
    m_Path.resize(depth);
    std::vector<MapTopic> &siblings = depth == 0 ? m_Outline.topics : m_Path.back()->children;
    siblings.push_back(std::move(topic));
    m_Path.push_back(&siblings.back());
    return m_Path.back();
}

MapTopic OutlineAsTree(MapOutline outline, const QString &rootText)
{
    if (outline.topics.size() == 1)
        return std::move(outline.topics.front());
    MapTopic root;
    root.text = outline.title.isEmpty() ? rootText : outline.title;
    root.children = std::move(outline.topics);
    return root;
}

OutlineRead MMapJsonFormat::read(const QByteArray &bytes)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &parseError);
    if (parseError.error != QJsonParseError::NoError)
        return {{}, QStringLiteral("not JSON: %1").arg(parseError.errorString())};
    const QJsonObject map = document.object();
    const QJsonObject root = map.value(QStringLiteral("root")).toObject();
    if (root.isEmpty())
        return {{}, QStringLiteral("not a map: it has no root topic")};

    OutlineRead result;
    for (const char *field : {"template", "theme", "version"}) {
        const QJsonValue value = map.value(QLatin1String(field));
        if (value.isString())
            result.outline.mapFields.insert(QLatin1String(field), value);
    }
    MOutlineBuilder builder(result.outline);
    // Depth first without recursion, in document order: each node is added right after
    // its parent's earlier children and their subtrees.
    std::vector<std::pair<QJsonObject, int>> pending{{root, 0}};
    while (!pending.empty()) {
        auto [node, depth] = std::move(pending.back());
        pending.pop_back();
        if (!builder.add(depth, TopicFromJson(node)))
            return {{}, builder.error()};
        const QJsonArray children = node.value(QStringLiteral("children")).toArray();
        for (qsizetype i = children.size() - 1; i >= 0; --i) {
            if (children.at(i).isObject())
                pending.emplace_back(children.at(i).toObject(), depth + 1);
        }
    }
    return result;
}

QByteArray MMapJsonFormat::write(const MapTopic &root, const QJsonObject &mapFields)
{
    QJsonObject map = mapFields;
    int next = 1;
    map.insert(QStringLiteral("root"), TopicToJson(root, next));
    return QJsonDocument(map).toJson(QJsonDocument::Compact);
}

} // namespace Cogitra
