#include "editor/KTLayersPaletteController.h"

#include "design/KTFrameLayer.h"
#include "design/KTImageLayer.h"
#include "design/KTOverlayLayer.h"
#include "design/KTLayer.h"
#include "design/KTTemplate.h"
#include "design/VLImage.h"
#include "editor/KTLayersPaletteView.h"
#include "kit/ui/XSViewController.h"
#include "platform/NotificationCenter.h"
#include "platform/ui/Document.h"
#include "platform/ui/WindowController.h"

#include <QAction>
#include <QMenu>
#include <QUndoCommand>

#include <algorithm>


KTLayersPaletteController::KTLayersPaletteController(QObject *parent)
    : QObject(parent)
{
}

KTLayersPaletteController::~KTLayersPaletteController()
{
    platform::NotificationCenter::defaultCenter().removeObservers(this);
    if (m_layersPalette && m_layersPalette->delegate() == this)
        m_layersPalette->setDelegate(nullptr);
}

KTLayersPaletteView *KTLayersPaletteController::layersPalette() const
{
    return m_layersPalette;
}

XSViewController *KTLayersPaletteController::designViewController() const
{
    return m_designViewController;
}

void KTLayersPaletteController::setLayersPalette(KTLayersPaletteView *palette)
{
    if (m_layersPalette && m_layersPalette->delegate() == this)
        m_layersPalette->setDelegate(nullptr);
    m_layersPalette = palette;
    if (palette)
        palette->setDelegate(this);
}

void KTLayersPaletteController::setDesignViewController(XSViewController *controller,
                                                        std::function<std::shared_ptr<KTTemplate>()> docTemplate)
{
    m_designViewController = controller;
    m_docTemplate = std::move(docTemplate);
}

void KTLayersPaletteController::awakeFromNib()
{
    if (!m_designViewController)
        return;
    // The window controller learns of it when it asks for it by name.
    if (auto *windowController = m_designViewController->windowController()) {
        if (windowController->metaObject()->indexOfMethod("setLayersPaletteController(KTLayersPaletteController*)") >= 0)
            QMetaObject::invokeMethod(windowController, "setLayersPaletteController", Q_ARG(KTLayersPaletteController *, this));
    }
}

bool KTLayersPaletteController::isImageLayer(const KTLayer *layer)
{
    return qobject_cast<const KTImageLayer *>(layer) != nullptr;
}

bool KTLayersPaletteController::isFrameLayer(const KTLayer *layer)
{
    return qobject_cast<const KTFrameLayer *>(layer) != nullptr;
}

bool KTLayersPaletteController::isOverlayLayer(const KTLayer *layer)
{
    return qobject_cast<const KTOverlayLayer *>(layer) != nullptr;
}

std::shared_ptr<KTTemplate> KTLayersPaletteController::docTemplate() const
{
    return m_designViewController && m_docTemplate ? m_docTemplate() : nullptr;
}

QSizeF KTLayersPaletteController::iconSize() const
{
    return m_layersPalette ? m_layersPalette->iconSize() : QSizeF(76, 76);
}

QImage KTLayersPaletteController::iconForLayer(const KTLayer &layer) const
{
    const auto icon = layer.icon();
    const QSizeF size = iconSize();
    if (!icon)
        return {};
    const QSizeF o = icon->originalSize();
    const double w = o.width(), h = o.height();
    if (w <= 0 || h <= 0)
        return {};
    // The centred square of the picture.
    const QRectF square = h > w ? QRectF(0, (h - w) / 2, w, w) : QRectF((w - h) / 2, 0, h, h);
    return icon->newCGImageOfSize(size, square);
}

void KTLayersPaletteController::followIconOf(const std::shared_ptr<KTLayer> &layer)
{
    connect(layer.get(), &KTLayer::iconChanged, this, &KTLayersPaletteController::layerIconChanged,
            Qt::UniqueConnection);
}

void KTLayersPaletteController::layerIconChanged()
{
    refreshIconForLayer(qobject_cast<KTLayer *>(sender()));
}

KTLayersPaletteItemPtr KTLayersPaletteController::itemCommonInitWithLayer(const std::shared_ptr<KTLayer> &layer) const
{
    return std::make_shared<KTLayersPaletteItem>(KTLayersPaletteItem::LayerItem, layer,
                                                 layer ? iconForLayer(*layer) : QImage());
}

void KTLayersPaletteController::buildEmptyPalette()
{
    m_countOfOverlays = 0;
    m_countOfFrames = 0;
    if (auto selected = m_selected.lock())
        selected->setIsSelected(false);
    m_selected.reset();
    if (m_layersPalette)
        m_layersPalette->setItems({KTLayersPaletteItem::separator(), KTLayersPaletteItem::separator()});
}

