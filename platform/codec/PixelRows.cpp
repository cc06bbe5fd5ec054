#include "platform/codec/PixelRows.h"

#include <array>
#include <algorithm>
#include <cstring>

namespace platform {

namespace {

enum class Layout { Argb, Rgba };

Layout layoutOf(QImage::Format f)
{
    switch (f) {
    case QImage::Format_RGBA8888_Premultiplied:
    case QImage::Format_RGBA8888:
    case QImage::Format_RGBX8888:
        return Layout::Rgba;
    default:
        return Layout::Argb;
    }
}

bool isPremultiplied(QImage::Format f)
{
    return f == QImage::Format_ARGB32_Premultiplied || f == QImage::Format_RGBA8888_Premultiplied;
}

bool hasAlphaChannel(QImage::Format f)
{
    return f != QImage::Format_RGB32 && f != QImage::Format_RGBX8888;
}

// 65536 * 255 / a, so that c * 255 / a is (c * table[a] + 32768) >> 16.
const std::array<quint32, 256> &unpremultiplyTable()
{
    static const std::array<quint32, 256> table = [] {
        std::array<quint32, 256> t{};
        for (int a = 1; a < 256; ++a)
            t[size_t(a)] = quint32((65536.0 * 255.0) / a + 0.5);
        return t;
    }();
    return table;
}

// One pixel as straight r, g, b, a.
struct Pixel {
    quint32 r, g, b, a;
};

template<Layout L>
inline Pixel load(const uchar *row, int x, bool alpha)
{
    if constexpr (L == Layout::Argb) {
        const quint32 p = reinterpret_cast<const quint32 *>(row)[x];
        return {(p >> 16) & 0xff, (p >> 8) & 0xff, p & 0xff, alpha ? p >> 24 : 255};
    } else {
        const uchar *q = row + 4 * x;
        return {q[0], q[1], q[2], alpha ? quint32(q[3]) : 255};
    }
}

// The pixel laid over white, opaque.
inline Pixel overWhite(Pixel p, bool premultiplied)
{
    if (p.a == 255)
        return p;
    if (!premultiplied) {
        p.r = (p.r * p.a + 127) / 255;
        p.g = (p.g * p.a + 127) / 255;
        p.b = (p.b * p.a + 127) / 255;
    }
    // Premultiplied colour over white: c + (255 - a).
    const quint32 white = 255 - p.a;
    p.r = qMin<quint32>(255, p.r + white);
    p.g = qMin<quint32>(255, p.g + white);
    p.b = qMin<quint32>(255, p.b + white);
    p.a = 255;
    return p;
}

template<Layout L>
void rowOnWhite(const uchar *row, int w, bool alpha, bool premultiplied, uchar *out)
{
    for (int x = 0; x < w; ++x) {
        const Pixel p = overWhite(load<L>(row, x, alpha), premultiplied);
        out[0] = uchar(p.r);
        out[1] = uchar(p.g);
        out[2] = uchar(p.b);
        out += 3;
    }
}

template<Layout L>
void rowRgb(const uchar *row, int w, uchar *out)
{
    for (int x = 0; x < w; ++x) {
        const Pixel p = load<L>(row, x, false);
        out[0] = uchar(p.r);
        out[1] = uchar(p.g);
        out[2] = uchar(p.b);
        out += 3;
    }
}

template<Layout L>
void rowRgba(const uchar *row, int w, bool alpha, bool premultiplied, uchar *out)
{
    const std::array<quint32, 256> &inv = unpremultiplyTable();
    for (int x = 0; x < w; ++x) {
        Pixel p = load<L>(row, x, alpha);
        if (premultiplied && p.a != 255) {
            if (p.a == 0) {
                p.r = p.g = p.b = 0;
            } else {
                const quint32 k = inv[p.a];
                p.r = qMin<quint32>(255, (p.r * k + 32768) >> 16);
                p.g = qMin<quint32>(255, (p.g * k + 32768) >> 16);
                p.b = qMin<quint32>(255, (p.b * k + 32768) >> 16);
            }
        }
        out[0] = uchar(p.r);
        out[1] = uchar(p.g);
        out[2] = uchar(p.b);
        out[3] = uchar(p.a);
        out += 4;
    }
}

template<Layout L>
void rowPlane(const uchar *row, int w, bool alpha, bool premultiplied, int c, bool onWhite, uchar *out)
{
    const std::array<quint32, 256> &inv = unpremultiplyTable();
    for (int x = 0; x < w; ++x) {
        const Pixel p = load<L>(row, x, alpha);
        quint32 v = c == 0 ? p.r : c == 1 ? p.g : c == 2 ? p.b : p.a;
        if (c < 3 && p.a != 255) {
            if (onWhite) {
                if (!premultiplied)
                    v = (v * p.a + 127) / 255;
                v = qMin<quint32>(255, v + 255 - p.a);
            } else if (premultiplied) {
                v = p.a == 0 ? 0 : qMin<quint32>(255, (v * inv[p.a] + 32768) >> 16);
            }
        }
        out[x] = uchar(v);
    }
}

} // namespace

void PixelRows::plane(const QImage &image, int y, int channel, bool onWhite, uchar *out)
{
    const QImage::Format f = image.format();
    const uchar *row = image.constScanLine(y);
    if (layoutOf(f) == Layout::Rgba)
        rowPlane<Layout::Rgba>(row, image.width(), hasAlphaChannel(f), isPremultiplied(f), channel, onWhite, out);
    else
        rowPlane<Layout::Argb>(row, image.width(), hasAlphaChannel(f), isPremultiplied(f), channel, onWhite, out);
}

bool PixelRows::isRgbaLayout(QImage::Format format)
{
    return layoutOf(format) == Layout::Rgba;
}

bool PixelRows::isRowOpaque(const QImage &image, int y)
{
    return isSpanOpaque(image, y, 0, image.width());
}

bool PixelRows::isSpanOpaque(const QImage &image, int y, int from, int to)
{
    const QImage::Format f = image.format();
    if (!hasAlphaChannel(f))
        return true;
    const int w = std::min(to, image.width());
    const uchar *row = image.constScanLine(y);
    // In runs the compiler can widen, stopping at the first run with a
    // transparent pixel: a framed picture's rows mostly have one near their start.
    constexpr int kRun = 64;
    if (layoutOf(f) == Layout::Rgba) {
        for (int x = std::max(0, from); x < w; x += kRun) {
            uchar all = 0xff;
            for (int i = x, end = std::min(w, x + kRun); i < end; ++i)
                all &= row[4 * i + 3];
            if (all != 0xff)
                return false;
        }
        return true;
    }
    // Two pixels a word, four words a step: the alpha bytes sit at the top
    // of each 32-bit half.
    const quint32 *p = reinterpret_cast<const quint32 *>(row);
    int x = std::max(0, from);
    for (; x + kRun <= w; x += kRun) {
        quint64 a = ~quint64(0), b = a, c = a, d = a;
        for (int i = x; i < x + kRun; i += 8) {
            quint64 v[4];
            std::memcpy(v, p + i, sizeof v);
            a &= v[0];
            b &= v[1];
            c &= v[2];
            d &= v[3];
        }
        if (((a & b & c & d) & 0xff000000ff000000ull) != 0xff000000ff000000ull)
            return false;
    }
    quint32 all = 0xff000000u;
    for (; x < w; ++x)
        all &= p[x];
    return (all >> 24) == 0xff;
}

void PixelRows::flattenOntoWhite32(const QImage &image, int y, uchar *out)
{
    const QImage::Format f = image.format();
    const bool premultiplied = isPremultiplied(f);
    const bool alpha = hasAlphaChannel(f);
    const bool rgba = layoutOf(f) == Layout::Rgba;
    const int w = image.width();
    const uchar *row = image.constScanLine(y);
    if (f == QImage::Format_ARGB32_Premultiplied) {
        // The drawing buffer's own layout, in one branch-free pass the
        // compiler can widen: colour + (255 - alpha) in each channel.
        const quint32 *__restrict in = reinterpret_cast<const quint32 *>(row);
        quint32 *__restrict to = reinterpret_cast<quint32 *>(out);
        for (int x = 0; x < w; ++x) {
            const quint32 v = in[x];
            const quint32 white = 255 - (v >> 24);
            const quint32 r = std::min<quint32>(255, ((v >> 16) & 0xff) + white);
            const quint32 g = std::min<quint32>(255, ((v >> 8) & 0xff) + white);
            const quint32 b = std::min<quint32>(255, (v & 0xff) + white);
            to[x] = 0xff000000u | (r << 16) | (g << 8) | b;
        }
        return;
    }
    for (int x = 0; x < w; ++x) {
        const Pixel p =
            overWhite(rgba ? load<Layout::Rgba>(row, x, alpha) : load<Layout::Argb>(row, x, alpha), premultiplied);
        if (rgba) {
            out[0] = uchar(p.r);
            out[1] = uchar(p.g);
            out[2] = uchar(p.b);
            out[3] = 255;
        } else {
            // 0xAARRGGBB in the machine's own byte order, as the picture keeps it.
            const quint32 v = 0xff000000u | (p.r << 16) | (p.g << 8) | p.b;
            std::memcpy(out, &v, 4);
        }
        out += 4;
    }
}

bool PixelRows::isSupported(QImage::Format format)
{
    switch (format) {
    case QImage::Format_ARGB32_Premultiplied:
    case QImage::Format_ARGB32:
    case QImage::Format_RGB32:
    case QImage::Format_RGBA8888_Premultiplied:
    case QImage::Format_RGBA8888:
    case QImage::Format_RGBX8888:
        return true;
    default:
        return false;
    }
}

bool PixelRows::hasTransparency(const QImage &image)
{
    if (!hasAlphaChannel(image.format()))
        return false;
    for (int y = 0; y < image.height(); ++y) {
        if (!isRowOpaque(image, y))
            return true;
    }
    return false;
}

void PixelRows::rgbOnWhite(const QImage &image, int y, uchar *out)
{
    const QImage::Format f = image.format();
    const uchar *row = image.constScanLine(y);
    if (layoutOf(f) == Layout::Rgba)
        rowOnWhite<Layout::Rgba>(row, image.width(), hasAlphaChannel(f), isPremultiplied(f), out);
    else
        rowOnWhite<Layout::Argb>(row, image.width(), hasAlphaChannel(f), isPremultiplied(f), out);
}

void PixelRows::rgb(const QImage &image, int y, uchar *out)
{
    const uchar *row = image.constScanLine(y);
    if (layoutOf(image.format()) == Layout::Rgba)
        rowRgb<Layout::Rgba>(row, image.width(), out);
    else
        rowRgb<Layout::Argb>(row, image.width(), out);
}

void PixelRows::rgba(const QImage &image, int y, uchar *out)
{
    const QImage::Format f = image.format();
    const uchar *row = image.constScanLine(y);
    if (layoutOf(f) == Layout::Rgba)
        rowRgba<Layout::Rgba>(row, image.width(), hasAlphaChannel(f), isPremultiplied(f), out);
    else
        rowRgba<Layout::Argb>(row, image.width(), hasAlphaChannel(f), isPremultiplied(f), out);
}

} // namespace platform
