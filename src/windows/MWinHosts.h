#pragma once

#include <QDialog>

#include <memory>

class QComboBox;

namespace Ui {
class MWinHosts;
}

namespace Cogitra {

// The host selection window: the maker's hosts list in a combo box, the host of the next
// start shown (an empty box stands for the built-in editor); OK stores a host name for the
// next start, Cancel leaves everything as it was.
class MWinHosts : public QDialog
{
    Q_OBJECT
public:
    explicit MWinHosts(QWidget *parent = nullptr);
    ~MWinHosts() override;

    void showWindow();
    void buttonOKClick();
    [[nodiscard]] QComboBox *m_ComboBoxHost() const;

    // A host name with an optional port: letters, digits, hyphens and dots, nothing that
    // would change the editor page's address around it.
    [[nodiscard]] static bool IsHostName(const QString &text);

private:
    void InitControls();

    std::unique_ptr<Ui::MWinHosts> m_Ui;
};

} // namespace Cogitra
