#include "editor/KTDesignView.h"

#include "app/KTViewState.h"
#include "design/KTOverlayLayer.h"
#include "design/KTLayer.h"
#include "editor/KTDesignViewController.h"
#include "editor/KTLayersPaletteController.h"
#include "editor/KTLayersPaletteView.h"
#include "platform/render/DrawingContext.h"
#include "app/KTDesignDocumentInterface.h"
#include "design/KTImageLayer.h"
#include "design/KTTemplate.h"
#include "platform/Alert.h"
#include "platform/TemporaryFolders.h"
#include "platform/TypeTable.h"
#include "platform/ui/Document.h"
#include "stores/LibraryStore.h"

#include <QApplication>
#include <QDir>
#include <QDrag>
#include <QFileInfo>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QGestureEvent>
#include <QImageReader>
#include <QMimeData>
#include <QMouseEvent>
#include <QNativeGestureEvent>
#include <QPainter>
#include <QPaintEvent>
#include <QPinchGesture>
#include <QTimer>

#include <cmath>

namespace {

// The canvas colour before a view state says otherwise.
const QColor kDefaultBackground(72, 72, 76);
// A resize counts as live while further resizes follow within this time.
constexpr int kLiveResizeSettleMs = 200;

// A small busy cover for the time the canvas waits on other work.
class PauseView : public QWidget
{
public:
    explicit PauseView(QWidget *parent)
        : QWidget(parent)
    {
        setObjectName(QStringLiteral("pauseView"));
        setAttribute(Qt::WA_TransparentForMouseEvents, false);
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter p(this);
        p.fillRect(rect(), QColor(0, 0, 0, 110));
        p.setRenderHint(QPainter::Antialiasing);
        const QPointF c = QRectF(rect()).center();
        for (int i = 0; i < 8; ++i) {
            p.setPen(QPen(QColor(255, 255, 255, 60 + i * 24), 4, Qt::SolidLine, Qt::RoundCap));
            const double a = i * M_PI / 4;
            p.drawLine(c + QPointF(std::cos(a), std::sin(a)) * 10, c + QPointF(std::cos(a), std::sin(a)) * 18);
        }
    }
    void mousePressEvent(QMouseEvent *event) override { event->accept(); }
};

} // namespace

KTDesignView::KTDesignView(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("designView"));
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true);
    grabGesture(Qt::PinchGesture);
    setAcceptDrops(true);

    m_layersPaletteView = new KTLayersPaletteView(this);

    m_fullQualityTimer = new QTimer(this);
    m_fullQualityTimer->setSingleShot(true);
    m_fullQualityTimer->setInterval(int(kFullQualityDelay * 1000));
    connect(m_fullQualityTimer, &QTimer::timeout, this, [this] { timerRoutine(); });

    m_liveResizeEnd = new QTimer(this);
    m_liveResizeEnd->setSingleShot(true);
    m_liveResizeEnd->setInterval(kLiveResizeSettleMs);
    connect(m_liveResizeEnd, &QTimer::timeout, this, [this] { setInLiveResize(false); });
    layoutPalette();
}

KTDesignView::~KTDesignView() = default;

KTDesignViewController *KTDesignView::controller() const
{
    return m_controller;
}

void KTDesignView::setController(KTDesignViewController *controller)
{
    m_controller = controller;
}

QRect KTDesignView::designAreaInViewCoordinates() const
{
    const int stripTop = m_layersPaletteView ? m_layersPaletteView->geometry().top() : height();
    return QRect(0, 0, width(), std::max(0, stripTop));
}

void KTDesignView::setInLiveResize(bool on)
{
    if (m_inLiveResize == on)
        return;
    m_inLiveResize = on;
    if (!on)
        update();
}

QPointF KTDesignView::designPointFromViewPoint(const QPointF &point) const
{
    return QPointF(point.x(), height() - point.y());
}

QRectF KTDesignView::viewRectFromDesignRect(const QRectF &rect) const
{
    return QRectF(rect.x(), height() - rect.y() - rect.height(), rect.width(), rect.height());
}

