#include "FrameLayerTestSupport.h"

#include "design/KTColorMatLayer.h"
#include "design/KTFullFrameLayer.h"
#include "design/KTImageLayer.h"
#include "design/KTTemplateRenderer.h"
#include "design/VLImage.h"
#include "platform/imaging/ColorFilter.h"
#include "support/ImagingTools.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace frametest;

namespace {

Frame *fullFrame(const QString &name, bool portrait, bool landscape, bool mask = false)
{
    Frame *frame = newFrame(QStringLiteral("Full frame"), name);
    if (portrait)
        setPicture(frame, KTFullFrameLayer::kPortraitImageAttribute, ringPicture(60, 90));
    if (landscape)
        setPicture(frame, KTFullFrameLayer::kLandscapeImageAttribute, ringPicture(90, 60));
    if (mask)
        setFlag(frame, KTFullFrameLayer::kActAsMaskAttribute, true);
    saveLibrary();
    return frame;
}

std::shared_ptr<KTFullFrameLayer> fullLayer(Frame *frame)
{
    return std::dynamic_pointer_cast<KTFullFrameLayer>(KTFrameLayer::frameLayerFromFrame(frame));
}

} // namespace

TEST(FullFrameFactory, ChoosesTheClassByTheExactTypeName)
{
    Frame *full = fullFrame(QStringLiteral("Walnut"), false, true);
    QImage icon(92, 92, QImage::Format_ARGB32_Premultiplied);
    icon.fill(Qt::red);
    full->setIconImage(icon);
    auto layer = fullLayer(full);
    ASSERT_TRUE(layer);
    EXPECT_EQ(layer->layerName(), QStringLiteral("Walnut"));
    EXPECT_EQ(layer->controlNibName(), QStringLiteral("FullFrameControl"));
    EXPECT_EQ(layer->theFrame(), full);
    EXPECT_TRUE(layer->imagesLoaded());
    EXPECT_FALSE(layer->dropShadow());
    ASSERT_TRUE(layer->icon());
    EXPECT_EQ(layer->icon()->originalSize(), QSizeF(92, 92));

    auto mat = KTFrameLayer::frameLayerFromFrame(newFrame(QStringLiteral("Color Mat"), QStringLiteral("Cream")));
    ASSERT_TRUE(mat);
    EXPECT_TRUE(qobject_cast<KTColorMatLayer *>(mat.get()));
    EXPECT_TRUE(mat->dropShadow());

    // Case and blanks count; no type at all gives nothing either.
    for (const char *name : {"full frame", "Full  frame", "Full frame ", "Color mat", "Colour Mat"})
        EXPECT_FALSE(KTFrameLayer::frameLayerFromFrame(newFrame(QString::fromLatin1(name), QStringLiteral("x"))))
            << name;
    Frame *untyped = Frame::insertInManagedObjectContext(libraryContext());
    EXPECT_FALSE(KTFrameLayer::frameLayerFromFrame(untyped));
    EXPECT_FALSE(KTFrameLayer::frameLayerFromFrame(nullptr));
}

TEST(FullFrameLoading, TheMissingOrientationIsTheOtherTurned)
{
    auto portraitOnly = fullLayer(fullFrame(QStringLiteral("Tall"), true, false));
    ASSERT_TRUE(portraitOnly);
    EXPECT_EQ(portraitOnly->imagesOrientations(), 1u);
    EXPECT_EQ(portraitOnly->frameImageLandscape()->rotatedOriginalSize(), QSizeF(90, 60));

    auto landscapeOnly = fullLayer(fullFrame(QStringLiteral("Wide"), false, true));
    EXPECT_EQ(landscapeOnly->imagesOrientations(), 0u);
    EXPECT_EQ(landscapeOnly->frameImagePortrait()->rotatedOriginalSize(), QSizeF(60, 90));

    auto both = fullLayer(fullFrame(QStringLiteral("Both"), true, true));
    EXPECT_EQ(both->imagesOrientations(), 2u);

    // Neither picture: no pictures, no icon, nothing drawn.
    auto none = fullLayer(fullFrame(QStringLiteral("Empty"), false, false));
    ASSERT_TRUE(none);
    EXPECT_FALSE(none->imagesLoaded());
    EXPECT_TRUE(none->iconOfSize(QSizeF(72, 72)).isNull());
    none->drawLayerForRect(QRectF(0, 0, 100, 80), true, true);
}

