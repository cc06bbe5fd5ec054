#include "design/KTMoldingFrameLayer.h"

#include "design/KTPreparedPictureCache.h"
#include "design/VLImage.h"
#include "kit/ImageAdditions.h"
#include "kit/VLValueAdditions.h"
#include "platform/Assert.h"
#include "platform/Bundle.h"
#include "platform/archive/Color.h"
#include "platform/archive/KeyedArchiver.h"
#include "platform/archive/KeyedClassRegistry.h"
#include "platform/archive/KeyedUnarchiver.h"
#include "platform/imaging/ParallelRows.h"
#include "platform/imaging/ColorFilter.h"
#include "platform/render/DrawingContext.h"
#include "platform/render/AlphaBlur.h"
#include "platform/render/ParallelPaint.h"
#include "platform/render/ShadowCache.h"
#include "platform/render/TransparencyLayer.h"
#include "stores/Frame.h"
#include "stores/FrameImage.h"

#include <QColorSpace>
#include <QDataStream>
#include <QIODevice>
#include <QPainterPath>
#include <QPolygonF>
#include <QTransform>

#include <algorithm>
#include <cmath>
#include <map>
#include <mutex>

namespace {

using platform::ColorFilter;

QString str(const char *text)
{
    return QString::fromLatin1(text);
}

// NSPointInRect: left and bottom edges inside, right and top outside.
bool pointInRect(const QPointF &p, const QRectF &r)
{
    return !r.isEmpty() && p.x() >= r.left() && p.x() < r.right() && p.y() >= r.top() && p.y() < r.bottom();
}

QPainterPath polygonPath(const QPolygonF &points)
{
    QPainterPath path;
    path.addPolygon(points);
    path.closeSubpath();
    return path;
}

QPainterPath polygonPath(std::initializer_list<QPointF> points)
{
    QPainterPath path;
    path.addPolygon(QPolygonF(QList<QPointF>(points)));
    path.closeSubpath();
    return path;
}


} // namespace

KTMoldingFrameLayer::KTMoldingFrameLayer()
{
    setControlNibName(str(kControlNibName));
    setLayerName(str(kDefaultLayerName));
}

KTMoldingFrameLayer::KTMoldingFrameLayer(BlankTag) {}

KTMoldingFrameLayer::~KTMoldingFrameLayer() = default;

// --- loading ---

std::shared_ptr<VLImage> KTMoldingFrameLayer::pictureForAttribute(const QString &name, bool *present)
{
    *present = false;
    Frame *frame = theFrame();
    if (!frame)
        return nullptr;
    FrameImage *picture = frame->valueForAttribute(name).value<FrameImage *>();
    if (!picture)
        return nullptr;
    *present = true;
    platform::Error why;
    auto image = VLImage::initWithContentsOfFile(picture->imagePath(), false, &why);
    if (!image)
        notePictureFailure(why);
    // A picture without area cannot be tiled: the side is left without one.
    return usable(image) ? image : nullptr;
}

bool KTMoldingFrameLayer::missesPictures() const
{
    return (m_allocatedFrameImageLeft && !m_frameImageLeft) || (m_allocatedFrameImageTop && !m_frameImageTop)
        || (m_allocatedFrameImageRight && !m_frameImageRight) || (m_allocatedFrameImageBottom && !m_frameImageBottom);
}

bool KTMoldingFrameLayer::frameBoolAttribute(const QString &name) const
{
    Frame *frame = theFrame();
    return frame && frame->valueForAttribute(name).toBool();
}

void KTMoldingFrameLayer::fillMissingPicture(std::shared_ptr<VLImage> &picture, bool present,
                                             std::initializer_list<TurnedPicture> choices)
{
    if (present || choices.size() == 0)
        return;
    const TurnedPicture *pick = nullptr;
    for (const TurnedPicture &choice : choices) {
        pick = &choice;
        if (choice.present)
            break;
    }
    picture = *pick->source ? (*pick->source)->imageRotatedBy(pick->quarterTurns) : nullptr;
}