void KTDesignView::removeAllTrackingAreas()
{
    m_trackingAreas.clear();
}

void KTDesignView::addTrackingArea(const QRectF &rect, KTLayer *owner, const QVariantMap &userInfo)
{
    TrackingArea area;
    area.rect = rect;
    area.owner = owner;
    area.userInfo = userInfo;
    m_trackingAreas.push_back(area);
}

QVariant KTDesignView::trackingAreaViewValue() const
{
    return QVariant::fromValue(static_cast<QObject *>(const_cast<KTDesignView *>(this)));
}

void KTDesignView::showPause()
{
    if (!m_pauseView)
        m_pauseView = new PauseView(this);
    m_pauseView->setGeometry(rect());
    m_pauseView->raise();
    m_pauseView->show();
}

void KTDesignView::hidePause()
{
    if (m_pauseView)
        m_pauseView->hide();
}

bool KTDesignView::isPauseShown() const
{
    return m_pauseView && m_pauseView->isVisible();
}

void KTDesignView::layoutPalette()
{
    if (!m_layersPaletteView)
        return;
    const int h = KTLayersPaletteView::kPreferredHeight;
    m_layersPaletteView->setGeometry(0, std::max(0, height() - h), width(), std::min(h, height()));
    if (m_pauseView)
        m_pauseView->setGeometry(rect());
}

void KTDesignView::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    layoutPalette();
    // Only a window already on screen is being resized by the user.
    if (isVisible() && !event->oldSize().isEmpty()) {
        m_inLiveResize = true;
        m_liveResizeEnd->start();
    }
}

void KTDesignView::timerRoutine()
{
    if (m_drawHighQuality)
        return;
    m_drawHighQuality = true;
    update();
}

void KTDesignView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    KTViewState *viewState = m_controller ? m_controller->viewState().get() : nullptr;
    QColor fill = viewState ? viewState->backgroundColor() : QColor();
    if (!fill.isValid())
        fill = kDefaultBackground;
    const bool onlyDesign = m_controller && m_controller->redrawOnlyDesign();

    // The area above the strip, y-up.
    const double stripTop = m_layersPaletteView ? height() - m_layersPaletteView->geometry().top() : 0;
    m_lastDesignDrawRect = QRectF(0, stripTop, width(), height() - stripTop);

    if (onlyDesign)
        painter.fillRect(designAreaInViewCoordinates(), fill);
    else
        painter.fillRect(rect(), fill);

    const double zoom = viewState ? viewState->zoom() : KTViewState::kInitialZoom;
    const QRectF &d = m_lastDesignDrawRect;
    const double dx = (1 - zoom) * d.width() * 0.5;
    const double dy = (1 - zoom) * d.height() * 0.5;
    const QRectF inset = d.adjusted(dx, dy, -dx, -dy);
    const QRectF area(std::round(inset.x()), std::round(inset.y()), std::round(inset.width()),
                      std::round(inset.height()));

    m_drawHighQuality = m_drawHighQuality && !m_inLiveResize;
    if (!m_drawHighQuality)
        m_fullQualityTimer->start(); // re-arming cancels the pending pass

    if (m_controller) {
        platform::DrawingContext context(painter, height());
        m_controller->drawDesignHighQuality(m_drawHighQuality, area);
    }

    removeAllTrackingAreas();
    if (m_controller && m_controller->layersPaletteController()) {
        if (auto selected = m_controller->layersPaletteController()->selectedRepresentedObject())
            selected->defineTrackingAreasInView(this);
    }

    if (m_layersPaletteView) {
        // The strip's backdrop, whose shadow sets it off from the design.
        // Its picture is kept, so a quick redraw of the design area puts the
        // part of the shadow that falls there back at no cost.
        const QImage &backdrop = backdropImage(fill);
        const QRect strip = m_layersPaletteView->geometry();
        const QPoint at(strip.x() - kBackdropMargin, strip.y() - kBackdropMargin);
        if (onlyDesign) {
            const QRect band(at, QSize(backdrop.width(), kBackdropMargin));
            painter.drawImage(band.topLeft(), backdrop, QRect(QPoint(0, 0), band.size()));
        } else {
            painter.drawImage(at, backdrop);
        }
    }
}

