#pragma once

#include <QString>

#include <memory>

namespace Cogitra {

// The application's own editor host: serves the editor site folder on 127.0.0.1 at a
// port chosen at start, so that the default editor address works without a network.
class MEditorHost
{
public:
    explicit MEditorHost(QString siteDir);
    ~MEditorHost();
    MEditorHost(const MEditorHost &) = delete;
    MEditorHost &operator=(const MEditorHost &) = delete;

    // Binds a free port and serves from a thread of its own; false when the folder is
    // missing or no port could be bound.
    [[nodiscard]] bool start();
    void stop();

    // "127.0.0.1:PORT" while running, the empty text otherwise.
    [[nodiscard]] QString hostAndPort() const;
    [[nodiscard]] const QString &siteDir() const { return m_SiteDir; }

private:
    struct Server;
    QString m_SiteDir;
    std::unique_ptr<Server> m_Server;
};

// The editor site folder: COGITRA_EDITOR_SITE_DIR from the environment, else the installed
// one relative to the executable, else the build's for a program run from the build tree.
[[nodiscard]] QString DefaultEditorSiteDir();

} // namespace Cogitra