bool KTMoldingFrameLayer::loadImages()
{
    KT_ASSERT(!imagesLoaded(), QStringLiteral("Loading images second time is not allowed"));

    m_frameImageLeft = pictureForAttribute(str(kLeftImageAttribute), &m_allocatedFrameImageLeft);
    m_frameImageTop = pictureForAttribute(str(kTopImageAttribute), &m_allocatedFrameImageTop);
    m_frameImageRight = pictureForAttribute(str(kRightImageAttribute), &m_allocatedFrameImageRight);
    m_frameImageBottom = pictureForAttribute(str(kBottomImageAttribute), &m_allocatedFrameImageBottom);
    if (!m_frameImageLeft && !m_frameImageTop && !m_frameImageRight && !m_frameImageBottom)
        return false;

    // A missing side is another side turned so that its outer edge lies on
    // the outer edge of the missing one.
    const auto fill = &KTMoldingFrameLayer::fillMissingPicture;
    fill(m_frameImageTop, m_allocatedFrameImageTop,
         {{m_allocatedFrameImageLeft, &m_frameImageLeft, 1}, {m_allocatedFrameImageRight, &m_frameImageRight, 3},
          {true, &m_frameImageBottom, 2}});
    fill(m_frameImageRight, m_allocatedFrameImageRight,
         {{m_allocatedFrameImageLeft, &m_frameImageLeft, 2}, {m_allocatedFrameImageBottom, &m_frameImageBottom, 3},
          {true, &m_frameImageTop, 1}});
    fill(m_frameImageBottom, m_allocatedFrameImageBottom,
         {{m_allocatedFrameImageRight, &m_frameImageRight, 1}, {m_allocatedFrameImageTop, &m_frameImageTop, 2},
          {true, &m_frameImageLeft, 3}});
    fill(m_frameImageLeft, m_allocatedFrameImageLeft,
         {{m_allocatedFrameImageTop, &m_frameImageTop, 3}, {m_allocatedFrameImageRight, &m_frameImageRight, 2},
          {true, &m_frameImageBottom, 1}});

    m_actAsMask = frameBoolAttribute(str(kActAsMaskAttribute));
    if (m_actAsMask) {
        // A mask lies wholly over the picture and casts no shadow.
        setFrameOverImage(1.0);
        setDropShadow(false);
    }
    m_mirrorImages = frameBoolAttribute(str(kMirrorImagesAttribute));
    setImagesLoaded(true);
    m_allFrameImages = {m_frameImageLeft, m_frameImageTop, m_frameImageRight, m_frameImageBottom};
    m_prerotatedImages = {m_frameImageLeft, m_frameImageBottom, m_frameImageRight, m_frameImageTop};
    return true;
}

// --- geometry ---

double KTMoldingFrameLayer::lengthBetweenPointAndPoint(const QPointF &a, const QPointF &b)
{
    return std::abs((b.x() - a.x()) + (b.y() - a.y()));
}

QRectF KTMoldingFrameLayer::resultingRectForRect(const QRectF &rect) const
{
    const double grow = (1 - m_frameOverImage) * m_frameWidth * std::min(rect.width(), rect.height());
    return rect.adjusted(-grow, -grow, grow, grow);
}

KTMoldingFrameLayer::Geometry KTMoldingFrameLayer::geometryForRect(const QRectF &rect) const
{
    Geometry g;
    g.fw = std::max(kMinDrawnWidth, std::nearbyint(m_frameWidth * std::min(rect.width(), rect.height())));
    const QRectF o = resultingRectForRect(rect);
    g.outer = QRectF(std::round(o.x()), std::round(o.y()), std::round(o.width()), std::round(o.height()));
    return g;
}

void KTMoldingFrameLayer::setDrawRects(const QRectF &outside, const QRectF &inside)
{
    std::lock_guard lock(m_drawRectMutex);
    m_drawRectOutside = outside;
    m_drawRectInside = inside;
}

QRectF KTMoldingFrameLayer::drawRectOutside() const
{
    std::lock_guard lock(m_drawRectMutex);
    return m_drawRectOutside;
}

QRectF KTMoldingFrameLayer::drawRectInside() const
{
    std::lock_guard lock(m_drawRectMutex);
    return m_drawRectInside;
}

bool KTMoldingFrameLayer::isHitAtPoint(const QPointF &point) const
{
    std::lock_guard lock(m_drawRectMutex);
    return pointInRect(point, m_drawRectOutside) && !pointInRect(point, m_drawRectInside);
}

