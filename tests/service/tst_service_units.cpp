#include "service/HtmlFragment.h"
#include "service/JsonWriter.h"
#include "service/Links.h"
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

// A desktop "Copy Link to Page" sample, rebuilt from its parts.
TEST(Links, DesktopCopyLinkMatchesTheDesktopApplicationsForm)
{
    PagePlace place{QStringLiteral("3c5e7a9b1d2f4e60"),
                    {QStringLiteral("PhD5"), QStringLiteral("Submissions")},
                    QStringLiteral("ConHyb"),
                    QStringLiteral("10FE6329-81C9-4025-AD71-4FC8EFC3BB57"),
                    QStringLiteral("339a76cb-9539-4eac-bf93-b3ad40d7818b"),
                    QStringLiteral("(computable) metric space on angles")};
    EXPECT_EQ(DesktopCopyLink(place),
              QStringLiteral(
                  "onenote:https://d.docs.live.net/3c5e7a9b1d2f4e60/Documents/PhD5/Submissions/"
                  "ConHyb.one#"
                  "(computable)%20metric%20space%20on%20angles&section-id={10FE6329-81C9-4025-AD71-"
                  "4FC8EFC3BB57}&page-id={339A76CB-9539-4EAC-BF93-B3AD40D7818B}&end"));
    place.folders = {QStringLiteral("程式語言")};
    place.title = QStringLiteral("A & B #1");
    const QString link = DesktopCopyLink(place);
    EXPECT_TRUE(link.contains(QStringLiteral(
        "/Documents/%E7%A8%8B%E5%BC%8F%E8%AA%9E%E8%A8%80/ConHyb.one#A%20%26%20B%20%231&")))
        << qPrintable(link);
    const QString graph = GraphPageClientUrl(place);
    EXPECT_TRUE(graph.contains(QStringLiteral(
        "/Documents/%e7%a8%8b%e5%bc%8f%e8%aa%9e%e8%a8%80/ConHyb.one#A%20%26%20B%20%231"
        "&section-id=10fe6329-81c9-4025-ad71-4fc8efc3bb57&page-id=")))
        << qPrintable(graph);
    EXPECT_EQ(
        NotebookClientUrl(QStringLiteral("5F3A9C0D2B7E4A61"), QStringLiteral("Work Notes")),
        QStringLiteral("onenote:https://d.docs.live.net/5f3a9c0d2b7e4a61/Documents/Work Notes"));
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
