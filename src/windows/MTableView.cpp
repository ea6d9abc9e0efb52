#include "MTableView.h"

#include <QApplication>
#include <QClipboard>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>

namespace Cogitra {

MTableView::MTableView(QWidget *parent)
    : QTableView(parent)
{
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    horizontalHeader()->setStretchLastSection(true);
}

bool MTableView::CopySelectedValue()
{
    if (!m_Items || !selectionModel())
        return false;
    const QModelIndexList rows = selectionModel()->selectedRows();
    if (rows.isEmpty())
        return false;
    // The list may have changed under a model that has not been reset yet.
    const qsizetype row = rows.first().row();
    if (row < 0 || row >= m_Items->size())
        return false;
    QClipboard *clipboard = QApplication::clipboard();
    clipboard->clear();
    clipboard->setText(m_Items->at(row).value);
    return true;
}

bool MTableView::event(QEvent *event)
{
    // Ctrl+C copies the value here, even where a window or menu shortcut claims the key.
    if (event->type() == QEvent::ShortcutOverride
        && static_cast<QKeyEvent *>(event)->matches(QKeySequence::Copy)) {
        event->accept();
        return true;
    }
    return QTableView::event(event);
}

void MTableView::mousePressEvent(QMouseEvent *event)
{
    // The press selects the row under it first, so the value copied is the clicked one.
    QTableView::mousePressEvent(event);
    (void)CopySelectedValue();
}

void MTableView::keyPressEvent(QKeyEvent *event)
{
    if (event->matches(QKeySequence::Copy)) {
        (void)CopySelectedValue();
        event->accept();
        return;
    }
    QTableView::keyPressEvent(event);
}

} // namespace Cogitra
