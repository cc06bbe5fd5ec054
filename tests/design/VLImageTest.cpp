#include "design/VLImage.h"
#include "design/BitmapHelpers.h"
#include "platform/archive/KeyedArchiver.h"
#include "platform/archive/KeyedUnarchiver.h"
#include "platform/imaging/Exiv2Support.h"
#include "platform/imaging/ImageProperties.h"
#include "platform/render/DrawingContext.h"
#include "support/ImagingTools.h"

#include <gtest/gtest.h>

#include <QPageSize>
#include <QPdfWriter>

using namespace testsupport;

namespace {

QString quadrantFile(const QString &ext, int w, int h, const QStringList &options = {})
{
    const QString png = scratchFile(QStringLiteral("png"));
    EXPECT_TRUE(quadrantPicture(w, h).save(png));
    if (ext == QLatin1String("png") && options.isEmpty())
        return png;
    const QString out = scratchFile(ext);
    QStringList args{png};
    args << options << QStringLiteral("-quality") << QStringLiteral("95") << out;
    EXPECT_TRUE(runTool(QStringLiteral("convert"), args));
    return out;
}

void setOrientation(const QString &path, int orientation)
{
    platform::initializeExiv2();
    auto image = Exiv2::ImageFactory::open(path.toStdString());
    image->readMetadata();
    image->exifData()["Exif.Image.Orientation"] = uint16_t(orientation);
    image->writeMetadata();
}

void expectQuadrants(const QImage &img, int tolerance = 40)
{
    ASSERT_FALSE(img.isNull());
    const QList<QColor> c = cornerColours(img);
    EXPECT_TRUE(near(c[0], QColor(255, 0, 0), tolerance)) << describe(c[0]).toStdString();
    EXPECT_TRUE(near(c[1], QColor(0, 255, 0), tolerance)) << describe(c[1]).toStdString();
    EXPECT_TRUE(near(c[2], QColor(0, 0, 255), tolerance)) << describe(c[2]).toStdString();
    EXPECT_TRUE(near(c[3], QColor(255, 255, 0), tolerance)) << describe(c[3]).toStdString();
}

// Draws the image into a fresh canvas of `size` through a drawing context.
QImage drawn(VLImage &image, const QSize &size, bool cached)
{
    QImage canvas(size, QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::transparent);
    platform::DrawingContext context(canvas);
    if (cached)
        image.drawCachedInRect(QRectF(QPointF(0, 0), size));
    else
        image.drawInRect(QRectF(QPointF(0, 0), size), true);
    return canvas;
}

} // namespace

TEST(VLImageLoading, EveryExifOrientationStandsUprightInJpeg)
{
    const QStringList storedFrom = {QString(),           QStringLiteral("-flop"),      QStringLiteral("-rotate 180"),
                                    QStringLiteral("-flip"), QStringLiteral("-transpose"), QStringLiteral("-rotate -90"),
                                    QStringLiteral("-transverse"), QStringLiteral("-rotate 90")};
    for (int orientation = 1; orientation <= 8; ++orientation) {
        SCOPED_TRACE(orientation);
        const QString path =
            quadrantFile(QStringLiteral("jpg"), 80, 60, storedFrom[orientation - 1].split(' ', Qt::SkipEmptyParts));
        setOrientation(path, orientation);
        auto image = VLImage::initWithContentsOfFile(path, true);
        ASSERT_TRUE(image);
        EXPECT_EQ(image->originalSize(), QSizeF(80, 60));
        expectQuadrants(image->bitmapCtx());
        EXPECT_EQ(image->metadata().orientation(), orientation);
    }
}

TEST(VLImageLoading, QuarterTurnedPhotoSwapsItsSize)
{
    const QString path = quadrantFile(QStringLiteral("jpg"), 40, 30);
    setOrientation(path, 6);
    auto image = VLImage::initWithContentsOfFile(path);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->originalSize(), QSizeF(30, 40));
    EXPECT_TRUE(image->metadata().isNull()); // not kept unless asked for
    EXPECT_EQ(image->originalImageFileName(), QFileInfo(path).fileName());
    EXPECT_EQ(image->originalImageFileData().size(), QFileInfo(path).size());
}

