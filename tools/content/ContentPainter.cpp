#include "ContentPainter.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

namespace ContentPainter {

namespace {

QColor shade(QColor c, double f)
{
    return QColor::fromRgbF(std::clamp(c.redF() * f, 0.0, 1.0), std::clamp(c.greenF() * f, 0.0, 1.0),
                            std::clamp(c.blueF() * f, 0.0, 1.0), c.alphaF());
}

// A bevel profile across the depth: 0 at the outer edge, 1 at the inner.
double profile(double t)
{
    const double ridge = 0.75 + 0.25 * std::cos(t * 6.2831853);
    const double edge = t < 0.08 ? 0.7 + t * 3.0 : (t > 0.92 ? 0.6 + (1 - t) * 4.0 : 1.0);
    return ridge * edge;
}

constexpr double kTwoPi = 6.283185307179586;

// A wave with a whole number of periods in `length`: tiles of it join.
double wave(int x, int length, int cycles, double phase)
{
    return std::sin(kTwoPi * cycles * x / length + phase);
}

// Noise in -1 ... 1, smoothed over about `radius` samples; `wrap` makes the
// last sample run on into the first.
std::vector<double> smoothNoise(int count, int radius, std::mt19937 &rng, bool wrap = false)
{
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    std::vector<double> raw(size_t(std::max(count, 1)));
    for (double &v : raw)
        v = u(rng);
    std::vector<double> out(raw.size());
    const int n = int(raw.size());
    double peak = 1e-9;
    for (int i = 0; i < n; ++i) {
        double sum = 0;
        for (int k = -radius; k <= radius; ++k) {
            const int j = wrap ? ((i + k) % n + n) % n : std::clamp(i + k, 0, n - 1);
            sum += raw[size_t(j)];
        }
        out[size_t(i)] = sum;
        peak = std::max(peak, std::abs(sum));
    }
    for (double &v : out)
        v /= peak;
    return out;
}

QImage blank(QSize size)
{
    QImage image(size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    return image;
}

} // namespace

namespace {

// Colours a relief (heights in pixels, one a pixel, row by row) lit from
// above and a little to the left, with a metallic highlight; `wrap` makes
// the slopes at the left and right ends run on into each other.
void shadeRelief(QImage &image, const std::vector<double> &relief, QColor base, bool wrap,
                 const std::vector<double> *burnish)
{
    const int width = image.width(), height = image.height();
    const auto at = [&](int x, int y) {
        const int xx = wrap ? (x + width) % width : std::clamp(x, 0, width - 1);
        return relief[size_t(std::clamp(y, 0, height - 1)) * size_t(width) + size_t(xx)];
    };
    const double lx = -0.35, ly = -0.75, lz = 0.56;
    const double ln = std::sqrt(lx * lx + ly * ly + lz * lz);
    const double hx = lx / ln, hy = ly / ln, hz = lz / ln + 1.0;
    const double hn = std::sqrt(hx * hx + hy * hy + hz * hz);
    const double br = base.redF() * 255, bg = base.greenF() * 255, bb = base.blueF() * 255;
    const auto channel = [](double v) { return std::clamp(int(v + 0.5), 0, 255); };
    for (int y = 0; y < height; ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const double gx = (at(x + 1, y) - at(x - 1, y)) / 2;
            const double gy = (at(x, y + 1) - at(x, y - 1)) / 2;
            const double nn = std::sqrt(gx * gx + gy * gy + 1);
            const double nx = -gx / nn, ny = -gy / nn, nz = 1 / nn;
            const double diffuse = std::max(0.0, (nx * lx + ny * ly + nz * lz) / ln);
            const double nh = std::max(0.0, (nx * hx + ny * hy + nz * hz) / hn);
            const double n2 = nh * nh, n4 = n2 * n2, n8 = n4 * n4;
            const double spec = 0.55 * n8 * n8 * n8 * n4 * n2 + 0.1 * n4 * nh;
            const double f = (0.3 + 0.85 * diffuse) * (burnish ? 0.93 + 0.07 * (*burnish)[size_t(x)] : 1.0);
            line[x] = qRgb(channel(br * f + 255 * spec), channel(bg * f + 245 * spec), channel(bb * f + 200 * spec));
        }
    }
}

// A gilt moulding as a relief lit from its outer edge: a lip, a cove, a
// twisted rope, a flat and a bead at the sight edge. The rope's twists
// repeat a whole number of times in the length.
QImage giltMoulding(int length, int depth, QColor base, std::uint32_t seed)
{
    QImage image(length, depth, QImage::Format_RGB32);
    std::mt19937 rng(seed);
    const std::vector<double> burnish = smoothNoise(length, std::max(1, length / 40), rng, true);
    const int twists = std::max(1, int(std::lround(length / (0.22 * depth))));
    const double d = std::max(1, depth - 1);
    const auto height = [&](double x, double t) {
        double h;
        if (t < 0.1)
            h = 0.6 + 0.4 * std::sin(1.5707963 * t / 0.1);
        else if (t < 0.34)
            h = 1.0 - 0.45 * std::sin(3.1415927 * (t - 0.1) / 0.24);
        else if (t < 0.62) {
            // Rope: ridges running across the band at a slant.
            const double u = (t - 0.34) / 0.28;
            const double twist = std::abs(std::sin(3.1415927 * (twists * x / length + 1.2 * u)));
            h = 0.75 + 0.25 * std::sqrt(std::max(0.0, std::sin(3.1415927 * u))) * (0.55 + 0.45 * twist);
        } else if (t < 0.82)
            h = 0.7 - 0.05 * (t - 0.62) / 0.2;
        else if (t < 0.94)
            h = 0.65 + 0.18 * std::sin(3.1415927 * (t - 0.82) / 0.12);
        else
            h = 0.65 - 3.0 * (t - 0.94);
        return h * 0.12 * depth; // in pixels
    };
    std::vector<double> relief(static_cast<size_t>(length) * size_t(depth));
    for (int y = 0; y < depth; ++y)
        for (int x = 0; x < length; ++x)
            relief[size_t(y) * size_t(length) + size_t(x)] = height(x, y / d);
    shadeRelief(image, relief, base, true, &burnish);
    return image;
}

} // namespace

QImage woodMoulding(int length, int depth, QColor base, std::uint32_t seed, bool gilt)
{
    if (gilt)
        return giltMoulding(length, depth, base, seed);
    QImage image(length, depth, QImage::Format_RGB32);
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> jitter(0.0, 1.0);
    double phases[6];
    for (double &ph : phases)
        ph = jitter(rng) * kTwoPi;
    // Fibres across the depth: noise smoothed over a few rows, the same at
    // any resolution since it is laid out in fractions of the depth.
    const std::vector<double> fibre = smoothNoise(depth, std::max(1, depth / 160), rng);
    const std::vector<double> ring = smoothNoise(depth, std::max(1, depth / 12), rng);
    // A little noise along the length too, repeating with the picture.
    const std::vector<double> along = smoothNoise(length, std::max(1, length / 300), rng, true);
    // What depends on the position along the length alone, once per column.
    std::vector<double> warp(static_cast<size_t>(length));
    for (int x = 0; x < length; ++x) {
        warp[size_t(x)] = 0.035 * wave(x, length, 1, phases[1]) + 0.02 * wave(x, length, 2, phases[2])
                          + 0.008 * wave(x, length, 5, phases[3]);
    }
    const double br = base.redF() * 255, bg = base.greenF() * 255, bb = base.blueF() * 255;
    const auto channel = [](double v) { return std::clamp(int(v + 0.5), 0, 255); };
    const double d = std::max(1, depth - 1);
    for (int y = 0; y < depth; ++y) {
        const double t = y / d;
        const double p = profile(t) * (0.94 + 0.06 * fibre[size_t(y)]);
        const double meander = 0.7 + 0.3 * std::sin(t * 9 + phases[4]);
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < length; ++x) {
            // Grain lines along the length, wandering with waves that
            // repeat a whole number of times in the picture's length.
            const double g = (t + warp[size_t(x)] * meander) * 11.0 + 0.8 * ring[size_t(y)];
            const double c = 0.5 + 0.5 * std::cos(g * kTwoPi);
            const double f = p * (0.9 - 0.16 * c * c * c + 0.025 * along[size_t(x)] * fibre[size_t(y)]);
            line[x] = qRgb(channel(br * f), channel(bg * f), channel(bb * f));
        }
    }
    return image;
}

