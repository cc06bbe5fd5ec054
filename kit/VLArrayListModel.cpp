#include "kit/VLArrayListModel.h"

VLArrayListModel::VLArrayListModel(QObject *parent)
    : QAbstractListModel(parent)
{
}

void VLArrayListModel::setItems(const QVariantList &items)
{
    beginResetModel();
    m_items = items;
    endResetModel();
}

void VLArrayListModel::setDisplayFunction(DisplayFunction function)
{
    m_display = std::move(function);
    if (!m_items.isEmpty())
        emit dataChanged(index(0), index(int(m_items.size()) - 1));
}

int VLArrayListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_items.size());
}

QVariant VLArrayListModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() < 0 || index.row() >= m_items.size())
        return {};
    const QVariant &item = m_items.at(index.row());
    if (role == ItemRole)
        return item;
    if (m_display)
        return m_display(item, role);
    if (role == Qt::DisplayRole) {
        if (item.typeId() == QMetaType::QVariantMap)
            return item.toMap().value(QStringLiteral("name"));
        return item.toString();
    }
    return {};
}

bool VLArrayListModel::removeItem(int row)
{
    if (row < 0 || row >= m_items.size())
        return false;
    beginRemoveRows({}, row, row);
    m_items.removeAt(row);
    endRemoveRows();
    return true;
}

bool VLArrayListModel::insertItem(int row, const QVariant &item)
{
    if (row < 0 || row > m_items.size())
        return false;
    beginInsertRows({}, row, row);
    m_items.insert(row, item);
    endInsertRows();
    return true;
}

bool VLArrayListModel::moveItem(int from, int to)
{
    const int count = int(m_items.size());
    if (from < 0 || from >= count || to < 0 || to >= count)
        return false;
    if (from == to)
        return true;
    // Qt's destination is the row before which the item lands, counted
    // before the move.
    const int destination = to > from ? to + 1 : to;
    if (!beginMoveRows({}, from, from, {}, destination))
        return false;
    m_items.move(from, to);
    endMoveRows();
    return true;
}

bool VLArrayListModel::replaceItem(int row, const QVariant &item)
{
    if (row < 0 || row >= m_items.size())
        return false;
    m_items[row] = item;
    emit dataChanged(index(row), index(row));
    return true;
}
