#pragma once

#include "MTableView.h"

#include <QWidget>

#include <memory>

namespace Ui {
class MTabViewColumn;
}

namespace Cogitra {

namespace Internal {
class NameValueRows;
}

// Serves its MTableView the rows of a list of name/value records: one row per record,
// showing the name. The table shares the very list this holds, so a click into the table
// copies the value of the record the user sees selected.
class MTabViewColumn : public QWidget
{
    Q_OBJECT
public:
    explicit MTabViewColumn(QWidget *parent = nullptr);
    ~MTabViewColumn() override;

    [[nodiscard]] MTableView *tableView() const;
    [[nodiscard]] MTableView::Items m_ArrayItems() const { return m_Items; }
    // Hands the same list to the table, so the two never disagree about what is shown.
    void setM_ArrayItems(MTableView::Items items);

    // Call after changing the list in place; the table then shows it as it is.
    void reloadData();

private:
    std::unique_ptr<Ui::MTabViewColumn> m_Ui;
    MTableView::Items m_Items;
    Internal::NameValueRows *m_Model = nullptr;
};

} // namespace Cogitra
