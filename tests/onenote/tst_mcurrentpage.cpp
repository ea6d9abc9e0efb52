#include "../support/RecordingAlert.h"

#include "onenote/ClipFun.h"
#include "onenote/MCurrentPage.h"
#include "platform/IDesktopAutomation.h"
#include "platform/MemoryClipboard.h"
#include "util/MStrings.h"

#include <gtest/gtest.h>

#include <functional>

using namespace Cogitra;

void PrintTo(const QString &text, std::ostream *os)
{
    *os << '"' << text.toStdString() << '"';
}

namespace {

const QString kLink = QString::fromUtf8(
    "onenote:https://d.docs.live.net/0b7d4e2a9c315f68/Documenten/TEST/New%20Section%201.one"
    "#Probl%C3%A8men%20%26%20MHZ&section-id={B065EC60-B8DD-4F52-9907-1C2DD8EC417C}"
    "&page-id={C12E883F-0B36-4C51-96CF-D6852A271E59}&end");

// OneNote as the keystroke finds it: answering with a link, with something else, or not
// at all. It sees the clipboard as the script leaves it.
class FakeOneNote final : public IDesktopAutomation
{
public:
    explicit FakeOneNote(IClipboard &clipboard)
        : m_Clipboard(clipboard)
    {}

    void RunAppleScript(const QString &source) override
    {
        scripts.append(source);
        clipboardAtKeystroke = m_Clipboard.contents();
        if (answer)
            answer(m_Clipboard);
    }

    std::function<void(IClipboard &)> answer;
    QStringList scripts;
    ClipboardContents clipboardAtKeystroke;

private:
    IClipboard &m_Clipboard;
};

ClipboardContents UsersClipboard()
{
    return {{{"text/plain", "my old note"},
             {"text/html", "<b>my old note</b>"},
             {"image/png", QByteArray("\x89PNG\r\n\x1a\n\0\0", 10)}}};
}

class Discovery : public testing::Test
{
protected:
    void SetUp() override { clipboard.setContents(UsersClipboard()); }

    void answerWith(const QString &text)
    {
        oneNote.answer = [text](IClipboard &board) {
            board.setText(text);
        };
    }

    QString discover() { return discovery.ReadCurrentPage(page); }

    MemoryClipboard clipboard;
    FakeOneNote oneNote{clipboard};
    MCurrentPage discovery{oneNote, clipboard};
    OneNotePageInfo page;
};

} // namespace

TEST(KeystrokeScript, IsTheFixedTwelveLineScript)
{
    const QString script = KeystrokeScript();
    EXPECT_EQ(script.size(), 243);
    EXPECT_EQ(script.count(QLatin1Char('\n')), 12);
    EXPECT_TRUE(script.endsWith(QLatin1Char('\n')));
    const QStringList lines = script.split(QLatin1Char('\n'));
    EXPECT_EQ(lines.at(1), "tell application \"/Applications/Microsoft OneNote.app\"");
    EXPECT_EQ(lines.at(8), "keystroke \"p\" using {command down, control down}");
    EXPECT_EQ(script.count(QStringLiteral("delay 0.5\n")), 3);
}

TEST_F(Discovery, ReadsThePageAndPutsTheUsersClipboardBack)
{
    answerWith(kLink);
    EXPECT_EQ(discover(), QString());
    EXPECT_EQ(page.title, QString::fromUtf8("Problèmen & MHZ"));
    EXPECT_EQ(page.notebookName, "TEST");
    EXPECT_EQ(page.sectionName, "New Section 1");
    EXPECT_EQ(page.accountId, "0b7d4e2a9c315f68");
    EXPECT_EQ(page.clientId, "C12E883F-0B36-4C51-96CF-D6852A271E59");

    ASSERT_EQ(oneNote.scripts.size(), 1) << "one attempt, no retry";
    EXPECT_EQ(oneNote.scripts.at(0), KeystrokeScript());
    EXPECT_TRUE(oneNote.clipboardAtKeystroke.isEmpty()) << "cleared before the keystroke";
    EXPECT_EQ(clipboard.contents(), UsersClipboard()) << "every format restored";
}

TEST_F(Discovery, OldTextIsNeverTakenForALinkWhenOneNoteDoesNotAnswer)
{
    clipboard.setText(kLink); // a link the user copied earlier
    const ClipboardContents before = clipboard.contents();
    EXPECT_EQ(discover(), "errGetPageLink");
    EXPECT_EQ(page.title, QString());
    EXPECT_EQ(clipboard.contents(), before);
}

TEST_F(Discovery, EmptyClipboardIsRestoredEmpty)
{
    clipboard.clear();
    answerWith(kLink);
    EXPECT_EQ(discover(), QString());
    EXPECT_TRUE(clipboard.contents().isEmpty());
}

