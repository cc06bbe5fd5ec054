#pragma once

#include "app/KTLayersPaletteInterface.h"
#include "editor/KTLayersPaletteDelegate.h"
#include "editor/KTLayersPaletteItem.h"

#include <QObject>
#include <QPointer>
#include <QSizeF>
#include <QUndoStack>

#include <functional>
#include <memory>

class Frame;
class KTLayer;
class KTLayersPaletteView;
class KTTemplate;
class QAction;
class QMenu;
class XSViewController;

// Gives the layers strip its meaning: one item per layer of the document's
// design, kept in three groups in the design's order (overlays, frames,
// photo), and carries selection, reordering and deletion over to the design.
// The one way the editor's other parts add, select and remove layers.
class KTLayersPaletteController : public QObject, public KTLayersPaletteDelegate, public KTLayersPaletteInterface
{
    Q_OBJECT

public:
    static constexpr const char *kLayerSelectedNotification = "KTLayerSelectedNotification";
    static constexpr const char *kShowFrameInLibraryTitle = "Show frame in Library";
    static constexpr const char *kRemoveLayerTitle = "Remove layer";

    explicit KTLayersPaletteController(QObject *parent = nullptr);
    ~KTLayersPaletteController() override;

    // Wiring (the canvas holds the strip).
    KTLayersPaletteView *layersPalette() const;
    void setLayersPalette(KTLayersPaletteView *palette);
    // The canvas controller: its window, and the design it shows, asked for
    // each time as the canvas changes designs.
    XSViewController *designViewController() const;
    void setDesignViewController(XSViewController *controller,
                                 std::function<std::shared_ptr<KTTemplate>()> docTemplate);
    // Registers with the window controller of the canvas controller.
    void awakeFromNib();

    qint64 countOfOverlays() const { return m_countOfOverlays; }
    qint64 countOfFrames() const { return m_countOfFrames; }
    std::shared_ptr<KTLayer> selectedRepresentedObject() const override { return m_selected.lock(); }

    void buildEmptyPalette() override;
    void addFrameLayer(const std::shared_ptr<KTLayer> &layer) override;
    void addOverlayLayer(const std::shared_ptr<KTLayer> &layer) override;
    void setImageLayer(const std::shared_ptr<KTLayer> &layer) override;
    void selectLayer(const KTLayer *layer) override;
    void removeLayer(const KTLayer *layer) override;
    void layerWasAdded(const std::shared_ptr<KTLayer> &layer) override;
    void refreshIconForLayer(const KTLayer *layer);

    // The strip's items for a whole design, walked from the photo outwards,
    // with the photo selected.
    void showDesign(const KTTemplate &design);
    // Where additions and removals are recorded for Undo: the set stack, else the undo
    // stack of the window's document.
    QUndoStack *undoStack() const override;
    void setUndoStack(QUndoStack *stack) { m_undoStack = stack; }

    // Context menu actions; the action carries the frame or the index.
    void showFrameInLibrary(QAction *menuItem);
    void removeLayerWithMenuItem(QAction *menuItem);

    // The design the strip edits: the canvas document's.
    std::shared_ptr<KTTemplate> docTemplate() const;

    // The item of a layer, its icon cropped square to the strip's icon size.
    KTLayersPaletteItemPtr itemCommonInitWithLayer(const std::shared_ptr<KTLayer> &layer) const;
    QImage iconForLayer(const KTLayer &layer) const;

    // KTLayersPaletteDelegate
    void moveItemFromIndex(qsizetype from, qsizetype to, const std::shared_ptr<KTLayer> &object,
                           const std::shared_ptr<KTLayer> &toObject) override;
    void selectedObject(const std::shared_ptr<KTLayer> &object, qsizetype index) override;
    bool willDeleteObject(const std::shared_ptr<KTLayer> &object, qsizetype index) override;
    bool willMoveObject(const std::shared_ptr<KTLayer> &object, qsizetype index) override;
    void deletedObject(const std::shared_ptr<KTLayer> &object, qsizetype index) override;
    QMenu *menuForRepresentedObject(const std::shared_ptr<KTLayer> &object, qsizetype index) override;

    // Layer kinds as the strip groups them (by class, subclasses included).
    static bool isImageLayer(const KTLayer *layer);
    static bool isFrameLayer(const KTLayer *layer);
    static bool isOverlayLayer(const KTLayer *layer);

    // The shell's view of the strip (focus on layers).
    QWidget *layersPaletteWidget() const override;

signals:
    // "Show frame in Library": the window shows the frame in its library panel.
    void showFrameInLibraryRequested(Frame *frame);

private:
    QSizeF iconSize() const;
    // The strip shows the layer's icon again whenever the layer makes a new one.
    void followIconOf(const std::shared_ptr<KTLayer> &layer);
    void layerIconChanged();

    QPointer<KTLayersPaletteView> m_layersPalette;
    QPointer<XSViewController> m_designViewController;
    std::function<std::shared_ptr<KTTemplate>()> m_docTemplate;
    QPointer<QUndoStack> m_undoStack;
    bool m_replayingUndo = false;
    friend class KTLayerListCommand;
    qint64 m_countOfOverlays = 0;
    qint64 m_countOfFrames = 0;
    std::weak_ptr<KTLayer> m_selected;
};
