// Open and save through the application logic and the real worker while one route of the
// local notebook service misbehaves: every route the runs use, every fault the service
// can play. Each case checks what the user is told, the sign-in that is left, the map in
// the editor and in "cogitra.json", and the page that the service keeps.
#include "AppFakes.h"

#include "../online/OnlineTestSupport.h"

#include "app/AppDelegate.h"
#include "app/MEditorScript.h"
#include "app/MMapBackup.h"
#include "app/MOnlineAdapters.h"
#include "attachment/TZetGifAttachment.h"
#include "onenote/MOLONUtils.h"
#include "online/MThreadOnlineOneNote.h"
#include "util/MAlert.h"
#include "util/MConfig.h"
#include "util/MGlobals.h"
#include "util/MStrings.h"
#include "util/MUtils.h"

#include <QDir>
#include <QFile>
#include <QLoggingCategory>
#include <QRegularExpression>

#include <chrono>
#include <optional>
#include <thread>

// Failures show texts as texts. Tokens are never compared with EXPECT_EQ, so that none is
// printed.
QT_BEGIN_NAMESPACE
inline void PrintTo(const QString &text, std::ostream *out)
{
    *out << '"' << text.toStdString() << '"';
}
QT_END_NAMESPACE

namespace Cogitra::Test {
namespace {

using Service::Fault;
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

enum class Tokens {
    Kept,     // the tokens of the start, in memory and in the configuration
    Renewed,  // new ones from a refresh, in memory and in the configuration
    Obtained, // after a new sign-in: the ones the code brought
    None,     // after a new sign-in whose code brought none
    NoUserId, // after a new sign-in: tokens but no user id
};

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
    int status;      // for FaultKind::Status
    int64_t step;    // the run's last step code
    const char *key; // the error told, or nullptr
    Tokens tokens;
    PageAfter page;
    int skip = 0; // requests of the route that pass before the fault
};

const char *JobName(Job job)
{
    static const char *const names[]
        = {"Open", "OpenSignIn", "OpenRefresh", "Save", "SaveLocate", "SaveSignIn", "SaveRefresh"};
    return names[int(job)];
}

std::string CaseName(const FaultCase &c)
{
    std::string name = std::string(JobName(c.run)) + "_" + c.route;
    if (c.skip > 0)
        name += "Second";
    name += "_";
    if (c.kind == FaultKind::Status)
        name += "Status" + std::to_string(c.status);
    else
        name += Service::FaultKindName(c.kind).toStdString();
    return name;
}

std::ostream &operator<<(std::ostream &out, const FaultCase &c)
{
    return out << CaseName(c);
}

bool IsOpen(Job job)
{
    return job == Job::Open || job == Job::OpenSignIn || job == Job::OpenRefresh;
}

// The maps: the one on the page before the run, large enough that half a container still
// holds some of its text, and the one the user has edited since.
QString OldMap()
{
    QString children;
    for (int i = 0; i < 40; ++i) {
        if (i > 0)
            children += u',';
        children += QStringLiteral(R"({"data":{"text":"Step %1 – O'Brien's \\path\\"}})").arg(i);
    }
    return QStringLiteral(R"({"root":{"data":{"text":"Übersicht 思维导图"},"children":[)")
           + children + QStringLiteral(R"(]},"template":"default"})");
}

QString EditedMap()
{
    return QStringLiteral(
        R"({"root":{"data":{"text":"Edited since – 'kept'"}},"template":"right"})");
}

class AppFaults : public Testing::OnlineTest, public ::testing::WithParamInterface<FaultCase>
{
protected:
    void SetUp() override
    {
        OnlineTest::SetUp();
        if (HasFatalFailure())
            return;
        qputenv("COGITRA_REQUEST_TIMEOUT_MS", QByteArray::number(k_TimeoutMs));
        // The lists the client reads are written to the log; nothing to see in a test run.
        QLoggingCategory::setFilterRules(QStringLiteral("default.info=false"));
        SetLanguage(QStringLiteral("en"));

        // The page holds a map written by the client itself.
        SignIn();
        Save(m_Page.id, OldMap(), Testing::PreviewPng());
        ASSERT_EQ(g_StepCode.load(), 100);
        ASSERT_EQ(ContainerMaps(), QStringList{OldMap()});

        const QString link = m_Service->pageDesktopLink(m_Page.id);
        m_Discovery.found = true;
        m_Discovery.page
            = {AccountIdFromLink(link),    PageIdFromLink(link),      PageTitleFromLink(link),
               NotebookNameFromLink(link), SectionNameFromLink(link), link};
        m_Shell.onLogin = [this] {
            SignInWindow();
        };

        // Launch signed in: the first open puts the page's map into the editor.
        ResetGlobalsForTesting();
        m_App.awakeFromNib(m_AppDir.path());
        g_AccessToken.set(m_AccessToken);
        g_RefreshToken.set(m_RefreshToken);
        g_UserId.set(m_Account.cid);
        g_UserPrincipalName.set(m_Account.upn);
        g_AccountId.set(m_Discovery.page.accountId);
        SaveAccountState();
        ClearCache();
        m_App.applicationDidFinishLaunching();
        WaitForRun();
        PageLoaded();
        Tick();
        ASSERT_EQ(EditorMap(), EscapeForJsString(OldMap()));
        ASSERT_TRUE(m_Alert.messages.isEmpty());
        ASSERT_EQ(g_OnlinePageId.get(), m_Page.id);

        // The user edits the map.
        m_Editor.answers[QStringLiteral("g_ZetJsonResult")] = EditedMap();
        m_Editor.answers[QStringLiteral("g_ZetPngResult")]
            = QString(u"data:image/png;base64," + Testing::PreviewPng());
        ClearRequests();
    }

