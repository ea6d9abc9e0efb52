#include "attachment/TZetGifAttachment.h"
#include "util/MGlobals.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <thread>

using namespace Cogitra;

// The template's length is part of the container format: every container ever written
// holds its map at this offset plus 255. Changing the picture breaks every saved map.
constexpr qsizetype kTemplateLength = 656;
constexpr char kTemplateSha256[]
    = "bf87219971fae7726d5f4541e0ba7ccb67e1e0613b9203af5829db2d34ffa227";

void PrintTo(const QString &text, std::ostream *os)
{
    *os << '"' << text.toStdString() << '"';
}

namespace {

QByteArray ReadBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void WriteBytes(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(file.write(bytes), bytes.size());
}

QByteArray TemplateBytes()
{
    return ReadBytes(TZetGifAttachment::TemplatePath());
}

QByteArray NameField()
{
    QByteArray field("ZetTmp.txt");
    field.append(kContainerNameFieldLength - field.size(), '\0');
    return field;
}

// A container around the four-byte template "GIFT".
QByteArray Gift(const QByteArray &field, const QByteArray &payload)
{
    QByteArray container("GIFT");
    container.append(field);
    container.append(payload);
    return container;
}

// A map large enough to cross every buffer size, with text from several scripts.
QString LargeMap(qsizetype approximateBytes)
{
    QString json = QStringLiteral("{\"root\":{\"data\":{\"text\":\"Root\"},\"children\":[");
    const QString node = QString::fromUtf8("{\"data\":{\"text\":\"Knoten %1 – 节点 😀 "
                                           "\\\"quoted\\\" \\u0000 tab\\t\"},\"children\":[]},");
    for (int i = 0; json.size() * 2 < approximateBytes; ++i)
        json += node.arg(i);
    json.chop(1);
    json += QStringLiteral(
        "]},\"template\":\"default\",\"theme\":\"fresh-blue\",\"version\":\"1.4.43\"}");
    return json;
}

class DataFolder : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_Dir.isValid());
        g_AppDataDir.set(m_Dir.path());
    }
    void TearDown() override { g_AppDataDir.set(QString()); }

    QString path(const QString &name) const { return m_Dir.filePath(name); }

    QTemporaryDir m_Dir;
};

} // namespace

TEST(ContainerTemplate, IsPinnedForever)
{
    const QByteArray bytes = TemplateBytes();
    ASSERT_EQ(bytes.size(), kTemplateLength);
    EXPECT_EQ(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex(),
              QByteArray(kTemplateSha256));
    EXPECT_EQ(bytes, ReadBytes(QStringLiteral(COGITRA_SOURCE_DIR "/resources/ZetData.gif")))
        << "the embedded template is the committed file, uncompressed and unchanged";
}

TEST(ContainerTemplate, IsAPictureAGifDecoderShows)
{
    const QByteArray bytes = TemplateBytes();
    ASSERT_TRUE(bytes.startsWith("GIF89a"));
    ASSERT_TRUE(bytes.endsWith(";")) << "a GIF trailer ends the template";
    QBuffer buffer;
    buffer.setData(bytes);
    QImageReader reader(&buffer, "gif");
    const QImage image = reader.read();
    ASSERT_FALSE(image.isNull()) << reader.errorString().toStdString();
    EXPECT_EQ(image.size(), QSize(96, 64));
    EXPECT_GT(image.pixelColor(33, 37).blue(), image.pixelColor(33, 37).red())
        << "the central node is blue";
}

TEST(ContainerLayout, BuildsTemplateNameFieldPayload)
{
    const QByteArray payload = QString::fromUtf8("{\"t\":\"ä\"}").toUtf8();
    EXPECT_EQ(BuildContainer("GIFT", "ZetTmp.txt", payload), Gift(NameField(), payload));
    EXPECT_EQ(BuildContainer("GIFT", QByteArray(255, 'n'), "x").size(), 4 + 255 + 1);
    EXPECT_TRUE(BuildContainer("GIFT", QByteArray(256, 'n'), "x").isEmpty())
        << "a name longer than the field";
    EXPECT_TRUE(BuildContainer("GIFT", QByteArray(), "x").isEmpty());
}

