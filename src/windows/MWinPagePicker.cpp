#include "MWinPagePicker.h"

#include "onenote/MPageLink.h"
#include "online/MGraphClient.h"
#include "online/MPageTree.h"
#include "util/MGlobals.h"
#include "util/MStrings.h"

#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSortFilterProxyModel>
#include <QStandardItemModel>
#include <QTreeView>
#include <QVBoxLayout>

namespace Cogitra {
namespace {

enum Role { KindRole = Qt::UserRole + 1, LinkRole, SectionRole };
enum class Kind { Notebook, Group, Section, Page };

// Keeps the pages whose title or section name holds the text, and the sections whose name
// does with all their pages; the notebooks and groups around them stay to show where they lie.
class PageFilter : public QSortFilterProxyModel
{
public:
    using QSortFilterProxyModel::QSortFilterProxyModel;

    void setText(const QString &text)
    {
        m_Text = text.trimmed();
        invalidateFilter();
    }

protected:
    bool filterAcceptsRow(int row, const QModelIndex &parent) const override
    {
        if (m_Text.isEmpty())
            return true;
        const QModelIndex index = sourceModel()->index(row, 0, parent);
        const auto holds = [this](const QVariant &text) {
            return text.toString().contains(m_Text, Qt::CaseInsensitive);
        };
        switch (Kind(index.data(KindRole).toInt())) {
        case Kind::Page:
            return holds(index.data(Qt::DisplayRole)) || holds(index.data(SectionRole));
        case Kind::Section:
            return holds(index.data(Qt::DisplayRole));
        default:
            return false; // shown when something inside is
        }
    }

private:
    QString m_Text;
};

QStandardItem *NewItem(const QString &text, Kind kind)
{
    auto *item = new QStandardItem(text);
    item->setEditable(false);
    item->setData(int(kind), KindRole);
    return item;
}

QStandardItem *GroupItem(QStandardItem *parent, const QString &name)
{
    for (int row = 0; row < parent->rowCount(); ++row) {
        QStandardItem *child = parent->child(row);
        if (Kind(child->data(KindRole).toInt()) == Kind::Group && child->text() == name)
            return child;
    }
    QStandardItem *group = NewItem(name, Kind::Group);
    parent->appendRow(group);
    return group;
}

} // namespace

MWinPagePicker::MWinPagePicker(QWidget *parent)
    : QDialog(parent)
    , m_Filter(new QLineEdit(this))
    , m_Tree(new QTreeView(this))
    , m_Status(new QLabel(this))
    , m_Buttons(new QDialogButtonBox(QDialogButtonBox::Open | QDialogButtonBox::Cancel, this))
    , m_Refresh(m_Buttons->addButton(LocalizedString(QStringLiteral("btnPickerRefresh")),
                                     QDialogButtonBox::ResetRole))
    , m_Model(new QStandardItemModel(this))
    , m_Shown(new PageFilter(this))
{
    setObjectName(QStringLiteral("pagePickerWindow"));
    setWindowTitle(LocalizedString(QStringLiteral("winPagePickerTitle")));
    resize(560, 520);
    m_Filter->setObjectName(QStringLiteral("pagePickerFilter"));
    m_Filter->setPlaceholderText(LocalizedString(QStringLiteral("strPickerFilter")));
    m_Filter->setClearButtonEnabled(true);
    m_Filter->installEventFilter(this);
    m_Shown->setSourceModel(m_Model);
    m_Shown->setRecursiveFilteringEnabled(true);
    m_Tree->setObjectName(QStringLiteral("pagePickerTree"));
    m_Tree->setHeaderHidden(true);
    m_Tree->setModel(m_Shown);
    m_Tree->setUniformRowHeights(true);
    m_Status->setObjectName(QStringLiteral("pagePickerStatus"));
    m_Status->setWordWrap(true);
    m_Refresh->setAutoDefault(false);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_Filter);
    layout->addWidget(m_Tree, 1);
    layout->addWidget(m_Status);
    layout->addWidget(m_Buttons);

    connect(m_Buttons, &QDialogButtonBox::accepted, this, [this] {
        if (!m_Page.clientId.isEmpty())
            accept();
    });
    connect(m_Buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_Refresh, &QPushButton::clicked, this, [this] { Load(true); });
    connect(m_Filter, &QLineEdit::textChanged, this, &MWinPagePicker::ApplyFilter);
    connect(m_Tree->selectionModel(), &QItemSelectionModel::currentChanged, this,
            &MWinPagePicker::TakeCurrent);
    connect(m_Tree, &QTreeView::activated, this, [this](const QModelIndex &index) {
        if (Kind(index.data(KindRole).toInt()) == Kind::Page && !m_Page.clientId.isEmpty())
            accept();
    });
    TakeCurrent();
}