std::array<std::shared_ptr<VLImage>, 4> KTMoldingFrameLayer::sidePicturesForRotation() const
{
    const unsigned r = rotation();
    return {m_prerotatedImages[r], m_prerotatedImages[(r + 3) % 4], m_prerotatedImages[(r + 2) % 4],
            m_prerotatedImages[(r + 1) % 4]};
}

// --- drawing ---

void KTMoldingFrameLayer::drawPicture(VLImage &image, const QRectF &rect, bool highQuality, bool skipCache) const
{
    if (!highQuality) {
        image.drawCachedInRect(rect);
    } else if (!skipCache) {
        image.drawInRect(rect, false);
    } else if (KTPreparedPictureCache *cache = KTPreparedPictureCache::current()) {
        cache->drawImageInRect(image, rect);
    } else if (m_renderCache) {
        m_renderCache->drawImageInRect(image, rect);
    } else {
        image.drawInRect(rect, true);
    }
}

std::optional<QRectF> KTMoldingFrameLayer::tileRectForSide(const VLImage &image, double w, unsigned side)
{
    // The picture stretched to the moulding's width, its length rounded.
    const QSizeF pictureSize = image.rotatedOriginalSize();
    const double iw = pictureSize.width();
    const double ih = pictureSize.height();
    const bool vertical = side == Left || side == Right;
    const double t = std::nearbyint(vertical ? ih * (w / iw) : iw * (w / ih));
    if (!std::isfinite(t))
        return std::nullopt;
    const double length = std::max(t, 1.0);
    return vertical ? QRectF(0, 0, w, length) : QRectF(0, 0, length, w);
}

QRectF KTMoldingFrameLayer::tileSnappedToPixels(const QRectF &tile, bool vertical)
{
    // Two tiles meeting inside a pixel each cover it only in part, and the
    // background shows through there as a seam.
    platform::DrawingContext *ctx = platform::DrawingContext::current();
    if (!ctx)
        return tile;
    const QTransform toDevice = ctx->painter().deviceTransform();
    if (toDevice.type() > QTransform::TxScale || !toDevice.isInvertible())
        return tile;
    const QRectF device = toDevice.mapRect(tile);
    QRectF snapped = device;
    if (vertical) {
        snapped.setTop(std::round(device.top()));
        snapped.setBottom(std::round(device.bottom()));
    } else {
        snapped.setLeft(std::round(device.left()));
        snapped.setRight(std::round(device.right()));
    }
    if (snapped.isEmpty())
        return tile;
    return toDevice.inverted().mapRect(snapped);
}

void KTMoldingFrameLayer::drawSideWithImage(const std::shared_ptr<VLImage> &image, double w, const QPointF &p,
                                            unsigned side, double length, bool highQuality, bool skipCache)
{
    platform::DrawingContext *ctx = platform::DrawingContext::current();
    if (!ctx || !usable(image) || !(length > 0) || !(w > 0)
        || !std::isfinite(length) || !std::isfinite(w) || !std::isfinite(p.x()) || !std::isfinite(p.y()))
        return;
    const std::optional<QRectF> tile = tileRectForSide(*image, w, side);
    if (!tile)
        return;
    const QRectF tileRect = *tile;
    const bool vertical = side == Left || side == Right;
    const double t = vertical ? tileRect.height() : tileRect.width();
    const QPointF step = vertical ? QPointF(0, t) : QPointF(t, 0);

    const double x = p.x();
    const double y = p.y();
    const double l = length;
    // The mitred outline. Where a later side is drawn over this one (top
    // over left, right over top, bottom over left and right) the later side
    // reaches 0.6 past the true mitre; this one reaches kUnderlap past it
    // the other way, under the later side's edge, so the anti-aliased joint
    // is drawn over paint and never lets the background through.
    const double e = kUnderlap;
    QPolygonF corners;
    switch (side) {
    case Left:
        corners = QPolygonF({{x, y}, {x + e, y}, {x + w, y + w - e}, {x + w, y + l - w + e}, {x + e, y + l}, {x, y + l}});
        break;
    case Top:
        corners = QPolygonF({{x + w - 0.6, y}, {x, y + w - 0.6}, {x, y + w}, {x + l, y + w}, {x + l, y + w - e},
                            {x + l - w + e, y}});
        break;
    case Right:
        corners = QPolygonF({{x, y + w - e}, {x, y + l - w + 0.6}, {x + w - 0.6, y + l}, {x + w, y + l}, {x + w, y},
                            {x + w - e, y}});
        break;
    default:
        corners = QPolygonF({{x, y}, {x, y + 0.6}, {x + w - 0.6, y + w}, {x + l - w + 0.6, y + w}, {x + l, y + 0.6},
                            {x + l, y}});
        break;
    }

    // Tile k starts at p + k * step while it starts within the side; every
    // other one is reflected within its own slot along the side.
    const auto forEachTile = [&](const std::function<void(const QRectF &tile, const QTransform *mirror)> &fn) {
        for (qint64 k = 0;; ++k) {
            const QPointF start = p + double(k) * step;
            if (!(lengthBetweenPointAndPoint(p, start) < length))
                break;
            const QRectF slot = tileSnappedToPixels(tileRect.translated(start), vertical);
            if (m_mirrorImages && (k % 2) == 1) {
                const QTransform mirror = vertical ? QTransform(1, 0, 0, -1, 0, 2 * slot.y() + slot.height())
                                                   : QTransform(-1, 0, 0, 1, 2 * slot.x() + slot.width(), 0);
                fn(slot, &mirror);
            } else {
                fn(slot, nullptr);
            }
        }
    };

    if (drawSideInBands(*image, tileRect, corners, forEachTile, highQuality, skipCache))
        return;
    ctx->saveGState();
    ctx->clipToPath(polygonPath(corners));
    forEachTile([&](const QRectF &tile, const QTransform *mirror) {
        QPainter &painter = ctx->painter();
        painter.save();
        if (mirror)
            painter.setTransform(*mirror, true);
        drawPicture(*image, tile, highQuality, skipCache);
        painter.restore();
    });
    ctx->restoreGState();
}

