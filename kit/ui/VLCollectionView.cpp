#include "kit/ui/VLCollectionView.h"

#include "kit/ui/VLCollectionViewDelegate.h"

#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>

VLCollectionView::VLCollectionView(QWidget *parent)
    : QListView(parent)
{
    setViewMode(QListView::IconMode);
    setResizeMode(QListView::Adjust);
    setMovement(QListView::Static);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
}

VLCollectionViewDelegate *VLCollectionView::delegateInterface() const
{
    return dynamic_cast<VLCollectionViewDelegate *>(m_delegate.data());
}

bool VLCollectionView::isForwardedKey(const QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_Backspace: // the Mac's Delete key
    case Qt::Key_Delete:
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return true;
    default:
        return event->text() == QStringLiteral(" ");
    }
}

void VLCollectionView::keyPressEvent(QKeyEvent *event)
{
    if (isForwardedKey(event)) {
        event->ignore(); // travels on to the parent widget
        return;
    }
    QListView::keyPressEvent(event);
}

void VLCollectionView::mouseDoubleClickEvent(QMouseEvent *event)
{
    QListView::mouseDoubleClickEvent(event);
    VLCollectionViewDelegate *delegate = delegateInterface();
    if (!delegate)
        return;
    const QModelIndex index = indexAt(event->position().toPoint());
    if (index.isValid())
        delegate->collectionViewDidDoubleClickOnItemAtIndexPath(this, index);
}

void VLCollectionView::contextMenuEvent(QContextMenuEvent *event)
{
    if (VLCollectionViewDelegate *delegate = delegateInterface()) {
        if (const std::optional<QMenu *> menu = delegate->collectionViewMenuForSelectedItems(this)) {
            if (*menu)
                (*menu)->popup(event->globalPos());
            event->accept();
            return;
        }
    }
    QListView::contextMenuEvent(event);
}
