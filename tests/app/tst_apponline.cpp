// Open and save through the application logic and the real worker: every route with every fault.
#include "AppFakes.h"

#include "../online/OnlineTestSupport.h"

#include "app/MEditorScript.h"
#include "app/MMapBackup.h"
#include "app/MOnlineAdapters.h"
#include "attachment/TZetGifAttachment.h"
#include "onenote/MOLONUtils.h"
#include "online/MPageContent.h"
#include "util/MStepCodes.h"
#include "util/MUtils.h"

#include <QLoggingCategory>

#include <chrono>
#include <thread>

namespace Cogitra::Test {
namespace {

// Launched signed in on a page holding a map this client wrote, the editor showing it.
class AppOnService : public Testing::OnlineTest, public AppHarness
{
protected:
    // Call through ASSERT_NO_FATAL_FAILURE.
    void launchOnPage(const QString &map)
    {
        OnlineTest::SetUp();
        ASSERT_FALSE(HasFatalFailure());
        // The lists the client reads are written to the log; nothing to see in a test run.
        QLoggingCategory::setFilterRules(QStringLiteral("default.info=false"));
        SetLanguage(QStringLiteral("en"));
        SignIn();
        Save(m_Page.id, map, Testing::PreviewPng());
        ASSERT_EQ(mapOn(m_Page.id), map);
        selectPage(m_Page.id);

        ResetGlobalsForTesting();
        makeApp(&m_Runner);
        app->awakeFromNib(m_AppDir.path());
        SignIn();
        SaveAccountState();
        ClearCache();
        app->applicationDidFinishLaunching();
        waitForRun();
        editor.finishLoading(*app, QStringLiteral("{}"));
        ticks();
        ASSERT_EQ(editorMaps(), QStringList{EscapeForJsString(map)});
        ASSERT_EQ(g_OnlinePageId.get(), m_Page.id);
    }
    void TearDown() override
    {
        if (g_Worker)
            g_Worker->Wait();
        g_Worker.reset();
        QLoggingCategory::setFilterRules(QString());
        OnlineTest::TearDown();
    }

    // The user has edited the map: the page answers a save with it.
    void edited(const QString &map)
    {
        editor.answers[QStringLiteral("g_ZetJsonResult")] = map;
        editor.answers[QStringLiteral("g_ZetPngResult")]
            = QString(u"data:image/png;base64," + Testing::PreviewPng());
    }
    void selectPage(const QString &pageId)
    {
        discovery.found = true;
        discovery.page = PageProperties(pageId, true).Page;
    }
    void ticks()
    {
        editor.flush();
        for (int i = 0; i < 3; ++i)
            tick();
    }
    static void waitForRun()
    {
        if (g_Worker)
            g_Worker->Wait();
        ASSERT_TRUE(WorkerFinished());
    }

    // The map of the page's one container (beside one picture of it), or what is wrong.
    [[nodiscard]] QString mapOn(const QString &pageId, qsizetype pictures = 1) const
    {
        const QString html = m_Service->pageHtml(pageId);
        if (html.count(u"alt=\"ZetGif\"") != 1 || html.count(u"alt=\"ZetCogitra\"") != pictures)
            return QStringLiteral("<not one picture and one container>");
        const QString src = TZetGifAttachment::GetZetGifUrlFromPageHtml(html);
        const std::optional<QByteArray> templateBytes
            = ReadWholeFile(TZetGifAttachment::TemplatePath());
        for (const Service::Resource &resource : m_Service->pageResources(pageId)) {
            if (templateBytes && src.contains(u'/' + resource.id + u'/'))
                return ParseContainer(templateBytes->size(), resource.data)
                    .value_or(QStringLiteral("<damaged>"));
        }
        return QStringLiteral("<unreadable>");
    }

