#include "design/KTOverlayLayer.h"

#include "design/KTTrackingAreaHost.h"
#include "platform/archive/KeyedArchiver.h"
#include "platform/archive/KeyedUnarchiver.h"
#include "platform/render/DrawingContext.h"

#include <QMouseEvent>
#include <QPainterPath>
#include <QPen>

#include <cmath>

namespace {

const QString kScaleKey = QStringLiteral("scale");
const QString kPositionKey = QStringLiteral("position");
const QString kHSnapKey = QStringLiteral("hsnap");
const QString kVSnapKey = QStringLiteral("vsnap");
const QString kOpacityKey = QStringLiteral("opacity");

bool containsPoint(const QRectF &r, const QPointF &p)
{
    return p.x() >= r.x() && p.x() < r.x() + r.width() && p.y() >= r.y() && p.y() < r.y() + r.height();
}

bool optionHeld(const QMouseEvent *event)
{
    return event && event->modifiers().testFlag(Qt::AltModifier);
}

double finiteOr(double value, double fallback)
{
    return std::isfinite(value) ? value : fallback;
}

// Where an anchor lies along one side of the container, as the placement puts it.
double anchorAlong(std::uint64_t snap, double origin, double length)
{
    if (snap == 0)
        return origin;
    if (snap == 1)
        return origin + length;
    return origin + length / 2;
}

} // namespace

KTOverlayLayer::KTOverlayLayer(double scale)
    : m_scale(scale)
{
    connect(this, &KTLayer::hiddenChanged, this, &KTLayer::layerChanged);
}

KTOverlayLayer::~KTOverlayLayer() = default;

void KTOverlayLayer::setOpacity(double opacity)
{
    m_opacity = opacity;
    emit layerChangedFastRedraw();
}

void KTOverlayLayer::setPositioning(const KTOverlayPositioning &positioning)
{
    m_positioning = positioning;
    emit layerChangedFastRedraw();
}

void KTOverlayLayer::forceRedraw()
{
    emit layerChangedFastRedraw();
}

void KTOverlayLayer::setIsSelected(bool selected)
{
    KTLayer::setIsSelected(selected);
    forceRedraw();
}

void KTOverlayLayer::drawGuides(const QRectF &r, double dash, double overhang) const
{
    platform::DrawingContext *ctx = platform::DrawingContext::current();
    if (!ctx)
        return;
    auto guide = [&](QPointF from, QPointF to, double offset) {
        QPen pen(Qt::red);
        pen.setWidthF(1.0);
        pen.setCapStyle(Qt::FlatCap);
        if (std::abs(offset) > 0.001)
            pen.setDashPattern({dash, dash});
        QPainterPath path(from);
        path.lineTo(to);
        ctx->strokePath(path, pen);
    };
    const double ax = anchorAlong(m_positioning.hSnap, r.x(), r.width());
    const double ay = anchorAlong(m_positioning.vSnap, r.y(), r.height());
    guide(QPointF(ax, r.y() - overhang), QPointF(ax, r.y() + r.height() + overhang), m_positioning.position.x());
    guide(QPointF(r.x() - overhang, ay), QPointF(r.x() + r.width() + overhang, ay), m_positioning.position.y());
}

// --- mouse ---

bool KTOverlayLayer::isHitAtPoint(const QPointF &point) const
{
    return containsPoint(m_lastDrawingRect, point) || handlerForPointAndRect(point, m_lastDrawingRect) != -1;
}

bool KTOverlayLayer::acceptsMouseEvents() const
{
    return true;
}

void KTOverlayLayer::mouseDownAtPoint(const QPointF &point, const QMouseEvent *)
{
    m_currentHandle = handlerForPointAndRect(point, m_lastDrawingRect);
    if (m_currentHandle == -1 && !containsPoint(m_lastDrawingRect, point))
        return;
    m_cursorRectsDisabled = true;
    m_isDragging = true;
    m_dragStartPoint = point;
    m_dragStartScale = m_scale;
    m_dragStartRect = m_lastDrawingRect;
    setCursor(Qt::ClosedHandCursor);
}