bool KTMoldingFrameLayer::drawSideInBands(
    VLImage &image, const QRectF &tileRect, const QPolygonF &outline,
    const std::function<void(const std::function<void(const QRectF &, const QTransform *)> &)> &forEachTile,
    bool highQuality, bool skipCache) const
{
    // Only exports, whose tiles all show the one picture prepared for the
    // render, and only where no shadow falls from each drawing on its own.
    platform::DrawingContext *ctx = platform::DrawingContext::current();
    KTPreparedPictureCache *cache = KTPreparedPictureCache::current();
    if (!cache)
        cache = m_renderCache.get();
    if (!highQuality || !skipCache || !cache || !ctx || ctx->hasShadow())
        return false;
    // A batch's worker would paint it in strips, each setting the outline's
    // clip afresh: the tiles are laid one at a time instead.
    if (platform::rowsRunSerially())
        return false;
    // Reflected tiles are sampled from where each band starts, which may
    // round a level differently at their edges: those sides draw as one.
    if (m_mirrorImages)
        return false;
    const QRect area = ctx->deviceRectFor(outline.boundingRect()).toAlignedRect().adjusted(-1, -1, 1, 1);
    if (qint64(area.width()) * area.height() < platform::ParallelPaint::kMinPixels)
        return false;
    // Every tile has the size of the first, so one prepared picture serves all.
    const QImage prepared = cache->preparedPicture(image, tileRect);
    const double opacity = image.opacity();
    // The same steps as the drawing one tile at a time below, in each band.
    return platform::ParallelPaint::paint(ctx->painter(), area, [&](QPainter &painter, const QTransform &) {
        // A path of each band's own: a shared one fills caches of its own as
        // it is used, which threads must not do at once.
        painter.setClipPath(polygonPath(outline), painter.hasClipping() ? Qt::IntersectClip : Qt::ReplaceClip);
        if (prepared.isNull())
            return;
        forEachTile([&](const QRectF &tile, const QTransform *mirror) {
            painter.save();
            if (mirror)
                painter.setTransform(*mirror, true);
            painter.setOpacity(opacity);
            // Upright in the y-up space, as the drawing context draws pictures.
            painter.translate(0, tile.y() + tile.height());
            painter.scale(1, -1);
            painter.drawImage(QRectF(tile.x(), 0, tile.width(), tile.height()), prepared);
            painter.restore();
        });
    });
}

