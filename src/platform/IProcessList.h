#pragma once

#include <QStringList>

namespace Cogitra {

// The names of the running processes (applications' bundle names on macOS), in the
// system's process-list order.
class IProcessList
{
public:
    virtual ~IProcessList() = default;

    [[nodiscard]] virtual QStringList processNames() const = 0;
};

} // namespace Cogitra
