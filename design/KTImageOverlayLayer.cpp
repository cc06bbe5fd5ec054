#include "design/KTImageOverlayLayer.h"

#include "design/KTTrackingAreaHost.h"
#include "design/VLImage.h"
#include "kit/VLValueAdditions.h"
#include "platform/Log.h"
#include "platform/archive/KeyedArchiver.h"
#include "platform/archive/KeyedClassRegistry.h"
#include "platform/archive/KeyedUnarchiver.h"
#include "platform/render/DrawingContext.h"

#include <QMouseEvent>
#include <QPainterPath>
#include <QPen>

#include <cmath>
#include <mutex>

namespace {

const QString kScaleKey = QStringLiteral("scale");
const QString kPositionKey = QStringLiteral("position");
const QString kHSnapKey = QStringLiteral("hsnap");
const QString kVSnapKey = QStringLiteral("vsnap");
const QString kOpacityKey = QStringLiteral("opacity");
const QString kImageKey = QStringLiteral("image");
const QString kImagePathKey = QStringLiteral("imagePath");

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

} // namespace

KTImageOverlayLayer::KTImageOverlayLayer()
{
    connect(this, &KTLayer::hiddenChanged, this, &KTLayer::layerChanged);
}

KTImageOverlayLayer::~KTImageOverlayLayer() = default;

bool KTImageOverlayLayer::loadImage()
{
    if (m_imagePath.isNull())
        return false;
    auto image = VLImage::initWithContentsOfFile(m_imagePath, false);
    if (!image)
        return false;
    m_image = image;
    setIcon(image);
    emit layerChanged();
    return true;
}

QRectF KTImageOverlayLayer::rectForSizeCenteredAtPoint(const QSizeF &size, const QPointF &point)
{
    return QRectF(point.x() - size.width() / 2, point.y() - size.height() / 2, size.width(), size.height());
}

void KTImageOverlayLayer::drawGuides(const QRectF &r) const
{
    platform::DrawingContext *ctx = platform::DrawingContext::current();
    if (!ctx)
        return;
    auto guide = [&](QPointF from, QPointF to, double offset) {
        QPen pen(Qt::red);
        pen.setWidthF(1.0);
        pen.setCapStyle(Qt::FlatCap);
        // A solid guide: the picture sits exactly on that anchor.
        if (std::abs(offset) > 0.001)
            pen.setDashPattern({5, 5});
        QPainterPath path(from);
        path.lineTo(to);
        ctx->strokePath(path, pen);
    };
    const double gx = m_positioning.hSnap == 0   ? r.x()
                      : m_positioning.hSnap == 2 ? r.x() + r.width() / 2
                                                 : r.x() + r.width();
    guide(QPointF(gx, r.y()), QPointF(gx, r.y() + r.height()), m_positioning.position.x());
    const double gy = m_positioning.vSnap == 2   ? r.y() + r.height() / 2
                      : m_positioning.vSnap == 1 ? r.y() + r.height()
                                                 : r.y();
    guide(QPointF(r.x(), gy), QPointF(r.x() + r.width(), gy), m_positioning.position.y());
}

void KTImageOverlayLayer::drawLayerForRect(const QRectF &rect, bool highQuality, bool skipCache)
{
    if (!m_image)
        return;
    m_lastInRect = rect;
    platform::DrawingContext *ctx = platform::DrawingContext::current();
    if (ctx)
        ctx->saveGState();
    if (m_isDragging && m_shouldDrawSnaps)
        drawGuides(rect);
    if (ctx)
        ctx->clipToRect(rect);

    // The picture keeps its proportions; its relatively larger side spans
    // `scale` of the matching side of the container.
    const QSizeF original = m_image->originalSize();
    const double ow = original.width();
    const double oh = original.height();
    QRectF drawn;
    if (ow > 0 && oh > 0 && rect.width() > 0 && rect.height() > 0) {
        const double rw = ow / rect.width();
        const double rh = oh / rect.height();
        const double f = rw > rh ? m_scale * rect.width() / ow : m_scale * rect.height() / oh;
        const QSizeF size(std::floor(ow * f), std::floor(oh * f));
        drawn = overlayRectForRelativePosition(rect, m_positioning, size);
        drawn.moveTo(std::floor(drawn.x()), std::floor(drawn.y()));
        if (highQuality)
            m_image->drawInRect(drawn, skipCache);
        else
            m_image->drawCachedInRect(drawn);
    }
    m_lastDrawingRect = drawn;
    if (ctx)
        ctx->restoreGState();
    if (isSelected())
        drawAllHandlersForRect(drawn);
}