struct DamagedCase
{
    const char *name;
    QByteArray container;
};

class ContainerDamage : public testing::TestWithParam<DamagedCase>
{
};

TEST_P(ContainerDamage, YieldsNoPayload)
{
    EXPECT_EQ(ParseContainer(4, GetParam().container), std::nullopt);
}

INSTANTIATE_TEST_SUITE_P(
    Containers, ContainerDamage,
    testing::Values(DamagedCase{"Empty", QByteArray()}, DamagedCase{"TemplateOnly", "GIFT"},
                    DamagedCase{"NameFieldCutShort", Gift(NameField().chopped(1), "")},
                    DamagedCase{"OtherName", Gift(NameField().replace("ZetTmp", "ZetTmq"), "{}")},
                    DamagedCase{"NameWithoutFill", Gift(NameField().replace(200, 1, "x"), "{}")},
                    DamagedCase{"NameFieldOneByteLate",
                                Gift(QByteArray(1, '\0') + NameField(), "{}")},
                    DamagedCase{"LoneContinuationByte", Gift(NameField(), "{\x80}")},
                    DamagedCase{"TruncatedSequenceAtEnd", Gift(NameField(), "{\"a\":\"\xE8\xAE")},
                    DamagedCase{"OverlongForm", Gift(NameField(), "\xC0\xAF")},
                    DamagedCase{"EncodedSurrogate", Gift(NameField(), "\xED\xA0\x80")}),
    [](const testing::TestParamInfo<DamagedCase> &param) { return std::string(param.param.name); });

TEST(ContainerLayout, ParsesPayloadBehindTheNameField)
{
    EXPECT_EQ(ParseContainer(4, Gift(NameField(), "")), QString());
    EXPECT_EQ(ParseContainer(4, Gift(NameField(), "{}")), QStringLiteral("{}"));
    const QByteArray bomAndNul("\xEF\xBB\xBF{\"a\":\"\0\"}", 11);
    EXPECT_EQ(ParseContainer(4, Gift(NameField(), bomAndNul))->toUtf8(), bomAndNul)
        << "a leading byte-order mark and NUL characters are kept";
    EXPECT_EQ(ParseContainer(-1, Gift(NameField(), "")), std::nullopt);
    EXPECT_EQ(ParseContainer(1000, Gift(NameField(), "")), std::nullopt);
}

