#include "platform/render/UntouchedPixels.h"

#include "platform/imaging/PhotoRows.h"

#include <algorithm>
#include <cmath>
#include <mutex>
#include <vector>

namespace platform {

namespace {

// A rectangle of fully transparent pixels round the middle of `image`, grown
// a row or column at a time while the next one is clear too; empty when the
// middle pixel is not clear. A frame's picture or a shadow enlarged over a
// whole canvas is mostly such a hole, and painting it changes nothing.
QRect clearMiddle(const QImage &image)
{
    if (image.format() != QImage::Format_ARGB32_Premultiplied && image.format() != QImage::Format_ARGB32)
        return {};
    const int w = image.width();
    const int h = image.height();
    // Straight at the pixels.
    const uchar *bits = image.constBits();
    const qsizetype bpl = image.bytesPerLine();
    const auto pixels = [bits, bpl](int y) { return reinterpret_cast<const QRgb *>(bits + y * bpl); };
    if (w < 8 || h < 8 || qAlpha(pixels(h / 2)[w / 2]) != 0)
        return {};
    const int mid = w / 2;
    // The clear run through the middle column of each row, looked for once:
    // a column or row next to the rectangle is clear exactly when every row
    // it spans has a run reaching it, so each step of the growth is a few
    // comparisons instead of a pass over an edge (columns read across rows
    // are slow to read).
    std::vector<int> runLeft(size_t(h), -1), runRight(size_t(h), -1);
    const auto run = [&](int y) {
        if (runLeft[size_t(y)] < 0) {
            const QRgb *row = pixels(y);
            int l = mid, r = mid;
            if (qAlpha(row[mid]) != 0) {
                l = mid + 1; // no run: no column reaches it
                r = mid - 1;
            } else {
                while (l > 0 && qAlpha(row[l - 1]) == 0)
                    --l;
                while (r < w - 1 && qAlpha(row[r + 1]) == 0)
                    ++r;
            }
            runLeft[size_t(y)] = l;
            runRight[size_t(y)] = r;
        }
    };
    int left = mid, right = mid, top = h / 2, bottom = h / 2;
    run(top);
    // The furthest any row of the rectangle lets it grow either way.
    int reachLeft = runLeft[size_t(top)], reachRight = runRight[size_t(top)];
    const auto rowClear = [&](int y) {
        run(y);
        return runLeft[size_t(y)] <= left && runRight[size_t(y)] >= right;
    };
    const auto takeRow = [&](int y) {
        reachLeft = std::max(reachLeft, runLeft[size_t(y)]);
        reachRight = std::min(reachRight, runRight[size_t(y)]);
    };
    for (bool grew = true; grew;) {
        grew = false;
        if (left > 0 && reachLeft <= left - 1) {
            --left;
            grew = true;
        }
        if (right < w - 1 && reachRight >= right + 1) {
            ++right;
            grew = true;
        }
        if (top > 0 && rowClear(top - 1)) {
            --top;
            takeRow(top);
            grew = true;
        }
        if (bottom < h - 1 && rowClear(bottom + 1)) {
            ++bottom;
            takeRow(bottom);
            grew = true;
        }
    }
    return QRect(QPoint(left, top), QPoint(right, bottom));
}

// The clear middle of `part` of a picture, looked for once per picture
// large enough for the search to cost: a frame's picture enlarged over the
// canvas is drawn again in every band. Pictures are told apart by Qt's key
// for their contents, which changes as they are written; a photo's rows
// decoded as drawn come later, so it is searched each time.
QRect clearMiddleOf(const QImage &image, const QRect &part)
{
    struct Found {
        qint64 key;
        QRect part;
        QRect hole;
    };
    static std::mutex mutex;
    static std::vector<Found> found; // the last one used last
    constexpr size_t kKept = 8;
    const bool keep = qint64(part.width()) * part.height() >= (1 << 20) && !PhotoRows::of(image);
    const qint64 key = image.cacheKey();
    if (keep) {
        const std::lock_guard lock(mutex);
        for (auto it = found.begin(); it != found.end(); ++it) {
            if (it->key == key && it->part == part) {
                const Found hit = *it;
                found.erase(it);
                found.push_back(hit);
                return hit.hole;
            }
        }
    }
    const QRect hole = clearMiddle(part == image.rect() ? image : image.copy(part));
    if (keep) {
        const std::lock_guard lock(mutex);
        if (found.size() >= kKept)
            found.erase(found.begin());
        found.push_back({key, part, hole});
    }
    return hole;
}

// Qt's raster engine blends a row in runs of this many pixels, each run
// placed afresh from the start of the row's span: a run started elsewhere
// rounds its sample positions differently.
constexpr int kBlendRun = 2048;

} // namespace

// The device pixels that `image`, drawn into `rect` (source pixels `source`
// of it) through `transform`, leaves as they are: its clear middle, less
// the pixels a smooth enlargement blends with the picture round it. Empty
// unless the picture is enlarged enough for the search to pay and nothing
// turns it.
Untouched untouchedPixels(const QImage &image, const QRectF &source, const QRectF &rect, const QTransform &transform)
{
    if (transform.type() > QTransform::TxScale || source.isEmpty() || rect.isEmpty())
        return {QRect(), 0};
    const double sx = std::abs(transform.m11()) * rect.width() / source.width();
    const double sy = std::abs(transform.m22()) * rect.height() / source.height();
    if (!(sx >= kHoleMinScale) || !(sy >= kHoleMinScale))
        return {QRect(), 0};
    const QRect part = source.toAlignedRect().intersected(image.rect());
    if (part.isEmpty())
        return {QRect(), 0};
    QRect hole = clearMiddleOf(image, part);
    // A blended pixel reads its nearest source pixel and the next one over.
    hole.adjust(1, 1, -1, -1);
    if (hole.isEmpty())
        return {QRect(), 0};
    hole.translate(part.topLeft());
    const QRectF inRect(rect.x() + (hole.x() - source.x()) * rect.width() / source.width(),
                        rect.y() + (hole.y() - source.y()) * rect.height() / source.height(),
                        hole.width() * rect.width() / source.width(), hole.height() * rect.height() / source.height());
    const QRectF device = transform.mapRect(inRect);
    // Inwards to whole pixels, and a pixel more for rounding.
    const QRect inside(QPoint(int(std::ceil(device.left())) + 1, int(std::ceil(device.top())) + 1),
                       QPoint(int(std::floor(device.right())) - 2, int(std::floor(device.bottom())) - 2));
    const double left = transform.mapRect(rect).left();
    return {inside.isValid() ? inside : QRect(), int(std::ceil(left))};
}

// Paints `draw` over `area` (device pixels) as ParallelPaint does, leaving
// out the hole, where the drawing changes nothing. Only for modes in which
// clear pixels change nothing. What follows the hole on its rows starts
// where a blend run would have started anyway, so its pixels come out the same.
bool paintAround(QPainter &target, const QRect &area, const Untouched &untouched, const ParallelPaint::Draw &draw)
{
    const QPainter::CompositionMode mode = target.compositionMode();
    QRect skip = untouched.hole.intersected(area);
    if (!skip.isEmpty()) {
        // The span starts where the picture, the clip (rounded) and the device do.
        int start = std::max({untouched.rowStart, area.left(), 0});
        if (target.hasClipping())
            start = std::max(start, qRound(target.deviceTransform().mapRect(target.clipBoundingRect()).left()));
        const int runs = (skip.right() + 1 - start) / kBlendRun;
        const int resume = start + runs * kBlendRun;
        if (runs < 1 || resume <= skip.left())
            skip = QRect();
        else
            skip.setRight(resume - 1);
    }
    if (skip.isEmpty() || target.deviceTransform() != target.worldTransform()
        || (mode != QPainter::CompositionMode_SourceOver && mode != QPainter::CompositionMode_DestinationOut))
        return ParallelPaint::paint(target, area, draw);
    const QRect pieces[4] = {QRect(QPoint(area.left(), area.top()), QPoint(area.right(), skip.top() - 1)),
                             QRect(QPoint(area.left(), skip.bottom() + 1), QPoint(area.right(), area.bottom())),
                             QRect(QPoint(area.left(), skip.top()), QPoint(skip.left() - 1, skip.bottom())),
                             QRect(QPoint(skip.right() + 1, skip.top()), QPoint(area.right(), skip.bottom()))};
    for (const QRect &piece : pieces) {
        if (!piece.isValid() || piece.isEmpty() || ParallelPaint::paint(target, piece, draw))
            continue;
        target.save();
        const QTransform world = target.worldTransform();
        target.resetTransform();
        target.setClipRect(piece, target.hasClipping() ? Qt::IntersectClip : Qt::ReplaceClip);
        target.setWorldTransform(world);
        draw(target, QTransform());
        target.restore();
    }
    return true;
}

} // namespace platform