TEST_F(Discovery, AnswerWithoutTextIsNoLink)
{
    oneNote.answer = [](IClipboard &board) {
        board.setContents({{{"image/png", "PNG"}}});
    };
    EXPECT_EQ(discover(), "errGetPageLink");
    EXPECT_EQ(clipboard.contents(), UsersClipboard());
}

struct ClipCase
{
    const char *name;
    const char *clip;
    const char *failure;
    OneNotePageInfo expected;
};

void PrintTo(const ClipCase &clipCase, std::ostream *os)
{
    *os << clipCase.clip;
}

class DiscoveryReadings : public testing::TestWithParam<ClipCase>
{
};

TEST_P(DiscoveryReadings, FailureKeyAndValues)
{
    OneNotePageInfo page{"stale", "stale", "stale", "stale", "stale"};
    EXPECT_EQ(MCurrentPage::ReadPageLink(QString::fromUtf8(GetParam().clip), page),
              GetParam().failure);
    const OneNotePageInfo &expected = GetParam().expected;
    EXPECT_EQ(page.title, expected.title);
    EXPECT_EQ(page.notebookName, expected.notebookName);
    EXPECT_EQ(page.sectionName, expected.sectionName);
    EXPECT_EQ(page.accountId, expected.accountId);
    EXPECT_EQ(page.clientId, expected.clientId);
    // The link goes to page location with the names; a refused clip leaves no link behind.
    if (GetParam().failure == QStringLiteral("errGetPageLink"))
        EXPECT_TRUE(page.link.isEmpty());
    else
        EXPECT_TRUE(page.link.startsWith(QStringLiteral("onenote:"))) << page.link.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Clips, DiscoveryReadings,
    testing::Values(
        ClipCase{"Empty", "", "errGetPageLink", {}},
        ClipCase{"NotALink", "my old note", "errGetPageLink", {}},
        ClipCase{"WebLink",
                 "https://onedrive.live.com/redir.aspx?cid=a2&page=edit",
                 "errGetPageLink",
                 {}},
        ClipCase{
            "RelativeLink",
            "onenote:#T&section-id={S}&page-id={P}&end&base-path=https://d.docs.live.net/c/B/S.one",
            "errGetPageLink",
            {}},
        ClipCase{"NotebookLinkWithoutSectionFile",
                 "onenote:https://d.docs.live.net/1a2b3c4d5e6f7081/Documents/TestNotebook 2",
                 "errGetPageLink",
                 {}},
        ClipCase{
            "TextBeforeAndBlanksAfter",
            "Page link: onenote:https://host.example/teams/Web/Book/Sec.one#T&page-id={P}&end \t",
            "",
            {"Web", "P", "T", "Book", "Sec"}},
        ClipCase{"NoTitle",
                 "onenote:https://d.docs.live.net/c/Book/Sec.one#section-id={S}&page-id={P}&end",
                 "errPageTitleEmpty",
                 {}},
        ClipCase{"TitleThatDoesNotDecode",
                 "onenote:https://d.docs.live.net/c/Book/Sec.one#100%&page-id={P}&end",
                 "errPageTitleEmpty",
                 {}},
        ClipCase{"NoPageId",
                 "onenote:https://d.docs.live.net/c/Book/Sec.one#Title&section-id={S}&end",
                 "errServerIndexing",
                 {"c", "", "Title", "Book", "Sec"}}),
    [](const testing::TestParamInfo<ClipCase> &param) { return std::string(param.param.name); });

TEST(DiscoveryLimits, ClipboardOfMegabytesIsNoLink)
{
    const QString link = "onenote:https://d.docs.live.net/c/Book/Sec.one#T&page-id={P}&end";
    OneNotePageInfo page;
    const QString padded = link + QString(64 * 1024 - link.size(), QLatin1Char(' '));
    EXPECT_EQ(MCurrentPage::ReadPageLink(padded, page), QString()) << "at the limit";
    EXPECT_EQ(MCurrentPage::ReadPageLink(padded + ' ', page), "errGetPageLink");
    EXPECT_EQ(page.title, QString());
}

TEST_F(Discovery, ShowsTheFailuresTextAndGoesOn)
{
    Cogitra::Test::InstalledAlert alert;
    answerWith("onenote:https://d.docs.live.net/c/Book/Sec.one#Title&end");
    EXPECT_FALSE(discovery.GetCurrentOneNotePageInfo(page));
    EXPECT_EQ(page.title, "Title");
    answerWith(kLink);
    EXPECT_TRUE(discovery.GetCurrentOneNotePageInfo(page));

    ASSERT_EQ(alert.messages.size(), 1);
    EXPECT_EQ(alert.messages.at(0), LocalizedString("errServerIndexing"));
    EXPECT_FALSE(alert.messages.at(0).isEmpty()) << "the key has a text in the string table";
    EXPECT_FALSE(LocalizedString("errGetPageLink").isEmpty());
    EXPECT_FALSE(LocalizedString("errPageTitleEmpty").isEmpty());
}
