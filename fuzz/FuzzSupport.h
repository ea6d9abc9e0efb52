#pragma once

#include <QDir>
#include <QString>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>

// A broken invariant is a finding: report it and abort, so that libFuzzer keeps the input.
#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition);     \
            std::abort();                                                                          \
        }                                                                                          \
    } while (false)

namespace Cogitra::Fuzz {

// A folder for the files one input is written to, for the life of the process. Atomic saves
// sync the file to the disk; on tmpfs that costs nothing, elsewhere it caps a run at a few
// dozen inputs a second.
inline const QString &ScratchDir()
{
    static QTemporaryDir dir(QDir(QStringLiteral("/dev/shm")).exists()
                                 ? QStringLiteral("/dev/shm/cogitra-fuzz-XXXXXX")
                                 : QDir::tempPath() + QStringLiteral("/cogitra-fuzz-XXXXXX"));
    static const QString path = dir.path();
    return path;
}

} // namespace Cogitra::Fuzz
