#pragma once

#include "onenote/OneNotePageInfo.h"

#include <QString>

#include <optional>

namespace Cogitra {

enum class UnsavedChangesAnswer { Save, Discard, Cancel };

// The answers when a save meets a map on the page that did not come from this editor.
enum class UnseenMapAnswer { Replace, OpenPagesMap, Cancel };

// The answers when no page link came from OneNote: the other ways to a page, or nothing.
enum class OtherWayAnswer { OpenPage, OpenPageLink, Close };

// The application as a whole: activation, ending it, its modal state, and the secondary
// windows, each run modally (the progress window excepted) and returning once closed.
class IAppShell
{
public:
    virtual ~IAppShell() = default;

    virtual void activate() = 0;
    // Ends the application; the caller returns at once and does nothing more.
    virtual void terminate() = 0;
    // True while a modal window or alert is up.
    [[nodiscard]] virtual bool isModalActive() const = 0;
    // macOS keeps its menu bar without windows; elsewhere the menus live in the main window.
    [[nodiscard]] virtual bool hasGlobalMenuBar() const = 0;

    // signOutFirst: load the sign-out page before the sign-in starts.
    virtual void runLoginWindow(bool logInOrOut, bool signOutFirst) = 0;
    virtual void runHostsWindow() = 0;
    // The chosen editor host failed: true when the user takes the built-in editor instead
    // of quitting.
    [[nodiscard]] virtual bool askUseBuiltInEditor(const QString &question) = 0;
    virtual void runAboutWindow() = 0;
    virtual void showStateWindow(bool hideWhenEnd) = 0;
    // A quit waits for the run: the progress window stays up and says so.
    virtual void showQuitWhenRunEnds(const QString &notice) = 0;

    // Modal questions; each returns once answered. Closing the box answers Cancel or no.
    [[nodiscard]] virtual UnsavedChangesAnswer askUnsavedChanges(const QString &question) = 0;
    // A save of the map started while that question was up: the question is answered Save,
    // and what asked waits for that save. Does nothing when it is not up.
    virtual void answerUnsavedChangesWithSave() = 0;
    [[nodiscard]] virtual bool askRestoreDraft(const QString &question) = 0;
    [[nodiscard]] virtual UnseenMapAnswer askUnseenMap(const QString &question) = 0;
    // The editor page was lost after start-up: true to load it again (with the map), false
    // to quit.
    [[nodiscard]] virtual bool askReloadEditor(const QString &question) = 0;
    // A link to a page, read and refused in its own field until it names one; none when the
    // user gives up.
    [[nodiscard]] virtual std::optional<OneNotePageInfo> askPageLink() = 0;
    // The page picker over the signed-in account's notebooks; none when the user gives up.
    [[nodiscard]] virtual std::optional<OneNotePageInfo> askPage() = 0;
    // OneNote gave no page link: the message, offering the picker and the link field.
    [[nodiscard]] virtual OtherWayAnswer askOtherWayToOpen(const QString &message) = 0;

    // The shortcut installer; acts only when the process arguments ask for it.
    virtual void runInstaller() = 0;

    // Something a tick acts on has just happened (a run ended, the editor page is ready):
    // the status loop ticks once more soon, from the event loop, rather than only at its
    // next second. Nothing when the loop has its own pace only.
    virtual void tickSoon() {}
};

} // namespace Cogitra
