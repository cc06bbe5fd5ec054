#include "DesignTestLayers.h"
#include "platform/ExternalTestReaders.h"
#include "support/TestSupport.h"

#include "design/KTDataFromTemplateOperation.h"
#include "design/KTExportSizeSettings.h"
#include "design/KTImageLayer.h"
#include "design/KTProgressReportingDataProvider.h"
#include "design/KTTemplateRenderer.h"
#include "design/VLImage.h"
#include "platform/Alert.h"
#include "platform/Bundle.h"
#include "platform/TypeTable.h"
#include "platform/UserDefaults.h"
#include "platform/codec/CodecErrors.h"
#include "platform/codec/ImageEncoder.h"
#include "platform/imaging/JpegDecoder.h"
#include "platform/imaging/PhotoRows.h"

#include <QBuffer>
#include <QColorSpace>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QImageWriter>
#include <QPainter>
#include <QThreadPool>

#include <gtest/gtest.h>

#include <atomic>

#include <unistd.h>

using namespace designtest;

namespace {

constexpr const char *kDate = "2019:08:07 06:05:04";
constexpr const char *kHeadline = "Lighthouse in fog";

// A camera photo: 300 x 200 stored, orientation 6 (upright 200 x 300),
// 240 dpi, a date, a headline.
QString writeCameraPhoto(const QString &name)
{
    QImage image(300, 200, QImage::Format_RGB32);
    image.fill(QColor(20, 120, 60));
    const QString path = QDir(testsupport::scratchDir()).filePath(name);
    QImageWriter writer(path, "jpeg");
    writer.setQuality(95);
    EXPECT_TRUE(writer.write(image));
    auto file = Exiv2::ImageFactory::open(path.toStdString());
    file->readMetadata();
    Exiv2::ExifData exif;
    exif["Exif.Image.Orientation"] = uint16_t(6);
    exif["Exif.Image.XResolution"] = Exiv2::URational(240, 1);
    exif["Exif.Image.YResolution"] = Exiv2::URational(240, 1);
    exif["Exif.Image.ResolutionUnit"] = uint16_t(2);
    exif["Exif.Image.Software"] = std::string("Camera 1.0");
    exif["Exif.Photo.DateTimeOriginal"] = std::string(kDate);
    Exiv2::IptcData iptc;
    iptc["Iptc.Application2.Headline"] = std::string(kHeadline);
    file->setExifData(exif);
    file->setIptcData(iptc);
    file->writeMetadata();
    return path;
}

// The photo inside a half-transparent ring: the export has real alpha.
std::shared_ptr<KTTemplate> framedDesign(const QString &photo)
{
    auto design = std::make_shared<KTTemplate>();
    EXPECT_TRUE(design->importImage(QUrl::fromLocalFile(photo)));
    design->addTopmostFrameLayer(std::make_shared<RingFrameLayer>(0.1, 0.1, 0.1, 0.1, QColor(200, 30, 30, 128)));
    return design;
}

// Layers only (no photo): a fill and a ring, 3 layers with an inner ring.
std::shared_ptr<KTTemplate> layerDesign(std::shared_ptr<FillLayer> *fill = nullptr)
{
    auto design = std::make_shared<KTTemplate>();
    auto photo = std::make_shared<FillLayer>(Qt::blue);
    design->insertLayer(photo, 0);
    design->insertLayer(std::make_shared<RingFrameLayer>(0.1, 0.1, 0.1, 0.1, Qt::white), 0);
    design->insertLayer(std::make_shared<RingFrameLayer>(0.1, 0.1, 0.1, 0.1, Qt::red), 0);
    if (fill)
        *fill = photo;
    return design;
}

QString scratch(const QString &name)
{
    return QDir(testsupport::scratchDir()).filePath(name);
}

// Fails the test when anything tries to raise an alert.
struct NoAlerts {
    NoAlerts()
    {
        platform::setAlertPresenter([](const platform::AlertRequest &r) {
            ADD_FAILURE() << "alert raised: " << r.messageText.toStdString();
            return 0;
        });
    }
    ~NoAlerts() { platform::setAlertPresenter(nullptr); }
};

} // namespace