void KTMoldingFrameLayer::drawLayerForRect(const QRectF &rect, bool highQuality, bool skipCache)
{
    const Geometry g = geometryForRect(rect);
    const double fw = g.fw;
    const QRectF o = g.outer;
    setDrawRects(o, o.adjusted(fw, fw, -fw, -fw));

    const auto pictures = sidePicturesForRotation();
    const QPointF starts[4] = {{o.x(), o.y()},
                               {o.x(), o.y() + o.height() - fw},
                               {o.x() + o.width() - fw, o.y()},
                               {o.x(), o.y()}};
    const double lengths[4] = {o.height(), o.width(), o.height(), o.width()};
    const QRectF strips[4] = {QRectF(o.x(), o.y(), fw, o.height()),
                              QRectF(o.x(), o.y() + o.height() - fw, o.width(), fw),
                              QRectF(o.x() + o.width() - fw, o.y(), fw, o.height()),
                              QRectF(o.x(), o.y(), o.width(), fw)};
    auto drawSide = [&](unsigned side) {
        drawSideWithImage(pictures[side], fw, starts[side], side, lengths[side], highQuality, skipCache);
    };
    if (highQuality && skipCache)
        preparePicturesForExport(pictures, fw);

    if (shouldDrawShadow() && !drawShadowPassesTogether(o, strips, drawSide, highQuality, skipCache)) {
        // Each side casts its own shadow over the sides drawn before it.
        for (unsigned side : {Left, Top, Right, Bottom})
            drawWithShadowInRect(o, highQuality, true, strips[side], [&] { drawSide(side); });
    }
    drawAsMask(m_actAsMask, [&] {
        // Painted again over the shadows later sides cast; the bottom side
        // was drawn last and nothing fell on it.
        drawSide(Left);
        drawSide(Top);
        drawSide(Right);
        if (!shouldDrawShadow())
            drawSide(Bottom);
    });
}

void KTMoldingFrameLayer::preparePicturesForExport(const std::array<std::shared_ptr<VLImage>, 4> &pictures,
                                                   double fw) const
{
    // The four sides' tiles are prepared side by side rather than one after
    // the other as each side comes to be drawn.
    KTPreparedPictureCache *cache = KTPreparedPictureCache::current();
    if (!cache)
        cache = m_renderCache.get();
    if (!cache || !platform::DrawingContext::current() || !(fw > 0) || !std::isfinite(fw))
        return;
    std::vector<std::pair<const VLImage *, QRectF>> requests;
    for (unsigned side : {Left, Top, Right, Bottom}) {
        if (!usable(pictures[side]))
            continue;
        if (const std::optional<QRectF> tile = tileRectForSide(*pictures[side], fw, side))
            requests.emplace_back(pictures[side].get(), *tile);
    }
    cache->preparePictures(requests);
}

