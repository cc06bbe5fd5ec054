// A single drawing with a wide shadow is drawn without a canvas-sized group;
// what it leaves on the canvas must match the group's result.
#include "platform/render/DrawingContext.h"
#include "platform/render/RenderBand.h"
#include "platform/render/ShadowCache.h"
#include "support/ImagingTools.h"

#include <QImage>
#include <QPainterPath>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <future>
#include <thread>

namespace {

QImage canvas(QColor fill)
{
    QImage image(400, 300, QImage::Format_ARGB32_Premultiplied);
    image.fill(fill);
    return image;
}

QPainterPath ring(double inset = 0)
{
    QPainterPath path;
    path.setFillRule(Qt::OddEvenFill);
    path.addRect(QRectF(60, 50, 280, 200));
    path.addRect(QRectF(110 - inset, 100 - inset, 180 + 2 * inset, 100 + 2 * inset));
    return path;
}

// Draws the ring with a shadow of blur `blur` either alone (the reduced way)
// or inside an explicit group (the buffered way).
void drawRing(platform::DrawingContext &ctx, bool grouped, bool erase, double blur, QRectF clip = QRectF(),
              double inset = 0)
{
    if (!clip.isEmpty())
        ctx.clipToRect(clip);
    if (erase)
        ctx.setCompositionMode(QPainter::CompositionMode_DestinationOut);
    ctx.setShadow(QColor(0, 0, 0, 85), QPointF(12, -16), blur);
    if (grouped)
        ctx.beginTransparencyLayer();
    ctx.fillPath(ring(inset), QColor(150, 90, 40));
    if (grouped)
        ctx.endTransparencyLayer();
}

QImage draw(QImage image, bool grouped, bool erase, double blur, QRectF clip = QRectF())
{
    platform::DrawingContext ctx(image);
    drawRing(ctx, grouped, erase, blur, clip);
    return image;
}

// The same drawing a band of `rows` rows at a time, each drawn with a few
// rows more on either side that are thrown away, as an export does.
QImage drawInBands(QImage image, int rows, bool grouped, double blur, double inset = 0, QRectF clip = QRectF())
{
    constexpr int kPad = 8;
    for (int first = 0; first < image.height(); first += rows) {
        const int top = std::max(0, first - kPad);
        const int end = std::min(image.height(), first + rows + kPad);
        QImage band = image.copy(0, top, image.width(), end - top);
        {
            QPainter painter(&band);
            painter.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform);
            painter.translate(0, -top);
            const platform::RenderBand window(&band, top, image.width(), image.height());
            platform::DrawingContext ctx(painter, image.height());
            drawRing(ctx, grouped, false, blur, clip, inset);
        }
        const int count = std::min(rows, image.height() - first);
        for (int y = 0; y < count; ++y)
            std::memcpy(image.scanLine(first + y), band.constScanLine(first - top + y), size_t(image.bytesPerLine()));
    }
    return image;
}

// A mask of one row: 0, 9, 9, 0.
std::shared_ptr<const platform::ShadowCache::Mask> smallMask()
{
    auto mask = std::make_shared<platform::ShadowCache::Mask>(QRect(0, 0, 4, 1));
    const uchar row[4] = {0, 9, 9, 0};
    mask->appendRow(row);
    return mask;
}

} // namespace

TEST(ReducedShadow, MatchesTheGroupedShadowOnTransparentAndOpaqueCanvases)
{
    for (const QColor background : {QColor(Qt::transparent), QColor(230, 240, 250)}) {
        const QImage reduced = draw(canvas(background), false, false, 60);
        const QImage grouped = draw(canvas(background), true, false, 60);
        EXPECT_LE(testsupport::worstChannelDifference(reduced, grouped), 4);
        // The shadow is there at all: below the ring, offset downwards.
        EXPECT_GT(qAlpha(reduced.pixel(200, 262)), qAlpha(canvas(background).pixel(200, 262)) - 1);
        EXPECT_NE(reduced.pixel(200, 262), canvas(background).pixel(200, 262));
    }
}

TEST(ReducedShadow, ErasingAndClippingMatchToo)
{
    const QImage erased = draw(canvas(QColor(40, 160, 60)), false, true, 60);
    const QImage erasedGrouped = draw(canvas(QColor(40, 160, 60)), true, true, 60);
    EXPECT_LE(testsupport::worstChannelDifference(erased, erasedGrouped), 4);
    EXPECT_EQ(qAlpha(erased.pixel(80, 70)), 0);

    const QRectF clip(0, 0, 220, 300);
    const QImage clipped = draw(canvas(Qt::transparent), false, false, 60, clip);
    const QImage clippedGrouped = draw(canvas(Qt::transparent), true, false, 60, clip);
    EXPECT_LE(testsupport::worstChannelDifference(clipped, clippedGrouped), 4);
    EXPECT_EQ(qAlpha(clipped.pixel(300, 150)), 0);
}

