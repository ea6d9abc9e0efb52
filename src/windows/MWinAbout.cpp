#include "MWinAbout.h"

#include "ui_MWinAbout.h"

#include "app/MWindowTexts.h"
#include "util/MStrings.h"

#include <QDesktopServices>
#include <QPushButton>
#include <QUrl>

namespace Cogitra {

MWinAbout::MWinAbout(QWidget *parent)
    : QDialog(parent)
    , m_Ui(std::make_unique<Ui::MWinAbout>())
{
    m_Ui->setupUi(this);
    setWindowTitle(LocalizedString(QStringLiteral("strAboutTitle")));
    m_Ui->labelAppName->setText(LocalizedString(QStringLiteral("appName")));
    m_Ui->tfVersion->setText(AboutVersionLine());
    m_Ui->buttonWebsite->setText(LocalizedString(QStringLiteral("strWebsite")));
    m_Ui->buttonSupport->setText(LocalizedString(QStringLiteral("strSupport")));
    connect(m_Ui->buttonWebsite, &QPushButton::clicked, this, &MWinAbout::buttonLabelWebsiteClick);
    connect(m_Ui->buttonSupport, &QPushButton::clicked, this, &MWinAbout::buttonLabelSupportClick);
}

MWinAbout::~MWinAbout() = default;

void MWinAbout::showWindow()
{
    setWindowModality(Qt::ApplicationModal);
    exec();
}

void MWinAbout::buttonLabelWebsiteClick()
{
    QDesktopServices::openUrl(QUrl(WebsiteUrl()));
}

void MWinAbout::buttonLabelSupportClick()
{
    QDesktopServices::openUrl(QUrl(SupportMailto()));
}

QString MWinAbout::versionText() const
{
    return m_Ui->tfVersion->text();
}

} // namespace Cogitra
