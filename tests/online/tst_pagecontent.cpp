#include "online/MPageContent.h"

#include <gtest/gtest.h>

using namespace Cogitra;

namespace {

struct BodyCase
{
    const char *name;
    QString imageId;
    QString imageText;
    QString altText;
    QByteArray body;
};

class UpdateBodyTest : public ::testing::TestWithParam<BodyCase>
{
};

TEST_P(UpdateBodyTest, IsExactlyTheCommandTheServiceExpects)
{
    const BodyCase &c = GetParam();
    EXPECT_EQ(MPageContent::UpdateBody(c.imageId, c.imageText, c.altText), c.body);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Bodies, UpdateBodyTest, ::testing::Values(
    BodyCase{"Replace", QStringLiteral("X"), QStringLiteral("B"), QStringLiteral("ZetCogitra"),
             "[{'target':'X','action':'replace','content':'<img alt=\"ZetCogitra\" src=\"data:image/png;base64,B\" />'}]"},
    BodyCase{"Append", QString(), QStringLiteral("B"), QStringLiteral("ZetGif"),
             "[{'target':'body','action':'append','content':'<div><img alt=\"ZetGif\" src=\"data:image/png;base64,B\" /></div>'}]"},
    BodyCase{"DataUrlGoesInUnchanged", QStringLiteral("img:{1}{10}"), QStringLiteral("data:image/png;base64,iVBO"), QStringLiteral("ZetCogitra"),
             "[{'target':'img:{1}{10}','action':'replace','content':'<img alt=\"ZetCogitra\" src=\"data:image/png;base64,iVBO\" />'}]"},
    BodyCase{"DataUrlAnywhereInside", QString(), QStringLiteral("x data:image/gif;base64,R0"), QStringLiteral("ZetCogitra"),
             "[{'target':'body','action':'append','content':'<div><img alt=\"ZetCogitra\" src=\"x data:image/gif;base64,R0\" /></div>'}]"},
    BodyCase{"QuotesInTheIdAreEscaped", QStringLiteral("a'b\\c"), QStringLiteral("B"), QStringLiteral("ZetGif"),
             "[{'target':'a\\'b\\\\c','action':'replace','content':'<img alt=\"ZetGif\" src=\"data:image/png;base64,B\" />'}]"},
    BodyCase{"PercentSignsAreNotPlaceholders", QString(), QStringLiteral("%1%2"), QStringLiteral("%2"),
             "[{'target':'body','action':'append','content':'<div><img alt=\"%2\" src=\"data:image/png;base64,%1%2\" /></div>'}]"},
    BodyCase{"NonAsciiAsUtf8", QStringLiteral(u"ü"), QStringLiteral("B"), QStringLiteral("ZetGif"),
             "[{'target':'\xC3\xBC','action':'replace','content':'<img alt=\"ZetGif\" src=\"data:image/png;base64,B\" />'}]"}),
    [](const auto &param) { return std::string(param.param.name); });
// clang-format on

struct TitleCase
{
    const char *name;
    QString html;
    QString title;
};

class PageTitleTest : public ::testing::TestWithParam<TitleCase>
{
};

// The title as its reader sees it: one pass over the references, and what is not one of ours
// stays as written.
TEST_P(PageTitleTest, IsTheTextWithReferencesDecoded)
{
    EXPECT_EQ(MPageContent::PageTitle(GetParam().html), GetParam().title);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Titles, PageTitleTest, ::testing::Values(
    TitleCase{"Ampersand", QStringLiteral("<title>Road map &amp; plan</title>"), QStringLiteral("Road map & plan")},
    TitleCase{"XmlFiveAndSpace", QStringLiteral("<head><title>&lt;a&gt; &quot;b&quot; &apos;c&apos;&nbsp;d</title>"), QStringLiteral(u"<a> \"b\" 'c'\u00A0d")},
    TitleCase{"DecodedOnce", QStringLiteral("<title>&amp;lt;</title>"), QStringLiteral("&lt;")},
    TitleCase{"Numbers", QStringLiteral("<title>&#38;&#x26;&#X4E2D;&#128578;&#xE9;&#000000000065;</title>"), QStringLiteral(u"&&中🙂éA")},
    TitleCase{"NumbersNamingNoCharacter", QStringLiteral("<title>&#0;&#xD800;&#x110000;&#99999999999;</title>"), QStringLiteral(u"\uFFFD\uFFFD\uFFFD\uFFFD")},
    TitleCase{"NotReferences", QStringLiteral("<title>a & b &amp c &#; &#x; &#12 &copy; &AMP; &</title>"), QStringLiteral("a & b &amp c &#; &#x; &#12 &copy; &AMP; &")},
    TitleCase{"NoTitle", QStringLiteral("<html><body>&amp;</body></html>"), QString()},
    TitleCase{"UnclosedTitle", QStringLiteral("<title>a &amp; b"), QString()}),
    [](const auto &param) { return std::string(param.param.name); });
// clang-format on

} // namespace
