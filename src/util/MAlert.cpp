#include "MAlert.h"

#include "platform/IAlert.h"

#include <atomic>
#include <cstdio>

namespace Cogitra {

namespace {

std::atomic<IAlert *> g_Alert{nullptr};

} // namespace

void SetAlert(IAlert *alert)
{
    g_Alert.store(alert);
}

void ShowMessage(const QString &text)
{
    if (IAlert *alert = g_Alert.load()) {
        alert->showMessage(text);
        return;
    }
    std::fprintf(stderr, "Cogitra: %s\n", text.toLocal8Bit().constData());
}

} // namespace Cogitra