const QImage &KTDesignView::backdropImage(const QColor &fill)
{
    const QSize stripSize = m_layersPaletteView->size();
    const QSize size(stripSize.width() + 2 * kBackdropMargin, stripSize.height() + 2 * kBackdropMargin);
    if (m_backdrop.size() == size && m_backdropColor == fill)
        return m_backdrop;
    m_backdrop = QImage(size, QImage::Format_ARGB32_Premultiplied);
    m_backdrop.fill(Qt::transparent);
    m_backdropColor = fill;
    {
        platform::DrawingContext context(m_backdrop);
        // Widened by 10 on the left and right, the shadow falling 4 down.
        const QRectF strip(kBackdropMargin - 10, kBackdropMargin, stripSize.width() + 20, stripSize.height());
        context.setShadow(QColor(0, 0, 0, 85), QPointF(0, -4), 10);
        context.fillRect(strip, fill);
    }
    return m_backdrop;
}

void KTDesignView::mousePressEvent(QMouseEvent *event)
{
    // Control-click is kept for dragging the framed picture out.
    if (event->modifiers() & Qt::ControlModifier) {
        m_dragOutArmed = event->button() == Qt::LeftButton;
        m_dragOutStart = event->position();
        event->accept();
        return;
    }
    if (m_controller)
        m_controller->mouseDown(event);
    event->accept();
}

void KTDesignView::mouseMoveEvent(QMouseEvent *event)
{
    if (m_dragOutArmed && (event->buttons() & Qt::LeftButton)) {
        if ((event->position() - m_dragOutStart).manhattanLength() >= QApplication::startDragDistance()) {
            m_dragOutArmed = false;
            startDragOut();
        }
        return;
    }
    if (event->buttons() != Qt::NoButton) {
        if (m_controller)
            m_controller->mouseDragged(event);
        updateCursor(designPointFromViewPoint(event->position()));
        return;
    }
    trackMouseAt(designPointFromViewPoint(event->position()));
}

namespace {

// The overlays follow the mouse through these three calls.
void sendToOwner(KTLayer *owner, int what, const QVariantMap &info, const QPointF &point)
{
    auto *overlay = qobject_cast<KTOverlayLayer *>(owner);
    if (!overlay)
        return;
    if (what == 0)
        overlay->mouseEntered(info);
    else if (what == 1)
        overlay->mouseMoved(point);
    else
        overlay->mouseExited();
}

Qt::CursorShape ownerCursor(KTLayer *owner, bool *rectsDisabled)
{
    if (auto *o = qobject_cast<KTOverlayLayer *>(owner)) {
        *rectsDisabled = o->cursorRectsDisabled();
        return o->cursorShape();
    }
    *rectsDisabled = false;
    return Qt::ArrowCursor;
}

} // namespace

void KTDesignView::trackMouseAt(const QPointF &point)
{
    // Exits first, so a layer that is left and entered in one move ends
    // entered.
    for (TrackingArea &area : m_trackingAreas) {
        if (area.inside && !area.rect.contains(point)) {
            area.inside = false;
            if (area.owner)
                sendToOwner(area.owner, 2, area.userInfo, point);
        }
    }
    for (TrackingArea &area : m_trackingAreas) {
        if (!area.rect.contains(point))
            continue;
        if (!area.inside) {
            area.inside = true;
            if (area.owner)
                sendToOwner(area.owner, 0, area.userInfo, point);
        }
        if (area.owner)
            sendToOwner(area.owner, 1, area.userInfo, point);
    }
    updateCursor(point);
}