TEST(FullFrameDrawing, FrameOpaqueOnItsPictureAndPhotoVisibleInside)
{
    auto design = designWithPhoto(writePhoto(400, 300));
    auto layer = fullLayer(fullFrame(QStringLiteral("Ring"), false, true));
    design->addTopmostFrameLayer(layer);
    const QImage out = render(*design, 400, 300);
    // The ring is a tenth of the short side: 30 px at this size.
    EXPECT_EQ(at(out, 10, 150), kFrameBrown);
    EXPECT_EQ(at(out, 200, 290), kFrameBrown);
    EXPECT_EQ(at(out, 200, 150), QColor(40, 160, 60));
    EXPECT_EQ(at(out, 40, 150), QColor(40, 160, 60));

    // (The next drawing is a quick one for the photo: a picture drawn before
    // only without its cache must still draw.)
    // Scale 1.2 grows the design and the frame with it; 0.8 draws the frame
    // inside the photo rect and leaves the design's size alone.
    layer->setScale(1.2);
    EXPECT_EQ(layer->resultingRectForRect(QRectF(0, 0, 100, 80)), QRectF(-10, -8, 120, 96));
    layer->setScale(0.8);
    EXPECT_EQ(layer->resultingRectForRect(QRectF(0, 0, 100, 80)), QRectF(0, 0, 100, 80));
    const QImage small = render(*design, 400, 300);
    EXPECT_EQ(at(small, 10, 150), QColor(40, 160, 60));
    EXPECT_EQ(at(small, 50, 150), kFrameBrown);
}

TEST(FullFrameDrawing, MaskFrameErasesThePhotoWhereItIsOpaque)
{
    auto design = designWithPhoto(writePhoto(400, 300));
    auto layer = fullLayer(fullFrame(QStringLiteral("Vignette"), false, true, true));
    ASSERT_TRUE(layer->actAsMask());
    design->addTopmostFrameLayer(layer);
    const QImage out = render(*design, 400, 300);
    EXPECT_EQ(at(out, 10, 150).alpha(), 0);
    EXPECT_EQ(at(out, 200, 290).alpha(), 0);
    EXPECT_EQ(at(out, 200, 150), QColor(40, 160, 60));

    // The icon shows the picture, not a hole, and the layer stays a mask in
    // its design.
    const QImage icon = layer->iconOfSize(QSizeF(92, 92));
    ASSERT_FALSE(icon.isNull());
    EXPECT_EQ(at(icon, 90, 46).rgb(), kFrameBrown.rgb());
    EXPECT_TRUE(layer->actAsMask());
    EXPECT_EQ(layer->inTemplate(), design.get());
}

TEST(FullFrameSettings, ATurnedPictureMadeLateCarriesTheSettingsMadeBefore)
{
    auto layer = fullLayer(fullFrame(QStringLiteral("Late"), false, true));
    const QString controls = QString::fromLatin1(platform::ColorFilter::kColorControls);
    const QString exposure = QString::fromLatin1(platform::ColorFilter::kExposureAdjust);
    layer->setLightnessShift(1.5);
    layer->setSaturationShift(0.4);
    layer->setOpacity(0.6);
    layer->setRotation(2);
    const auto landscape = layer->frameImageLandscape();
    const auto portrait = layer->frameImagePortrait();
    ASSERT_TRUE(portrait);
    EXPECT_EQ(portrait->originalSize(), QSizeF(60, 90));
    ASSERT_EQ(portrait->filters().size(), landscape->filters().size());
    for (size_t i = 0; i < landscape->filters().size(); ++i) {
        EXPECT_EQ(portrait->filters()[i]->name(), landscape->filters()[i]->name());
        EXPECT_EQ(portrait->filters()[i]->values(), landscape->filters()[i]->values());
    }
    EXPECT_DOUBLE_EQ(portrait->getFilter(controls)->value(QStringLiteral("inputSaturation")).toDouble(), 0.4);
    EXPECT_TRUE(portrait->getFilter(exposure));
    EXPECT_DOUBLE_EQ(portrait->opacity(), 0.6);
    EXPECT_EQ(portrait->rotation(), 2u);
    // From now on the settings reach it as they reach the other.
    layer->setSaturationShift(1.0);
    EXPECT_FALSE(portrait->getFilter(controls));
}

