#include "MouldingTestSupport.h"

#include "design/KTMoldingFrameLayer.h"
#include "design/KTTemplate.h"
#include "design/VLImage.h"
#include "platform/Assert.h"
#include "platform/UserDefaults.h"
#include "platform/imaging/ColorFilter.h"
#include "platform/render/DrawingContext.h"

#include <gtest/gtest.h>

using namespace mouldingtest;

namespace {

const QColor kRed(220, 30, 30);
const QColor kGreen(30, 200, 40);
const QColor kBlue(30, 40, 210);
const QColor kYellow(230, 220, 20);
const QColor kCyan(20, 200, 200);
const QColor kMagenta(210, 20, 200);

// The moulding of a frame built through the store, as the factory makes it.
std::shared_ptr<KTMoldingFrameLayer> mouldingFor(FrameInStore &store)
{
    auto layer = std::make_shared<KTMoldingFrameLayer>();
    Frame *frame = store.frame();
    EXPECT_TRUE(frame);
    layer->setLayerName(frame ? frame->name() : QString());
    layer->setTheFrame(frame);
    layer->loadImages();
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

} // namespace

TEST(MouldingLayerDrawing, MitresMeetOnTheDiagonalsAtAllFourCorners)
{
    FrameInStore store(QStringLiteral("Moulding"),
                       {{"Left Image", markedPicture(10, 40, kRed, kRed)},
                        {"Top Image", markedPicture(40, 10, kGreen, kGreen)},
                        {"Right Image", markedPicture(10, 40, kBlue, kBlue)},
                        {"Bottom Image", markedPicture(40, 10, kYellow, kYellow)}});
    auto layer = mouldingFor(store);
    ASSERT_TRUE(layer->imagesLoaded());
    EXPECT_TRUE(layer->allocatedFrameImageLeft() && layer->allocatedFrameImageTop()
                && layer->allocatedFrameImageRight() && layer->allocatedFrameImageBottom());

    for (bool hq : {false, true}) {
        const QImage image = drawn(*layer, kRect, hq, hq);
        SCOPED_TRACE(hq ? "high quality" : "preview");
        // Top-left: the top side lies above the diagonal, the left below it.
        EXPECT_TRUE(near(at(image, 73 + 4, 427 - 12), kRed));
        EXPECT_TRUE(near(at(image, 73 + 12, 427 - 4), kGreen));
        // Top-right: right below the diagonal, top above.
        EXPECT_TRUE(near(at(image, 527 - 4, 427 - 12), kBlue));
        EXPECT_TRUE(near(at(image, 527 - 12, 427 - 4), kGreen));
        // Bottom-left and bottom-right: the bottom side below the diagonals.
        EXPECT_TRUE(near(at(image, 73 + 12, 73 + 4), kYellow));
        EXPECT_TRUE(near(at(image, 73 + 4, 73 + 12), kRed));
        EXPECT_TRUE(near(at(image, 527 - 12, 73 + 4), kYellow));
        EXPECT_TRUE(near(at(image, 527 - 4, 73 + 12), kBlue));
        // The joints are painted through: no pixel of a corner lets the
        // background show, not even partly along the anti-aliased diagonal.
        for (const QPointF corner : {QPointF(73, 397), QPointF(497, 397), QPointF(73, 73), QPointF(497, 73)})
            for (int dy = 0; dy < 30; ++dy)
                for (int dx = 0; dx < 30; ++dx)
                    ASSERT_EQ(at(image, corner.x() + dx, corner.y() + dy).alpha(), 255)
                        << corner.x() + dx << "," << corner.y() + dy;
        // The inside stays clear; the band is 30 points wide.
        EXPECT_EQ(at(image, 300, 250).alpha(), 0);
        EXPECT_EQ(at(image, 73 + 31, 250).alpha(), 0);
        EXPECT_EQ(at(image, 73 + 29, 250).alpha(), 255);
    }
    EXPECT_EQ(layer->drawRectOutside(), QRectF(73, 73, 454, 354));
    EXPECT_EQ(layer->drawRectInside(), QRectF(103, 103, 394, 294));
}

TEST(MouldingLayerDrawing, TilesRepeatWithoutSeamsAndMirrorOddTiles)
{
    for (bool mirror : {false, true}) {
        FrameInStore store(QStringLiteral("Moulding"), {{"Left Image", markedPicture(10, 40, kCyan, kMagenta)}},
                           {{"Mirror images", mirror}});
        auto layer = mouldingFor(store);
        ASSERT_EQ(layer->mirrorImages(), mirror);
        for (auto [hq, skip] : {std::pair{false, false}, std::pair{true, false}, std::pair{true, true}}) {
            SCOPED_TRACE(testing::Message() << "mirror " << mirror << " hq " << hq << " skip " << skip);
            const QImage image = drawn(*layer, kRect, hq, skip);
            // Tiles of 120 points start at 73, 193 and 313 on the left side.
            for (int y = 90; y <= 405; ++y)
                ASSERT_EQ(at(image, 88, y).alpha(), 255) << "seam at " << y;
            EXPECT_TRUE(near(at(image, 88, 100), kCyan));
            EXPECT_TRUE(near(at(image, 88, 170), kMagenta)); // first tile never mirrored
            EXPECT_TRUE(near(at(image, 88, 190), kMagenta));
            EXPECT_TRUE(near(at(image, 88, 200), mirror ? kMagenta : kCyan));
            EXPECT_TRUE(near(at(image, 88, 290), mirror ? kCyan : kMagenta));
            EXPECT_TRUE(near(at(image, 88, 320), kCyan)); // third tile upright again
            EXPECT_TRUE(near(at(image, 88, 405), kMagenta));
        }
    }
}

TEST(MouldingLayerLoading, MissingSidesAreTurnedFromTheOnesTheFrameHas)
{
    {
        FrameInStore store(QStringLiteral("Moulding"), {{"Left Image", markedPicture(10, 40, kCyan, kMagenta)}});
        auto layer = mouldingFor(store);
        ASSERT_TRUE(layer->imagesLoaded());
        EXPECT_FALSE(layer->allocatedFrameImageTop());
        // The mark (the outer edge at the top of the file) turns with the picture.
        const QImage top = layer->frameImageTop()->bitmapCtx();
        ASSERT_EQ(top.size(), QSize(40, 10));
        EXPECT_TRUE(near(top.pixelColor(38, 5), kMagenta));
        EXPECT_TRUE(near(top.pixelColor(2, 5), kCyan));
        const QImage right = layer->frameImageRight()->bitmapCtx();
        ASSERT_EQ(right.size(), QSize(10, 40));
        EXPECT_TRUE(near(right.pixelColor(5, 38), kMagenta));
        const QImage bottom = layer->frameImageBottom()->bitmapCtx();
        ASSERT_EQ(bottom.size(), QSize(40, 10));
        EXPECT_TRUE(near(bottom.pixelColor(2, 5), kMagenta));
        ASSERT_EQ(layer->allFrameImages().size(), 4u);
        EXPECT_EQ(layer->allFrameImages()[1], layer->frameImageTop());
    }
    {
        FrameInStore store(QStringLiteral("Moulding"), {{"Top Image", markedPicture(40, 10, kCyan, kMagenta)}});
        auto layer = mouldingFor(store);
        EXPECT_EQ(layer->frameImageRight()->originalSize(), QSizeF(10, 40));
        EXPECT_EQ(layer->frameImageBottom()->originalSize(), QSizeF(40, 10));
        EXPECT_EQ(layer->frameImageLeft()->originalSize(), QSizeF(10, 40));
        // Left = top turned three times: the top edge ends at the left.
        EXPECT_TRUE(near(layer->frameImageLeft()->bitmapCtx().pixelColor(0, 20), kMagenta));
        EXPECT_TRUE(near(layer->frameImageLeft()->bitmapCtx().pixelColor(8, 20), kCyan));
    }
}

TEST(MouldingLayerLoading, UnreadableOrAbsentPicturesLeaveSidesEmptyWithoutFailing)
{
    // A side whose file is no picture: its flag is set, it has no picture,
    // and sides made from it have none; the others draw.
    FrameInStore broken(QStringLiteral("Moulding"),
                        {{"Left Image", QImage()}, {"Bottom Image", markedPicture(40, 10, kYellow, kYellow)}});
    auto layer = mouldingFor(broken);
    ASSERT_TRUE(layer->imagesLoaded());
    EXPECT_TRUE(layer->allocatedFrameImageLeft());
    EXPECT_FALSE(layer->frameImageLeft());
    EXPECT_FALSE(layer->frameImageTop()); // left turned once, and left has none
    EXPECT_FALSE(layer->frameImageRight()); // left turned twice
    ASSERT_TRUE(layer->frameImageBottom());
    const QImage image = drawn(*layer, kRect, true, true);
    EXPECT_EQ(at(image, 80, 250).alpha(), 0);
    EXPECT_TRUE(near(at(image, 300, 80), kYellow));

    // No side picture at all: nothing loads, no icon, the drawing paints
    // nothing but still records where it would have been.
    FrameInStore empty(QStringLiteral("Moulding"), {});
    auto bare = mouldingFor(empty);
    EXPECT_FALSE(bare->imagesLoaded());
    EXPECT_TRUE(bare->iconOfSize(QSizeF(72, 72)).isNull());
    const QImage nothing = drawn(*bare, kRect, true, true);
    for (int y = 0; y < nothing.height(); y += 7)
        for (int x = 0; x < nothing.width(); x += 7)
            ASSERT_EQ(nothing.pixelColor(x, y).alpha(), 0);
    bare->drawLayerForRect(kRect, false, false);
    EXPECT_EQ(bare->drawRectOutside(), QRectF(73, 73, 454, 354));

    // Loading twice is a programming error.
    EXPECT_THROW(layer->loadImages(), platform::Exception);
}

TEST(MouldingLayerDrawing, DegenerateSidesEndAndDrawNothingUndefined)
{
    // A picture one pixel high tiles in one-point steps; the walk ends.
    FrameInStore store(QStringLiteral("Moulding"), {{"Left Image", markedPicture(4000, 1, kRed, kRed)}});
    auto layer = mouldingFor(store);
    ASSERT_TRUE(layer->imagesLoaded());
    const QImage image = drawn(*layer, kRect, true, true);
    EXPECT_EQ(at(image, 88, 250).alpha(), 255);

    // Lengths and widths that are no numbers draw nothing.
    QImage canvas(100, 100, QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::transparent);
    {
        platform::DrawingContext ctx(canvas);
        const auto picture = layer->frameImageLeft();
        const double inf = std::numeric_limits<double>::infinity();
        layer->drawSideWithImage(picture, 10, QPointF(0, 0), 0, inf, true, true);
        layer->drawSideWithImage(picture, 10, QPointF(0, 0), 0, std::nan(""), true, true);
        layer->drawSideWithImage(picture, inf, QPointF(0, 0), 0, 50, true, true);
        layer->drawSideWithImage(picture, 10, QPointF(0, 0), 0, -5, true, true);
        layer->drawSideWithImage(nullptr, 10, QPointF(0, 0), 0, 50, true, true);
    }
    for (int y = 0; y < 100; y += 5)
        for (int x = 0; x < 100; x += 5)
            ASSERT_EQ(canvas.pixelColor(x, y).alpha(), 0);
}

TEST(MouldingLayerGeometry, WidthsRoundAsDrawnAndHitsFollowTheLastDrawing)
{
    KTMoldingFrameLayer layer;
    EXPECT_EQ(layer.resultingRectForRect(QRectF(0, 0, 1000, 600)), QRectF(-54, -54, 1108, 708));
    EXPECT_FALSE(layer.isHitAtPoint(QPointF(-40, 300))) << "never drawn, never hit";
    layer.drawLayerForRect(QRectF(0, 0, 1000, 600), true, true);
    EXPECT_EQ(layer.drawRectInside(), QRectF(6, 6, 988, 588));
    EXPECT_TRUE(layer.isHitAtPoint(QPointF(3, 300)));
    EXPECT_TRUE(layer.isHitAtPoint(QPointF(-40, 300)));
    EXPECT_FALSE(layer.isHitAtPoint(QPointF(10, 300)));
    EXPECT_FALSE(layer.isHitAtPoint(QPointF(-60, 300)));

    // Never thinner than 3 points, though the growth follows the fraction.
    layer.setFrameWidth(0.001);
    layer.drawLayerForRect(QRectF(0, 0, 1000, 600), false, false);
    EXPECT_EQ(layer.drawRectInside().x() - layer.drawRectOutside().x(), 3.0);
    // Ties go to even: 62.5 draws 62, 63.5 draws 64.
    layer.setFrameWidth(0.125);
    layer.drawLayerForRect(QRectF(0, 0, 1000, 500), false, false);
    EXPECT_EQ(layer.drawRectInside().x() - layer.drawRectOutside().x(), 62);
    layer.setFrameWidth(0.127);
    layer.drawLayerForRect(QRectF(0, 0, 1000, 500), false, false);
    EXPECT_EQ(layer.drawRectInside().x() - layer.drawRectOutside().x(), 64);
    layer.setFrameWidth(0);
    EXPECT_EQ(layer.resultingRectForRect(QRectF(1, 2, 30, 40)), QRectF(1, 2, 30, 40));

    // Setters and validation keep values in range; nothing is refused.
    layer.setFrameWidth(0.9);
    EXPECT_EQ(layer.frameWidth(), 0.4);
    layer.setFrameWidth(-1);
    EXPECT_EQ(layer.frameWidth(), 0.0);
    layer.setFrameWidth(std::nan(""));
    EXPECT_EQ(layer.frameWidth(), 0.0);
    layer.setFrameOverImage(3);
    EXPECT_EQ(layer.frameOverImage(), 1.0);
    QVariant v(5.0);
    EXPECT_TRUE(layer.validateValue(v, "saturationShift"));
    EXPECT_EQ(v.toDouble(), 2.0);
    v = -11.0;
    layer.validateValue(v, "lightnessShift");
    EXPECT_EQ(v.toDouble(), -10.0);
    v = 0.5;
    layer.validateValue(v, "frameWidth");
    EXPECT_EQ(v.toDouble(), 0.4);
    v = 1.5;
    layer.validateValue(v, "shadowLength");
    EXPECT_EQ(v.toDouble(), 1.0);
    v = 7;
    layer.validateValue(v, "rotation");
    EXPECT_EQ(v.toInt(), 7);
    EXPECT_THROW(layer.setSaturationShift(2.5), platform::Exception);
    EXPECT_THROW(layer.setLightnessShift(-10.5), platform::Exception);
    EXPECT_THROW(layer.setSaturationShift(std::nan("")), platform::Exception);
}

TEST(MouldingLayerSettings, ColourSettingsActOnEveryPictureAndShowInTheDrawing)
{
    FrameInStore store(QStringLiteral("Moulding"), {{"Left Image", markedPicture(10, 40, kRed, kRed)}});
    auto layer = mouldingFor(store);
    const QString controls = platform::ColorFilter::kColorControls;
    const QString exposure = platform::ColorFilter::kExposureAdjust;
    const QString mono = platform::ColorFilter::kColorMonochrome;

    layer->setLightnessShift(0);
    for (const auto &image : layer->allFrameImages())
        EXPECT_FALSE(image->getFilter(exposure)) << "an unchanged lightness adds no filter";
    layer->setSaturationShift(0);
    for (const auto &image : layer->allFrameImages())
        EXPECT_TRUE(image->getFilter(controls));
    QColor grey = at(drawn(*layer, kRect, true, true), 88, 250);
    EXPECT_LE(std::abs(grey.red() - grey.green()), 3);
    EXPECT_LE(std::abs(grey.green() - grey.blue()), 3);

    // Colourising takes the saturation away and brings it back after.
    layer->setColorizationColor(QColor::fromRgbF(0.1f, 0.2f, 1.0f, 1.0f));
    layer->setColorize(true);
    for (const auto &image : layer->allFrameImages()) {
        EXPECT_FALSE(image->getFilter(controls));
        ASSERT_TRUE(image->getFilter(mono));
        EXPECT_EQ(image->getFilter(mono)->value(platform::ColorFilter::kInputIntensity).toDouble(), 1.0);
    }
    const QColor tinted = at(drawn(*layer, kRect, true, true), 88, 250);
    EXPECT_GT(tinted.blue(), tinted.red());
    layer->setColorize(false);
    for (const auto &image : layer->allFrameImages()) {
        EXPECT_FALSE(image->getFilter(mono));
        EXPECT_TRUE(image->getFilter(controls));
    }
    layer->setSaturationShift(1.0);
    for (const auto &image : layer->allFrameImages())
        EXPECT_FALSE(image->getFilter(controls));
    EXPECT_TRUE(near(at(drawn(*layer, kRect, true, true), 88, 250), kRed));

    layer->setOpacity(0.5);
    for (const auto &image : layer->allFrameImages())
        EXPECT_EQ(image->opacity(), 0.5);
    EXPECT_NEAR(at(drawn(*layer, kRect, true, true), 88, 250).alpha(), 128, 3);

    // A turn moves each picture one side further clockwise: the left
    // picture now runs along the top.
    layer->setOpacity(1.0);
    layer->setRotation(1);
    const QImage turned = drawn(*layer, kRect, true, true);
    EXPECT_TRUE(near(at(turned, 300, 427 - 10), kRed));
    layer->setRotation(6);
    EXPECT_EQ(layer->rotation(), 2u);
    for (const auto &image : layer->allFrameImages())
        EXPECT_EQ(image->rotation(), 2u);
}

TEST(MouldingLayerSettings, ShadowChoiceCarriesOverAndMasksEraseWithoutShadow)
{
    platform::UserDefaults defaults(testsupport::scratchDir() + QStringLiteral("/moulding-shadow.conf"));
    defaults.setBool(KTMoldingFrameLayer::kShadowEnabledDefault, true);
    KTFrameLayer::NewLayerSettings next = KTFrameLayer::NewLayerSettings::fromDefaults(defaults);
    EXPECT_TRUE(next.mouldingShadow);
    FrameInStore plain(QStringLiteral("Moulding"), {{"Top Image", markedPicture(40, 10, kRed, kRed)}});
    auto made = KTFrameLayer::frameLayerFromFrame(plain.frame(), next);
    ASSERT_TRUE(made);
    EXPECT_TRUE(made->dropShadow());
    EXPECT_FALSE(KTFrameLayer::frameLayerFromFrame(plain.frame())->dropShadow());
    made->setDropShadowByUser(false, next);
    next.saveTo(defaults);
    EXPECT_FALSE(defaults.boolForKey(KTMoldingFrameLayer::kShadowEnabledDefault));
    EXPECT_FALSE(KTFrameLayer::frameLayerFromFrame(plain.frame(), next)->dropShadow());
    next.mouldingShadow = true;

    FrameInStore store(QStringLiteral("Moulding"), {{"Top Image", markedPicture(40, 10, kRed, kRed)}},
                       {{"Act as mask", true}});
    auto layer = std::dynamic_pointer_cast<KTMoldingFrameLayer>(KTFrameLayer::frameLayerFromFrame(store.frame(), next));
    ASSERT_TRUE(layer);
    EXPECT_TRUE(layer->actAsMask());
    EXPECT_FALSE(layer->dropShadow());
    EXPECT_EQ(layer->frameOverImage(), 1.0);
    // Loading a mask (as every library icon of one does) is not the user's
    // choice: the next moulding still gets the shadow.
    EXPECT_TRUE(next.mouldingShadow);

    // Over a blue photo the mask cuts the moulding's shape out.
    QImage image(600, 500, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::blue);
    {
        platform::DrawingContext ctx(image);
        layer->drawLayerForRect(kRect, true, true);
    }
    EXPECT_EQ(at(image, 115, 250).alpha(), 0);
    EXPECT_EQ(at(image, 300, 115).alpha(), 0);
    EXPECT_EQ(at(image, 300, 250).alpha(), 255);
    EXPECT_EQ(at(image, 50, 50).alpha(), 255);
    // Its icon carries the badge.
    const QImage icon = layer->iconOfSize(QSizeF(72, 72));
    ASSERT_EQ(icon.size(), QSize(72, 72));
    EXPECT_FALSE(near(at(icon, 10, 10), kRed));
    EXPECT_TRUE(near(at(icon, 10, 40), kRed));
}

TEST(MouldingLayerSettings, EachSideCastsItsOwnShadowInADesign)
{
    FrameInStore store(QStringLiteral("Moulding"), {{"Left Image", markedPicture(10, 40, kRed, kRed)}});
    auto layer = mouldingFor(store);
    layer->setDropShadow(true);
    auto design = std::make_shared<KTTemplate>();
    design->insertLayer(layer, 0);
    ASSERT_TRUE(layer->shouldDrawShadow());
    const QImage withShadow = drawn(*layer, kRect, true, true);
    // Below the bottom side and below the top side's inner edge.
    EXPECT_GT(at(withShadow, 300, 73 - 3).alpha(), 20);
    EXPECT_GT(at(withShadow, 300, 397 - 3).alpha(), 20);
    // The sides themselves are painted over the shadows.
    EXPECT_TRUE(near(at(withShadow, 88, 250), kRed));
    EXPECT_TRUE(near(at(withShadow, 300, 80), kRed));
    layer->setDropShadow(false);
    const QImage plain = drawn(*layer, kRect, true, true);
    EXPECT_EQ(at(plain, 300, 73 - 3).alpha(), 0);
    EXPECT_EQ(at(plain, 300, 397 - 3).alpha(), 0);
}

TEST(MouldingLayerSettings, SettingsPassBetweenMouldingsAndTheReportUsesThem)
{
    FrameInStore store(QStringLiteral("Moulding"), {{"Left Image", markedPicture(10, 40, kRed, kGreen)}});
    auto from = mouldingFor(store);
    from->setFrameWidth(0.2);
    from->setFrameOverImage(0.25);
    from->setSaturationShift(0.5);
    from->setLightnessShift(1.5);
    from->setOpacity(0.75);
    from->setRotation(2);
    from->setColorize(true);
    from->setShadowLength(0.4);
    KTMoldingFrameLayer to;
    to.applySettingsFromLayer(*from);
    EXPECT_EQ(to.frameWidth(), 0.2);
    EXPECT_EQ(to.frameOverImage(), 0.25);
    EXPECT_EQ(to.saturationShift(), 0.5);
    EXPECT_EQ(to.lightnessShift(), 1.5);
    EXPECT_EQ(to.opacity(), 0.75);
    EXPECT_TRUE(to.colorize());
    EXPECT_EQ(to.shadowLength(), 0.4);
    EXPECT_EQ(to.rotation(), 0u) << "turns are not copied";

    const QVariantMap report = from->reportForRealSize(QSizeF(30, 20));
    EXPECT_EQ(report.value("Title").toString(), "Test Moulding");
    EXPECT_EQ(report.value("Width").toDouble(), 4.0);
    EXPECT_EQ(report.value("OverWidth").toDouble(), 1.0);
    EXPECT_EQ(report.value("Size").toSizeF(), QSizeF(36, 26));
    EXPECT_EQ(report.value("Icon").value<QImage>().size(), QSize(72, 72));
}

TEST(MouldingLayerSettings, ChangesAskTheDesignForTheRightRedraw)
{
    KTMoldingFrameLayer layer;
    int full = 0;
    int fast = 0;
    QObject::connect(&layer, &KTLayer::layerChanged, [&] { ++full; });
    QObject::connect(&layer, &KTLayer::layerChangedFastRedraw, [&] { ++fast; });
    layer.setFrameWidth(0.2);
    layer.setFrameOverImage(0.2);
    layer.setOpacity(0.3);
    layer.setShadowLength(0.3);
    EXPECT_EQ(full, 0);
    EXPECT_EQ(fast, 4);
    layer.setRotation(1);
    layer.setSaturationShift(0.4);
    layer.setHidden(true);
    layer.setDropShadow(true);
    EXPECT_EQ(full, 4);
    EXPECT_EQ(fast, 4);
}