TEST(KTTemplateExport, BitmapIsWholePixelsTransparentAroundTheDesign)
{
    auto design = std::make_shared<KTTemplate>();
    design->insertLayer(std::make_shared<FillLayer>(Qt::blue), 0);
    design->insertLayer(std::make_shared<EvenMatLayer>(0.25), 0);
    const QImage bitmap = design->newCGBitmapContextOfSize(QSizeF(100.7, 50.2), nullptr);
    ASSERT_FALSE(bitmap.isNull());
    EXPECT_EQ(bitmap.size(), QSize(100, 50));
    EXPECT_EQ(bitmap.bytesPerLine(), 400);
    // The framed 5 : 3 design is centred in the 2 : 1 bitmap; the sides stay clear.
    EXPECT_EQ(bitmap.pixelColor(0, 25).alpha(), 0);
    EXPECT_EQ(bitmap.pixelColor(99, 25).alpha(), 0);
    EXPECT_EQ(bitmap.pixelColor(50, 25), QColor(Qt::blue));
    EXPECT_EQ(bitmap.pixelColor(50, 1), QColor(Qt::red));
}

TEST(KTTemplateExport, ProgressRunsOverLayersThenRowsToExactlyHundred)
{
    auto design = layerDesign();
    std::vector<double> seen;
    std::vector<KTTemplate *> senders;
    auto image = design->newDataProvidedCGImageOfSize(
        QSizeF(120, 80),
        [&](KTTemplate *sender, double p) {
            seen.push_back(p);
            senders.push_back(sender);
        },
        [](KTTemplate *) { return false; });
    ASSERT_TRUE(image);
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_DOUBLE_EQ(seen[0], 50.0 / 3);
    EXPECT_DOUBLE_EQ(seen[1], 100.0 / 3);
    EXPECT_DOUBLE_EQ(seen[2], 50.0);

    for (const char *type : {platform::TypeTable::kJPEG, platform::TypeTable::kPNG, platform::TypeTable::kTIFF,
                             platform::TypeTable::kPSD}) {
        SCOPED_TRACE(type);
        seen.clear();
        const auto data = design->newDataOfUti(QString::fromLatin1(type), image);
        ASSERT_TRUE(data);
        ASSERT_GE(seen.size(), 80u);
        EXPECT_GT(seen.front(), 50.0);
        EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
        EXPECT_DOUBLE_EQ(seen.back(), 100.0);
    }
    for (KTTemplate *sender : senders)
        EXPECT_EQ(sender, design.get());
}

TEST(KTTemplateExport, CancelWhileTheEncoderReadsGivesNoDataAndNoProgressForThatRead)
{
    auto design = layerDesign();
    int reads = 0;
    double last = 0;
    bool cancel = false;
    auto image = design->newDataProvidedCGImageOfSize(
        QSizeF(120, 80), [&](KTTemplate *, double p) { last = p; ++reads; }, [&](KTTemplate *) { return cancel; });
    ASSERT_TRUE(image);
    for (const char *type : {platform::TypeTable::kJPEG, platform::TypeTable::kPNG, platform::TypeTable::kTIFF,
                             platform::TypeTable::kPSD}) {
        SCOPED_TRACE(type);
        reads = 0;
        cancel = false;
        // Cancel once a third of the rows are read.
        auto provider = KTCreateProgressReportingDataProvider(
            image->bitmap(), design.get(),
            [&](KTTemplate *, double p) {
                last = p;
                ++reads;
                cancel = p > 66;
            },
            [&](KTTemplate *) { return cancel; });
        platform::Error error;
        EXPECT_FALSE(design->newDataOfUti(QString::fromLatin1(type), provider, &error));
        EXPECT_EQ(error.code, int(platform::CodecError::Cancelled));
        EXPECT_LT(last, 100.0);
        const int readsAtCancel = reads;
        EXPECT_FALSE(design->newDataOfUti(QString::fromLatin1(type), provider));
        EXPECT_EQ(reads, readsAtCancel);

        // A cancelled write leaves no file behind.
        const QString path = scratch(QStringLiteral("cancelled.%1").arg(reads));
        EXPECT_FALSE(design->writeToURL(QUrl::fromLocalFile(path), QString::fromLatin1(type), provider));
        EXPECT_FALSE(QFileInfo::exists(path));
    }
}