TEST_F(DataFolder, PackWritesTheExactLayout)
{
    const QString json
        = QString::fromUtf8("{\"root\":{\"data\":{\"text\":\"思维导图 – Ünïcødé 😀\"}}}");
    const QString base64 = TZetGifAttachment::Package(json);
    ASSERT_FALSE(base64.isEmpty());
    EXPECT_FALSE(base64.contains(QLatin1Char('\n')));
    EXPECT_FALSE(base64.contains(QLatin1Char('\r')));
    EXPECT_TRUE(base64.endsWith(QLatin1Char('='))) << "standard base64 keeps its padding here";

    const QByteArray container
        = QByteArray::fromBase64(base64.toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    EXPECT_EQ(QString::fromLatin1(container.toBase64()), base64) << "base64 without options";
    const QByteArray jsonBytes = json.toUtf8();
    ASSERT_EQ(container.size(), kTemplateLength + 255 + jsonBytes.size());
    EXPECT_EQ(container.first(kTemplateLength), TemplateBytes());
    EXPECT_EQ(container.sliced(kTemplateLength, 10), "ZetTmp.txt");
    EXPECT_EQ(container.sliced(kTemplateLength + 10, 245), QByteArray(245, '\0'));
    EXPECT_EQ(container.sliced(kTemplateLength + 255), jsonBytes);

    EXPECT_EQ(ReadBytes(path("ZetTmp.txt")), jsonBytes);
    EXPECT_EQ(ReadBytes(path("ZetFile.gif")), container);
    EXPECT_EQ(TZetGifAttachment::Extract(path("ZetFile.gif")), json);
}

TEST_F(DataFolder, PackedContainerIsAGifToAnIndependentDecoder)
{
    const QString json = LargeMap(64 * 1024);
    const QByteArray container
        = QByteArray::fromBase64(TZetGifAttachment::Package(json).toLatin1());
    QBuffer buffer;
    buffer.setData(container);
    QImageReader reader(&buffer);
    EXPECT_EQ(reader.format(), "gif");
    const QImage image = reader.read();
    ASSERT_FALSE(image.isNull()) << reader.errorString().toStdString();

    QBuffer templateBuffer;
    templateBuffer.setData(TemplateBytes());
    EXPECT_EQ(image, QImageReader(&templateBuffer).read()) << "viewers show the template";
    EXPECT_EQ(container.sliced(kTemplateLength + 255), json.toUtf8());
}

TEST_F(DataFolder, EmptyMapGivesTheBareContainer)
{
    const QString base64 = TZetGifAttachment::Package(QString());
    ASSERT_FALSE(base64.isEmpty());
    EXPECT_EQ(QByteArray::fromBase64(base64.toLatin1()).size(), kTemplateLength + 255);
    EXPECT_EQ(TZetGifAttachment::TryExtract(path("ZetFile.gif")), QString());
}

TEST_F(DataFolder, LargeAndNonAsciiMapsRoundTripByteForByte)
{
    for (const qsizetype size : {qsizetype(1), qsizetype(300 * 1024), qsizetype(5 * 1024 * 1024)}) {
        const QString json = LargeMap(size);
        SCOPED_TRACE(json.size());
        ASSERT_FALSE(TZetGifAttachment::Package(json).isEmpty());
        const QString back = TZetGifAttachment::Extract(path("ZetFile.gif"));
        EXPECT_EQ(back.toUtf8(), json.toUtf8());
    }
}

TEST_F(DataFolder, ExtractRefusesShortDamagedAndMissingFiles)
{
    const QByteArray good = TemplateBytes() + NameField() + "{\"a\":1}";
    WriteBytes(path("good.gif"), good);
    EXPECT_EQ(TZetGifAttachment::Extract(path("good.gif")), QStringLiteral("{\"a\":1}"));

    WriteBytes(path("short.gif"), good.first(kTemplateLength + 254));
    EXPECT_EQ(TZetGifAttachment::TryExtract(path("short.gif")), std::nullopt);
    EXPECT_EQ(TZetGifAttachment::Extract(path("short.gif")), QString());

    WriteBytes(path("template-only.gif"), TemplateBytes());
    EXPECT_EQ(TZetGifAttachment::TryExtract(path("template-only.gif")), std::nullopt);

    WriteBytes(path("empty.gif"), QByteArray());
    EXPECT_EQ(TZetGifAttachment::TryExtract(path("empty.gif")), std::nullopt);

    // A container packed around a file of another name is not one of ours.
    WriteBytes(path("map.json"), "{}");
    ASSERT_TRUE(WriteContainerFile(TZetGifAttachment::TemplatePath(), path("map.json"),
                                   path("other-name.gif")));
    EXPECT_EQ(ReadBytes(path("other-name.gif")).sliced(kTemplateLength, 8), "map.json");
    EXPECT_EQ(TZetGifAttachment::TryExtract(path("other-name.gif")), std::nullopt);

    WriteBytes(path("latin1.gif"), TemplateBytes() + NameField() + "{\"a\":\"\xE9\"}");
    EXPECT_EQ(TZetGifAttachment::TryExtract(path("latin1.gif")), std::nullopt);

    EXPECT_EQ(TZetGifAttachment::TryExtract(path("missing.gif")), std::nullopt);
    EXPECT_EQ(TZetGifAttachment::TryExtract(m_Dir.path()), std::nullopt) << "a folder";
    EXPECT_EQ(ReadContainerPayload(path("missing-template.gif"), path("good.gif")), std::nullopt);
}

TEST_F(DataFolder, PackThatCannotWriteReturnsNothingRatherThanAStaleFile)
{
    ASSERT_FALSE(TZetGifAttachment::Package(QStringLiteral("{\"old\":1}")).isEmpty());
    const QByteArray stale = ReadBytes(path("ZetFile.gif"));

    // Folders in the way of the files: no write succeeds, even for root.
    ASSERT_TRUE(QFile::remove(path("ZetTmp.txt")));
    ASSERT_TRUE(QDir(m_Dir.path()).mkdir("ZetTmp.txt"));
    EXPECT_EQ(TZetGifAttachment::Package(QStringLiteral("{\"new\":1}")), QString());
    EXPECT_EQ(ReadBytes(path("ZetFile.gif")), stale);

    ASSERT_TRUE(QDir(m_Dir.path()).rmdir("ZetTmp.txt"));
    ASSERT_TRUE(QFile::remove(path("ZetFile.gif")));
    ASSERT_TRUE(QDir(m_Dir.path()).mkdir("ZetFile.gif"));
    EXPECT_EQ(TZetGifAttachment::Package(QStringLiteral("{\"new\":1}")), QString());

    g_AppDataDir.set(path("no/such/folder"));
    EXPECT_EQ(TZetGifAttachment::Package(QStringLiteral("{}")), QString());
    g_AppDataDir.set(QString());
    EXPECT_EQ(TZetGifAttachment::Package(QStringLiteral("{}")), QString())
        << "no data folder: nothing is written next to the program";
}

TEST_F(DataFolder, WriteContainerFileNeedsTemplateAndPayload)
{
    WriteBytes(path("ZetTmp.txt"), "{}");
    EXPECT_FALSE(WriteContainerFile(path("no-template.gif"), path("ZetTmp.txt"), path("out.gif")));
    WriteBytes(path("empty-template.gif"), QByteArray());
    EXPECT_FALSE(
        WriteContainerFile(path("empty-template.gif"), path("ZetTmp.txt"), path("out.gif")));
    EXPECT_FALSE(
        WriteContainerFile(TZetGifAttachment::TemplatePath(), path("none.txt"), path("out.gif")));
    EXPECT_FALSE(QFile::exists(path("out.gif")));
    EXPECT_EQ(TZetGifAttachment::GetFileBase64(path("none.txt")), QString());
    EXPECT_EQ(FileToBase64(path("none.txt")), QString());

    const QString base64 = TZetGifAttachment::GetFileBase64(path("ZetTmp.txt"));
    EXPECT_EQ(QByteArray::fromBase64(base64.toLatin1()), TemplateBytes() + NameField() + "{}");
}

TEST_F(DataFolder, ConcurrentPacksEachGetTheirOwnMap)
{
    constexpr int kThreads = 4;
    constexpr int kRounds = 25;
    std::vector<std::thread> threads;
    std::atomic<int> mismatches = 0;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &mismatches] {
            for (int round = 0; round < kRounds; ++round) {
                const QString json = QStringLiteral("{\"thread\":%1,\"round\":%2,\"pad\":\"%3\"}")
                                         .arg(t)
                                         .arg(round)
                                         .arg(QString(1000 * (t + 1), QLatin1Char('x')));
                const QByteArray container
                    = QByteArray::fromBase64(TZetGifAttachment::Package(json).toLatin1());
                if (ParseContainer(kTemplateLength, container) != json)
                    ++mismatches;
            }
        });
    }
    for (std::thread &thread : threads)
        thread.join();
    EXPECT_EQ(mismatches.load(), 0);
}