bool KTMoldingFrameLayer::drawShadowPassesTogether(const QRectF &outer, const QRectF (&strips)[4],
                                                   const std::function<void(unsigned)> &drawSide, bool highQuality,
                                                   bool skipCache)
{
    // Each side's group (the side and its shadow) does not depend on what
    // lies below it: an export makes the four side by side, then lays them
    // down one after the other as drawing them in turn would.
    platform::DrawingContext *ctx = platform::DrawingContext::current();
    KTPreparedPictureCache *cache = KTPreparedPictureCache::current();
    if (!cache)
        cache = m_renderCache.get();
    if (!highQuality || !skipCache || !cache || !ctx || ctx->hasShadow() || !platform::ParallelPaint::isEnabled())
        return false;
    QPainter &target = ctx->painter();
    if (!target.device() || target.device()->devType() != QInternal::Image)
        return false;

    platform::Shadow shadow;
    shadow.color = ctx->matchedColor(shadowColor());
    const QSizeF offset = shadowOffsetForRect(outer);
    shadow.offset = QPointF(offset.width(), offset.height());
    shadow.blurRadius = shadowBlurRadiusForRect(outer);
    struct Group {
        platform::TransparencyLayer layer;
        QPainter *painter = nullptr;
        QRectF clip;
    };
    const double height = ctx->height();
    const auto drawGroup = [&](QPainter *painter, unsigned side) {
        KTPreparedPictureCache::Scope scope(cache);
        // The group's painter already draws y-up; the drawing context puts
        // its own flip on top, so one is taken off first.
        painter->setWorldTransform(QTransform(1, 0, 0, -1, 0, height) * painter->worldTransform());
        platform::DrawingContext groupContext(*painter, height);
        groupContext.setColorMatch(ctx->colorMatch());
        drawSide(side);
    };
    // In a batch, each band's shadows are the same for every file: they are
    // worked out once, from everything that decides what a side draws.
    const bool shared = platform::ShadowCache::current() != nullptr;
    std::array<Group, 4> groups;
    for (unsigned side : {Left, Top, Right, Bottom}) {
        Group &g = groups[side];
        g.clip = rectWithShadowForDrawRect(outer, strips[side]);
        ctx->saveGState();
        ctx->clipToRect(g.clip);
        std::shared_ptr<const platform::ShadowCache::Mask> mask;
        std::shared_ptr<const platform::ShadowCache::Mask> made;
        if (shared) {
            const QByteArray key = sideKey(side, outer, strips[Left].width());
            const auto draw = [&](QPainter *painter) { drawGroup(painter, side); };
            mask = platform::TransparencyLayer::sharedShadow(&target, shadow, key, draw);
            if (mask)
                made = platform::TransparencyLayer::sharedGroup(&target, shadow, key, mask, draw);
        }
        if (made && g.layer.beginMade(&target, shadow, made))
            g.painter = nullptr; // only to be laid down
        else
            g.painter = mask ? g.layer.begin(&target, shadow, mask) : g.layer.begin(&target, shadow);
        ctx->restoreGState();
    }
    platform::AlphaBlur::parallelFor(4, 1, [&](int first, int end) {
        for (int side = first; side < end; ++side) {
            Group &g = groups[size_t(side)];
            if (!g.painter || g.painter == &target)
                continue; // made already, or nothing to buffer: drawn straight through in turn below
            drawGroup(g.painter, unsigned(side));
            g.layer.finishContent();
        }
    });
    for (unsigned side : {Left, Top, Right, Bottom}) {
        Group &g = groups[side];
        ctx->saveGState();
        ctx->clipToRect(g.clip);
        if (g.painter == &target)
            drawSide(side);
        g.layer.end();
        ctx->restoreGState();
    }
    return true;
}

QByteArray KTMoldingFrameLayer::sideKey(unsigned side, const QRectF &outer, double fw) const
{
    // What drawLayerForRect's drawing of a side reads: its place (from the
    // outer rect and width), the side's picture as it is prepared (pixels,
    // turn, crop, filters, size in device pixels and colour match), its
    // opacity and the tiling. The drawing context's transform, clip and band
    // are added by the shadow's own key.
    const platform::DrawingContext *ctx = platform::DrawingContext::current();
    const std::shared_ptr<VLImage> image = sidePicturesForRotation()[side % 4];
    QByteArray key;
    QDataStream out(&key, QIODevice::WriteOnly);
    out << QByteArray(metaObject()->className()) << quint32(side) << outer << fw << m_mirrorImages
        << (ctx ? ctx->height() : 0.0) << usable(image);
    if (!usable(image))
        return key;
    const std::optional<QRectF> tile = tileRectForSide(*image, fw, side);
    out << image->rotatedOriginalSize() << image->opacity() << tile.has_value();
    if (tile)
        out << *tile << KTPreparedPictureCache::keyFor(*image, *tile, ctx ? ctx->colorMatch().get() : nullptr);
    return key;
}

// --- icon and report ---

bool KTMoldingFrameLayer::usable(const std::shared_ptr<VLImage> &image)
{
    if (!image)
        return false;
    const QSizeF size = image->originalSize();
    return size.width() > 0 && size.height() > 0 && std::isfinite(size.width()) && std::isfinite(size.height());
}

double KTMoldingFrameLayer::iconTileLength(const QSizeF &picture, bool alongWidth, double thickness)
{
    const double length = alongWidth ? std::nearbyint(picture.width() * thickness / picture.height())
                                     : std::nearbyint(picture.height() * thickness / picture.width());
    return length > 0 ? length : 1;
}

void KTMoldingFrameLayer::drawIconMaskBadge(platform::DrawingContext &ctx)
{
    const QImage badge = maskBadgeImage();
    if (!badge.isNull())
        ctx.drawImage(QRectF(QPointF(3, 3), QSizeF(badge.size())), badge);
}

