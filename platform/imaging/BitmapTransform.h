#pragma once

#include <QImage>

namespace platform {

// Quarter turns and mirrors of 32-bit pictures, done in cache-friendly tiles
// and on several threads for large pictures.
class BitmapTransform
{
public:
    // The picture as it should be shown for an EXIF orientation 1 to 8 (all
    // eight, mirrored ones included). Other values answer the picture as is.
    static QImage applyExifOrientation(const QImage &image, int orientation);
    // Turned clockwise by `turns` quarter turns (taken modulo 4).
    static QImage rotateClockwise(const QImage &image, int turns);
    // Whether the orientation exchanges width and height.
    static bool orientationSwapsSides(int orientation);
    // Scaled to width x height (premultiplied 32-bit result): area averaging
    // for strong reductions, bilinear on several threads otherwise (Qt's own
    // smooth scaling near 1:1 or upwards runs on one thread and takes over a
    // second for a 24 MP photo). Null when memory is short.
    static QImage scaled(const QImage &image, int width, int height);
};

} // namespace platform