TEST(ContainerGoldenFiles, MapsWrittenByEarlierVersionsStillLoad)
{
    const QString dir = QStringLiteral(COGITRA_FIXTURES_DIR "/containers/");
    const QByteArray json = ReadBytes(dir + "map-v1.json");
    ASSERT_FALSE(json.isEmpty());
    EXPECT_EQ(TZetGifAttachment::Extract(dir + "map-v1.gif").toUtf8(), json);
}

struct HtmlCase
{
    const char *name;
    const char *html;
    const char *url;       // GetZetGifUrlFromPageHtml
    const char *gifId;     // GetZetGifIdFromPageHtml(html, "ZetGif")
    const char *cogitraId; // GetZetGifIdFromPageHtml(html, "ZetCogitra")
};

class PageImageSearch : public testing::TestWithParam<HtmlCase>
{
};

TEST_P(PageImageSearch, FindsTheMapImages)
{
    const QString html = QString::fromUtf8(GetParam().html);
    EXPECT_EQ(TZetGifAttachment::GetZetGifUrlFromPageHtml(html), GetParam().url);
    EXPECT_EQ(TZetGifAttachment::GetZetGifIdFromPageHtml(html, "ZetGif"), GetParam().gifId);
    EXPECT_EQ(TZetGifAttachment::GetZetGifIdFromPageHtml(html, "ZetCogitra"), GetParam().cogitraId);
}

