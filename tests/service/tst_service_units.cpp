#include "service/HtmlFragment.h"
#include "service/JsonWriter.h"
#include "service/PageContent.h"

#include <QJsonArray>
#include <QJsonObject>

#include <gtest/gtest.h>

using namespace Cogitra::Service;

namespace {

TEST(JsonWriter, WritesCompactlyInInsertionOrderWithoutEscapingSlashes)
{
    Json json = Json::object();
    json.add(QStringLiteral("z"), "a/b&c")
        .add(QStringLiteral("a"), qint64(3))
        .add(QStringLiteral("q"), "\"\n\x01é");
    json.add(QStringLiteral("list"), Json::array().push(Json::null()).push(Json::boolean(true)));
    EXPECT_EQ(
        json.toCompact(),
        QByteArray(
            "{\"z\":\"a/b&c\",\"a\":3,\"q\":\"\\\"\\n\\u0001\xc3\xa9\",\"list\":[null,true]}"));
}

TEST(HtmlFragment, FindsNestedElementsAndTheirEnds)
{
    const QString html = QStringLiteral(
        "<div id=\"a\"><div id=\"b\">x</div><img id=\"c\" src=\"s\"><p id=\"d\">y</div>");
    const auto byId = [&](const char *id) {
        return FindElement(html, [id](const HtmlToken &t) {
            return t.attribute(QStringLiteral("id")) == QLatin1String(id);
        });
    };
    ASSERT_TRUE(byId("a") && byId("c") && byId("d"));
    EXPECT_EQ(byId("a")->begin, 0);
    EXPECT_EQ(byId("a")->end, html.size());
    EXPECT_EQ(byId("c")->innerBegin, byId("c")->end);
    EXPECT_EQ(byId("d")->end, html.size()); // never closed: runs to the end
    EXPECT_EQ(DecodeHtmlEntities(QStringLiteral("a&amp;b&#233;&#x4e2d;&bogus;")),
              QStringLiteral("a&bé中&bogus;"));
    EXPECT_FALSE(FindElement(QStringLiteral("<p <<< \"unterminated"),
                             [](const HtmlToken &) { return true; }));
}

TEST(PageContent, ImportGivesIdsKeepsTextAndClosesWhatIsOpen)
{
    Page page;
    page.elementGuid = QStringLiteral("c442cfb3-6e89-28ed-dacd-c812120163c8");
    ContentImport import;
    ContentError error;
    const auto out = ImportFragment(QStringLiteral("<p class=\"x\" id=\"mine\">A &amp; B<b>bold"),
                                    page, import, &error);
    ASSERT_TRUE(out);
    EXPECT_EQ(
        *out,
        QStringLiteral("<p id=\"p:{c442cfb3-6e89-28ed-dacd-c812120163c8}{2}\" class=\"x\">A &amp; B"
                       "<b id=\"b:{c442cfb3-6e89-28ed-dacd-c812120163c8}{3}\">bold</b></p>"));
    page.body = QStringLiteral("\t\t\t") + *out + QStringLiteral("\r\n");
    const QString plain = RenderPageHtml(page, QStringLiteral("http://r/"), false);
    EXPECT_TRUE(plain.contains(QStringLiteral("<p class=\"x\">A &amp; B<b>bold</b></p>")));
    EXPECT_FALSE(plain.contains(QStringLiteral(" id=")));
}

} // namespace
