#include "platform/render/TransparencyLayer.h"

#include "platform/imaging/ImageBuffer.h"
#include "platform/imaging/ParallelRows.h"
#include "platform/render/AlphaBlur.h"
#include "platform/render/ParallelPaint.h"
#include "platform/render/RenderBand.h"

#include <QDataStream>
#include <QIODevice>
#include <QPaintDevice>
#include <QPainter>
#include <QPainterPath>
#include <QTransform>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <new>
#include <vector>

namespace platform {

struct TransparencyLayer::Private {
    QPainter *target = nullptr;
    bool passthrough = false;
    QImage buffer;
    QImage backing; // the memory under `buffer`, handed back to the spare slot at the end
    QPainter painter;
    QRect rect;
    QRect shown; // the target's own pixels, in the coordinates of `rect`
    std::optional<Shadow> shadow;
    std::shared_ptr<const ShadowCache::Mask> mask; // the shadow worked out beforehand
    QTransform deviceTransform;
    QTransform baseTransform;
    qreal opacity = 1;
    QPainter::CompositionMode mode = QPainter::CompositionMode_SourceOver;
    qreal devicePixelRatio = 1;
    bool finished = false; // content ended and its shadow laid
    bool made = false; // `buffer` is a group made beforehand, shared read-only
};

namespace {

// Premultiplied x * a / 255, rounded.
inline quint32 mul255(quint32 x, quint32 a)
{
    const quint32 t = x * a + 128;
    return (t + (t >> 8)) >> 8;
}

// Fresh pages of a large buffer cost far more than drawing into them, so each
// thread keeps the largest few buffers it used for the next layers (a
// moulding's four sides are made side by side).
constexpr std::size_t kSpareBuffers = 4;
constexpr qint64 kSpareBytes = qint64(64) << 20;
thread_local std::vector<QImage> spareBuffers;

struct ShadowGeometry {
    QPointF offset; // device pixels
    double sigma = 0;
    int factor = 1;
};

ShadowGeometry shadowGeometry(const Shadow &shadow, const QTransform &t)
{
    ShadowGeometry g;
    g.offset = t.map(shadow.offset) - t.map(QPointF(0, 0));
    const double scale = std::sqrt(std::abs(t.m11() * t.m22() - t.m12() * t.m21()));
    g.sigma = TransparencyLayer::sigmaForBlurRadius(std::max<qreal>(0, shadow.blurRadius) * scale);
    g.factor = TransparencyLayer::shrinkFactor(g.sigma);
    return g;
}

qint64 pixelsOf(const QImage &image)
{
    return qint64(image.width()) * image.height();
}

QImage takeBuffer(QSize size, QImage &backing)
{
    const qint64 need = qint64(size.width()) * size.height();
    // The smallest spare that is large enough.
    auto best = spareBuffers.end();
    for (auto it = spareBuffers.begin(); it != spareBuffers.end(); ++it) {
        if (pixelsOf(*it) >= need && (best == spareBuffers.end() || pixelsOf(*it) < pixelsOf(*best)))
            best = it;
    }
    if (best != spareBuffers.end()) {
        backing = std::move(*best);
        spareBuffers.erase(best);
        return QImage(backing.bits(), size.width(), size.height(), qsizetype(size.width()) * 4,
                      QImage::Format_ARGB32_Premultiplied);
    }
    try {
        backing = ImageBuffer::allocate(size.width(), size.height());
    } catch (const std::bad_alloc &) {
        backing = QImage();
    }
    if (backing.isNull())
        return QImage();
    return QImage(backing.bits(), size.width(), size.height(), qsizetype(size.width()) * 4,
                  QImage::Format_ARGB32_Premultiplied);
}

void giveBackBuffer(QImage &backing)
{
    if (backing.isNull())
        return;
    spareBuffers.push_back(std::move(backing));
    backing = QImage();
    // Keep the largest, within a few and a total.
    std::sort(spareBuffers.begin(), spareBuffers.end(),
              [](const QImage &a, const QImage &b) { return pixelsOf(a) > pixelsOf(b); });
    qint64 bytes = 0;
    std::size_t keep = 0;
    while (keep < spareBuffers.size() && keep < kSpareBuffers && bytes + spareBuffers[keep].sizeInBytes() <= kSpareBytes)
        bytes += spareBuffers[keep++].sizeInBytes();
    spareBuffers.resize(keep);
}

} // namespace

void TransparencyLayer::releaseSpareBuffer()
{
    spareBuffers.clear();
}

TransparencyLayer::TransparencyLayer()
    : d(std::make_unique<Private>())
{
}

TransparencyLayer::~TransparencyLayer()
{
    end();
}

QPainter *TransparencyLayer::begin(QPainter *target, const std::optional<Shadow> &shadow)
{
    return beginGroup(target, shadow, nullptr);
}

QPainter *TransparencyLayer::begin(QPainter *target, const Shadow &shadow,
                                   std::shared_ptr<const ShadowCache::Mask> mask)
{
    return beginGroup(target, shadow, std::move(mask));
}

bool TransparencyLayer::beginMade(QPainter *target, const Shadow &shadow,
                                  std::shared_ptr<const ShadowCache::Mask> group)
{
    if (!group || group->group.isNull())
        return false;
    std::shared_ptr<const ShadowCache::Mask> mask = group;
    beginGroup(target, shadow, std::move(mask), std::move(group));
    return d->made;
}

QPainter *TransparencyLayer::beginGroup(QPainter *target, const std::optional<Shadow> &shadow,
                                        std::shared_ptr<const ShadowCache::Mask> mask,
                                        std::shared_ptr<const ShadowCache::Mask> made)
{
    end();
    if (!target || !target->isActive())
        return target;
    d->target = target;
    d->shadow = shadow;
    d->opacity = target->opacity();
    d->mode = target->compositionMode();
    d->deviceTransform = target->deviceTransform();
    // What lies under the world transform: the pixel ratio and, for a child
    // widget painted into its window's backing store, the widget's offset.
    bool invertible = false;
    const QTransform worldInverse = target->worldTransform().inverted(&invertible);
    d->baseTransform = invertible ? worldInverse * d->deviceTransform : QTransform();

    const QPaintDevice *device = target->device();
    d->devicePixelRatio = device ? device->devicePixelRatio() : 1.0;
    const QRect canvas = device ? d->baseTransform.mapRect(QRectF(RenderBand::canvasFor(device))).toAlignedRect() : QRect();
    QRect rect = canvas;
    if (target->hasClipping())
        rect &= d->deviceTransform.mapRect(target->clipBoundingRect()).toAlignedRect();
    if (device) {
        // A shadow worked out beforehand needs the target's own rows only,
        // if its mask covers them all.
        if (mask && shadow && shadow->color.alpha() > 0) {
            const QRect own = RenderBand::cut(device, rect, 0, 1);
            const QRect shown =
                d->baseTransform.mapRect(QRectF(0, 0, device->width(), device->height())).toAlignedRect();
            const QRect needed = own.intersected(shown);
            if (needed.isEmpty() || mask->rect.contains(needed)) {
                d->mask = std::move(mask);
                rect = own;
            }
        }
        // Drawn a band at a time: the group needs the band and what its
        // shadow reaches, on the grid its blur runs on.
        if (!d->mask) {
            int reach = 0;
            int grid = 1;
            if (shadow && shadow->color.alpha() > 0) {
                const ShadowGeometry g = shadowGeometry(*shadow, d->deviceTransform);
                grid = g.factor;
                reach = RenderBand::shadowReach(g.sigma, g.factor, g.offset.y());
            }
            rect = RenderBand::cut(device, rect, reach, grid);
        }
    }
    if (made) {
        // Made for this very rect, or not used at all.
        if (!d->mask || rect.isEmpty() || rect != made->rect || made->group.size() != rect.size()) {
            d->target = nullptr;
            d->shadow.reset();
            d->mask.reset();
            return nullptr;
        }
        d->buffer = made->group;
        d->rect = rect;
        d->made = true;
        d->finished = true;
        return nullptr;
    }
    if (rect.isEmpty()) {
        d->passthrough = true;
        d->mask.reset();
        return target;
    }

    QImage buffer = takeBuffer(rect.size(), d->backing);
    if (buffer.isNull()) {
        d->passthrough = true;
        d->mask.reset();
        return target;
    }
    // Clearing a fresh buffer is mostly first touches of its pages: spread
    // them over the cores.
    uchar *bits = buffer.bits();
    const qsizetype bpl = buffer.bytesPerLine();
    parallelRows(buffer.height(), qint64(buffer.width()) * buffer.height(), [bits, bpl](int first, int end) {
        std::memset(bits + bpl * first, 0, size_t(bpl) * size_t(end - first));
    });
    d->buffer = std::move(buffer);
    d->rect = rect;
    d->shown = device ? d->baseTransform.mapRect(QRectF(0, 0, device->width(), device->height())).toAlignedRect() : QRect();

    QPainter &p = d->painter;
    p.begin(&d->buffer);
    p.setRenderHints(target->renderHints());
    p.setPen(target->pen());
    p.setBrush(target->brush());
    p.setFont(target->font());
    p.setBrushOrigin(target->brushOrigin());
    // The group is drawn at full strength; its opacity and mode apply once at the end.
    const QTransform shift = QTransform::fromTranslate(-rect.x(), -rect.y());
    if (target->hasClipping()) {
        const QPainterPath clip = target->clipPath();
        p.setWorldTransform(d->deviceTransform * shift);
        if (const std::optional<QRectF> r = ParallelPaint::rectangularClip(clip); r && d->deviceTransform.isAffine()
                && d->deviceTransform.m12() == 0 && d->deviceTransform.m21() == 0)
            p.setClipRect(*r);
        else
            p.setClipPath(clip);
    } else {
        p.setWorldTransform(d->deviceTransform * shift);
    }
    return &d->painter;
}

QPainter *TransparencyLayer::painter() const
{
    if (d->made)
        return nullptr;
    if (d->passthrough)
        return d->target;
    return d->painter.isActive() ? const_cast<QPainter *>(&d->painter) : nullptr;
}

bool TransparencyLayer::isActive() const
{
    return d->target != nullptr;
}

QRect TransparencyLayer::deviceRect() const
{
    return d->passthrough ? QRect() : d->rect;
}

void TransparencyLayer::finishContent()
{
    if (!d->target || d->passthrough || d->finished)
        return;
    d->finished = true;
    d->painter.end();
    if (d->shadow && d->shadow->color.alpha() > 0) {
        // Rows past the target's own (a band's neighbours, drawn for the
        // shadow they cast into it) are never laid down: they take none.
        const bool all = d->shown.isEmpty();
        const int first = all ? 0 : d->shown.top() - d->rect.top();
        const int end = all ? -1 : d->shown.top() + d->shown.height() - d->rect.top();
        if (d->mask) {
            layShadowMask(d->buffer, d->rect, *d->mask, d->shadow->color, first, end);
        } else {
            const ShadowGeometry g = shadowGeometry(*d->shadow, d->deviceTransform);
            applyShadow(d->buffer, d->shadow->color, g.offset, g.sigma, first, end);
        }
    }
}

std::shared_ptr<ShadowCache::Mask> TransparencyLayer::endWithMask()
{
    std::shared_ptr<ShadowCache::Mask> mask;
    if (!d->target)
        return mask;
    if (!d->passthrough) {
        d->painter.end();
        if (d->shadow && d->shadow->color.alpha() > 0) {
            const ShadowGeometry g = shadowGeometry(*d->shadow, d->deviceTransform);
            const bool all = d->shown.isEmpty();
            mask = shadowMask(d->buffer, g.offset, g.sigma, d->rect, all ? 0 : d->shown.top() - d->rect.top(),
                              all ? -1 : d->shown.top() + d->shown.height() - d->rect.top());
        }
        d->buffer = QImage();
        giveBackBuffer(d->backing);
    }
    d->target = nullptr;
    d->passthrough = false;
    d->finished = false;
    d->shadow.reset();
    d->mask.reset();
    return mask;
}

QByteArray TransparencyLayer::shadowKey(QPainter *target, const Shadow &shadow, const QByteArray &contentKey)
{
    const QPaintDevice *device = target->device();
    if (!device)
        return {};
    // Everything begin() reads from the target, and the shadow.
    QByteArray key = contentKey;
    QDataStream out(&key, QIODevice::WriteOnly | QIODevice::Append);
    // The group's painter starts with the target's pen and brush: a
    // patterned one would be a picture to tell, so it is not shared.
    const QBrush brush = target->brush();
    const QBrush pen = target->pen().brush();
    if (brush.style() >= Qt::LinearGradientPattern || pen.style() >= Qt::LinearGradientPattern)
        return {};
    out << target->deviceTransform() << target->worldTransform() << qint32(target->renderHints())
        << qint32(brush.style()) << brush.color() << qint32(pen.style()) << pen.color() << target->pen().widthF()
        << qint32(target->pen().style()) << target->brushOrigin() << target->font().key() << target->hasClipping();
    if (target->hasClipping())
        out << target->clipPath();
    out << qint32(device->devType()) << qint32(device->width()) << qint32(device->height())
        << device->devicePixelRatio() << RenderBand::canvasFor(device) << shadow.color << shadow.offset
        << shadow.blurRadius;
    return key;
}

std::shared_ptr<const ShadowCache::Mask> TransparencyLayer::sharedShadow(QPainter *target, const Shadow &shadow,
                                                                         const QByteArray &contentKey,
                                                                         const std::function<void(QPainter *)> &draw)
{
    ShadowCache *cache = ShadowCache::current();
    if (!cache || !target || !target->isActive() || shadow.color.alpha() == 0 || contentKey.isEmpty())
        return nullptr;
    const QByteArray key = shadowKey(target, shadow, contentKey);
    if (key.isEmpty())
        return nullptr;
    const auto make = [&]() -> std::shared_ptr<const ShadowCache::Mask> {
        TransparencyLayer probe;
        QPainter *painter = probe.begin(target, shadow);
        if (painter == target) {
            probe.end();
            return nullptr;
        }
        draw(painter);
        return probe.endWithMask();
    };
    // Not waited for: the caller draws the group with its shadow meanwhile.
    return cache->obtain(key, make, false);
}

std::shared_ptr<const ShadowCache::Mask> TransparencyLayer::sharedGroup(QPainter *target, const Shadow &shadow,
                                                                        const QByteArray &contentKey,
                                                                        std::shared_ptr<const ShadowCache::Mask> mask,
                                                                        const std::function<void(QPainter *)> &draw)
{
    ShadowCache *cache = ShadowCache::current();
    if (!cache || !mask || !target || !target->isActive() || shadow.color.alpha() == 0 || contentKey.isEmpty())
        return nullptr;
    QByteArray key = shadowKey(target, shadow, contentKey);
    if (key.isEmpty())
        return nullptr;
    {
        QDataStream out(&key, QIODevice::WriteOnly | QIODevice::Append);
        out << QByteArray("finished group");
    }
    return cache->obtain(key, [&]() -> std::shared_ptr<const ShadowCache::Mask> {
        // Drawn as a group that finds its shadow draws, so its pixels are those.
        TransparencyLayer probe;
        QPainter *painter = probe.begin(target, shadow, mask);
        if (painter == target) {
            probe.end();
            return nullptr;
        }
        draw(painter);
        return probe.endWithGroup();
    });
}

std::shared_ptr<ShadowCache::Mask> TransparencyLayer::endWithGroup()
{
    std::shared_ptr<ShadowCache::Mask> group;
    if (!d->target)
        return group;
    if (!d->passthrough && !d->made) {
        finishContent();
        if (d->mask) {
            try {
                group = std::make_shared<ShadowCache::Mask>(d->rect);
                group->group = d->buffer.copy();
            } catch (const std::bad_alloc &) {
                group.reset();
            }
            if (group && group->group.isNull())
                group.reset();
        }
        d->buffer = QImage();
        giveBackBuffer(d->backing);
    }
    d->buffer = QImage();
    d->target = nullptr;
    d->passthrough = false;
    d->finished = false;
    d->made = false;
    d->shadow.reset();
    d->mask.reset();
    return group;
}

void TransparencyLayer::end()
{
    if (!d->target)
        return;
    if (d->passthrough) {
        d->target = nullptr;
        d->passthrough = false;
        return;
    }
    finishContent();
    d->finished = false;
    d->made = false;
    QPainter *target = d->target;
    d->target = nullptr;

    target->save();
    // Back to plain device pixels (at the pixel ratio), whatever offset the
    // target paints under.
    bool invertible = false;
    const QTransform baseInverse = d->baseTransform.inverted(&invertible);
    target->setWorldTransform(invertible ? QTransform::fromScale(d->devicePixelRatio, d->devicePixelRatio) * baseInverse
                                         : QTransform());
    target->setOpacity(d->opacity);
    target->setCompositionMode(d->mode);
    if (d->buffer.devicePixelRatio() != d->devicePixelRatio)
        d->buffer.setDevicePixelRatio(d->devicePixelRatio);
    const QPointF at = QPointF(d->rect.topLeft()) / d->devicePixelRatio;
    const QImage &group = d->buffer;
    if (!ParallelPaint::paint(*target, d->rect, [&](QPainter &p, const QTransform &) { p.drawImage(at, group); }))
        target->drawImage(at, group);
    target->restore();
    d->buffer = QImage();
    giveBackBuffer(d->backing);
    d->shadow.reset();
    d->mask.reset();
}

namespace {

// The blurred coverage of an image's alpha on a plane `factor` times
// smaller, reaching far enough around the image that every sample the moved
// shadow needs lies inside it (beyond, the alpha is zero anyway), with each
// image column's place on it.
struct ShadowPlane {
    std::unique_ptr<quint16[]> values;
    int width = 0;
    int height = 0;
    int padY = 0;
    int factor = 1;
    double dy = 0;
    std::vector<int> col0;
    std::vector<int> colW;
};

bool makeShadowPlane(const QImage &image, QPointF offset, double sigma, ShadowPlane &out)
{
    const int w = image.width();
    const int h = image.height();
    sigma = std::max(0.0, sigma);

    // Large blurs run on a smaller plane: the blur hides the detail lost.
    const int f = TransparencyLayer::shrinkFactor(sigma);
    const double dx = offset.x();
    const double dy = offset.y();
    if (!std::isfinite(dx) || !std::isfinite(dy) || std::abs(dx) > 1e6 || std::abs(dy) > 1e6)
        return false;
    const int padX = int(std::ceil(std::abs(dx) / f)) + 2;
    const int padY = int(std::ceil(std::abs(dy) / f)) + 2;
    const qint64 pw = (w + f - 1) / f + 2 * padX;
    const qint64 ph = (h + f - 1) / f + 2 * padY;
    if (pw > (1 << 20) || ph > (1 << 20))
        return false;
    const size_t count = size_t(pw) * size_t(ph);
    std::unique_ptr<quint16[]> plane(new (std::nothrow) quint16[count]);
    std::unique_ptr<quint16[]> scratch(new (std::nothrow) quint16[count]);
    if (!plane || !scratch)
        return false;
    const int planeW = int(pw);
    const int planeH = int(ph);

    // Coverage plane: mean alpha of each f x f block, 8.8 fixed point.
    const uchar *bits = image.constBits();
    const qsizetype bpl = image.bytesPerLine();
    const int blocks = (w + f - 1) / f;
    AlphaBlur::parallelFor(planeH, 16, [&](int y0, int y1) {
        // Copies of their own: a store through a column sum could change a
        // value read by reference, which keeps the compiler from widening.
        const int width = w;
        const int rows = h;
        const int factor = f;
        const int stride = planeW;
        const quint32 area = quint32(factor * factor);
        // The factor is a power of two, so is the area: a shift, not a
        // division for every block.
        const bool shiftable = (area & (area - 1)) == 0;
        int areaShift = 0;
        while ((quint32(1) << areaShift) < area)
            ++areaShift;
        std::vector<quint32> columns(static_cast<size_t>(width));
        for (int py = y0; py < y1; ++py) {
            quint16 *out = plane.get() + size_t(py) * stride;
            std::fill_n(out, stride, quint16(0));
            const int iy0 = (py - padY) * factor;
            if (iy0 + factor <= 0 || iy0 >= rows)
                continue;
            const int ya = std::max(0, iy0);
            const int yb = std::min(rows, iy0 + factor);
            // Row by row through memory into one sum per column, then the
            // columns of each block together.
            std::fill(columns.begin(), columns.end(), 0u);
            quint32 *__restrict column = columns.data();
            for (int y = ya; y < yb; ++y) {
                const quint32 *__restrict row = reinterpret_cast<const quint32 *>(bits + y * bpl);
                for (int x = 0; x < width; ++x)
                    column[x] += row[x] >> 24;
            }
            for (int bx = 0; bx < blocks; ++bx) {
                const int xa = bx * factor;
                const int xb = std::min(width, xa + factor);
                quint32 sum = 0;
                for (int x = xa; x < xb; ++x)
                    sum += column[x];
                const quint32 scaled = sum * 256 + area / 2;
                out[bx + padX] = quint16(shiftable ? scaled >> areaShift : scaled / area);
            }
        }
    });

    AlphaBlur::blur(plane.get(), scratch.get(), planeW, planeH, sigma / f);
    scratch.reset();

    // Sample positions: the centre of image pixel x, moved back by the
    // offset, in plane coordinates; 8-bit bilinear weights.
    out.col0.resize(static_cast<size_t>(w));
    out.colW.resize(static_cast<size_t>(w));
    for (int x = 0; x < w; ++x) {
        const double u = std::clamp((x + 0.5 - dx) / f + padX - 0.5, 0.0, double(planeW - 1));
        const int u0 = std::min(int(u), planeW - 2 < 0 ? 0 : planeW - 2);
        out.col0[size_t(x)] = u0;
        out.colW[size_t(x)] = std::clamp(int(std::lround((u - u0) * 256)), 0, 256);
    }
    out.values = std::move(plane);
    out.width = planeW;
    out.height = planeH;
    out.padY = padY;
    out.factor = f;
    out.dy = dy;
    return true;
}

// The plane's rows blended vertically for image row y; false when all of
// them are zero. The weights are exact integers, so blending rows first and
// columns second gives the same coverage as the other way round.
inline bool mixPlaneRow(const ShadowPlane &plane, int y, quint32 *__restrict blend)
{
    const int stride = plane.width;
    const double v = std::clamp((y + 0.5 - plane.dy) / plane.factor + plane.padY - 0.5, 0.0, double(plane.height - 1));
    const int v0 = std::min(int(v), std::max(0, plane.height - 2));
    const quint32 fv = quint32(std::clamp(int(std::lround((v - v0) * 256)), 0, 256));
    const quint16 *__restrict r0 = plane.values.get() + size_t(v0) * stride;
    const quint16 *__restrict r1 = r0 + (plane.height > 1 ? stride : 0);
    quint32 any = 0;
    for (int u = 0; u < stride; ++u) {
        blend[u] = r0[u] * (256 - fv) + r1[u] * fv;
        any |= blend[u];
    }
    return any != 0;
}

// The colour a shadow lays under a pixel at each coverage.
struct ShadowTint {
    std::array<quint32, 256> tintA, tintR, tintG, tintB;
    // Over nothing at all, the shadow is its colour at each coverage.
    std::array<quint32, 256> onClear;

