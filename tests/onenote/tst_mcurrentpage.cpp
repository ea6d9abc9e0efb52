#include "../support/FakeOneNote.h"
#include "../support/RecordingAlert.h"

#include "onenote/ClipFun.h"
#include "onenote/MCurrentPage.h"
#include "platform/MemoryClipboard.h"
#include "util/MStrings.h"

#include <gtest/gtest.h>

#include <optional>
#include <tuple>

using namespace Cogitra;
using Cogitra::Test::FakeOneNote;

namespace {

const QString kLink = QString::fromUtf8(
    "onenote:https://d.docs.live.net/0b7d4e2a9c315f68/Documenten/TEST/New%20Section%201.one"
    "#Probl%C3%A8men%20%26%20MHZ&section-id={B065EC60-B8DD-4F52-9907-1C2DD8EC417C}"
    "&page-id={C12E883F-0B36-4C51-96CF-D6852A271E59}&end");

ClipboardContents TextClip(const QString &text)
{
    return {{{"text/plain", text.toUtf8()}}};
}

ClipboardContents UsersClipboard()
{
    return {{{"text/plain", "my old note"},
             {"text/html", "<b>my old note</b>"},
             {"image/png", QByteArray("\x89PNG\r\n\x1a\n\0\0", 10)}}};
}

} // namespace

// The clipboard is emptied for the keystroke and given back whole, whatever OneNote does;
// text that was there before is never taken for OneNote's answer. A failure's text is shown,
// and the page it fills is cleared of the previous discovery's. A clip is read up to the
// link length limit.
TEST(Discovery, AsksOnceGivesTheClipboardBackAndShowsWhyNot)
{
    const ClipboardContents link = TextClip(kLink);
    const QString limit = "onenote:https://d.docs.live.net/c/Book/Sec.one#T&page-id={P}&end";
    const QString padded = limit + QString(64 * 1024 - limit.size(), QLatin1Char(' '));
    const std::tuple<ClipboardContents, std::optional<ClipboardContents>, const char *,
                     const char *>
        cases[] = {
            {UsersClipboard(), TextClip("onenote:https://d.docs.live.net/c/Book/Sec.one#Title&end"),
             "errServerIndexing", ""},
            {UsersClipboard(), link, "", "C12E883F-0B36-4C51-96CF-D6852A271E59"},
            {link, std::nullopt, "errGetPageLink", ""}, // a link the user copied earlier
            {ClipboardContents(), TextClip(padded), "", "P"},
            {UsersClipboard(), TextClip(padded + ' '), "errGetPageLink", ""},
            {UsersClipboard(), ClipboardContents{{{"image/png", "PNG"}}}, "errGetPageLink", ""},
        };
    Cogitra::Test::InstalledAlert alert;
    MemoryClipboard clipboard;
    FakeOneNote oneNote{clipboard};
    MCurrentPage discovery{oneNote, clipboard};
    QStringList shown;
    OneNotePageInfo page;
    for (const auto &[before, answer, failure, clientId] : cases) {
        clipboard.setContents(before);
        oneNote.answer = answer;
        oneNote.scripts.clear();
        EXPECT_EQ(discovery.GetCurrentOneNotePageInfo(page), !*failure) << failure;
        if (*failure)
            shown.append(LocalizedString(failure));
        EXPECT_EQ(page.clientId, clientId);
        EXPECT_EQ(oneNote.scripts, QStringList{KeystrokeScript()}) << "one attempt, no retry";
        EXPECT_TRUE(oneNote.clipboardAtKeystroke.isEmpty()) << "cleared before the keystroke";
        EXPECT_EQ(clipboard.contents(), before) << "every format restored";
    }
    EXPECT_EQ(alert.messages, shown);

    // The keystroke goes to OneNote by its application path.
    const QStringList lines = KeystrokeScript().split(QLatin1Char('\n'));
    EXPECT_EQ(lines.at(1), "tell application \"/Applications/Microsoft OneNote.app\"");
    EXPECT_EQ(lines.at(8), "keystroke \"p\" using {command down, control down}");
}
