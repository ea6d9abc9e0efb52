#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class MWinAbout;
}

namespace Cogitra {

// The About window: the version line and links to the maker's website and support mail.
class MWinAbout : public QDialog
{
    Q_OBJECT
public:
    explicit MWinAbout(QWidget *parent = nullptr);
    ~MWinAbout() override;

    // Runs the window modally; returns once it is closed.
    void showWindow();
    void buttonLabelWebsiteClick();
    void buttonLabelSupportClick();
    [[nodiscard]] QString versionText() const;

private:
    std::unique_ptr<Ui::MWinAbout> m_Ui;
};

} // namespace Cogitra
