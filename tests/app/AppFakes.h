#pragma once

#include "../support/RecordingAlert.h"

#include "app/AppDelegate.h"
#include "app/IAppShell.h"
#include "app/IEditorPage.h"
#include "app/IMainWindow.h"
#include "app/IOnlineRun.h"
#include "app/IPageDiscovery.h"
#include "util/MGlobals.h"
#include "util/MStrings.h"

#include <QHash>
#include <QStringList>
#include <QTemporaryDir>
#include <QUrl>
#include <QVariant>

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <memory>
#include <vector>

// Fakes that record what the logic asks; scripts answer when flushed, as the web engine does.
namespace Cogitra::Test {

class FakeWindow : public IMainWindow
{
public:
    void setTitle(const QString &t) override { title = t; }
    void setModified(bool m) override { modified = m; }
    void showWaitingPresentation() override { waiting = true; }
    void showEditingPresentation() override { waiting = false; }
    bool isProgressVisible() const override { return waiting; }
    void startProgressAnimation() override { ++animationStarts; }
    bool isLoginItemChecked() const override { return loginChecked; }
    void setLoginItemChecked(bool c) override { loginChecked = c, ++loginItemChanges; }
    void makeVisible() override { visible = true; }
    void showNotice(const QString &text) override { notice = text; }
    void showStatus(const QString &text) override { status = text; }

    QString title, notice, status;
    bool modified = false, waiting = false, loginChecked = false, visible = false;
    int animationStarts = 0, loginItemChanges = 0;
};

class FakeEditor : public IEditorPage
{
public:
    void evaluate(const QString &script, ScriptResult done) override
    {
        scripts.append(script);
        pending.emplace_back(script, std::move(done));
    }
    void load(const QString &address) override { loads.append(address); }
    QString mainFrameUrl() const override { return url; }
    QString mainFrameTitle() const override { return title; }

    // Answers every script evaluated so far, and those evaluated by the answers.
    void flush()
    {
        for (int guard = 0; guard < 100 && !pending.empty(); ++guard) {
            auto [script, done] = std::move(pending.front());
            pending.pop_front();
            if (done)
                done(answers.value(script));
        }
    }

    // The editor page has loaded holding mapJson, and the application has been told.
    void finishLoading(AppDelegate &app, const QString &mapJson)
    {
        url = app.editorUrl();
        title = QStringLiteral("Zet Cogitra editor");
        answers[QStringLiteral("document.readyState")] = QStringLiteral("complete");
        answers[QStringLiteral("g_ZetJsonResult")] = mapJson;
        app.WebViewProgressFinished(true);
        flush();
    }

    QStringList scripts, loads;
    QHash<QString, QVariant> answers;
    QString url, title;
    std::deque<std::pair<QString, ScriptResult>> pending;
};

class FakeShell : public IAppShell
{
public:
    void activate() override {}
    void terminate() override { ++terminations; }
    bool isModalActive() const override { return modal; }
    bool hasGlobalMenuBar() const override { return globalMenuBar; }
    void runLoginWindow(bool logInOrOut, bool signOutFirst) override
    {
        loginWindows.push_back({logInOrOut, signOutFirst});
        beneathModal(onLogin);
    }
    void runHostsWindow() override {}
    bool askUseBuiltInEditor(const QString &question) override { return asked(question, false); }
    void runAboutWindow() override {}
    void showStateWindow(bool hideWhenEnd) override { stateWindows.push_back(hideWhenEnd); }
    void showQuitWhenRunEnds(const QString &notice) override { quitNotices.append(notice); }
    bool askReloadEditor(const QString &question) override { return asked(question, false); }
    void runInstaller() override { ++installerRuns; }
    std::optional<OneNotePageInfo> askPageLink() override { return pageLink; }
    OtherWayAnswer askOtherWayToOpen(const QString &message) override
    {
        otherWayMessages.append(message);
        return otherWay;
    }
    std::optional<OneNotePageInfo> askPage() override
    {
        ++pickerShown;
        beneathModal(std::exchange(whilePicking, nullptr));
        return pageLink;
    }
    UnsavedChangesAnswer askUnsavedChanges(const QString &question) override
    {
        asking = true;
        beneathModal(std::exchange(whileUnsavedAsked, nullptr));
        const bool answeredSave = !std::exchange(asking, false);
        return asked(question, answeredSave ? UnsavedChangesAnswer::Save : unsavedAnswer);
    }
    void answerUnsavedChangesWithSave() override { asking = false; }
    bool askRestoreDraft(const QString &question) override { return asked(question, restoreDraft); }
    UnseenMapAnswer askUnseenMap(const QString &question) override
    {
        unseenMapQuestions.append(question);
        return unseenMapAnswer;
    }
    // What happens while a modal window is up, as the real ones are: ticks do nothing beneath.
    void beneathModal(const std::function<void()> &meanwhile)
    {
        const bool wasModal = std::exchange(modal, true);
        if (meanwhile)
            meanwhile();
        modal = wasModal;
    }
    template<typename Answer>
    Answer asked(const QString &question, Answer answer)
    {
        questions.append(question);
        return answer;
    }
    void tickSoon() override { ++ticksAsked; }

