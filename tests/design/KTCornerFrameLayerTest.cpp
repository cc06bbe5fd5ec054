#include "MouldingTestSupport.h"

#include "design/KTCornerFrameLayer.h"
#include "design/KTTemplate.h"
#include "design/VLImage.h"
#include "platform/UserDefaults.h"
#include "platform/imaging/ColorFilter.h"
#include "platform/render/DrawingContext.h"

#include <gtest/gtest.h>

using namespace mouldingtest;

namespace {

const QColor kGrey(128, 128, 128);
const QColor kRed(220, 30, 30);
const QColor kWhite(255, 255, 255);
const QColor kCyan(20, 200, 200);
const QColor kMagenta(210, 20, 200);

std::shared_ptr<KTCornerFrameLayer> cornerLayerFor(FrameInStore &store, bool *loaded = nullptr)
{
    auto layer = std::make_shared<KTCornerFrameLayer>();
    layer->setTheFrame(store.frame());
    const bool answer = layer->loadImages();
    if (loaded)
        *loaded = answer;
    return layer;
}

QImage drawn(KTMoldingFrameLayer &layer, const QRectF &rect, bool hq, bool skip, QSize canvas = QSize(600, 500))
{
    QImage image(canvas, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    platform::DrawingContext ctx(image);
    layer.drawLayerForRect(rect, hq, skip);
    return image;
}

const QRectF kRect(100, 100, 400, 300); // fw 30, outer (73, 73, 454, 354)

QMap<QString, QImage> greySides()
{
    return {{"Left Image", markedPicture(10, 40, kGrey, kGrey)}};
}

} // namespace

TEST(CornerLayerDrawing, OneCornerPictureTurnsIntoAllFourCorners)
{
    QMap<QString, QImage> pictures = greySides();
    pictures.insert("Top-Left corner", cornerPicture(20, kRed, kWhite));
    FrameInStore store(QStringLiteral("Moulding with corners"), pictures);
    bool loaded = false;
    auto layer = cornerLayerFor(store, &loaded);
    ASSERT_TRUE(loaded);
    EXPECT_TRUE(layer->allocatedFrameImageTopLeft());
    EXPECT_FALSE(layer->allocatedFrameImageBottomRight());
    ASSERT_EQ(layer->allFrameImages().size(), 8u);

    // Whatever the turn, each corner's marked quarter lies at the frame's
    // outer corner and the inner quarter is plain.
    for (unsigned turns = 0; turns < 4; ++turns) {
        layer->setRotation(turns);
        // A preview draws the pictures' cached renderings, which the high
        // quality drawing after every change brings up to date.
        for (auto [hq, skip] : {std::pair{true, false}, std::pair{false, false}, std::pair{true, true}}) {
            SCOPED_TRACE(testing::Message() << "turns " << turns << " hq " << hq << " skip " << skip);
            const QImage image = drawn(*layer, kRect, hq, skip);
            EXPECT_TRUE(near(at(image, 78, 420), kWhite));  // top-left
            EXPECT_TRUE(near(at(image, 98, 402), kRed));
            EXPECT_TRUE(near(at(image, 522, 420), kWhite)); // top-right
            EXPECT_TRUE(near(at(image, 502, 402), kRed));
            EXPECT_TRUE(near(at(image, 78, 78), kWhite));   // bottom-left
            EXPECT_TRUE(near(at(image, 98, 98), kRed));
            EXPECT_TRUE(near(at(image, 522, 78), kWhite));  // bottom-right
            EXPECT_TRUE(near(at(image, 502, 98), kRed));
            // Sides fill between the corners; the inside stays clear.
            EXPECT_TRUE(near(at(image, 88, 250), kGrey));
            EXPECT_TRUE(near(at(image, 300, 412), kGrey));
            EXPECT_EQ(at(image, 300, 250).alpha(), 0);
        }
    }
}

TEST(CornerLayerDrawing, SidesHoldWholeTilesStretchedToTheCorners)
{
    QMap<QString, QImage> pictures{{"Left Image", markedPicture(100, 400, kCyan, kMagenta)},
                                   {"Top-Left corner", cornerPicture(20, kRed, kRed)}};
    FrameInStore store(QStringLiteral("Moulding with corners"), pictures);
    auto layer = cornerLayerFor(store);
    // Outer rect 1108 x 708 at (46, 46), fw 60: the left side runs from 106
    // over 588 points in two tiles of 294 (natural 240).
    for (auto [hq, skip] : {std::pair{false, false}, std::pair{true, false}, std::pair{true, true}}) {
        SCOPED_TRACE(testing::Message() << "hq " << hq << " skip " << skip);
        const QImage image = drawn(*layer, QRectF(100, 100, 1000, 600), hq, skip, QSize(1200, 800));
        EXPECT_EQ(layer->drawRectOutside(), QRectF(46, 46, 1108, 708));
        for (int y = 106; y < 694; ++y)
            ASSERT_EQ(at(image, 76, y).alpha(), 255) << "gap at " << y;
        EXPECT_TRUE(near(at(image, 76, 110), kCyan));
        EXPECT_TRUE(near(at(image, 76, 330), kMagenta)); // first tile's mark ends at 400
        EXPECT_TRUE(near(at(image, 76, 398), kMagenta));
        EXPECT_TRUE(near(at(image, 76, 402), kCyan));
        EXPECT_TRUE(near(at(image, 76, 618), kCyan));
        EXPECT_TRUE(near(at(image, 76, 690), kMagenta));
        EXPECT_TRUE(near(at(image, 76, 700), kRed)); // the corner square above
    }
}

TEST(CornerLayerDrawing, TileCountsRoundToEvenAndDegenerateSidesEnd)
{
    FrameInStore store(QStringLiteral("Moulding with corners"),
                       {{"Left Image", markedPicture(100, 400, kCyan, kMagenta)},
                        {"Top-Left corner", cornerPicture(20, kRed, kRed)}});
    auto layer = cornerLayerFor(store);
    const auto picture = layer->frameImageLeft();
    auto marksOnSide = [&](double length) {
        QImage canvas(100, 1000, QImage::Format_ARGB32_Premultiplied);
        canvas.fill(Qt::transparent);
        {
            platform::DrawingContext ctx(canvas);
            layer->drawSideWithImage(picture, 60, QPointF(0, 0), 0, length, true, true);
        }
        // Count the marked runs along the strip: one per tile.
        int runs = 0;
        bool inMark = false;
        for (int y = 0; y < int(length); ++y) {
            const bool mark = near(at(canvas, 30, y), kMagenta, 30);
            runs += mark && !inMark ? 1 : 0;
            inMark = mark;
        }
        return runs;
    };
    EXPECT_EQ(marksOnSide(600), 2); // 2.5 tiles round to 2
    EXPECT_EQ(marksOnSide(840), 4); // 3.5 tiles round to 4
    EXPECT_EQ(marksOnSide(100), 1); // no whole tile: one covers the side

    // A sliver of a picture: never more tiles than points, and the walk ends.
    FrameInStore sliver(QStringLiteral("Moulding with corners"),
                        {{"Left Image", markedPicture(4000, 1, kCyan, kCyan)},
                         {"Top-Left corner", cornerPicture(20, kRed, kRed)}});
    auto thin = cornerLayerFor(sliver);
    const QImage image = drawn(*thin, kRect, true, true);
    EXPECT_TRUE(near(at(image, 88, 250), kCyan));

    // A rect too small for sides still gets its (overlapping) corners.
    const QImage tiny = drawn(*layer, QRectF(100, 100, 4, 4), true, true);
    EXPECT_TRUE(near(at(tiny, 101, 101), kRed));
}

TEST(CornerLayerLoading, SidesWithoutCornersLoadAndDrawBetweenEmptySquares)
{
    FrameInStore store(QStringLiteral("Moulding with corners"), greySides());
    bool loaded = true;
    auto layer = cornerLayerFor(store, &loaded);
    EXPECT_FALSE(loaded);
    EXPECT_TRUE(layer->imagesLoaded());
    const QImage image = drawn(*layer, kRect, true, true);
    EXPECT_TRUE(near(at(image, 88, 250), kGrey));
    EXPECT_EQ(at(image, 80, 420).alpha(), 0);
    const QImage icon = layer->iconOfSize(QSizeF(72, 72));
    EXPECT_EQ(icon.size(), QSize(72, 72));

    // Neither sides nor corners: nothing loads, nothing draws, no icon.
    FrameInStore empty(QStringLiteral("Moulding with corners"), {{"Top-Left corner", cornerPicture(20, kRed, kRed)}});
    auto none = cornerLayerFor(empty, &loaded);
    EXPECT_FALSE(loaded);
    EXPECT_FALSE(none->imagesLoaded());
    EXPECT_FALSE(none->frameImageTopLeft());
    EXPECT_TRUE(none->iconOfSize(QSizeF(72, 72)).isNull());
    const QImage blank = drawn(*none, kRect, true, true);
    EXPECT_EQ(at(blank, 80, 420).alpha(), 0);
}

TEST(CornerLayerSettings, ColourReachesCornersAndSettingsPassToMouldings)
{
    QMap<QString, QImage> pictures = greySides();
    pictures.insert("Bottom-Right corner", cornerPicture(20, kRed, kRed));
    FrameInStore store(QStringLiteral("Moulding with corners"), pictures);
    auto layer = cornerLayerFor(store);
    ASSERT_TRUE(layer->frameImageTopLeft());
    layer->setSaturationShift(0);
    for (const auto &image : layer->allFrameImages())
        EXPECT_TRUE(image->getFilter(platform::ColorFilter::kColorControls));
    const QColor grey = at(drawn(*layer, kRect, true, true), 78, 420);
    EXPECT_LE(std::abs(grey.red() - grey.blue()), 3);

    KTMoldingFrameLayer moulding;
    moulding.applySettingsFromLayer(*layer);
    EXPECT_EQ(moulding.saturationShift(), 0.0);
    KTCornerFrameLayer corner;
    moulding.setFrameWidth(0.3);
    corner.applySettingsFromLayer(moulding);
    EXPECT_EQ(corner.frameWidth(), 0.3);
    EXPECT_EQ(corner.controlNibName(), "MoldingFrameControl");
    EXPECT_EQ(corner.layerName(), "Molding Frame Layer");
}

TEST(CornerLayerDrawing, ShadowsFallFromSidesAndCornersInADesign)
{
    QMap<QString, QImage> pictures = greySides();
    pictures.insert("Top-Left corner", cornerPicture(20, kRed, kWhite));
    FrameInStore store(QStringLiteral("Moulding with corners"), pictures);
    auto layer = cornerLayerFor(store);
    layer->setDropShadow(true);
    auto design = std::make_shared<KTTemplate>();
    design->insertLayer(layer, 0);
    ASSERT_TRUE(layer->shouldDrawShadow());
    for (bool hq : {false, true}) {
        const QImage image = drawn(*layer, kRect, hq, hq);
        EXPECT_GT(at(image, 300, 73 - 2).alpha(), 20);
        EXPECT_TRUE(near(at(image, 78, 420), kWhite));
        EXPECT_TRUE(near(at(image, 88, 250), kGrey));
    }
}