TEST(VLImageLoading, FormatsBeyondJpeg)
{
    for (const QString &ext : {QStringLiteral("png"), QStringLiteral("tif"), QStringLiteral("heic"), QStringLiteral("psd"),
                              QStringLiteral("webp")}) {
        SCOPED_TRACE(ext.toStdString());
        auto image = VLImage::initWithContentsOfFile(quadrantFile(ext, 64, 48, {QStringLiteral("-strip")}), true);
        ASSERT_TRUE(image);
        EXPECT_FALSE(image->isPDF());
        expectQuadrants(image->bitmapCtx());
        EXPECT_FALSE(image->metadata().isNull());
    }
}

TEST(VLImageLoading, DamagedOrMissingFilesGiveNoImage)
{
    EXPECT_FALSE(VLImage::initWithContentsOfFile(QString()));
    EXPECT_FALSE(VLImage::initWithContentsOfFile(scratchDir() + QStringLiteral("/missing.jpg")));
    const QString path = quadrantFile(QStringLiteral("jpg"), 300, 200);
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray whole = f.readAll();
    f.close();
    const QString cut = scratchFile(QStringLiteral("jpg"));
    QFile out(cut);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write(whole.left(whole.size() / 2));
    out.close();
    platform::Error error;
    EXPECT_FALSE(VLImage::initWithContentsOfFile(cut, true, &error));
    EXPECT_TRUE(error.description.startsWith(QStringLiteral("The picture \u201c") + QFileInfo(cut).fileName()
                                 + QStringLiteral("\u201d could not be opened."))) << error.description.toStdString();
    const QString text = scratchFile(QStringLiteral("jpg"));
    QFile t(text);
    ASSERT_TRUE(t.open(QIODevice::WriteOnly));
    t.write("this is not a picture");
    t.close();
    EXPECT_FALSE(VLImage::initWithContentsOfFile(text));
}

TEST(VLImageDrawing, CacheIsReusedUntilSomethingChanges)
{
    auto image = VLImage::initWithContentsOfFile(quadrantFile(QStringLiteral("png"), 200, 100));
    ASSERT_TRUE(image);
    const QSize size(100, 50);
    drawn(*image, size, true);
    drawn(*image, size, true);
    EXPECT_EQ(image->renderCount(), 1);

    // The cache test notices each change on the next cached draw.
    auto redrawCount = [&](const std::function<void()> &change) {
        const int before = image->renderCount();
        change();
        QImage canvas(size, QImage::Format_ARGB32_Premultiplied);
        platform::DrawingContext context(canvas);
        image->drawInRect(QRectF(0, 0, 100, 50), false);
        return image->renderCount() - before;
    };
    EXPECT_EQ(redrawCount([] {}), 0);
    EXPECT_EQ(redrawCount([&] { image->setRotation(1); }), 1);
    EXPECT_EQ(redrawCount([&] { image->updateCropWithPercentageLeft(0.1, 0, 0, 0); }), 1);
    EXPECT_EQ(redrawCount([&] { image->setValue(0.5, QStringLiteral("inputSaturation"), QStringLiteral("CIColorControls")); }), 1);
    EXPECT_EQ(redrawCount([] {}), 0);

    // A skipping draw renders every time and leaves the cached layer alone.
    const QImage cached = image->cachedLayer();
    drawn(*image, size, false);
    drawn(*image, size, false);
    EXPECT_EQ(image->cachedLayer().cacheKey(), cached.cacheKey());
}

