#pragma once

#include <QByteArray>
#include <QColorSpace>
#include <QImage>
#include <QPainter>
#include <QPointF>
#include <QRectF>
#include <QSizeF>
#include <QString>

#include <functional>

// Conversions and drawing shortcuts for pictures that the design model and
// the tools share. A picture is a QImage; one made by `imageWithSize` also
// remembers the size it was asked for in points (`size`), which may hold
// fractions its whole-pixel bitmap cannot.
namespace VLKit {

// A picture ready for drawing (premultiplied 32-bit); null when there is none.
QImage newCGImage(const QImage &image);
// The same from encoded picture data; null when the data cannot be decoded.
QImage newCGImageFromData(const QByteArray &data);

QByteArray pngData(const QImage &image);
// JPEG at a quality 0 to 1; transparency is flattened onto white.
QByteArray jpgDataWithCompression(const QImage &image, double factor);
// Writes pngData atomically; a failed write is silent.
void saveAsPNGAtPath(const QImage &image, const QString &path);

// Runs `drawingBlock` with a drawing context on a new transparent bitmap of
// the size truncated to whole pixels (one point, one pixel, origin at the
// bottom left). Null when the colour space is not usable.
QImage imageWithSize(const QSizeF &size, const QColorSpace &colorSpace, const std::function<void()> &drawingBlock);

// The size in points: the size asked of imageWithSize, else the pixel size.
QSizeF size(const QImage &image);
QRectF vl_bounds(const QImage &image);

// Draws the whole picture at its own size centred on the point, in the
// current drawing context, with the composition mode and opacity given.
void drawCenteredOnPoint(const QImage &image, const QPointF &point, QPainter::CompositionMode operation,
                         double fraction);

} // namespace VLKit
