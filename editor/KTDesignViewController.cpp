#include "editor/KTDesignViewController.h"

#include "app/KTViewState.h"
#include "app/KTDesignDocumentInterface.h"
#include "design/KTColorMatLayer.h"
#include "design/KTImageLayer.h"
#include "design/KTLayer.h"
#include "design/KTMoldingFrameLayer.h"
#include "design/KTOverlayLayer.h"
#include "design/KTTemplate.h"
#include "design/KTTextOverlayLayer.h"
#include "editor/KTDesignView.h"
#include "editor/KTLayersPaletteController.h"
#include "platform/archive/StyledText.h"
#include "platform/render/DrawingContext.h"

#include <QMouseEvent>
#include <QUndoCommand>
#include <QWheelEvent>

// What a drag on the canvas changes of a layer: an overlay's place and size
// (and a text's alignment, which follows its anchor), the photo's crop.
struct KTCanvasDragState {
    KTOverlayPositioning positioning;
    double scale = 0;
    platform::StyledText text;
    double crop[4] = {0, 0, 0, 0}; // left, top, right, bottom
    bool operator==(const KTCanvasDragState &) const = default;

    static KTCanvasDragState of(const KTLayer &layer)
    {
        KTCanvasDragState state;
        if (const auto *overlay = qobject_cast<const KTOverlayLayer *>(&layer)) {
            state.positioning = overlay->positioning();
            state.scale = overlay->scale();
            if (const auto *text = qobject_cast<const KTTextOverlayLayer *>(overlay))
                state.text = text->overlayText();
        } else if (const auto *photo = qobject_cast<const KTImageLayer *>(&layer)) {
            state.crop[0] = photo->cropLeft();
            state.crop[1] = photo->cropTop();
            state.crop[2] = photo->cropRight();
            state.crop[3] = photo->cropBottom();
        }
        return state;
    }
    void applyTo(KTLayer &layer) const
    {
        if (auto *overlay = qobject_cast<KTOverlayLayer *>(&layer)) {
            overlay->setScale(scale);
            overlay->setPositioning(positioning);
            if (auto *written = qobject_cast<KTTextOverlayLayer *>(overlay); written && written->overlayText() != text)
                written->setOverlayText(text);
        } else if (auto *photo = qobject_cast<KTImageLayer *>(&layer)) {
            // Each side is bounded by its opposite as it is set: the last two
            // settle what the first two may have moved.
            photo->setCropLeft(crop[0]);
            photo->setCropTop(crop[1]);
            photo->setCropRight(crop[2]);
            photo->setCropBottom(crop[3]);
        }
    }
};

namespace {

// One drag on the canvas, done already when it is recorded.
class KTCanvasDragCommand : public QUndoCommand
{
public:
    KTCanvasDragCommand(const QString &name, std::shared_ptr<KTLayer> layer, const KTCanvasDragState &before,
                        const KTCanvasDragState &after)
        : QUndoCommand(name)
        , m_layer(std::move(layer))
        , m_before(before)
        , m_after(after)
    {
    }
    void undo() override { m_before.applyTo(*m_layer); }
    void redo() override { m_after.applyTo(*m_layer); }

private:
    std::shared_ptr<KTLayer> m_layer;
    KTCanvasDragState m_before;
    KTCanvasDragState m_after;
};

// Adds `d` to a width through the layer's own setter, which bounds it.
void addToWidth(KTLayer &layer, const char *key, double d)
{
    const QVariant value = layer.property(key);
    if (value.isValid())
        layer.setProperty(key, value.toDouble() + d);
}

} // namespace

KTDesignViewController::KTDesignViewController(const QString &nibName,
                                               platform::WindowController *windowController, QObject *parent)
    : XSViewController(nibName, windowController, parent)
{
    // The window's one palette controller comes with its canvas.
    auto *palette = new KTLayersPaletteController(this);
    palette->setDesignViewController(this, [this] { return docTemplate(); });
    m_layersPaletteController = palette;
    palette->awakeFromNib();
}

KTDesignViewController::~KTDesignViewController()
{
    stopObservingTemplate();
    if (m_viewStateConnection)
        disconnect(m_viewStateConnection);
}

KTDesignView *KTDesignViewController::designView()
{
    view();
    return m_view;
}