TEST(KTTemplateExport, EveryFormatCarriesThePhotosMetadataUpright)
{
    NoAlerts noAlerts;
    auto design = framedDesign(writeCameraPhoto("camera.jpg"));
    design->setExportQuality(0.8);
    EXPECT_DOUBLE_EQ(design->exportMetadataForKey("kCGImageDestinationLossyCompressionQuality").toDouble(), 0.8);
    // Upright 200 x 300 with 10 % on every side, at the photo's own size.
    const QSizeF size = design->sizeFromOriginalWithOuterShadow(true);
    EXPECT_EQ(size, QSizeF(240, 360));
    auto image = design->newDataProvidedCGImageOfSize(size, nullptr, nullptr);
    ASSERT_TRUE(image);
    const QString software = platform::ExportMetadata::softwareString(platform::Bundle::shortVersionString());

    struct Case {
        const char *type;
        const char *extension;
        bool alpha;
        const char *resolutionTag;
        bool bands = false;
    };
    for (const Case &c : {Case{platform::TypeTable::kJPEG, "jpg", false, "JFIF:XResolution"},
                          Case{platform::TypeTable::kJPEG, "bands.jpg", false, "JFIF:XResolution", true},
                          Case{platform::TypeTable::kPNG, "png", true, "PNG-pHYs:PixelsPerUnitX"},
                          Case{platform::TypeTable::kPNG, "bands.png", true, "PNG-pHYs:PixelsPerUnitX", true},
                          Case{platform::TypeTable::kTIFF, "tif", true, "IFD0:XResolution"},
                          Case{platform::TypeTable::kTIFF, "bands.tif", true, "IFD0:XResolution", true},
                          Case{platform::TypeTable::kPSD, "psd", true, "Photoshop:XResolution"},
                          Case{platform::TypeTable::kPSD, "bands.psd", true, "Photoshop:XResolution", true}}) {
        SCOPED_TRACE(c.extension);
        const QString path = scratch(QStringLiteral("framed.%1").arg(c.extension));
        platform::Error error;
        const QUrl url = QUrl::fromLocalFile(path);
        ASSERT_TRUE(c.bands ? design->writeInBandsToURL(url, QString::fromLatin1(c.type), size, nullptr, nullptr, &error, 48)
                            : design->writeToURL(url, QString::fromLatin1(c.type), image, &error))
            << error.description.toStdString();

        EXPECT_EQ(externalreaders::identifyFormat(path, "%w %h"), QStringLiteral("240 360"));
        const QString channels = externalreaders::identifyFormat(path, "%[channels]");
        EXPECT_EQ(channels.contains(QLatin1String("a")), c.alpha) << channels.toStdString();
        const QJsonObject tags = externalreaders::exiftool(path);
        const double resolution = tags.value(c.resolutionTag).toDouble();
        EXPECT_NEAR(resolution, QString::fromLatin1(c.extension).endsWith(QLatin1String("png")) ? 240 / 0.0254 : 240, 1)
            << c.resolutionTag;
        EXPECT_EQ(tags.value("IFD0:Software").toString(), software);
        EXPECT_EQ(tags.value("IFD0:Orientation").toInt(), 1);
        EXPECT_EQ(tags.value("ExifIFD:DateTimeOriginal").toString(), QString::fromLatin1(kDate));
        const QString headline = tags.value("IPTC:Headline").toString() + tags.value("XMP-photoshop:Headline").toString();
        EXPECT_TRUE(headline.contains(QLatin1String(kHeadline))) << headline.toStdString();
        EXPECT_FALSE(tags.contains("IFD1:ThumbnailImage"));
        EXPECT_EQ(tags.value("ExifIFD:ExifImageWidth").toInt(), 240);
        if (QString::fromLatin1(c.extension).endsWith(QLatin1String("jpg"))) {
            EXPECT_EQ(externalreaders::identifyFormat(path, "%Q"), QStringLiteral("80"));
        }
    }

    // The photo's green, stood upright, sits where the ring leaves it; the
    // half-transparent ring keeps its alpha in PNG and is laid onto white in JPEG.
    QImage png(scratch("framed.png"));
    EXPECT_EQ(png.pixelColor(120, 180), QColor(20, 120, 60));
    EXPECT_NEAR(png.pixelColor(5, 5).alpha(), 128, 1);
    QImage jpeg(scratch("framed.jpg"));
    EXPECT_EQ(jpeg.pixelColor(5, 5).alpha(), 255);
    EXPECT_NEAR(jpeg.pixelColor(5, 5).green(), 128 + 15, 6);
    // Made a band of rows at a time, the picture is the same.
    EXPECT_EQ(QImage(scratch("framed.bands.jpg")), jpeg);
    EXPECT_EQ(QImage(scratch("framed.bands.png")), png);
    // Every tag as the whole picture's file has it.
    for (const char *extension : {"png", "tif", "psd"}) {
        QJsonObject whole = externalreaders::exiftool(scratch(QStringLiteral("framed.%1").arg(extension)));
        QJsonObject banded = externalreaders::exiftool(scratch(QStringLiteral("framed.bands.%1").arg(extension)));
        for (QJsonObject *tags : {&whole, &banded}) {
            for (const QString &key : tags->keys()) {
                if (key.startsWith(QLatin1String("System:")) || key == QLatin1String("SourceFile"))
                    tags->remove(key);
            }
        }
        EXPECT_EQ(banded, whole) << extension;
    }
}