void KTDesignView::updateCursor(const QPointF &point)
{
    Qt::CursorShape shape = Qt::ArrowCursor;
    for (const TrackingArea &area : std::as_const(m_trackingAreas)) {
        if (!area.owner)
            continue;
        bool rectsDisabled = false;
        const Qt::CursorShape owners = ownerCursor(area.owner, &rectsDisabled);
        if (rectsDisabled) {
            shape = owners; // a drag in progress keeps its own cursor
            break;
        }
        if (!area.rect.contains(point))
            continue;
        const QVariant handler = area.userInfo.value(QStringLiteral("handler"));
        if (handler.isValid()) {
            // Corners 0 and 3 lie on the rising diagonal (y-up), 1 and 2 on the falling one.
            const int corner = handler.toInt();
            shape = corner == 0 || corner == 3 ? Qt::SizeBDiagCursor : Qt::SizeFDiagCursor;
            break;
        }
        shape = owners;
    }
    if (cursor().shape() != shape)
        setCursor(shape);
}

void KTDesignView::mouseReleaseEvent(QMouseEvent *event)
{
    if (m_dragOutArmed) {
        m_dragOutArmed = false;
        event->accept();
        return;
    }
    if (m_controller)
        m_controller->mouseUp(event);
    event->accept();
}

void KTDesignView::wheelEvent(QWheelEvent *event)
{
    if (m_controller)
        m_controller->scrollWheel(event);
    event->accept();
}

bool KTDesignView::event(QEvent *event)
{
    if (event->type() == QEvent::NativeGesture && m_controller) {
        auto *gesture = static_cast<QNativeGestureEvent *>(event);
        switch (gesture->gestureType()) {
        case Qt::BeginNativeGesture:
            m_controller->handleMagnification(KTDesignViewController::GestureBegan, 0);
            break;
        case Qt::ZoomNativeGesture:
            m_controller->handleNativeZoomDelta(gesture->value());
            break;
        case Qt::EndNativeGesture:
            m_controller->handleMagnification(KTDesignViewController::GestureEnded, 0);
            break;
        default:
            break;
        }
        return true;
    }
    if (event->type() == QEvent::Gesture && m_controller) {
        auto *ge = static_cast<QGestureEvent *>(event);
        if (auto *pinch = static_cast<QPinchGesture *>(ge->gesture(Qt::PinchGesture))) {
            switch (pinch->state()) {
            case Qt::GestureStarted:
                m_controller->handleMagnification(KTDesignViewController::GestureBegan, 0);
                break;
            case Qt::GestureUpdated:
                m_controller->handleMagnification(KTDesignViewController::GestureChanged,
                                                  pinch->totalScaleFactor() - 1);
                break;
            default:
                m_controller->handleMagnification(KTDesignViewController::GestureEnded, 0);
                break;
            }
            ge->accept(pinch);
            return true;
        }
    }
    return QWidget::event(event);
}

namespace {

QUrl firstFileURL(const QMimeData *mime)
{
    for (const QUrl &url : mime->urls()) {
        if (url.isLocalFile())
            return url;
    }
    return {};
}

bool isPictureFile(const QString &path)
{
    if (!QImageReader::imageFormat(path).isEmpty())
        return true;
    return platform::TypeTable::conformsTo(platform::TypeTable::typeForFile(path),
                                           QString::fromLatin1(platform::TypeTable::kImage));
}

} // namespace

bool KTDesignView::canAcceptDrop(const QMimeData *mime, bool fromThisProgram) const
{
    const auto design = m_controller ? m_controller->docTemplate() : nullptr;
    if (!mime || !design || design->isDrawing() || fromThisProgram)
        return false;
    const QUrl url = firstFileURL(mime);
    if (url.isValid())
        return KTTemplate::isTemplateAtURL(url) || isPictureFile(url.toLocalFile());
    return mime->hasImage();
}

