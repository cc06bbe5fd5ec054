#include "DesignTestLayers.h"

#include "design/KTImageLayer.h"
#include "design/VLImage.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QImageWriter>

#include <gtest/gtest.h>

using namespace designtest;

namespace {

// Qt always writes a density; a photo without one needs its pHYs chunk cut out.
void dropDensity(const QString &path)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray png = file.readAll();
    file.close();
    QByteArray out = png.left(8);
    qsizetype pos = 8;
    while (pos + 12 <= png.size()) {
        const quint32 length = (quint8(png[pos]) << 24) | (quint8(png[pos + 1]) << 16) | (quint8(png[pos + 2]) << 8)
                               | quint8(png[pos + 3]);
        const QByteArray chunk = png.mid(pos, 12 + qsizetype(length));
        if (png.mid(pos + 4, 4) != "pHYs")
            out += chunk;
        pos += 12 + qsizetype(length);
    }
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(out);
}

// Writes a photo of the given size: the top half green, the bottom half blue.
QString writePhoto(const QString &name, int w, int h, int dpi = 0)
{
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(Qt::blue);
    for (int y = 0; y < h / 2; ++y)
        for (int x = 0; x < w; ++x)
            image.setPixelColor(x, y, Qt::green);
    const int dpm = dpi > 0 ? int(std::lround(dpi / 0.0254)) : 0;
    image.setDotsPerMeterX(dpm);
    image.setDotsPerMeterY(dpm);
    const QString path = QDir(testsupport::scratchDir()).filePath(name);
    QImageWriter writer(path);
    EXPECT_TRUE(writer.write(image)) << writer.errorString().toStdString();
    if (dpi <= 0)
        dropDensity(path);
    return path;
}

std::shared_ptr<KTTemplate> designWithPhoto(const QString &path)
{
    auto design = std::make_shared<KTTemplate>();
    EXPECT_TRUE(design->importImage(QUrl::fromLocalFile(path)));
    return design;
}

} // namespace

TEST(KTTemplatePhoto, ImportTakesThePhotoOrNothing)
{
    auto design = std::make_shared<KTTemplate>();
    NotificationLog log(design.get());
    EXPECT_FALSE(design->importImage(QUrl::fromLocalFile(QDir(testsupport::scratchDir()).filePath("none.png"))));
    const QString junk = QDir(testsupport::scratchDir()).filePath("junk.png");
    {
        QFile f(junk);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("not a picture at all");
    }
    EXPECT_FALSE(design->importImage(QUrl::fromLocalFile(junk)));
    EXPECT_TRUE(design->layers().isEmpty());
    EXPECT_TRUE(log.posted.empty());

    const QString path = writePhoto("plain.png", 400, 300);
    ASSERT_TRUE(design->importImage(QUrl::fromLocalFile(path)));
    ASSERT_EQ(design->layers().size(), 1);
    const auto photo = design->imageLayer();
    ASSERT_TRUE(photo);
    EXPECT_EQ(photo->layerName(), QStringLiteral("imageLayer"));
    EXPECT_EQ(photo->controlNibName(), QStringLiteral("ImageLayerControl"));
    EXPECT_EQ(photo->imageFileName(), path);
    EXPECT_EQ(design->originalImageSize(), QSizeF(400, 300));
    // No density in the file: 72 for both.
    EXPECT_EQ(design->exportMetadataForKey("kCGImagePropertyDPIWidth").toDouble(), 72);
    EXPECT_EQ(design->exportMetadataForKey("kCGImagePropertyDPIHeight").toDouble(), 72);
    EXPECT_EQ(design->framedSizeString(), QStringLiteral("10 x 7.5"));
    EXPECT_EQ(design->dictionaryForAnalytics().value("Total Layers").toInt(), 0);
}

