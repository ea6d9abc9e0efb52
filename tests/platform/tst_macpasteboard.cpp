#include "onenote/ClipFun.h"
#include "platform/MacPasteboard.h"

#include <gtest/gtest.h>

using namespace Cogitra;

// Against the real general pasteboard, as cogitra-cli uses it to find the selected page: the
// user's contents go back afterwards, whatever this test did.
TEST(MacPasteboard, DiscoveryBorrowsThePasteboardAndPutsItBack)
{
    MacPasteboard pasteboard;
    const ClipboardContents users = pasteboard.contents();

    ClipboardContents rich;
    rich.formats = {{"public.utf8-plain-text", QString::fromUtf8("Zählwerk 页").toUtf8()},
                    {"public.html", "<b>Z</b>"},
                    {"com.ardentis.cogitra.test", QByteArray("\0\x01\xff", 3)}};
    pasteboard.setContents(rich);
    EXPECT_EQ(pasteboard.text().value_or(QString()), QString::fromUtf8("Zählwerk 页"));

    const ClipboardContents saved = BorrowClipboard(pasteboard);
    EXPECT_FALSE(pasteboard.text().has_value()) << "discovery starts from an empty pasteboard";
    const QString link
        = QStringLiteral("onenote:https://d.docs.live.net/x/Notes.one#P&page-id={1}&end");
    pasteboard.setText(link); // what OneNote's Copy Link does
    EXPECT_EQ(ReturnClipboard(pasteboard, saved).value_or(QString()), link);

    // Back as it was, every type byte for byte (the system may list more types of its own).
    const ClipboardContents back = pasteboard.contents();
    for (const auto &format : rich.formats) {
        SCOPED_TRACE(format.first.toStdString());
        EXPECT_TRUE(back.formats.contains(format));
    }

    pasteboard.setContents({});
    EXPECT_TRUE(pasteboard.contents().isEmpty());
    EXPECT_FALSE(pasteboard.text().has_value());

    pasteboard.setContents(users);
}
