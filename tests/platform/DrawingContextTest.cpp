#include "platform/render/DrawingContext.h"

#include "support/ImagingTools.h"

#include <QPainter>
#include <QPainterPath>

#include <gtest/gtest.h>

using platform::DrawingContext;
using testsupport::worstChannelDifference;

namespace {

QImage canvas(int w, int h)
{
    QImage image(w, h, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

// y-up probe: row h-1-y.
QColor at(const QImage &image, int x, int y)
{
    return image.pixelColor(x, image.height() - 1 - y);
}

} // namespace

TEST(DrawingContextSpace, OriginIsLowerLeft)
{
    QImage image = canvas(40, 30);
    {
        DrawingContext ctx(image);
        EXPECT_EQ(DrawingContext::current(), &ctx);
        ctx.fillRect(QRectF(0, 0, 10, 5), Qt::red);
        EXPECT_DOUBLE_EQ(ctx.deviceScale(), 1.0);
        EXPECT_EQ(ctx.deviceRectFor(QRectF(0, 0, 10, 5)), QRectF(0, 25, 10, 5));
    }
    EXPECT_EQ(DrawingContext::current(), nullptr);
    EXPECT_EQ(image.pixelColor(2, 28), QColor(Qt::red)); // bottom rows in memory order
    EXPECT_EQ(image.pixelColor(2, 2).alpha(), 0);
}

TEST(DrawingContextSpace, PicturesAndTextStandUpright)
{
    QImage picture(4, 4, QImage::Format_ARGB32_Premultiplied);
    picture.fill(Qt::blue);
    for (int x = 0; x < 4; ++x)
        picture.setPixelColor(x, 0, Qt::red); // top row red
    QImage image = canvas(40, 40);
    {
        DrawingContext ctx(image);
        ctx.painter().setRenderHint(QPainter::SmoothPixmapTransform, false);
        ctx.drawImage(QRectF(0, 0, 40, 40), picture);
    }
    EXPECT_EQ(at(image, 20, 35), QColor(Qt::red)); // the top row is at high y
    EXPECT_EQ(at(image, 20, 5), QColor(Qt::blue));

    // A source rect picks the picture's own (y-down) part: its top row only.
    QImage strip = canvas(8, 8);
    {
        DrawingContext ctx(strip);
        ctx.drawImage(QRectF(0, 0, 8, 8), picture, QRectF(0, 0, 4, 1));
    }
    EXPECT_EQ(at(strip, 4, 4), QColor(Qt::red));

    // Local y-down drawing: a bar at the local top lands at the rect's top.
    QImage flipped = canvas(40, 40);
    {
        DrawingContext ctx(flipped);
        ctx.drawFlipped(QRectF(10, 10, 20, 20), [](QPainter &p, const QRectF &local) {
            EXPECT_EQ(local, QRectF(10, 0, 20, 20));
            p.fillRect(QRectF(local.x(), 0, local.width(), 5), Qt::green);
        });
    }
    EXPECT_EQ(at(flipped, 20, 27), QColor(Qt::green));
    EXPECT_EQ(at(flipped, 20, 12).alpha(), 0);
}

TEST(DrawingContextSpace, NestedPainterKeepsItsOwnTransform)
{
    QImage image = canvas(100, 100);
    QPainter painter(&image);
    painter.translate(50, 0); // the caller's own offset, y-down
    {
        DrawingContext ctx(painter, 100);
        ctx.fillRect(QRectF(0, 0, 10, 10), Qt::red);
    }
    EXPECT_FALSE(painter.worldTransform().m22() < 0); // the caller's state is back
    painter.end();
    EXPECT_EQ(at(image, 55, 5), QColor(Qt::red));
    EXPECT_EQ(at(image, 5, 5).alpha(), 0);
}

TEST(DrawingContextState, ClipOpacityAndErase)
{
    QImage image = canvas(40, 40);
    {
        DrawingContext ctx(image);
        ctx.saveGState();
        ctx.clipToRect(QRectF(0, 0, 20, 40));
        ctx.clipToRect(QRectF(0, 0, 40, 20)); // intersects: lower-left quarter
        EXPECT_EQ(ctx.clipBoundingRect(), QRectF(0, 0, 20, 20));
        ctx.fillRect(QRectF(0, 0, 40, 40), Qt::red);
        ctx.restoreGState();
        EXPECT_EQ(ctx.clipBoundingRect(), QRectF(0, 0, 40, 40));
        ctx.restoreGState(); // unbalanced: ignored

        ctx.saveGState();
        ctx.setOpacity(0.5);
        ctx.fillRect(QRectF(30, 30, 10, 10), Qt::blue);
        ctx.restoreGState();
        EXPECT_DOUBLE_EQ(ctx.opacity(), 1.0);

        ctx.saveGState();
        ctx.setCompositionMode(QPainter::CompositionMode_DestinationOut);
        ctx.fillRect(QRectF(0, 0, 5, 5), Qt::black);
        ctx.restoreGState();
    }
    EXPECT_EQ(at(image, 10, 10), QColor(Qt::red));
    EXPECT_EQ(at(image, 30, 10).alpha(), 0);
    EXPECT_EQ(at(image, 10, 30).alpha(), 0);
    EXPECT_NEAR(at(image, 35, 35).alphaF(), 0.5, 0.01);
    EXPECT_EQ(at(image, 2, 2).alpha(), 0); // erased
}

TEST(DrawingContextState, ShadowFallsFromTheWholeLayer)
{
    QImage image = canvas(100, 100);
    {
        DrawingContext ctx(image);
        ctx.saveGState();
        ctx.setShadow(QColor(0, 0, 0, 255), QPointF(0, -10), 0);
        EXPECT_TRUE(ctx.hasShadow());
        ctx.beginTransparencyLayer();
        EXPECT_FALSE(ctx.hasShadow()); // shapes inside draw plainly
        ctx.fillRect(QRectF(20, 40, 30, 30), Qt::red);
        ctx.fillRect(QRectF(40, 40, 30, 30), Qt::red); // overlapping: one shadow, not two
        ctx.endTransparencyLayer();
        EXPECT_TRUE(ctx.hasShadow());
        ctx.restoreGState();
        EXPECT_FALSE(ctx.hasShadow());
    }
    EXPECT_EQ(at(image, 45, 55), QColor(Qt::red));
    EXPECT_EQ(at(image, 45, 35), QColor(Qt::black)); // shadow below by 10
    EXPECT_EQ(at(image, 45, 75).alpha(), 0);

    // A shape drawn with a shadow outside any layer casts its own.
    QImage single = canvas(100, 100);
    {
        DrawingContext ctx(single);
        ctx.setShadow(QColor(0, 0, 0, 255), QPointF(5, 0), 0);
        ctx.fillRect(QRectF(20, 20, 20, 20), Qt::red);
        EXPECT_EQ(ctx.transparencyLayerDepth(), 0);
    }
    EXPECT_EQ(at(single, 42, 30), QColor(Qt::black));
}

TEST(DrawingContextState, LayerEndsUnbalancedSaves)
{
    QImage image = canvas(20, 20);
    {
        DrawingContext ctx(image);
        ctx.beginTransparencyLayer();
        ctx.saveGState();
        ctx.setOpacity(0.25);
        ctx.endTransparencyLayer(); // the inner save ends with the layer
        EXPECT_DOUBLE_EQ(ctx.opacity(), 1.0);
        ctx.fillRect(QRectF(0, 0, 20, 20), Qt::red);
        ctx.beginTransparencyLayer(); // left open: the context ends it
        ctx.fillRect(QRectF(0, 0, 5, 5), Qt::blue);
    }
    EXPECT_EQ(at(image, 10, 10), QColor(Qt::red));
    EXPECT_EQ(at(image, 2, 2), QColor(Qt::blue));
}

TEST(DrawingContextPictures, AnEnlargedFrameLeavesItsClearMiddleAlone)
{
    // A frame's picture: a shaded border round a clear middle, enlarged over
    // a canvas that already holds a picture, alone and casting a shadow.
    QImage frame(160, 120, QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < frame.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(frame.scanLine(y));
        for (int x = 0; x < frame.width(); ++x) {
            const bool border = x < 20 || y < 15 || x >= 140 || y >= 105;
            line[x] = qPremultiply(qRgba(x * 255 / 160, y * 255 / 120, 128, border ? 150 + (x + y) % 100 : 0));
        }
    }
    // And one whose middle is cut short by marks at different depths from its sides.
    QImage marked = frame.copy();
    for (const QPoint at : {QPoint(30, 40), QPoint(136, 70), QPoint(60, 22), QPoint(95, 98), QPoint(96, 99)})
        marked.setPixel(at, qPremultiply(qRgba(200, 30, 30, 220)));
    // Wider than the runs in which Qt blends a row.
    QImage below(2600, 900, QImage::Format_ARGB32_Premultiplied);
    below.fill(QColor(90, 140, 40));
    const QRectF rect(10.5, 20.25, 2580, 860);
    const QRect dot(1200, 380, 220, 140);
    for (int round = 0; round < 4; ++round) {
        const bool shadow = round % 2;
        const QImage &picture = round < 2 ? frame : marked;
        // The same with a faint dot in the middle, which has no clear middle to leave out.
        QImage dotted = picture.copy();
        dotted.setPixel(80, 60, qRgba(1, 0, 0, 1));
        const auto draw = [&](const QImage &what) {
            QImage drawn = below.copy();
            {
                DrawingContext ctx(drawn);
                if (shadow)
                    ctx.setShadow(QColor(0, 0, 0, 160), QPointF(12, -12), 60);
                ctx.drawImage(rect, what);
            }
            return drawn;
        };
        QImage drawn = draw(picture);
        QImage reference = draw(dotted);
        for (QImage *image : {&drawn, &reference}) {
            QPainter p(image);
            p.fillRect(dot, Qt::black);
        }
        EXPECT_LE(worstChannelDifference(drawn, reference), 1) << "round " << round;
    }
    QImage drawn = below.copy();
    {
        DrawingContext ctx(drawn);
        ctx.drawImage(rect, frame);
    }
    QImage plain = below.copy();
    {
        QPainter p(&plain);
        p.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform);
        p.drawImage(QRectF(rect.x(), 900 - rect.y() - rect.height(), rect.width(), rect.height()), frame);
    }
    EXPECT_LE(worstChannelDifference(drawn, plain), 1);
}

TEST(DrawingContextPictures, AClearMiddleFoundOnceFollowsThePictureAsItIsWritten)
{
    // Large enough for its clear middle to be kept between drawings.
    QImage frame(1500, 700, QImage::Format_ARGB32_Premultiplied);
    frame.fill(Qt::transparent);
    {
        QPainter p(&frame);
        p.fillRect(QRect(0, 0, 1500, 50), Qt::darkBlue);
        p.fillRect(QRect(0, 650, 1500, 50), Qt::darkBlue);
    }
    const auto drawn = [&] {
        QImage canvas(2600, 1200, QImage::Format_ARGB32_Premultiplied);
        canvas.fill(Qt::white);
        DrawingContext ctx(canvas);
        ctx.drawImage(QRectF(0, 0, 2600, 1200), frame);
        return canvas;
    };
    EXPECT_EQ(at(drawn(), 1300, 600), QColor(Qt::white));
    for (int y = 340; y < 360; ++y)
        std::fill_n(reinterpret_cast<QRgb *>(frame.scanLine(y)) + 740, 20, qRgb(200, 0, 0));
    EXPECT_EQ(at(drawn(), 1300, 600), QColor(200, 0, 0));
}