    explicit ShadowTint(const QColor &color)
    {
        const QColor c = color.toRgb();
        const quint32 ca = quint32(c.alpha());
        const quint32 cr = mul255(quint32(c.red()), ca);
        const quint32 cg = mul255(quint32(c.green()), ca);
        const quint32 cb = mul255(quint32(c.blue()), ca);
        for (quint32 t = 0; t < 256; ++t) {
            tintA[t] = mul255(ca, t);
            tintR[t] = mul255(cr, t);
            tintG[t] = mul255(cg, t);
            tintB[t] = mul255(cb, t);
        }
        for (quint32 t = 0; t < 256; ++t) {
            const quint32 a = std::min<quint32>(255, mul255(tintA[t], 255));
            onClear[t] = (a << 24) | (std::min<quint32>(a, mul255(tintR[t], 255)) << 16)
                         | (std::min<quint32>(a, mul255(tintG[t], 255)) << 8)
                         | std::min<quint32>(a, mul255(tintB[t], 255));
        }
    }

    // `px` (not opaque) with the shadow at coverage t (1..255) under it.
    inline quint32 under(quint32 px, quint32 t) const
    {
        if (px == 0)
            return onClear[t];
        const quint32 ba = px >> 24;
        const quint32 rest = 255 - ba;
        const quint32 sa = mul255(tintA[t], rest);
        const quint32 sr = mul255(tintR[t], rest);
        const quint32 sg = mul255(tintG[t], rest);
        const quint32 sb = mul255(tintB[t], rest);
        const quint32 a = std::min<quint32>(255, ba + sa);
        const quint32 rr = std::min<quint32>(a, ((px >> 16) & 0xff) + sr);
        const quint32 gg = std::min<quint32>(a, ((px >> 8) & 0xff) + sg);
        const quint32 bb = std::min<quint32>(a, (px & 0xff) + sb);
        return (a << 24) | (rr << 16) | (gg << 8) | bb;
    }
};

// True when the eight pixels from p on are all opaque.
inline bool opaqueRun(const quint32 *p)
{
    return ((p[0] & p[1] & p[2] & p[3] & p[4] & p[5] & p[6] & p[7]) >> 24) == 255;
}

// Calls `fn(x)` for every pixel of row[from, to) that is not opaque: opaque
// content takes no shadow, and runs of it are passed over eight at a time.
template <typename Fn>
inline void forEachSeeThroughPixel(const quint32 *row, int from, int to, Fn &&fn)
{
    for (int x = from; x < to;) {
        const int stop = std::min(to, x + 8);
        if (stop - x == 8 && opaqueRun(row + x)) {
            x = stop;
            continue;
        }
        for (; x < stop; ++x) {
            if ((row[x] >> 24) != 255)
                fn(x);
        }
    }
}

// Pixel x's shadow coverage, 0..255, sampled from a row of the mixed plane:
// one formula for the shadow laid at once and the mask a batch keeps, so the
// two give the same pixels.
inline quint32 coverageAt(const quint32 *__restrict blended, const int *__restrict firstColumn,
                          const int *__restrict columnWeight, int nextColumn, int x)
{
    const int u0 = firstColumn[x];
    const quint32 m0 = blended[u0];
    const quint32 m1 = blended[u0 + nextColumn];
    const quint32 fu = quint32(columnWeight[x]);
    // 0..65280 coverage, then 0..255; the sum stays below 2^32.
    return (((m0 * (256 - fu) + m1 * fu) >> 16) + 128) >> 8;
}

// Shadows often fall on a few rows only: each thread's share of rows is
// taken from all over the picture (row groups interleaved), not one block.
constexpr int kRowGroups = 16;

} // namespace

bool TransparencyLayer::applyShadow(QImage &image, const QColor &color, QPointF offset, double sigma, int firstRow,
                                    int endRow)
{
    if (image.isNull() || color.alpha() == 0)
        return true;
    if (image.format() != QImage::Format_ARGB32_Premultiplied)
        image.convertTo(QImage::Format_ARGB32_Premultiplied);
    const int w = image.width();
    const int h = image.height();
    ShadowPlane plane;
    if (!makeShadowPlane(image, offset, sigma, plane))
        return false;

    const ShadowTint tint(color);
    const int nextColumn = plane.width > 1 ? 1 : 0;
    const int shownFrom = std::max(0, firstRow);
    const int shownEnd = endRow < 0 ? h : std::min(h, endRow);
    uchar *wbits = image.bits();
    const qsizetype bpl = image.bytesPerLine();
    const int perGroup = (h + kRowGroups - 1) / kRowGroups;
    AlphaBlur::parallelFor(perGroup * kRowGroups, 16, [&](int first, int end) {
        const int width = w;
        const int rows = h;
        std::vector<quint32> mixed(static_cast<size_t>(plane.width));
        for (int i = first; i < end; ++i) {
            const int y = (i % kRowGroups) * perGroup + i / kRowGroups;
            if (y >= rows || y < shownFrom || y >= shownEnd)
                continue;
            if (!mixPlaneRow(plane, y, mixed.data()))
                continue;
            quint32 *row = reinterpret_cast<quint32 *>(wbits + y * bpl);
            const int *__restrict firstColumn = plane.col0.data();
            const int *__restrict columnWeight = plane.colW.data();
            const quint32 *__restrict blended = mixed.data();
            forEachSeeThroughPixel(row, 0, width, [&](int x) {
                const quint32 t = coverageAt(blended, firstColumn, columnWeight, nextColumn, x);
                if (t != 0)
                    row[x] = tint.under(row[x], t);
            });
        }
    });
    return true;
}

std::shared_ptr<ShadowCache::Mask> TransparencyLayer::shadowMask(const QImage &image, QPointF offset, double sigma,
                                                                 const QRect &rect, int firstRow, int endRow)
{
    if (image.isNull() || image.format() != QImage::Format_ARGB32_Premultiplied)
        return nullptr;
    const int w = image.width();
    const int h = image.height();
    firstRow = std::clamp(firstRow, 0, h);
    endRow = std::clamp(endRow < 0 ? h : endRow, firstRow, h);
    ShadowPlane plane;
    if (!makeShadowPlane(image, offset, sigma, plane))
        return nullptr;
    std::shared_ptr<ShadowCache::Mask> mask;
    try {
        mask = std::make_shared<ShadowCache::Mask>(QRect(rect.x(), rect.y() + firstRow, w, endRow - firstRow));
        const int nextColumn = plane.width > 1 ? 1 : 0;
        std::vector<quint32> mixed(static_cast<size_t>(plane.width));
        std::vector<uchar> coverage(static_cast<size_t>(w));
        for (int y = firstRow; y < endRow; ++y) {
            std::fill(coverage.begin(), coverage.end(), uchar(0));
            if (mixPlaneRow(plane, y, mixed.data())) {
                // Each pixel's coverage, as applyShadow samples it; opaque
                // content takes none, so it is left at zero there.
                const quint32 *row = reinterpret_cast<const quint32 *>(image.constScanLine(y));
                const int *__restrict firstColumn = plane.col0.data();
                const int *__restrict columnWeight = plane.colW.data();
                const quint32 *__restrict blended = mixed.data();
                uchar *__restrict out = coverage.data();
                forEachSeeThroughPixel(row, 0, w, [&](int x) {
                    out[x] = uchar(coverageAt(blended, firstColumn, columnWeight, nextColumn, x));
                });
            }
            mask->appendRow(coverage.data());
        }
    } catch (const std::bad_alloc &) {
        return nullptr;
    }
    return mask;
}

void TransparencyLayer::layShadowMask(QImage &image, const QRect &rect, const ShadowCache::Mask &mask,
                                      const QColor &color, int firstRow, int endRow)
{
    if (image.isNull() || color.alpha() == 0)
        return;
    const ShadowTint tint(color);
    const int w = image.width();
    const int h = image.height();
    firstRow = std::max(0, firstRow);
    endRow = endRow < 0 ? h : std::min(h, endRow);
    uchar *bits = image.bits();
    const qsizetype bpl = image.bytesPerLine();
    const int shiftX = mask.rect.x() - rect.x();
    for (int y = firstRow; y < endRow; ++y) {
        int first = 0;
        int end = 0;
        const uchar *values = mask.row(rect.y() + y - mask.rect.y(), &first, &end);
        if (!values)
            continue;
        const int from = std::max(0, first + shiftX);
        const int to = std::min(w, end + shiftX);
        quint32 *row = reinterpret_cast<quint32 *>(bits + y * bpl);
        forEachSeeThroughPixel(row, from, to, [&](int x) {
            const quint32 t = values[x - shiftX];
            if (t != 0)
                row[x] = tint.under(row[x], t);
        });
    }
}

} // namespace platform