MWinPagePicker::~MWinPagePicker()
{
    m_Reader.request_stop();
    if (m_Reader.joinable())
        m_Reader.join();
}

void MWinPagePicker::Load(bool fetchAnew)
{
    if (m_Reader.joinable())
        return;
    m_Refresh->setEnabled(false);
    m_Status->setStyleSheet(QString());
    m_Status->setText(LocalizedString(QStringLiteral("strPickerReading")));
    m_Reader = std::jthread([this, fetchAnew](std::stop_token stop) {
        // Tokens from a sign-in that has only a code yet, then the tree.
        MOnlineClients clients(std::move(stop));
        clients.EnsureAccount();
        MPageTree tree = ReadPageTree(clients, {QString(), QString(), fetchAnew});
        QMetaObject::invokeMethod(
            this,
            [this, tree = std::move(tree)] {
                m_Reader.join();
                ShowTree(tree);
            },
            Qt::QueuedConnection);
    });
}

void MWinPagePicker::ShowTree(const MPageTree &tree)
{
    m_Refresh->setEnabled(true);
    if (tree.failure != MPageTree::Failure::None) {
        // What was shown stays: it is still worth choosing from.
        m_Status->setStyleSheet(QStringLiteral("color: #b00020"));
        m_Status->setText(
            tree.failure == MPageTree::Failure::TooManyPages
                ? LocalizedString(QStringLiteral("strPickerTooMany")).arg(k_MaxListedPages)
                : LocalizedString(tree.failureKey));
        return;
    }
    const QString chosen = m_Page.link;
    m_Model->clear();
    int pages = 0;
    for (const MTreeNotebook &notebook : tree.notebooks) {
        QStandardItem *notebookItem = NewItem(notebook.name, Kind::Notebook);
        m_Model->appendRow(notebookItem);
        for (const MTreeSection &section : notebook.sections) {
            QStandardItem *parent = notebookItem;
            for (const QString &group : section.groups)
                parent = GroupItem(parent, group);
            QStandardItem *sectionItem = NewItem(section.name, Kind::Section);
            parent->appendRow(sectionItem);
            for (const MTreePage &page : section.pages) {
                QStandardItem *pageItem = NewItem(page.title, Kind::Page);
                pageItem->setData(page.link, LinkRole);
                pageItem->setData(section.name, SectionRole);
                sectionItem->appendRow(pageItem);
                ++pages;
            }
        }
    }
    m_Status->setText(pages == 0 ? LocalizedString(QStringLiteral("strPickerNoPages")) : QString());
    ApplyFilter();
    // The page chosen before a refresh stays chosen when it is still there.
    if (!chosen.isEmpty()) {
        const QModelIndexList same = m_Shown->match(m_Shown->index(0, 0), LinkRole, chosen, 1,
                                                    Qt::MatchExactly | Qt::MatchRecursive);
        if (!same.isEmpty())
            m_Tree->setCurrentIndex(same.first());
    }
}

void MWinPagePicker::ApplyFilter()
{
    static_cast<PageFilter *>(m_Shown)->setText(m_Filter->text());
    if (m_Filter->text().trimmed().isEmpty()) {
        m_Tree->collapseAll();
        m_Tree->expandToDepth(0);
    } else {
        m_Tree->expandAll();
    }
    // The first page left is the one Enter opens.
    const QModelIndexList first = m_Shown->match(m_Shown->index(0, 0), KindRole, int(Kind::Page), 1,
                                                 Qt::MatchExactly | Qt::MatchRecursive);
    m_Tree->setCurrentIndex(first.isEmpty() ? QModelIndex() : first.first());
    TakeCurrent();
}

void MWinPagePicker::TakeCurrent()
{
    const QModelIndex index = m_Tree->currentIndex();
    m_Page = OneNotePageInfo();
    if (index.isValid() && Kind(index.data(KindRole).toInt()) == Kind::Page) {
        OneNotePageInfo page;
        if (ReadAnyPageLink(index.data(LinkRole).toString(), page).isEmpty())
            m_Page = page;
    }
    m_Buttons->button(QDialogButtonBox::Open)->setEnabled(!m_Page.clientId.isEmpty());
}

bool MWinPagePicker::eventFilter(QObject *watched, QEvent *event)
{
    // Up and down in the filter move through the tree, so typing and choosing need no mouse.
    if (watched == m_Filter && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (key == Qt::Key_Down || key == Qt::Key_Up || key == Qt::Key_PageDown
            || key == Qt::Key_PageUp) {
            m_Tree->setFocus();
            QKeyEvent copy(QEvent::KeyPress, key, static_cast<QKeyEvent *>(event)->modifiers());
            QCoreApplication::sendEvent(m_Tree, &copy);
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

} // namespace Cogitra
