// Saves through the application logic and the real worker that meet a map on the page which
// the editor's map did not come from: the question, each answer, and what is then on the
// page and in the editor.
#include "AppOnService.h"

#include "online/MPageContent.h"
#include "util/MStepCodes.h"

namespace Cogitra::Test {
namespace {

const QString kOld = QStringLiteral(R"({"root":{"data":{"text":"On the page"}}})");
const QString kEdited = QStringLiteral(R"({"root":{"data":{"text":"Edited – 'here'"}}})");
const QString kTheirs = QStringLiteral(R"({"root":{"data":{"text":"Theirs"}}})");

class UnseenMap : public AppOnService
{
protected:
    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(launchOnPage(kOld));
        const auto other = m_Service->createPage(m_Section.id, QStringLiteral("Other page"));
        ASSERT_TRUE(other);
        m_Other = other->id;
        PutTheirMap(m_Other);
        edited(kEdited);
    }

    // Another computer writes a map onto the page: through the service, not this client.
    void PutTheirMap(const QString &pageId) const
    {
        const QString imageId = TZetGifAttachment::GetZetGifIdFromPageHtml(
            m_Service->pageHtml(pageId), QStringLiteral("ZetGif"));
        ASSERT_TRUE(m_Service->patchPage(
            pageId, MPageContent::UpdateBody(imageId, TZetGifAttachment::Package(kTheirs),
                                             QStringLiteral("ZetGif"))));
    }

    // Save (or Save to Current Page) as the menu starts it, to the end of every run it leads
    // to, the question answered with answer.
    void SaveAnswering(UnseenMapAnswer answer, bool toCurrentPage = false)
    {
        shell.unseenMapAnswer = answer;
        if (toCurrentPage)
            app->MenuItemSaveToCurrentPage();
        else
            app->MenuItemSave();
        jsCall("Save");
        for (int run = 0; run < 2; ++run) {
            waitForRun();
            ticks();
        }
    }

    [[nodiscard]] QString EditorMap() const { return editorMaps().value(editorMaps().size() - 1); }

    [[nodiscard]] QStringList Asked() const { return shell.unseenMapQuestions; }
    [[nodiscard]] static QStringList Question()
    {
        return {LocalizedString(QStringLiteral("errMapNotSeen"))};
    }

    QString m_Other;
};

TEST_F(UnseenMap, NewThenSaveOntoAPageWithAMapAsksAndReplacesOnlyWhenTold)
{
    app->MenuItemNew();
    SaveAnswering(UnseenMapAnswer::Cancel);
    EXPECT_EQ(Asked(), Question());
    EXPECT_EQ(mapOn(m_Page.id), kOld);
    EXPECT_EQ(EditorMap(), QString()); // the new map stays in the editor
    EXPECT_TRUE(g_OnlinePageId.isEmpty()) << "the new map still has no page";
    EXPECT_TRUE(alert.messages.isEmpty());

    SaveAnswering(UnseenMapAnswer::Replace);
    EXPECT_EQ(Asked().size(), 2);
    EXPECT_EQ(mapOn(m_Page.id), kEdited);
    EXPECT_EQ(g_StepCode.load(), Step::SaveDone);
    // Saved there, the map is the page's: the next save asks nothing.
    SaveAnswering(UnseenMapAnswer::Cancel);
    EXPECT_EQ(Asked().size(), 2);
    EXPECT_TRUE(alert.messages.isEmpty());
}

TEST_F(UnseenMap, SaveToCurrentPageOntoAnotherPagesMapAsks)
{
    selectPage(m_Other);
    SaveAnswering(UnseenMapAnswer::Cancel, true);
    EXPECT_EQ(Asked(), Question());
    EXPECT_EQ(mapOn(m_Other, 0), kTheirs);
    EXPECT_EQ(mapOn(m_Page.id), kOld);
    EXPECT_EQ(g_OnlinePageId.get(), m_Page.id) << "Save goes on to the map's own page";

    SaveAnswering(UnseenMapAnswer::Cancel);
    EXPECT_EQ(Asked().size(), 1);
    EXPECT_EQ(mapOn(m_Page.id), kEdited);
    EXPECT_EQ(mapOn(m_Other, 0), kTheirs);
}

TEST_F(UnseenMap, MapReplacedBySecondClientAsksAndOpeningShowsTheirs)
{
    PutTheirMap(m_Page.id);
    SaveAnswering(UnseenMapAnswer::OpenPagesMap);
    EXPECT_EQ(Asked(), Question());
    EXPECT_EQ(mapOn(m_Page.id), kTheirs);
    EXPECT_EQ(EditorMap(), EscapeForJsString(kTheirs));
    EXPECT_TRUE(alert.messages.isEmpty());

    // Theirs is now the map the editor's came from.
    SaveAnswering(UnseenMapAnswer::Cancel);
    EXPECT_EQ(Asked().size(), 1);
    EXPECT_EQ(mapOn(m_Page.id), kEdited);
}

TEST_F(UnseenMap, OpenThenSaveAsksNothingAndCostsOneReadMore)
{
    ClearRequests();
    SaveAnswering(UnseenMapAnswer::Cancel);
    EXPECT_TRUE(Asked().isEmpty());
    EXPECT_EQ(mapOn(m_Page.id), kEdited);
    EXPECT_EQ(Requests().size(), 4u);
    SaveAnswering(UnseenMapAnswer::Cancel);
    EXPECT_TRUE(Asked().isEmpty());
    EXPECT_TRUE(alert.messages.isEmpty());

    // A save whose page could not be read back afterwards is saved; only the address of its
    // map is unknown, so the next save asks rather than guess.
    Service::Fault fault;
    fault.status = 500;
    fault.skip = 1; // the read before the writes passes, the one after fails
    fault.times = 1;
    m_Service->setFault(QStringLiteral("pageContent"), fault);
    SaveAnswering(UnseenMapAnswer::Cancel);
    EXPECT_TRUE(Asked().isEmpty());
    EXPECT_TRUE(alert.messages.isEmpty());
    SaveAnswering(UnseenMapAnswer::Cancel);
    EXPECT_EQ(Asked(), Question());
    EXPECT_EQ(mapOn(m_Page.id), kEdited);
}

} // namespace
} // namespace Cogitra::Test
