#pragma once

#include "service/NotebookService.h"
#include "util/MGlobals.h"

#include <QTemporaryDir>

// The local notebook service in-process; every endpoint root of the client points at it.
struct GuiService
{
    GuiService()
    {
        started = service.start();
        for (const char *name : kRoots)
            qputenv(name, service.rootUrl().toUtf8());
    }
    ~GuiService()
    {
        for (const char *name : kRoots)
            qunsetenv(name);
        Cogitra::ResetGlobalsForTesting();
    }

    static constexpr const char *kRoots[]
        = {"COGITRA_GRAPH_ROOT", "COGITRA_LOGIN_ROOT", "COGITRA_ACCOUNT_ROOT", "COGITRA_MAKER_ROOT",
           "COGITRA_DESKTOP_ROOT"};
    QTemporaryDir dir;
    Cogitra::Service::NotebookService service{{.dataDir = dir.path()}};
    bool started = false;
};