void KTLayersPaletteController::addFrameLayer(const std::shared_ptr<KTLayer> &layer)
{
    if (!layer || !m_layersPalette)
        return;
    m_layersPalette->insertItem(itemCommonInitWithLayer(layer), m_countOfOverlays + 1);
    followIconOf(layer);
    ++m_countOfFrames;
}

void KTLayersPaletteController::addOverlayLayer(const std::shared_ptr<KTLayer> &layer)
{
    if (!layer || !m_layersPalette)
        return;
    m_layersPalette->insertItem(itemCommonInitWithLayer(layer), 0);
    followIconOf(layer);
    ++m_countOfOverlays;
}

void KTLayersPaletteController::setImageLayer(const std::shared_ptr<KTLayer> &layer)
{
    if (!layer || !m_layersPalette)
        return;
    const qsizetype index = m_countOfOverlays + m_countOfFrames + 2;
    const auto item = itemCommonInitWithLayer(layer);
    followIconOf(layer);
    if (index < m_layersPalette->items().size())
        m_layersPalette->replaceItemAtIndex(index, item);
    else
        m_layersPalette->insertItem(item, index);
}

void KTLayersPaletteController::showDesign(const KTTemplate &design)
{
    buildEmptyPalette();
    design.doFromInnerLayer([this](const KTTemplate::LayerPtr &layer) {
        if (isImageLayer(layer.get()))
            setImageLayer(layer);
        else if (isFrameLayer(layer.get()))
            addFrameLayer(layer);
        else if (isOverlayLayer(layer.get()))
            addOverlayLayer(layer);
        return true;
    });
    if (auto image = design.imageLayer())
        selectLayer(image.get());
}

void KTLayersPaletteController::selectLayer(const KTLayer *layer)
{
    if (m_layersPalette && layer)
        m_layersPalette->setSelectedRepresentedObject(layer);
}

// A layer added to the design (a frame from the library, an overlay) or
// taken out of it through the strip. Undo does the opposite, a layer coming
// back in its place and selected; Redo does it again.
class KTLayerListCommand : public QUndoCommand
{
public:
    KTLayerListCommand(bool added, KTLayersPaletteController *palette, const std::shared_ptr<KTTemplate> &design,
                       const std::shared_ptr<KTLayer> &layer, qsizetype index)
        : QUndoCommand(added ? QObject::tr("Add Layer") : QObject::tr("Remove Layer"))
        , m_added(added)
        , m_palette(palette)
        , m_design(design)
        , m_layer(layer)
        , m_index(index)
    {
    }
    void undo() override { putIn(!m_added); }
    void redo() override
    {
        if (m_first) { // the change itself has already happened
            m_first = false;
            return;
        }
        putIn(m_added);
    }

private:
    void putIn(bool in)
    {
        const auto design = m_design.lock();
        if (!design || !m_palette || (design->indexOfLayer(m_layer.get()) >= 0) == in)
            return;
        if (in) {
            design->insertLayer(m_layer, std::min(m_index, design->layers().size()));
            m_palette->showDesign(*design);
            m_palette->selectLayer(m_layer.get());
        } else {
            m_palette->m_replayingUndo = true;
            m_palette->removeLayer(m_layer.get());
            m_palette->m_replayingUndo = false;
        }
    }

    bool m_added;
    QPointer<KTLayersPaletteController> m_palette;
    std::weak_ptr<KTTemplate> m_design;
    std::shared_ptr<KTLayer> m_layer;
    qsizetype m_index;
    bool m_first = true;
};

void KTLayersPaletteController::layerWasAdded(const std::shared_ptr<KTLayer> &layer)
{
    const auto design = docTemplate();
    const qsizetype at = design && layer ? design->indexOfLayer(layer.get()) : -1;
    if (QUndoStack *stack = m_replayingUndo || at < 0 ? nullptr : undoStack())
        stack->push(new KTLayerListCommand(true, this, design, layer, at));
}

void KTLayersPaletteController::removeLayer(const KTLayer *layer)
{
    if (!m_layersPalette || !layer)
        return;
    const qsizetype index = m_layersPalette->indexOfRepresentedObject(layer);
    if (index != KTLayersPaletteView::kNotFound)
        m_layersPalette->removeItemAtIndex(index);
}

void KTLayersPaletteController::refreshIconForLayer(const KTLayer *layer)
{
    if (!m_layersPalette || !layer)
        return;
    if (const auto item = m_layersPalette->itemForRepresentedObject(layer)) {
        item->setIcon(iconForLayer(*layer));
        m_layersPalette->updateIconForItem(item);
    }
}