    void TearDown() override
    {
        if (g_Worker)
            g_Worker->Wait();
        g_Worker.reset();
        QLoggingCategory::setFilterRules(QString());
        OnlineTest::TearDown();
    }

    // What the sign-in window leaves: nothing of the old sign-in, a new code.
    void SignInWindow()
    {
        for (SharedText *value : {&g_AccessToken, &g_RefreshToken, &g_UserId, &g_UserPrincipalName})
            value->set(QString());
        SaveAccountState();
        g_AuthCode.set(m_Service->mintAuthorizationCode(m_Account.cid));
    }

    void PageLoaded()
    {
        m_Editor.url = m_App.editorUrl();
        m_Editor.title = QStringLiteral("Zet Cogitra editor");
        m_Editor.answers[QStringLiteral("document.readyState")] = QStringLiteral("complete");
        m_Editor.answers[QStringLiteral("g_ZetJsonResult")] = QStringLiteral("{}");
        m_App.WebViewProgressFinished(true);
        m_Editor.flush();
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

    // A request that the client gave up on may still be carried out: wait until the
    // service has answered everything it received.
    void WaitForServiceQuiet()
    {
        size_t seen = m_Service->requestLog().size();
        for (int i = 0; i < 60; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            const size_t now = m_Service->requestLog().size();
            if (now == seen && i * 100 > k_DelayMs - k_TimeoutMs)
                return;
            seen = now;
        }
    }

    int MapScripts() const
    {
        int count = 0;
        for (const QString &script : m_Editor.scripts)
            count += script == u"NewMap()" || script.startsWith(u"SetJsonData('");
        return count;
    }

    // The map the editor shows: the last one put into it.
    QString EditorMap() const
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

    // The maps of the page's containers, in page order.
    QStringList ContainerMaps() const
    {
        const QString html = m_Service->pageHtml(m_Page.id);
        const std::vector<Service::Resource> resources = m_Service->pageResources(m_Page.id);
        const std::optional<QByteArray> templateBytes
            = ReadWholeFile(TZetGifAttachment::TemplatePath());
        QStringList maps;
        const QRegularExpression image(QStringLiteral("<img[^>]*>"));
        for (auto it = image.globalMatch(html); it.hasNext();) {
            const QString element = it.next().captured();
            if (!element.contains(QStringLiteral("alt=\"ZetGif\"")))
                continue;
            const QString src
                = TextBetween(element, QStringLiteral("src=\""), QStringLiteral("\""));
            QString map = QStringLiteral("<unreadable>");
            for (const Service::Resource &resource : resources) {
                if (!src.contains(u'/' + resource.id + u'/') || !templateBytes)
                    continue;
                map = ParseContainer(templateBytes->size(), resource.data)
                          .value_or(QStringLiteral("<damaged>"));
            }
            maps.append(map);
        }
        return maps;
    }

    int Images(const QString &alt) const
    {
        return int(m_Service->pageHtml(m_Page.id).count(u"alt=\"" + alt + u'"'));
    }

    QString Config(const char *key) const
    {
        return MConfig(g_ConfigFile.get())
            .ReadValueDefStr(QString::fromLatin1(key), QString())
            .toString();
    }

    void Arm(const FaultCase &c)
    {
        Fault fault;
        fault.kind = c.kind;
        fault.status = c.status;
        fault.delayMs = k_DelayMs;
        fault.retryAfterSeconds = 7;
        fault.skip = c.skip;
        // A service that is down stays down; an expired token is renewed once, and an
        // update fails alone, so that an update sent after it would be seen to land.
        const bool once = c.kind == FaultKind::ExpiredToken
                          || QLatin1String(c.route) == QLatin1String("patchContent");
        fault.times = once ? 1 : -1;
        if (c.run == Job::OpenRefresh || c.run == Job::SaveRefresh) {
            Fault expired;
            expired.kind = FaultKind::ExpiredToken;
            expired.times = 1;
            m_Service->setFault(QStringLiteral("pageContent"), expired);
        }
        m_Service->setFault(QString::fromLatin1(c.route), fault);
    }

    void Start(Job job)
    {
        if (job == Job::OpenSignIn || job == Job::SaveSignIn)
            m_App.MenuItemLogoutClick();
        switch (job) {
        case Job::Open:
        case Job::OpenSignIn:
        case Job::OpenRefresh:
            m_App.MenuItemOpenFromCurrentPage();
            break;
        case Job::SaveLocate:
            m_App.MenuItemSaveToCurrentPage();
            [[fallthrough]];
        case Job::Save:
        case Job::SaveSignIn:
        case Job::SaveRefresh:
            // The page answers "SaveMap()" with its globals and JsCall("Save").
            m_App.JsCall(QStringLiteral("Save"), QUrl(m_App.editorUrl()));
            m_Editor.flush();
            break;
        }
    }

    void ExpectTokens(Tokens tokens)
    {
        const QString access = g_AccessToken.get();
        const QString refresh = g_RefreshToken.get();
        EXPECT_TRUE(Config("OnlineOneNoteAccessToken") == access)
            << "access token: configuration and memory differ";
        EXPECT_TRUE(Config("OnlineOneNoteRefreshToken") == refresh)
            << "refresh token: configuration and memory differ";
        switch (tokens) {
        case Tokens::Kept:
            EXPECT_TRUE(access == m_AccessToken) << "access token changed";
            EXPECT_TRUE(refresh == m_RefreshToken) << "refresh token changed";
            EXPECT_EQ(g_UserId.get(), m_Account.cid);
            break;
        case Tokens::Renewed:
            EXPECT_FALSE(access.isEmpty() || access == m_AccessToken) << "access token not renewed";
            EXPECT_FALSE(refresh.isEmpty() || refresh == m_RefreshToken)
                << "refresh token not renewed";
            break;
        case Tokens::Obtained:
            EXPECT_FALSE(access.isEmpty()) << "no access token";
            EXPECT_FALSE(refresh.isEmpty()) << "no refresh token";
            EXPECT_EQ(g_UserId.get(), m_Account.cid);
            break;
        case Tokens::None:
            EXPECT_TRUE(access.isEmpty()) << "an access token from a failed exchange";
            EXPECT_TRUE(refresh.isEmpty()) << "a refresh token from a failed exchange";
            break;
        case Tokens::NoUserId:
            EXPECT_FALSE(access.isEmpty()) << "no access token";
            EXPECT_TRUE(g_UserId.isEmpty());
            break;
        }
    }

    FakeWindow m_Window;
    FakeEditor m_Editor;
    FakeShell m_Shell;
    FakeDiscovery m_Discovery;
    MOnlineRunner m_Online;
    InstalledAlert m_Alert;
    AppDelegate m_App{{&m_Window, &m_Editor, &m_Shell, &m_Discovery, &m_Online}};
};

TEST_P(AppFaults, RunEndsAsToldAndLosesNothing)
{
    const FaultCase c = GetParam();
    const QString backupBefore = LoadMapBackup();
    const int mapScriptsBefore = MapScripts();
    ClearCache();
    Arm(c);
    Start(c.run);
    WaitForRun();

    // What the run left, before the status loop acts on it.
    const int64_t step = g_StepCode.load();
    const int64_t error = g_ErrorCode.load();
    const QString key = error != 0 ? g_ErrorMessageKey.get() : QString();
    // An update the client gave up on may still land; other late replies change nothing.
    if (c.kind == FaultKind::Delay && QLatin1String(c.route) == QLatin1String("patchContent"))
        WaitForServiceQuiet();
    Tick();
    m_Service->clearFaults();

    EXPECT_EQ(step, c.step);
    EXPECT_EQ(key, c.key ? QString::fromLatin1(c.key) : QString());
    if (c.key) {
        EXPECT_EQ(error, c.step);
        EXPECT_EQ(m_Alert.messages, QStringList{LocalizedString(QString::fromLatin1(c.key))});
    } else {
        EXPECT_TRUE(m_Alert.messages.isEmpty()) << m_Alert.messages.join(u'|').toStdString();
    }
    EXPECT_TRUE(m_Window.notice.isEmpty()) << m_Window.notice.toStdString();
    EXPECT_FALSE(m_Window.waiting) << "the main window still waits";
    ExpectTokens(c.tokens);

    // The editor: a completed open shows the page's map; anything else keeps the user's.
    if (IsOpen(c.run) && c.step == -100) {
        EXPECT_EQ(MapScripts(), mapScriptsBefore + 1);
        EXPECT_EQ(EditorMap(), EscapeForJsString(OldMap()));
    } else {
        EXPECT_EQ(MapScripts(), mapScriptsBefore) << "the editor's map was replaced";
    }
    if (IsOpen(c.run)) {
        EXPECT_EQ(LoadMapBackup(), backupBefore);
    } else {
        EXPECT_EQ(LoadMapBackup(), EditedMap()) << "cogitra.json does not hold the saved map";
        EXPECT_EQ(m_Shell.stateWindows, std::vector<bool>{true});
    }

    // The page: one picture and one container, whose map is whole.
    const QStringList maps = ContainerMaps();
    EXPECT_EQ(Images(QStringLiteral("ZetCogitra")), 1);
    ASSERT_EQ(maps.size(), 1) << maps.join(u'|').toStdString();
    const PageAfter page = IsOpen(c.run) ? PageAfter::Old : c.page;
    const bool isOld = maps.front() == OldMap();
    const bool isNew = maps.front() == EditedMap();
    EXPECT_TRUE(page == PageAfter::Old   ? isOld
                : page == PageAfter::New ? isNew
                                         : isOld || isNew)
        << "the page's map is not the one expected (old " << isOld << ", new " << isNew << ")";
}

// Step codes and keys of a failed stage, by run and route.
constexpr FaultKind S = FaultKind::Status;
constexpr FaultKind Throttle = FaultKind::Throttle;
constexpr FaultKind Delay = FaultKind::Delay;
constexpr FaultKind Drop = FaultKind::Drop;
constexpr FaultKind Truncate = FaultKind::Truncate;
constexpr FaultKind Malformed = FaultKind::Malformed;
constexpr FaultKind Expired = FaultKind::ExpiredToken;

constexpr const char *k_Lists = "errGetNotebooksSections";
constexpr const char *k_Content = "errGetContentError";
constexpr const char *k_PageId = "errGetServerPageId";
constexpr const char *k_Download = "errDownloadFailed";
constexpr const char *k_Unreadable = "errMapUnreadable";
constexpr const char *k_Upload = "errUploadFailed";
constexpr const char *k_Busy = "errServiceBusy";

// Every fault of one route that ends the run at the same failed stage, and the expired
// token that the run gets past by renewing it. An update's reply has no body to cut, so
// there a truncated reply is a whole one.
std::vector<FaultCase> Route(Job run, const char *route, int64_t failStep, const char *failKey,
                             Tokens failTokens, PageAfter failPage, int64_t doneStep,
                             PageAfter donePage, int skip = 0)
{
    const bool update = QLatin1String(route) == QLatin1String("patchContent");
    const bool signIn = run == Job::OpenSignIn || run == Job::SaveSignIn;
    const Tokens doneTokens = signIn ? Tokens::Obtained : Tokens::Kept;
    std::vector<FaultCase> cases;
    // A busy Graph route (503, 429) is waited out: an update that is refused once then
    // lands, a read that stays refused says so. The token endpoint is not waited out.
    const bool waitedOut = QLatin1String(route) != QLatin1String("token");
    const bool busyTold = waitedOut && QLatin1String(route) != QLatin1String("me");
    for (const auto &[kind, status] : std::initializer_list<std::pair<FaultKind, int>>{
             {S, 500}, {S, 503}, {Throttle, 429}, {Delay, 0}, {Drop, 0}}) {
        const bool busy = kind == Throttle || status == 503;
        if (busy && update)
            cases.push_back(
                {run, route, kind, status, doneStep, nullptr, doneTokens, donePage, skip});
        else
            cases.push_back({run, route, kind, status, failStep,
                             busy && busyTold ? k_Busy : failKey, failTokens, failPage, skip});
    }
    if (update)
        cases.push_back({run, route, Truncate, 0, doneStep, nullptr, doneTokens, donePage, skip});
    else
        cases.push_back({run, route, Truncate, 0, failStep, failKey, failTokens, failPage, skip});
    cases.push_back({run, route, Expired, 0, doneStep, nullptr,
                     signIn ? Tokens::Obtained : Tokens::Renewed, donePage, skip});
    return cases;
}

std::vector<FaultCase> AllCases()
{
    using enum PageAfter;
    std::vector<FaultCase> all;
    auto add = [&all](std::vector<FaultCase> cases) {
        all.insert(all.end(), cases.begin(), cases.end());
    };
    auto one = [&all](FaultCase c) {
        all.push_back(c);
    };

    // Open: the lists, the page, its container.
    add(Route(Job::Open, "notebooks", 10, k_Lists, Tokens::Kept, Old, -100, Old));
    one({Job::Open, "notebooks", Malformed, 0, 10, k_Lists, Tokens::Kept, Old});
    add(Route(Job::Open, "sectionPages", 11, k_Lists, Tokens::Kept, Old, -100, Old));
    one({Job::Open, "sectionPages", Malformed, 0, 11, k_Lists, Tokens::Kept, Old});
    add(Route(Job::Open, "pageContent", -21, k_Content, Tokens::Kept, Old, -100, Old));
    one({Job::Open, "pageContent", Malformed, 0, -21, k_Content, Tokens::Kept, Old});
    add(Route(Job::Open, "resource", -23, k_Download, Tokens::Kept, Old, -100, Old));
    one({Job::Open, "resource", Malformed, 0, -24, k_Unreadable, Tokens::Kept, Old});

    // Open after a new sign-in: a failed exchange leaves no tokens and location cannot
    // start; a failed user request leaves no user id and the content is not read.
    add(Route(Job::OpenSignIn, "token", -20, k_PageId, Tokens::None, Old, -100, Old));
    one({Job::OpenSignIn, "token", Malformed, 0, -20, k_PageId, Tokens::None, Old});
    add(Route(Job::OpenSignIn, "me", -21, k_Content, Tokens::NoUserId, Old, -100, Old));
    one({Job::OpenSignIn, "me", Malformed, 0, -100, nullptr, Tokens::Obtained, Old});

    // Open whose refresh fails: the content read stays refused, the tokens stay.
    add(Route(Job::OpenRefresh, "token", -21, k_Content, Tokens::Kept, Old, -100, Old));
    one({Job::OpenRefresh, "token", Malformed, 0, -21, k_Content, Tokens::None, Old});

    // Save to the known page: content, then the picture, then the container.
    add(Route(Job::Save, "pageContent", 22, k_Content, Tokens::Kept, Old, 100, New));
    one({Job::Save, "pageContent", Malformed, 0, 22, k_Content, Tokens::Kept, Old});
    add(Route(Job::Save, "patchContent", 24, k_Upload, Tokens::Kept, Old, 100, New));
    one({Job::Save, "patchContent", Malformed, 0, 100, nullptr, Tokens::Kept, New});
    add(Route(Job::Save, "patchContent", 30, k_Upload, Tokens::Kept, OldOrNew, 100, New, 1));
    one({Job::Save, "patchContent", Malformed, 0, 100, nullptr, Tokens::Kept, New, 1});

    // Save to the current page: located again.
    add(Route(Job::SaveLocate, "notebooks", 20, k_PageId, Tokens::Kept, Old, 100, New));
    one({Job::SaveLocate, "notebooks", Malformed, 0, 20, k_PageId, Tokens::Kept, Old});
    add(Route(Job::SaveLocate, "sectionPages", 20, k_PageId, Tokens::Kept, Old, 100, New));
    one({Job::SaveLocate, "sectionPages", Malformed, 0, 20, k_PageId, Tokens::Kept, Old});

    // Save after a new sign-in.
    add(Route(Job::SaveSignIn, "token", 22, k_Content, Tokens::None, Old, 100, New));
    one({Job::SaveSignIn, "token", Malformed, 0, 22, k_Content, Tokens::None, Old});
    add(Route(Job::SaveSignIn, "me", 22, k_Content, Tokens::NoUserId, Old, 100, New));
    one({Job::SaveSignIn, "me", Malformed, 0, 100, nullptr, Tokens::Obtained, New});

    // Save whose refresh fails.
    add(Route(Job::SaveRefresh, "token", 22, k_Content, Tokens::Kept, Old, 100, New));
    one({Job::SaveRefresh, "token", Malformed, 0, 22, k_Content, Tokens::None, Old});
    return all;
}

INSTANTIATE_TEST_SUITE_P(RouteByFault, AppFaults, ::testing::ValuesIn(AllCases()),
                         [](const ::testing::TestParamInfo<FaultCase> &p) {
                             return CaseName(p.param);
                         });

} // namespace
} // namespace Cogitra::Test
