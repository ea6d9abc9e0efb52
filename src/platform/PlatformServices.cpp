#include "PlatformServices.h"

#include "SystemShell.h"

#ifdef Q_OS_MACOS
#include "MacProcessList.h"
#include "OsaScriptAutomation.h"
#else
#include "DesktopServiceAutomation.h"
#include "ProcProcessList.h"
#endif

namespace Cogitra {

std::unique_ptr<IDesktopAutomation> MakeDesktopAutomation([[maybe_unused]] IClipboard &clipboard)
{
#ifdef Q_OS_MACOS
    return std::make_unique<OsaScriptAutomation>();
#else
    return std::make_unique<DesktopServiceAutomation>(
        clipboard, DesktopServiceAutomation::RootFromEnvironment());
#endif
}

std::unique_ptr<IProcessList> MakeProcessList()
{
#ifdef Q_OS_MACOS
    return std::make_unique<MacProcessList>();
#else
    return std::make_unique<ProcProcessList>();
#endif
}

std::unique_ptr<IShell> MakeShell()
{
    return std::make_unique<SystemShell>();
}

} // namespace Cogitra
