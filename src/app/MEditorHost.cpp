#include "MEditorHost.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <httplib.h>

#include <chrono>
#include <thread>

namespace Cogitra {

struct MEditorHost::Server
{
    httplib::Server http;
    std::thread thread;
    int port = -1;
};

MEditorHost::MEditorHost(QString siteDir)
    : m_SiteDir(std::move(siteDir))
{}

MEditorHost::~MEditorHost()
{
    stop();
}

bool MEditorHost::start()
{
    if (m_Server)
        return true;
    if (!QFileInfo(m_SiteDir).isDir())
        return false;
    auto server = std::make_unique<Server>();
    // Every load of the editor asks for fresh files; the page must match the application.
    const httplib::Headers headers = {{"Cache-Control", "no-cache"}};
    if (!server->http.set_mount_point("/", QDir(m_SiteDir).absolutePath().toStdString(), headers))
        return false;
    server->http.set_file_extension_and_mimetype_mapping("mjs", "text/javascript");
    server->http.set_keep_alive_timeout(1);
    server->port = server->http.bind_to_any_port("127.0.0.1");
    if (server->port <= 0)
        return false;
    server->thread = std::thread([s = server.get()] { s->http.listen_after_bind(); });
    // listen_after_bind marks the server running almost at once; bounded wait all the same.
    for (int i = 0; i < 500 && !server->http.is_running(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    m_Server = std::move(server);
    return true;
}

void MEditorHost::stop()
{
    if (!m_Server)
        return;
    m_Server->http.stop();
    if (m_Server->thread.joinable())
        m_Server->thread.join();
    m_Server.reset();
}

QString MEditorHost::hostAndPort() const
{
    if (!m_Server)
        return QString();
    return QStringLiteral("127.0.0.1:%1").arg(m_Server->port);
}

QString DefaultEditorSiteDir()
{
    const QString fromEnv = qEnvironmentVariable("COGITRA_EDITOR_SITE_DIR");
    if (!fromEnv.isEmpty())
        return fromEnv;
    // Beside the executable, where the package puts it under the prefix (bin/ and
    // share/cogitra/), or in the application bundle's Resources folder.
    const QDir appDir(QCoreApplication::applicationDirPath());
    for (const char *relative :
         {"editor-site", "../share/cogitra/editor-site", "../Resources/editor-site"}) {
        const QString dir = QDir::cleanPath(appDir.filePath(QString::fromLatin1(relative)));
        if (QFileInfo(dir).isDir())
            return dir;
    }
#if defined(COGITRA_EDITOR_SITE_DIR) && defined(COGITRA_BUILD_DIR)
    // Only a program in the build tree falls back to the build's site: an installed copy
    // that lost its own must say so, not quietly serve a developer's folder.
    const QString buildDir = QDir::cleanPath(QStringLiteral(COGITRA_BUILD_DIR)) + u'/';
    const QString here = QDir::cleanPath(appDir.path()) + u'/';
    if (here.startsWith(buildDir))
        return QStringLiteral(COGITRA_EDITOR_SITE_DIR);
#endif
    return QString();
}

} // namespace Cogitra