QImage KTMoldingFrameLayer::iconOfSize(const QSizeF &size)
{
    if (!imagesLoaded() && !loadImages())
        return QImage();
    return VLKit::imageWithSize(size, QColorSpace(QColorSpace::SRgb), [&] {
        platform::DrawingContext *ctx = platform::DrawingContext::current();
        if (!ctx)
            return;
        const double w = size.width();
        const double h = size.height();
        const double t = std::ceil(0.66 * std::min(w, h));
        if (usable(m_frameImageLeft)) {
            const double th = iconTileLength(m_frameImageLeft->originalSize(), false, t);
            ctx->saveGState();
            ctx->clipToPath(polygonPath({{0, 0}, {t, 0}, {t, h - t}, {0, h}}));
            for (double y = 0; y < h; y += th)
                m_frameImageLeft->drawInRect(QRectF(0, y, t, th), false);
            ctx->restoreGState();
        }
        if (usable(m_frameImageTop)) {
            const double tw = iconTileLength(m_frameImageTop->originalSize(), true, t);
            ctx->saveGState();
            ctx->clipToPath(polygonPath({{t, h - t}, {0, h}, {w, h}, {w, h - t}}));
            for (double x = 0; x < w; x += tw)
                m_frameImageTop->drawInRect(QRectF(x, h - t, tw, t), false);
            ctx->restoreGState();
        }
        if (m_actAsMask)
            drawIconMaskBadge(*ctx);
    });
}

QVariantMap KTMoldingFrameLayer::reportForRealSize(const QSizeF &size) const
{
    QVariantMap report;
    const QImage icon = const_cast<KTMoldingFrameLayer *>(this)->iconOfSize(QSizeF(72, 72));
    if (!icon.isNull())
        report.insert(QStringLiteral("Icon"), icon);
    report.insert(QStringLiteral("Title"), theFrame() ? theFrame()->name() : QString());
    report.insert(QStringLiteral("Size"), resultingRectForRect(QRectF(QPointF(0, 0), size)).size());
    const double width = m_frameWidth * std::min(size.width(), size.height());
    report.insert(QStringLiteral("Width"), width);
    report.insert(QStringLiteral("OverWidth"), m_frameOverImage * width);
    return report;
}

// --- settings ---

bool KTMoldingFrameLayer::validateValue(QVariant &value, const QString &keyPath) const
{
    using NSNumberVLExtras::numberEnforcedBetweenAnd;
    if (keyPath == QLatin1String("frameWidth"))
        value = numberEnforcedBetweenAnd(value, 0, kMaxFrameWidth);
    else if (keyPath == QLatin1String("frameOverImage"))
        value = numberEnforcedBetweenAnd(value, 0, 1);
    else
        KTFrameColorSettings::validateValue(value, keyPath);
    return true;
}

void KTMoldingFrameLayer::forEachPicture(const std::function<void(VLImage &)> &action) const
{
    for (const auto &image : m_allFrameImages) {
        if (image)
            action(*image);
    }
}

QSet<QString> KTMoldingFrameLayer::keyPathsForValuesAffectingLayerChanged() const
{
    return {QStringLiteral("dropShadow"), QStringLiteral("colorize"), QStringLiteral("saturationShift"),
            QStringLiteral("lightnessShift"), QStringLiteral("rotation"), QStringLiteral("colorizationColor"),
            QStringLiteral("hidden")};
}

QSet<QString> KTMoldingFrameLayer::keyPathsForValuesAffectingLayerChangedFastRedraw() const
{
    return {QStringLiteral("frameOverImage"), QStringLiteral("frameWidth"), QStringLiteral("shadowLength"),
            QStringLiteral("opacity")};
}

void KTMoldingFrameLayer::announce(const char *key)
{
    emit settingsChanged();
    didChangeValueForKey(QString::fromLatin1(key));
}

void KTMoldingFrameLayer::setDropShadowByUser(bool on, NewLayerSettings &next)
{
    KTFrameLayer::setDropShadowByUser(on, next);
    next.mouldingShadow = on;
}

void KTMoldingFrameLayer::applyNewLayerSettings(const NewLayerSettings &settings)
{
    setDropShadow(settings.mouldingShadow);
}

void KTMoldingFrameLayer::applySettingsFromLayer(const KTFrameLayer &other)
{
    KTFrameLayer::applySettingsFromLayer(other);
    const auto *molding = qobject_cast<const KTMoldingFrameLayer *>(&other);
    if (!molding)
        return;
    m_colorSettings.applySettingsFrom(molding->m_colorSettings);
    setFrameOverImage(molding->frameOverImage());
    setFrameWidth(molding->frameWidth());
}