TEST(FullFrameSettings, FiltersFollowTheSettingsOnBothPictures)
{
    auto layer = fullLayer(fullFrame(QStringLiteral("Filters"), true, true));
    const QString controls = QString::fromLatin1(platform::ColorFilter::kColorControls);
    const QString mono = QString::fromLatin1(platform::ColorFilter::kColorMonochrome);
    const QString exposure = QString::fromLatin1(platform::ColorFilter::kExposureAdjust);
    layer->setSaturationShift(0.5);
    for (auto picture : {layer->frameImagePortrait(), layer->frameImageLandscape()})
        EXPECT_EQ(picture->getFilter(controls)->value(QStringLiteral("inputSaturation")).toDouble(), 0.5);
    layer->setSaturationShift(1.0);
    EXPECT_FALSE(layer->frameImagePortrait()->getFilter(controls));

    layer->setLightnessShift(2);
    EXPECT_TRUE(layer->frameImageLandscape()->getFilter(exposure));
    layer->setLightnessShift(0);
    EXPECT_FALSE(layer->frameImageLandscape()->getFilter(exposure));

    layer->setColorizationColor(QColor::fromRgbF(0.2f, 0.4f, 0.6f, 0.5f));
    EXPECT_FALSE(layer->frameImagePortrait()->getFilter(mono));
    layer->setColorize(true);
    auto filter = layer->frameImagePortrait()->getFilter(mono);
    ASSERT_TRUE(filter);
    EXPECT_NEAR(filter->value(QStringLiteral("inputIntensity")).toDouble(), 0.5, 1e-3);
    EXPECT_EQ(filter->value(QStringLiteral("inputColor")).value<QColor>().alpha(), 255);
    layer->setSaturationShift(0.3);
    layer->setColorize(false);
    EXPECT_FALSE(layer->frameImagePortrait()->getFilter(mono));
    EXPECT_TRUE(layer->frameImagePortrait()->getFilter(controls));

    // Misuse by code still raises; the panel's validation clamps first.
    EXPECT_ANY_THROW(layer->setSaturationShift(2.5));
    EXPECT_ANY_THROW(layer->setLightnessShift(std::nan("")));
    QVariant v(7.0);
    layer->validateValue(v, QStringLiteral("saturationShift"));
    EXPECT_EQ(v.toDouble(), 2.0);
    v = -20.0;
    layer->validateValue(v, QStringLiteral("lightnessShift"));
    EXPECT_EQ(v.toDouble(), -10.0);
    EXPECT_ANY_THROW(layer->loadImages());

    // Settings of another full frame come over; a mat gives only its shadow.
    auto other = fullLayer(fullFrame(QStringLiteral("Other"), false, true));
    other->setRotation(2);
    other->setScale(1.3);
    other->setOpacity(0.4);
    layer->applySettingsFromLayer(*other);
    EXPECT_EQ(layer->rotation(), 2u);
    EXPECT_EQ(layer->frameImagePortrait()->rotation(), 2u);
    EXPECT_DOUBLE_EQ(layer->scale(), 1.3);
    EXPECT_DOUBLE_EQ(layer->frameImageLandscape()->opacity(), 0.4);
}

