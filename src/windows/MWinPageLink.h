#pragma once

#include "onenote/OneNotePageInfo.h"

#include <QDialog>

class QDialogButtonBox;
class QLabel;
class QLineEdit;

namespace Cogitra {

// The page link window: a field for any link to a OneNote page. While the text names no
// page the field says why beneath it and Open stays off, so only a page can be opened.
class MWinPageLink : public QDialog
{
    Q_OBJECT
public:
    explicit MWinPageLink(QWidget *parent = nullptr);

    // The page the field names (empty until it names one).
    [[nodiscard]] const OneNotePageInfo &page() const { return m_Page; }
    [[nodiscard]] QLineEdit *field() const { return m_Field; }
    [[nodiscard]] QLabel *reason() const { return m_Reason; }
    [[nodiscard]] QDialogButtonBox *buttons() const { return m_Buttons; }

private:
    void ReadField();

    QLineEdit *m_Field;
    QLabel *m_Reason;
    QDialogButtonBox *m_Buttons;
    OneNotePageInfo m_Page;
};

} // namespace Cogitra
