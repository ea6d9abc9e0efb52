// The page-HTML image search and the container reader on hostile input: pages of 20 MB,
// elements that never close, every way of quoting an attribute, markers inside markers, and
// containers of every length around the end of the name field.
#include "attachment/TZetGifAttachment.h"
#include "util/MGlobals.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <limits>

using namespace Cogitra;

void PrintTo(const QString &text, std::ostream *os)
{
    *os << '"' << text.left(200).toStdString() << (text.size() > 200 ? "...\"" : "\"");
}

namespace {

constexpr qsizetype kPageBytes = 20 * 1000 * 1000;

QByteArray TemplateBytes()
{
    return ReadWholeFile(TZetGifAttachment::TemplatePath()).value_or(QByteArray());
}

QByteArray NameField()
{
    QByteArray field("ZetTmp.txt");
    field.append(kContainerNameFieldLength - field.size(), '\0');
    return field;
}

struct QuotingCase
{
    const char *name;
    const char *html;
    const char *url; // what GetZetGifUrlFromPageHtml finds
};

class ImageSearchQuoting : public testing::TestWithParam<QuotingCase>
{
};

} // namespace

// Only alt="ZetGif" and src="..." with double quotes, in a lower-case "<img" element that
// closes, are read; every other spelling finds nothing, and a match with an unreadable source
// ends the search rather than going on to a later image.
TEST_P(ImageSearchQuoting, FindsOnlyTheExactForm)
{
    const QString html = QString::fromUtf8(GetParam().html);
    EXPECT_EQ(TZetGifAttachment::GetZetGifUrlFromPageHtml(html), QString::fromUtf8(GetParam().url));
}

