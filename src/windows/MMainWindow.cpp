#include "MMainWindow.h"

#include "ui_MMainWindow.h"

#include "MWebView.h"

#include "app/AppDelegate.h"
#include "app/MRecentPages.h"
#include "util/MStrings.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QMenuBar>
#include <QStackedLayout>
#include <QStatusBar>

namespace Cogitra {

namespace {
QString Text(const char *key)
{
    return LocalizedString(QString::fromLatin1(key));
}
} // namespace

MMainWindow::MMainWindow(QWidget *parent)
    : QMainWindow(parent)
    , m_Ui(std::make_unique<Ui::MMainWindow>())
{
    m_Ui->setupUi(this);
    // The waiting panel covers the editor instead of hiding it, so the editor page keeps
    // the size it is shown at and places a map for that size.
    if (auto *stack = qobject_cast<QStackedLayout *>(m_Ui->presentations->layout()))
        stack->setStackingMode(QStackedLayout::StackAll);
    m_Ui->waitingPanel->setAutoFillBackground(true);
    m_Ui->TextFieldOnce->setText(Text("strWaitingForMap"));
    BuildMenus();
    showWaitingPresentation();
}

MMainWindow::~MMainWindow() = default;

void MMainWindow::setDelegate(AppDelegate *delegate)
{
    m_Delegate = delegate;
}

MWebView *MMainWindow::WebViewMain() const
{
    return m_Ui->WebViewMain;
}

QAction *MMainWindow::action(const QString &name) const
{
    return findChild<QAction *>(name);
}

QString MMainWindow::noticeText() const
{
    return m_Ui->labelNotice->isHidden() ? QString() : m_Ui->labelNotice->text();
}

QAction *MMainWindow::AddAction(QMenu *menu, const char *name, const char *key,
                                const QKeySequence &shortcut, void (AppDelegate::*command)())
{
    auto *action = new QAction(Text(key), this);
    action->setObjectName(QString::fromLatin1(name));
    action->setShortcut(shortcut);
    connect(action, &QAction::triggered, this, [this, command] {
        if (m_Delegate)
            (m_Delegate->*command)();
    });
    menu->addAction(action);
    return action;
}

void MMainWindow::FillRecentMenu(QMenu *menu)
{
    menu->clear();
    const QList<OneNotePageInfo> pages = LoadRecentPages();
    if (pages.isEmpty())
        menu->addAction(Text("menuItemNoRecent"))->setEnabled(false);
    for (const OneNotePageInfo &page : pages) {
        // Where the page lies tells two pages of one title apart.
        const QString where = page.sectionName.isEmpty() ? page.notebookName
                              : page.notebookName.isEmpty()
                                  ? page.sectionName
                                  : page.notebookName + QStringLiteral(" › ") + page.sectionName;
        QString text = page.title;
        text.replace(u'&', QStringLiteral("&&"));
        if (!where.isEmpty())
            text += QStringLiteral("  —  ") + QString(where).replace(u'&', QStringLiteral("&&"));
        QAction *action = menu->addAction(text);
        connect(action, &QAction::triggered, this, [this, page] {
            if (m_Delegate)
                m_Delegate->MenuItemOpenRecent(page);
        });
    }
}

void MMainWindow::BuildMenus()
{
    QMenuBar *bar = menuBar();
    QMenu *file = bar->addMenu(Text("menuFile"));
    AddAction(file, "actionNew", "menuItemNew", QKeySequence::New, &AppDelegate::MenuItemNew);
    AddAction(file, "actionOpen", "menuItemOpen", QKeySequence::Open,
              &AppDelegate::MenuItemOpenFromCurrentPage);
    AddAction(file, "actionOpenPage", "menuItemOpenPage", QKeySequence(Qt::CTRL | Qt::Key_P),
              &AppDelegate::MenuItemOpenPage);
    AddAction(file, "actionOpenPageLink", "menuItemOpenPageLink",
              QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_O), &AppDelegate::MenuItemOpenPageLink);
    QMenu *recent = file->addMenu(Text("menuItemOpenRecent"));
    recent->setObjectName(QStringLiteral("menuOpenRecent"));
    // Read when shown: the cli and earlier runs write the same list.
    connect(recent, &QMenu::aboutToShow, this, [this, recent] { FillRecentMenu(recent); });
    file->addSeparator();
    AddAction(file, "actionSave", "menuItemSave", QKeySequence::Save, &AppDelegate::MenuItemSave);
    AddAction(file, "actionSaveToCurrentPage", "menuItemSaveToCurrentPage",
              QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S),
              &AppDelegate::MenuItemSaveToCurrentPage);
    AddAction(file, "actionRefresh", "menuItemRefresh", QKeySequence(Qt::CTRL | Qt::Key_R),
              &AppDelegate::MenuItemRefreshClick);
    file->addSeparator();
    // Connected by the controller, which reads and writes the files.
    for (const auto &[name, key] : {std::pair{"actionImport", "menuItemImport"},
                                    std::pair{"actionExport", "menuItemExport"}}) {
        auto *action = new QAction(Text(key), this);
        action->setObjectName(QString::fromLatin1(name));
        file->addAction(action);
    }
    file->addSeparator();
    auto *quit = new QAction(Text("menuItemQuit"), this);
    quit->setObjectName(QStringLiteral("actionQuit"));
    quit->setShortcut(QKeySequence::Quit);
    quit->setMenuRole(QAction::QuitRole);
    // Through the application, which asks first when the map has unsaved changes.
    connect(quit, &QAction::triggered, this, [this] {
        if (m_Delegate)
            m_Delegate->MenuItemQuit();
        else
            QCoreApplication::quit();
    });
    file->addAction(quit);

    QMenu *account = bar->addMenu(Text("menuAccount"));
    m_Login = AddAction(account, "actionLogin", "menuItemLogin", QKeySequence(),
                        &AppDelegate::MenuItemLoginClick);
    m_Login->setCheckable(true);
    // The check mark follows the sign-in state, not the click.
    connect(m_Login, &QAction::triggered, this, [this](bool) {
        if (m_Delegate)
            m_Login->setChecked(!m_Login->isChecked());
    });
    AddAction(account, "actionLogout", "menuItemLogout", QKeySequence(),
              &AppDelegate::MenuItemLogoutClick);
    account->addSeparator();
    // Enabled while someone is signed in, as the Login item's check mark shows.
    m_SignOut = AddAction(account, "actionSignOut", "menuItemSignOut", QKeySequence(),
                          &AppDelegate::MenuItemSignOutClick);
    m_SignOut->setEnabled(false);

    QMenu *tools = bar->addMenu(Text("menuTools"));
    AddAction(tools, "actionProgress", "menuItemProgress", QKeySequence(),
              &AppDelegate::MenuItemUploadStateClick);
    AddAction(tools, "actionHosts", "menuItemHosts", QKeySequence(),
              &AppDelegate::MenuItemHostsClick);

    QMenu *help = bar->addMenu(Text("menuHelp"));
    QAction *about = AddAction(help, "actionAbout", "menuItemAbout", QKeySequence(),
                               &AppDelegate::MenuItemAboutClick);
    about->setMenuRole(QAction::AboutRole);
}

