#pragma once

#include "IProcessList.h"

namespace Cogitra {

// Linux: the kernel's name of each process (/proc/PID/comm), in process-id order.
class ProcProcessList final : public IProcessList
{
public:
    explicit ProcProcessList(QString procRoot = QStringLiteral("/proc"));

    [[nodiscard]] QStringList processNames() const override;

private:
    const QString m_ProcRoot;
};

} // namespace Cogitra
