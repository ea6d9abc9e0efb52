#include "MWinState.h"

#include "ui_MWinState.h"

#include "app/MWindowTexts.h"
#include "util/MGlobals.h"
#include "util/MStrings.h"

namespace Cogitra {

namespace {
MWinState *g_StateWindow = nullptr;
} // namespace

MWinState::MWinState()
    : QWidget(nullptr, Qt::Window)
    , m_Ui(std::make_unique<Ui::MWinState>())
{
    m_Ui->setupUi(this);
    setWindowTitle(LocalizedString(QStringLiteral("strProgressTitle")));
    TimerRun();
    CreateTimer();
}

MWinState::~MWinState()
{
    if (g_StateWindow == this)
        g_StateWindow = nullptr;
}

void MWinState::ShowWindow(bool hideWhenEnd, QWidget *over)
{
    if (!g_StateWindow)
        g_StateWindow = new MWinState();
    MWinState *window = g_StateWindow;
    window->setHideWhenEnd(hideWhenEnd);
    window->setNote(QString());
    // A window of its own lands wherever the window manager likes; as a dialog of the
    // main window it stays above it, where the user is looking.
    if (over && window->parentWidget() != over)
        window->setParent(over, Qt::Dialog);
    if (over && over->isVisible() && !window->isVisible()) {
        const QRect frame = over->frameGeometry();
        window->move(frame.center() - window->rect().center());
    }
    // Shown for a run, it leaves the keyboard with the main window: its shortcuts (Quit among
    // them) keep working during the run, and nothing loses the focus when the window hides.
    window->setAttribute(Qt::WA_ShowWithoutActivating, hideWhenEnd);
    window->show();
    window->raise();
    if (!hideWhenEnd)
        window->activateWindow();
}

MWinState *MWinState::Instance()
{
    return g_StateWindow;
}

void MWinState::DestroyInstance()
{
    delete g_StateWindow;
}

void MWinState::CreateTimer()
{
    m_Timer.setInterval(1000);
    connect(&m_Timer, &QTimer::timeout, this, &MWinState::TimerRun);
    m_Timer.start();
}

void MWinState::TimerRun()
{
    const bool finished = WorkerFinished();
    const int64_t step = g_StepCode.load();
    if (finished && m_HideWhenEnd)
        hide();
    m_Ui->m_LabelAction->setText(StateActionText(step, finished));
    m_Ui->m_LabelStep->setText(StateStepText(step));
}

QString MWinState::actionText() const
{
    return m_Ui->m_LabelAction->text();
}

QString MWinState::stepText() const
{
    return m_Ui->m_LabelStep->text();
}

void MWinState::setNote(const QString &note)
{
    m_Ui->m_LabelNote->setText(note);
    m_Ui->m_LabelNote->setVisible(!note.isEmpty());
    adjustSize();
}

QString MWinState::noteText() const
{
    return m_Ui->m_LabelNote->text();
}

} // namespace Cogitra
