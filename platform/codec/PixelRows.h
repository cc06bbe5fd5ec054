#pragma once

#include <QImage>

namespace platform {

// Reads one row of a rendered picture at a time in the byte layouts the
// encoders want, so no second copy of the picture is ever made. Reads
// premultiplied ARGB32 (the drawing buffer), premultiplied RGBA (the export
// bitmap) and their straight and opaque variants.
class PixelRows
{
public:
    static bool isSupported(QImage::Format format);

    // Any pixel that is not fully opaque (a format without alpha has none).
    static bool hasTransparency(const QImage &image);

    // R, G, B: transparent parts laid onto white.
    static void rgbOnWhite(const QImage &image, int y, uchar *out);
    // R, G, B (alpha ignored: for opaque pictures).
    static void rgb(const QImage &image, int y, uchar *out);
    // R, G, B, A with straight (unpremultiplied) colour.
    static void rgba(const QImage &image, int y, uchar *out);
    // Four bytes a pixel in memory order R, G, B, A/X (else B, G, R, A/X on
    // a little-endian machine).
    static bool isRgbaLayout(QImage::Format format);
    static bool is32BitPixels(QImage::Format format) { return isSupported(format); }
    static bool isRowOpaque(const QImage &image, int y);
    // Pixels [from, to) of row `y`.
    static bool isSpanOpaque(const QImage &image, int y, int from, int to);
    // The row in its own 32-bit layout, laid onto white, the fourth byte 255.
    static void flattenOntoWhite32(const QImage &image, int y, uchar *out);
    // One plane of a row: channel 0..2 (R, G, B) straight or laid onto
    // white, 3 the alpha.
    static void plane(const QImage &image, int y, int channel, bool onWhite, uchar *out);
};

} // namespace platform