INSTANTIATE_TEST_SUITE_P(
    Hostile, ImageSearchQuoting,
    testing::Values(QuotingCase{"DoubleQuoted", R"(<img alt="ZetGif" src="u">)", "u"},
                    QuotingCase{"Unquoted", R"(<img alt=ZetGif src=u>)", ""},
                    QuotingCase{"SingleQuoted", R"(<img alt='ZetGif' src='u'>)", ""},
                    QuotingCase{"BlanksAroundEquals", R"(<img alt = "ZetGif" src = "u">)", ""},
                    QuotingCase{"CapitalTag", R"(<IMG alt="ZetGif" src="u">)", ""},
                    QuotingCase{"CapitalAttribute", R"(<img ALT="ZetGif" src="u">)", ""},
                    QuotingCase{"EntityInAlt", R"(<img alt="Zet&#71;if" src="u">)", ""},
                    QuotingCase{"UnquotedSourceEndsTheSearch",
                                R"(<img alt="ZetGif" src=u><img alt="ZetGif" src="v">)", ""},
                    QuotingCase{"LongerAttributeFirst",
                                R"(<img alt="ZetGif" data-src="d" src="u">)", "d"},
                    QuotingCase{"LongerAltFirst", R"(<img data-alt="x" alt="ZetGif" src="u">)", ""},
                    QuotingCase{"GreaterThanInValue", R"(<img alt="ZetGif" src="a>b">)", ""},
                    QuotingCase{"ImageInsideAlt", R"(<img alt="<img alt="ZetGif" src="x">)", ""},
                    QuotingCase{"ImageInsideImage", R"(<img <img alt="ZetGif" src="u">)", "u"},
                    QuotingCase{"FirstUnclosedSwallowsTheNext",
                                R"(<img alt="ZetGif" src="u" <img alt="ZetGif" src="v">)", "u"},
                    QuotingCase{"Unclosed", R"(<p><img alt="ZetGif" src="u")", ""},
                    QuotingCase{"EmptySource", R"(<img alt="ZetGif" src="">)", ""},
                    QuotingCase{"InsideAComment", R"(<!-- <img alt="ZetGif" src="c"> -->)", "c"},
                    QuotingCase{"LineBreaksAndTabs", "<img\talt=\"ZetGif\"\r\nsrc=\"u\"\n/>", "u"},
                    QuotingCase{"MarkersOnly", R"(<img<img<img>>>)", ""},
                    QuotingCase{"AltAtTheVeryEnd", R"(<img alt=")", ""}),
    [](const auto &param) { return std::string(param.param.name); });

TEST(ImageSearchLargePages, FindsTheMapAfterAQuarterMillionImages)
{
    const QString image = QStringLiteral(
        "<img alt=\"pic\" id=\"img:{%1}\" src=\"https://g.example/resources/%1/$value\" />");
    QString html;
    html.reserve(kPageBytes + 1000);
    for (int i = 0; html.size() < kPageBytes; ++i)
        html += image.arg(i);
    html += QStringLiteral("<img alt=\"ZetGif\" id=\"img:{map}\" src=\"https://g/map\" />");
    EXPECT_EQ(TZetGifAttachment::GetZetGifUrlFromPageHtml(html), QStringLiteral("https://g/map"));
    EXPECT_EQ(TZetGifAttachment::GetZetGifIdFromPageHtml(html, QStringLiteral("ZetGif")),
              QStringLiteral("img:{map}"));
    EXPECT_EQ(TZetGifAttachment::GetZetGifIdFromPageHtml(html, QStringLiteral("ZetCogitra")),
              QString());
}

TEST(ImageSearchLargePages, UnclosedAndRepeatedMarkersEndTheSearch)
{
    const QString noEnd
        = QStringLiteral("<img alt=\"ZetGif\" src=\"u\"") + QString(kPageBytes, u'x');
    EXPECT_EQ(TZetGifAttachment::GetZetGifUrlFromPageHtml(noEnd), QString());

    const QString starts = QStringLiteral("<img").repeated(kPageBytes / 4);
    EXPECT_EQ(TZetGifAttachment::GetZetGifUrlFromPageHtml(starts), QString());

    // A million empty elements, then the map.
    const QString empties = QStringLiteral("<img>               ").repeated(kPageBytes / 20)
                            + QStringLiteral("<img alt=\"ZetGif\" src=\"last\">");
    EXPECT_EQ(TZetGifAttachment::GetZetGifUrlFromPageHtml(empties), QStringLiteral("last"));

    const QString quotes = QStringLiteral("<img alt=\"ZetGif\" src=\"") + QString(kPageBytes, u'"')
                           + QStringLiteral(">");
    EXPECT_EQ(TZetGifAttachment::GetZetGifUrlFromPageHtml(quotes), QString());
}

TEST(ImageSearchLargePages, OneElementOfTwentyMegabytes)
{
    const QString html = QStringLiteral("<img alt=\"ZetGif\" ")
                         + QStringLiteral("data-x=\"y\" ").repeated(kPageBytes / 11)
                         + QStringLiteral("id=\"i\" src=\"u\">");
    EXPECT_EQ(TZetGifAttachment::GetZetGifUrlFromPageHtml(html), QStringLiteral("u"));
    EXPECT_EQ(TZetGifAttachment::GetZetGifIdFromPageHtml(html, QStringLiteral("ZetGif")),
              QStringLiteral("i"));
}

// Every length from an empty file to a few bytes of payload, cut from a real container whose
// payload starts with a two-byte character: short files and a cut character give no map, the
// bare field the empty map, and every whole character the text up to it.
TEST(ContainerLengths, EveryCutAroundTheNameField)
{
    const QByteArray templateBytes = TemplateBytes();
    ASSERT_FALSE(templateBytes.isEmpty());
    const qsizetype t = templateBytes.size();
    const QByteArray payload = QString::fromUtf8("é{}").toUtf8();
    const QByteArray whole = templateBytes + NameField() + payload;
    for (qsizetype length = 0; length <= whole.size(); ++length) {
        SCOPED_TRACE(testing::Message() << "length " << length << " (T + 255 = " << t + 255 << ")");
        const std::optional<QString> json = ParseContainer(t, whole.left(length));
        if (length < t + kContainerNameFieldLength || length == t + kContainerNameFieldLength + 1) {
            EXPECT_FALSE(json.has_value());
        } else {
            ASSERT_TRUE(json.has_value());
            EXPECT_EQ(json->toUtf8(), payload.left(length - t - kContainerNameFieldLength));
        }
    }
    for (const qsizetype templateLength :
         {qsizetype(-1), whole.size(), whole.size() + 1, std::numeric_limits<qsizetype>::max()}) {
        EXPECT_FALSE(ParseContainer(templateLength, whole).has_value()) << templateLength;
    }
}

class ContainerFiles : public testing::Test
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

TEST_F(ContainerFiles, EveryLengthAroundTheNameFieldThroughTheFile)
{
    const QByteArray whole = TemplateBytes() + NameField() + QByteArray("{\"a\":1}");
    const qsizetype end = TemplateBytes().size() + kContainerNameFieldLength;
    for (qsizetype length = end - 8; length <= end + 7; ++length) {
        ASSERT_TRUE(WriteWholeFile(path("ZetFile.gif"), whole.left(length)));
        const std::optional<QString> json = TZetGifAttachment::TryExtract(path("ZetFile.gif"));
        EXPECT_EQ(json.has_value(), length >= end) << length;
        EXPECT_EQ(TZetGifAttachment::Extract(path("ZetFile.gif")).toUtf8(),
                  whole.left(length).mid(end))
            << length;
    }
}

// A file past the limit is refused by its size, before anything is read; the sparse file
// takes no room on the disk.
TEST_F(ContainerFiles, DownloadPastTheLimitIsRefusedUnread)
{
    QFile file(path("ZetFile.gif"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    ASSERT_TRUE(file.write(TemplateBytes() + NameField() + "{}") > 0);
    ASSERT_TRUE(file.resize(kMaxContainerBytes + 1));
    file.close();
    EXPECT_FALSE(TZetGifAttachment::TryExtract(path("ZetFile.gif")).has_value());
    EXPECT_FALSE(ReadWholeFile(path("ZetFile.gif")).has_value());
}

TEST_F(ContainerFiles, MapPastTheLimitIsNotPacked)
{
    const QString tooLarge(kMaxMapBytes + 1, u'x');
    EXPECT_EQ(TZetGifAttachment::Package(tooLarge), QString());
    EXPECT_FALSE(QFile::exists(path("ZetTmp.txt"))) << "nothing was written for it";
    EXPECT_FALSE(QFile::exists(path("ZetFile.gif")));
    EXPECT_FALSE(TZetGifAttachment::Package(QStringLiteral("{}")).isEmpty());
}