TEST(ReducedShadow, DrawnInBandsTheRowsAreThoseOfTheWholeCanvas)
{
    // Blurs that run on planes 1, 4 and 8 times smaller, grouped and alone.
    for (const double blur : {6.0, 60.0, 140.0}) {
        for (const bool grouped : {false, true}) {
            SCOPED_TRACE(testing::Message() << "blur " << blur << (grouped ? " grouped" : ""));
            for (const QColor background : {QColor(Qt::transparent), QColor(230, 240, 250)}) {
                const QImage whole = draw(canvas(background), grouped, false, blur);
                EXPECT_LE(testsupport::worstChannelDifference(drawInBands(canvas(background), 48, grouped, blur), whole), 1);
                EXPECT_LE(testsupport::worstChannelDifference(drawInBands(canvas(background), 100, grouped, blur), whole), 1);
            }
        }
    }
}

TEST(ReducedShadow, ABatchWorksOutEachBandsShadowOnceAndAnotherShapeGetsItsOwn)
{
    const QColor background(230, 240, 250);
    const QImage alone = drawInBands(canvas(background), 64, false, 140);
    const QImage wider = drawInBands(canvas(background), 64, false, 140, 20);
    const QImage taller = drawInBands(canvas(background), 96, false, 140);
    platform::ShadowCache cache;
    const platform::ShadowCache::Scope scope(&cache);
    // The first drawing of a band only tells the cache it was asked for.
    EXPECT_EQ(drawInBands(canvas(background), 64, false, 140), alone);
    EXPECT_EQ(cache.madeCount(), 0);
    EXPECT_EQ(drawInBands(canvas(background), 64, false, 140), alone);
    const int made = cache.madeCount();
    EXPECT_GT(made, 0);
    EXPECT_GT(cache.bytes(), 0);
    // Every band found its shadow the second time, byte for byte the same.
    EXPECT_EQ(drawInBands(canvas(background), 64, false, 140), alone);
    EXPECT_EQ(cache.madeCount(), made);
    EXPECT_EQ(cache.hitCount(), made);
    // A ring of another shape, or bands of another height, cast their own.
    for (int round = 0; round < 2; ++round) {
        EXPECT_EQ(drawInBands(canvas(background), 64, false, 140, 20), wider);
        EXPECT_EQ(drawInBands(canvas(background), 96, false, 140), taller);
    }
    EXPECT_GT(cache.madeCount(), 2 * made);
    // What a kept shadow lays blends as the drawing did, through a clip too.
    const QRectF clip(30.5, 0, 250.25, 300);
    const QImage clipped = drawInBands(canvas(Qt::transparent), 64, false, 140, 0, clip);
    for (int round = 0; round < 3; ++round)
        EXPECT_EQ(drawInBands(canvas(Qt::transparent), 64, false, 140, 0, clip), clipped);
}

TEST(ReducedShadow, AShadowPastTheCachesLimitIsMadeOnceThenDrawnWithout)
{
    platform::ShadowCache cache(1);
    int makings = 0;
    const auto make = [&] {
        ++makings;
        return smallMask();
    };
    const QByteArray key("band");
    EXPECT_FALSE(cache.obtain(key, make));
    const auto made = cache.obtain(key, make);
    ASSERT_TRUE(made);
    int first = 0;
    int end = 0;
    const uchar *values = made->row(0, &first, &end);
    EXPECT_TRUE(first == 1 && end == 3 && values[1] == 9 && values[2] == 9);
    EXPECT_FALSE(cache.obtain(key, make));
    EXPECT_EQ(makings, 1);
    EXPECT_EQ(cache.bytes(), 0);
}

TEST(ReducedShadow, WholeGroupsKeepToTheirOwnLimitAndLeaveTheMasksTheirs)
{
    platform::ShadowCache cache(1 << 20, 1);
    const auto make = [](bool group) {
        auto mask = std::make_shared<platform::ShadowCache::Mask>(QRect(0, 0, 4, 1));
        const uchar row[4] = {0, 9, 9, 0};
        mask->appendRow(row);
        if (group)
            mask->group = QImage(4, 1, QImage::Format_ARGB32_Premultiplied);
        return [mask] { return std::shared_ptr<const platform::ShadowCache::Mask>(mask); };
    };
    for (const QByteArray &key : {QByteArray("group"), QByteArray("mask")}) {
        EXPECT_FALSE(cache.obtain(key, make(key == "group")));
        EXPECT_TRUE(cache.obtain(key, make(key == "group")));
    }
    EXPECT_FALSE(cache.obtain("group", make(true)));
    EXPECT_TRUE(cache.obtain("mask", make(false)));
}

TEST(ReducedShadow, AShadowBeingMadeIsWaitedForOnlyByThoseWhoAsk)
{
    platform::ShadowCache cache;
    std::promise<void> started;
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<int> makings{0};
    const auto make = [&] {
        ++makings;
        started.set_value();
        released.wait();
        return smallMask();
    };
    const QByteArray key("band");
    EXPECT_FALSE(cache.obtain(key, make));
    std::shared_ptr<const platform::ShadowCache::Mask> maker;
    std::thread making([&] { maker = cache.obtain(key, make); });
    started.get_future().wait();
    // Drawing without it costs no more than the making: no waiting.
    EXPECT_FALSE(cache.obtain(key, make, false));
    std::shared_ptr<const platform::ShadowCache::Mask> waiter;
    std::thread waiting([&] { waiter = cache.obtain(key, make); });
    release.set_value();
    making.join();
    waiting.join();
    ASSERT_TRUE(maker);
    EXPECT_EQ(waiter, maker);
    EXPECT_EQ(cache.obtain(key, make, false), maker);
    EXPECT_EQ(makings, 1);
}
