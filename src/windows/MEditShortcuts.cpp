#include "MEditShortcuts.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextEdit>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <QWidget>

namespace Cogitra::Internal {

namespace {

template<typename Edit>
bool Perform(Edit *edit, EditAction action)
{
    switch (action) {
    case EditAction::Cut:
        edit->cut();
        return true;
    case EditAction::Copy:
        edit->copy();
        return true;
    case EditAction::Paste:
        edit->paste();
        return true;
    case EditAction::SelectAll:
        edit->selectAll();
        return true;
    case EditAction::None:
        break;
    }
    return false;
}

bool PerformInWebView(QWebEngineView *view, EditAction action)
{
    QWebEnginePage *page = view->page();
    if (!page)
        return false;
    switch (action) {
    case EditAction::Cut:
        page->triggerAction(QWebEnginePage::Cut);
        return true;
    case EditAction::Copy:
        page->triggerAction(QWebEnginePage::Copy);
        return true;
    case EditAction::Paste:
        page->triggerAction(QWebEnginePage::Paste);
        return true;
    case EditAction::SelectAll:
        page->triggerAction(QWebEnginePage::SelectAll);
        return true;
    case EditAction::None:
        break;
    }
    return false;
}

} // namespace

EditAction EditActionForKey(const QKeyEvent *event)
{
    if (event->modifiers() != Qt::ControlModifier)
        return EditAction::None;
    switch (event->key()) {
    case Qt::Key_X:
        return EditAction::Cut;
    case Qt::Key_C:
        return EditAction::Copy;
    case Qt::Key_V:
        return EditAction::Paste;
    case Qt::Key_A:
        return EditAction::SelectAll;
    default:
        return EditAction::None;
    }
}

bool SendEditAction(const QWidget *control, EditAction action)
{
    if (action == EditAction::None || !control)
        return false;
    // The focus may sit in a child of the editing widget (a web view's render widget),
    // so the nearest editing ancestor takes the action.
    for (QWidget *w = control->window()->focusWidget(); w; w = w->parentWidget()) {
        if (auto *line = qobject_cast<QLineEdit *>(w))
            return Perform(line, action);
        if (auto *text = qobject_cast<QTextEdit *>(w))
            return Perform(text, action);
        if (auto *plain = qobject_cast<QPlainTextEdit *>(w))
            return Perform(plain, action);
        if (auto *view = qobject_cast<QWebEngineView *>(w))
            return PerformInWebView(view, action);
    }
    return false;
}

} // namespace Cogitra::Internal