TEST(VLImageDrawing, RotationAndCropApplyToTheTurnedPicture)
{
    auto image = VLImage::initWithContentsOfFile(quadrantFile(QStringLiteral("png"), 200, 100));
    ASSERT_TRUE(image);
    expectQuadrants(drawn(*image, QSize(200, 100), false), 2);

    // A quarter turn clockwise: blue at the top left.
    image->setRotation(1);
    EXPECT_EQ(image->rotatedOriginalSize(), QSizeF(100, 200));
    const QImage turned = drawn(*image, QSize(100, 200), false);
    const QList<QColor> c = cornerColours(turned);
    EXPECT_TRUE(near(c[0], QColor(0, 0, 255), 2)) << describe(c[0]).toStdString();
    EXPECT_TRUE(near(c[1], QColor(255, 0, 0), 2)) << describe(c[1]).toStdString();
    EXPECT_TRUE(near(c[2], QColor(255, 255, 0), 2)) << describe(c[2]).toStdString();
    EXPECT_TRUE(near(c[3], QColor(0, 255, 0), 2)) << describe(c[3]).toStdString();

    // Cutting the left half of the turned picture leaves red and green.
    image->updateCropWithPercentageLeft(0.5, 0, 0, 0);
    const QImage half = drawn(*image, QSize(50, 200), false);
    EXPECT_TRUE(near(half.pixelColor(25, 5), QColor(255, 0, 0), 2));
    EXPECT_TRUE(near(half.pixelColor(25, 194), QColor(0, 255, 0), 2));

    // Opacity reaches the canvas.
    image->setRotation(0);
    image->updateCropWithPercentageLeft(0, 0, 0, 0);
    image->setOpacity(0.5);
    EXPECT_NEAR(drawn(*image, QSize(200, 100), false).pixelColor(5, 5).alpha(), 128, 2);
}

TEST(VLImageDrawing, FilterChainOrderAndEdits)
{
    auto image = VLImage::initWithContentsOfFile(quadrantFile(QStringLiteral("png"), 20, 20));
    ASSERT_TRUE(image);
    EXPECT_FALSE(image->getFilter(QStringLiteral("CIExposureAdjust")));
    image->setValue(1.0, QStringLiteral("inputEV"), QStringLiteral("CIExposureAdjust"));
    image->addFilter(QStringLiteral("CIColorControls"));
    ASSERT_EQ(image->filters().size(), 2u);
    EXPECT_EQ(image->filters()[0]->name(), QStringLiteral("CIColorControls"));
    EXPECT_EQ(image->getFilter(QStringLiteral("CIExposureAdjust"))->value(QStringLiteral("inputEV")).toDouble(), 1.0);
    image->removeFilter(QStringLiteral("CIColorMonochrome"));
    EXPECT_EQ(image->filters().size(), 2u);
    image->removeFilter(QStringLiteral("CIColorControls"));
    EXPECT_EQ(image->filters().size(), 1u);

    image->setValue(0.0, QStringLiteral("inputSaturation"), QStringLiteral("CIColorControls"));
    const QColor c = drawn(*image, QSize(20, 20), false).pixelColor(2, 2);
    EXPECT_EQ(c.red(), c.green());
}

TEST(VLImageDrawing, PictureOfARectAndSides)
{
    auto image = VLImage::initWithContentsOfFile(quadrantFile(QStringLiteral("png"), 300, 200));
    ASSERT_TRUE(image);
    image->updateCropWithPercentageLeft(0.2, 0.1, 0.3, 0.1);
    const QImage whole = image->newCGImageOfSize(QSizeF(100, 100), QRectF(0, 0, 300, 200));
    EXPECT_EQ(whole.size(), QSize(100, 100));
    expectQuadrants(whole, 2);
    EXPECT_EQ(image->crop(), (VLImage::Crop{0.2, 0.1, 0.3, 0.1}));
    // The bottom right quarter (origin at the bottom left).
    const QImage corner = image->newCGImageOfSize(QSizeF(10, 10), QRectF(150, 0, 150, 100));
    EXPECT_TRUE(near(corner.pixelColor(5, 5), QColor(255, 255, 0), 2));

    EXPECT_EQ(image->nsimageWithSide(72).size(), QSize(72, 48));
    auto tall = VLImage::initWithContentsOfFile(quadrantFile(QStringLiteral("png"), 200, 300));
    EXPECT_EQ(tall->nsimageWithSide(72).size(), QSize(48, 72));
    EXPECT_EQ(image->croppedSizeFromSize(QSizeF(300, 200)), QSizeF(150, 160));
}

