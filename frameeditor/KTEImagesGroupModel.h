#pragma once

#include "frameeditor/KTEImageItem.h"

#include <QAbstractListModel>
#include <QPixmap>

#include <vector>

class QMimeData;

// One group of the graphics browser ("All images", or "Unused" and "Used"):
// a run of the browser's items shown as titled thumbnails. Drags out
// carry the pictures' GUIDs; drops of picture files add them.
class KTEImagesGroupModel : public QAbstractListModel
{
    Q_OBJECT
public:
    // The browser (the images controller) whose items the groups show; it
    // must outlive its groups.
    class Items
    {
    public:
        virtual ~Items() = default;
        virtual const std::vector<KTEImageItem> &imagesArray() const = 0;
        virtual QPixmap thumbnailFor(const KTEImageItem &item) = 0;
        // Positions in imagesArray.
        virtual QMimeData *mimeDataForIndexes(const QList<int> &indexes) const = 0;
        virtual bool allowDrop(const QMimeData *data) const = 0;
        virtual bool performDrop(const QMimeData *data) = 0;
    };

    explicit KTEImagesGroupModel(Items *items, QObject *parent = nullptr);

    // The run of the browser's items this group shows.
    void setRange(int first, int count);
    int first() const { return m_first; }
    // Thumbnails of these GUIDs were made: their rows redraw.
    void thumbnailReady(const QString &imageID);

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    QStringList mimeTypes() const override;
    QMimeData *mimeData(const QModelIndexList &indexes) const override;
    Qt::DropActions supportedDragActions() const override { return Qt::CopyAction; }
    Qt::DropActions supportedDropActions() const override { return Qt::CopyAction; }
    bool canDropMimeData(const QMimeData *data, Qt::DropAction action, int row, int column,
                         const QModelIndex &parent) const override;
    bool dropMimeData(const QMimeData *data, Qt::DropAction action, int row, int column,
                      const QModelIndex &parent) override;

private:
    Items *m_items;
    int m_first = 0;
    int m_count = 0;
};