void MMainWindow::setTitle(const QString &title)
{
    // Qt shows the placeholder as "*" while the window is modified, and hides it otherwise.
    setWindowTitle(QStringLiteral("[*]") + title);
}

void MMainWindow::setModified(bool modified)
{
    setWindowModified(modified);
}

QString MMainWindow::shownTitle() const
{
    QString title = windowTitle();
    return title.replace(QStringLiteral("[*]"),
                         isWindowModified() ? QStringLiteral("*") : QString());
}

void MMainWindow::showWaitingPresentation()
{
    m_Ui->progressInd->show();
    m_Ui->TextFieldOnce->show();
    m_Ui->presentations->setCurrentWidget(m_Ui->waitingPanel);
}

void MMainWindow::showEditingPresentation()
{
    m_Ui->progressInd->hide();
    m_Ui->TextFieldOnce->hide();
    m_Ui->presentations->setCurrentWidget(m_Ui->WebViewMain);
}

bool MMainWindow::isProgressVisible() const
{
    return m_Ui->presentations->currentWidget() == m_Ui->waitingPanel
           && !m_Ui->progressInd->isHidden();
}

void MMainWindow::startProgressAnimation()
{
    // A bar without a range animates for as long as it is shown.
    m_Ui->progressInd->setRange(0, 0);
}

bool MMainWindow::isLoginItemChecked() const
{
    return m_Login->isChecked();
}

void MMainWindow::setLoginItemChecked(bool checked)
{
    m_Login->setChecked(checked);
    m_SignOut->setEnabled(checked);
}

void MMainWindow::makeVisible()
{
    show();
    raise();
    activateWindow();
}

void MMainWindow::showNotice(const QString &text)
{
    m_Ui->labelNotice->setText(text);
    m_Ui->labelNotice->setVisible(!text.isEmpty());
}

void MMainWindow::showStatus(const QString &text)
{
    statusBar()->showMessage(text);
}

QString MMainWindow::statusText() const
{
    return statusBar()->currentMessage();
}

void MMainWindow::closeEvent(QCloseEvent *event)
{
    if (m_CloseGuard && !m_CloseGuard()) {
        event->ignore();
        return;
    }
    QMainWindow::closeEvent(event);
    if (event->isAccepted() && m_CloseRule && m_CloseRule())
        QCoreApplication::quit();
}

} // namespace Cogitra
