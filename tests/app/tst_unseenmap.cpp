// Saves through the application logic and the real worker that meet a map on the page which
// the editor's map did not come from: the question, each answer, and what is then on the
// page and in the editor.
#include "AppFakes.h"

#include "../online/OnlineTestSupport.h"

#include "app/AppDelegate.h"
#include "app/MEditorScript.h"
#include "app/MOnlineAdapters.h"
#include "attachment/TZetGifAttachment.h"
#include "onenote/MOLONUtils.h"
#include "online/MPageContent.h"
#include "online/MSeenMaps.h"
#include "util/MAlert.h"
#include "util/MGlobals.h"
#include "util/MStepCodes.h"
#include "util/MStrings.h"
#include "util/MUtils.h"

#include <QLoggingCategory>

QT_BEGIN_NAMESPACE
inline void PrintTo(const QString &text, std::ostream *out)
{
    *out << '"' << text.toStdString() << '"';
}
QT_END_NAMESPACE

namespace Cogitra::Test {
namespace {

const QString kOld = QStringLiteral(R"({"root":{"data":{"text":"On the page"}}})");
const QString kEdited = QStringLiteral(R"({"root":{"data":{"text":"Edited – 'here'"}}})");
const QString kTheirs = QStringLiteral(R"({"root":{"data":{"text":"Theirs"}}})");

class UnseenMap : public Testing::OnlineTest
{
protected:
    void SetUp() override
    {
        OnlineTest::SetUp();
        if (HasFatalFailure())
            return;
        QLoggingCategory::setFilterRules(QStringLiteral("default.info=false"));
        SetLanguage(QStringLiteral("en"));
        SignIn();
        Save(m_Page.id, kOld, Testing::PreviewPng());
        ASSERT_EQ(g_StepCode.load(), Step::SaveDone);
        const auto other = m_Service->createPage(m_Section.id, QStringLiteral("Other page"));
        ASSERT_TRUE(other);
        m_Other = other->id;
        PutTheirMap(m_Other);

        // Launch signed in: the first open puts the page's map into the editor.
        SelectPage(m_Page.id);
        ResetGlobalsForTesting();
        m_App.awakeFromNib(m_AppDir.path());
        g_AccessToken.set(m_AccessToken);
        g_RefreshToken.set(m_RefreshToken);
        g_UserId.set(m_Account.cid);
        g_AccountId.set(m_Discovery.page.accountId);
        SaveAccountState();
        ClearCache();
        m_App.applicationDidFinishLaunching();
        WaitForRun();
        m_Editor.finishLoading(m_App, QStringLiteral("{}"));
        Tick();
        ASSERT_EQ(EditorMap(), EscapeForJsString(kOld));

        // The user edits the map.
        m_Editor.answers[QStringLiteral("g_ZetJsonResult")] = kEdited;
        m_Editor.answers[QStringLiteral("g_ZetPngResult")]
            = QString(u"data:image/png;base64," + Testing::PreviewPng());
    }

    void TearDown() override
    {
        if (g_Worker)
            g_Worker->Wait();
        g_Worker.reset();
        QLoggingCategory::setFilterRules(QString());
        OnlineTest::TearDown();
    }

