#pragma once

#include <QPainterPath>
#include <QRect>
#include <QRectF>
#include <QTransform>

#include <functional>
#include <optional>

class QPainter;

namespace platform {

// Paints one drawing on several threads at once, each thread painting a band
// of rows of the target picture through a window on its memory. The window
// reaches a little past the band and a clip keeps the painting inside it, so
// what the rasterizer does at the edge of a picture never shows at a band's
// edge: the result is the very pixels one painter would make.
class ParallelPaint
{
public:
    // `draw` gets a painter that stands for `target` (transform, clip,
    // opacity, composition mode, hints, pen and brush) and the transform from the target's
    // device pixels to those of the band, for drawing code that sets a
    // transform outright. It runs on several threads at once: it may only
    // read what it shares. `area` bounds in device pixels what the drawing
    // touches. Answers false, painting nothing, when the target is not a
    // plain picture in memory or carries a clip that cannot be handed on
    // exactly; the caller then paints as usual. On a thread whose rows run
    // serially (platform::SerialRowsScope) the bands are painted one after
    // the other on `target` itself, each too small for Qt to share it out.
    using Draw = std::function<void(QPainter &painter, const QTransform &deviceToBand)>;
    static bool paint(QPainter &target, const QRect &area, const Draw &draw);

    // On by default; off, paint() always declines (tests draw the one-painter
    // reference so).
    static void setEnabled(bool on);
    static bool isEnabled();

    // When `path` is one axis-aligned rectangle, that rectangle.
    static std::optional<QRectF> rectangularClip(const QPainterPath &path);

    // Below this many pixels a drawing is not worth the threads.
    static constexpr long long kMinPixels = 1 << 18;

private:
    // On a thread that keeps its rows to itself: the drawing in strips of
    // rows, one after the other on `target`.
    static bool paintInStrips(QPainter &target, const QRect &region, const Draw &draw);
};

} // namespace platform