    MOnlineRunner m_Runner;
};

using Service::FaultKind;

// Short, so that a delay past it costs little; the delay lasts past it with room to spare.
constexpr int k_TimeoutMs = 1000;
constexpr int k_DelayMs = 1800;

enum class Job {
    Open,        // Open from current page, signed in, nothing cached
    OpenSignIn,  // Open right after a new sign-in: code exchange and user request first
    OpenRefresh, // Open whose page content meets an expired token: the tokens are renewed
    Save,        // Save to the page the last open located
    SaveLocate,  // Save to current page, nothing cached: the page is located again
    SaveSignIn,  // Save right after a new sign-in
    SaveRefresh, // Save whose content read meets an expired token
};
const char *const JobNames[]
    = {"Open", "OpenSignIn", "OpenRefresh", "Save", "SaveLocate", "SaveSignIn", "SaveRefresh"};

// What a run leaves of the access token, the refresh token and the user id against the
// sign-in it started from, a letter each: the Same, an Other, Empty, or any (*).
using Tokens = const char *;
constexpr Tokens Kept = "SSS";
constexpr Tokens Fresh = "OOS"; // renewed, or a new sign-in's
constexpr Tokens None = "EE*";  // a sign-in whose code brought none
constexpr Tokens NoUserId = "O*E";

enum class PageAfter {
    Old,      // the old map's container, alone
    New,      // the new map's container, alone
    OldOrNew, // one of the two, alone: the service may carry out an update the client gave up on
};

struct FaultCase
{
    Job run;
    const char *route;
    FaultKind kind;
    int64_t step;    // the run's last step code
    const char *key; // the error told, or nullptr
    Tokens tokens;
    PageAfter page;
    int skip = 0; // requests of the route that pass before the fault
};

bool IsOpen(Job job)
{
    return job == Job::Open || job == Job::OpenSignIn || job == Job::OpenRefresh;
}

// The page's map, large enough that half a container still holds some of its text; the edits.
QString OldMap()
{
    QString children;
    for (int i = 0; i < 40; ++i)
        children += QStringLiteral(R"(%1{"data":{"text":"Step %2 – O'Brien's \\path\\"}})")
                        .arg(i > 0 ? QStringLiteral(",") : QString())
                        .arg(i);
    return QStringLiteral(R"({"root":{"data":{"text":"Übersicht 思维导图"},"children":[)")
           + children + QStringLiteral(R"(]},"template":"default"})");
}

const QString EditedMap
    = QStringLiteral(R"({"root":{"data":{"text":"Edited since – 'kept'"}},"template":"right"})");

class AppFaults : public AppOnService, public ::testing::WithParamInterface<FaultCase>
{
protected:
    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(launchOnPage(OldMap()));
        qputenv("COGITRA_REQUEST_TIMEOUT_MS", QByteArray::number(k_TimeoutMs));
        // What the sign-in window leaves: nothing of the old sign-in, a new code.
        shell.onLogin = [this] {
            for (SharedText *value :
                 {&g_AccessToken, &g_RefreshToken, &g_UserId, &g_UserPrincipalName})
                value->set(QString());
            SaveAccountState();
            g_AuthCode.set(m_Service->mintAuthorizationCode(m_Account.cid));
        };
        edited(EditedMap);
        ClearRequests();
    }

    void Arm(const FaultCase &c)
    {
        // Down stays down; an expired token or a failed update comes once, so a retry lands.
        const bool once = c.kind == FaultKind::ExpiredToken
                          || QLatin1String(c.route) == QLatin1String("patchContent");
        if (c.run == Job::OpenRefresh || c.run == Job::SaveRefresh)
            m_Service->setFault(QStringLiteral("pageContent"),
                                {.kind = FaultKind::ExpiredToken, .times = 1});
        m_Service->setFault(QString::fromLatin1(c.route), {.kind = c.kind,
                                                           .status = 500,
                                                           .delayMs = k_DelayMs,
                                                           .retryAfterSeconds = 7,
                                                           .times = once ? 1 : -1,
                                                           .skip = c.skip});
    }