QImage galleryMoulding(int length, int depth, QColor base, Side side, double brushed)
{
    const bool vertical = side == Side::Left || side == Side::Right;
    QImage image(vertical ? depth : length, vertical ? length : depth, QImage::Format_RGB32);
    // The direction from the outer edge inwards, on the screen (y down).
    const QPointF inward = side == Side::Top ? QPointF(0, 1)
                         : side == Side::Bottom ? QPointF(0, -1)
                         : side == Side::Left ? QPointF(1, 0) : QPointF(-1, 0);
    // A rounded lip, a flat face, a bevel down to a step at the photo.
    const auto height = [](double t) {
        if (t < 0.18)
            return 0.25 + 0.75 * std::sin(1.5707963 * t / 0.18);
        if (t < 0.7)
            return 1.0 - 0.3 * (t - 0.18) / 0.52;
        if (t < 0.8)
            return 0.7 - 2.5 * (t - 0.7);
        if (t < 0.95)
            return 0.45;
        return 0.45 - 2.0 * (t - 0.95);
    };
    // One light for every side, from the top left, so that the sides differ
    // and the mitres show.
    const double lx = -0.5, ly = -0.6, lz = 0.62;
    const double ln = std::sqrt(lx * lx + ly * ly + lz * lz);
    const double hx = lx / ln, hy = ly / ln, hz = lz / ln + 1.0;
    const double hn = std::sqrt(hx * hx + hy * hy + hz * hz);
    std::mt19937 rng(7);
    const std::vector<double> streaks = smoothNoise(depth, 1, rng);
    std::vector<QRgb> across(static_cast<size_t>(depth));
    const double d = std::max(1, depth - 1);
    for (int i = 0; i < depth; ++i) {
        const double t = i / d;
        const double dt = 1.0 / d;
        const double slope = 0.35 * (height(std::min(1.0, t + dt)) - height(std::max(0.0, t - dt))) / (2 * dt);
        double nx = -slope * inward.x(), ny = -slope * inward.y(), nz = 1.0;
        const double nn = std::sqrt(nx * nx + ny * ny + nz * nz);
        nx /= nn, ny /= nn, nz /= nn;
        const double diffuse = std::max(0.0, (nx * lx + ny * ly + nz * lz) / ln);
        const double nh = std::max(0.0, (nx * hx + ny * hy + nz * hz) / hn);
        const double spec = 0.45 * std::pow(nh, 40) + 0.06 * std::pow(nh, 6);
        const double f = (0.35 + 0.75 * diffuse) * (1.0 + brushed * streaks[size_t(i)]);
        const QColor c = shade(base, f);
        across[size_t(i)] = qRgb(std::min(255, int(c.red() + 255 * spec)), std::min(255, int(c.green() + 255 * spec)),
                                 std::min(255, int(c.blue() + 255 * spec)));
    }
    // Constant along the length, so any length joins seamlessly.
    for (int y = 0; y < image.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const int along = vertical ? x : y;
            const int i = side == Side::Top || side == Side::Left ? along : depth - 1 - along;
            line[x] = across[size_t(i)];
        }
    }
    return image;
}

