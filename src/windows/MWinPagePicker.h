#pragma once

#include "onenote/OneNotePageInfo.h"

#include <QDialog>

#include <thread>

class QDialogButtonBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSortFilterProxyModel;
class QStandardItemModel;
class QTreeView;

namespace Cogitra {

struct MPageTree;

// The page picker: the signed-in account's notebooks, section groups, sections and pages as
// a tree, read off the interface's thread from the notebook tree and page lists (cached as
// finding a page caches them). Typing in the filter narrows the tree to the pages whose
// title or section holds the text; Open, Enter or a double click takes the chosen page.
class MWinPagePicker : public QDialog
{
    Q_OBJECT
public:
    explicit MWinPagePicker(QWidget *parent = nullptr);
    // Stops a read still going and waits for its thread, which reports to this window: a
    // window closed during a slow read closes at once.
    ~MWinPagePicker() override;
    MWinPagePicker(const MWinPagePicker &) = delete;
    MWinPagePicker &operator=(const MWinPagePicker &) = delete;

    // Reads the tree; fetchAnew reads past fresh cache files (the Refresh button).
    void Load(bool fetchAnew);

    // The chosen page (empty until a page is current).
    [[nodiscard]] const OneNotePageInfo &page() const { return m_Page; }
    [[nodiscard]] bool isLoading() const { return m_Reader.joinable(); }
    [[nodiscard]] QLineEdit *filterField() const { return m_Filter; }
    [[nodiscard]] QTreeView *treeView() const { return m_Tree; }
    [[nodiscard]] QLabel *status() const { return m_Status; }
    [[nodiscard]] QDialogButtonBox *buttons() const { return m_Buttons; }
    [[nodiscard]] QPushButton *refreshButton() const { return m_Refresh; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void ShowTree(const MPageTree &tree);
    void ApplyFilter();
    void TakeCurrent();

    QLineEdit *m_Filter;
    QTreeView *m_Tree;
    QLabel *m_Status;
    QDialogButtonBox *m_Buttons;
    QPushButton *m_Refresh;
    QStandardItemModel *m_Model;
    QSortFilterProxyModel *m_Shown;
    OneNotePageInfo m_Page;
    std::jthread m_Reader;
};

} // namespace Cogitra