TEST(KTTemplateExport, BandByBandProgressRunsToHundredAndCancelLeavesNoFile)
{
    auto design = framedDesign(writeCameraPhoto("bands.jpg"));
    const QSizeF size = design->sizeFromOriginalWithOuterShadow(true);
    const QUrl url = QUrl::fromLocalFile(scratch("bands-out.jpg"));
    std::vector<double> seen;
    ASSERT_TRUE(design->writeInBandsToURL(url, platform::TypeTable::kJPEG, size,
                                          [&](KTTemplate *, double p) { seen.push_back(p); }, nullptr, nullptr, 48));
    ASSERT_GE(seen.size(), 360u);
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
    EXPECT_DOUBLE_EQ(seen.back(), 100.0);

    // Cancelled part-way, before and while the bands are encoded: no file, the old one kept.
    QFile::remove(url.toLocalFile());
    for (const double at : {10.0, 60.0}) {
        bool cancel = false;
        platform::Error error;
        EXPECT_FALSE(design->writeInBandsToURL(
            url, platform::TypeTable::kJPEG, size, [&](KTTemplate *, double p) { cancel = p > at; },
            [&](KTTemplate *) { return cancel; }, &error, 48));
        EXPECT_EQ(error.code, int(platform::CodecError::Cancelled));
        EXPECT_FALSE(QFileInfo::exists(url.toLocalFile()));
    }
}

TEST(KTTemplateExport, WithoutResolutionNoResolutionTagsButSoftwareAndOrientation)
{
    auto design = framedDesign(writeCameraPhoto("nodpi.jpg"));
    design->setMetadataValue(QVariant(), "kCGImagePropertyDPIWidth");
    design->setMetadataValue(QVariant(), "kCGImagePropertyDPIHeight");
    const platform::ExportMetadata meta = design->prepareMetadataForExport(QSize(240, 360));
    EXPECT_FALSE(meta.dpi());
    EXPECT_EQ(meta.exif().findKey(Exiv2::ExifKey("Exif.Image.XResolution")), meta.exif().end());
    EXPECT_EQ(meta.software(), platform::ExportMetadata::softwareString(platform::Bundle::shortVersionString()));
    const auto orientation = meta.exif().findKey(Exiv2::ExifKey("Exif.Image.Orientation"));
    ASSERT_NE(orientation, meta.exif().end());
    EXPECT_EQ(orientation->toLong(), 1);
    EXPECT_FALSE(design->exportQuality());
}