QWidget *KTDesignViewController::loadView()
{
    auto *view = new KTDesignView;
    view->setObjectName(nibName().isEmpty() ? QString::fromLatin1(kNibName) : nibName());
    view->setController(this);
    m_view = view;
    if (m_layersPaletteController && !m_layersPaletteController->layersPalette()) {
        m_layersPaletteController->setLayersPalette(view->layersPaletteView());
        m_layersPaletteController->buildEmptyPalette();
    }
    return view;
}

void KTDesignViewController::viewDidLoad()
{
    // The document comes from the window when nobody handed one over.
    if (!representedObject().isValid() && windowController() && windowController()->document())
        setRepresentedObject(QVariant::fromValue(windowController()->document()));
}

void KTDesignViewController::setViewState(const std::shared_ptr<KTViewState> &viewState)
{
    if (m_viewStateConnection)
        disconnect(m_viewStateConnection);
    m_viewState = viewState;
    if (viewState) {
        m_viewStateConnection = connect(viewState.get(), &KTViewState::viewStateChanged, this,
                                        [this] { redrawWithHighQuality(false); });
    }
}

KTLayersPaletteController *KTDesignViewController::layersPaletteController() const
{
    return m_layersPaletteController;
}

void KTDesignViewController::setLayersPaletteController(KTLayersPaletteController *controller)
{
    m_layersPaletteController = controller;
}

std::shared_ptr<KTTemplate> KTDesignViewController::docTemplate() const
{
    return m_docTemplate;
}

void KTDesignViewController::setDocTemplate(const std::shared_ptr<KTTemplate> &design)
{
    if (design == m_docTemplate)
        return;
    stopObservingTemplate();
    m_docTemplate = design;
    observeTemplate();
    if (m_view)
        m_view->update();
}

void KTDesignViewController::setRepresentedObject(const QVariant &object)
{
    XSViewController::setRepresentedObject(object);
    if (auto *doc = KTDesignDocumentInterface::fromObject(object.value<QObject *>()))
        setDocTemplate(doc->docTemplate());
}

void KTDesignViewController::observeTemplate()
{
    if (!m_docTemplate)
        return;
    auto &center = platform::NotificationCenter::defaultCenter();
    m_observers << center.addObserver(
        QString::fromLatin1(KTTemplate::kModelChangedNotification), m_docTemplate.get(),
        [this](const platform::Notification &) {
            if (m_view)
                m_view->update();
        },
        this);
    m_observers << center.addObserver(
        QString::fromLatin1(KTTemplate::kLayerChangedNotification), m_docTemplate.get(),
        [this](const platform::Notification &) {
            m_redrawOnlyDesign = true;
            if (m_view)
                m_view->update(m_view->designAreaInViewCoordinates());
        },
        this);
}

void KTDesignViewController::stopObservingTemplate()
{
    for (auto id : std::as_const(m_observers))
        platform::NotificationCenter::defaultCenter().removeObserver(id);
    m_observers.clear();
}

void KTDesignViewController::redrawWithHighQuality(bool highQuality)
{
    if (!m_view)
        return;
    m_view->setDrawHighQuality(highQuality);
    m_view->update();
}

void KTDesignViewController::drawDesignHighQuality(bool highQuality, const QRectF &rect)
{
    auto *context = platform::DrawingContext::current();
    if (context)
        context->beginTransparencyLayer();
    m_lastDrawRect = m_docTemplate ? m_docTemplate->finalFramedRectFittingStartRect(rect) : QRectF();
    if (m_docTemplate && !m_docTemplate->layers().isEmpty())
        m_docTemplate->drawToRect(rect, highQuality, false, nullptr, false);
    if (context)
        context->endTransparencyLayer();
    m_redrawOnlyDesign = false;
}

void KTDesignViewController::showPause()
{
    if (auto *v = designView())
        v->showPause();
}

void KTDesignViewController::hidePause()
{
    if (auto *v = designView())
        v->hidePause();
}

void KTDesignViewController::mouseDown(QMouseEvent *event)
{
    if (!m_docTemplate || !m_view)
        return;
    const QPointF point = m_view->designPointFromViewPoint(event->position());
    const auto hit = m_docTemplate->layerAtHitPoint(point);
    const auto selected = m_layersPaletteController ? m_layersPaletteController->selectedRepresentedObject() : nullptr;

    // A selected overlay or frame keeps the mouse wherever it is hit, even
    // under another layer; the photo only where nothing lies over it.
    auto pressOn = [&](const std::shared_ptr<KTLayer> &layer) {
        m_draggedLayer = layer;
        m_dragStart = std::make_unique<KTCanvasDragState>(KTCanvasDragState::of(*layer));
        layer->mouseDownAtPoint(point, event);
    };
    if (selected && selected->acceptsMouseEvents()
        && (hit == selected
            || (!KTLayersPaletteController::isImageLayer(selected.get()) && selected->isHitAtPoint(point)))) {
        pressOn(selected);
        return;
    }
    if (hit && hit != selected) {
        if (m_layersPaletteController)
            m_layersPaletteController->selectLayer(hit.get());
        pressOn(hit);
    }
}