TEST(KTTemplatePhoto, ANewPhotoReplacesTheOldOneInPlace)
{
    auto design = designWithPhoto(writePhoto("first.png", 400, 300));
    auto frame = std::make_shared<RingFrameLayer>(0.1, 0.1, 0.1, 0.1);
    design->addTopmostFrameLayer(frame);
    const auto oldPhoto = design->imageLayer();
    NotificationLog log(design.get());
    ASSERT_TRUE(design->importImage(QUrl::fromLocalFile(writePhoto("second.png", 200, 400, 300))));
    EXPECT_EQ(log.count("modelChanged"), 3);
    ASSERT_EQ(design->layers().size(), 2);
    EXPECT_EQ(design->layers()[0], frame);
    EXPECT_NE(design->imageLayer(), oldPhoto);
    EXPECT_EQ(design->originalImageSize(), QSizeF(200, 400));
    // The photo's one resolution goes under both keys.
    EXPECT_NEAR(design->exportMetadataForKey("kCGImagePropertyDPIWidth").toDouble(), 300, 0.5);
    EXPECT_NEAR(design->exportMetadataForKey("kCGImagePropertyDPIHeight").toDouble(), 300, 0.5);
    ASSERT_TRUE(design->metadataManager());

    // The old photo is heard no more; the new one is.
    log.posted.clear();
    oldPhoto->setCropLeft(0.2);
    EXPECT_TRUE(log.posted.empty());
    design->imageLayer()->setCropLeft(0.2);
    EXPECT_EQ(log.count("layerChanged"), 1);
    EXPECT_EQ(design->onlyHQLayer(), design->imageLayer().get());
}

TEST(KTTemplatePhoto, ReplaceDesignKeepsThisPhotoAndTakesTheOtherCrop)
{
    auto design = designWithPhoto(writePhoto("mine.png", 400, 300));
    design->addTopmostFrameLayer(std::make_shared<RingFrameLayer>(0.1, 0.1, 0.1, 0.1));
    design->addTopmostLayer(std::make_shared<KTTextOverlayLayer>());
    const auto myPhoto = design->imageLayer();

    auto other = designWithPhoto(writePhoto("theirs.png", 100, 100));
    auto outer = std::make_shared<RingFrameLayer>(0.2, 0.2, 0.2, 0.2);
    auto inner = std::make_shared<RingFrameLayer>(0.05, 0.05, 0.05, 0.05);
    auto text = std::make_shared<KTTextOverlayLayer>();
    other->addTopmostFrameLayer(inner);
    other->addTopmostFrameLayer(outer);
    other->addTopmostLayer(text);
    other->imageLayer()->setCropLeft(0.1);
    other->imageLayer()->setCropTop(0.2);
    other->imageLayer()->setCropRight(0.3);
    other->imageLayer()->setCropBottom(0.15);
    other->imageLayer()->setHidden(true);

    design->replaceDesignWith(other);
    ASSERT_EQ(design->layers().size(), 4);
    EXPECT_EQ(design->layers()[0], text);
    EXPECT_EQ(design->layers()[1], outer);
    EXPECT_EQ(design->layers()[2], inner);
    EXPECT_EQ(design->imageLayer(), myPhoto);
    EXPECT_EQ(design->originalImageSize(), QSizeF(400, 300));
    EXPECT_DOUBLE_EQ(myPhoto->cropLeft(), 0.1);
    EXPECT_DOUBLE_EQ(myPhoto->cropTop(), 0.2);
    EXPECT_DOUBLE_EQ(myPhoto->cropRight(), 0.3);
    EXPECT_DOUBLE_EQ(myPhoto->cropBottom(), 0.15);
    EXPECT_TRUE(myPhoto->hidden());
}

TEST(KTTemplatePhoto, HiddenPhotoLeavesItsPlaceEmpty)
{
    auto design = designWithPhoto(writePhoto("hidden.png", 400, 300));
    design->addTopmostFrameLayer(std::make_shared<EvenMatLayer>(0.25));
    // Framed: 400 + 2 x 75 = 550 wide, 300 + 150 = 450 high; drawn at that size.
    QImage shown = blankCanvas(550, 450);
    {
        platform::DrawingContext ctx(shown);
        design->drawToRect(QRectF(0, 0, 550, 450), true, true, nullptr, false);
    }
    EXPECT_EQ(pixelYUp(shown, 275, 300), QColor(Qt::green)); // the photo's top half
    EXPECT_EQ(pixelYUp(shown, 275, 150), QColor(Qt::blue));
    EXPECT_EQ(pixelYUp(shown, 30, 225), QColor(Qt::red));

    design->imageLayer()->setHidden(true);
    QImage hidden = blankCanvas(550, 450);
    {
        platform::DrawingContext ctx(hidden);
        design->drawToRect(QRectF(0, 0, 550, 450), true, true, nullptr, false);
    }
    EXPECT_EQ(pixelYUp(hidden, 275, 225).alpha(), 0);
    EXPECT_EQ(pixelYUp(hidden, 30, 225), QColor(Qt::red));
    EXPECT_EQ(pixelYUp(hidden, 80, 225).alpha(), 0); // just inside the mat's window
}

