#include "design/KTCornerFrameLayer.h"

#include "design/VLImage.h"
#include "kit/ImageAdditions.h"
#include "platform/archive/KeyedClassRegistry.h"
#include "platform/render/DrawingContext.h"

#include <QColorSpace>

#include <algorithm>
#include <cmath>
#include <limits>
#include <mutex>

namespace {

QString str(const char *text)
{
    return QString::fromLatin1(text);
}

} // namespace

KTCornerFrameLayer::KTCornerFrameLayer() = default;

KTCornerFrameLayer::KTCornerFrameLayer(BlankTag tag)
    : KTMoldingFrameLayer(tag)
{
}

KTCornerFrameLayer::~KTCornerFrameLayer() = default;

bool KTCornerFrameLayer::missesPictures() const
{
    return KTMoldingFrameLayer::missesPictures() || (m_allocatedFrameImageTopLeft && !m_frameImageTopLeft)
        || (m_allocatedFrameImageTopRight && !m_frameImageTopRight)
        || (m_allocatedFrameImageBottomLeft && !m_frameImageBottomLeft)
        || (m_allocatedFrameImageBottomRight && !m_frameImageBottomRight);
}

bool KTCornerFrameLayer::loadImages()
{
    if (!KTMoldingFrameLayer::loadImages())
        return false;

    m_frameImageTopLeft = pictureForAttribute(str(kTopLeftCornerAttribute), &m_allocatedFrameImageTopLeft);
    m_frameImageTopRight = pictureForAttribute(str(kTopRightCornerAttribute), &m_allocatedFrameImageTopRight);
    m_frameImageBottomLeft = pictureForAttribute(str(kBottomLeftCornerAttribute), &m_allocatedFrameImageBottomLeft);
    m_frameImageBottomRight = pictureForAttribute(str(kBottomRightCornerAttribute), &m_allocatedFrameImageBottomRight);
    if (!m_frameImageTopLeft && !m_frameImageTopRight && !m_frameImageBottomLeft && !m_frameImageBottomRight)
        return false;

    // A missing corner is another corner turned so that its two outer edges
    // lie on the outer edges of the missing one.
    const auto fill = &KTMoldingFrameLayer::fillMissingPicture;
    fill(m_frameImageTopLeft, m_allocatedFrameImageTopLeft,
         {{m_allocatedFrameImageTopRight, &m_frameImageTopRight, 3},
          {m_allocatedFrameImageBottomLeft, &m_frameImageBottomLeft, 1},
          {true, &m_frameImageBottomRight, 2}});
    fill(m_frameImageTopRight, m_allocatedFrameImageTopRight,
         {{m_allocatedFrameImageBottomRight, &m_frameImageBottomRight, 3},
          {m_allocatedFrameImageTopLeft, &m_frameImageTopLeft, 1},
          {true, &m_frameImageBottomLeft, 2}});
    fill(m_frameImageBottomLeft, m_allocatedFrameImageBottomLeft,
         {{m_allocatedFrameImageTopLeft, &m_frameImageTopLeft, 3},
          {m_allocatedFrameImageBottomRight, &m_frameImageBottomRight, 1},
          {true, &m_frameImageTopRight, 2}});
    fill(m_frameImageBottomRight, m_allocatedFrameImageBottomRight,
         {{m_allocatedFrameImageBottomLeft, &m_frameImageBottomLeft, 3},
          {m_allocatedFrameImageTopRight, &m_frameImageTopRight, 1},
          {true, &m_frameImageTopLeft, 2}});

    setImagesLoaded(true);
    setAllFrameImages({m_frameImageLeft, m_frameImageTop, m_frameImageRight, m_frameImageBottom, m_frameImageTopLeft,
                       m_frameImageTopRight, m_frameImageBottomLeft, m_frameImageBottomRight});
    m_prerotatedCorners = {m_frameImageTopLeft, m_frameImageBottomLeft, m_frameImageBottomRight, m_frameImageTopRight};
    return true;
}

std::array<std::shared_ptr<VLImage>, 4> KTCornerFrameLayer::cornerPicturesForRotation() const
{
    const unsigned r = rotation() % 4;
    return {m_prerotatedCorners[r], m_prerotatedCorners[(r + 3) % 4], m_prerotatedCorners[(r + 1) % 4],
            m_prerotatedCorners[(r + 2) % 4]};
}

void KTCornerFrameLayer::drawSideWithImage(const std::shared_ptr<VLImage> &image, double w, const QPointF &p,
                                           unsigned side, double length, bool highQuality, bool skipCache)
{
    if (!platform::DrawingContext::current() || !usable(image) || !(length > 0) || !(w > 0)
        || !std::isfinite(length) || !std::isfinite(w) || !std::isfinite(p.x()) || !std::isfinite(p.y()))
        return;
    const QSizeF pictureSize = image->rotatedOriginalSize();
    const bool vertical = side == Left || side == Right;
    const double natural = vertical ? pictureSize.height() * (w / pictureSize.width())
                                    : pictureSize.width() * (w / pictureSize.height());
    double tiles = length / natural;
    if (!std::isfinite(tiles))
        return;
    // Never more tiles than points: a sliver of a picture must not make the
    // side an endless walk (nor a count beyond what rounding can hold).
    tiles = std::clamp(tiles, 0.0, std::max(1.0, std::ceil(length)));
    const long n = std::lrint(tiles);

    const double a = vertical ? p.y() : p.x();
    const double e = a + length;
    const double c = std::nearbyint(vertical ? p.x() : p.y());
    double cur = std::nearbyint(a);
    if (e <= cur)
        return;
    const double step = n == 0 ? std::numeric_limits<double>::infinity() : length / double(n);
    bool first = true;
    for (long i = 1; cur < e && i <= n + 2; ++i) {
        double b = std::nearbyint(a + double(i) * step);
        if (b > e || i == n + 2)
            b = e;
        const double tileLength = b - cur;
        if (tileLength > 0) {
            const QRectF tile =
                tileSnappedToPixels(vertical ? QRectF(c, cur, w, tileLength) : QRectF(cur, c, tileLength, w), vertical);
            if (!first && highQuality && !skipCache) {
                // Nearly the same size as the first: its rendering serves.
                image->drawCachedInRect(tile);
            } else {
                drawPicture(*image, tile, highQuality, skipCache);
            }
            first = false;
        }
        cur += tileLength;
    }
}

