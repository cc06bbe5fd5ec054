#pragma once

// Two mouldings round a photo, drawn as an export draws them: pictures with
// wood-like grain, a see-through knot, colour settings, shadows. Everything
// is made from fixed seeds, so the pixels of a render are known in advance.

#include "design/KTMoldingFrameLayer.h"

#include <QColor>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>

#include <algorithm>
#include <random>

namespace mouldingscene {

constexpr int kPhotoWidth = 1200;
constexpr int kPhotoHeight = 800;

// Streaks along the long side with noise; an optional half-transparent knot.
inline QImage grain(int w, int h, QColor base, unsigned seed, bool knot)
{
    QImage image(w, h, QImage::Format_ARGB32);
    std::mt19937 rng(seed);
    const bool alongX = w > h;
    for (int y = 0; y < h; ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < w; ++x) {
            const int across = alongX ? y : x;
            const int span = alongX ? h : w;
            const int streak = int(((across * 7) % 23) + 40 * across / span) + int(rng() % 21) - 10;
            line[x] = qRgb(std::clamp(base.red() + streak, 0, 255), std::clamp(base.green() + streak, 0, 255),
                           std::clamp(base.blue() + streak, 0, 255));
        }
    }
    if (knot) {
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing, true);
        p.setCompositionMode(QPainter::CompositionMode_Source);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(60, 30, 10, 110));
        p.drawEllipse(QRectF(w * 0.3, h * 0.4, w * 0.35, h * 0.12));
    }
    return image;
}

inline QImage photo()
{
    QImage image(kPhotoWidth, kPhotoHeight, QImage::Format_RGB32);
    QPainter p(&image);
    QLinearGradient sky(0, 0, 0, kPhotoHeight);
    sky.setColorAt(0, QColor(70, 120, 190));
    sky.setColorAt(1, QColor(60, 80, 40));
    p.fillRect(image.rect(), sky);
    p.end();
    std::mt19937 rng(7);
    for (int y = 0; y < kPhotoHeight; ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < kPhotoWidth; x += 3) {
            const int n = int(rng() % 13) - 6;
            const QRgb v = line[x];
            line[x] = qRgb(std::clamp(qRed(v) + n, 0, 255), std::clamp(qGreen(v) + n, 0, 255),
                           std::clamp(qBlue(v) + n, 0, 255));
        }
    }
    return image;
}

// Side pictures by attribute: left, top, right, bottom.
inline QImage side(int which)
{
    switch (which) {
    case 0: return grain(60, 240, QColor(110, 70, 35), 1, true);
    case 1: return grain(240, 60, QColor(100, 65, 30), 2, false);
    case 2: return grain(60, 240, QColor(115, 75, 40), 3, false);
    default: return grain(240, 60, QColor(105, 60, 35), 4, true);
    }
}

// Scene 0: saturation and exposure, wide enough that an export draws its
// sides in bands. Scene 1 (a frame with "Mirror images"): colourised, turned
// a quarter, see-through.
inline void applySettings(KTMoldingFrameLayer &layer, int scene)
{
    layer.setFrameWidth(0.3);
    if (scene == 0) {
        layer.setSaturationShift(0.6);
        layer.setLightnessShift(0.4);
    } else {
        layer.setColorizationColor(QColor::fromRgbF(0.9f, 0.6f, 0.3f, 0.7f));
        layer.setColorize(true);
        layer.setRotation(1);
        layer.setOpacity(0.8);
    }
}

// Where to look (pixels, y down, in the 1632 x 1232 render): the mitres at
// the four corners, tile seams on a side and across the top, the shadows on
// the photo below the top side and above the bottom one, the photo itself.
inline const QList<QPoint> &probes()
{
    static const QList<QPoint> points = {
        {100, 100}, {119, 120}, {120, 119}, {1532, 100}, {1512, 119}, {100, 1132}, {119, 1112}, {1531, 1131},
        {1512, 1112}, {120, 271}, {120, 272}, {120, 273}, {30, 900}, {959, 100}, {960, 100}, {961, 30},
        {300, 245}, {300, 252}, {300, 262}, {800, 985}, {800, 975}, {250, 600}, {1385, 600}, {816, 616},
        {150, 700}, {1480, 700}, {700, 1180}, {700, 50}};
    return points;
}

} // namespace mouldingscene