QImage ornateMoulding(int length, int depth, QColor base, std::uint32_t seed)
{
    QImage image = woodMoulding(length, depth, base, seed, true);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    // A row of beads along the outer third, a whole number of them in the
    // length so that the row runs on across tiles.
    const double r = depth * 0.09;
    const int beads = std::max(1, int(std::lround(length / (r * 2.6))));
    const double spacing = double(length) / beads;
    for (int i = 0; i < beads; ++i) {
        const double x = (i + 0.5) * spacing;
        QRadialGradient g(QPointF(x - r * 0.3, depth * 0.22 - r * 0.3), r * 1.2);
        g.setColorAt(0, shade(base, 1.5));
        g.setColorAt(1, shade(base, 0.6));
        p.setBrush(g);
        p.setPen(Qt::NoPen);
        p.drawEllipse(QPointF(x, depth * 0.22), r, r);
    }
    p.setPen(QPen(shade(base, 0.5), std::max(1.0, depth * 0.03)));
    p.drawLine(QPointF(0, depth * 0.62), QPointF(length, depth * 0.62));
    return image;
}

QImage ornateCorner(int side, QColor base, std::uint32_t)
{
    // A square block of its own at each corner: a bevelled plaque with a
    // groove round a flat panel, lit as the sides are.
    QImage image(side, side, QImage::Format_RGB32);
    std::vector<double> relief(size_t(side) * size_t(side));
    for (int y = 0; y < side; ++y)
        for (int x = 0; x < side; ++x) {
            const double e = std::min({x, y, side - 1 - x, side - 1 - y}) / double(side);
            const double h = e < 0.1 ? std::sin(1.5707963 * e / 0.1) : e < 0.15 ? 1.0 : e < 0.19 ? 0.7 : 0.85;
            relief[size_t(y) * size_t(side) + size_t(x)] = h * 0.08 * side;
        }
    shadeRelief(image, relief, base, false, nullptr);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const QPointF c(side / 2.0, side / 2.0);
    // A rosette: the same from every side, so the corners need no turning.
    for (int i = 0; i < 8; ++i) {
        p.save();
        p.translate(c);
        p.rotate(i * 45.0);
        QPainterPath petal;
        petal.moveTo(0, 0);
        petal.cubicTo(side * 0.12, -side * 0.1, side * 0.12, -side * 0.32, 0, -side * 0.4);
        petal.cubicTo(-side * 0.12, -side * 0.32, -side * 0.12, -side * 0.1, 0, 0);
        p.setPen(QPen(shade(base, 0.5), 1.2));
        p.setBrush(shade(base, 1.3));
        p.drawPath(petal);
        p.restore();
    }
    QRadialGradient g(c, side * 0.12);
    g.setColorAt(0, shade(base, 1.6));
    g.setColorAt(1, shade(base, 0.7));
    p.setBrush(g);
    p.drawEllipse(c, side * 0.12, side * 0.12);
    return image;
}

