#pragma once

#include "service/NotebookService.h"
#include "util/MGlobals.h"

#include <QTemporaryDir>

#include <memory>

// The local notebook service in-process for one GUI test, on a free port with a data folder of
// its own, and every endpoint root of the client pointed at it until it goes.
class GuiService
{
public:
    GuiService()
    {
        Cogitra::Service::ServiceOptions options;
        options.dataDir = m_Dir.path();
        m_Service = std::make_unique<Cogitra::Service::NotebookService>(options);
        if (!m_Service->start())
            return;
        m_Started = true;
        for (const char *name : kRoots)
            qputenv(name, m_Service->rootUrl().toUtf8());
    }
    GuiService(const GuiService &) = delete;
    GuiService &operator=(const GuiService &) = delete;
    ~GuiService()
    {
        m_Service.reset();
        for (const char *name : kRoots)
            qunsetenv(name);
        Cogitra::ResetGlobalsForTesting();
    }

    // Null when the service could not start.
    [[nodiscard]] Cogitra::Service::NotebookService *service() const
    {
        return m_Started ? m_Service.get() : nullptr;
    }

private:
    static constexpr const char *kRoots[]
        = {"COGITRA_GRAPH_ROOT", "COGITRA_LOGIN_ROOT", "COGITRA_ACCOUNT_ROOT", "COGITRA_MAKER_ROOT",
           "COGITRA_DESKTOP_ROOT"};
    QTemporaryDir m_Dir;
    std::unique_ptr<Cogitra::Service::NotebookService> m_Service;
    bool m_Started = false;
};
