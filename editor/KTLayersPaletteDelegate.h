#pragma once

#include <QtGlobal>

#include <memory>

class KTLayer;
class QMenu;

// What the layers strip tells the object that gives its items a meaning.
// The strip changes first and reports afterwards, except for deletions,
// which it asks about before.
class KTLayersPaletteDelegate
{
public:
    virtual ~KTLayersPaletteDelegate() = default;

    virtual void moveItemFromIndex(qsizetype from, qsizetype to, const std::shared_ptr<KTLayer> &object,
                                   const std::shared_ptr<KTLayer> &toObject) = 0;
    virtual void selectedObject(const std::shared_ptr<KTLayer> &object, qsizetype index) = 0;
    virtual bool willDeleteObject(const std::shared_ptr<KTLayer> &object, qsizetype index) = 0;
    virtual void deletedObject(const std::shared_ptr<KTLayer> &object, qsizetype index) = 0;
    // May the item be moved? Asked before a reordering is carried out, so the
    // strip never runs ahead of a design that cannot follow.
    virtual bool willMoveObject(const std::shared_ptr<KTLayer> &object, qsizetype index)
    {
        Q_UNUSED(object);
        Q_UNUSED(index);
        return true;
    }
    // A new menu the caller owns, or null for none.
    virtual QMenu *menuForRepresentedObject(const std::shared_ptr<KTLayer> &object, qsizetype index) = 0;
};
