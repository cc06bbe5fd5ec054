#include "platform/imaging/BitmapTransform.h"

#include "platform/imaging/ImageBuffer.h"
#include "platform/imaging/ParallelRows.h"

#include <QColorSpace>
#include <QPainter>

#include <algorithm>
#include <cstring>

namespace platform {

namespace {

// Destination pixel (x, y) takes source pixel (sx, sy) with
// sx = ax*x + bx*y + cx, sy = ay*x + by*y + cy.
struct Mapping {
    int ax, bx, cx, ay, by, cy;
};

Mapping mappingFor(int orientation, int w, int h)
{
    switch (orientation) {
    case 2: return {-1, 0, w - 1, 0, 1, 0};          // mirror left-right
    case 3: return {-1, 0, w - 1, 0, -1, h - 1};     // half turn
    case 4: return {1, 0, 0, 0, -1, h - 1};          // mirror top-bottom
    case 5: return {0, 1, 0, 1, 0, 0};               // transpose
    case 6: return {0, 1, 0, -1, 0, h - 1};          // quarter turn clockwise
    case 7: return {0, -1, w - 1, -1, 0, h - 1};     // transverse
    case 8: return {0, -1, w - 1, 1, 0, 0};          // quarter turn anticlockwise
    default: return {1, 0, 0, 0, 1, 0};
    }
}

QImage remap(const QImage &src, int orientation)
{
    const int w = src.width();
    const int h = src.height();
    const bool swap = BitmapTransform::orientationSwapsSides(orientation);
    QImage dst = ImageBuffer::allocate(swap ? h : w, swap ? w : h, src.format());
    if (dst.isNull())
        return {};
    dst.setDotsPerMeterX(swap ? src.dotsPerMeterY() : src.dotsPerMeterX());
    dst.setDotsPerMeterY(swap ? src.dotsPerMeterX() : src.dotsPerMeterY());
    dst.setColorSpace(src.colorSpace());
    const Mapping m = mappingFor(orientation, w, h);
    const uchar *sbits = src.constBits();
    const qsizetype sbpl = src.bytesPerLine();
    const int dw = dst.width();
    uchar *dbits = dst.bits();
    const qsizetype dbpl = dst.bytesPerLine();
    constexpr int kTile = 64;
    parallelRows(dst.height(), (long long)w * h, [&](int first, int end) {
        for (int ty = first; ty < end; ty += kTile) {
            const int yEnd = std::min(end, ty + kTile);
            for (int tx = 0; tx < dw; tx += kTile) {
                const int xEnd = std::min(dw, tx + kTile);
                for (int y = ty; y < yEnd; ++y) {
                    auto *out = reinterpret_cast<quint32 *>(dbits + dbpl * y);
                    // Along a row the source moves by a fixed step: an offset, not two products a pixel.
                    qsizetype from = sbpl * qsizetype(m.ay * tx + m.by * y + m.cy)
                                     + 4 * qsizetype(m.ax * tx + m.bx * y + m.cx);
                    const qsizetype step = sbpl * m.ay + 4 * m.ax;
                    for (int x = tx; x < xEnd; ++x, from += step)
                        std::memcpy(out + x, sbits + from, 4);
                }
            }
        }
    });
    return dst;
}

} // namespace

bool BitmapTransform::orientationSwapsSides(int orientation)
{
    return orientation >= 5 && orientation <= 8;
}

QImage BitmapTransform::applyExifOrientation(const QImage &image, int orientation)
{
    if (orientation < 2 || orientation > 8 || image.isNull())
        return image;
    QImage src = image;
    if (src.depth() != 32)
        src = src.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    return remap(src, orientation);
}

QImage BitmapTransform::rotateClockwise(const QImage &image, int turns)
{
    turns = ((turns % 4) + 4) % 4;
    static const int orientationForTurns[4] = {1, 6, 3, 8};
    return applyExifOrientation(image, orientationForTurns[turns]);
}

QImage BitmapTransform::scaled(const QImage &image, int width, int height)
{
    if (image.isNull() || width <= 0 || height <= 0)
        return {};
    QImage src = image;
    if (src.format() != QImage::Format_ARGB32_Premultiplied)
        src = src.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    if (src.width() == width && src.height() == height)
        return src.copy();
    if (width * 4 < src.width() * 3 && height * 4 < src.height() * 3) {
        QImage out = src.scaled(width, height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        if (!out.isNull() && out.format() != QImage::Format_ARGB32_Premultiplied)
            out.convertTo(QImage::Format_ARGB32_Premultiplied);
        return out;
    }
    QImage dst = ImageBuffer::allocate(width, height);
    if (dst.isNull())
        return {};
    uchar *bits = dst.bits();
    const qsizetype bpl = dst.bytesPerLine();
    const QRectF target(0, 0, width, height);
    // Smooth sampling costs several times a copy per pixel: tile-sized
    // pictures already pay for the threads.
    parallelRows(height, (long long)width * height * 4, [&](int first, int end) {
        // Each band paints the whole picture through its own window of rows.
        QImage band(bits + bpl * first, width, end - first, bpl, QImage::Format_ARGB32_Premultiplied);
        band.fill(Qt::transparent);
        QPainter p(&band);
        p.setRenderHint(QPainter::SmoothPixmapTransform, true);
        p.setCompositionMode(QPainter::CompositionMode_Source);
        p.translate(0, -first);
        p.drawImage(target, src);
    });
    return dst;
}

} // namespace platform
