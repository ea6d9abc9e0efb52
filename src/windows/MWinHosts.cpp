#include "MWinHosts.h"

#include "ui_MWinHosts.h"

#include "MTextField.h"

#include "app/MWindowTexts.h"
#include "util/MAlert.h"
#include "util/MConfig.h"
#include "util/MGlobals.h"
#include "util/MStrings.h"

#include <QDebug>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>

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
    m_Ui->buttonCancel->setText(LocalizedString(QStringLiteral("strCancel")));
    connect(m_Ui->buttonOK, &QPushButton::clicked, this, &MWinHosts::buttonOKClick);
    connect(m_Ui->buttonCancel, &QPushButton::clicked, this, &QDialog::reject);
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
    // The stored choice, not g_Host: the window changes the next start, and this run's
    // built-in editor has an address of its own.
    const QString chosen = ChosenEditorHost();
    const int current
        = chosen.isEmpty() ? -1 : box->findText(chosen, Qt::MatchExactly | Qt::MatchCaseSensitive);
    box->setCurrentIndex(current);
    if (current < 0)
        box->setEditText(chosen);
    box->lineEdit()->setPlaceholderText(LocalizedString(QStringLiteral("strBuiltInEditor")));
}

bool MWinHosts::IsHostName(const QString &text)
{
    static const QRegularExpression pattern(QStringLiteral(
        R"(^[A-Za-z0-9](?:[A-Za-z0-9-]*[A-Za-z0-9])?(?:\.[A-Za-z0-9](?:[A-Za-z0-9-]*[A-Za-z0-9])?)*)"
        R"((?::([0-9]{1,5}))?$)"));
    const QRegularExpressionMatch match = pattern.match(text);
    if (!match.hasMatch() || text.size() > 253)
        return false;
    const QString port = match.captured(1);
    return port.isEmpty() || (port.toInt() >= 1 && port.toInt() <= 65535);
}

void MWinHosts::showWindow()
{
    setWindowModality(Qt::ApplicationModal);
    exec();
}

void MWinHosts::buttonOKClick()
{
    const QString host = m_Ui->m_ComboBoxHost->currentText().trimmed();
    if (host.isEmpty())
        return;
    if (!IsHostName(host)) {
        ShowMessage(LocalizedString(QStringLiteral("strHostInvalid")).arg(host));
        return;
    }
    const MConfigLock lock(g_ConfigFile.get());
    MConfig config(g_ConfigFile.get());
    config.WriteValueStr(QStringLiteral("Host"), host);
    (void)config.Save();
    ShowMessage(LocalizedString(QStringLiteral("strRestartApp")));
    accept();
}

} // namespace Cogitra
