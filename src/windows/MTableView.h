#pragma once

#include "util/MUtils.h"

#include <QList>
#include <QTableView>

#include <memory>

namespace Cogitra {

// A table of name/value records that shows the names and hands out the values: a click
// into the table, or Ctrl+C, puts the selected record's value on the clipboard. The list
// is shared with whoever serves the rows (MTabViewColumn), not copied.
class MTableView : public QTableView
{
    Q_OBJECT
public:
    using Items = std::shared_ptr<QList<MNameValue>>;

    explicit MTableView(QWidget *parent = nullptr);

    [[nodiscard]] Items m_ArrayItems() const { return m_Items; }
    void setM_ArrayItems(Items items) { m_Items = std::move(items); }

    // False, and the clipboard untouched, when no record of the list is selected.
    bool CopySelectedValue();

protected:
    bool event(QEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    Items m_Items;
};

} // namespace Cogitra