TEST(KTTemplateExport, FailedWritesAnswerNoAndKeepTheOldFile)
{
    auto design = layerDesign();
    auto image = design->newDataProvidedCGImageOfSize(QSizeF(64, 48), nullptr, nullptr);
    ASSERT_TRUE(image);

    // A read-only folder: no, and nothing left behind. Root writes anywhere
    // on a writable file system, so it gets one that is not.
    const bool root = geteuid() == 0;
    const QString folder = root ? QStringLiteral("/proc") : scratch("readonly");
    if (!root) {
        ASSERT_TRUE(QDir().mkpath(folder));
        QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    }
    platform::Error error;
    EXPECT_FALSE(design->writeToURL(QUrl::fromLocalFile(folder + "/out.jpg"), platform::TypeTable::kJPEG, image, &error));
    EXPECT_FALSE(error.description.isEmpty());
    EXPECT_FALSE(QFileInfo::exists(folder + "/out.jpg"));
    if (!root) {
        EXPECT_TRUE(QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden).isEmpty());
        QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }

    // A type we can't write: no, and the old file stays as it was.
    const QString existing = scratch("keep.jpg");
    {
        QFile f(existing);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("the user's old file");
    }
    EXPECT_FALSE(design->writeToURL(QUrl::fromLocalFile(existing), "public.heic", image, &error));
    QFile f(existing);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), QByteArray("the user's old file"));
    EXPECT_FALSE(design->writeToURL(QUrl("http://example.com/x.jpg"), platform::TypeTable::kJPEG, image));
}

TEST(KTTemplateExport, AllocationFailureIsAnErrorWithTheFullByteCountNotAnAlert)
{
    NoAlerts noAlerts;
    auto design = layerDesign();
    platform::Error error;
    // 400,000 pixels a side: 640 GB, more than any machine here has.
    const QImage bitmap = design->newCGBitmapContextOfSize(QSizeF(400000, 400000), nullptr, &error);
    EXPECT_TRUE(bitmap.isNull());
    EXPECT_EQ(error.description, QStringLiteral("Memory allocation error"));
    EXPECT_EQ(error.recoverySuggestion, QStringLiteral("Couldn't allocate 640000000000 bytes"));
    EXPECT_FALSE(design->newDataProvidedCGImageOfSize(QSizeF(400000, 400000), nullptr, nullptr, &error));
    EXPECT_TRUE(design->newCGBitmapContextOfSize(QSizeF(0.5, 10), nullptr, &error).isNull());
}

TEST(KTTemplateExport, SizeFromPreferences)
{
    auto design = framedDesign(writeCameraPhoto("prefs.jpg"));
    // Framed 240 x 360: ratio 2 : 3.
    KTExportSizeSettings settings;
    EXPECT_EQ(design->exportSizeFromPreferencesWithLastDrawnSize(QSizeF(10, 10), settings), QSizeF(240, 360));
    settings.mode = KTExportSizeSettings::LastDrawnSize;
    EXPECT_EQ(design->exportSizeFromPreferencesWithLastDrawnSize(QSizeF(33, 44), settings), QSizeF(33, 44));
    settings.mode = KTExportSizeSettings::FixedHeight;
    EXPECT_EQ(design->exportSizeFromPreferencesWithLastDrawnSize(QSizeF(), settings), QSizeF(400, 600));
    settings.fixHeight = 900;
    EXPECT_EQ(design->exportSizeFromPreferencesWithLastDrawnSize(QSizeF(), settings), QSizeF(600, 900));
    settings.mode = KTExportSizeSettings::FixedWidth;
    settings.fixWidth = 1000;
    EXPECT_EQ(design->exportSizeFromPreferencesWithLastDrawnSize(QSizeF(), settings), QSizeF(1000, 1500));
    settings.mode = 7;
    settings.fixWidth2 = 321;
    settings.fixHeight2 = 123;
    EXPECT_EQ(design->exportSizeFromPreferencesWithLastDrawnSize(QSizeF(), settings), QSizeF(321, 123));

    // Read from a settings file: what it lacks keeps the values above the shell's registration.
    platform::UserDefaults defaults(testsupport::scratchDir() + QStringLiteral("/export-size.conf"));
    defaults.setInteger("ExportSizeModification", 2);
    defaults.setInteger("ExportFixWidth", 1000);
    const KTExportSizeSettings read = KTExportSizeSettings::fromDefaults(defaults);
    EXPECT_EQ(read.mode, KTExportSizeSettings::FixedHeight);
    EXPECT_EQ(read.fixWidth, 1000);
    EXPECT_EQ(read.fixHeight, 600);
    EXPECT_EQ(read.fixHeight2, 600);
}