void KTMoldingFrameLayer::setFrameWidth(double value)
{
    m_frameWidth = NSNumberVLExtras::numberEnforcedBetweenAnd(value, 0, kMaxFrameWidth);
    announce("frameWidth");
}

void KTMoldingFrameLayer::setFrameOverImage(double value)
{
    m_frameOverImage = NSNumberVLExtras::numberEnforcedBetweenAnd(value, 0, 1);
    announce("frameOverImage");
}

// --- archive ---

void KTMoldingFrameLayer::encode(platform::KeyedArchiver &coder) const
{
    KTFrameLayer::encode(coder);
    m_colorSettings.encode(coder);
    coder.encodeFloat(float(m_frameOverImage), QStringLiteral("frameOverImage"));
    coder.encodeFloat(float(m_frameWidth), QStringLiteral("frameWidth"));
}

void KTMoldingFrameLayer::decode(platform::KeyedUnarchiver &coder)
{
    // The frame layer finds the library frame and loads the pictures; the
    // settings below then reach them through the setters.
    KTFrameLayer::decode(coder);
    m_colorSettings.decode(coder);
    setFrameOverImage(coder.decodeFloatForKey(QStringLiteral("frameOverImage")));
    setFrameWidth(coder.decodeFloatForKey(QStringLiteral("frameWidth")));
    setControlNibName(str(kControlNibName));
}

void KTMoldingFrameLayer::registerArchiveClass()
{
    static std::once_flag once;
    std::call_once(once, [] {
        // Decoding starts from a blank layer: no user default is read.
        platform::KeyedClassRegistry::shared().registerClass(QStringLiteral("KTMoldingFrameLayer"), [] {
            return std::static_pointer_cast<platform::Coding>(
                std::shared_ptr<KTMoldingFrameLayer>(new KTMoldingFrameLayer(BlankTag{})));
        });
    });
}

// --- copies ---

std::shared_ptr<KTLayer> KTMoldingFrameLayer::copyForRendering() const
{
    auto copy = std::shared_ptr<KTMoldingFrameLayer>(new KTMoldingFrameLayer(BlankTag{}));
    PictureCopies copies;
    copy->copyMoldingFieldsFrom(*this, copies);
    return copy;
}

std::shared_ptr<VLImage> KTMoldingFrameLayer::copyOf(PictureCopies &copies, const std::shared_ptr<VLImage> &image)
{
    if (!image)
        return nullptr;
    auto &slot = copies[image.get()];
    if (!slot)
        slot = image->copyForRendering();
    return slot;
}

void KTMoldingFrameLayer::copyMoldingFieldsFrom(const KTMoldingFrameLayer &other, PictureCopies &copies)
{
    copyFrameFieldsFrom(other);
    m_actAsMask = other.m_actAsMask;
    m_colorSettings.copyValuesFrom(other.m_colorSettings);
    m_frameImageTop = copyOf(copies, other.m_frameImageTop);
    m_frameImageRight = copyOf(copies, other.m_frameImageRight);
    m_frameImageBottom = copyOf(copies, other.m_frameImageBottom);
    m_frameImageLeft = copyOf(copies, other.m_frameImageLeft);
    m_allFrameImages.clear();
    for (const auto &image : other.m_allFrameImages)
        m_allFrameImages.push_back(copyOf(copies, image));
    for (std::size_t i = 0; i < m_prerotatedImages.size(); ++i)
        m_prerotatedImages[i] = copyOf(copies, other.m_prerotatedImages[i]);
    m_allocatedFrameImageTop = other.m_allocatedFrameImageTop;
    m_allocatedFrameImageBottom = other.m_allocatedFrameImageBottom;
    m_allocatedFrameImageLeft = other.m_allocatedFrameImageLeft;
    m_allocatedFrameImageRight = other.m_allocatedFrameImageRight;
    setDrawRects(other.drawRectOutside(), other.drawRectInside());
    m_mirrorImages = other.m_mirrorImages;
    m_frameOverImage = other.m_frameOverImage;
    m_frameWidth = other.m_frameWidth;
    // The copy draws for one render: its pictures are prepared once for it.
    m_renderCache = std::make_shared<KTPreparedPictureCache>();
}
