#pragma once

#include <QAbstractListModel>
#include <QPointer>

class KTEImagesController;

// One group of the graphics browser ("All images", or "Unused" and "Used"):
// a run of the controller's items shown as titled thumbnails. Drags out
// carry the pictures' GUIDs; drops of picture files add them.
class KTEImagesGroupModel : public QAbstractListModel
{
    Q_OBJECT
public:
    KTEImagesGroupModel(KTEImagesController *controller, QObject *parent = nullptr);

    // The run of the controller's items this group shows.
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
    QPointer<KTEImagesController> m_controller;
    int m_first = 0;
    int m_count = 0;
};
