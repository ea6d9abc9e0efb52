#pragma once

#include "IShell.h"

#include <chrono>

namespace Cogitra {

// "/bin/sh -c COMMAND". A command that runs longer than the time limit is killed.
class SystemShell final : public IShell
{
public:
    explicit SystemShell(std::chrono::milliseconds timeLimit = std::chrono::seconds(60));

    int run(const QString &commandLine) override;

private:
    const std::chrono::milliseconds m_TimeLimit;
};

} // namespace Cogitra