void KTImageOverlayLayer::forceRedraw()
{
    emit layerChangedFastRedraw();
}

void KTImageOverlayLayer::setIsSelected(bool selected)
{
    KTLayer::setIsSelected(selected);
    forceRedraw();
}

bool KTImageOverlayLayer::isHitAtPoint(const QPointF &point) const
{
    return containsPoint(m_lastDrawingRect, point) || handlerForPointAndRect(point, m_lastDrawingRect) != -1;
}

bool KTImageOverlayLayer::acceptsMouseEvents() const
{
    return true;
}

void KTImageOverlayLayer::mouseDownAtPoint(const QPointF &point, const QMouseEvent *)
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

void KTImageOverlayLayer::mouseDraggedAtPoint(const QPointF &point, const QMouseEvent *event)
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
    // Out of range the drag step is ignored rather than clamped.
    if (s >= kMinScale && s <= kMaxScale)
        setScale(s);
}

void KTImageOverlayLayer::mouseUpAtPoint(const QPointF &point, const QMouseEvent *)
{
    if (m_isDragging)
        forceRedraw();
    m_isDragging = false;
    m_cursorRectsDisabled = false;
    if (containsPoint(m_lastDrawingRect, point))
        setCursor(Qt::OpenHandCursor);
}

void KTImageOverlayLayer::defineTrackingAreasInView(KTTrackingAreaHost *view)
{
    if (!view)
        return;
    defineAllTrackingAreasForRectAndView(m_lastDrawingRect, view);
    QVariantMap info;
    info.insert(QStringLiteral("view"), view->trackingAreaViewValue());
    view->addTrackingArea(m_lastDrawingRect, this, info);
}

void KTImageOverlayLayer::mouseEntered(const QVariantMap &userInfo)
{
    m_enteredInView = userInfo.value(QStringLiteral("view"));
    setCursor(m_isDragging ? Qt::ClosedHandCursor : Qt::OpenHandCursor);
}

void KTImageOverlayLayer::mouseExited()
{
    setCursor(Qt::ArrowCursor);
}

void KTImageOverlayLayer::mouseMoved(const QPointF &point)
{
    // On a handle outside the body the handle's own cursor rules.
    if (!containsPoint(m_lastDrawingRect, point) && handlerForPointAndRect(point, m_lastDrawingRect) != -1)
        return;
    setCursor(m_isDragging ? Qt::ClosedHandCursor : Qt::OpenHandCursor);
}

void KTImageOverlayLayer::setCursor(Qt::CursorShape shape)
{
    if (m_cursorShape == shape)
        return;
    m_cursorShape = shape;
    emit cursorShapeChanged();
}

bool KTImageOverlayLayer::validateValue(QVariant &value, const QString &keyPath) const
{
    if (keyPath == kScaleKey)
        value = NSNumberVLExtras::numberEnforcedBetweenAnd(value, kMinScale, kMaxScale);
    else if (keyPath == kOpacityKey)
        value = NSNumberVLExtras::numberEnforcedBetweenAnd(value, 0.0, 1.0);
    return true;
}

void KTImageOverlayLayer::setImage(std::shared_ptr<VLImage> image)
{
    m_image = std::move(image);
    emit layerChanged();
}

void KTImageOverlayLayer::setScale(double scale)
{
    m_scale = NSNumberVLExtras::numberEnforcedBetweenAnd(scale, kMinScale, kMaxScale);
    emit layerChangedFastRedraw();
}