void KTOverlayLayer::mouseDraggedAtPoint(const QPointF &point, const QMouseEvent *event)
{
    if (!m_isDragging)
        return;
    const double dx = point.x() - m_dragStartPoint.x();
    const double dy = point.y() - m_dragStartPoint.y();
    m_shouldDrawSnaps = point != m_dragStartPoint;
    if (m_currentHandle == -1) {
        const QRectF moved = m_dragStartRect.translated(dx, dy);
        const KTOverlayPositioning placed = relativePositionForOverlayRect(moved, m_lastInRect);
        setPositioning(optionHeld(event) ? placed : zeroTinyOffsets(placed, kSnapThreshold));
        return;
    }
    const double width = m_dragStartRect.width();
    if (!(width > 0))
        return;
    const bool rightEdge = m_currentHandle == 0 || m_currentHandle == 2;
    const double s = (rightEdge ? width + dx : width - dx) / width * m_dragStartScale;
    if (s >= minDragScale() && s <= maxDragScale())
        setScale(s);
}

void KTOverlayLayer::mouseUpAtPoint(const QPointF &point, const QMouseEvent *)
{
    if (m_isDragging)
        forceRedraw();
    m_isDragging = false;
    m_cursorRectsDisabled = false;
    if (containsPoint(m_lastDrawingRect, point))
        setCursor(Qt::OpenHandCursor);
}

void KTOverlayLayer::defineTrackingAreasInView(KTTrackingAreaHost *view)
{
    if (!view)
        return;
    defineAllTrackingAreasForRectAndView(m_lastDrawingRect, view);
    QVariantMap info;
    info.insert(QStringLiteral("view"), view->trackingAreaViewValue());
    view->addTrackingArea(m_lastDrawingRect, this, info);
}

void KTOverlayLayer::mouseEntered(const QVariantMap &userInfo)
{
    m_enteredInView = userInfo.value(QStringLiteral("view"));
    setCursor(m_isDragging ? Qt::ClosedHandCursor : Qt::OpenHandCursor);
}

void KTOverlayLayer::mouseExited()
{
    setCursor(Qt::ArrowCursor);
}

void KTOverlayLayer::mouseMoved(const QPointF &point)
{
    // On a handle outside the body the handle's own cursor rules.
    if (!containsPoint(m_lastDrawingRect, point) && handlerForPointAndRect(point, m_lastDrawingRect) != -1)
        return;
    setCursor(m_isDragging ? Qt::ClosedHandCursor : Qt::OpenHandCursor);
}

void KTOverlayLayer::setCursor(Qt::CursorShape shape)
{
    if (m_cursorShape == shape)
        return;
    m_cursorShape = shape;
    emit cursorShapeChanged();
}

// --- archive ---

void KTOverlayLayer::encodeOverlayKeys(platform::KeyedArchiver &coder) const
{
    coder.encodeFloat(float(m_scale), kScaleKey);
    coder.encodePoint(m_positioning.position, kPositionKey);
    coder.encodeInteger(qint64(m_positioning.hSnap), kHSnapKey);
    coder.encodeInteger(qint64(m_positioning.vSnap), kVSnapKey);
    coder.encodeFloat(float(m_opacity), kOpacityKey);
}

KTOverlayPositioning KTOverlayLayer::decodePositioning(platform::KeyedUnarchiver &coder)
{
    QPointF position = coder.decodePointForKey(kPositionKey);
    position = QPointF(finiteOr(position.x(), 0), finiteOr(position.y(), 0));
    KTOverlayPositioning placed;
    if (coder.containsValueForKey(kVSnapKey) && coder.containsValueForKey(kHSnapKey)) {
        placed.position = position;
        placed.hSnap = std::uint64_t(coder.decodeIntegerForKey(kHSnapKey));
        placed.vSnap = std::uint64_t(coder.decodeIntegerForKey(kVSnapKey));
    } else {
        placed.position = position - QPointF(0.5, 0.5);
        placed.hSnap = 2;
        placed.vSnap = 2;
    }
    return placed;
}

double KTOverlayLayer::decodeOpacity(platform::KeyedUnarchiver &coder)
{
    return finiteOr(coder.decodeFloatForKey(kOpacityKey), 1.0);
}

void KTOverlayLayer::copyOverlayFieldsFrom(const KTOverlayLayer &other)
{
    copyBaseFieldsFrom(other);
    m_scale = other.m_scale;
    m_opacity = other.m_opacity;
    m_positioning = other.m_positioning;
    m_lastDrawingRect = other.m_lastDrawingRect;
    m_lastInRect = other.m_lastInRect;
}
