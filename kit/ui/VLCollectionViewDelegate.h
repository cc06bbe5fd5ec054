#pragma once

#include <QModelIndex>

#include <optional>

class QMenu;
class VLCollectionView;

// What a collection view hands to its delegate. Both calls are optional:
// the defaults mean "not implemented".
class VLCollectionViewDelegate
{
public:
    virtual ~VLCollectionViewDelegate() = default;
    virtual void collectionViewDidDoubleClickOnItemAtIndexPath(VLCollectionView *view,
                                                               const QModelIndex &indexPath)
    {
        Q_UNUSED(view);
        Q_UNUSED(indexPath);
    }
    // The context menu of the selected items (null for none); nullopt when
    // the delegate has no say and the view's own menu handling runs.
    virtual std::optional<QMenu *> collectionViewMenuForSelectedItems(VLCollectionView *view)
    {
        Q_UNUSED(view);
        return std::nullopt;
    }
};