TEST(KTDataFromTemplateOperation, EncodesACopyOffTheMainThread)
{
    std::shared_ptr<FillLayer> fill;
    auto design = layerDesign(&fill);
    std::atomic<int> finished{0};
    std::vector<double> progress;
    auto op = std::make_shared<KTDataFromTemplateOperation>(
        design, platform::TypeTable::kPNG, QSizeF(90, 60), [](KTTemplate *) { return false; },
        [&](KTTemplate *sender, double p) {
            EXPECT_EQ(sender, design.get());
            progress.push_back(p);
        },
        [&](KTDataFromTemplateOperation *) { ++finished; });
    EXPECT_EQ(op->theTemplate(), design);
    QThreadPool pool;
    pool.start([op] { op->main(); });
    ASSERT_TRUE(pool.waitForDone(testsupport::kHangGuardMs));
    EXPECT_EQ(finished, 1);
    ASSERT_TRUE(op->imageData());
    QImage decoded = QImage::fromData(*op->imageData(), "PNG");
    EXPECT_EQ(decoded.size(), QSize(90, 60));
    EXPECT_DOUBLE_EQ(progress.back(), 100.0);
    // The screen's design was never drawn.
    EXPECT_TRUE(fill->calls.empty());
    EXPECT_FALSE(design->isDrawing());
}

TEST(KTDataFromTemplateOperation, TooSmallOrCancelledDoesNothing)
{
    auto design = layerDesign();
    int finished = 0;
    KTDataFromTemplateOperation small(design, platform::TypeTable::kJPEG, QSizeF(15, 1000), nullptr, nullptr,
                                      [&](KTDataFromTemplateOperation *) { ++finished; });
    small.main();
    EXPECT_EQ(finished, 0);
    EXPECT_FALSE(small.imageData());

    // Cancelled by its block during the drawing: the later layers are not drawn.
    int layersSeen = 0;
    bool stop = false;
    KTDataFromTemplateOperation drawing(
        design, platform::TypeTable::kJPEG, QSizeF(200, 100), [&](KTTemplate *) { return stop; },
        [&](KTTemplate *, double p) {
            ++layersSeen;
            stop = p > 10;
        },
        [&](KTDataFromTemplateOperation *) { ++finished; });
    drawing.main();
    EXPECT_EQ(layersSeen, 1);
    EXPECT_EQ(finished, 0);
    EXPECT_FALSE(drawing.imageData());

    // Cancelled the usual way while the encoder reads.
    std::shared_ptr<KTDataFromTemplateOperation> reading;
    reading = std::make_shared<KTDataFromTemplateOperation>(
        design, platform::TypeTable::kTIFF, QSizeF(200, 100), nullptr,
        [&](KTTemplate *, double p) {
            if (p > 60)
                reading->cancel();
        },
        [&](KTDataFromTemplateOperation *) { ++finished; });
    reading->main();
    EXPECT_TRUE(reading->isCancelled());
    EXPECT_EQ(finished, 0);
    EXPECT_FALSE(reading->imageData());
}

