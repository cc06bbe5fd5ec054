#pragma once

#include "platform/render/ParallelPaint.h"

#include <QImage>
#include <QPainter>
#include <QRect>
#include <QRectF>
#include <QTransform>

namespace platform {

// Where a drawing leaves pixels as they are, and how to paint around them:
// a frame's picture or a shadow enlarged over a whole canvas is mostly a
// clear middle, and painting it changes nothing.

// Pictures enlarged at least this much are worth looking into for a clear middle.
constexpr double kHoleMinScale = 1.5;

struct Untouched {
    QRect hole;   // device pixels
    int rowStart; // where the picture's rows start, in device pixels
};

// The device pixels that `image`, drawn into `rect` (source pixels `source`
// of it) through `transform`, leaves as they are: its clear middle, less
// the pixels a smooth enlargement blends with the picture round it. Empty
// unless the picture is enlarged enough for the search to pay and nothing
// turns it.
Untouched untouchedPixels(const QImage &image, const QRectF &source, const QRectF &rect, const QTransform &transform);

// Paints `draw` over `area` (device pixels) as ParallelPaint does, leaving
// out the hole, where the drawing changes nothing. Only for modes in which
// clear pixels change nothing. What follows the hole on its rows starts
// where a blend run would have started anyway, so its pixels come out the same.
bool paintAround(QPainter &target, const QRect &area, const Untouched &untouched, const ParallelPaint::Draw &draw);

} // namespace platform
