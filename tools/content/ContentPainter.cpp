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
double profile(double t, bool gilt)
{
    const double ridge = 0.75 + 0.25 * std::cos(t * 6.2831853 * (gilt ? 2.0 : 1.0));
    const double edge = t < 0.08 ? 0.7 + t * 3.0 : (t > 0.92 ? 0.6 + (1 - t) * 4.0 : 1.0);
    return ridge * edge;
}

QImage blank(QSize size)
{
    QImage image(size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    return image;
}

} // namespace

QImage woodMoulding(int length, int depth, QColor base, std::uint32_t seed, bool gilt)
{
    QImage image(length, depth, QImage::Format_ARGB32);
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> jitter(0.0, 1.0);
    // Grain lines run along the length; a few phases give them waves.
    const double phase1 = jitter(rng) * 6.28, phase2 = jitter(rng) * 6.28;
    std::vector<double> rowNoise(depth);
    for (double &n : rowNoise)
        n = 0.9 + 0.1 * jitter(rng);
    for (int y = 0; y < depth; ++y) {
        const double t = double(y) / std::max(1, depth - 1);
        const double p = profile(t, gilt);
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < length; ++x) {
            double f = p * rowNoise[y];
            if (gilt) {
                f *= 0.85 + 0.15 * std::sin(x * 0.21 + phase1) * std::cos(y * 0.4);
            } else {
                const double grain = std::sin((y + 3.0 * std::sin(x * 0.013 + phase1)) * 0.9 + phase2);
                f *= 0.82 + 0.12 * grain;
            }
            line[x] = shade(base, f).rgba();
        }
    }
    return image;
}

QImage galleryMoulding(int length, int depth, QColor base)
{
    QImage image(length, depth, QImage::Format_ARGB32);
    for (int y = 0; y < depth; ++y) {
        const double t = double(y) / std::max(1, depth - 1);
        const double f = t < 0.15 ? 1.15 : (t > 0.85 ? 0.8 : 1.0);
        const QRgb c = shade(base, f).rgba();
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        std::fill(line, line + length, c);
    }
    return image;
}

QImage ornateMoulding(int length, int depth, QColor base, std::uint32_t seed)
{
    QImage image = woodMoulding(length, depth, base, seed, true);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    // A row of beads along the outer third.
    const double r = depth * 0.09;
    for (double x = r; x < length; x += r * 2.6) {
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

QImage ornateCorner(int side, QColor base, std::uint32_t seed)
{
    QImage image = woodMoulding(side, side, base, seed, true);
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
