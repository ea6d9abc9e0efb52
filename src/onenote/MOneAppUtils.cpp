#include "MOneAppUtils.h"

#include "platform/IProcessList.h"

namespace Cogitra {

QStringList ListProcessNames(const IProcessList &processes)
{
    return processes.processNames();
}

bool IsOneNoteRunning(const IProcessList &processes)
{
    return ListProcessNames(processes).contains(QStringLiteral("OneNote"), Qt::CaseSensitive);
}

} // namespace Cogitra
