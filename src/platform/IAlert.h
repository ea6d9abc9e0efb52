#pragma once

#include <QString>

namespace Cogitra {

// A one-button, application-modal alert. The application shows a QMessageBox; tests and
// the command-line tool install their own.
class IAlert
{
public:
    virtual ~IAlert() = default;
    virtual void showMessage(const QString &text) = 0;
};

} // namespace Cogitra
