#include "MWebView.h"

#include "MEditShortcuts.h"

#include <QKeyEvent>

namespace Cogitra {

MWebView::MWebView(QWidget *parent)
    : QWebEngineView(parent)
{}

void MWebView::WatchFocusProxy()
{
    QWidget *proxy = focusProxy();
    if (proxy == m_Watched)
        return;
    if (m_Watched)
        m_Watched->removeEventFilter(this);
    m_Watched = proxy;
    if (proxy)
        proxy->installEventFilter(this);
}

bool MWebView::event(QEvent *event)
{
    // The render widget is made, and made again, as pages load.
    if (event->type() == QEvent::ChildAdded || event->type() == QEvent::ChildPolished
        || event->type() == QEvent::ChildRemoved)
        WatchFocusProxy();
    return QWebEngineView::event(event);
}

bool MWebView::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_Watched
        && (event->type() == QEvent::ShortcutOverride || event->type() == QEvent::KeyPress)) {
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
    return QWebEngineView::eventFilter(watched, event);
}

} // namespace Cogitra
