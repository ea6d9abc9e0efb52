#include "MWinPageLink.h"

#include "onenote/MPageLink.h"
#include "util/MStrings.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace Cogitra {

MWinPageLink::MWinPageLink(QWidget *parent)
    : QDialog(parent)
    , m_Field(new QLineEdit(this))
    , m_Reason(new QLabel(this))
    , m_Buttons(new QDialogButtonBox(QDialogButtonBox::Open | QDialogButtonBox::Cancel, this))
{
    setObjectName(QStringLiteral("pageLinkWindow"));
    setWindowTitle(LocalizedString(QStringLiteral("winPageLinkTitle")));
    auto *prompt = new QLabel(LocalizedString(QStringLiteral("strPageLinkPrompt")), this);
    prompt->setWordWrap(true);
    m_Field->setObjectName(QStringLiteral("pageLinkField"));
    m_Field->setClearButtonEnabled(true);
    m_Field->setMinimumWidth(520);
    m_Reason->setObjectName(QStringLiteral("pageLinkReason"));
    m_Reason->setWordWrap(true);
    m_Reason->setStyleSheet(QStringLiteral("color: #b00020"));

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(prompt);
    layout->addWidget(m_Field);
    layout->addWidget(m_Reason);
    layout->addWidget(m_Buttons);

    connect(m_Buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(m_Buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_Field, &QLineEdit::textChanged, this, &MWinPageLink::ReadField);
    ReadField();
}

void MWinPageLink::ReadField()
{
    const QString refusal = ReadAnyPageLink(m_Field->text(), m_Page);
    // An empty field is no mistake yet: it only keeps Open off.
    // The reason reads as a sentence of its own beneath the field.
    m_Reason->setText(m_Field->text().trimmed().isEmpty()
                          ? QString()
                          : refusal.left(1).toUpper() + refusal.mid(1));
    m_Buttons->button(QDialogButtonBox::Open)->setEnabled(refusal.isEmpty());
}

} // namespace Cogitra
