#pragma once

#include <QPointer>
#include <QWebEngineView>

namespace Cogitra {

// A web view with the four editing shortcuts of MTextField. Keys reach the view's render
// widget, not the view, so the view watches that widget.
class MWebView : public QWebEngineView
{
    Q_OBJECT
public:
    explicit MWebView(QWidget *parent = nullptr);

protected:
    bool event(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void WatchFocusProxy();

    QPointer<QWidget> m_Watched;
};

} // namespace Cogitra
