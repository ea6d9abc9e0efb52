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

void PrintTo(const QString &text, std::ostream *os)
{
    *os << '"' << text.toStdString() << '"';
}

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
// text that was there before is never taken for OneNote's answer. A failure's text is shown
// and the next discovery starts afresh.
TEST(Discovery, AsksOnceGivesTheClipboardBackAndShowsWhyNot)
{
    const ClipboardContents link = TextClip(kLink);
    const std::tuple<ClipboardContents, std::optional<ClipboardContents>, const char *> cases[] = {
        {UsersClipboard(), TextClip("onenote:https://d.docs.live.net/c/Book/Sec.one#Title&end"),
         "errServerIndexing"},
        {UsersClipboard(), link, ""},
        {ClipboardContents(), link, ""},
        {link, std::nullopt, "errGetPageLink"}, // a link the user copied earlier
        {UsersClipboard(), ClipboardContents{{{"image/png", "PNG"}}}, "errGetPageLink"},
    };
    Cogitra::Test::InstalledAlert alert;
    MemoryClipboard clipboard;
    FakeOneNote oneNote{clipboard};
    MCurrentPage discovery{oneNote, clipboard};
    QStringList shown;
    for (const auto &[before, answer, failure] : cases) {
        clipboard.setContents(before);
        oneNote.answer = answer;
        oneNote.scripts.clear();
        OneNotePageInfo page;
        EXPECT_EQ(discovery.GetCurrentOneNotePageInfo(page), !*failure) << failure;
        if (*failure)
            shown.append(LocalizedString(failure));
        EXPECT_EQ(page.clientId, *failure ? "" : "C12E883F-0B36-4C51-96CF-D6852A271E59");
        EXPECT_EQ(oneNote.scripts, QStringList{KeystrokeScript()}) << "one attempt, no retry";
        EXPECT_TRUE(oneNote.clipboardAtKeystroke.isEmpty()) << "cleared before the keystroke";
        EXPECT_EQ(clipboard.contents(), before) << "every format restored";
    }
    EXPECT_EQ(alert.messages, shown);

    // The script itself: twelve lines with the copy-link keystroke and three pauses.
    const QString script = KeystrokeScript();
    EXPECT_EQ(script.size(), 243);
    const QStringList lines = script.split(QLatin1Char('\n'));
    EXPECT_EQ(lines.size(), 13);
    EXPECT_EQ(lines.at(1), "tell application \"/Applications/Microsoft OneNote.app\"");
    EXPECT_EQ(lines.at(8), "keystroke \"p\" using {command down, control down}");
    EXPECT_EQ(script.count(QStringLiteral("delay 0.5\n")), 3);
}

TEST(Discovery, ReadsTheLinkOrSaysWhyNot)
{
    const QString limit = "onenote:https://d.docs.live.net/c/Book/Sec.one#T&page-id={P}&end";
    const QString padded = limit + QString(64 * 1024 - limit.size(), QLatin1Char(' '));
    // The clip, the failure's key, then account, page client id, title, notebook, section.
    const QStringList rows[] = {
        {kLink, "", "0b7d4e2a9c315f68", "C12E883F-0B36-4C51-96CF-D6852A271E59",
         QString::fromUtf8("Probl\xC3\xA8men & MHZ"), "TEST", "New Section 1"},
        {"Page link: onenote:https://host.example/teams/Web/Book/Sec.one#T&page-id={P}&end \t", "",
         "Web", "P", "T", "Book", "Sec"},
        {"onenote:https://d.docs.live.net/c/Book/Sec.one#Title&section-id={S}&end",
         "errServerIndexing", "c", "", "Title", "Book", "Sec"},
        {padded, "", "c", "P", "T", "Book", "Sec"}, // at the length limit
        {padded + ' ', "errGetPageLink"},
        {"", "errGetPageLink"},
        {"my old note", "errGetPageLink"},
        {"https://onedrive.live.com/redir.aspx?cid=a2&page=edit", "errGetPageLink"},
        {"onenote:#T&section-id={S}&page-id={P}&end&base-path=https://d.docs.live.net/c/B/S.one",
         "errGetPageLink"},
        {"onenote:https://d.docs.live.net/1a2b3c4d5e6f7081/Documents/TestNotebook 2",
         "errGetPageLink"},
        {"onenote:https://d.docs.live.net/c/Book/Sec.one#section-id={S}&page-id={P}&end",
         "errPageTitleEmpty"},
        {"onenote:https://d.docs.live.net/c/Book/Sec.one#100%&page-id={P}&end",
         "errPageTitleEmpty"},
    };
    for (const QStringList &row : rows) {
        OneNotePageInfo page{"stale", "stale", "stale", "stale", "stale"};
        EXPECT_EQ(MCurrentPage::ReadPageLink(row.at(0), page), row.at(1))
            << row.at(0).left(80).toStdString();
        EXPECT_EQ((QStringList{page.accountId, page.clientId, page.title, page.notebookName,
                               page.sectionName}),
                  row.size() > 2 ? row.mid(2) : QStringList(5, QString()));
        // The link goes on to page location with the names; a refused clip leaves none.
        EXPECT_EQ(page.link.startsWith("onenote:"), row.at(1) != "errGetPageLink");
    }
}
