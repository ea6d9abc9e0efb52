#pragma once

#include <QDialog>

#include <memory>

class QComboBox;

namespace Ui {
class MWinHosts;
}

namespace Cogitra {

// The host selection window: the maker's hosts list in a combo box, the current host
// selected; OK stores the choice for the next start.
class MWinHosts : public QDialog
{
    Q_OBJECT
public:
    explicit MWinHosts(QWidget *parent = nullptr);
    ~MWinHosts() override;

    void showWindow();
    void buttonOKClick();
    [[nodiscard]] QComboBox *m_ComboBoxHost() const;

private:
    void InitControls();

    std::unique_ptr<Ui::MWinHosts> m_Ui;
};

} // namespace Cogitra
