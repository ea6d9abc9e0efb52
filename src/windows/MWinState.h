#pragma once

#include <QTimer>
#include <QWidget>

#include <memory>

namespace Ui {
class MWinState;
}

namespace Cogitra {

// The progress window: what the worker is doing and its step code, refreshed once a
// second. One instance for the life of the process; shown, not run modally.
class MWinState : public QWidget
{
    Q_OBJECT
public:
    // Makes the window on first use, sets HideWhenEnd and brings it to the front, over
    // and centred on the window given (when there is one).
    static void ShowWindow(bool hideWhenEnd, QWidget *over = nullptr);
    // The one instance, or none before the first ShowWindow.
    [[nodiscard]] static MWinState *Instance();
    // Ends the instance (tests, shutdown).
    static void DestroyInstance();

    ~MWinState() override;

    void TimerRun();
    [[nodiscard]] bool HideWhenEnd() const { return m_HideWhenEnd; }
    void setHideWhenEnd(bool hide) { m_HideWhenEnd = hide; }
    [[nodiscard]] QString actionText() const;
    [[nodiscard]] QString stepText() const;
    // A line under the step, until the window is shown for another run.
    void setNote(const QString &note);
    [[nodiscard]] QString noteText() const;

private:
    MWinState();
    void CreateTimer();

    std::unique_ptr<Ui::MWinState> m_Ui;
    QTimer m_Timer;
    bool m_HideWhenEnd = false;
};

} // namespace Cogitra