    int terminations = 0, installerRuns = 0, ticksAsked = 0;
    bool modal = false, globalMenuBar = true, restoreDraft = false;
    std::vector<std::pair<bool, bool>> loginWindows;
    std::function<void()> onLogin;
    std::vector<bool> stateWindows;
    QStringList questions, unseenMapQuestions, quitNotices;
    UnsavedChangesAnswer unsavedAnswer = UnsavedChangesAnswer::Cancel;
    std::function<void()> whileUnsavedAsked; // once, while the question is up
    std::function<void()> whilePicking;      // once, while the page picker is up
    bool asking = false;
    UnseenMapAnswer unseenMapAnswer = UnseenMapAnswer::Cancel;
    std::optional<OneNotePageInfo> pageLink; // also what the picker answers
    int pickerShown = 0;
    QStringList otherWayMessages;
    OtherWayAnswer otherWay = OtherWayAnswer::Close;
};

class FakeDiscovery : public IPageDiscovery
{
public:
    bool GetCurrentOneNotePageInfo(OneNotePageInfo &p) override
    {
        ++calls;
        p = page;
        if (whileAsked)
            std::exchange(whileAsked, nullptr)();
        if (!found && onFailure)
            onFailure();
        return found;
    }
    // When held, the answer waits for answer(), as the real discovery's waits for its script.
    void DiscoverCurrentPage(Answer done) override
    {
        hold ? void(held = std::move(done)) : IPageDiscovery::DiscoverCurrentPage(std::move(done));
    }
    void answer() { std::exchange(held, nullptr)(found, page); }

    QString untoldFailure() const override { return untold; }

    bool found = false, hold = false;
    OneNotePageInfo page;
    QString untold;
    int calls = 0;
    // whileAsked: once, while OneNote is asked (the user clicks on meanwhile).
    std::function<void()> onFailure, whileAsked;
    Answer held;
};

class FakeOnline : public IOnlineRun
{
public:
    void Run(const MWorkerProperties &run) override { runs.push_back(run); }
    void WaitForRun() override {}
    std::vector<MWorkerProperties> runs;
};

inline QString Text(const char *key)
{
    return LocalizedString(QString::fromLatin1(key));
}

// The logic over the fakes; a second makeApp() is the next start, runner the real worker.
class AppHarness
{
public:
    void makeApp(IOnlineRun *runner = nullptr)
    {
        window = FakeWindow();
        editor = FakeEditor();
        app = std::make_unique<AppDelegate>(
            AppDelegate::Ports{&window, &editor, &shell, &discovery, runner ? runner : &online});
    }
    // Starts the program, signed in to account if one is set (start-up reads the config).
    void launch()
    {
        app->awakeFromNib(dir.path());
        if (!account.isEmpty())
            signIn(account);
        app->applicationDidFinishLaunching();
    }
    void signIn(const QString &id)
    {
        g_AccessToken.set(QStringLiteral("access-token"));
        g_UserId.set(QStringLiteral("user-id"));
        g_AccountId.set(account = id);
    }
    void tick()
    {
        app->TimerRun();
        editor.flush();
    }
    // The worker ends at step; a failure key makes it a failure of that step.
    static void endRun(int64_t step, const char *key = nullptr)
    {
        g_StepCode.store(step);
        g_ErrorCode.store(key ? step : 0);
        g_ErrorMessageKey.set(QString::fromLatin1(key));
        PublishWorkerFinished();
    }
    void jsCall(const char *command)
    {
        app->JsCall(QString::fromLatin1(command), QUrl(app->editorUrl()));
        editor.flush();
    }
    // The maps put into the editor, in order: the empty text for a new map, else the literal.
    [[nodiscard]] QStringList editorMaps() const
    {
        QStringList maps;
        for (const QString &script : editor.scripts) {
            if (script == u"NewMap()")
                maps.append(QString());
            for (const QStringView call : {u"SetJsonData('", u"RestoreJsonData('"})
                if (script.startsWith(call))
                    maps.append(script.mid(call.size(), script.size() - call.size() - 2));
        }
        return maps;
    }

    QTemporaryDir dir;
    QString account;
    FakeWindow window;
    FakeEditor editor;
    FakeShell shell;
    FakeDiscovery discovery;
    FakeOnline online;
    InstalledAlert alert;
    std::unique_ptr<AppDelegate> app;
};

} // namespace Cogitra::Test