TEST(FullFrameIcons, LibraryIconsAreDrawnWithoutMarkingTheFrameUsed)
{
    Frame *frame = fullFrame(QStringLiteral("Iconic"), false, true);
    const QDateTime longAgo = QDateTime::fromSecsSinceEpoch(1000000);
    frame->setLastUsed(longAgo);
    frame->buildIcon();
    const QImage icon = frame->iconImage();
    ASSERT_FALSE(icon.isNull());
    EXPECT_EQ(icon.size(), QSize(92, 92));
    EXPECT_EQ(at(icon, 2, 46).rgb(), kFrameBrown.rgb());
    EXPECT_EQ(at(icon, 46, 46).alpha(), 0);
    EXPECT_EQ(frame->lastUsed(), longAgo);

    // Putting the frame into a real design does mark it.
    auto design = designWithPhoto(writePhoto(40, 30));
    design->addTopmostFrameLayer(fullLayer(frame));
    EXPECT_GT(frame->lastUsed(), longAgo);
}

TEST(FullFrameDrawing, PictureFollowsTheShapeOfTheRectAndTheReportItsSize)
{
    Frame *frame = newFrame(QStringLiteral("Full frame"), QStringLiteral("Two pictures"));
    setPicture(frame, KTFullFrameLayer::kPortraitImageAttribute, ringPicture(60, 90, 0.1, Qt::red));
    setPicture(frame, KTFullFrameLayer::kLandscapeImageAttribute, ringPicture(90, 60, 0.1, Qt::blue));
    saveLibrary();
    auto layer = fullLayer(frame);
    auto design = std::make_shared<KTTemplate>();
    design->setUsedForIconGeneration(true);
    design->addTopmostLayer(layer);
    const auto edgeColour = [&](int w, int h) {
        QImage canvas(w, h, QImage::Format_ARGB32_Premultiplied);
        canvas.fill(Qt::transparent);
        platform::DrawingContext ctx(canvas);
        layer->drawLayerForRect(QRectF(0, 0, w, h), true, true);
        return at(canvas, 1, h / 2);
    };
    EXPECT_EQ(edgeColour(40, 60), QColor(Qt::red));
    EXPECT_EQ(edgeColour(60, 40), QColor(Qt::blue));
    EXPECT_EQ(edgeColour(50, 50), QColor(Qt::blue));

    layer->setScale(1.5);
    const QVariantMap report = layer->reportForRealSize(QSizeF(40, 30));
    EXPECT_EQ(report.value(QStringLiteral("Title")).toString(), QStringLiteral("Two pictures"));
    EXPECT_EQ(report.value(QStringLiteral("Size")).toSizeF(), QSizeF(60, 45));
    EXPECT_EQ(report.value(QStringLiteral("Icon")).value<QImage>().size(), QSize(72, 72));
}

TEST(FullFrameDrawing, DrawnInBandsTheExportIsTheWholeRenderWithinALevel)
{
    auto design = designWithPhoto(writePhoto(900, 600));
    auto layer = fullLayer(fullFrame(QStringLiteral("Banded"), false, true));
    layer->setDropShadow(true);
    design->addTopmostFrameLayer(layer);
    design->setExportExternalShadow(true);
    auto copy = design->copyForRendering();
    copy->setExportMode(true);
    const QImage whole = copy->newCGBitmapContextOfSize(copy->sizeFromOriginalWithOuterShadow(true), nullptr);
    ASSERT_FALSE(whole.isNull());
    // Bands as an export draws them: a few rows more each side, dropped.
    QImage banded(whole.size(), QImage::Format_ARGB32_Premultiplied);
    constexpr int kRows = 112;
    constexpr int kPad = 4;
    for (int first = 0; first < whole.height(); first += kRows) {
        const int top = std::max(0, first - kPad);
        QImage band(whole.width(), std::min(whole.height(), first + kRows + kPad) - top, banded.format());
        KTTemplateRenderer::drawBandOfSize(*copy, whole.size(), top, band, nullptr);
        for (int y = first; y < std::min(whole.height(), first + kRows); ++y)
            std::memcpy(banded.scanLine(y), band.constScanLine(y - top), size_t(banded.bytesPerLine()));
    }
    EXPECT_LE(testsupport::worstChannelDifference(whole, banded), 1);
    // The shadow falls outside the frame: neither clear nor opaque there.
    const int alpha = qAlpha(whole.pixel(whole.width() / 2, whole.height() - 3));
    EXPECT_GT(alpha, 0);
    EXPECT_LT(alpha, 255);
}
