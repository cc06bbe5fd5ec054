#include "platform/render/AlphaBlur.h"
#include "platform/render/TransparencyLayer.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

using platform::AlphaBlur;
using platform::Shadow;
using platform::TransparencyLayer;

namespace {

QImage canvas(int w, int h, QColor fill = Qt::transparent)
{
    QImage image(w, h, QImage::Format_ARGB32_Premultiplied);
    image.fill(fill);
    return image;
}

// The design's y-up space on a canvas of height h.
QTransform yUp(int h)
{
    return QTransform(1, 0, 0, -1, 0, h);
}

int alphaAt(const QImage &image, int x, int y)
{
    return qAlpha(image.pixel(x, y));
}

} // namespace

TEST(TransparencyLayerShadow, FallsTowardsTheOffsetAndLeavesContentExact)
{
    QImage image = canvas(200, 200);
    QPainter p(&image);
    p.setWorldTransform(yUp(200));
    TransparencyLayer layer;
    Shadow shadow;
    shadow.offset = QPointF(0, -12); // y-up: downwards on the canvas
    shadow.blurRadius = 8;
    QPainter *lp = layer.begin(&p, shadow);
    ASSERT_NE(lp, &p);
    lp->fillRect(QRectF(60, 60, 80, 80), QColor(200, 30, 20));
    layer.end();
    p.end();

    // Content untouched by its own shadow.
    EXPECT_EQ(image.pixel(100, 100), qRgb(200, 30, 20));
    EXPECT_EQ(image.pixel(61, 61), qRgb(200, 30, 20));
    // Below the square (canvas y grows downwards) the shadow is dark; above it
    // hardly anything.
    const int below = alphaAt(image, 100, 146);
    const int above = alphaAt(image, 100, 54);
    EXPECT_GT(below, 30);
    EXPECT_LT(above, below / 3);
    // The shadow is the default colour: black, at most a third opaque.
    EXPECT_EQ(qRed(image.pixel(100, 146)), 0);
    EXPECT_LE(alphaAt(image, 100, 150), 86);
    // Left and right edges shade alike (offset is vertical).
    EXPECT_NEAR(alphaAt(image, 55, 100), alphaAt(image, 144, 100), 2);
}

TEST(TransparencyLayerShadow, HardShadowIsTheShapeMoved)
{
    QImage image = canvas(100, 100);
    QPainter p(&image);
    TransparencyLayer layer;
    Shadow shadow;
    shadow.color = QColor(0, 0, 255, 255);
    shadow.offset = QPointF(10, 5); // plain y-down painter
    QPainter *lp = layer.begin(&p, shadow);
    lp->fillRect(QRect(20, 20, 30, 30), Qt::white);
    layer.end();
    p.end();
    EXPECT_EQ(image.pixel(55, 52), qRgb(0, 0, 255));
    EXPECT_EQ(image.pixel(35, 35), qRgb(255, 255, 255));
    EXPECT_EQ(alphaAt(image, 15, 15), 0);
    EXPECT_EQ(alphaAt(image, 61, 56), 0);
}

TEST(TransparencyLayerShadow, LargeBlurIsSymmetricAndSpreads)
{
    // A blur this large goes through the shrunk plane.
    QImage image = canvas(400, 400);
    QPainter p(&image);
    TransparencyLayer layer;
    Shadow shadow;
    shadow.blurRadius = 60; // sigma 30
    QPainter *lp = layer.begin(&p, shadow);
    lp->fillRect(QRect(150, 150, 100, 100), Qt::red);
    layer.end();
    p.end();
    const int left = alphaAt(image, 120, 200);
    const int right = alphaAt(image, 279, 200);
    const int top = alphaAt(image, 200, 120);
    const int bottom = alphaAt(image, 200, 279);
    EXPECT_GT(left, 5);
    EXPECT_NEAR(left, right, 2);
    EXPECT_NEAR(top, bottom, 2);
    EXPECT_NEAR(left, top, 2);
    // Further out it fades, and far away nothing.
    EXPECT_LT(alphaAt(image, 90, 200), left);
    EXPECT_EQ(alphaAt(image, 5, 5), 0);
}

TEST(TransparencyLayerGroup, CompositedOnceAtGroupOpacity)
{
    QImage grouped = canvas(100, 50);
    QImage direct = canvas(100, 50);
    for (QImage *img : {&grouped, &direct}) {
        QPainter p(img);
        p.setOpacity(0.5);
        TransparencyLayer layer;
        QPainter *lp = img == &grouped ? layer.begin(&p) : &p;
        lp->fillRect(QRect(0, 0, 60, 50), Qt::red);
        lp->fillRect(QRect(40, 0, 60, 50), Qt::red);
        layer.end();
    }
    // Overlap and single areas alike in the group; doubled when drawn directly.
    EXPECT_NEAR(alphaAt(grouped, 50, 25), 128, 1);
    EXPECT_NEAR(alphaAt(grouped, 10, 25), 128, 1);
    EXPECT_NEAR(alphaAt(grouped, 90, 25), 128, 1);
    EXPECT_GT(alphaAt(direct, 50, 25), 180);
}

