#pragma once

#include "platform/IAlert.h"
#include "util/MAlert.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <ostream>

// Failures show texts as texts.
QT_BEGIN_NAMESPACE
inline void PrintTo(const QString &text, std::ostream *out)
{
    *out << '"' << text.toStdString() << '"';
}
QT_END_NAMESPACE

namespace Cogitra::Test {

// An alert that keeps every text it is shown, in order. onShow runs after the text is
// kept, the moment a modal alert would be up (a test closes a window or ends a run there).
class RecordingAlert : public IAlert
{
public:
    void showMessage(const QString &text) override
    {
        messages.append(text);
        if (onShow)
            onShow();
    }

    QStringList messages;
    std::function<void()> onShow;
};

// Installs an alert for ShowMessage for as long as it lives.
class InstalledAlert : public RecordingAlert
{
public:
    InstalledAlert() { SetAlert(this); }
    ~InstalledAlert() override { SetAlert(nullptr); }
    InstalledAlert(const InstalledAlert &) = delete;
    InstalledAlert &operator=(const InstalledAlert &) = delete;
};

} // namespace Cogitra::Test