QImage deckledPaper(QSize size, std::uint32_t seed)
{
    QImage image = blank(size);
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    const double border = std::min(size.width(), size.height()) * 0.08;
    // The torn inner edge: a ragged polygon around the window.
    QPainterPath window;
    const int steps = 220;
    for (int i = 0; i <= steps; ++i) {
        const double t = double(i) / steps;
        QPointF pt;
        const double w = size.width() - 2 * border, h = size.height() - 2 * border;
        const double perim = 2 * (w + h);
        double d = t * perim;
        if (d < w) pt = {border + d, border};
        else if ((d -= w) < h) pt = {border + w, border + d};
        else if ((d -= h) < w) pt = {border + w - d, border + h};
        else pt = {border, border + h - (d - w)};
        pt += QPointF(u(rng) * border * 0.18, u(rng) * border * 0.18);
        i == 0 ? window.moveTo(pt) : window.lineTo(pt);
    }
    window.closeSubpath();
    QPainterPath sheet;
    sheet.addRect(QRectF(QPointF(0, 0), QSizeF(size)));
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(220, 212, 196), 1.5));
    p.setBrush(QColor(246, 241, 230));
    p.drawPath(sheet.subtracted(window));
    return image;
}

QImage instantPhotoBorder(QSize size)
{
    QImage image = blank(size);
    const double side = size.width() * 0.06;
    QPainterPath sheet;
    sheet.addRect(QRectF(QPointF(0, 0), QSizeF(size)));
    QPainterPath window;
    window.addRect(QRectF(side, side, size.width() - 2 * side, size.height() - side - size.height() * 0.2));
    QPainter p(&image);
    QLinearGradient g(0, 0, 0, size.height());
    g.setColorAt(0, QColor(252, 252, 250));
    g.setColorAt(1, QColor(236, 236, 232));
    p.setPen(Qt::NoPen);
    p.setBrush(g);
    p.drawPath(sheet.subtracted(window));
    return image;
}

QImage roundedCornerMask(QSize size, double radiusFraction)
{
    QImage image = blank(size);
    QPainterPath sheet;
    sheet.addRect(QRectF(QPointF(0, 0), QSizeF(size)));
    QPainterPath window;
    const double r = std::min(size.width(), size.height()) * radiusFraction;
    window.addRoundedRect(QRectF(QPointF(0, 0), QSizeF(size)), r, r);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::black);
    p.drawPath(sheet.subtracted(window));
    return image;
}

QImage ovalVignetteMask(QSize size)
{
    QImage image = blank(size);
    QPainter p(&image);
    // A circle in a square as wide as the picture, squashed to its height.
    const double side = size.width();
    QRadialGradient g(QPointF(side / 2, side / 2), side / 2);
    g.setColorAt(0.0, Qt::transparent);
    g.setColorAt(0.82, Qt::transparent);
    g.setColorAt(1.0, Qt::black);
    p.scale(1.0, double(size.height()) / side);
    p.fillRect(QRectF(0, 0, side, side), g);
    return image;
}

QImage noIcon(int side)
{
    QImage image = blank(QSize(side, side));
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(150, 150, 150), side * 0.08));
    p.setBrush(QColor(235, 235, 235));
    p.drawRect(QRectF(side * 0.12, side * 0.12, side * 0.76, side * 0.76));
    p.setPen(QPen(QColor(200, 60, 50), side * 0.08, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(side * 0.3, side * 0.3), QPointF(side * 0.7, side * 0.7));
    p.drawLine(QPointF(side * 0.7, side * 0.3), QPointF(side * 0.3, side * 0.7));
    return image;
}