    void Start(Job job)
    {
        if (job == Job::OpenSignIn || job == Job::SaveSignIn)
            app->MenuItemLogoutClick();
        if (IsOpen(job)) {
            app->MenuItemOpenFromCurrentPage();
            return;
        }
        if (job == Job::SaveLocate)
            app->MenuItemSaveToCurrentPage();
        jsCall("Save"); // the page's answer to "SaveMap()"
    }
};

TEST_P(AppFaults, RunEndsAsToldAndLosesNothing)
{
    const FaultCase c = GetParam();
    const QString backupBefore = LoadMapBackup();
    QStringList maps = editorMaps();
    ClearCache();
    Arm(c);
    Start(c.run);
    waitForRun();

    // What the run left, before the status loop acts on it.
    const int64_t step = g_StepCode.load();
    const int64_t error = g_ErrorCode.load();
    const QString key = error != 0 ? g_ErrorMessageKey.get() : QString();
    // An update the client gave up on may still land, once the service answers it.
    if (c.kind == FaultKind::Delay && QLatin1String(c.route) == QLatin1String("patchContent"))
        std::this_thread::sleep_for(std::chrono::milliseconds(k_DelayMs));
    ticks();
    m_Service->clearFaults();

    EXPECT_EQ(step, c.step);
    EXPECT_EQ(error, c.key ? c.step : 0);
    EXPECT_EQ(key, QString::fromLatin1(c.key));
    EXPECT_EQ(alert.messages,
              c.key ? QStringList{LocalizedString(QString::fromLatin1(c.key))} : QStringList());
    EXPECT_TRUE(window.notice.isEmpty()) << window.notice.toStdString();
    EXPECT_FALSE(window.waiting) << "the main window still waits";

    EXPECT_TRUE(ConfigValue(QStringLiteral("OnlineOneNoteAccessToken")) == g_AccessToken.get()
                && ConfigValue(QStringLiteral("OnlineOneNoteRefreshToken"))
                       == g_RefreshToken.get());
    // Tokens are never compared with EXPECT_EQ, so that none is printed.
    const QString now[] = {g_AccessToken.get(), g_RefreshToken.get(), g_UserId.get()};
    const QString before[] = {m_AccessToken, m_RefreshToken, m_Account.cid};
    for (int i = 0; i < 3; ++i) {
        const char left = c.tokens[i];
        EXPECT_TRUE(left == 'S'   ? now[i] == before[i]
                    : left == 'O' ? !now[i].isEmpty() && now[i] != before[i]
                                  : left != 'E' || now[i].isEmpty())
            << "token " << i << ": expected " << left << ", empty " << now[i].isEmpty();
    }

    // The editor: a completed open shows the page's map; anything else keeps the user's.
    if (IsOpen(c.run) && c.step == -100)
        maps.append(EscapeForJsString(OldMap()));
    EXPECT_EQ(editorMaps(), maps) << "the editor's map was replaced";
    EXPECT_EQ(LoadMapBackup(), IsOpen(c.run) ? backupBefore : EditedMap);
    EXPECT_EQ(shell.stateWindows, IsOpen(c.run) ? std::vector<bool>{} : std::vector<bool>{true});

    // The page: one picture and one container, whose map is whole.
    const QString map = mapOn(m_Page.id);
    const PageAfter page = IsOpen(c.run) ? PageAfter::Old : c.page;
    EXPECT_TRUE(map == OldMap() ? page != PageAfter::New
                                : map == EditedMap && page != PageAfter::Old)
        << "the page's map is not the one expected: " << map.left(60).toStdString();
}

constexpr const char *k_Lists = "errGetNotebooksSections";
constexpr const char *k_Content = "errGetContentError";
constexpr const char *k_PageId = "errGetServerPageId";

// The faults of one route: those that end the run at the same failed stage, and the expired
// token that the run gets past by renewing it. A 500 stands for every 5xx: the client reads
// them alike. A throttled reply is told apart only by the token client. An update's reply
// has no body to cut, so there a truncated or half-written reply is a whole one.
enum class Malformed { Fails, Passes, Listed };
std::vector<FaultCase> Route(Job run, const char *route, int64_t failStep, const char *failKey,
                             Tokens failTokens, PageAfter failPage, Malformed malformed,
                             int skip = 0)
{
    const bool open = IsOpen(run);
    const bool signIn = run == Job::OpenSignIn || run == Job::SaveSignIn;
    const bool update = QLatin1String(route) == QLatin1String("patchContent");
    const FaultCase fails{run,     route,      FaultKind::Status, failStep,
                          failKey, failTokens, failPage,          skip};
    FaultCase passes = fails;
    passes.step = open ? -100 : 100;
    passes.key = nullptr;
    passes.tokens = signIn ? Fresh : Kept;
    passes.page = open ? PageAfter::Old : PageAfter::New;
    std::vector<FaultCase> cases;
    auto add = [&cases](FaultCase c, FaultKind kind) {
        c.kind = kind;
        cases.push_back(c);
    };
    add(fails, FaultKind::Status);
    if (QLatin1String(route) == QLatin1String("token"))
        add(fails, FaultKind::Throttle);
    add(fails, FaultKind::Delay);
    add(fails, FaultKind::Drop);
    add(update ? passes : fails, FaultKind::Truncate);
    if (malformed != Malformed::Listed)
        add(malformed == Malformed::Fails ? fails : passes, FaultKind::Malformed);
    FaultCase renewed = passes;
    renewed.tokens = Fresh;
    add(renewed, FaultKind::ExpiredToken);
    return cases;
}

std::vector<FaultCase> AllCases()
{
    using enum Job;
    using enum PageAfter;
    using enum Malformed;
    std::vector<std::vector<FaultCase>> all = {
        // Open: the lists, the page, its container.
        Route(Open, "notebooks", 10, k_Lists, Kept, Old, Fails),
        Route(Open, "sectionPages", 11, k_Lists, Kept, Old, Fails),
        Route(Open, "pageContent", -21, k_Content, Kept, Old, Fails),
        Route(Open, "resource", -23, "errDownloadFailed", Kept, Old, Listed),
        {{Open, "resource", FaultKind::Malformed, -24, "errMapUnreadable", Kept, Old}},
        // After a new sign-in: a failed exchange leaves no tokens, a failed user request no id.
        Route(OpenSignIn, "token", -20, k_PageId, None, Old, Fails),
        Route(OpenSignIn, "me", -21, k_Content, NoUserId, Old, Passes),
        Route(SaveSignIn, "token", 22, k_Content, None, Old, Fails),
        Route(SaveSignIn, "me", 22, k_Content, NoUserId, Old, Passes),
        // A failed refresh keeps the tokens; a half-written refresh reply leaves none.
        Route(OpenRefresh, "token", -21, k_Content, Kept, Old, Listed),
        {{OpenRefresh, "token", FaultKind::Malformed, -21, k_Content, None, Old}},
        Route(SaveRefresh, "token", 22, k_Content, Kept, Old, Listed),
        {{SaveRefresh, "token", FaultKind::Malformed, 22, k_Content, None, Old}},
        // Save to the known page: content, then the picture, then the container.
        Route(Save, "pageContent", 22, k_Content, Kept, Old, Fails),
        Route(Save, "patchContent", 24, "errUploadFailed", Kept, Old, Passes),
        Route(Save, "patchContent", 30, "errUploadFailed", Kept, OldOrNew, Passes, 1),
        // Save to the current page: located again.
        Route(SaveLocate, "notebooks", 20, k_PageId, Kept, Old, Fails),
        Route(SaveLocate, "sectionPages", 20, k_PageId, Kept, Old, Fails),
        // Busy past the last try says so; an update throttled once lands after the wait.
        {{Open, "pageContent", FaultKind::Throttle, -21, "errServiceBusy", Kept, Old},
         {Open, "resource", FaultKind::Throttle, -23, "errServiceBusy", Kept, Old},
         {SaveLocate, "notebooks", FaultKind::Throttle, 20, "errServiceBusy", Kept, Old},
         {Save, "patchContent", FaultKind::Throttle, 100, nullptr, Kept, New, 1}},
    };
    std::vector<FaultCase> cases;
    for (const std::vector<FaultCase> &route : all)
        cases.insert(cases.end(), route.begin(), route.end());
    return cases;
}

INSTANTIATE_TEST_SUITE_P(RouteByFault, AppFaults, ::testing::ValuesIn(AllCases()),
                         [](const ::testing::TestParamInfo<FaultCase> &p) {
                             const FaultCase &c = p.param;
                             return std::string(JobNames[int(c.run)]) + "_" + c.route
                                    + (c.skip > 0 ? "Second_" : "_")
                                    + Service::FaultKindName(c.kind).toStdString();
                         });

// Saves onto a page holding a map the editor's map did not come from.
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

