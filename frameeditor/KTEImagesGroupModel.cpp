#include "frameeditor/KTEImagesGroupModel.h"

#include <QIcon>
#include <QPixmap>

KTEImagesGroupModel::KTEImagesGroupModel(Items *items, QObject *parent)
    : QAbstractListModel(parent)
    , m_items(items)
{
}

void KTEImagesGroupModel::setRange(int first, int count)
{
    beginResetModel();
    m_first = first;
    m_count = count;
    endResetModel();
}

void KTEImagesGroupModel::thumbnailReady(const QString &imageID)
{
    if (!m_items)
        return;
    const auto &items = m_items->imagesArray();
    for (int row = 0; row < m_count; ++row) {
        const size_t i = size_t(m_first + row);
        if (i < items.size() && items[i].imageID() == imageID)
            emit dataChanged(index(row), index(row), {Qt::DecorationRole});
    }
}

int KTEImagesGroupModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_count;
}

QVariant KTEImagesGroupModel::data(const QModelIndex &index, int role) const
{
    if (!m_items || !index.isValid())
        return {};
    const auto &items = m_items->imagesArray();
    const size_t i = size_t(m_first + index.row());
    if (i >= items.size())
        return {};
    const KTEImageItem &item = items[i];
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
        return item.imageName();
    case Qt::DecorationRole:
        return QIcon(m_items->thumbnailFor(item));
    default:
        return {};
    }
}

Qt::ItemFlags KTEImagesGroupModel::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::ItemIsDropEnabled;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled;
}

QStringList KTEImagesGroupModel::mimeTypes() const
{
    return {QStringLiteral("text/uri-list")};
}

QMimeData *KTEImagesGroupModel::mimeData(const QModelIndexList &indexes) const
{
    if (!m_items)
        return nullptr;
    QList<int> rows;
    for (const QModelIndex &index : indexes)
        rows << m_first + index.row();
    return m_items->mimeDataForIndexes(rows);
}

bool KTEImagesGroupModel::canDropMimeData(const QMimeData *data, Qt::DropAction, int, int, const QModelIndex &) const
{
    return m_items && m_items->allowDrop(data);
}

bool KTEImagesGroupModel::dropMimeData(const QMimeData *data, Qt::DropAction, int, int, const QModelIndex &)
{
    return m_items && m_items->performDrop(data);
}