TEST(VLImageDrawing, CopiesForRenderingShareThePixels)
{
    auto image = VLImage::initWithContentsOfFile(quadrantFile(QStringLiteral("png"), 60, 40), true);
    ASSERT_TRUE(image);
    image->setValue(0.0, QStringLiteral("inputSaturation"), QStringLiteral("CIColorControls"));
    image->setRotation(2);
    auto copy = image->copyForRendering();
    EXPECT_EQ(copy->bitmapCtx().constBits(), image->bitmapCtx().constBits());
    EXPECT_TRUE(copy->metadata().isSameObject(image->metadata()));
    EXPECT_EQ(copy->rotation(), 2u);
    // Filters are copies: editing the screen's does not reach the export's.
    image->setValue(1.0, QStringLiteral("inputSaturation"), QStringLiteral("CIColorControls"));
    EXPECT_EQ(copy->getFilter(QStringLiteral("CIColorControls"))->value(QStringLiteral("inputSaturation")).toDouble(), 0.0);
}

TEST(VLImageDrawing, RotatedCopiesAndPdfRotation)
{
    auto image = VLImage::initWithContentsOfFile(quadrantFile(QStringLiteral("png"), 30, 20));
    auto turned = image->imageRotatedBy(1);
    EXPECT_EQ(turned->originalSize(), QSizeF(20, 30));
    EXPECT_TRUE(near(turned->bitmapCtx().pixelColor(1, 1), QColor(0, 0, 255), 0));
    EXPECT_TRUE(image->imageRotatedBy(0)->bitmapCtx() == image->bitmapCtx());
}

TEST(VLImageArchive, RoundTripDecodesFromATemporaryCopy)
{
    const QString path = quadrantFile(QStringLiteral("jpg"), 40, 30);
    auto image = VLImage::initWithContentsOfFile(path, true);
    ASSERT_TRUE(image);
    const auto archived = image->encodeWithCoder();
    ASSERT_EQ(archived.size(), 2u);
    EXPECT_EQ(archived[0].first, QStringLiteral("filename"));
    EXPECT_EQ(archived[1].first, QStringLiteral("filedata"));
    QVariantMap map;
    for (const auto &[k, v] : archived)
        map.insert(k, v);

    QString copyPath;
    {
        auto decoded = VLImage::initWithCoder(map);
        ASSERT_TRUE(decoded);
        copyPath = decoded->originalImageFilePath();
        EXPECT_EQ(QFileInfo(copyPath).fileName(), QFileInfo(path).fileName());
        EXPECT_TRUE(copyPath.startsWith(QDir::tempPath()));
        EXPECT_NE(QFileInfo(copyPath).absolutePath(), QFileInfo(path).absolutePath());
        EXPECT_TRUE(QFile::exists(copyPath));
        EXPECT_TRUE(decoded->metadata().isNull());
        EXPECT_EQ(decoded->originalSize(), QSizeF(40, 30));
    }
    // The temporary copy goes with the object.
    EXPECT_FALSE(QFile::exists(copyPath));
    EXPECT_FALSE(QFileInfo::exists(QFileInfo(copyPath).absolutePath()));
}

TEST(VLImageArchive, HostileNamesStayInsideTheTemporaryFolder)
{
    const QString path = quadrantFile(QStringLiteral("png"), 10, 10);
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray data = f.readAll();
    for (const QString &name : {QStringLiteral("../../evil.png"), QStringLiteral("/etc/passwd"), QStringLiteral(".."),
                               QStringLiteral("")}) {
        SCOPED_TRACE(name.toStdString());
        auto decoded = VLImage::initWithCoder({{QStringLiteral("filename"), name}, {QStringLiteral("filedata"), data}});
        ASSERT_TRUE(decoded);
        const QString p = decoded->originalImageFilePath();
        EXPECT_TRUE(QFileInfo(p).absoluteFilePath().startsWith(QDir(QDir::tempPath()).absolutePath() + QStringLiteral("/kantelo-image-")));
        EXPECT_FALSE(QFileInfo(p).fileName().contains(QStringLiteral("..")));
    }
    EXPECT_FALSE(VLImage::initWithCoder({{QStringLiteral("filename"), QStringLiteral("a.png")}}));
    EXPECT_FALSE(VLImage::initWithCoder({{QStringLiteral("filedata"), data}}));
    EXPECT_FALSE(VLImage::initWithCoder({{QStringLiteral("filename"), QStringLiteral("a.png")},
                                         {QStringLiteral("filedata"), QByteArray("garbage")}}));
    // Nothing to archive without file bytes.
    EXPECT_TRUE(VLImage::initWithBitmapContext(quadrantPicture(4, 4))->encodeWithCoder().empty());
}

