// What the application does with a map that has unsaved changes: it asks before anything
// replaces it, keeps it on disk while it is unsaved, and offers it back after a crash.
#include "AppFakes.h"

#include "app/MMapBackup.h"
#include "app/MMapDraft.h"

#include <QFile>

#include <gtest/gtest.h>

namespace Cogitra::Test {
namespace {

const QString MapJson = QStringLiteral(R"({"root":{"data":{"text":"Plans"}}})");
const QString EditedJson = QStringLiteral(R"({"root":{"data":{"text":"Plans, edited"}}})");
const QString IsModifiedScript
    = QStringLiteral("typeof IsModified === 'function' ? IsModified() : true");
const QString DraftScript
    = QStringLiteral("(typeof IsModified === 'function' && IsModified()) ? g_ZetDraftJson : ''");

class MapSafetyTest : public AppTest
{
protected:
    // Started with the map of "Weekly plan", which the user has changed since.
    void editingAPage()
    {
        signIn(QStringLiteral("acc-1"));
        discovery.found = true;
        discovery.page
            = {QStringLiteral("acc-1"), QStringLiteral("{client}"), QStringLiteral("Weekly plan"),
               QStringLiteral("Work"),  QStringLiteral("Projects"), QString()};
        launch();
        editor.finishLoading(*app, MapJson);
        g_OnlinePageId.set(QStringLiteral("page-1"));
        g_PageTitle.set(QStringLiteral("Weekly plan"));
        g_DownloadedMapJson.set(MapJson);
        endRun(-100);
        tick();
        edit();
    }
    // The page reports an edit the way it does: modified, then a draft.
    void edit(const QString &json = EditedJson)
    {
        editor.answers[DraftScript] = json;
        editor.answers[IsModifiedScript] = true;
        jsCall("Modified");
        jsCall("Draft");
    }
    // The page answers "SaveMap()": its globals, then JsCall("Save").
    void pageSaves()
    {
        editor.answers[QStringLiteral("g_ZetJsonResult")] = EditedJson;
        editor.answers[QStringLiteral("g_ZetPngResult")] = QStringLiteral("data:image/png;base64,");
        editor.answers[QStringLiteral("String(window.g_ZetSaveMark ?? '')")] = QStringLiteral("7");
        jsCall("Save");
    }
    void saveEnds(bool succeeded)
    {
        editor.answers[IsModifiedScript] = !succeeded;
        if (succeeded)
            endRun(100);
        else
            endRun(30, "errUploadFailed");
        tick();
        if (succeeded)
            jsCall("Unmodified");
    }
    [[nodiscard]] qsizetype mapsReplaced() const { return editorMaps().size(); }
};

// What each command does when the map is edited, for every answer.
TEST_F(MapSafetyTest, OpenNewAndRestoreAskFirst)
{
    struct Command
    {
        const char *name;
        void (AppDelegate::*run)();
        // What the command does once it goes ahead.
        std::function<bool()> wentAhead;
    };
    const Command commands[] = {
        {"Open", &AppDelegate::MenuItemOpenFromCurrentPage,
         [this] {
             return online.runs.size() > 1 && online.runs.back().DownloadCogitra;
         }},
        {"New", &AppDelegate::MenuItemNew,
         [this] {
             return editor.scripts.contains(QStringLiteral("NewMap()"))
                    && window.title == TitleOf(Text("strNewMap")) && g_OnlinePageId.isEmpty();
         }},
        {"Restore", &AppDelegate::MenuItemRefreshClick,
         [this] {
             return editor.scripts.last().startsWith(u"RestoreJsonData('")
                    && window.title == TitleOf(QStringLiteral("Weekly plan"));
         }},
    };
    for (const Command &command : commands) {
        for (const auto answer : {UnsavedChangesAnswer::Cancel, UnsavedChangesAnswer::Discard,
                                  UnsavedChangesAnswer::Save}) {
            for (const bool saveSucceeds : {true, false}) {
                if (answer != UnsavedChangesAnswer::Save && !saveSucceeds)
                    continue;
                SCOPED_TRACE(testing::Message()
                             << command.name << " answer " << static_cast<int>(answer)
                             << " save succeeds " << saveSucceeds);
                TearDown();
                SetUp();
                online.runs.clear();
                editingAPage();
                shell.questions.clear(); // the offer of the draft the last case left
                ASSERT_TRUE(SaveMapBackup(MapJson));
                ASSERT_TRUE(window.modified);
                ASSERT_TRUE(QFile::exists(MapDraftPath()));
                const qsizetype maps = mapsReplaced();
                const auto expectUntouched = [&] {
                    EXPECT_EQ(mapsReplaced(), maps);
                    EXPECT_TRUE(window.modified);
                    EXPECT_TRUE(QFile::exists(MapDraftPath())) << "the edits are still kept";
                    EXPECT_EQ(g_OnlinePageId.get(), QStringLiteral("page-1"));
                };

                shell.unsavedAnswer = answer;
                ((*app).*command.run)();
                editor.flush();
                ASSERT_EQ(shell.questions.size(), 1);
                EXPECT_TRUE(shell.questions[0].contains(u"Weekly plan"));

                switch (answer) {
                case UnsavedChangesAnswer::Cancel:
                    expectUntouched();
                    EXPECT_EQ(online.runs.size(), 1u);
                    break;
                case UnsavedChangesAnswer::Discard:
                    EXPECT_TRUE(command.wentAhead());
                    EXPECT_FALSE(QFile::exists(MapDraftPath()));
                    break;
                case UnsavedChangesAnswer::Save:
                    EXPECT_EQ(editor.scripts.last(), QStringLiteral("SaveMap()"));
                    pageSaves();
                    ASSERT_EQ(online.runs.size(), 2u);
                    EXPECT_EQ(online.runs.back().CogitraJsonForUpload, EditedJson);
                    EXPECT_EQ(mapsReplaced(), maps) << "nothing goes ahead before the save ends";
                    saveEnds(saveSucceeds);
                    if (saveSucceeds) {
                        EXPECT_TRUE(editor.scripts.contains(QStringLiteral("MarkSaved('7')")));
                        EXPECT_FALSE(window.modified);
                        EXPECT_FALSE(QFile::exists(MapDraftPath()));
                        EXPECT_TRUE(command.wentAhead());
                    } else {
                        expectUntouched();
                        EXPECT_EQ(online.runs.size(), 2u);
                    }
                    break;
                }
            }
        }
    }
}

TEST_F(MapSafetyTest, ClosingAndQuittingAskFirst)
{
    editingAPage();
    int closes = 0;
    const auto closeAgain = [&] {
        ++closes;
    };

    shell.unsavedAnswer = UnsavedChangesAnswer::Cancel;
    EXPECT_FALSE(app->MayCloseWindow(closeAgain));
    app->MenuItemQuit();
    EXPECT_EQ(shell.terminations, 0);
    EXPECT_EQ(shell.questions.size(), 2);

    // The page never answered the save it was asked for: a later save of the user's own does
    // not close the window behind it.
    shell.unsavedAnswer = UnsavedChangesAnswer::Save;
    EXPECT_FALSE(app->MayCloseWindow(closeAgain));
    app->MenuItemSave();
    pageSaves();
    saveEnds(true);
    EXPECT_EQ(closes, 0);
    edit();

    // Save: the window stays until the save has succeeded, then closes.
    shell.unsavedAnswer = UnsavedChangesAnswer::Save;
    EXPECT_FALSE(app->MayCloseWindow(closeAgain));
    pageSaves();
    saveEnds(false);
    EXPECT_EQ(closes, 0) << "a failed save keeps the window and the map";
    EXPECT_FALSE(app->MayCloseWindow(closeAgain));
    pageSaves();
    saveEnds(true);
    EXPECT_EQ(closes, 1);
    EXPECT_TRUE(app->MayCloseWindow(closeAgain)) << "saved: no question";

    // Discard: gone at once, and a draft the page sends on the way out is not kept.
    edit();
    shell.unsavedAnswer = UnsavedChangesAnswer::Discard;
    EXPECT_TRUE(app->MayCloseWindow(closeAgain));
    EXPECT_FALSE(QFile::exists(MapDraftPath()));
    jsCall("Draft");
    EXPECT_FALSE(QFile::exists(MapDraftPath()));
    app->MenuItemQuit();
    EXPECT_EQ(shell.terminations, 1);
    EXPECT_EQ(closes, 1);
}

TEST_F(MapSafetyTest, TitleNamesThePageTheNextSaveWritesTo)
{
    // A launch open that fails leaves a map of no page.
    discovery.found = true;
    g_AccessToken.set(QStringLiteral("t"));
    g_UserId.set(QStringLiteral("u"));
    launch();
    editor.finishLoading(*app, MapJson);
    endRun(-20, "errGetServerPageId");
    tick();
    EXPECT_EQ(window.title, TitleOf(Text("strNewMap")));

    // Save to Current Page: the page it was saved to, once the save has located it.
    app->MenuItemSaveToCurrentPage();
    pageSaves();
    g_OnlinePageId.set(QStringLiteral("page-2"));
    g_PageTitle.set(QStringLiteral("Budget"));
    saveEnds(true);
    EXPECT_EQ(window.title, TitleOf(QStringLiteral("Budget")));

    // New, then an open that fails: still the new map, never the page it replaced.
    app->MenuItemNew();
    EXPECT_EQ(window.title, TitleOf(Text("strNewMap")));
    app->MenuItemOpenFromCurrentPage();
    endRun(-21, "errGetContentError");
    tick();
    EXPECT_EQ(window.title, TitleOf(Text("strNewMap")));
    EXPECT_TRUE(g_PageTitle.isEmpty());
}

TEST_F(MapSafetyTest, DraftFollowsTheModifiedState)
{
    editingAPage();
    const std::optional<MapDraft> draft = LoadMapDraft();
    ASSERT_TRUE(draft);
    EXPECT_EQ(QStringList({draft->json, draft->onlinePageId, draft->pageTitle,
                           draft->page.notebookName, draft->page.accountId}),
              QStringList({EditedJson, QStringLiteral("page-1"), QStringLiteral("Weekly plan"),
                           QStringLiteral("Work"), QStringLiteral("acc-1")}));
    EXPECT_LE(draft->savedAt.secsTo(QDateTime::currentDateTimeUtc()), 5);
    QFile file(MapDraftPath());
    EXPECT_EQ(file.permissions()
                  & ~(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser
                      | QFileDevice::WriteUser),
              0);

    // The page answers a draft call after Undo made the map clean: nothing is written.
    editor.answers[DraftScript] = QString();
    jsCall("Unmodified");
    EXPECT_FALSE(window.modified);
    EXPECT_FALSE(QFile::exists(MapDraftPath()));
    jsCall("Draft");
    EXPECT_FALSE(QFile::exists(MapDraftPath()));
}

// The program was killed with unsaved edits; the next start offers them back.
TEST_F(MapSafetyTest, EditsOfAKilledSessionAreOfferedBack)
{
    editingAPage();
    const auto nextStart = [this](bool accept) {
        ResetGlobalsForTesting();
        makeApp();
        account.clear();
        online.runs.clear();
        shell.questions.clear();
        shell.restoreDraft = accept;
        launch();
    };

    const int discoveries = discovery.calls;
    nextStart(true);
    ASSERT_EQ(shell.questions.size(), 1);
    EXPECT_TRUE(shell.questions[0].contains(u"Weekly plan"));
    EXPECT_EQ(discovery.calls, discoveries);
    // Nothing is opened over them; they go in once the editor is ready, as edits.
    EXPECT_TRUE(online.runs.empty());
    editor.finishLoading(*app, MapJson);
    tick();
    EXPECT_EQ(editor.scripts.last(), QStringLiteral("RestoreJsonData('%1')").arg(EditedJson));
    EXPECT_EQ(window.title, TitleOf(QStringLiteral("Weekly plan")));
    EXPECT_TRUE(QFile::exists(MapDraftPath())) << "kept until saved or discarded";
    jsCall("Modified");
    EXPECT_TRUE(window.modified);
    // The next Save writes them to that page, without asking OneNote which one.
    signIn(QStringLiteral("acc-1"));
    pageSaves();
    ASSERT_EQ(online.runs.size(), 1u);
    EXPECT_EQ(online.runs[0].Page.title, QStringLiteral("Weekly plan"));
    EXPECT_EQ(g_OnlinePageId.get(), QStringLiteral("page-1"));
    EXPECT_EQ(discovery.calls, discoveries);
    endRun(30, "errUploadFailed");
    tick();

    // The save failed, so the offer comes again; declined, the launch open goes ahead.
    nextStart(false);
    EXPECT_EQ(shell.questions.size(), 1);
    EXPECT_FALSE(QFile::exists(MapDraftPath()));
    EXPECT_GT(discovery.calls, discoveries);

    nextStart(true);
    EXPECT_TRUE(shell.questions.isEmpty());
}

} // namespace
} // namespace Cogitra::Test
