#pragma once

#include <QString>

namespace Cogitra {

// Runs one command line through the system shell and waits for it.
class IShell
{
public:
    virtual ~IShell() = default;

    // The command's exit status; -1 when it could not be run or did not end in time.
    virtual int run(const QString &commandLine) = 0;
};

} // namespace Cogitra
