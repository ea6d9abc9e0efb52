#pragma once

#include "online/MWorkerProperties.h"

namespace Cogitra {

// Starts the background worker of one open or save run; returns at once.
class IOnlineRun
{
public:
    virtual ~IOnlineRun() = default;
    virtual void Run(const MWorkerProperties &properties) = 0;
    // Blocks until the latest run's thread has ended; before the shared values go away.
    virtual void WaitForRun() = 0;
};

} // namespace Cogitra
