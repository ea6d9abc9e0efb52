#include "MWinHosts.h"

#include "ui_MWinHosts.h"

#include "MTextField.h"

#include "app/MWindowTexts.h"
#include "util/MAlert.h"
#include "util/MConfig.h"
#include "util/MGlobals.h"
#include "util/MStrings.h"

#include <QDebug>
#include <QPushButton>

namespace Cogitra {

MWinHosts::MWinHosts(QWidget *parent)
    : QDialog(parent)
    , m_Ui(std::make_unique<Ui::MWinHosts>())
{
    m_Ui->setupUi(this);
    m_Ui->m_ComboBoxHost->setLineEdit(new MTextField(m_Ui->m_ComboBoxHost));
    setWindowTitle(LocalizedString(QStringLiteral("strHostsTitle")));
    m_Ui->labelPrompt->setText(LocalizedString(QStringLiteral("strHostsPrompt")));
    m_Ui->buttonOK->setText(LocalizedString(QStringLiteral("strOK")));
    connect(m_Ui->buttonOK, &QPushButton::clicked, this, &MWinHosts::buttonOKClick);
    InitControls();
}

MWinHosts::~MWinHosts() = default;

QComboBox *MWinHosts::m_ComboBoxHost() const
{
    return m_Ui->m_ComboBoxHost;
}

void MWinHosts::InitControls()
{
    // The window opens only once the list has come or the request has timed out.
    const std::optional<QString> reply = DownloadText(HostsListUrl(), 10);
    qInfo().noquote() << QStringLiteral("--- Hosts --- %1").arg(reply.value_or(QString()));
    QComboBox *box = m_Ui->m_ComboBoxHost;
    if (reply)
        box->addItems(SplitHostsList(*reply));
    const int current
        = reply ? box->findText(g_Host.get(), Qt::MatchExactly | Qt::MatchCaseSensitive) : -1;
    box->setCurrentIndex(current);
    if (current < 0)
        box->setEditText(QString());
}

void MWinHosts::showWindow()
{
    setWindowModality(Qt::ApplicationModal);
    exec();
}

void MWinHosts::buttonOKClick()
{
    const QString host = m_Ui->m_ComboBoxHost->currentText();
    if (host.isEmpty())
        return;
    const MConfigLock lock(g_ConfigFile.get());
    MConfig config(g_ConfigFile.get());
    config.WriteValueStr(QStringLiteral("Host"), host);
    (void)config.Save();
    ShowMessage(LocalizedString(QStringLiteral("strRestartApp")));
    accept();
}

} // namespace Cogitra