TEST(TransparencyLayerGroup, BufferIsTheClipAndContentStaysInside)
{
    QImage image = canvas(300, 200);
    QPainter p(&image);
    p.setWorldTransform(yUp(200));
    p.setClipRect(QRectF(10, 20, 100, 50)); // y-up: canvas rows 130..180
    TransparencyLayer layer;
    QPainter *lp = layer.begin(&p);
    EXPECT_EQ(layer.deviceRect(), QRect(10, 130, 100, 50));
    lp->fillRect(QRectF(0, 0, 300, 200), Qt::green);
    layer.end();
    p.end();
    EXPECT_EQ(image.pixel(50, 150), qRgb(0, 255, 0));
    EXPECT_EQ(alphaAt(image, 50, 120), 0);
    EXPECT_EQ(alphaAt(image, 150, 150), 0);
}

TEST(TransparencyLayerGroup, EmptyClipDrawsStraightThrough)
{
    QImage image = canvas(50, 50);
    QPainter p(&image);
    p.setClipRect(QRect(200, 200, 10, 10));
    TransparencyLayer layer;
    EXPECT_EQ(layer.begin(&p, Shadow{}), &p);
    EXPECT_TRUE(layer.deviceRect().isEmpty());
    layer.end();
    EXPECT_FALSE(layer.isActive());
}

TEST(TransparencyLayerErase, DestinationOutErasesInProportion)
{
    QImage image = canvas(100, 100, Qt::blue);
    QPainter p(&image);
    p.setCompositionMode(QPainter::CompositionMode_DestinationOut);
    TransparencyLayer layer;
    QPainter *lp = layer.begin(&p);
    lp->fillRect(QRect(0, 0, 50, 100), QColor(0, 0, 0, 255));
    lp->fillRect(QRect(50, 0, 25, 100), QColor(0, 0, 0, 128));
    layer.end();
    p.end();
    EXPECT_EQ(alphaAt(image, 10, 50), 0);
    EXPECT_NEAR(alphaAt(image, 60, 50), 127, 2);
    EXPECT_EQ(image.pixel(90, 50), qRgb(0, 0, 255));
}

TEST(AlphaBlurTest, ImpulseSpreadsWithTheRequestedSigma)
{
    for (double sigma : {2.0, 5.0, 11.3}) {
        const int w = 201;
        const int h = 201;
        std::vector<quint16> plane(size_t(w * h), 0);
        std::vector<quint16> scratch(plane.size());
        plane[size_t(100 * w + 100)] = 65280;
        // A whole column of coverage gives a clean horizontal profile.
        for (int y = 0; y < h; ++y)
            plane[size_t(y * w + 100)] = 65280;
        AlphaBlur::blur(plane.data(), scratch.data(), w, h, sigma);
        double sum = 0, var = 0;
        for (int x = 0; x < w; ++x) {
            const double v = plane[size_t(100 * w + x)];
            sum += v;
            var += v * (x - 100) * (x - 100);
        }
        var /= sum;
        EXPECT_NEAR(sum, 65280, 65280 * 0.01) << sigma;
        EXPECT_NEAR(std::sqrt(var), sigma, std::max(0.2, sigma * 0.05)) << sigma;
        // Symmetric about the source.
        EXPECT_NEAR(plane[size_t(100 * w + 95)], plane[size_t(100 * w + 105)], 1);
    }
}

TEST(AlphaBlurTest, SameValuesAsThreeBoxPassesWorkedOutOneByOne)
{
    // Even stretches (rows and columns alike, as shapes give), broken here
    // and there by one value, at the ends of rows and of column strips too;
    // wider than a column strip and taller than a chunk of rows.
    const int w = 301;
    const int h = 157;
    std::mt19937 rng(5);
    std::vector<quint16> source(size_t(w * h), 0);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            if (x > 40 && x < 260 && y > 20 && y < 130 && !(x > 90 && x < 200 && y > 50 && y < 100))
                source[size_t(y * w + x)] = 65280;
        }
    const int columns[] = {0, w - 1, 255, 256, 100};
    for (int y = 3; y < h; y += 7)
        source[size_t(y * w + columns[(y / 7) % 5])] = quint16(1 + rng() % 65280);
    for (double sigma : {0.6, 3.0, 9.5}) {
        const auto radii = AlphaBlur::boxRadii(sigma);
        std::vector<quint16> expected = source;
        std::vector<quint16> next(expected.size());
        const auto box = [&](bool across, int r) {
            const quint64 mul = (quint64(1) << 32) / quint64(2 * r + 1);
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x) {
                    quint64 sum = 0;
                    for (int k = -r; k <= r; ++k) {
                        const int u = across ? x + k : x;
                        const int v = across ? y : y + k;
                        if (u >= 0 && u < w && v >= 0 && v < h)
                            sum += expected[size_t(v * w + u)];
                    }
                    next[size_t(y * w + x)] = quint16((sum * mul + (quint64(1) << 31)) >> 32);
                }
            expected.swap(next);
        };
        for (int r : radii)
            box(true, r);
        for (int r : radii)
            box(false, r);
        std::vector<quint16> plane = source;
        std::vector<quint16> scratch(plane.size());
        AlphaBlur::blur(plane.data(), scratch.data(), w, h, sigma);
        EXPECT_TRUE(plane == expected) << sigma;
    }
}

TEST(AlphaBlurTest, BoxRadiiMatchTheVariance)
{
    for (double sigma : {1.0, 3.0, 7.5, 20.0}) {
        const auto radii = AlphaBlur::boxRadii(sigma);
        double variance = 0;
        for (int r : radii)
            variance += ((2.0 * r + 1) * (2.0 * r + 1) - 1) / 12.0;
        EXPECT_NEAR(std::sqrt(variance), sigma, 0.6) << sigma;
    }
}
