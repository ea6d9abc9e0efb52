#pragma once

class QKeyEvent;
class QWidget;

namespace Cogitra::Internal {

enum class EditAction { Cut, Copy, Paste, SelectAll, None };

// Ctrl (Command on macOS) alone with x, c, v or a; any other modifier, a keypad key or
// another key gives None.
[[nodiscard]] EditAction EditActionForKey(const QKeyEvent *event);

// Sends the action to the widget that has the keyboard focus in the window of control;
// true when some widget performed it.
[[nodiscard]] bool SendEditAction(const QWidget *control, EditAction action);

} // namespace Cogitra::Internal
