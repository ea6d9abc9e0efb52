#pragma once

#include <QString>

namespace Cogitra {

// What the application logic asks of the main window: its two presentations, its title and modified
// mark, the Login menu item's check mark and an inline notice line.
class IMainWindow
{
public:
    virtual ~IMainWindow() = default;

    virtual void setTitle(const QString &title) = 0;
    // The editor's map differs from the one last opened, started or saved.
    virtual void setModified(bool modified) = 0;
    // Progress indicator visible and animating, waiting text visible, editor hidden.
    virtual void showWaitingPresentation() = 0;
    // Progress indicator hidden and stopped, waiting text hidden, editor visible.
    virtual void showEditingPresentation() = 0;
    [[nodiscard]] virtual bool isProgressVisible() const = 0;
    virtual void startProgressAnimation() = 0;
    [[nodiscard]] virtual bool isLoginItemChecked() const = 0;
    virtual void setLoginItemChecked(bool checked) = 0;
    virtual void makeVisible() = 0;
    // A non-modal line above the editor; the empty text hides it.
    virtual void showNotice(const QString &text) = 0;
    // A passing confirmation in the status bar, where the user looks after a command.
    virtual void showStatus(const QString &text) = 0;
};

} // namespace Cogitra
