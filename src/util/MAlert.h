#pragma once

#include <QString>

namespace Cogitra {

class IAlert;

// ShowMessage goes to the installed alert; with none installed the text goes to stderr.
// Main thread only.
void SetAlert(IAlert *alert);
void ShowMessage(const QString &text);

} // namespace Cogitra
