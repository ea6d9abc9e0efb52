#include "online/MPageContent.h"

#include <gtest/gtest.h>

#include <tuple>

using namespace Cogitra;

namespace {

// Exactly the command the service expects.
TEST(MPageContent, UpdateBodyIsTheServicesCommand)
{
    // clang-format off
    const std::tuple<QString, QString, QString, QByteArray> rows[] = {
        {QStringLiteral("img:{1}{10}"), QStringLiteral("data:image/png;base64,iVBO"), QStringLiteral("ZetCogitra"),
             "[{'target':'img:{1}{10}','action':'replace','content':'<img alt=\"ZetCogitra\" src=\"data:image/png;base64,iVBO\" />'}]"},
        {QString(), QStringLiteral("x data:image/gif;base64,R0"), QStringLiteral("ZetCogitra"),
             "[{'target':'body','action':'append','content':'<div><img alt=\"ZetCogitra\" src=\"x data:image/gif;base64,R0\" /></div>'}]"},
        {QStringLiteral("a'b\\c"), QStringLiteral("B"), QStringLiteral("ZetGif"),
             "[{'target':'a\\'b\\\\c','action':'replace','content':'<img alt=\"ZetGif\" src=\"data:image/png;base64,B\" />'}]"},
        {QString(), QStringLiteral("%1%2"), QStringLiteral("%2"),
             "[{'target':'body','action':'append','content':'<div><img alt=\"%2\" src=\"data:image/png;base64,%1%2\" /></div>'}]"},
        {QStringLiteral(u"ü"), QStringLiteral("B"), QStringLiteral("ZetGif"),
             "[{'target':'\xC3\xBC','action':'replace','content':'<img alt=\"ZetGif\" src=\"data:image/png;base64,B\" />'}]"},
    };
    // clang-format on
    for (const auto &[id, text, alt, body] : rows)
        EXPECT_EQ(MPageContent::UpdateBody(id, text, alt), body) << body.toStdString();
}

// The title as its reader sees it: one pass over the references, and what is not one of ours
// stays as written.
TEST(MPageContent, PageTitleIsTheTextWithReferencesDecoded)
{
    // clang-format off
    const std::pair<QString, QString> rows[] = {
        {QStringLiteral("<head><title>&lt;a&gt; &quot;b&quot; &apos;c&apos;&nbsp;d</title>"), QStringLiteral(u"<a> \"b\" 'c'\u00A0d")},
        {QStringLiteral("<title>&amp;lt;</title>"), QStringLiteral("&lt;")},
        {QStringLiteral("<title>&#38;&#x26;&#X4E2D;&#128578;&#xE9;&#000000000065;</title>"), QStringLiteral(u"&&中🙂éA")},
        {QStringLiteral("<title>&#0;&#xD800;&#x110000;&#99999999999;</title>"), QStringLiteral(u"\uFFFD\uFFFD\uFFFD\uFFFD")},
        {QStringLiteral("<title>a & b &amp c &#; &#x; &#12 &copy; &AMP; &</title>"), QStringLiteral("a & b &amp c &#; &#x; &#12 &copy; &AMP; &")},
        {QStringLiteral("<html><body>&amp;</body></html>"), QString()},
        {QStringLiteral("<title>a &amp; b"), QString()},
    };
    // clang-format on
    for (const auto &[html, title] : rows)
        EXPECT_EQ(MPageContent::PageTitle(html), title) << qPrintable(html);
}

} // namespace
