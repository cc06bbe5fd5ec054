#include "design/KTImageLayer.h"
#include "design/VLImage.h"
#include "platform/archive/KeyedArchiver.h"
#include "platform/archive/KeyedUnarchiver.h"
#include "platform/render/DrawingContext.h"
#include "support/ImagingTools.h"

#include <gtest/gtest.h>

#include <QSignalSpy>

using namespace testsupport;

namespace {

// A layer holding a plain w x h picture (no file needed for geometry).
std::shared_ptr<KTImageLayer> layerWithPicture(int w, int h)
{
    auto layer = std::make_shared<KTImageLayer>();
    QImage picture(w, h, QImage::Format_ARGB32_Premultiplied);
    picture.fill(Qt::red);
    layer->setImage(VLImage::initWithBitmapContext(picture));
    return layer;
}

} // namespace

TEST(KTImageLayerCrop, SettersKeepOppositeSidesWithinBounds)
{
    auto layer = layerWithPicture(400, 300);
    layer->setCropRight(0.4);
    layer->setCropLeft(0.7);
    EXPECT_DOUBLE_EQ(layer->cropLeft(), 0.7);
    EXPECT_NEAR(layer->cropRight(), 0.25, 1e-12);
    layer->setCropBottom(0.1);
    layer->setCropTop(0.95);
    EXPECT_DOUBLE_EQ(layer->cropTop(), 0.95);
    EXPECT_NEAR(layer->cropBottom(), 0, 1e-12);
    // The picture gets the crop.
    const VLImage::Crop crop = layer->image()->crop();
    EXPECT_DOUBLE_EQ(crop.left, 0.7);
    EXPECT_DOUBLE_EQ(crop.top, 0.95);
}

TEST(KTImageLayerCrop, ValidationClampsCropKeys)
{
    KTImageLayer layer;
    QVariant v = 1.2;
    EXPECT_TRUE(layer.validateValue(v, QStringLiteral("cropTop")));
    EXPECT_DOUBLE_EQ(v.toDouble(), 0.95);
    v = -0.1;
    EXPECT_TRUE(layer.validateValue(v, QStringLiteral("cropLeft")));
    EXPECT_DOUBLE_EQ(v.toDouble(), 0.0);
    v = 7;
    EXPECT_TRUE(layer.validateValue(v, QStringLiteral("layerName")));
    EXPECT_EQ(v.toInt(), 7);
}

TEST(KTImageLayerCrop, EveryChangeAsksForARedraw)
{
    auto layer = layerWithPicture(40, 30);
    QSignalSpy changed(layer.get(), &KTLayer::layerChanged);
    layer->setCropLeft(0.1);
    EXPECT_EQ(changed.count(), 1);
    layer->setCropRight(0.9); // also moves the left crop
    EXPECT_EQ(changed.count(), 3);
    layer->setHidden(true);
    EXPECT_EQ(changed.count(), 4);
    layer->resetCropSetting();
    EXPECT_EQ(changed.count(), 4);
    EXPECT_DOUBLE_EQ(layer->image()->crop().right, 0.9); // untouched by the silent reset
}

TEST(KTImageLayerGeometry, FittingAndRounding)
{
    auto layer = layerWithPicture(4000, 3000);
    EXPECT_EQ(layer->resultingRectForRect(QRectF(0, 0, 400, 400)), QRectF(0, 50, 400, 300));
    EXPECT_EQ(layer->resultingRectForRect(QRectF(0, 0, 402, 300)), QRectF(1, 0, 401, 300));
    KTImageLayer empty;
    EXPECT_EQ(empty.resultingRectForRect(QRectF(3, 4, 5, 6)), QRectF(3, 4, 5, 6));

    layer->setCropLeft(0.25);
    layer->setCropBottom(0.5);
    EXPECT_EQ(layer->croppedRect(), QRectF(1000, 1500, 3000, 1500));
    EXPECT_EQ(layer->centerPoint(), QPointF(0.625, 0.75));
}

TEST(KTImageLayerGeometry, AspectRatioCropFollowsTheCentre)
{
    auto layer = layerWithPicture(4000, 3000);
    layer->cropToAspectRatio(1.0, QPointF(0.5, 0.5));
    EXPECT_DOUBLE_EQ(layer->cropLeft(), 0.125);
    EXPECT_DOUBLE_EQ(layer->cropRight(), 0.125);
    EXPECT_DOUBLE_EQ(layer->cropTop(), 0);
    EXPECT_DOUBLE_EQ(layer->cropBottom(), 0);
    layer->resetCropSetting();
    layer->cropToAspectRatio(1.0, QPointF(0.9, 0.5));
    EXPECT_DOUBLE_EQ(layer->cropLeft(), 0.25);
    EXPECT_DOUBLE_EQ(layer->cropRight(), 0);
    // Wider than the picture: top and bottom go.
    layer->resetCropSetting();
    layer->cropToAspectRatio(2.0, QPointF(0.5, 0.1));
    EXPECT_NEAR(layer->cropTop() + layer->cropBottom(), 1 - (4.0 / 3.0) / 2.0, 1e-12);
    EXPECT_DOUBLE_EQ(layer->cropBottom(), 0);
}

