#include "MTextView.h"

#include "MEditShortcuts.h"

#include <QKeyEvent>

namespace Cogitra {

MTextView::MTextView(QWidget *parent)
    : QTextEdit(parent)
{}

bool MTextView::event(QEvent *event)
{
    if (event->type() == QEvent::ShortcutOverride || event->type() == QEvent::KeyPress) {
        const auto action = Internal::EditActionForKey(static_cast<QKeyEvent *>(event));
        if (action != Internal::EditAction::None) {
            if (event->type() == QEvent::ShortcutOverride) {
                event->accept();
                return true;
            }
            if (Internal::SendEditAction(this, action))
                return true;
        }
    }
    return QTextEdit::event(event);
}

} // namespace Cogitra
