#pragma once

#include <QString>
#include <QStringList>

// The shortcut installer: binds Command+Control+P to OneNote's "Copy Link to Page" menu
// command in OneNote's preferences, for the user's language, when the program is started
// with the argument "install".
namespace Cogitra {

class IProcessList;
class IShell;

// True when some argument after the program path is exactly "install".
[[nodiscard]] bool InstallRequested(const QStringList &arguments);

// The title of OneNote's "Copy Link to Page" menu command in the language of a preferred
// language identifier ("de-DE", "zh-Hans-CN", ...); English when there is no translation.
[[nodiscard]] QString CopyLinkMenuTitle(const QString &languageId);

// The defaults command that adds the shortcut for a menu title to OneNote's key
// equivalents, keeping the user's other entries there.
[[nodiscard]] QString ShortcutCommand(const QString &menuTitle);

// The user's first preferred language identifier; empty when there is none.
[[nodiscard]] QString FirstPreferredLanguage();

// When the arguments ask for it: warns (and waits) when OneNote is running, then runs the
// command for the language. Reports nothing; a failing command passes silently.
void InstallShortcut(const QStringList &arguments, const QString &firstPreferredLanguage,
                     const IProcessList &processes, IShell &shell);

} // namespace Cogitra
