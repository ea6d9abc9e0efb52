#pragma once

#include "app/IEditorPage.h"

#include <QObject>
#include <QUrl>
#include <QWebEnginePage>

#include <functional>
#include <utility>

class QWebChannel;
class QWebEngineView;

namespace Cogitra {

// The object the editor page reaches as window.external; its one method is JsCall.
class MEditorBridge : public QObject
{
    Q_OBJECT
public:
    using Handler = std::function<void(const QString &command, const QUrl &caller)>;

    MEditorBridge(QWebEnginePage *page, QObject *parent);
    void setHandler(Handler handler) { m_Handler = std::move(handler); }

    Q_INVOKABLE void JsCall(const QString &command);

private:
    QWebEnginePage *m_Page;
    Handler m_Handler;
};

// The editor view's page. It shows the editor page and nothing else: the loads the
// application asks for (and their redirects) are taken; whatever else would replace the
// page (a link, a script, Back, Reload) is refused, and a link clicked, here or into a new
// window, goes to the default browser instead. Frames inside the page may go anywhere.
class MEditorWebPage : public QWebEnginePage
{
    Q_OBJECT
public:
    explicit MEditorWebPage(QWebEngineProfile *profile, QObject *parent = nullptr);
    // Whether a navigation was refused since the last call.
    [[nodiscard]] bool takeRefusal() { return std::exchange(m_Refused, false); }
    void endOwnLoad() { m_OwnLoad = false; }

protected:
    bool acceptNavigationRequest(const QUrl &url, NavigationType type, bool isMainFrame) override;
    QWebEnginePage *createWindow(WebWindowType type) override;

private:
    bool m_Refused = false;
    bool m_OwnLoad = false;
};

// The editor page as the application logic sees it, on a web view of the main window:
// scripts, loads, the window.external bridge and the load-finished notice.
class MEditorPage : public QObject, public IEditorPage
{
    Q_OBJECT
public:
    explicit MEditorPage(QWebEngineView *view);
    ~MEditorPage() override;

    void setJsCallHandler(MEditorBridge::Handler handler);
    void setLoadFinishedHandler(std::function<void(bool ok)> handler);

    void evaluate(const QString &script, ScriptResult done) override;
    void load(const QString &url) override;
    [[nodiscard]] QString mainFrameUrl() const override;
    [[nodiscard]] QString mainFrameTitle() const override;

    [[nodiscard]] QWebEnginePage *page() const { return m_Page; }

    // The script that defines window.external.JsCall at document creation; calls made
    // before the channel is up wait in a queue.
    [[nodiscard]] static QString BridgeScript();

private:
    void ReportLoadFinished(bool ok);

    QWebEngineView *m_View;
    MEditorWebPage *m_Page;
    QWebChannel *m_Channel;
    MEditorBridge *m_Bridge;
    std::function<void(bool)> m_LoadFinished;
};

} // namespace Cogitra
