#include "MQtAlert.h"

#include "util/MStrings.h"

#include <QMessageBox>

namespace Cogitra {

void MQtAlert::showMessage(const QString &text)
{
    QWidget *parent = m_Parent && m_Parent->isVisible() ? m_Parent.data() : nullptr;
    QMessageBox box(QMessageBox::NoIcon, LocalizedString(QStringLiteral("appName")), text,
                    QMessageBox::Ok, parent);
    box.setWindowModality(Qt::ApplicationModal);
    box.setObjectName(QStringLiteral("CogitraAlert"));
    box.exec();
}

} // namespace Cogitra