void KTDesignViewController::mouseDragged(QMouseEvent *event)
{
    const auto selected = m_layersPaletteController ? m_layersPaletteController->selectedRepresentedObject() : nullptr;
    if (selected && selected->acceptsMouseEvents() && m_view)
        selected->mouseDraggedAtPoint(m_view->designPointFromViewPoint(event->position()), event);
}

void KTDesignViewController::mouseUp(QMouseEvent *event)
{
    const auto selected = m_layersPaletteController ? m_layersPaletteController->selectedRepresentedObject() : nullptr;
    if (selected && selected->acceptsMouseEvents() && m_view)
        selected->mouseUpAtPoint(m_view->designPointFromViewPoint(event->position()), event);
    endDrag();
}

void KTDesignViewController::endDrag()
{
    const std::shared_ptr<KTLayer> layer = m_draggedLayer.lock();
    const std::unique_ptr<KTCanvasDragState> before = std::move(m_dragStart);
    m_draggedLayer.reset();
    if (!layer || !before)
        return;
    const KTCanvasDragState after = KTCanvasDragState::of(*layer);
    QUndoStack *stack = m_layersPaletteController ? m_layersPaletteController->undoStack() : nullptr;
    if (after == *before || !stack)
        return;
    QString name = tr("Move Photo");
    if (qobject_cast<KTOverlayLayer *>(layer.get()))
        name = after.scale != before->scale ? tr("Resize Overlay") : tr("Move Overlay");
    stack->push(new KTCanvasDragCommand(name, layer, *before, after));
}

void KTDesignViewController::scrollWheel(QWheelEvent *event)
{
    const double lines = event->angleDelta().y() / kWheelDeltaPerLine;
    if (lines == 0)
        return;
    scrollWheelLines(lines, event->modifiers() & Qt::ControlModifier);
}

void KTDesignViewController::scrollWheelLines(double lines, bool commandHeld)
{
    const auto selected = m_layersPaletteController ? m_layersPaletteController->selectedRepresentedObject() : nullptr;
    if (!selected)
        return;
    // Scrolling down widens.
    const double d = lines / kWheelLinesPerUnit;
    if (qobject_cast<KTMoldingFrameLayer *>(selected.get())) {
        addToWidth(*selected, commandHeld ? "frameOverImage" : "frameWidth", d);
    } else if (auto *mat = qobject_cast<KTColorMatLayer *>(selected.get())) {
        if (commandHeld) {
            mat->setBevelWidth(mat->bevelWidth() + d);
        } else {
            mat->setBottomWidth(mat->bottomWidth() + d);
            mat->setTopWidth(mat->topWidth() + d);
            mat->setRightWidth(mat->rightWidth() + d);
            mat->setLeftWidth(mat->leftWidth() + d);
        }
    }
}

void KTDesignViewController::handleMagnification(int state, double magnification)
{
    if (state == GestureBegan) {
        m_nativeGestureActive = true;
        m_nativeMagnification = 0;
    } else if (state != GestureChanged) {
        m_nativeGestureActive = false;
    }
    if (!m_viewState)
        return;
    if (state == GestureBegan)
        m_startingZoom = m_viewState->zoom();
    else if (state == GestureChanged)
        m_viewState->setZoom(m_startingZoom + magnification);
}

void KTDesignViewController::handleNativeZoomDelta(double delta)
{
    // Some platforms send zoom steps without announcing the gesture.
    if (!m_nativeGestureActive)
        handleMagnification(GestureBegan, 0);
    m_nativeMagnification += delta;
    handleMagnification(GestureChanged, m_nativeMagnification);
}

KTTrackingAreaHost *KTDesignViewController::trackingAreaHost()
{
    return designView();
}

void KTDesignViewController::removeAllTrackingAreas()
{
    if (KTDesignView *view = designView())
        view->removeAllTrackingAreas();
}

void KTDesignViewController::useLayersPaletteController(QObject *controller)
{
    if (auto *palette = qobject_cast<KTLayersPaletteController *>(controller))
        setLayersPaletteController(palette);
}