// --- strip delegate ---

void KTLayersPaletteController::selectedObject(const std::shared_ptr<KTLayer> &object, qsizetype)
{
    const auto old = m_selected.lock();
    if (old == object)
        return;
    if (old)
        old->setIsSelected(false);
    m_selected = object;
    if (object)
        object->setIsSelected(true);
    platform::NotificationCenter::defaultCenter().post(QString::fromLatin1(kLayerSelectedNotification), this);
}

bool KTLayersPaletteController::willDeleteObject(const std::shared_ptr<KTLayer> &object, qsizetype)
{
    if (!object || isImageLayer(object.get()))
        return false;
    // A design in the middle of drawing refuses changes to its list; the
    // strip must not run ahead of it.
    const auto design = docTemplate();
    return !(design && design->isDrawing());
}

bool KTLayersPaletteController::willMoveObject(const std::shared_ptr<KTLayer> &, qsizetype)
{
    const auto design = docTemplate();
    return !(design && design->isDrawing());
}

void KTLayersPaletteController::deletedObject(const std::shared_ptr<KTLayer> &object, qsizetype)
{
    if (!object)
        return;
    if (isFrameLayer(object.get()))
        --m_countOfFrames;
    else if (isOverlayLayer(object.get()))
        --m_countOfOverlays;
    if (m_selected.lock() == object) {
        object->setIsSelected(false);
        m_selected.reset();
    }
    const auto design = docTemplate();
    if (!design)
        return;
    const qsizetype at = design->indexOfLayer(object.get());
    design->removeLayer(object);
    if (QUndoStack *stack = m_replayingUndo || at < 0 ? nullptr : undoStack())
        stack->push(new KTLayerListCommand(false, this, design, object, at));
}

QUndoStack *KTLayersPaletteController::undoStack() const
{
    if (m_undoStack)
        return m_undoStack;
    platform::WindowController *window = m_designViewController ? m_designViewController->windowController() : nullptr;
    auto *document = window ? qobject_cast<platform::Document *>(window->document()) : nullptr;
    return document && document->hasUndoManager() ? document->undoManager() : nullptr;
}

void KTLayersPaletteController::moveItemFromIndex(qsizetype, qsizetype, const std::shared_ptr<KTLayer> &object,
                                                  const std::shared_ptr<KTLayer> &toObject)
{
    if (const auto design = docTemplate(); design && object && toObject)
        design->moveLayer(object, toObject);
}

QMenu *KTLayersPaletteController::menuForRepresentedObject(const std::shared_ptr<KTLayer> &object, qsizetype index)
{
    auto *menu = new QMenu;
    if (!object)
        return menu;
    if (auto *frameLayer = qobject_cast<KTFrameLayer *>(object.get())) {
        QAction *show = menu->addAction(tr(kShowFrameInLibraryTitle));
        show->setData(QVariant::fromValue(static_cast<void *>(frameLayer->theFrame())));
        connect(show, &QAction::triggered, this, [this, show] { showFrameInLibrary(show); });
        menu->addSeparator();
    }
    if (!isImageLayer(object.get())) {
        QAction *remove = menu->addAction(tr(kRemoveLayerTitle));
        remove->setData(QVariant::fromValue(qlonglong(index)));
        connect(remove, &QAction::triggered, this, [this, remove] { removeLayerWithMenuItem(remove); });
    }
    return menu;
}

void KTLayersPaletteController::showFrameInLibrary(QAction *menuItem)
{
    if (!menuItem)
        return;
    auto *frame = static_cast<Frame *>(menuItem->data().value<void *>());
    if (!frame)
        return;
    auto *windowController = m_designViewController ? m_designViewController->windowController() : nullptr;
    if (windowController && windowController->metaObject()->indexOfMethod("showFrameInLibrary(Frame*)") >= 0)
        QMetaObject::invokeMethod(windowController, "showFrameInLibrary", Q_ARG(Frame *, frame));
    emit showFrameInLibraryRequested(frame);
}

void KTLayersPaletteController::removeLayerWithMenuItem(QAction *menuItem)
{
    if (!menuItem || !m_layersPalette)
        return;
    const qsizetype index = menuItem->data().toLongLong();
    const auto layer = m_layersPalette->representedObjectAtIndex(index);
    if (layer && !isImageLayer(layer.get()))
        m_layersPalette->removeItemAtIndex(index);
}

QWidget *KTLayersPaletteController::layersPaletteWidget() const
{
    return m_layersPalette.data();
}