TEST(KTTemplatePhoto, LockedRatioFramesThePortraitDesign)
{
    auto design = designWithPhoto(writePhoto("portrait.png", 300, 400));
    design->addTopmostFrameLayer(std::make_shared<EvenMatLayer>(0.1));
    design->setLockedAspectRatio(1.5); // not locked yet: nothing happens
    EXPECT_DOUBLE_EQ(design->imageLayer()->cropLeft(), 0);
    design->setIsLockedAspectRatio(true);
    const QSizeF framed = design->sizeFromOriginalWithOuterShadow(false);
    EXPECT_NEAR(framed.width() / framed.height(), 1 / 1.5, 1e-3);
    // The cut is shared evenly around the remembered centre.
    EXPECT_NEAR(design->imageLayer()->cropLeft(), design->imageLayer()->cropRight(), 1e-9);
    EXPECT_GT(design->imageLayer()->cropLeft(), 0);

    // Later edits keep the ratio.
    design->addTopmostFrameLayer(std::make_shared<EvenMatLayer>(0.2));
    const QSizeF again = design->sizeFromOriginalWithOuterShadow(false);
    EXPECT_NEAR(again.width() / again.height(), 1 / 1.5, 2e-3);
}

TEST(KTTemplatePhoto, LockedWithoutARatioLeavesTheCrop)
{
    auto design = designWithPhoto(writePhoto("unlocked.png", 300, 400));
    design->imageLayer()->setCropTop(0.1);
    design->setIsLockedAspectRatio(true); // ratio 0: nothing a crop can reach
    EXPECT_DOUBLE_EQ(design->imageLayer()->cropTop(), 0.1);
    EXPECT_DOUBLE_EQ(design->imageLayer()->cropLeft(), 0);
}

TEST(KTTemplatePhoto, OuterShadowOnlyWhenExportedAndCast)
{
    auto design = designWithPhoto(writePhoto("shadow.png", 400, 300));
    auto frame = std::make_shared<EvenMatLayer>(0.1);
    design->addTopmostFrameLayer(frame);
    EXPECT_EQ(design->sizeFromOriginalWithOuterShadow(true), design->sizeFromOriginalWithOuterShadow(false));
    design->setExportExternalShadow(true);
    EXPECT_GT(design->sizeFromOriginalWithOuterShadow(true).height(),
              design->sizeFromOriginalWithOuterShadow(false).height());
    frame->setDropShadow(false);
    EXPECT_EQ(design->sizeFromOriginalWithOuterShadow(true), design->sizeFromOriginalWithOuterShadow(false));
}

TEST(KTTemplatePhoto, ReportWalksFromThePhotoOutwards)
{
    auto design = designWithPhoto(writePhoto("report.png", 400, 300));
    design->addTopmostFrameLayer(std::make_shared<EvenMatLayer>(0.1));
    const QVariantList report = design->reportForRealSize();
    ASSERT_EQ(report.size(), 2);
    const QVariantMap photo = report[0].toMap();
    EXPECT_EQ(photo.value("Title").toString(), QStringLiteral("report.png"));
    EXPECT_EQ(photo.value("Size").toSizeF(), QSizeF(10, 7.5));
    EXPECT_EQ(design->framedSizeString(), QStringLiteral("11.5 x 9"));
}

TEST(KTTemplatePhoto, CopyForRenderingDrawsTheSamePhoto)
{
    auto design = designWithPhoto(writePhoto("copy.png", 400, 300));
    design->addTopmostFrameLayer(std::make_shared<RingFrameLayer>(0.1, 0.1, 0.1, 0.1));
    design->imageLayer()->setCropBottom(0.25);
    auto copy = design->copyForRendering();
    ASSERT_TRUE(copy->imageLayer());
    EXPECT_NE(copy->imageLayer(), design->imageLayer());
    EXPECT_DOUBLE_EQ(copy->imageLayer()->cropBottom(), 0.25);
    QImage a = blankCanvas(300, 200), b = blankCanvas(300, 200);
    {
        platform::DrawingContext ctx(a);
        design->drawToRect(QRectF(0, 0, 300, 200), true, true, nullptr, false);
    }
    {
        platform::DrawingContext ctx(b);
        copy->setExportMode(true);
        copy->drawToRect(QRectF(0, 0, 300, 200), true, true, nullptr, false);
    }
    EXPECT_EQ(a, b);
}