TEST(VLImagePdf, PageKeepsItsSizeTurnsAndCrops)
{
    const QString path = scratchFile(QStringLiteral("pdf"));
    {
        QPdfWriter writer(path);
        writer.setPageSize(QPageSize(QSizeF(200, 100), QPageSize::Point));
        writer.setPageMargins(QMarginsF(0, 0, 0, 0));
        writer.setResolution(72);
        QPainter p(&writer);
        p.drawImage(QRectF(0, 0, 200, 100), quadrantPicture(200, 100));
    }
    auto image = VLImage::initWithContentsOfFile(path, true);
    ASSERT_TRUE(image);
    EXPECT_TRUE(image->isPDF());
    EXPECT_NEAR(image->originalSize().width(), 200, 0.5);
    EXPECT_NEAR(image->originalSize().height(), 100, 0.5);
    EXPECT_EQ(image->metadata().value(platform::ImageProperty::kFileName).toString(), QFileInfo(path).fileName());
    expectQuadrants(drawn(*image, QSize(200, 100), false), 10);

    // A cropped PDF is drawn cropped: the right half only.
    image->updateCropWithPercentageLeft(0.5, 0, 0, 0);
    const QImage right = drawn(*image, QSize(100, 100), false);
    EXPECT_TRUE(near(right.pixelColor(5, 5), QColor(0, 255, 0), 10)) << describe(right.pixelColor(5, 5)).toStdString();
    EXPECT_TRUE(near(right.pixelColor(5, 94), QColor(255, 255, 0), 10));

    image->setPDFRotationDegrees(-90);
    EXPECT_EQ(image->PDFRotationDegrees(), 270);
    EXPECT_NEAR(image->originalSize().width(), 100, 0.5);
    image->setPDFRotationDegrees(180);
    EXPECT_NEAR(image->originalSize().width(), 100, 0.5);

    auto turned = image->imageRotatedBy(1);
    EXPECT_EQ(turned->PDFRotationDegrees(), 90);
    EXPECT_NEAR(turned->originalSize().width(), 100, 0.5);
}

TEST(VLWvImage, RotationCodesAndOrientations)
{
    using namespace VLW_vImage;
    EXPECT_EQ(vImageRotationForQuarterTurns(0), 0);
    EXPECT_EQ(vImageRotationForQuarterTurns(1), 3);
    EXPECT_EQ(vImageRotationForQuarterTurns(3), 1);
    EXPECT_EQ(vImageRotationForQuarterTurns(4), 0);
    for (int o : {1, 2, 0, 9, 4, 5, 7})
        EXPECT_EQ(quarterTurnsForEXIFOrientation(o), 0u) << o;
    EXPECT_EQ(quarterTurnsForEXIFOrientation(3), 2u);
    EXPECT_EQ(quarterTurnsForEXIFOrientation(6), 1u);
    EXPECT_EQ(quarterTurnsForEXIFOrientation(8), 3u);
}

TEST(VLWvImage, FittingRects)
{
    using namespace VLW_vImage;
    const QRectF image(0, 0, 200, 100);
    const QRectF box(10, 20, 100, 100);
    EXPECT_EQ(rectForImageSizeInRect(0, 0, image, box), QRectF(10, 45, 100, 50));
    EXPECT_EQ(rectForImageSizeInRect(0, 6, image, box), QRectF(10, 20, 100, 50));
    EXPECT_EQ(rectForImageSizeInRect(2, 3, image, box), QRectF(-90, 20, 200, 100));
    EXPECT_EQ(rectForImageSizeInRect(1, 3, image, box), box);
    EXPECT_EQ(rectForImageSizeInRect(0, 1, image, box), QRectF(10, 70, 100, 50));
}