bool KTDesignView::performDrop(const QMimeData *mime)
{
    const auto design = m_controller ? m_controller->docTemplate() : nullptr;
    if (!mime || !design || design->isDrawing())
        return false;
    platform::WindowController *window = m_controller->windowController();
    KTDesignDocumentInterface *document = KTDesignDocumentInterface::ofWindowController(window);
    if (!document)
        return false;

    const QUrl url = firstFileURL(mime);
    QImage data;
    if (!url.isValid() && mime->hasImage())
        data = qvariant_cast<QImage>(mime->imageData());
    if (!url.isValid() && data.isNull()) {
        platform::AlertRequest alert;
        alert.messageText = tr("Paste Error");
        alert.informativeText = tr("Sorry, but the paste operation failed");
        alert.buttons = {tr("Close")};
        platform::runAlert(alert);
        return false;
    }

    if (url.isValid() && KTTemplate::isTemplateAtURL(url)) {
        // A package no design can be made of is left alone.
        if (const auto wrapper = KTTemplate::fileWrapperForURL(url)) {
            if (const auto dropped = KTTemplate::templateFromFileWrapper(*wrapper, LibraryStore::sharedContext()))
                document->replaceTemplateWith(dropped);
        }
    } else if (url.isValid()) {
        document->importImage(url);
    } else {
        // Picture data without a file (from a browser) is written to a file
        // of its own, which does not become the document's file; the import
        // reads it whole, so it goes at once.
        const QString folder = platform::TemporaryFolders::makeFolder();
        const QString path = folder + QStringLiteral("/Dropped picture.png");
        const bool written = !folder.isEmpty() && data.save(path, "PNG");
        if (written && document->importImage(QUrl::fromLocalFile(path))) {
            if (auto *doc = qobject_cast<platform::Document *>(window->document()))
                doc->setFileURL(QUrl());
        }
        if (!folder.isEmpty())
            QDir(folder).removeRecursively();
        if (!written)
            return false;
    }
    if (KTLayersPaletteController *palette = m_controller->layersPaletteController()) {
        if (const auto current = m_controller->docTemplate(); current && current->imageLayer())
            palette->selectLayer(current->imageLayer().get());
    }
    update();
    return true;
}

void KTDesignView::dragEnterEvent(QDragEnterEvent *event)
{
    if (canAcceptDrop(event->mimeData(), event->source() != nullptr))
        event->acceptProposedAction();
    else
        event->ignore();
}

void KTDesignView::dragMoveEvent(QDragMoveEvent *event)
{
    if (canAcceptDrop(event->mimeData(), event->source() != nullptr))
        event->acceptProposedAction();
    else
        event->ignore();
}

void KTDesignView::dropEvent(QDropEvent *event)
{
    if (event->source() == nullptr && performDrop(event->mimeData()))
        event->acceptProposedAction();
    else
        event->ignore();
}

QUrl KTDesignView::prepareDragOut()
{
    KTDesignDocumentInterface *document
        = m_controller ? KTDesignDocumentInterface::ofWindowController(m_controller->windowController()) : nullptr;
    const auto design = m_controller ? m_controller->docTemplate() : nullptr;
    if (!document || !design || design->isDrawing())
        return {};
    showPause();
    repaint();
    const QUrl url = document->writeFramedPictureFile(m_controller->lastDrawnSize());
    hidePause();
    return url;
}

QPixmap KTDesignView::dragOutPixmap() const
{
    constexpr int kSide = 128;
    QImage image(kSide, kSide, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    const auto design = m_controller ? m_controller->docTemplate() : nullptr;
    if (design && !design->isDrawing()) {
        // Export mode: no selection handles, no screen caches.
        const bool wasExporting = design->exportMode();
        design->setExportMode(true);
        {
            platform::DrawingContext context(image);
            design->drawToRect(QRectF(0, 0, kSide, kSide), false, false, nullptr, true);
        }
        design->setExportMode(wasExporting);
    }
    return QPixmap::fromImage(image);
}

void KTDesignView::startDragOut()
{
    const QUrl url = prepareDragOut();
    if (!url.isValid())
        return;
    auto *drag = new QDrag(this);
    auto *mime = new QMimeData;
    mime->setUrls({url});
    drag->setMimeData(mime);
    const QPixmap shown = dragOutPixmap();
    drag->setPixmap(shown);
    drag->setHotSpot(QPoint(shown.width() / 2, shown.height() / 2));
    // A drag that was dropped nowhere needs its file no more; one that was
    // dropped keeps it until quit, for targets that copy it afterwards.
    if (drag->exec(Qt::CopyAction) == Qt::IgnoreAction)
        QDir(QFileInfo(url.toLocalFile()).absolutePath()).removeRecursively();
}
