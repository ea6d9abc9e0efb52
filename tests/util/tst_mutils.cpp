#include "util/MAlert.h"
#include "util/MAssert.h"
#include "util/MUtils.h"

#include <gtest/gtest.h>

#include <tuple>

using namespace Cogitra;

namespace {
const QString kEmoji = QString::fromUtf8("\xF0\x9F\x98\x80"); // one code point, two UTF-16 units
}

// Walks the elements of a page; a from at or past the end finds nothing and never reads outside
// the text.
TEST(TextSpanBetween, WalksElementsAndReportsTheSpan)
{
    // The text, the markers, where to start; the span and where it starts and ends.
    const std::tuple<QString, QString, QString, int64_t, QString, int64_t, int64_t> cases[] = {
        {"x<img a>y<img b>z", "<img", ">", 0, "<img a>", 1, 8},
        {"x<img a>y<img b>z", "<img", ">", 8, "<img b>", 9, 16},
        {"x<img a>y<img b>z", "<img", ">", 16, "", 16, 17},
        {"ab<img c", "<img", ">", 0, "", 2, 8},
        {"ab<img c", "<img", "", 0, "<img c", 2, 8},
        {"abc", "", "", 1, "bc", 1, 3},
        {"abc>", "", ">", 0, "abc>", 0, 4},
        {"ab", "a", ">", 2, "", 2, 2},
        {"ab", "", ">", 99, "", 99, 2},
    };
    for (const auto &[text, startMarker, endMarker, from, span, outStart, outEnd] : cases) {
        int64_t start = -5, end = -5;
        const QString found = TextSpanBetween(text, startMarker, endMarker, from, start, end);
        EXPECT_EQ(std::tuple(found, start, end), std::tuple(span, outStart, outEnd))
            << text.toStdString() << " from " << from;
    }
    // The searches it walks with: positions in UTF-16 units; an empty needle is absent.
    EXPECT_EQ(IndexOfFrom(kEmoji + "a" + kEmoji + "a", "a", 3), 5);
    EXPECT_EQ(IndexOf("abc", ""), -1);
    EXPECT_EQ(LastIndexOf("abc", ""), -1);
    EXPECT_FALSE(Contains("abc", ""));
}

// With no alert installed a message goes to the console rather than being lost, as does a failed
// soft assertion's condition and place; the assertion then runs its fallback.
TEST(Console, TakesMessagesAndFailedAssertions)
{
    const auto guarded = [](int value) {
        COGITRA_ASSERT(value >= 0, return -1);
        return value * 2;
    };
    testing::internal::CaptureStderr();
    ShowMessage("to the console");
    EXPECT_EQ(guarded(4), 8);
    EXPECT_EQ(guarded(-3), -1);
    const std::string console = testing::internal::GetCapturedStderr();
    for (const char *logged : {"to the console", "value >= 0", "tst_mutils.cpp"})
        EXPECT_NE(console.find(logged), std::string::npos) << logged;
}
