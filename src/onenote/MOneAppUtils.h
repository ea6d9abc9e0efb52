#pragma once

#include <QStringList>

namespace Cogitra {

class IProcessList;

[[nodiscard]] QStringList ListProcessNames(const IProcessList &processes);

// True when a running process is named exactly "OneNote".
[[nodiscard]] bool IsOneNoteRunning(const IProcessList &processes);

} // namespace Cogitra