TEST(VLWvImage, RotateScaleAndNarrow)
{
    using namespace VLW_vImage;
    QImage context = VLW_vImageCreateBitmapContext(QColorSpace(), 300.7, 200.2);
    ASSERT_EQ(context.size(), QSize(300, 200));
    EXPECT_EQ(context.pixel(0, 0), 0u);
    EXPECT_EQ(context.colorSpace(), QColorSpace(QColorSpace::SRgb));
    {
        QPainter p(&context);
        p.drawImage(0, 0, quadrantPicture(300, 200));
    }
    const QImage quarter = VLW_vImageRotateContext(context, 3);
    ASSERT_EQ(quarter.size(), QSize(200, 300));
    EXPECT_EQ(quarter.pixel(0, 0), context.pixel(0, 199));
    const QImage half = VLW_vImageRotateContext(context, 2);
    EXPECT_EQ(half.pixel(0, 0), context.pixel(299, 199));
    EXPECT_EQ(VLW_vImageRotateContext(context, 0).cacheKey(), context.cacheKey());

    Buffer buffer;
    EXPECT_EQ(VLW_vImageBufferFromContext(&buffer, context), 0);
    const std::size_t rowBytes = buffer.rowBytes;
    uchar *start = static_cast<uchar *>(buffer.data);
    EXPECT_EQ(VLW_vImageBufferCropToRect(&buffer, QRectF(10, 5, 20, 20)), 5 * rowBytes + 40);
    EXPECT_EQ(static_cast<uchar *>(buffer.data), start + 5 * rowBytes + 40);
    EXPECT_EQ(buffer.width, 20u);
    EXPECT_EQ(buffer.rowBytes, rowBytes);

    const QImage part = VLW_vImageScaleContextRect(context, true, QRectF(150, 100, 150, 100), 30, 20);
    EXPECT_EQ(part.size(), QSize(30, 20));
    EXPECT_TRUE(near(part.pixelColor(15, 10), QColor(255, 255, 0), 1));

    Buffer owned;
    ASSERT_EQ(VLW_vImageBufferAlloc(&owned, 10, 16, 32), 0);
    EXPECT_EQ(reinterpret_cast<quintptr>(owned.data) % 4096, 0u);
    EXPECT_EQ(owned.rowBytes, 64u);
    std::memset(owned.data, 0xff, owned.rowBytes * owned.height);
    const QImage wrapped = VLW_vImageContextFromBuffer(owned, QColorSpace());
    EXPECT_EQ(wrapped.pixel(3, 3), 0xffffffffu);
}

TEST(VLImageArchive, KeyedArchiveRoundTrip)
{
    VLImage::registerArchiveClass();
    const QString path = quadrantFile(QStringLiteral("png"), 30, 20);
    auto image = VLImage::initWithContentsOfFile(path);
    ASSERT_TRUE(image);
    const QByteArray archive = platform::KeyedArchiver::archivedDataWithRootObject(
        std::static_pointer_cast<const platform::Coding>(image), QStringLiteral("image"));
    const auto result = platform::KeyedUnarchiver::unarchiveTopLevelObjectWithData(archive, QStringLiteral("image"));
    ASSERT_TRUE(result.ok()) << result.error().description.toStdString();
    auto back = std::dynamic_pointer_cast<VLImage>(result.value().value<std::shared_ptr<platform::Coding>>());
    ASSERT_TRUE(back);
    EXPECT_TRUE(back->hasPicture());
    EXPECT_EQ(back->originalImageFileName(), QFileInfo(path).fileName());
    EXPECT_EQ(back->originalImageFileData(), image->originalImageFileData());
    expectQuadrants(back->bitmapCtx(), 0);

    // A picture with no file bytes archives nothing and comes back without a picture.
    auto bare = VLImage::initWithBitmapContext(quadrantPicture(4, 4));
    const QByteArray empty = platform::KeyedArchiver::archivedDataWithRootObject(
        std::static_pointer_cast<const platform::Coding>(bare), QStringLiteral("image"));
    const auto none = platform::KeyedUnarchiver::unarchiveTopLevelObjectWithData(empty, QStringLiteral("image"));
    auto nothing = std::dynamic_pointer_cast<VLImage>(none.valueOr({}).value<std::shared_ptr<platform::Coding>>());
    ASSERT_TRUE(nothing);
    EXPECT_FALSE(nothing->hasPicture());
}
