#include "frameeditor/KTEAttributesTableModel.h"

#include "stores/FrameAttribute.h"

#include <QColor>
#include <QImage>
#include <QPixmap>

KTEAttributesTableModel::KTEAttributesTableModel(Rows *rows, QObject *parent)
    : QAbstractTableModel(parent)
    , m_rows(rows)
{
}

void KTEAttributesTableModel::reload()
{
    beginResetModel();
    endResetModel();
}

void KTEAttributesTableModel::valuesChanged()
{
    const int rows = rowCount();
    if (rows > 0)
        emit dataChanged(index(0, 0), index(rows - 1, ValueColumn));
}

int KTEAttributesTableModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() || !m_rows ? 0 : m_rows->numberOfRows();
}

int KTEAttributesTableModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : 2;
}

QVariant KTEAttributesTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    return section == PropertyColumn ? tr(kPropertyColumn) : tr(kValueColumn);
}

QVariant KTEAttributesTableModel::data(const QModelIndex &index, int role) const
{
    if (!m_rows || !index.isValid())
        return {};
    const int row = index.row();
    if (index.column() == PropertyColumn)
        return role == Qt::DisplayRole ? QVariant(m_rows->propertyForRow(row)) : QVariant();
    const int kind = m_rows->valueKindForRow(row);
    if (role == KindRole)
        return kind;
    const QVariant value = m_rows->valueForRow(row);
    switch (kind) {
    case FrameAttribute::KindImage:
        return role == Qt::DecorationRole ? value : QVariant();
    case FrameAttribute::KindBoolean:
        return role == Qt::CheckStateRole ? QVariant(value.toBool() ? Qt::Checked : Qt::Unchecked) : QVariant();
    case FrameAttribute::KindColor:
        return role == Qt::EditRole ? value : QVariant();
    default:
        return role == Qt::DisplayRole || role == Qt::EditRole ? QVariant(value.toString()) : QVariant();
    }
}

bool KTEAttributesTableModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (!m_rows || !index.isValid() || index.column() != ValueColumn)
        return false;
    if (role == Qt::CheckStateRole)
        return m_rows->setValueForRow(index.row(), value.toInt() == Qt::Checked);
    if (role != Qt::EditRole)
        return false;
    return m_rows->setValueForRow(index.row(), value);
}

Qt::ItemFlags KTEAttributesTableModel::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDropEnabled;
    if (index.column() != ValueColumn || !m_rows)
        return flags;
    switch (m_rows->valueKindForRow(index.row())) {
    case FrameAttribute::KindBoolean: return flags | Qt::ItemIsUserCheckable;
    case FrameAttribute::KindImage: return flags;
    default: return flags | Qt::ItemIsEditable;
    }
}

QStringList KTEAttributesTableModel::mimeTypes() const
{
    return {QStringLiteral("FrameImages")};
}

int KTEAttributesTableModel::dropRow(int row, const QModelIndex &parent) const
{
    // A drop between rows goes onto the row itself; beyond the end, onto the last.
    if (parent.isValid())
        return parent.row();
    const int rows = rowCount();
    return row < 0 || row >= rows ? rows - 1 : row;
}

bool KTEAttributesTableModel::canDropMimeData(const QMimeData *data, Qt::DropAction, int row, int,
                                              const QModelIndex &parent) const
{
    return m_rows && m_rows->allowDropOnRow(dropRow(row, parent), data);
}

bool KTEAttributesTableModel::dropMimeData(const QMimeData *data, Qt::DropAction, int row, int,
                                           const QModelIndex &parent)
{
    return m_rows && m_rows->acceptDrop(dropRow(row, parent), data);
}
