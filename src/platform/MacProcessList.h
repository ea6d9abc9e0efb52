#pragma once

#include "IProcessList.h"

namespace Cogitra {

// macOS: the bundle name (CFBundleName) of each running application.
class MacProcessList final : public IProcessList
{
public:
    [[nodiscard]] QStringList processNames() const override;
};

} // namespace Cogitra
