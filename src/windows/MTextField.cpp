#include "MTextField.h"

#include "MEditShortcuts.h"

#include <QKeyEvent>

namespace Cogitra {

MTextField::MTextField(QWidget *parent)
    : QLineEdit(parent)
{}

bool MTextField::event(QEvent *event)
{
    if (event->type() == QEvent::ShortcutOverride || event->type() == QEvent::KeyPress) {
        auto *key = static_cast<QKeyEvent *>(event);
        const auto action = Internal::EditActionForKey(key);
        if (action != Internal::EditAction::None) {
            // Claim the key before a window shortcut can, then perform it on key press.
            if (event->type() == QEvent::ShortcutOverride) {
                event->accept();
                return true;
            }
            if (Internal::SendEditAction(this, action))
                return true;
        }
    }
    return QLineEdit::event(event);
}

} // namespace Cogitra
