#include "service/DemoSeed.h"

#include "attachment/TZetGifAttachment.h"

#include <QFile>
#include <QtEndian>

#include <array>

namespace Cogitra::Service {
namespace {

quint32 Crc32(const QByteArray &bytes)
{
    static const std::array<quint32, 256> kTable = [] {
        std::array<quint32, 256> table{};
        for (quint32 n = 0; n < 256; ++n) {
            quint32 c = n;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            table[n] = c;
        }
        return table;
    }();
    quint32 crc = 0xFFFFFFFFu;
    for (const char b : bytes)
        crc = kTable[(crc ^ static_cast<quint8>(b)) & 0xFF] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

QByteArray Chunk(const char *type, const QByteArray &data)
{
    QByteArray out(4, Qt::Uninitialized);
    qToBigEndian(static_cast<quint32>(data.size()), out.data());
    const QByteArray typed = QByteArray(type, 4) + data;
    QByteArray crc(4, Qt::Uninitialized);
    qToBigEndian(Crc32(typed), crc.data());
    return out + typed + crc;
}

const QString kDemoState = QStringLiteral("demo.");

// A small map as the editor writes it.
const char kDemoMap[]
    = R"({"root":{"data":{"id":"c1","created":1733500000000,"text":"Cogitra demo"},)"
      R"("children":[{"data":{"id":"c2","created":1733500000001,"text":"Plan"},"children":[]},)"
      R"({"data":{"id":"c3","created":1733500000002,"text":"Build"},"children":[]},)"
      R"({"data":{"id":"c4","created":1733500000003,"text":"Ship"},"children":[]}]},)"
      R"("template":"default","theme":"fresh-blue","version":"1.4.43"})";

// The map in Cogitra's own container, packed by the attachment layer.
QByteArray DemoContainer()
{
    QFile templateFile(Cogitra::TZetGifAttachment::TemplatePath());
    if (!templateFile.open(QIODevice::ReadOnly))
        return QByteArray();
    return Cogitra::BuildContainer(templateFile.readAll(),
                                   Cogitra::TZetGifAttachment::PayloadFileName().toUtf8(),
                                   QByteArray(kDemoMap));
}

} // namespace

QByteArray DemoMapJson()
{
    return QByteArray(kDemoMap);
}

QByteArray MakePng(int width, int height, quint32 rgbTop, quint32 rgbBottom)
{
    QByteArray header(13, '\0');
    qToBigEndian(static_cast<quint32>(width), header.data());
    qToBigEndian(static_cast<quint32>(height), header.data() + 4);
    header[8] = 8; // bit depth
    header[9] = 2; // RGB
    QByteArray raw;
    raw.reserve((width * 3 + 1) * height);
    for (int y = 0; y < height; ++y) {
        raw += '\0';
        const int t = height > 1 ? y * 255 / (height - 1) : 0;
        for (int x = 0; x < width; ++x) {
            for (int shift = 16; shift >= 0; shift -= 8) {
                const int a = (rgbTop >> shift) & 0xFF;
                const int b = (rgbBottom >> shift) & 0xFF;
                int v = a + (b - a) * t / 255;
                if ((x / 8 + y / 8) % 2 == 0)
                    v = v * 9 / 10;
                raw += static_cast<char>(v);
            }
        }
    }
    const QByteArray zlib = qCompress(raw, 9).mid(4); // qCompress puts a length before the stream
    return QByteArray("\x89PNG\r\n\x1a\n", 8) + Chunk("IHDR", header) + Chunk("IDAT", zlib)
           + Chunk("IEND", QByteArray());
}

std::optional<DemoAccount> SeedDemo(NotebookService &service)
{
    Store &store = service.store();
    DemoAccount demo;
    demo.upn = QLatin1String(kDemoUser);
    demo.password = QLatin1String(kDemoPassword);
    if (std::optional<Account> existing = store.accountByUpn(demo.upn)) {
        demo.account = *existing;
        demo.mapPageId = store.stateValue(kDemoState + QStringLiteral("mapPage"));
        demo.imagesPageId = store.stateValue(kDemoState + QStringLiteral("imagesPage"));
        demo.nonAsciiPageId = store.stateValue(kDemoState + QStringLiteral("nonAsciiPage"));
        demo.bigSectionId = store.stateValue(kDemoState + QStringLiteral("bigSection"));
        return demo;
    }
    std::optional<Account> account
        = store.createAccount(demo.upn, demo.password, QStringLiteral("Demo User"));
    if (!account)
        return std::nullopt;
    demo.account = *account;
    const QString cid = account->cid;
    const qint64 day = 24LL * 3600 * 1000;
    const qint64 start = NowMs() - 60 * day;

    const auto page
        = [&](const Section &section, const QString &title, const QString &body, qint64 when) {
              std::optional<Page> created = store.createPage(section.id, title, when);
              if (created && !body.isEmpty()) {
                  created->body = body;
                  (void)store.updatePage(*created);
              }
              return created;
          };
    const auto paragraph = [](const Page &p, qint64 n, const QString &text) -> QString {
        return QStringLiteral("\t\t\t<p id=\"p:{") + p.elementGuid + QStringLiteral("}{")
               + QString::number(n)
               + QStringLiteral("}\" style=\"margin-top:0pt;margin-bottom:0pt\">")
               + text.toHtmlEscaped() + QStringLiteral("</p>\r\n");
    };

    const std::optional<Notebook> work = store.createNotebook(cid, QStringLiteral("Work Notes"));
    const std::optional<Notebook> garden = store.createNotebook(cid, QStringLiteral("Garden"));
    if (!work || !garden)
        return std::nullopt;
    const std::optional<Section> meetings
        = store.createSection(work->id, QString(), QStringLiteral("Meetings"));
    const std::optional<Section> ideas
        = store.createSection(work->id, QString(), QStringLiteral("Ideas"));
    const std::optional<SectionGroup> projects
        = store.createSectionGroup(work->id, QString(), QStringLiteral("Projects"));
    if (!meetings || !ideas || !projects)
        return std::nullopt;
    const std::optional<Section> team
        = store.createSection(work->id, projects->id, QStringLiteral("A Team"));
    const std::optional<SectionGroup> archive
        = store.createSectionGroup(work->id, projects->id, QStringLiteral("Archive"));
    const std::optional<Section> year
        = archive ? store.createSection(work->id, archive->id, QStringLiteral("2025"))
                  : std::nullopt;
    const std::optional<Section> planting
        = store.createSection(garden->id, QString(), QStringLiteral("Planting plan"));
    const std::optional<Section> harvest
        = store.createSection(garden->id, QString(), QStringLiteral("Harvest log"));
    if (!team || !year || !planting || !harvest)
        return std::nullopt;

    if (std::optional<Page> p
        = store.createPage(meetings->id, QStringLiteral("Weekly sync"), start + 50 * day)) {
        p->body = paragraph(*p, 2, QStringLiteral("Attendees: Sam, Ana & Lee."))
                  + QStringLiteral("\t\t\t<ul id=\"ul:{") + p->elementGuid
                  + QStringLiteral("}{3}\"><li id=\"li:{") + p->elementGuid
                  + QStringLiteral("}{4}\">Status round</li><li id=\"li:{") + p->elementGuid
                  + QStringLiteral("}{5}\">Send minutes</li></ul>\r\n");
        p->nextElement = 6;
        (void)store.updatePage(*p);
    }

    std::optional<Page> map
        = store.createPage(meetings->id, QStringLiteral("Project map"), start + 55 * day);
    if (!map)
        return std::nullopt;
    demo.mapPageId = map->id;
    // The map's two images, appended as Cogitra appends them: its rendering, then the
    // container declared as a PNG.
    const QByteArray container = DemoContainer();
    if (container.isEmpty())
        return std::nullopt;
    const auto append = [&](const QString &alt, const QByteArray &bytes) {
        const QString commands
            = QStringLiteral("[{'target':'body','action':'append','content':'<div><img "
                             "alt=\"%1\" src=\"data:image/png;base64,%2\" /></div>'}]")
                  .arg(alt, QString::fromLatin1(bytes.toBase64()));
        return service.patchPage(map->id, commands.toUtf8());
    };
    if (!service.patchPage(map->id,
                           "[{'target':'body','action':'append','content':'<p>The project at a "
                           "glance.</p>'}]")
        || !append(QStringLiteral("ZetCogitra"), MakePng(320, 180, 0xFFFFFF, 0xD8C8F0))
        || !append(QStringLiteral("ZetGif"), container))
        return std::nullopt;

    std::optional<Page> photos
        = store.createPage(meetings->id, QStringLiteral("Whiteboard photos"), start + 52 * day);
    if (!photos)
        return std::nullopt;
    demo.imagesPageId = photos->id;
    const QString photoCommands
        = QStringLiteral(
              "[{'target':'body','action':'append','content':'<p>Photos from the planning "
              "session.</p>'},{'target':'body','action':'append','content':'<img "
              "alt=\"Whiteboard photo\" src=\"data:image/png;base64,")
          + QString::fromLatin1(MakePng(240, 160, 0xF4F4F4, 0x7FA7D9).toBase64())
          + QStringLiteral(
              "\" />'},{'target':'body','action':'append','content':'<img data-id=\"diagram\" "
              "src=\"data:image/png;base64,")
          + QString::fromLatin1(MakePng(160, 120, 0xFFF2CC, 0xE07B39).toBase64())
          + QStringLiteral("\" />'}]");
    if (!service.patchPage(photos->id, photoCommands.toUtf8()))
        return std::nullopt;

    if (std::optional<Page> p = page(*ideas, QStringLiteral("Ideen & Pläne: Straße — 思维导图"),
                                     QString(), start + 40 * day)) {
        demo.nonAsciiPageId = p->id;
        p->body = paragraph(*p, 2, QStringLiteral("Notizen zur Straße, 思维导图的草稿。"));
        p->nextElement = 3;
        (void)store.updatePage(*p);
    }
    (void)page(*ideas, QStringLiteral("(Draft) reading list"), QString(), start + 30 * day);
    (void)page(*team, QStringLiteral("Kick-off"), QString(), start + 20 * day);
    (void)page(*year, QStringLiteral("Retrospective 2025"), QString(), start + 10 * day);
    (void)page(*harvest, QStringLiteral("Tomatoes"), QString(), start + 5 * day);

    demo.bigSectionId = planting->id;
    for (int i = 1; i <= 130; ++i) {
        std::optional<Page> bed = store.createPage(
            planting->id, QStringLiteral("Bed %1").arg(i, 3, 10, QLatin1Char('0')),
            start + i * 60 * 1000);
        if (!bed)
            return std::nullopt;
        bed->body = paragraph(*bed, 2, QStringLiteral("Plants for bed %1.").arg(i));
        bed->nextElement = 3;
        (void)store.updatePage(*bed);
    }

    store.setStateValue(kDemoState + QStringLiteral("mapPage"), demo.mapPageId);
    store.setStateValue(kDemoState + QStringLiteral("imagesPage"), demo.imagesPageId);
    store.setStateValue(kDemoState + QStringLiteral("nonAsciiPage"), demo.nonAsciiPageId);
    store.setStateValue(kDemoState + QStringLiteral("bigSection"), demo.bigSectionId);
    if (service.selectedPageId().isEmpty())
        (void)service.selectPage(demo.mapPageId);
    return demo;
}

} // namespace Cogitra::Service