    // Save (or Save to Current Page) from the menu to its last run, the question answered so.
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

    [[nodiscard]] qsizetype Asked() const { return shell.unseenMapQuestions.size(); }

    QString m_Other;
};

// Saves ask only over a map this client did not see, and each answer does what it says.
TEST_F(UnseenMap, SavesAskOnlyOverMapsThisClientDidNotSee)
{
    ClearRequests();
    SaveAnswering(UnseenMapAnswer::Cancel);
    EXPECT_EQ(mapOn(m_Page.id), kEdited);
    EXPECT_EQ(Requests().size(), 4u) << "one read more than a save without the check";
    // Saved, but the read after the writes fails: the next save asks rather than guess.
    m_Service->setFault(QStringLiteral("pageContent"), {.status = 500, .times = 1, .skip = 1});
    SaveAnswering(UnseenMapAnswer::Cancel);
    EXPECT_EQ(Asked(), 0);
    SaveAnswering(UnseenMapAnswer::Replace);
    EXPECT_EQ(Asked(), 1);
    EXPECT_EQ(g_StepCode.load(), Step::SaveDone);
    SaveAnswering(UnseenMapAnswer::Cancel);
    EXPECT_EQ(Asked(), 1) << "replaced, the map is seen";

    // Replaced by another client: opening theirs asks about unsaved edits; opened, it is seen.
    PutTheirMap(m_Page.id);
    jsCall("Modified");
    const QStringList maps = editorMaps();
    SaveAnswering(UnseenMapAnswer::OpenPagesMap);
    EXPECT_EQ(Asked(), 2);
    EXPECT_EQ(shell.questions.size(), 1) << "Save, Discard or Cancel";
    EXPECT_EQ(editorMaps(), maps) << "the edits stay";
    EXPECT_TRUE(app->isModified());
    EXPECT_EQ(mapOn(m_Page.id), kTheirs);
    jsCall("Unmodified");
    SaveAnswering(UnseenMapAnswer::OpenPagesMap);
    EXPECT_EQ(Asked(), 3);
    EXPECT_EQ(editorMaps().last(), EscapeForJsString(kTheirs));
    edited(kOld);
    SaveAnswering(UnseenMapAnswer::Cancel);
    EXPECT_EQ(Asked(), 3);
    EXPECT_EQ(mapOn(m_Page.id), kOld);

    // Save to Current Page onto another page's map: Cancel, and Save goes on to its own page.
    selectPage(m_Other);
    edited(kEdited);
    SaveAnswering(UnseenMapAnswer::Cancel, true);
    EXPECT_EQ(Asked(), 4);
    EXPECT_EQ(g_OnlinePageId.get(), m_Page.id);
    SaveAnswering(UnseenMapAnswer::Cancel);
    EXPECT_EQ(Asked(), 4);
    EXPECT_EQ(mapOn(m_Page.id), kEdited);
    EXPECT_EQ(mapOn(m_Other, 0), kTheirs);

    // A new map has no page: saved onto one with a map, it asks, and Cancel leaves it so.
    app->MenuItemNew();
    SaveAnswering(UnseenMapAnswer::Cancel, true);
    EXPECT_EQ(editorMaps().last(), QString());
    EXPECT_TRUE(g_OnlinePageId.isEmpty());
    EXPECT_EQ(mapOn(m_Other, 0), kTheirs);
    EXPECT_EQ(shell.unseenMapQuestions, QStringList(5, Text("errMapNotSeen")));
    EXPECT_TRUE(alert.messages.isEmpty());
}

