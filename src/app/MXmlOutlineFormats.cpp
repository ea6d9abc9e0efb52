#include "MXmlOutlineFormats.h"

#include <QXmlStreamReader>
#include <QXmlStreamWriter>

namespace Cogitra {

namespace {

QString XmlError(const QXmlStreamReader &xml)
{
    return QStringLiteral("not well-formed XML (line %1): %2")
        .arg(xml.lineNumber())
        .arg(xml.errorString());
}

// The text of an element holding HTML, a line for each paragraph or line break.
QString HtmlText(QXmlStreamReader &xml)
{
    QString text;
    int depth = 1;
    while (depth > 0 && !xml.atEnd()) {
        switch (xml.readNext()) {
        case QXmlStreamReader::StartElement: {
            ++depth;
            const QStringView name = xml.name();
            if ((name == u"p" || name == u"br" || name == u"li" || name == u"div")
                && !text.isEmpty())
                text += u'\n';
            break;
        }
        case QXmlStreamReader::EndElement:
            --depth;
            break;
        case QXmlStreamReader::Characters:
            // Line breaks in the HTML's source are spaces; only the elements above break.
            text += xml.text().toString().replace(u'\n', u' ').replace(u'\r', u' ');
            break;
        default:
            break;
        }
    }
    QStringList lines = text.split(u'\n');
    for (QString &line : lines)
        line = line.simplified();
    return lines.join(u'\n').trimmed();
}

// The end of a read: the reader's own error first, then a document of another kind, then one
// that holds no topic.
OutlineRead Finished(const QXmlStreamReader &xml, OutlineRead result, bool sawRoot,
                     const QString &noRoot, const QString &noTopics)
{
    if (xml.hasError())
        return {{}, XmlError(xml)};
    if (!sawRoot)
        return {{}, noRoot};
    if (result.outline.topics.empty())
        return {{}, noTopics};
    return result;
}

// Outside files may carry a document type with entities of their own; none of ours needs
// one, so a file with one is refused rather than expanded.
bool Refused(QXmlStreamReader &xml, QString &error)
{
    if (xml.tokenType() == QXmlStreamReader::DTD) {
        error = QStringLiteral("the file declares a document type, which is not read");
        return true;
    }
    if (xml.hasError()) {
        error = XmlError(xml);
        return true;
    }
    return false;
}

int Mark(const QString &text)
{
    const int value = text.toInt();
    return value >= 1 && value <= 9 ? value : 0;
}

void WriteOutline(QXmlStreamWriter &xml, const MapTopic &topic)
{
    xml.writeStartElement(QStringLiteral("outline"));
    xml.writeAttribute(QStringLiteral("text"), topic.text);
    if (!topic.note.isEmpty())
        xml.writeAttribute(QStringLiteral("_note"), topic.note);
    if (!topic.link.isEmpty()) {
        xml.writeAttribute(QStringLiteral("type"), QStringLiteral("link"));
        xml.writeAttribute(QStringLiteral("url"), topic.link);
    }
    for (const MapTopic &child : topic.children)
        WriteOutline(xml, child);
    xml.writeEndElement();
}

void WriteNode(QXmlStreamWriter &xml, const MapTopic &topic)
{
    xml.writeStartElement(QStringLiteral("node"));
    xml.writeAttribute(QStringLiteral("TEXT"), topic.text);
    if (!topic.link.isEmpty())
        xml.writeAttribute(QStringLiteral("LINK"), topic.link);
    if (topic.priority) {
        xml.writeEmptyElement(QStringLiteral("icon"));
        xml.writeAttribute(QStringLiteral("BUILTIN"),
                           QStringLiteral("full-%1").arg(topic.priority));
    }
    if (!topic.note.isEmpty()) {
        xml.writeStartElement(QStringLiteral("richcontent"));
        xml.writeAttribute(QStringLiteral("TYPE"), QStringLiteral("NOTE"));
        xml.writeStartElement(QStringLiteral("html"));
        xml.writeStartElement(QStringLiteral("body"));
        for (const QString &line : topic.note.split(u'\n'))
            xml.writeTextElement(QStringLiteral("p"), line);
        xml.writeEndElement();
        xml.writeEndElement();
        xml.writeEndElement();
    }
    for (const MapTopic &child : topic.children)
        WriteNode(xml, child);
    xml.writeEndElement();
}

} // namespace

OutlineRead MOpmlFormat::read(const QByteArray &bytes)
{
    OutlineRead result;
    MOutlineBuilder builder(result.outline);
    QXmlStreamReader xml(bytes);
    bool sawOpml = false;
    int depth = -1; // of the outline element being read
    QString error;
    while (!xml.atEnd()) {
        xml.readNext();
        if (Refused(xml, error))
            return {{}, error};
        if (xml.isStartElement()) {
            if (xml.name() == u"opml")
                sawOpml = true;
            else if (xml.name() == u"title" && depth < 0)
                result.outline.title = xml.readElementText(QXmlStreamReader::SkipChildElements);
            else if (xml.name() == u"outline") {
                const QXmlStreamAttributes attributes = xml.attributes();
                MapTopic topic;
                topic.text = attributes.value(QStringLiteral("text")).toString();
                if (topic.text.isEmpty())
                    topic.text = attributes.value(QStringLiteral("title")).toString();
                topic.note = attributes.value(QStringLiteral("_note")).toString();
                topic.link = attributes.value(QStringLiteral("url")).toString();
                if (topic.link.isEmpty())
                    topic.link = attributes.value(QStringLiteral("htmlUrl")).toString();
                if (!builder.add(++depth, std::move(topic)))
                    return {{}, builder.error()};
            }
        } else if (xml.isEndElement() && xml.name() == u"outline") {
            --depth;
        }
    }
    return Finished(xml, std::move(result), sawOpml, QStringLiteral("not OPML: no <opml> element"),
                    QStringLiteral("no topics: the outline is empty"));
}

QByteArray MOpmlFormat::write(const MapTopic &root)
{
    QByteArray bytes;
    QXmlStreamWriter xml(&bytes);
    xml.setAutoFormatting(true);
    xml.writeStartDocument();
    xml.writeStartElement(QStringLiteral("opml"));
    xml.writeAttribute(QStringLiteral("version"), QStringLiteral("2.0"));
    xml.writeStartElement(QStringLiteral("head"));
    xml.writeTextElement(QStringLiteral("title"), root.text);
    xml.writeEndElement();
    xml.writeStartElement(QStringLiteral("body"));
    WriteOutline(xml, root);
    xml.writeEndDocument();
    return bytes;
}

OutlineRead MFreeMindFormat::read(const QByteArray &bytes)
{
    OutlineRead result;
    MOutlineBuilder builder(result.outline);
    QXmlStreamReader xml(bytes);
    bool sawMap = false;
    int depth = -1;
    // The nodes open around the reader: a note may follow a node's children.
    std::vector<MapTopic *> open;
    QString error;
    while (!xml.atEnd()) {
        xml.readNext();
        if (Refused(xml, error))
            return {{}, error};
        if (xml.isStartElement()) {
            const QXmlStreamAttributes attributes = xml.attributes();
            if (xml.name() == u"map") {
                sawMap = true;
            } else if (xml.name() == u"node") {
                MapTopic topic;
                topic.text = attributes.value(QStringLiteral("TEXT")).toString();
                topic.link = attributes.value(QStringLiteral("LINK")).toString();
                MapTopic *added = builder.add(++depth, std::move(topic));
                if (!added)
                    return {{}, builder.error()};
                open.push_back(added);
            } else if (xml.name() == u"richcontent" && !open.empty()) {
                MapTopic *current = open.back();
                const QString type = attributes.value(QStringLiteral("TYPE")).toString();
                const QString text = HtmlText(xml);
                if (type == u"NOTE")
                    current->note = text;
                else if (type == u"NODE" && current->text.isEmpty())
                    current->text = text;
                if (Refused(xml, error))
                    return {{}, error};
            } else if (xml.name() == u"icon" && !open.empty()) {
                MapTopic *current = open.back();
                const QString icon = attributes.value(QStringLiteral("BUILTIN")).toString();
                if (icon.startsWith(QStringLiteral("full-")) && !current->priority)
                    current->priority = Mark(icon.mid(5));
            }
        } else if (xml.isEndElement() && xml.name() == u"node") {
            --depth;
            open.pop_back();
        }
    }
    return Finished(xml, std::move(result), sawMap,
                    QStringLiteral("not a FreeMind map: no <map> element"),
                    QStringLiteral("no topics: the map is empty"));
}

QByteArray MFreeMindFormat::write(const MapTopic &root)
{
    QByteArray bytes;
    QXmlStreamWriter xml(&bytes);
    xml.setAutoFormatting(true);
    xml.writeStartElement(QStringLiteral("map"));
    xml.writeAttribute(QStringLiteral("version"), QStringLiteral("1.0.1"));
    WriteNode(xml, root);
    xml.writeEndDocument();
    return bytes;
}

} // namespace Cogitra
