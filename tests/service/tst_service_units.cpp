#include "service/HtmlFragment.h"
#include "service/JsonWriter.h"

#include <gtest/gtest.h>

using namespace Cogitra::Service;

namespace {

// Replies written compactly in insertion order, slashes as they are; void elements end at
// their tag and a torn tag is no element. Nesting, entities and elements left open are checked
// with the page updates.
TEST(ServiceUnits, JsonRepliesAndHtmlElements)
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

    const QString html = QStringLiteral("<img id=\"c\" src=\"s\"><p>x</p>");
    const auto image = FindElement(html, [](const HtmlToken &t) { return t.name == u"img"; });
    ASSERT_TRUE(image);
    EXPECT_EQ(image->innerBegin, image->end);
    EXPECT_EQ(image->end, html.indexOf(u"<p>"));
    EXPECT_FALSE(FindElement(QStringLiteral("<p <<< \"unterminated"),
                             [](const HtmlToken &) { return true; }));
}

} // namespace