namespace {

QPainter &iconPainter(QPainter &p)
{
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(222, 222, 222), 2.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    return p;
}

} // namespace

QImage framesIcon(int side)
{
    QImage image = blank(QSize(side, side));
    QPainter p(&image);
    iconPainter(p);
    const double s = side;
    const QRectF outer(s * 0.14, s * 0.14, s * 0.72, s * 0.72);
    const QRectF inner = outer.adjusted(s * 0.17, s * 0.17, -s * 0.17, -s * 0.17);
    p.setBrush(QColor(222, 222, 222, 60));
    p.drawRect(outer);
    p.setBrush(QColor(40, 40, 42, 200));
    p.drawRect(inner);
    // The four mitres.
    p.drawLine(outer.topLeft(), inner.topLeft());
    p.drawLine(outer.topRight(), inner.topRight());
    p.drawLine(outer.bottomLeft(), inner.bottomLeft());
    p.drawLine(outer.bottomRight(), inner.bottomRight());
    return image;
}

QImage favoritesIcon(int side)
{
    QImage image = blank(QSize(side, side));
    QPainter p(&image);
    iconPainter(p);
    const QPointF c(side / 2.0, side * 0.53);
    QPolygonF star;
    for (int i = 0; i < 10; ++i) {
        const double r = (i % 2 == 0 ? 0.38 : 0.16) * side;
        const double a = -1.5707963 + i * 3.1415927 / 5;
        star << c + QPointF(std::cos(a) * r, std::sin(a) * r);
    }
    p.setBrush(QColor(222, 222, 222, 60));
    p.drawPolygon(star);
    return image;
}

QImage recentIcon(int side)
{
    QImage image = blank(QSize(side, side));
    QPainter p(&image);
    iconPainter(p);
    const QPointF c(side / 2.0, side / 2.0);
    p.setBrush(QColor(222, 222, 222, 60));
    p.drawEllipse(c, side * 0.36, side * 0.36);
    // Hands at ten past ten.
    p.drawLine(c, c + QPointF(0, -side * 0.24));
    p.drawLine(c, c + QPointF(side * 0.17, side * 0.08));
    return image;
}

QImage overlayPlaceholder(int side)
{
    QImage image = blank(QSize(side, side));
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(255, 255, 255, 220), side * 0.04, Qt::DashLine));
    p.setBrush(QColor(0, 0, 0, 60));
    p.drawRoundedRect(QRectF(side * 0.05, side * 0.05, side * 0.9, side * 0.9), side * 0.08, side * 0.08);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255, 200));
    QPainterPath hills;
    hills.moveTo(side * 0.2, side * 0.72);
    hills.lineTo(side * 0.42, side * 0.42);
    hills.lineTo(side * 0.56, side * 0.6);
    hills.lineTo(side * 0.66, side * 0.5);
    hills.lineTo(side * 0.8, side * 0.72);
    hills.closeSubpath();
    p.drawPath(hills);
    p.drawEllipse(QPointF(side * 0.68, side * 0.3), side * 0.07, side * 0.07);
    return image;
}

QImage startupPicture(QSize size, std::uint32_t seed)
{
    QImage image(size, QImage::Format_RGB32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient sky(0, 0, 0, size.height());
    sky.setColorAt(0, QColor(70, 120, 190));
    sky.setColorAt(0.6, QColor(240, 190, 140));
    sky.setColorAt(1, QColor(250, 220, 170));
    p.fillRect(image.rect(), sky);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 236, 180));
    p.drawEllipse(QPointF(size.width() * 0.7, size.height() * 0.45), size.height() * 0.08, size.height() * 0.08);
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    const QColor ranges[] = {QColor(90, 100, 140), QColor(60, 80, 100), QColor(40, 60, 60)};
    for (int layer = 0; layer < 3; ++layer) {
        QPainterPath ridge;
        const double baseY = size.height() * (0.55 + layer * 0.12);
        ridge.moveTo(0, size.height());
        ridge.lineTo(0, baseY);
        for (int i = 1; i <= 12; ++i)
            ridge.lineTo(size.width() * i / 12.0, baseY - u(rng) * size.height() * 0.12);
        ridge.lineTo(size.width(), size.height());
        ridge.closeSubpath();
        p.setBrush(ranges[layer]);
        p.drawPath(ridge);
    }
    return image;
}

QImage samplePhoto(QSize size, std::uint32_t seed)
{
    return startupPicture(size, seed);
}

} // namespace ContentPainter
