#include "platform/imaging/ParallelRows.h"
#include "platform/render/ParallelPaint.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <QPainterPath>

#include <random>

using platform::ParallelPaint;

namespace {

QImage noise(int w, int h, unsigned seed, bool opaque)
{
    QImage image(w, h, QImage::Format_ARGB32_Premultiplied);
    std::mt19937 rng(seed);
    for (int y = 0; y < h; ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < w; ++x) {
            const int a = opaque ? 255 : int(rng() % 256);
            line[x] = qPremultiply(qRgba(int(rng() % 256), int(rng() % 256), int(rng() % 256), a));
        }
    }
    return image;
}

// A painter set up as the design draws: y-up, anti-aliased, smooth pictures,
// a clip rect with fractional edges.
void prepare(QPainter &p, int height, QPainter::CompositionMode mode, double opacity)
{
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setRenderHint(QPainter::SmoothPixmapTransform, true);
    p.setWorldTransform(QTransform(1, 0, 0, -1, 0, height));
    p.setClipRect(QRectF(3.4, 7.52, 690.3, 583.7));
    p.setCompositionMode(mode);
    p.setOpacity(opacity);
}

// A mitred strip of tiles at their own size, shapes with fractional edges,
// the tile drawn upside down, and a picture placed at whole pixels with its
// transform set outright. (Pictures drawn scaled, and tiles reflected under
// a clip, are sampled from where each band starts and may differ in rounding.)
void drawScene(QPainter &p, const QTransform &deviceToBand, const QImage &tile, const QImage &group)
{
    QPainterPath mitre;
    mitre.addPolygon(QPolygonF({QPointF(10, 10), QPointF(11, 10), QPointF(210, 209.4), QPointF(210, 420.6),
                                QPointF(11, 620), QPointF(10, 620)}));
    mitre.closeSubpath();
    p.save();
    p.setClipPath(mitre, p.hasClipping() ? Qt::IntersectClip : Qt::ReplaceClip);
    for (int k = 0; k < 4; ++k) {
        p.save();
        const double start = 10 + 190.0 * k;
        p.translate(0, start + 190);
        p.scale(1, -1);
        p.drawImage(QRectF(10, 0, 200, 190), tile);
        p.restore();
    }
    p.restore();
    p.fillRect(QRectF(300.3, 100.6, 200.5, 81.2), QColor(20, 120, 220, 140));
    p.drawEllipse(QRectF(320.5, 250.25, 180, 130));
    p.drawImage(QRectF(480, 240, 200, 190), tile);
    p.save();
    p.setWorldTransform(deviceToBand);
    p.drawImage(QPointF(400, 300), group);
    p.restore();
}

} // namespace

TEST(ParallelPaintBands, GiveThePixelsOfOnePainterInEveryMode)
{
    const QImage background = noise(700, 640, 1, false);
    const QImage tile = noise(200, 190, 2, true);
    const QImage group = noise(250, 200, 3, false);
    for (auto mode : {QPainter::CompositionMode_SourceOver, QPainter::CompositionMode_DestinationOut}) {
        for (double opacity : {1.0, 0.7}) {
            QImage one = background.copy();
            {
                QPainter p(&one);
                prepare(p, one.height(), mode, opacity);
                drawScene(p, QTransform(), tile, group);
            }
            QImage bands = background.copy();
            {
                QPainter p(&bands);
                prepare(p, bands.height(), mode, opacity);
                ASSERT_TRUE(ParallelPaint::paint(p, QRect(0, 0, 700, 640), [&](QPainter &band, const QTransform &shift) {
                    drawScene(band, shift, tile, group);
                }));
            }
            EXPECT_TRUE(one == bands) << "mode " << int(mode) << " opacity " << opacity;
        }
    }
}

TEST(ParallelPaintBands, OnASerialThreadAreStripsOfTheTargetItselfUnderAnyClip)
{
    const QImage background = noise(700, 640, 1, false);
    const QImage tile = noise(200, 190, 2, true);
    const QImage group = noise(250, 200, 3, false);
    QPainterPath round;
    round.addEllipse(QRectF(20.5, 30.25, 600, 560));
    for (bool roundClip : {false, true}) {
        const auto setUp = [&](QPainter &p) {
            prepare(p, 640, QPainter::CompositionMode_SourceOver, 1.0);
            if (roundClip)
                p.setClipPath(round, Qt::IntersectClip);
        };
        QImage one = background.copy();
        {
            QPainter p(&one);
            setUp(p);
            drawScene(p, QTransform(), tile, group);
        }
        QImage strips = background.copy();
        {
            const platform::SerialRowsScope serial;
            QPainter p(&strips);
            setUp(p);
            ASSERT_TRUE(ParallelPaint::paint(p, QRect(0, 0, 700, 640), [&](QPainter &band, const QTransform &shift) {
                EXPECT_TRUE(shift.isIdentity());
                drawScene(band, shift, tile, group);
            }));
        }
        EXPECT_TRUE(one == strips) << "round clip " << roundClip;
    }
}

TEST(ParallelPaintBands, DeclineWhatTheyCannotHandOnExactly)
{
    const QImage background = noise(600, 600, 4, true);
    auto paintsIn = [](QImage &image, const std::function<void(QPainter &)> &setup) {
        QPainter p(&image);
        setup(p);
        return ParallelPaint::paint(p, image.rect(), [](QPainter &band, const QTransform &) {
            band.fillRect(QRectF(0, 0, 600, 600), Qt::red);
        });
    };
    QImage image = background.copy();
    // A clip that is no rectangle.
    EXPECT_FALSE(paintsIn(image, [](QPainter &p) {
        QPainterPath round;
        round.addEllipse(QRectF(10, 10, 500, 500));
        p.setClipPath(round);
    }));
    // A picture of another pixel ratio.
    QImage retina = background.copy();
    retina.setDevicePixelRatio(2);
    EXPECT_FALSE(paintsIn(retina, [](QPainter &) {}));
    // Turned off.
    ParallelPaint::setEnabled(false);
    EXPECT_FALSE(paintsIn(image, [](QPainter &) {}));
    ParallelPaint::setEnabled(true);
    EXPECT_TRUE(image == background);
    // Too small to be worth the threads.
    QImage small = noise(100, 100, 5, true);
    const QImage smallBefore = small.copy();
    EXPECT_FALSE(paintsIn(small, [](QPainter &) {}));
    EXPECT_TRUE(small == smallBefore);
    // An area outside the picture: nothing to do, and nothing done.
    {
        QPainter p(&image);
        EXPECT_TRUE(ParallelPaint::paint(p, QRect(700, 700, 50, 50), [](QPainter &band, const QTransform &) {
            band.fillRect(QRectF(0, 0, 600, 600), Qt::red);
        }));
    }
    EXPECT_TRUE(image == background);
}