TEST(KTImageLayerMouse, DragMovesTheWindowAndStopsAtTheEdge)
{
    auto layer = layerWithPicture(400, 300);
    layer->setLastDrawRect(QRectF(0, 0, 200, 150));
    layer->mouseDownAtPoint(QPointF(10, 10), nullptr);
    EXPECT_TRUE(layer->isDragging());
    // Nothing is cut on the left: a drag to the right changes nothing.
    layer->mouseDraggedAtPoint(QPointF(60, 10), nullptr);
    EXPECT_DOUBLE_EQ(layer->cropLeft(), 0);
    EXPECT_DOUBLE_EQ(layer->cropRight(), 0);

    layer->setCropRight(0.5);
    layer->setLastDrawRect(QRectF(0, 0, 100, 150));
    layer->setDragStartPosition(QPointF(100, 10));
    // 20 points left = 0.1 of the picture: the window slides right.
    layer->mouseDraggedAtPoint(QPointF(80, 10), nullptr);
    EXPECT_NEAR(layer->cropLeft(), 0.1, 1e-12);
    EXPECT_NEAR(layer->cropRight(), 0.4, 1e-12);
    // Far beyond: it stops where the picture ends, the visible width unchanged.
    layer->mouseDraggedAtPoint(QPointF(-1000, 10), nullptr);
    EXPECT_NEAR(layer->cropLeft(), 0.5, 1e-12);
    EXPECT_NEAR(layer->cropRight(), 0, 1e-12);
    // Up and down work the same way.
    layer->setCropTop(0.3);
    layer->mouseDraggedAtPoint(QPointF(-1000, -1000), nullptr);
    EXPECT_NEAR(layer->cropTop(), 0, 1e-12);
    EXPECT_NEAR(layer->cropBottom(), 0.3, 1e-12);
    layer->mouseUpAtPoint(QPointF(), nullptr);
    EXPECT_FALSE(layer->isDragging());
    layer->mouseDraggedAtPoint(QPointF(500, 500), nullptr);
    EXPECT_NEAR(layer->cropBottom(), 0.3, 1e-12);
}

TEST(KTImageLayerDrawing, DrawsIntoItsRoundedRectAndIsHitThere)
{
    const QString png = scratchFile(QStringLiteral("png"));
    ASSERT_TRUE(quadrantPicture(400, 300).save(png));
    auto layer = std::make_shared<KTImageLayer>();
    layer->setImageFileName(png);
    EXPECT_FALSE(layer->isHitAtPoint(QPointF(1, 1)));
    layer->loadImage();
    ASSERT_TRUE(layer->image());
    EXPECT_EQ(layer->icon(), layer->image());
    EXPECT_FALSE(layer->image()->metadata().isNull());

    QImage canvas(200, 200, QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::transparent);
    {
        platform::DrawingContext context(canvas);
        layer->drawLayerForRect(QRectF(0, 0, 200, 200), true, true);
    }
    EXPECT_EQ(layer->lastDrawRect(), QRectF(0, 25, 200, 150));
    EXPECT_TRUE(layer->isHitAtPoint(QPointF(0, 25)));
    EXPECT_FALSE(layer->isHitAtPoint(QPointF(200, 100)));
    EXPECT_FALSE(layer->isHitAtPoint(QPointF(100, 175)));
    // y-up: the picture's top row sits at the canvas top minus the margin.
    EXPECT_EQ(canvas.pixelColor(5, 10).alpha(), 0);
    EXPECT_TRUE(near(canvas.pixelColor(5, 30), QColor(255, 0, 0), 2));
    EXPECT_TRUE(near(canvas.pixelColor(195, 170), QColor(255, 255, 0), 2));

    const QVariantMap report = layer->reportForRealSize(QSizeF(4000, 3000));
    EXPECT_EQ(report.value(QStringLiteral("Title")).toString(), QFileInfo(png).fileName());
    EXPECT_EQ(report.value(QStringLiteral("Icon")).value<QImage>().size(), QSize(72, 54));
    EXPECT_EQ(report.value(QStringLiteral("Size")).toSizeF(), QSizeF(4000, 3000));

    auto copy = std::static_pointer_cast<KTImageLayer>(layer->copyForRendering());
    EXPECT_NE(copy->image(), layer->image());
    EXPECT_EQ(copy->image()->bitmapCtx().constBits(), layer->image()->bitmapCtx().constBits());

    layer->setImageFileName(scratchDir() + QStringLiteral("/gone.png"));
    layer->loadImage();
    EXPECT_FALSE(layer->image());
    EXPECT_FALSE(layer->icon());
}

TEST(KTImageLayerArchive, CropsTravelAsSinglePrecision)
{
    auto layer = layerWithPicture(40, 30);
    layer->setCropLeft(0.3);
    layer->setCropTop(0.1);
    layer->setCropRight(0.2);
    layer->setCropBottom(0.05);
    platform::KeyedArchiver archiver;
    layer->encodeImageLayerKeys(archiver);
    archiver.finishEncoding();

    KTImageLayer back;
    back.setSupportsHiding(false);
    platform::KeyedUnarchiver unarchiver(archiver.encodedData());
    back.decodeImageLayerKeys(unarchiver);
    EXPECT_FALSE(unarchiver.hasError());
    EXPECT_EQ(back.cropLeft(), double(0.3f));
    EXPECT_NE(back.cropLeft(), 0.3);
    EXPECT_EQ(back.cropTop(), double(0.1f));
    EXPECT_EQ(back.cropRight(), double(0.2f));
    EXPECT_EQ(back.cropBottom(), double(0.05f));
    EXPECT_TRUE(back.supportsHiding());
}