TEST(KTDataFromTemplateOperation, FailedRenderIsReportedNotSwallowed)
{
    auto design = layerDesign();
    int finished = 0;
    KTDataFromTemplateOperation op(design, platform::TypeTable::kJPEG, QSizeF(400000, 400000), nullptr, nullptr,
                                   [&](KTDataFromTemplateOperation *) { ++finished; });
    op.main();
    EXPECT_EQ(finished, 1);
    EXPECT_FALSE(op.imageData());
    EXPECT_EQ(op.error().description, QStringLiteral("Memory allocation error"));
}

TEST(KTTemplateExport, AtThePhotosOwnSizeThePixelsAreThePhotosOwn)
{
    // Every pixel different, so a shift by one shows.
    QImage photo(160, 120, QImage::Format_RGB32);
    for (int y = 0; y < photo.height(); ++y)
        for (int x = 0; x < photo.width(); ++x)
            photo.setPixel(x, y, qRgb(x, y, (x * 7 + y * 3) & 0xff));
    const QString path = scratch("ramp.png");
    ASSERT_TRUE(photo.save(path));
    auto design = std::make_shared<KTTemplate>();
    ASSERT_TRUE(design->importImage(QUrl::fromLocalFile(path)));
    design->imageLayer()->setCropLeft(0.25); // 40 px
    design->imageLayer()->setCropTop(0.25);  // 30 px
    const QSizeF size = design->sizeFromOriginalWithOuterShadow(true);
    ASSERT_EQ(size, QSizeF(120, 90));
    const QImage bitmap = design->newCGBitmapContextOfSize(size, nullptr);
    ASSERT_EQ(bitmap.size(), QSize(120, 90));
    for (const QPoint p : {QPoint(0, 0), QPoint(119, 89), QPoint(57, 33), QPoint(0, 89), QPoint(119, 0)})
        EXPECT_EQ(bitmap.pixel(p), photo.pixel(p + QPoint(40, 30))) << p.x() << "," << p.y();
}

TEST(KTTemplateExport, ExportDrawingOfATurnedCroppedEnlargedPictureMatchesTheScreens)
{
    // Four quadrants of different colours, so a wrong turn or crop shows.
    QImage quadrants(80, 60, QImage::Format_ARGB32_Premultiplied);
    {
        QPainter p(&quadrants);
        p.fillRect(0, 0, 40, 30, Qt::red);
        p.fillRect(40, 0, 40, 30, Qt::green);
        p.fillRect(0, 30, 40, 30, Qt::blue);
        p.fillRect(40, 30, 40, 30, Qt::yellow);
    }
    for (unsigned turns : {0u, 1u, 2u, 3u}) {
        SCOPED_TRACE(turns);
        auto picture = VLImage::initWithNSImage(quadrants, 0);
        picture->setRotation(turns);
        picture->setCrop({0.1, 0.0, 0.0, 0.2});
        picture->addFilter("CIColorControls");
        picture->setValue(0.5, "inputSaturation", "CIColorControls");
        const QRectF rect(10, 10, 150, 120); // larger than the picture either way round
        QImage exported = blankCanvas(170, 140);
        QImage screen = blankCanvas(170, 140);
        {
            platform::DrawingContext ctx(exported);
            picture->drawInRect(rect, true);
        }
        {
            platform::DrawingContext ctx(screen);
            picture->drawInRect(rect, false);
        }
        for (int y = 14; y < 130; y += 9) {
            for (int x = 14; x < 160; x += 9) {
                const QColor a = exported.pixelColor(x, y);
                const QColor b = screen.pixelColor(x, y);
                // Edges between quadrants may sit a pixel apart.
                const bool nearEdge = std::abs(a.red() - b.red()) > 8 || std::abs(a.green() - b.green()) > 8;
                if (nearEdge) {
                    const QColor left = screen.pixelColor(x - 2, y), right = screen.pixelColor(x + 2, y);
                    const QColor up = screen.pixelColor(x, y - 2), down = screen.pixelColor(x, y + 2);
                    EXPECT_TRUE(left != right || up != down) << x << "," << y;
                }
                EXPECT_EQ(a.alpha(), b.alpha()) << x << "," << y;
            }
        }
    }
}