// Edits brought back after a kill replace the page's map unasked; the runner joins its worker.
TEST_F(UnseenMap, EditsBroughtBackAfterAKillAreSavedUnasked)
{
    jsCall("Modified");
    editor.answers[QStringLiteral(
        "(typeof IsModified === 'function' && IsModified()) ? g_ZetDraftJson : ''")]
        = kEdited;
    jsCall("Draft");
    // Killed: the next start knows only what is on disk, and takes the offer of the edits.
    g_OnlinePageId.set(QString());
    g_MapAddress.set(QString());
    makeApp(&m_Runner);
    shell.restoreDraft = true;
    app->awakeFromNib(m_AppDir.path());
    app->applicationDidFinishLaunching();
    editor.finishLoading(*app, QStringLiteral("{}"));
    ticks();
    ASSERT_EQ(editorMaps().last(), EscapeForJsString(kEdited));
    edited(kEdited);
    SaveAnswering(UnseenMapAnswer::Cancel);
    EXPECT_EQ(Asked(), 0);
    EXPECT_EQ(mapOn(m_Page.id), kEdited);

    m_Service->setFault(QStringLiteral("pageContent"), {.kind = FaultKind::Delay, .delayMs = 300});
    {
        MOnlineRunner runner;
        MarkWorkerStarted();
        runner.Run(RunOfPage(discovery.page, true));
        EXPECT_FALSE(WorkerFinished());
    }
    EXPECT_TRUE(WorkerFinished());
}

} // namespace
} // namespace Cogitra::Test
