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
    // Width and height the picture has once oriented.
    static bool orientationSwapsSides(int orientation);
};

} // namespace platform
