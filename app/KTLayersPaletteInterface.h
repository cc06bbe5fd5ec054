#pragma once

#include <memory>

class KTLayer;
class QUndoStack;
class QWidget;

// What the shell asks of the window's layers palette controller, which the
// editor makes with the canvas. The controller is a QObject that registers
// itself with its window controller and posts "KTLayerSelectedNotification"
// with that QObject as sender.
class KTLayersPaletteInterface
{
public:
    virtual ~KTLayersPaletteInterface() = default;
    virtual void buildEmptyPalette() = 0;
    virtual void setImageLayer(const std::shared_ptr<KTLayer> &layer) = 0;
    virtual void addFrameLayer(const std::shared_ptr<KTLayer> &layer) = 0;
    virtual void addOverlayLayer(const std::shared_ptr<KTLayer> &layer) = 0;
    virtual void selectLayer(const KTLayer *layer) = 0;
    virtual void removeLayer(const KTLayer *layer) = 0;
    // Records for Undo a layer just added to the design and the strip.
    virtual void layerWasAdded(const std::shared_ptr<KTLayer> &layer) = 0;
    // Where those records go (null when nothing is recorded), so that a
    // caller can group several changes into one Undo step.
    virtual QUndoStack *undoStack() const { return nullptr; }
    virtual std::shared_ptr<KTLayer> selectedRepresentedObject() const = 0;
    // The strip of layer icons, which "focus on layers" gives the keyboard.
    virtual QWidget *layersPaletteWidget() const = 0;
};
