#include "MTabViewColumn.h"

#include "ui_MTabViewColumn.h"

#include <QAbstractTableModel>

#include <algorithm>
#include <climits>

namespace Cogitra {

namespace Internal {

// Reads the rows straight from the shared list; whoever changes the list resets it.
class NameValueRows : public QAbstractTableModel
{
public:
    using QAbstractTableModel::QAbstractTableModel;

    void setItems(MTableView::Items items)
    {
        beginResetModel();
        m_Items = std::move(items);
        endResetModel();
    }
    void reload()
    {
        beginResetModel();
        endResetModel();
    }

    int rowCount(const QModelIndex &parent = {}) const override
    {
        if (parent.isValid() || !m_Items)
            return 0;
        return static_cast<int>(std::min<qsizetype>(m_Items->size(), INT_MAX));
    }
    int columnCount(const QModelIndex &parent = {}) const override
    {
        return parent.isValid() ? 0 : 1;
    }
    QVariant data(const QModelIndex &index, int role) const override
    {
        if (!m_Items || !index.isValid() || index.row() >= m_Items->size())
            return {};
        if (role == Qt::DisplayRole || role == Qt::ToolTipRole)
            return m_Items->at(index.row()).name;
        return {};
    }

private:
    MTableView::Items m_Items;
};

} // namespace Internal

MTabViewColumn::MTabViewColumn(QWidget *parent)
    : QWidget(parent)
    , m_Ui(std::make_unique<Ui::MTabViewColumn>())
{
    m_Ui->setupUi(this);
    m_Model = new Internal::NameValueRows(this);
    m_Ui->tableView->setModel(m_Model);
    setM_ArrayItems(std::make_shared<QList<MNameValue>>());
}

MTabViewColumn::~MTabViewColumn() = default;

MTableView *MTabViewColumn::tableView() const
{
    return m_Ui->tableView;
}

void MTabViewColumn::setM_ArrayItems(MTableView::Items items)
{
    m_Items = std::move(items);
    m_Ui->tableView->setM_ArrayItems(m_Items);
    m_Model->setItems(m_Items);
}

void MTabViewColumn::reloadData()
{
    m_Model->reload();
}

} // namespace Cogitra