INSTANTIATE_TEST_SUITE_P(
    Pages, PageImageSearch,
    testing::Values(
        HtmlCase{"NoImages", "<html><body><p>text</p></body></html>", "", "", ""},
        HtmlCase{"Empty", "", "", "", ""},
        HtmlCase{
            "BothMapImages",
            "<p>x</p><img id=\"img:{g}{3}\" alt=\"ZetCogitra\" src=\"https://h/r/png/$value\" />"
            "<img id=\"img:{g}{4}\" alt=\"ZetGif\" src=\"https://h/r/gif/$value\" />",
            "https://h/r/gif/$value", "img:{g}{4}", "img:{g}{3}"},
        HtmlCase{"FirstOfTwoWins",
                 "<img alt=\"ZetGif\" id=\"a\" src=\"first\"><img alt=\"ZetGif\" id=\"b\" "
                 "src=\"second\">",
                 "first", "a", ""},
        HtmlCase{"LetterCaseDiffers", "<img alt=\"zetgif\" id=\"a\" src=\"u\">", "", "", ""},
        HtmlCase{"SingleQuotes", "<img alt='ZetGif' id='a' src='u'>", "", "", ""},
        HtmlCase{"CapitalTagName", "<IMG alt=\"ZetGif\" id=\"a\" src=\"u\">", "", "", ""},
        HtmlCase{"OtherImagesFirst",
                 "<img alt=\"Photo\" id=\"p\" src=\"photo\"><img src=\"noalt\">"
                 "<img alt=\"ZetGif\" id=\"z\" src=\"zet\">",
                 "zet", "z", ""},
        HtmlCase{
            "LongerAttributeEndingInTheNameIsReadFirst",
            "<img data-id=\"diagram\" data-fullres-src=\"full\" alt=\"ZetGif\" id=\"z\" src=\"u\">",
            "full", "diagram", ""},
        HtmlCase{"EntitiesAreNotDecoded",
                 "<img alt=\"ZetGif\" id=\"a&amp;b\" src=\"https://h/?a=1&amp;b=2\">",
                 "https://h/?a=1&amp;b=2", "a&amp;b", ""},
        HtmlCase{"ElementWithoutEnd", "<img alt=\"ZetGif\" src=\"u\"", "", "", ""},
        HtmlCase{"AltCutByTheElementsEnd", "<img alt=\"ZetGif><img alt=\"ZetGif\" src=\"u\">", "u",
                 "", ""},
        HtmlCase{"MatchWithoutSource", "<img alt=\"ZetGif\">", "", "", ""},
        HtmlCase{"ElementsSplitOverLines",
                 "<img\n  alt=\"ZetCogitra\"\r\n  id=\"c\"\n "
                 "src=\"p\"\n/>\n<img\talt=\"ZetGif\"\tid=\"g\"\tsrc=\"q\">",
                 "q", "g", "c"}),
    [](const testing::TestParamInfo<HtmlCase> &param) { return std::string(param.param.name); });

TEST(PageImageSearch, CapturedPages)
{
    const QString html = QString::fromUtf8(ReadBytes(
        QStringLiteral(COGITRA_FIXTURES_DIR "/graph/onenote/page-content.includeIDs.html")));
    ASSERT_FALSE(html.isEmpty());
    EXPECT_EQ(TZetGifAttachment::GetZetGifIdFromPageHtml(html, "Whiteboard photo"),
              "img:{c442cfb3-6e89-28ed-dacd-c812120163c8}{10}");
    EXPECT_EQ(TZetGifAttachment::GetZetGifUrlFromPageHtml(html), "");
    EXPECT_EQ(TZetGifAttachment::GetZetGifIdFromPageHtml(html, ""), "")
        << "an empty alternative text matches no image";
}
