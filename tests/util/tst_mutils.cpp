#include "util/MUtils.h"

#include <gtest/gtest.h>

using namespace Cogitra;

namespace {
const QString kEmoji = QString::fromUtf8("\xF0\x9F\x98\x80"); // one code point, two UTF-16 units
}

TEST(TextBetween, MarkersAndTheirAbsence)
{
    EXPECT_EQ(TextBetween("a<S>V</E>b", "<S>", "</E>"), "V");
    EXPECT_EQ(TextBetween("a<S>V", "<S>", "</E>"), "")
        << "end marker missing is empty, not the rest";
    EXPECT_EQ(TextBetween("a<S>V", "<S>", ""), "V");
    EXPECT_EQ(TextBetween("abcEdefE", "", "E"), "abc");
    EXPECT_EQ(TextBetween("abc", "", ""), "abc");
    EXPECT_EQ(TextBetween("abc", "x", ""), "");
    EXPECT_EQ(TextBetween("", "", ""), "");
    EXPECT_EQ(TextBetween("[1][2]", "[", "]"), "1") << "first start marker wins";
}

TEST(TextBetween, OverlappingMarkers)
{
    // The end marker is searched after the start marker's last character, so a marker
    // pair that shares characters does not match itself.
    EXPECT_EQ(TextBetween("aXaXa", "aXa", "Xa"), "");
    EXPECT_EQ(TextBetween("aXaYXa", "aXa", "Xa"), "Y");
    EXPECT_EQ(TextBetween("\"\"\"", "\"", "\""), "");
}

TEST(TextSpanBetween, WalksElements)
{
    const QString html = "x<img a>y<img b>z";
    int64_t start = -5, end = -5;
    EXPECT_EQ(TextSpanBetween(html, "<img", ">", 0, start, end), "<img a>");
    EXPECT_EQ(start, 1);
    EXPECT_EQ(end, 8);
    EXPECT_EQ(TextSpanBetween(html, "<img", ">", end, start, end), "<img b>");
    EXPECT_EQ(start, 9);
    EXPECT_EQ(end, 16);
    EXPECT_EQ(TextSpanBetween(html, "<img", ">", end, start, end), "");
    EXPECT_EQ(start, 16) << "a failed start search leaves out start at from";
    EXPECT_EQ(end, html.size());
}

TEST(TextSpanBetween, EdgeCases)
{
    int64_t start = 0, end = 0;
    EXPECT_EQ(TextSpanBetween("ab<img c", "<img", ">", 0, start, end), "");
    EXPECT_EQ(start, 2);
    EXPECT_EQ(end, 8) << "no end marker: out end stays the length";

    EXPECT_EQ(TextSpanBetween("ab<img c", "<img", "", 0, start, end), "<img c");
    EXPECT_EQ(TextSpanBetween("abc", "", "", 1, start, end), "bc");
    EXPECT_EQ(TextSpanBetween("abc>", "", ">", 0, start, end), "abc>");

    // A from at or past the end finds nothing and never reads outside the text.
    EXPECT_EQ(TextSpanBetween("ab", "a", ">", 2, start, end), "");
    EXPECT_EQ(TextSpanBetween("ab", "a", ">", 99, start, end), "");
    EXPECT_EQ(TextSpanBetween("ab", "", ">", 99, start, end), "");
}

TEST(IndexSearches, PositionsAreUtf16Units)
{
    EXPECT_EQ(IndexOf("xaxa", "a"), 1);
    EXPECT_EQ(IndexOfFrom("xaxa", "a", 2), 3);
    EXPECT_EQ(LastIndexOf("xaxa", "a"), 3);
    EXPECT_EQ(IndexOfFrom("xaxa", "a", 4), -1);

    const QString text = kEmoji + "a" + kEmoji + "a";
    EXPECT_EQ(IndexOf(text, "a"), 2);
    EXPECT_EQ(LastIndexOf(text, "a"), 5);
    EXPECT_EQ(IndexOf(text, kEmoji), 0);
    EXPECT_EQ(LastIndexOf(text, kEmoji), 3);
    EXPECT_EQ(TextBetween(text, kEmoji, kEmoji), "a");

    // A needle that is one half of a surrogate pair is still a UTF-16 unit search.
    EXPECT_EQ(IndexOf(text, QString(kEmoji.at(1))), 1);
}

TEST(IndexSearches, EmptyNeedleIsAbsent)
{
    EXPECT_EQ(IndexOf("abc", ""), -1);
    EXPECT_EQ(IndexOfFrom("abc", "", 0), -1);
    EXPECT_EQ(LastIndexOf("abc", ""), -1);
    EXPECT_FALSE(Contains("abc", ""));
    EXPECT_FALSE(StartsWith("abc", ""));
    EXPECT_FALSE(StartsWith("", ""));
    EXPECT_FALSE(StartsWith("ab", "abc"));
    EXPECT_TRUE(StartsWith("abc", "ab"));
    EXPECT_TRUE(Contains("abc", "bc"));
    EXPECT_FALSE(Contains("abc", "C")) << "searches are case-sensitive";
}

TEST(EqualsIgnoreCase, Compares)
{
    EXPECT_TRUE(EqualsIgnoreCase("OneNote", "onenote"));
    EXPECT_TRUE(EqualsIgnoreCase("", ""));
    EXPECT_FALSE(EqualsIgnoreCase("OneNote", "OneNote "));
}

TEST(LongestWord, SplitsAtSingleBlanks)
{
    EXPECT_EQ(LongestWord("ab  cd"), "ab") << "ties go to the earliest word";
    EXPECT_EQ(LongestWord("a bcd ef"), "bcd");
    EXPECT_EQ(LongestWord("a\tbc d"), "a\tbc") << "tabs do not separate";
    EXPECT_EQ(LongestWord(""), "");
    EXPECT_EQ(LongestWord("   "), "");
    EXPECT_EQ(LongestWord(kEmoji + " abc"), "abc") << "lengths are UTF-16 units";
}