void KTImageOverlayLayer::setOpacity(double opacity)
{
    m_opacity = opacity;
    if (m_image)
        m_image->setOpacity(opacity);
    emit layerChangedFastRedraw();
}

void KTImageOverlayLayer::setPositioning(const KTOverlayPositioning &positioning)
{
    m_positioning = positioning;
    emit layerChangedFastRedraw();
}

// --- archive ---

void KTImageOverlayLayer::encode(platform::KeyedArchiver &coder) const
{
    KTLayer::encode(coder);
    encodeImageOverlayKeys(coder);
}

void KTImageOverlayLayer::decode(platform::KeyedUnarchiver &coder)
{
    KTLayer::decode(coder);
    decodeImageOverlayKeys(coder);
}

void KTImageOverlayLayer::registerArchiveClass()
{
    static std::once_flag once;
    std::call_once(once, [] {
        platform::KeyedClassRegistry::shared().registerClass<KTImageOverlayLayer>(QStringLiteral("KTImageOverlayLayer"));
    });
}

void KTImageOverlayLayer::encodeImageOverlayKeys(platform::KeyedArchiver &coder) const
{
    coder.encodeFloat(float(m_scale), kScaleKey);
    coder.encodePoint(m_positioning.position, kPositionKey);
    coder.encodeInteger(qint64(m_positioning.hSnap), kHSnapKey);
    coder.encodeInteger(qint64(m_positioning.vSnap), kVSnapKey);
    coder.encodeFloat(float(m_opacity), kOpacityKey);
    if (m_image) {
        coder.encodeObject(std::static_pointer_cast<const platform::Coding>(m_image), kImageKey);
    } else {
        platform::logLine(QStringLiteral("KTImageOverlayLayer: No image when encoding %1").arg(m_imagePath));
        coder.encodeString(m_imagePath, kImagePathKey);
    }
}

void KTImageOverlayLayer::decodeImageOverlayKeys(platform::KeyedUnarchiver &coder)
{
    setScale(coder.decodeFloatForKey(kScaleKey));
    QPointF position = coder.decodePointForKey(kPositionKey);
    position = QPointF(finiteOr(position.x(), 0), finiteOr(position.y(), 0));
    KTOverlayPositioning placed;
    if (coder.containsValueForKey(kVSnapKey) && coder.containsValueForKey(kHSnapKey)) {
        placed.position = position;
        placed.hSnap = std::uint64_t(coder.decodeIntegerForKey(kHSnapKey));
        placed.vSnap = std::uint64_t(coder.decodeIntegerForKey(kVSnapKey));
    } else {
        // The earlier format kept the picture's centre, 0.5 meaning centred.
        placed.position = position - QPointF(0.5, 0.5);
        placed.hSnap = 2;
        placed.vSnap = 2;
    }
    m_positioning = placed;

    auto image = coder.decodeObjectOfClassForKey<VLImage>(kImageKey);
    if (image && image->hasPicture()) {
        m_image = image;
        m_imagePath = image->originalImageFilePath();
        setIcon(image);
    } else {
        m_imagePath = coder.decodeStringForKey(kImagePathKey);
        if (!m_imagePath.isNull())
            loadImage();
    }
    setOpacity(finiteOr(coder.decodeFloatForKey(kOpacityKey), 1.0));
    setSupportsHiding(true);
}

std::shared_ptr<KTLayer> KTImageOverlayLayer::copyForRendering() const
{
    auto copy = std::make_shared<KTImageOverlayLayer>();
    copy->copyBaseFieldsFrom(*this);
    copy->m_image = m_image ? m_image->copyForRendering() : nullptr;
    copy->setIcon(copy->m_image);
    copy->m_scale = m_scale;
    copy->m_opacity = m_opacity;
    copy->m_imagePath = m_imagePath;
    copy->m_positioning = m_positioning;
    copy->m_lastDrawingRect = m_lastDrawingRect;
    copy->m_lastInRect = m_lastInRect;
    return copy;
}
