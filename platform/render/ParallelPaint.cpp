#include "platform/render/ParallelPaint.h"

#include "platform/render/AlphaBlur.h"

#include <QImage>
#include <QPaintDevice>
#include <QPainter>
#include <QThreadPool>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <new>

namespace platform {

namespace {
// Rows (and columns) of the target round each band, painted and thrown away.
constexpr int kMargin = 2;
// Bands thinner than this cost more in set-up than they save.
constexpr int kMinBandRows = 48;
// Wider than any block the blending code works in.
constexpr qsizetype kAlign = 64;
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

bool ParallelPaint::paint(QPainter &target, const QRect &area, const Draw &draw)
{
    if (!s_enabled || !target.isActive() || !draw)
        return false;
    QPaintDevice *device = target.device();
    if (!device || device->devType() != QInternal::Image || QThreadPool::globalInstance()->maxThreadCount() < 2)
        return false;
    QImage &image = *static_cast<QImage *>(device);
    if (image.format() != QImage::Format_ARGB32_Premultiplied || image.devicePixelRatio() != 1.0)
        return false;
    // Only the world transform may stand between the painter and the pixels.
    if (target.viewTransformEnabled() || target.deviceTransform() != target.worldTransform())
        return false;
    std::optional<QRectF> clipRect;
    if (target.hasClipping()) {
        // The clip's path has whole pixels, rounded outwards; the painter
        // clips to the rect as it was given, rounded to the nearest pixel.
        if (!rectangularClip(target.clipPath()))
            return false;
        clipRect = target.clipBoundingRect();
    }
    const QRect region = area.intersected(image.rect());
    if (region.isEmpty())
        return true;
    if (qint64(region.width()) * region.height() < kMinPixels || region.height() < 2 * kMinBandRows)
        return false;

    const QTransform world = target.worldTransform();
    const QPainter::RenderHints hints = target.renderHints();
    const QPainter::CompositionMode mode = target.compositionMode();
    const qreal opacity = target.opacity();
    const QPen pen = target.pen();
    const QBrush brush = target.brush();
    const QPointF brushOrigin = target.brushOrigin();
    const int x0 = std::max(0, region.left() - kMargin);
    const int x1 = std::min(image.width(), region.right() + 1 + kMargin);
    uchar *bits = image.bits();
    const qsizetype bpl = image.bytesPerLine();

    AlphaBlur::parallelFor(region.height(), kMinBandRows, [&](int first, int end) {
        const int b0 = region.top() + first;
        const int b1 = region.top() + end;
        const int y0 = std::max(0, b0 - kMargin);
        const int y1 = std::min(image.height(), b1 + kMargin);
        const auto paintBand = [&](QImage &band, int bx, int by) {
            QPainter p(&band);
            p.setRenderHints(hints);
            p.setCompositionMode(mode);
            p.setOpacity(opacity);
            p.setPen(pen);
            p.setBrush(brush);
            p.setBrushOrigin(brushOrigin);
            const QTransform shift = QTransform::fromTranslate(-bx, -by);
            p.setWorldTransform(world * shift);
            if (clipRect)
                p.setClipRect(*clipRect);
            draw(p, shift);
        };
        // The blending code works through a row in aligned blocks and
        // rounds the odd pixels before and after them a little differently:
        // every pixel of the copy sits at the same place within a block as
        // in the target.
        const qsizetype rowBytes = qsizetype(x1 - x0) * 4;
        const qsizetype stride = rowBytes + ((bpl - rowBytes) % kAlign + kAlign) % kAlign;
        const quintptr want = (quintptr(bits + bpl * y0 + qsizetype(x0) * 4)) % kAlign;
        std::unique_ptr<uchar[]> memory(new (std::nothrow) uchar[size_t(stride) * size_t(y1 - y0) + 2 * kAlign]);
        QImage band;
        if (memory) {
            const quintptr raw = quintptr(memory.get());
            uchar *start = memory.get() + (want + kAlign - raw % kAlign) % kAlign;
            band = QImage(start, x1 - x0, y1 - y0, stride, QImage::Format_ARGB32_Premultiplied);
        }
        if (band.isNull()) {
            // No memory for the copy: the band's own rows, painted in place.
            QImage rows(bits + bpl * b0, image.width(), b1 - b0, bpl, QImage::Format_ARGB32_Premultiplied);
            paintBand(rows, 0, b0);
            return;
        }
        // The margin rows are thrown away afterwards and may be another
        // band's, being written: they start blank rather than read.
        for (int y = y0; y < y1; ++y) {
            if (y < b0 || y >= b1)
                std::memset(band.scanLine(y - y0), 0, size_t(rowBytes));
            else
                std::memcpy(band.scanLine(y - y0), bits + bpl * y + qsizetype(x0) * 4, size_t(rowBytes));
        }
        paintBand(band, x0, y0);
        // Back without the margin: those rows belong to the next band.
        const size_t keep = size_t(region.width()) * 4;
        for (int y = b0; y < b1; ++y)
            std::memcpy(bits + bpl * y + qsizetype(region.left()) * 4,
                        band.constScanLine(y - y0) + size_t(region.left() - x0) * 4, keep);
    });
    return true;
}

} // namespace platform
