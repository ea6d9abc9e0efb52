#include "../support/TestFiles.h"

#include "attachment/TZetGifAttachment.h"
#include "util/MGlobals.h"

#include <QCryptographicHash>
#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <limits>

using namespace Cogitra;
using namespace Cogitra::Testing;

// Every container ever written holds its map at this offset plus 255: the picture never changes.
constexpr qsizetype kTemplateLength = 656;

namespace {

QByteArray TemplateBytes()
{
    return ReadBytes(TZetGifAttachment::TemplatePath());
}

// "ZetTmp.txt" padded with zero bytes to the 255-byte name field.
const QByteArray kNameField = QByteArray("ZetTmp.txt") + QByteArray(245, '\0');

QByteArray Decoded(const QString &base64)
{
    return QByteArray::fromBase64(base64.toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
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

// The pinned picture and the layout both ways; every cut of a container gives no map, or the text
// up to a whole character.
TEST(ContainerLayout, BuildAndParse)
{
    const QByteArray bytes = TemplateBytes();
    ASSERT_EQ(bytes.size(), kTemplateLength);
    EXPECT_EQ(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex(),
              "bf87219971fae7726d5f4541e0ba7ccb67e1e0613b9203af5829db2d34ffa227");

    // Maps written by earlier versions still load.
    const QString dir = QStringLiteral(COGITRA_FIXTURES_DIR "/containers/");
    const QByteArray old = ReadBytes(dir + "map-v1.json");
    ASSERT_FALSE(old.isEmpty());
    EXPECT_EQ(TZetGifAttachment::Extract(dir + "map-v1.gif").toUtf8(), old);

    const QByteArray payload = QString::fromUtf8("{\"t\":\"ä\"}").toUtf8();
    EXPECT_EQ(BuildContainer("GIFT", "ZetTmp.txt", payload), "GIFT" + kNameField + payload);
    EXPECT_EQ(BuildContainer("GIFT", QByteArray(255, 'n'), "x").size(), 4 + 255 + 1);
    EXPECT_TRUE(BuildContainer("GIFT", QByteArray(256, 'n'), "x").isEmpty());
    EXPECT_TRUE(BuildContainer("GIFT", QByteArray(), "x").isEmpty());

    const QByteArray withNul("\xEF\xBB\xBF{\"a\":\"\0\"}", 11);
    EXPECT_EQ(ParseContainer(4, "GIFT" + kNameField + withNul)->toUtf8(), withNul);
    const QList<QPair<qsizetype, QByteArray>> refused = {
        {4, QByteArray(kNameField).replace("ZetTmp", "ZetTmq")},
        {4, QByteArray(kNameField).replace(200, 1, "x")},
        {4, '\0' + kNameField},
        {4, kNameField + "\xC0\xAF"},
        {4, kNameField + "\xED\xA0\x80"},
        {-1, kNameField},
        {4 + 255, kNameField},
        {std::numeric_limits<qsizetype>::max(), kNameField},
    };
    for (const auto &[templateLength, afterTemplate] : refused)
        EXPECT_EQ(ParseContainer(templateLength, "GIFT" + afterTemplate), std::nullopt)
            << templateLength << " " << afterTemplate.toHex().toStdString();

    const qsizetype end = kTemplateLength + 255;
    const QByteArray cut = QString::fromUtf8("é{}").toUtf8();
    const QByteArray whole = TemplateBytes() + kNameField + cut;
    for (qsizetype length = 0; length <= whole.size(); ++length) {
        SCOPED_TRACE(testing::Message() << "length " << length);
        const std::optional<QString> json = ParseContainer(kTemplateLength, whole.left(length));
        if (length < end || length == end + 1)
            EXPECT_FALSE(json.has_value());
        else
            EXPECT_EQ(json.value_or("-").toUtf8(), cut.left(length - end));
    }
}

TEST_F(DataFolder, PackWritesTheExactLayout)
{
    const QString json
        = "{\"t\":\"" + QString::fromUtf8("Knoten – 节点 😀 \\\"q\\\" ").repeated(9000) + "\"}";
    const QString base64 = TZetGifAttachment::Package(json);
    const QByteArray container = Decoded(base64);
    EXPECT_EQ(QString::fromLatin1(container.toBase64()), base64)
        << "standard base64, padded, without line breaks";
    EXPECT_EQ(container, TemplateBytes() + kNameField + json.toUtf8());
    EXPECT_EQ(ReadBytes(path("ZetTmp.txt")), json.toUtf8());
    EXPECT_EQ(ReadBytes(path("ZetFile.gif")), container);

    EXPECT_EQ(Decoded(TZetGifAttachment::Package(QString())), TemplateBytes() + kNameField);
    EXPECT_EQ(TZetGifAttachment::TryExtract(path("ZetFile.gif")), QString());
}

// A short, missing or folder file, or a missing template, gives nothing and writes nothing.
TEST_F(DataFolder, FilesThatCannotBeReadOrWrittenGiveNothing)
{
    const QByteArray good = TemplateBytes() + kNameField + "{\"a\":1}";
    WriteBytes(path("good.gif"), good);
    WriteBytes(path("short.gif"), good.first(kTemplateLength + 254));
    WriteBytes(path("empty-template.gif"), QByteArray());
    for (const QString &bad : {path("short.gif"), path("missing.gif"), m_Dir.path()})
        EXPECT_EQ(TZetGifAttachment::TryExtract(bad), std::nullopt) << bad.toStdString();
    for (const QString &missing : {path("no-template.gif"), path("empty-template.gif")}) {
        EXPECT_EQ(ReadContainerPayload(missing, path("good.gif")), std::nullopt);
        EXPECT_FALSE(WriteContainerFile(missing, path("good.gif"), path("out.gif")));
    }
    EXPECT_FALSE(
        WriteContainerFile(TZetGifAttachment::TemplatePath(), path("none.txt"), path("out.gif")));
    EXPECT_FALSE(QFile::exists(path("out.gif")));

    // A pack that cannot write returns nothing rather than a stale file.
    ASSERT_FALSE(TZetGifAttachment::Package(QStringLiteral("{\"old\":1}")).isEmpty());
    const QByteArray stale = ReadBytes(path("ZetFile.gif"));

    // Folders in the way of the files: no write succeeds, even for root.
    ASSERT_TRUE(QFile::remove(path("ZetTmp.txt")) && QDir(m_Dir.path()).mkdir("ZetTmp.txt"));
    EXPECT_EQ(TZetGifAttachment::Package(QStringLiteral("{\"new\":1}")), QString());
    EXPECT_EQ(ReadBytes(path("ZetFile.gif")), stale);

    ASSERT_TRUE(QDir(m_Dir.path()).rmdir("ZetTmp.txt") && QFile::remove(path("ZetFile.gif")));
    ASSERT_TRUE(QDir(m_Dir.path()).mkdir("ZetFile.gif"));
    EXPECT_EQ(TZetGifAttachment::Package(QStringLiteral("{\"new\":1}")), QString());

    g_AppDataDir.set(QString());
    EXPECT_EQ(TZetGifAttachment::Package(QStringLiteral("{}")), QString())
        << "no data folder: nothing is written next to the program";
}

// Both limits admit their own size; one byte more is refused before anything is read or written.
TEST_F(DataFolder, LimitsAdmitTheirOwnSize)
{
    for (const qint64 size : {kMaxContainerBytes, kMaxContainerBytes + 1}) {
        SCOPED_TRACE(size);
        QFile file(path("ZetFile.gif"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ASSERT_TRUE(file.write(TemplateBytes() + kNameField) > 0 && file.resize(size));
        file.close();
        EXPECT_EQ(ReadWholeFile(path("ZetFile.gif")).has_value(), size == kMaxContainerBytes);
        EXPECT_EQ(TZetGifAttachment::TryExtract(path("ZetFile.gif")).has_value(),
                  size == kMaxContainerBytes);
        ASSERT_TRUE(QFile::remove(path("ZetFile.gif")));
    }

    EXPECT_EQ(TZetGifAttachment::Package(QString(kMaxMapBytes + 1, u'x')), QString());
    EXPECT_EQ(QDir(m_Dir.path()).entryList(QDir::Files), QStringList()) << "nothing written";
    const QString largest
        = TZetGifAttachment::Package(QString(kMaxMapBytes - 1, u'x') + QString(u'y'));
    EXPECT_EQ(Decoded(largest).size(), kTemplateLength + 255 + kMaxMapBytes);
}

// Only exact, double-quoted alt and src in a closed lower-case "<img" are read; an unreadable
// source ends the search; data-src is another attribute; pages of 20 MB are walked in linear time.
TEST(PageImageSearch, FindsTheMapImages)
{
    constexpr qsizetype kPageBytes = 20 * 1000 * 1000;
    QString big;
    for (int i = 0; big.size() < kPageBytes; ++i)
        big += QStringLiteral(R"(<img alt="pic" id="img:{%1}" src="https://g/%1" />)").arg(i);
    // The page, the map image's source, its id, the "ZetCogitra" image's id, the original source.
    const QStringList cases[] = {
        {R"(<p>x</p><img id="img:{g}{3}" alt="ZetCogitra" src="https://h/r/png/$value" />)"
         R"(<img id="img:{g}{4}" alt="ZetGif" src="https://h/r/gif/$value" />)",
         "https://h/r/gif/$value", "img:{g}{4}", "img:{g}{3}"},
        {R"(<img alt="Photo" id="p" src="photo"><img src="noalt">)"
         R"(<img alt="ZetGif" id="z" src="zet">)",
         "zet", "z"},
        {R"(<img alt="zetgif" id="a" src="u">)", ""},
        {R"(<img alt='ZetGif' id='a' src='u'>)", ""},
        {R"(<IMG alt="ZetGif" id="a" src="u">)", ""},
        {R"(<img alt="ZetGif" id="a&amp;b" src="h/?a=1&amp;b">)", "h/?a=1&amp;b", "a&amp;b"},
        {R"(<img alt="ZetGif" src=u><img alt="ZetGif" src="v">)", ""},
        {R"(<img data-id="diagram" data-src="full" alt="ZetGif" id="z" src="u">)", "u", "z"},
        {R"(<img data-alt="x" alt="ZetGif" src="u">)", "u"},
        {R"(<img data-id="picture1" id="img:{g}{9}" alt="ZetGif" width="1" height="1" )"
         R"(src="https://h/r/gif/$value?rendition=optimized" data-src-type="image/gif" )"
         R"(data-fullres-src="https://h/r/gif/$value" data-fullres-src-type="image/gif" />)",
         "https://h/r/gif/$value?rendition=optimized", "img:{g}{9}", "", "https://h/r/gif/$value"},
        {R"(<img alt="ZetGif" src="a>b">)", ""},
        {R"(<img alt="ZetGif><img alt="ZetGif" src="u">)", "u"},
        {R"(<img alt="ZetGif" src="u" <img alt="ZetGif" src="v">)", "u"},
        {R"(<p><img alt="ZetGif" src="u")", ""},
        {R"(<img alt="ZetGif" src="">)", ""},
        {R"(<!-- <img alt="ZetGif" src="c"> -->)", "c"},
        {"<img\nalt=\"ZetCogitra\"\r\nid=\"c\"\n src=\"p\"\n/>\n"
         "<img\talt=\"ZetGif\"\tid=\"g\"\tsrc=\"q\">",
         "q", "g", "c"},
        {big + R"(<img alt="ZetGif" id="img:{map}" src="map" />)", "map", "img:{map}"},
        {R"(<img alt="ZetGif" src="u")" + QString(kPageBytes, u'x'), ""},
    };
    for (const QStringList &c : cases) {
        const QString &html = c.first();
        EXPECT_EQ((QStringList{TZetGifAttachment::GetZetGifUrlFromPageHtml(html),
                               TZetGifAttachment::GetZetGifIdFromPageHtml(html, "ZetGif"),
                               TZetGifAttachment::GetZetGifIdFromPageHtml(html, "ZetCogitra"),
                               TZetGifAttachment::GetZetGifOriginalUrlFromPageHtml(html)}),
                  (QStringList{c.value(1), c.value(2), c.value(3), c.value(4)}))
            << html.left(120).toStdString();
    }
}
