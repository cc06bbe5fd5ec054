#include "platform/render/DrawingContext.h"

#include "platform/imaging/PhotoRows.h"
#include "platform/render/AlphaBlur.h"
#include "platform/render/ParallelPaint.h"
#include "platform/render/RenderBand.h"
#include "platform/render/ShadowCache.h"
#include "platform/render/TransparencyLayer.h"
#include "platform/render/UntouchedPixels.h"

#include <QDataStream>
#include <QIODevice>
#include <QPaintDevice>
#include <QPainterPath>
#include <QTransform>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <memory>
#include <new>
#include <type_traits>
#include <utility>
#include <vector>

namespace platform {

namespace {
thread_local DrawingContext *t_current = nullptr;

// A picture decoded as it is drawn makes the rows this drawing reads first:
// those that land on the device, and a row more each way for smoothing.
void needDrawnRows(const QImage &image, const QRectF &source, const QRectF &rect, const QTransform &transform,
                   const QPaintDevice *device)
{
    if (!PhotoRows::of(image))
        return;
    const QRectF part = source.isEmpty() ? QRectF(image.rect()) : source;
    const double sx = std::abs(transform.m11()) * rect.width() / part.width();
    const double sy = std::abs(transform.m22()) * rect.height() / part.height();
    bool invertible = false;
    const QTransform back = (QTransform::fromTranslate(-part.x(), -part.y())
                             * QTransform::fromScale(rect.width() / part.width(), rect.height() / part.height())
                             * QTransform::fromTranslate(rect.x(), rect.y()) * transform)
                                .inverted(&invertible);
    // An enlargement looks all over the picture for a clear middle.
    if (!device || !invertible || (transform.type() <= QTransform::TxScale && sx >= kHoleMinScale && sy >= kHoleMinScale)) {
        PhotoRows::needAllOf(image);
        return;
    }
    const QRectF rows = back.mapRect(QRectF(0, 0, device->width(), device->height()));
    PhotoRows::needRowsOf(image, int(std::floor(rows.top())) - 2, int(std::ceil(rows.bottom())) + 2);
}

// A photo's rows are opaque: drawn at their own size on whole pixels, at
// full opacity over what is there, copying them gives the same pixels as
// blending them, and Qt copies a picture without alpha row by row. Null
// where that does not hold.
QImage opaqueView(const QImage &image, const QRectF &source, const QRectF &rect, const QTransform &transform,
                  const QPainter &painter)
{
    if (image.format() != QImage::Format_ARGB32_Premultiplied || transform.type() > QTransform::TxTranslate
        || painter.compositionMode() != QPainter::CompositionMode_SourceOver || painter.opacity() != 1.0
        || (!source.isEmpty() && source != QRectF(image.rect())) || rect.size() != QSizeF(image.size()))
        return {};
    const QPointF at = transform.map(rect.topLeft());
    if (at.x() != std::round(at.x()) || at.y() != std::round(at.y()) || !PhotoRows::of(image))
        return {};
    return QImage(image.constBits(), image.width(), image.height(), image.bytesPerLine(), QImage::Format_RGB32);
}

// The rows of a photo copied as opaqueView allows, decoded straight into
// the device's rows where they land instead, when the device is a picture
// and nothing clips them: the same pixels, without a copy of them in between.
bool writeOpaqueRows(const QImage &image, const QRectF &rect, const QTransform &transform, const QPainter &painter)
{
    QPaintDevice *device = painter.device();
    if (!device || device->devType() != QInternal::Image || painter.hasClipping())
        return false;
    auto *target = static_cast<QImage *>(device);
    if (target->format() != QImage::Format_ARGB32_Premultiplied && target->format() != QImage::Format_RGB32)
        return false;
    const QPointF at = transform.map(rect.topLeft());
    const int x = int(at.x());
    const int y = int(at.y());
    if (x < 0 || x + image.width() > target->width())
        return false;
    const int first = std::max(0, -y);
    const int end = std::min(image.height(), target->height() - y);
    if (first >= end)
        return true;
    // The buffer the painter draws into: bits() could detach a shared one.
    uchar *bits = const_cast<uchar *>(std::as_const(*target).constBits());
    const qsizetype bpl = target->bytesPerLine();
    return PhotoRows::writeRowsOf(image, first, end, bits + qsizetype(y + first) * bpl + qsizetype(x) * 4, bpl);
}

// Rects, apart from one another, that hold every pixel of `image` other than
// clear ones: blocks of rows, cut where clear columns part what they hold.
std::vector<QRect> heldPieces(const QImage &image)
{
    // Tall blocks keep the pieces few (each costs a drawing's set-up); a
    // gap this wide between held columns is worth two pieces.
    constexpr int kBlockRows = 64;
    constexpr int kGap = 32;
    const int w = image.width();
    std::vector<QRect> pieces;
    std::vector<uchar> held(size_t(std::max(0, w)));
    for (int y0 = 0; y0 < image.height(); y0 += kBlockRows) {
        const int y1 = std::min(image.height(), y0 + kBlockRows) - 1;
        std::fill(held.begin(), held.end(), uchar(0));
        for (int y = y0; y <= y1; ++y) {
            const quint32 *row = reinterpret_cast<const quint32 *>(image.constScanLine(y));
            for (int x = 0; x < w; ++x)
                held[size_t(x)] |= uchar(row[x] != 0);
        }
        for (int x = 0; x < w;) {
            if (!held[size_t(x)]) {
                ++x;
                continue;
            }
            int last = x;
            int next = x + 1;
            for (int clear = 0; next < w && clear < kGap; ++next) {
                if (held[size_t(next)]) {
                    last = next;
                    clear = 0;
                } else {
                    ++clear;
                }
            }
            pieces.emplace_back(QPoint(x, y0), QPoint(last, y1));
            x = next;
        }
    }
    return pieces;
}

// Keeps in `mask` what `lay` puts on the target's band inside `enlarged`:
// it is drawn there once over cleared pixels, with everything the target
// has (clip, hints, the rows it has), taken out in pieces, and the band's
// pixels put back. Laid again over any pixels in source-over mode, the
// pieces blend to the same values as the drawing itself. Where `cover` (one
// fill in a plain colour, drawn next) turns out opaque over cleared pixels,
// it hides whatever lies below: those pixels are left out. False where the
// target is no image of premultiplied pixels.
bool layOnce(QPainter &target, const QRectF &enlarged, const std::function<void(QPainter &)> &lay,
             const std::function<void()> &cover, ShadowCache::Mask &mask)
{
    QPaintDevice *device = target.device();
    if (!device || device->devType() != QInternal::Image)
        return false;
    QImage &band = *static_cast<QImage *>(device);
    // Written in place under the painter: only while nothing else shares its pixels.
    if (band.format() != QImage::Format_ARGB32_Premultiplied || !band.isDetached())
        return false;
    const QRect area = enlarged.toAlignedRect().intersected(band.rect());
    mask.isLaid = true;
    if (area.isEmpty())
        return true;
    const QImage saved = band.copy(area);
    if (saved.isNull())
        return false;
    const size_t rowBytes = size_t(area.width()) * 4;
    const auto clearArea = [&] {
        for (int y = area.top(); y <= area.bottom(); ++y)
            std::memset(band.scanLine(y) + size_t(area.left()) * 4, 0, rowBytes);
    };
    clearArea();
    lay(target);
    QImage laid = band.copy(area);
    bool copied = !laid.isNull();
    if (copied) {
        // The fill alone over cleared pixels, within the area only.
        clearArea();
        target.save();
        const QTransform world = target.worldTransform();
        target.resetTransform();
        target.setClipRect(area, target.hasClipping() ? Qt::IntersectClip : Qt::ReplaceClip);
        target.setWorldTransform(world);
        cover();
        target.restore();
        for (int y = 0; y < area.height(); ++y) {
            const quint32 *covered = reinterpret_cast<const quint32 *>(band.constScanLine(area.top() + y)) + area.left();
            quint32 *row = reinterpret_cast<quint32 *>(laid.scanLine(y));
            for (int x = 0; x < area.width(); ++x) {
                if ((covered[x] >> 24) == 255)
                    row[x] = 0;
            }
        }
        // Only the pieces that hold pixels: the clear middle and what the
        // fill covers blend nothing.
        for (const QRect &piece : heldPieces(laid)) {
            QImage pixels = laid.copy(piece);
            if (pixels.isNull()) {
                copied = false;
                break;
            }
            mask.laid.push_back({piece.topLeft() + area.topLeft(), std::move(pixels)});
        }
    }
    for (int y = area.top(); y <= area.bottom(); ++y)
        std::memcpy(band.scanLine(y) + size_t(area.left()) * 4, saved.constScanLine(y - area.top()), rowBytes);
    if (!copied) {
        mask.laid.clear();
        mask.isLaid = false;
    }
    return copied;
}
} // namespace

struct DrawingContext::LayerFrame {
    // The shadow in effect when the layer began: it applies to the
    // composite, not to what is drawn inside it.
    ShadowState shadow;
    QPainter *outerPainter = nullptr;
    std::size_t savedStates = 0;
    TransparencyLayer engine;
};

DrawingContext::DrawingContext(QImage &target)
    : m_ownedPainter(std::make_unique<QPainter>(&target))
    , m_painter(m_ownedPainter.get())
    , m_height(target.height() / target.devicePixelRatio())
{
    m_painter->setRenderHint(QPainter::Antialiasing, true);
    m_painter->setRenderHint(QPainter::SmoothPixmapTransform, true);
    m_painter->setWorldTransform(QTransform(1, 0, 0, -1, 0, m_height));
    m_canvas = QRectF(0, 0, target.width() / target.devicePixelRatio(), m_height);
    m_match = ColorMatch::forTarget(target.colorSpace());
    init();
}

DrawingContext::DrawingContext(QPainter &painter, double height)
    : m_painter(&painter)
    , m_height(height)
{
    m_painter->save();
    const QTransform flip(1, 0, 0, -1, 0, height);
    m_painter->setWorldTransform(flip * m_painter->worldTransform());
    if (QPaintDevice *device = m_painter->device()) {
        const QRectF deviceRect(0, 0, device->width(), device->height());
        m_canvas = m_painter->deviceTransform().inverted().mapRect(deviceRect);
    } else {
        m_canvas = QRectF(0, 0, 0, height);
    }
    if (t_current)
        m_match = t_current->m_match;
    init();
}

void DrawingContext::init()
{
    m_previous = t_current;
    t_current = this;
}

DrawingContext::~DrawingContext()
{
    while (!m_layers.empty())
        endTransparencyLayer();
    if (m_ownedPainter) {
        m_ownedPainter->end();
    } else {
        m_painter->restore();
    }
    // Contexts end in the reverse order of their making; tolerate a mismatch
    // by unlinking this one wherever it sits.
    if (t_current == this) {
        t_current = m_previous;
    } else {
        for (DrawingContext *c = t_current; c; c = c->m_previous) {
            if (c->m_previous == this) {
                c->m_previous = m_previous;
                break;
            }
        }
    }
}

DrawingContext *DrawingContext::current()
{
    return t_current;
}

double DrawingContext::deviceScale() const
{
    const QTransform t = m_painter->deviceTransform();
    return std::sqrt(std::abs(t.m11() * t.m22() - t.m12() * t.m21()));
}

void DrawingContext::saveGState()
{
    m_painter->save();
    m_savedShadows.push_back(m_shadow);
}

void DrawingContext::restoreGState()
{
    // An unbalanced restore (or one reaching past the start of a
    // transparency layer) is ignored rather than corrupting the painter.
    if (m_savedShadows.empty() || (!m_layers.empty() && m_savedShadows.size() <= m_layers.back()->savedStates))
        return;
    m_painter->restore();
    m_shadow = m_savedShadows.back();
    m_savedShadows.pop_back();
}

void DrawingContext::clipToRect(const QRectF &rect)
{
    if (m_painter->hasClipping())
        m_painter->setClipRect(rect, Qt::IntersectClip);
    else
        m_painter->setClipRect(rect, Qt::ReplaceClip);
}

void DrawingContext::clipToPath(const QPainterPath &path)
{
    if (m_painter->hasClipping())
        m_painter->setClipPath(path, Qt::IntersectClip);
    else
        m_painter->setClipPath(path, Qt::ReplaceClip);
}

QRectF DrawingContext::clipBoundingRect() const
{
    if (!m_painter->hasClipping())
        return m_canvas;
    return m_painter->clipBoundingRect().intersected(m_canvas);
}

void DrawingContext::setOpacity(double alpha)
{
    m_painter->setOpacity(alpha);
}

double DrawingContext::opacity() const
{
    return m_painter->opacity();
}

void DrawingContext::setCompositionMode(QPainter::CompositionMode mode)
{
    m_painter->setCompositionMode(mode);
    m_otherModes = m_otherModes || mode != QPainter::CompositionMode_SourceOver;
}

bool DrawingContext::drawWithReducedShadow(const std::function<void()> &draw, const ShapeKey &shapeKey)
{
    // One opaque-mode drawing operation casts the same shadow whether it is
    // drawn into a group first or straight onto the canvas after its shadow;
    // only the group costs a canvas-sized buffer. A wide blur hides detail,
    // so the shadow is worked out from the operation drawn small.
    QPainter &target = *m_painter;
    const QPainter::CompositionMode mode = target.compositionMode();
    if (target.opacity() < 1.0
        || (mode != QPainter::CompositionMode_SourceOver && mode != QPainter::CompositionMode_DestinationOut))
        return false;
    const QPaintDevice *device = target.device();
    if (!device || device->devicePixelRatio() != 1.0 || m_shadow.color.alpha() == 0)
        return false;
    const QTransform t = target.deviceTransform();
    const double scale = std::sqrt(std::abs(t.m11() * t.m22() - t.m12() * t.m21()));
    const double sigma = TransparencyLayer::sigmaForBlurRadius(m_shadow.blur * scale);
    const int f = TransparencyLayer::shrinkFactor(sigma);
    if (f < 4)
        return false;
    const QPointF offset = t.map(m_shadow.offset) - t.map(QPointF(0, 0));
    if (!std::isfinite(offset.x()) || !std::isfinite(offset.y()) || std::abs(offset.x()) > 1e6
        || std::abs(offset.y()) > 1e6)
        return false;
    // The operation at 1/f scale, with room round it for the blur to spread.
    const int pad = int(std::ceil(3 * sigma / f)) + 2;
    QRect rect = RenderBand::canvasFor(device);
    if (target.hasClipping())
        rect &= t.mapRect(target.clipBoundingRect()).toAlignedRect();
    // A band's drawing needs the operation only as far as its shadow reaches
    // into the band.
    rect = RenderBand::cut(device, rect, (pad + 2) * f + int(std::ceil(std::abs(offset.y()))), f);
    if (rect.isEmpty())
        return false;
    const qint64 pw = (rect.width() + f - 1) / f + 2 * qint64(pad);
    const qint64 ph = (rect.height() + f - 1) / f + 2 * qint64(pad);
    if (pw > (1 << 16) || ph > (1 << 16))
        return false;
    const int w = int(pw);
    const int h = int(ph);
    const QRectF enlarged(rect.x() - double(pad) * f + offset.x(), rect.y() - double(pad) * f + offset.y(),
                          double(w) * f, double(h) * f);
    const QColor c = m_shadow.color.toRgb();
    const quint32 ca = quint32(c.alpha());
    // The tinted pixel for every coverage, worked out once.
    QRgb tint[256];
    for (int a = 0; a < 256; ++a)
        tint[a] = qPremultiply(qRgba(c.red(), c.green(), c.blue(), a));

    // Draws the small picture enlarged back to the canvas.
    const auto enlarge = [&](QPainter &onto, const QImage &picture, const Untouched &untouched) {
        onto.save();
        onto.setWorldTransform(QTransform());
        onto.setRenderHint(QPainter::SmoothPixmapTransform, true);
        // Enlarging is most of the work: several threads take a band of rows each.
        if (!paintAround(onto, enlarged.toAlignedRect(), untouched,
                         [&](QPainter &p, const QTransform &) { p.drawImage(enlarged, picture); }))
            onto.drawImage(enlarged, picture);
        onto.restore();
    };

    // The operation drawn small, its coverage blurred and tinted with the
    // shadow colour; each pixel's tint also goes to `levels` when asked.
    // The small picture's buffer, its pixels left as they come.
    const auto allocateSmall = [&](QImage &small) {
        try {
            small = QImage(w, h, QImage::Format_ARGB32_Premultiplied);
        } catch (const std::bad_alloc &) {
            return false;
        }
        return !small.isNull();
    };
    const auto makeSmall = [&](QImage &small, uchar *levels) {
        if (!allocateSmall(small))
            return false;
        small.fill(Qt::transparent);
        {
            QPainter p(&small);
            p.setRenderHints(target.renderHints());
            p.setPen(target.pen());
            p.setBrush(target.brush());
            p.setFont(target.font());
            p.setBrushOrigin(target.brushOrigin());
            const QTransform toSmall = QTransform::fromTranslate(-rect.x(), -rect.y())
                                       * QTransform::fromScale(1.0 / f, 1.0 / f) * QTransform::fromTranslate(pad, pad);
            // The clip is kept in the painter's own coordinates: set it through
            // the same transform.
            p.setWorldTransform(t * toSmall);
            if (target.hasClipping())
                p.setClipPath(target.clipPath());
            QPainter *saved = m_painter;
            m_painter = &p;
            draw();
            m_painter = saved;
        }
        const size_t count = size_t(w) * size_t(h);
        std::unique_ptr<quint16[]> plane(new (std::nothrow) quint16[count]);
        std::unique_ptr<quint16[]> scratch(new (std::nothrow) quint16[count]);
        if (!plane || !scratch)
            return false;
        for (int y = 0; y < h; ++y) {
            const quint32 *row = reinterpret_cast<const quint32 *>(small.constScanLine(y));
            quint16 *out = plane.get() + size_t(y) * size_t(w);
            for (int x = 0; x < w; ++x)
                out[x] = quint16((row[x] >> 24) * 256);
        }
        AlphaBlur::blur(plane.get(), scratch.get(), w, h, sigma / f);
        scratch.reset();
        // Coverage comes in long even stretches: each value is worked out once
        // for as long as it lasts.
        const auto tintRows = [&](auto keepLevels) {
            quint32 last = 0;
            quint32 level = 0;
            for (int y = 0; y < h; ++y) {
                quint32 *row = reinterpret_cast<quint32 *>(small.scanLine(y));
                const quint16 *in = plane.get() + size_t(y) * size_t(w);
                uchar *out = levels ? levels + size_t(y) * size_t(w) : nullptr;
                for (int x = 0; x < w; ++x) {
                    if (in[x] != last) {
                        last = in[x];
                        level = std::min<quint32>((last * ca + 32640) / 65280, 255);
                    }
                    row[x] = tint[level];
                    if constexpr (decltype(keepLevels)::value)
                        out[x] = uchar(level);
                }
            }
        };
        if (levels)
            tintRows(std::true_type());
        else
            tintRows(std::false_type());
        return true;
    };

    QImage small;
    Untouched hole;
    ShadowCache *cache = ShadowCache::current();
    const QByteArray shape = cache && shapeKey ? shapeKey() : QByteArray();
    std::shared_ptr<const ShadowCache::Mask> mask;
    // Only the rows the enlargement samples for the device's own rows (and a
    // few more) are kept: a band reads a small part of them.
    const int device0 = std::clamp(int(std::floor((0 - enlarged.y()) / f)) - 3, 0, h);
    const int device1 = std::clamp(int(std::ceil((device->height() - enlarged.y()) / f)) + 3, device0, h);
    if (!shape.isEmpty()) {
        // In a batch the same shape casts the same shadow into the same band
        // of every file: its tint levels are worked out once.
        QByteArray key = shape;
        {
            QDataStream out(&key, QIODevice::WriteOnly | QIODevice::Append);
            out << t << qint32(target.renderHints()) << target.hasClipping();
            if (target.hasClipping())
                out << target.clipPath();
            out << qint32(device->width()) << qint32(device->height()) << RenderBand::canvasFor(device) << rect
                << qint32(pad) << qint32(f) << sigma << c << offset << qint32(mode);
        }
        const auto make = [&] {
            std::shared_ptr<ShadowCache::Mask> made;
            QImage tinted;
            try {
                std::vector<uchar> levels(size_t(w) * size_t(h));
                if (!makeSmall(tinted, levels.data()))
                    return made;
                made = std::make_shared<ShadowCache::Mask>(QRect(0, device0, w, device1 - device0));
                const Untouched clear = untouchedPixels(tinted, QRectF(tinted.rect()), enlarged, QTransform());
                made->untouched = clear.hole;
                made->untouchedRowStart = clear.rowStart;
                // Enlarging is the dear part: where it can be, what it lays
                // on the band is kept instead, and later files only blend it.
                if (mode == QPainter::CompositionMode_SourceOver
                    && layOnce(target, enlarged, [&](QPainter &p) { enlarge(p, tinted, clear); }, draw, *made))
                    return made;
                for (int y = device0; y < device1; ++y)
                    made->appendRow(levels.data() + size_t(y) * size_t(w));
            } catch (const std::bad_alloc &) {
                return std::shared_ptr<ShadowCache::Mask>();
            }
            return made;
        };
        // Not waited for while another thread makes it: the making costs
        // what drawing the shadow here does, and a batch's workers all reach
        // the same bands at once at the start.
        mask = cache->obtain(key, make, false);
    }
    if (mask && mask->isLaid) {
        target.save();
        target.setWorldTransform(QTransform());
        // In strips as the enlargement was: a batch's worker keeps its drawing
        // out of Qt's own thread pool, whose threads would take the other
        // workers' cores while this one waits.
        for (const ShadowCache::Mask::Piece &piece : mask->laid) {
            if (!ParallelPaint::paint(target, QRect(piece.at, piece.pixels.size()),
                                      [&](QPainter &p, const QTransform &) { p.drawImage(piece.at, piece.pixels); }))
                target.drawImage(piece.at, piece.pixels);
        }
        target.restore();
        draw();
        return true;
    }
    if (mask) {
        if (!allocateSmall(small))
            return false;
        const size_t rowBytes = size_t(small.bytesPerLine());
        std::memset(small.bits(), 0, rowBytes * size_t(device0));
        std::memset(small.bits() + rowBytes * size_t(device1), 0, rowBytes * size_t(h - device1));
        for (int y = device0; y < device1; ++y) {
            quint32 *row = reinterpret_cast<quint32 *>(small.scanLine(y));
            int first = 0;
            int end = 0;
            const uchar *levels = mask->row(y - device0, &first, &end);
            std::fill(row, row + first, tint[0]);
            for (int x = first; x < end; ++x)
                row[x] = tint[levels[x]];
            std::fill(row + end, row + w, tint[0]);
        }
        hole = {mask->untouched, mask->untouchedRowStart};
    } else {
        if (!makeSmall(small, nullptr))
            return false;
        hole = untouchedPixels(small, QRectF(small.rect()), enlarged, QTransform());
    }

    // The shadow first, enlarged back to the canvas, then the operation.
    enlarge(target, small, hole);
    draw();
    return true;
}

void DrawingContext::withImplicitLayer(const std::function<void()> &draw, const ShapeKey &shapeKey)
{
    if (m_shadow.set) {
        if (drawWithReducedShadow(draw, shapeKey))
            return;
        beginTransparencyLayer();
        draw();
        endTransparencyLayer();
    } else {
        draw();
    }
}

void DrawingContext::fillRect(const QRectF &rect, const QColor &color)
{
    const QColor matched = matchedColor(color);
    withImplicitLayer([&] { m_painter->fillRect(rect, matched); },
                      [&] {
                          QByteArray key;
                          QDataStream out(&key, QIODevice::WriteOnly);
                          out << QByteArray("fillRect") << rect << matched;
                          return key;
                      });
}

void DrawingContext::fillPath(const QPainterPath &path, const QBrush &brush)
{
    const QBrush matched = m_match ? m_match->brush(brush) : brush;
    withImplicitLayer([&] { m_painter->fillPath(path, matched); },
                      [&] {
                          // Only a plain colour is told by a few numbers.
                          QByteArray key;
                          if (matched.style() != Qt::SolidPattern)
                              return key;
                          QDataStream out(&key, QIODevice::WriteOnly);
                          out << QByteArray("fillPath") << path << matched.color();
                          return key;
                      });
}

void DrawingContext::strokePath(const QPainterPath &path, const QPen &pen)
{
    const QPen matched = m_match ? m_match->pen(pen) : pen;
    withImplicitLayer([&] { m_painter->strokePath(path, matched); });
}

void DrawingContext::strokeRect(const QRectF &rect, const QColor &color, double lineWidth)
{
    QPainterPath path;
    path.addRect(rect);
    QPen pen(color);
    pen.setWidthF(lineWidth);
    pen.setJoinStyle(Qt::MiterJoin);
    strokePath(path, pen);
}

void DrawingContext::drawImage(const QRectF &rect, const QImage &image, const QRectF &source)
{
    if (image.isNull() || rect.isEmpty())
        return;
    const QRectF local(rect.x(), 0, rect.width(), rect.height());
    QImage copied;
    const auto paint = [&](QPainter &p) {
        p.save();
        p.translate(0, rect.y() + rect.height());
        p.scale(1, -1);
        if (!copied.isNull())
            p.drawImage(local, copied);
        else if (source.isEmpty())
            p.drawImage(local, image);
        else
            p.drawImage(local, image, source);
        p.restore();
    };
    withImplicitLayer([&] {
        // A large picture is drawn by several threads, a band of rows each.
        const QRect area = m_painter->deviceTransform().mapRect(rect).toAlignedRect().adjusted(-1, -1, 1, 1);
        QTransform drawn = m_painter->deviceTransform();
        drawn.translate(0, rect.y() + rect.height());
        drawn.scale(1, -1);
        copied = opaqueView(image, source, local, drawn, *m_painter);
        if (!copied.isNull() && writeOpaqueRows(image, local, drawn, *m_painter))
            return;
        needDrawnRows(image, source, local, drawn, m_painter->device());
        const Untouched hole = untouchedPixels(image, source.isEmpty() ? QRectF(image.rect()) : source, local, drawn);
        if (!paintAround(*m_painter, area, hole, [&](QPainter &p, const QTransform &) { paint(p); }))
            paint(*m_painter);
    });
}

void DrawingContext::drawFlipped(const QRectF &rect,
                                 const std::function<void(QPainter &, const QRectF &)> &draw)
{
    withImplicitLayer([&] {
        m_painter->save();
        // y' = top - y maps the rect's top edge to 0 and its bottom to height.
        m_painter->translate(0, rect.y() + rect.height());
        m_painter->scale(1, -1);
        draw(*m_painter, QRectF(rect.x(), 0, rect.width(), rect.height()));
        m_painter->restore();
    });
}

void DrawingContext::setShadow(const QColor &color, const QPointF &offset, double blur)
{
    m_shadow.set = true;
    m_shadow.color = matchedColor(color);
    m_shadow.offset = offset;
    m_shadow.blur = std::max(0.0, blur);
}

void DrawingContext::clearShadow()
{
    m_shadow = ShadowState();
}

bool DrawingContext::hasShadow() const
{
    return m_shadow.set;
}

QColor DrawingContext::shadowColor() const
{
    return m_shadow.color;
}

QPointF DrawingContext::shadowOffset() const
{
    return m_shadow.offset;
}

double DrawingContext::shadowBlur() const
{
    return m_shadow.blur;
}

void DrawingContext::beginTransparencyLayer()
{
    auto frame = std::make_unique<LayerFrame>();
    frame->shadow = m_shadow;
    frame->outerPainter = m_painter;
    frame->savedStates = m_savedShadows.size();
    std::optional<Shadow> shadow;
    if (m_shadow.set) {
        Shadow s;
        s.color = m_shadow.color;
        s.offset = m_shadow.offset;
        s.blurRadius = m_shadow.blur;
        shadow = s;
    }
    // The engine answers the painter to draw the content with (the target
    // itself when there is nothing to buffer).
    m_painter = frame->engine.begin(m_painter, shadow);
    if (m_painter == frame->outerPainter)
        m_painter->save();
    m_layers.push_back(std::move(frame));
    // Inside the layer, shapes draw plainly; the shadow belongs to the whole.
    m_shadow = ShadowState();
}

void DrawingContext::endTransparencyLayer()
{
    if (m_layers.empty())
        return;
    std::unique_ptr<LayerFrame> frame = std::move(m_layers.back());
    m_layers.pop_back();
    // States saved inside the layer and not restored end with it.
    while (m_savedShadows.size() > frame->savedStates) {
        m_painter->restore();
        m_savedShadows.pop_back();
    }
    if (m_painter == frame->outerPainter)
        m_painter->restore();
    frame->engine.end();
    m_painter = frame->outerPainter;
    m_shadow = frame->shadow;
}

int DrawingContext::transparencyLayerDepth() const
{
    return int(m_layers.size());
}

QRectF DrawingContext::deviceRectFor(const QRectF &rect) const
{
    return m_painter->deviceTransform().mapRect(rect);
}

} // namespace platform