namespace {

// A design over a plain 2048 x 2048 photo large enough to be decoded as it
// is drawn, as the command line and a batch draw it; null when it can't be made.
std::shared_ptr<KTTemplate> designOverPhotoDecodedAsDrawn(const QString &name)
{
    QImage picture(2048, 2048, QImage::Format_RGB32);
    picture.fill(QColor(40, 90, 160));
    const QString path = scratch(name);
    QFile file(path);
    if (!platform::ImageEncoder::writeToFile(path, picture, platform::TypeTable::kJPEG, {}, 0.9, nullptr)
        || !file.open(QIODevice::ReadOnly))
        return nullptr;
    const auto rows = platform::JpegDecoder::decodeAsDrawn(file.readAll());
    if (!rows)
        return nullptr;
    QImage photo = rows->picture();
    photo.setColorSpace(QColorSpace(QColorSpace::SRgb));
    auto design = std::make_shared<KTTemplate>();
    if (!design->importCGImage(photo, QUrl::fromLocalFile(path)) || !design->imageLayer()->image()->rowsAsDrawn())
        return nullptr;
    return design;
}

} // namespace

TEST(KTTemplateExport, ABandComesOutTheSameWhateverItsBufferHeld)
{
    const auto design = designOverPhotoDecodedAsDrawn(QStringLiteral("over.jpg"));
    ASSERT_TRUE(design);
    design->addTopmostFrameLayer(std::make_shared<RingFrameLayer>(0.1, 0.1, 0.1, 0.1, QColor(200, 30, 30, 128)));
    const QSize size = design->sizeFromOriginalWithOuterShadow(true).toSize();
    // Opaque, the photo draws over what lies under it; half transparent, what lies under must be cleared.
    for (const double opacity : {1.0, 0.5}) {
        SCOPED_TRACE(opacity);
        design->imageLayer()->image()->setOpacity(opacity);
        QImage bands[2];
        for (const QRgb held : {qRgba(10, 200, 10, 255), qRgba(0, 0, 0, 0)}) {
            QImage &band = bands[held ? 0 : 1];
            band = QImage(size.width(), 300, QImage::Format_ARGB32_Premultiplied);
            band.fill(held);
            KTTemplateRenderer::drawBandOfSize(*design, size, 100, band, nullptr);
        }
        EXPECT_EQ(bands[0], bands[1]);
        EXPECT_EQ(qAlpha(bands[0].pixel(size.width() / 2, 299)) == 255, opacity == 1.0);
    }
}

namespace {

// Erases a square in the middle of the photo.
class HoleLayer : public KTFrameLayer
{
public:
    QRectF resultingRectForRect(const QRectF &rect) const override { return rect; }
    bool actAsMask() const override { return true; }
    void drawLayerForRect(const QRectF &rect, bool, bool) override
    {
        if (auto *ctx = platform::DrawingContext::current())
            drawAsMask(true,
                       [&] { ctx->fillRect(QRectF(rect.center() - QPointF(50, 50), QSizeF(100, 100)), Qt::black); });
    }
};

} // namespace

// The JPEG writer is told where the opaque photo covers a band and does not
// look there; a layer that erases over the photo must take that back, or the
// hole comes out black instead of white.
TEST(KTTemplateExport, AHoleErasedInThePhotoComesOutWhiteInABandedJpeg)
{
    const auto design = designOverPhotoDecodedAsDrawn(QStringLiteral("erased-photo.jpg"));
    ASSERT_TRUE(design);
    design->addTopmostFrameLayer(std::make_shared<HoleLayer>());
    const QString out = scratch("erased.jpg");
    platform::Error error;
    ASSERT_TRUE(design->writeInBandsToURL(QUrl::fromLocalFile(out), platform::TypeTable::kJPEG, QSizeF(2048, 2048),
                                          nullptr, nullptr, &error, 48))
        << error.description.toStdString();
    const QImage written(out);
    ASSERT_EQ(written.size(), QSize(2048, 2048));
    EXPECT_GT(qGray(written.pixel(1024, 1024)), 245);
    EXPECT_NEAR(qBlue(written.pixel(600, 1024)), 160, 6);
}
