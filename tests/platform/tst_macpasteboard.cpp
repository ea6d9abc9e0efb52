#include "onenote/ClipFun.h"
#include "platform/MacPasteboard.h"

#include <QScopeGuard>

#include <gtest/gtest.h>

using namespace Cogitra;

// The real general pasteboard, as cogitra-cli borrows it; the user's contents go back after.
TEST(MacPasteboard, DiscoveryBorrowsThePasteboardAndPutsItBack)
{
    MacPasteboard pasteboard;
    const auto restore = qScopeGuard(
        [&pasteboard, users = pasteboard.contents()] { pasteboard.setContents(users); });

    // Two items, as two files copied in the Finder; an empty format starts the second.
    ClipboardContents rich;
    rich.formats = {{"public.utf8-plain-text", QString::fromUtf8("Zählwerk 页").toUtf8()},
                    {"public.html", "<b>Z</b>"},
                    {"com.ardentis.cogitra.test", QByteArray("\0\x01\xff", 3)},
                    {QString(), QByteArray()},
                    {"public.utf8-plain-text", "second"}};
    pasteboard.setContents(rich);
    EXPECT_EQ(pasteboard.text().value_or(QString()), QString::fromUtf8("Zählwerk 页"));

    const ClipboardContents saved = BorrowClipboard(pasteboard);
    EXPECT_FALSE(pasteboard.text().has_value()) << "discovery starts from an empty pasteboard";
    const QString link
        = QStringLiteral("onenote:https://d.docs.live.net/x/Notes.one#P&page-id={1}&end");
    pasteboard.setText(link); // what OneNote's Copy Link does
    EXPECT_EQ(ReturnClipboard(pasteboard, saved).value_or(QString()), link);

    // Back as it was, each item with every type byte for byte (the system may add types).
    const ClipboardContents back = pasteboard.contents();
    const qsizetype split = back.formats.indexOf({QString(), QByteArray()});
    ASSERT_GT(split, 0) << "still two items";
    for (qsizetype i = 0; i < 3; ++i)
        EXPECT_TRUE(back.formats.first(split).contains(rich.formats[i])) << i;
    EXPECT_TRUE(back.formats.sliced(split + 1).contains(rich.formats[4]));

    pasteboard.setContents({});
    EXPECT_TRUE(pasteboard.contents().isEmpty());
    EXPECT_FALSE(pasteboard.text().has_value());
}