    void SelectPage(const QString &pageId)
    {
        const QString link = m_Service->pageDesktopLink(pageId);
        m_Discovery.found = true;
        m_Discovery.page
            = {AccountIdFromLink(link),    PageIdFromLink(link),      PageTitleFromLink(link),
               NotebookNameFromLink(link), SectionNameFromLink(link), link};
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

    void Tick()
    {
        for (int i = 0; i < 3; ++i) {
            m_App.TimerRun();
            m_Editor.flush();
        }
    }

    static void WaitForRun()
    {
        if (g_Worker)
            g_Worker->Wait();
        ASSERT_TRUE(WorkerFinished());
    }

    // Save (or Save to Current Page) as the menu starts it, to the end of every run it leads
    // to, the question answered with answer.
    void SaveAnswering(UnseenMapAnswer answer, bool toCurrentPage = false)
    {
        m_Shell.unseenMapAnswer = answer;
        if (toCurrentPage)
            m_App.MenuItemSaveToCurrentPage();
        else
            m_App.MenuItemSave();
        m_App.JsCall(QStringLiteral("Save"), QUrl(m_App.editorUrl()));
        m_Editor.flush();
        for (int run = 0; run < 2; ++run) {
            WaitForRun();
            Tick();
        }
    }

    [[nodiscard]] QString EditorMap() const
    {
        for (qsizetype i = m_Editor.scripts.size() - 1; i >= 0; --i) {
            const QString &script = m_Editor.scripts[i];
            if (script == u"NewMap()")
                return QString();
            if (script.startsWith(u"SetJsonData('"))
                return script.mid(13, script.size() - 15);
        }
        return QStringLiteral("<none>");
    }

    [[nodiscard]] QString MapOn(const QString &pageId) const
    {
        const QString address = MSeenMaps::AddressOf(
            TZetGifAttachment::GetZetGifUrlFromPageHtml(m_Service->pageHtml(pageId)));
        const auto resource = m_Service->store().resource(address);
        const std::optional<QByteArray> templateBytes
            = ReadWholeFile(TZetGifAttachment::TemplatePath());
        if (!resource || !templateBytes)
            return QStringLiteral("<none>");
        return ParseContainer(templateBytes->size(), resource->data).value_or(QString());
    }

    [[nodiscard]] QStringList Asked() const { return m_Shell.unseenMapQuestions; }
    [[nodiscard]] static QStringList Question()
    {
        return {LocalizedString(QStringLiteral("errMapNotSeen"))};
    }

    QString m_Other;
    FakeWindow m_Window;
    FakeEditor m_Editor;
    FakeShell m_Shell;
    FakeDiscovery m_Discovery;
    MOnlineRunner m_Online;
    InstalledAlert m_Alert;
    AppDelegate m_App{{&m_Window, &m_Editor, &m_Shell, &m_Discovery, &m_Online}};
};

TEST_F(UnseenMap, NewThenSaveOntoAPageWithAMapAsksAndReplacesOnlyWhenTold)
{
    m_App.MenuItemNew();
    SaveAnswering(UnseenMapAnswer::Cancel);
    EXPECT_EQ(Asked(), Question());
    EXPECT_EQ(MapOn(m_Page.id), kOld);
    EXPECT_EQ(EditorMap(), QString()); // the new map stays in the editor
    EXPECT_TRUE(g_OnlinePageId.isEmpty()) << "the new map still has no page";
    EXPECT_TRUE(m_Alert.messages.isEmpty());

    SaveAnswering(UnseenMapAnswer::Replace);
    EXPECT_EQ(Asked().size(), 2);
    EXPECT_EQ(MapOn(m_Page.id), kEdited);
    EXPECT_EQ(g_StepCode.load(), Step::SaveDone);
    // Saved there, the map is the page's: the next save asks nothing.
    SaveAnswering(UnseenMapAnswer::Cancel);
    EXPECT_EQ(Asked().size(), 2);
    EXPECT_TRUE(m_Alert.messages.isEmpty());
}

TEST_F(UnseenMap, SaveToCurrentPageOntoAnotherPagesMapAsks)
{
    SelectPage(m_Other);
    SaveAnswering(UnseenMapAnswer::Cancel, true);
    EXPECT_EQ(Asked(), Question());
    EXPECT_EQ(MapOn(m_Other), kTheirs);
    EXPECT_EQ(MapOn(m_Page.id), kOld);
    EXPECT_EQ(g_OnlinePageId.get(), m_Page.id) << "Save goes on to the map's own page";

    SaveAnswering(UnseenMapAnswer::Cancel);
    EXPECT_EQ(Asked().size(), 1);
    EXPECT_EQ(MapOn(m_Page.id), kEdited);
    EXPECT_EQ(MapOn(m_Other), kTheirs);
}

TEST_F(UnseenMap, MapReplacedBySecondClientAsksAndOpeningShowsTheirs)
{
    PutTheirMap(m_Page.id);
    SaveAnswering(UnseenMapAnswer::OpenPagesMap);
    EXPECT_EQ(Asked(), Question());
    EXPECT_EQ(MapOn(m_Page.id), kTheirs);
    EXPECT_EQ(EditorMap(), EscapeForJsString(kTheirs));
    EXPECT_TRUE(m_Alert.messages.isEmpty());

    // Theirs is now the map the editor's came from.
    SaveAnswering(UnseenMapAnswer::Cancel);
    EXPECT_EQ(Asked().size(), 1);
    EXPECT_EQ(MapOn(m_Page.id), kEdited);
}

TEST_F(UnseenMap, OpenThenSaveAsksNothingAndCostsOneReadMore)
{
    ClearRequests();
    SaveAnswering(UnseenMapAnswer::Cancel);
    EXPECT_TRUE(Asked().isEmpty());
    EXPECT_EQ(MapOn(m_Page.id), kEdited);
    EXPECT_EQ(Requests().size(), 4u);
    SaveAnswering(UnseenMapAnswer::Cancel);
    EXPECT_TRUE(Asked().isEmpty());
    EXPECT_TRUE(m_Alert.messages.isEmpty());

    // A save whose page could not be read back afterwards is saved; only the address of its
    // map is unknown, so the next save asks rather than guess.
    Service::Fault fault;
    fault.status = 500;
    fault.skip = 1; // the read before the writes passes, the one after fails
    fault.times = 1;
    m_Service->setFault(QStringLiteral("pageContent"), fault);
    SaveAnswering(UnseenMapAnswer::Cancel);
    EXPECT_TRUE(Asked().isEmpty());
    EXPECT_TRUE(m_Alert.messages.isEmpty());
    SaveAnswering(UnseenMapAnswer::Cancel);
    EXPECT_EQ(Asked(), Question());
    EXPECT_EQ(MapOn(m_Page.id), kEdited);
}

// "Open the Page's Map" replaces the editor's map like Open does: unsaved edits are asked
// about first, and Cancel keeps them.
TEST_F(UnseenMap, OpeningThePagesMapAsksAboutUnsavedEdits)
{
    PutTheirMap(m_Page.id);
    m_App.JsCall(QStringLiteral("Modified"), QUrl(m_App.editorUrl()));
    SaveAnswering(UnseenMapAnswer::OpenPagesMap);
    EXPECT_EQ(Asked(), Question());
    EXPECT_EQ(m_Shell.questions.size(), 1) << "Save, Discard or Cancel";
    EXPECT_EQ(EditorMap(), EscapeForJsString(kOld)) << "the edits stay in the editor";
    EXPECT_TRUE(m_App.isModified());
    EXPECT_EQ(MapOn(m_Page.id), kTheirs);
}

// Quit between a Save and its worker's start, and again while the worker runs: both wait,
// the page gets the picture and the map, and the application ends after them.
TEST_F(UnseenMap, QuitDuringASaveWaitsForTheWholeSave)
{
    m_App.JsCall(QStringLiteral("Modified"), QUrl(m_App.editorUrl()));
    ClearRequests();
    m_App.MenuItemSave();
    m_App.JsCall(QStringLiteral("Save"), QUrl(m_App.editorUrl()));
    m_App.MenuItemQuit();
    m_Editor.flush();
    m_App.MenuItemQuit();
    EXPECT_EQ(m_Shell.terminations, 0);
    EXPECT_TRUE(m_Shell.questions.isEmpty());
    EXPECT_EQ(m_Shell.quitNotices.size(), 2);
    EXPECT_EQ(m_Shell.quitNotices.value(0), LocalizedString(QStringLiteral("strQuitAfterSave")));
    WaitForRun();
    Tick();
    EXPECT_EQ(m_Shell.terminations, 1);
    EXPECT_EQ(MapOn(m_Page.id), kEdited);
    int patches = 0;
    for (const auto &request : Requests())
        patches += request.method == u"PATCH";
    EXPECT_EQ(patches, 2) << "the picture and the map";
}

// However the application ends, its worker's thread is joined before the shared values go.
TEST_F(UnseenMap, TheRunnerJoinsARunningWorker)
{
    Service::Fault slow;
    slow.kind = Service::FaultKind::Delay;
    slow.delayMs = 300;
    m_Service->setFault(QStringLiteral("pageContent"), slow);
    {
        MOnlineRunner online;
        MarkWorkerStarted();
        online.Run(RunOfPage(m_Discovery.page, true));
        EXPECT_FALSE(WorkerFinished());
    }
    EXPECT_TRUE(WorkerFinished());
}

} // namespace
} // namespace Cogitra::Test
