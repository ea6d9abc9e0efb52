#pragma once

#include "platform/IAlert.h"

#include <QPointer>
#include <QWidget>

namespace Cogitra {

// The one-button alert as an application-modal message box.
class MQtAlert : public IAlert
{
public:
    void showMessage(const QString &text) override;
    // The window the box is centred on; none: the screen.
    void setParentWindow(QWidget *window) { m_Parent = window; }

private:
    QPointer<QWidget> m_Parent;
};

} // namespace Cogitra
