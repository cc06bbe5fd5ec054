#include "platform/render/ParallelPaint.h"

#include "platform/ThreadPools.h"
#include "platform/imaging/ParallelRows.h"
#include "platform/render/AlphaBlur.h"

#include <QImage>
#include <QPaintDevice>
#include <QPainter>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <new>

namespace platform {

namespace {
// Rows (and columns) of the target round each band, painted and thrown away.
constexpr int kMargin = 2;
// Qt's raster engine hands a fill of 96 spans or more to its own thread
// pool and waits for it. A thread that must keep to itself (a batch's
// worker, whose neighbours have the other cores) paints in strips of rows
// too few for that: the pool's threads would take the cores from the other
// workers, and the pixels from this core's cache.
constexpr int kSerialStripRows = 32;
// Bands thinner than this cost more in set-up than they save.
constexpr int kMinBandRows = 48;
std::atomic<bool> s_enabled{true};
} // namespace

void ParallelPaint::setEnabled(bool on)
{
    s_enabled = on;
}

bool ParallelPaint::isEnabled()
{
    return s_enabled;
}

std::optional<QRectF> ParallelPaint::rectangularClip(const QPainterPath &path)
{
    if (path.elementCount() != 5 && path.elementCount() != 4)
        return std::nullopt;
    const QPolygonF poly = path.toFillPolygon();
    const QRectF bounds = poly.boundingRect();
    for (const QPointF &p : poly) {
        const bool onX = qFuzzyCompare(p.x() + 1, bounds.left() + 1) || qFuzzyCompare(p.x() + 1, bounds.right() + 1);
        const bool onY = qFuzzyCompare(p.y() + 1, bounds.top() + 1) || qFuzzyCompare(p.y() + 1, bounds.bottom() + 1);
        if (!onX || !onY)
            return std::nullopt;
    }
    return bounds;
}

bool ParallelPaint::paintInStrips(QPainter &target, const QRect &region, const Draw &draw)
{
    if (region.isEmpty())
        return true;
    if (region.height() <= kSerialStripRows)
        return false;
    const QTransform world = target.worldTransform();
    const bool clipped = target.hasClipping();
    for (int b0 = region.top(), end = region.top() + region.height(); b0 < end; b0 += kSerialStripRows) {
        target.save();
        target.resetTransform();
        target.setClipRect(QRect(region.left(), b0, region.width(), std::min(kSerialStripRows, end - b0)),
                           clipped ? Qt::IntersectClip : Qt::ReplaceClip);
        target.setWorldTransform(world);
        draw(target, QTransform());
        target.restore();
    }
    return true;
}

bool ParallelPaint::paint(QPainter &target, const QRect &area, const Draw &draw)
{
    if (!s_enabled || !target.isActive() || !draw)
        return false;
    const bool serial = rowsRunSerially();
    QPaintDevice *device = target.device();
    if (!device || device->devType() != QInternal::Image || (!serial && poolThreadCount(Pool::Parallel) < 2))
        return false;
    QImage &image = *static_cast<QImage *>(device);
    if (image.format() != QImage::Format_ARGB32_Premultiplied || image.devicePixelRatio() != 1.0)
        return false;
    // Only the world transform may stand between the painter and the pixels.
    if (target.viewTransformEnabled() || target.deviceTransform() != target.worldTransform())
        return false;
    // The strips are clipped on the target itself, whatever clip it has:
    // no need to look into it (which costs more than the drawing for a path).
    if (serial)
        return paintInStrips(target, area.intersected(image.rect()), draw);
    // Too little to share out: said before looking into the clip, which
    // costs more than drawing a small picture (a moulding's tile) when it
    // is a path.
    const QRect region = area.intersected(image.rect());
    if (!region.isEmpty()
        && (qint64(region.width()) * region.height() < kMinPixels || region.height() < 2 * kMinBandRows))
        return false;
    std::optional<QRectF> clipRect;
    if (target.hasClipping()) {
        // The clip's path has whole pixels, rounded outwards; the painter
        // clips to the rect as it was given, rounded to the nearest pixel.
        if (!rectangularClip(target.clipPath()))
            return false;
        clipRect = target.clipBoundingRect();
    }
    if (region.isEmpty())
        return true;

    const QTransform world = target.worldTransform();
    const QPainter::RenderHints hints = target.renderHints();
    const QPainter::CompositionMode mode = target.compositionMode();
    const qreal opacity = target.opacity();
    const QPen pen = target.pen();
    const QBrush brush = target.brush();
    const QPointF brushOrigin = target.brushOrigin();
    uchar *bits = image.bits();
    const qsizetype bpl = image.bytesPerLine();

    AlphaBlur::parallelFor(region.height(), kMinBandRows, [&](int first, int end) {
        const int b0 = region.top() + first;
        const int b1 = region.top() + end;
        // A window on the target's own rows, reaching past the band so its
        // edges are not the picture's; a clip keeps the painting in the band.
        const int y0 = std::max(0, b0 - kMargin);
        const int y1 = std::min(image.height(), b1 + kMargin);
        QImage rows(bits + bpl * y0, image.width(), y1 - y0, bpl, QImage::Format_ARGB32_Premultiplied);
        QPainter p(&rows);
        p.setRenderHints(hints);
        p.setCompositionMode(mode);
        p.setOpacity(opacity);
        p.setPen(pen);
        p.setBrush(brush);
        p.setBrushOrigin(brushOrigin);
        const QTransform shift = QTransform::fromTranslate(0, -y0);
        p.setWorldTransform(world * shift);
        if (clipRect)
            p.setClipRect(*clipRect);
        p.resetTransform();
        p.setClipRect(QRect(region.left(), b0 - y0, region.width(), b1 - b0),
                      clipRect ? Qt::IntersectClip : Qt::ReplaceClip);
        p.setWorldTransform(world * shift);
        draw(p, shift);
    });
    return true;
}

} // namespace platform