void KTCornerFrameLayer::drawLayerForRect(const QRectF &rect, bool highQuality, bool skipCache)
{
    if (!imagesLoaded())
        return;
    const Geometry g = geometryForRect(rect);
    const double fw = g.fw;
    const QRectF o = g.outer;
    setDrawRects(o, o.adjusted(fw, fw, -fw, -fw));

    const auto sides = sidePicturesForRotation();
    const auto corners = cornerPicturesForRotation();
    const QPointF starts[4] = {{o.x(), o.y() + fw},
                               {o.x() + fw, o.y() + o.height() - fw},
                               {o.x() + o.width() - fw, o.y() + fw},
                               {o.x() + fw, o.y()}};
    const double lengths[4] = {o.height() - 2 * fw, o.width() - 2 * fw, o.height() - 2 * fw, o.width() - 2 * fw};
    const QRectF strips[4] = {QRectF(starts[0], QSizeF(fw, lengths[0])), QRectF(starts[1], QSizeF(lengths[1], fw)),
                              QRectF(starts[2], QSizeF(fw, lengths[2])), QRectF(starts[3], QSizeF(lengths[3], fw))};
    // Top-left, top-right, bottom-left, bottom-right.
    const QRectF squares[4] = {QRectF(o.x(), o.y() + o.height() - fw, fw, fw),
                               QRectF(o.x() + o.width() - fw, o.y() + o.height() - fw, fw, fw),
                               QRectF(o.x(), o.y(), fw, fw), QRectF(o.x() + o.width() - fw, o.y(), fw, fw)};
    auto drawSide = [&](unsigned side) {
        drawSideWithImage(sides[side], fw, starts[side], side, lengths[side], highQuality, skipCache);
    };
    auto drawCorner = [&](int corner) {
        // Stretched to the square whatever the picture's own proportions.
        if (usable(corners[corner]))
            drawPicture(*corners[corner], squares[corner], highQuality, skipCache);
    };

    if (shouldDrawShadow()) {
        // Every part casts its own shadow; the main pass below paints over
        // the shadows later parts cast on earlier ones.
        drawAsMask(actAsMask(), [&] {
            for (unsigned side : {Left, Top, Right, Bottom})
                drawWithShadowInRect(o, highQuality, true, strips[side], [&] { drawSide(side); });
            for (int corner = 0; corner < 4; ++corner)
                drawWithShadowInRect(o, highQuality, true, squares[corner], [&] { drawCorner(corner); });
        });
    }
    drawAsMask(actAsMask(), [&] {
        for (unsigned side : {Left, Top, Right, Bottom})
            drawSide(side);
        for (int corner = 0; corner < 4; ++corner)
            drawCorner(corner);
    });
}

QImage KTCornerFrameLayer::iconOfSize(const QSizeF &size)
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
            for (double y = h - t - th; y + th > 0; y -= th)
                m_frameImageLeft->drawInRect(QRectF(0, y, t, th), false);
        }
        if (usable(m_frameImageTop)) {
            const double tw = iconTileLength(m_frameImageTop->originalSize(), true, t);
            for (double x = t; x < w; x += tw)
                m_frameImageTop->drawInRect(QRectF(x, h - t, tw, t), false);
        }
        if (usable(m_frameImageTopLeft))
            m_frameImageTopLeft->drawInRect(QRectF(0, h - t, t, t), false);
        if (actAsMask())
            drawIconMaskBadge(*ctx);
    });
}

std::shared_ptr<KTLayer> KTCornerFrameLayer::copyForRendering() const
{
    auto copy = std::shared_ptr<KTCornerFrameLayer>(new KTCornerFrameLayer(BlankTag{}));
    PictureCopies copies;
    copy->copyMoldingFieldsFrom(*this, copies);
    copy->m_frameImageTopLeft = copyOf(copies, m_frameImageTopLeft);
    copy->m_frameImageTopRight = copyOf(copies, m_frameImageTopRight);
    copy->m_frameImageBottomLeft = copyOf(copies, m_frameImageBottomLeft);
    copy->m_frameImageBottomRight = copyOf(copies, m_frameImageBottomRight);
    copy->m_allocatedFrameImageTopLeft = m_allocatedFrameImageTopLeft;
    copy->m_allocatedFrameImageBottomLeft = m_allocatedFrameImageBottomLeft;
    copy->m_allocatedFrameImageTopRight = m_allocatedFrameImageTopRight;
    copy->m_allocatedFrameImageBottomRight = m_allocatedFrameImageBottomRight;
    for (std::size_t i = 0; i < m_prerotatedCorners.size(); ++i)
        copy->m_prerotatedCorners[i] = copyOf(copies, m_prerotatedCorners[i]);
    return copy;
}

void KTCornerFrameLayer::registerArchiveClass()
{
    static std::once_flag once;
    std::call_once(once, [] {
        platform::KeyedClassRegistry::shared().registerClass(QStringLiteral("KTCornerFrameLayer"), [] {
            return std::static_pointer_cast<platform::Coding>(
                std::shared_ptr<KTCornerFrameLayer>(new KTCornerFrameLayer(BlankTag{})));
        });
    });
}
