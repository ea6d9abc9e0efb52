#include "MEditorPage.h"

#include <QDesktopServices>
#include <QFile>
#include <QPointer>
#include <QWebChannel>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineView>

namespace Cogitra {

namespace {

// A page that exists only to learn where a new window would have gone.
void OpenClickedLink(const QUrl &url, QWebEnginePage::NavigationType type)
{
    if (type == QWebEnginePage::NavigationTypeLinkClicked
        && (url.scheme() == u"http" || url.scheme() == u"https" || url.scheme() == u"mailto"))
        QDesktopServices::openUrl(url);
}

class NewWindowCatcher : public QWebEnginePage
{
public:
    explicit NewWindowCatcher(QWebEngineProfile *profile, QObject *parent)
        : QWebEnginePage(profile, parent)
    {}

protected:
    bool acceptNavigationRequest(const QUrl &url, NavigationType type, bool) override
    {
        OpenClickedLink(url, type);
        deleteLater();
        return false;
    }
};

const char *const BridgeScriptTemplate = R"JS(
(function () {
  if (window.external && window.external.__cogitraBridge) return;
  var queue = [];
  var bridge = null;
  var external = {
    __cogitraBridge: true,
    JsCall: function (command) {
      command = String(command);
      if (bridge) bridge.JsCall(command);
      else if (queue.length < 100) queue.push(command);
    }
  };
  try {
    Object.defineProperty(window, 'external', { value: external, configurable: true, writable: true });
  } catch (e) {
    window.external = external;
  }
%1
  var tries = 0;
  function connect() {
    if (typeof qt === 'undefined' || !qt.webChannelTransport) {
      if (++tries < 200) setTimeout(connect, 10);
      return;
    }
    new QWebChannel(qt.webChannelTransport, function (channel) {
      bridge = channel.objects.external;
      while (queue.length) bridge.JsCall(queue.shift());
    });
  }
  connect();
})();
)JS";

} // namespace

MEditorBridge::MEditorBridge(QWebEnginePage *page, QObject *parent)
    : QObject(parent)
    , m_Page(page)
{}

void MEditorBridge::JsCall(const QString &command)
{
    // The page that calls is the one the view shows now; the handler judges its origin.
    const QUrl caller = m_Page->url();
    // From the application's own event loop, not from inside the engine's dispatch (see
    // MEditorPage::evaluate).
    QMetaObject::invokeMethod(
        this,
        [this, command, caller] {
            if (m_Handler)
                m_Handler(command, caller);
        },
        Qt::QueuedConnection);
}

MEditorWebPage::MEditorWebPage(QWebEngineProfile *profile, QObject *parent)
    : QWebEnginePage(profile, parent)
{}

bool MEditorWebPage::acceptNavigationRequest(const QUrl &url, NavigationType type, bool isMainFrame)
{
    if (!isMainFrame)
        return true;
    // load() navigates as if typed; nothing else in the view can type an address. A reload
    // by the page comes as a redirect, so only those of a load of ours are taken.
    if (type == NavigationTypeTyped)
        m_OwnLoad = true;
    if (type == NavigationTypeTyped || (type == NavigationTypeRedirect && m_OwnLoad))
        return true;
    // The map lives in the page: leaving it, even for itself, would drop the map.
    OpenClickedLink(url, type);
    m_Refused = true;
    return false;
}

QWebEnginePage *MEditorWebPage::createWindow(WebWindowType)
{
    return new NewWindowCatcher(profile(), this);
}

QString MEditorPage::BridgeScript()
{
    QFile channelJs(QStringLiteral(":/qtwebchannel/qwebchannel.js"));
    QString channelText;
    if (channelJs.open(QIODevice::ReadOnly))
        channelText = QString::fromUtf8(channelJs.readAll());
    return QString::fromLatin1(BridgeScriptTemplate).arg(channelText);
}

MEditorPage::MEditorPage(QWebEngineView *view)
    : QObject(view)
    , m_View(view)
    , m_Page(new MEditorWebPage(QWebEngineProfile::defaultProfile(), view))
    , m_Channel(new QWebChannel(this))
    , m_Bridge(new MEditorBridge(m_Page, this))
{
    m_Channel->registerObject(QStringLiteral("external"), m_Bridge);
    m_Page->setWebChannel(m_Channel, QWebEngineScript::MainWorld);

    QWebEngineScript script;
    script.setName(QStringLiteral("cogitra-bridge"));
    script.setSourceCode(BridgeScript());
    script.setInjectionPoint(QWebEngineScript::DocumentCreation);
    script.setWorldId(QWebEngineScript::MainWorld);
    script.setRunsOnSubFrames(false);
    m_Page->scripts().insert(script);

    m_View->setPage(m_Page);
    connect(m_Page, &QWebEnginePage::loadFinished, this, [this](bool ok) {
        m_Page->endOwnLoad();
        // A navigation refused ends as a failed load, with the editor page still in place.
        if (m_Page->takeRefusal() && !ok)
            return;
        ReportLoadFinished(ok);
    });
    // A page whose renderer has gone is as lost as one that failed to load.
    connect(m_Page, &QWebEnginePage::renderProcessTerminated, this,
            [this](QWebEnginePage::RenderProcessTerminationStatus status, int) {
                if (status != QWebEnginePage::NormalTerminationStatus)
                    ReportLoadFinished(false);
            });
}

void MEditorPage::ReportLoadFinished(bool ok)
{
    // A failed load asks a question: from the application's event loop, like script results.
    QMetaObject::invokeMethod(
        this,
        [this, ok] {
            if (m_LoadFinished)
                m_LoadFinished(ok);
        },
        Qt::QueuedConnection);
}

MEditorPage::~MEditorPage() = default;

void MEditorPage::setJsCallHandler(MEditorBridge::Handler handler)
{
    m_Bridge->setHandler(std::move(handler));
}

void MEditorPage::setLoadFinishedHandler(std::function<void(bool)> handler)
{
    m_LoadFinished = std::move(handler);
}

void MEditorPage::evaluate(const QString &script, ScriptResult done)
{
    // A command that a result leads to may open a window and wait for it; one with a web
    // view (the sign-in window) loads nothing while the engine's dispatch of the result waits
    // under it. So results, like the page's calls, come from the application's event loop,
    // in the order they arrive.
    if (done)
        m_Page->runJavaScript(
            script, QWebEngineScript::MainWorld,
            [self = QPointer<MEditorPage>(this), done = std::move(done)](const QVariant &result) {
                if (self)
                    QMetaObject::invokeMethod(
                        self, [done, result] { done(result); }, Qt::QueuedConnection);
            });
    else
        m_Page->runJavaScript(script, QWebEngineScript::MainWorld);
}

void MEditorPage::load(const QString &url)
{
    (void)m_Page->takeRefusal();
    m_Page->load(QUrl(url));
}

QString MEditorPage::mainFrameUrl() const
{
    const QUrl url = m_Page->url();
    return url.isEmpty() ? QString() : url.toString();
}

QString MEditorPage::mainFrameTitle() const
{
    return m_Page->title();
}

} // namespace Cogitra
