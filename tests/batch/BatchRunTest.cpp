#include "BatchTestSupport.h"

#include "batch/KTBatchProcessingCoordinator.h"
#include "batch/KTImageProcessor.h"
#include "design/KTFrameLayer.h"
#include "design/KTImageOverlayLayer.h"
#include "design/KTMoldingFrameLayer.h"
#include "design/KTTextOverlayLayer.h"
#include "design/VLImage.h"
#include "platform/FileBytes.h"
#include "platform/TypeTable.h"
#include "platform/codec/ImageEncoder.h"
#include "platform/imaging/ImageDecoder.h"
#include "platform/imaging/JpegDecoder.h"
#include "platform/imaging/ParallelRows.h"
#include "platform/objectstore/ManagedObjectContext.h"
#include "platform/render/ShadowCache.h"
#include "scenes/SceneLibrary.h"
#include "scenes/ScenePictures.h"
#include "stores/Frame.h"
#include "support/ImagingTools.h"

#include <QDirIterator>
#include <QFile>
#include <QImageReader>
#include <QPdfWriter>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QThreadPool>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <thread>

using namespace batchtest;

namespace {

QString freshFolder(const QString &name)
{
    const QString path = QDir(testsupport::scratchDir()).filePath(name);
    QDir(path).removeRecursively();
    QDir().mkpath(path);
    return path;
}

QStringList filesIn(const QString &folder)
{
    QStringList names = QDir(folder).entryList(QDir::Files | QDir::Hidden);
    names.sort();
    return names;
}

struct Results {
    QStringList succeeded;
    QStringList failed;
    QStringList reasons;
    bool finished = false;
    bool cancelled = false;
    explicit Results(KTBatchProcessingCoordinator &c)
    {
        QObject::connect(&c, &KTBatchProcessingCoordinator::fileSucceeded, [this](const QUrl &, const QString &out) {
            // Told only once the file is in place.
            EXPECT_TRUE(QFileInfo::exists(out)) << out.toStdString();
            succeeded << QFileInfo(out).fileName();
        });
        QObject::connect(&c, &KTBatchProcessingCoordinator::fileFailed, [this](const QUrl &in, const QString &why) {
            failed << QFileInfo(in.toLocalFile()).fileName();
            reasons << why;
        });
        QObject::connect(&c, &KTBatchProcessingCoordinator::processingFinished, [this](int, int, bool c) {
            finished = true;
            cancelled = c;
        });
    }
};

} // namespace

TEST(BatchScan, FoldersGiveTheirPicturesOnceHiddenAndPackagesLeftOut)
{
    const QString root = freshFolder(QStringLiteral("scan"));
    writePhoto(root + QStringLiteral("/a.jpg"));
    writePhoto(root + QStringLiteral("/deep/er/b.png"));
    writePhoto(root + QStringLiteral("/deep/c.tif"));
    writePhoto(root + QStringLiteral("/.hidden.jpg"));
    writePhoto(root + QStringLiteral("/.cache/d.jpg"));
    writePhoto(root + QStringLiteral("/Design.KTTemplate/Image/e.jpg"));
    QFile gif(root + QStringLiteral("/f.gif"));
    ASSERT_TRUE(gif.open(QIODevice::WriteOnly) && gif.write("GIF89a") == 6);
    gif.close();
    QFile(root + QStringLiteral("/notes.txt")).open(QIODevice::WriteOnly);

    auto names = [&](const QList<QUrl> &urls) {
        QStringList out;
        for (const QUrl &u : urls)
            out << QDir(root).relativeFilePath(u.toLocalFile());
        return out;
    };
    EXPECT_EQ(names(KTBatchProcessingCoordinator::scanDirectoryForImages(QUrl::fromLocalFile(root))),
              (QStringList{QStringLiteral("a.jpg"), QStringLiteral("deep/c.tif"), QStringLiteral("deep/er/b.png")}));
    // Chosen directly, a hidden file or a GIF is taken; a file chosen twice occurs once.
    const QList<QUrl> chosen{QUrl::fromLocalFile(root), QUrl::fromLocalFile(root + QStringLiteral("/a.jpg")),
                             QUrl::fromLocalFile(root + QStringLiteral("/f.gif")),
                             QUrl::fromLocalFile(root + QStringLiteral("/.hidden.jpg"))};
    EXPECT_EQ(names(KTBatchProcessingCoordinator::scanItemsForImages(chosen)),
              (QStringList{QStringLiteral(".hidden.jpg"), QStringLiteral("a.jpg"), QStringLiteral("deep/c.tif"),
                           QStringLiteral("deep/er/b.png"), QStringLiteral("f.gif")}));
    EXPECT_TRUE(KTBatchProcessingCoordinator::scanItemsForImages({QUrl::fromLocalFile(freshFolder(QStringLiteral("empty")))}).isEmpty());
    EXPECT_EQ(KTBatchProcessingCoordinator::sharedParentDirectoryForFiles(
                  {QUrl::fromLocalFile(root + QStringLiteral("/a.jpg")), QUrl::fromLocalFile(root + QStringLiteral("/f.gif"))}),
              QUrl::fromLocalFile(root));
    EXPECT_TRUE(KTBatchProcessingCoordinator::sharedParentDirectoryForFiles(
                    {QUrl::fromLocalFile(root + QStringLiteral("/a.jpg")), QUrl::fromLocalFile(root + QStringLiteral("/deep/c.tif"))})
                    .isEmpty());
}

TEST(BatchNames, PrefixSuffixAndTheGuardsAgainstCollisionsAndOverwrites)
{
    const QString src = freshFolder(QStringLiteral("names"));
    const QUrl img(QUrl::fromLocalFile(src + QStringLiteral("/IMG_1.JPG")));
    EXPECT_EQ(options({img}, KTImageFileFormat::PNGFileFormat(), nullptr, QStringLiteral("framed_"))->outputFileNameForInput(img),
              QStringLiteral("framed_IMG_1.png"));
    EXPECT_EQ(options({img}, KTImageFileFormat::TIFFFileFormat(), nullptr, QStringLiteral("framed_"), QStringLiteral("_framed"))
                  ->outputFileNameForInput(img),
              QStringLiteral("framed_IMG_1_framed.tiff"));

    // Into the photos' own folder with no prefix: a.png would become a.jpg,
    // which is another photo of the batch; b.jpg would overwrite itself.
    const QUrl a = QUrl::fromLocalFile(writePhoto(src + QStringLiteral("/a.png")));
    const QUrl aj = QUrl::fromLocalFile(writePhoto(src + QStringLiteral("/a.jpg")));
    const QUrl b = QUrl::fromLocalFile(writePhoto(src + QStringLiteral("/sub/b.jpg")));
    const QUrl b2 = QUrl::fromLocalFile(writePhoto(src + QStringLiteral("/other/b.jpg")));
    auto plan = KTBatchProcessingCoordinator::planOutputs(*options({a, aj}, KTImageFileFormat::JPGFileFormat()),
                                                          QUrl::fromLocalFile(src));
    EXPECT_EQ(plan.problems.size(), 2);
    plan = KTBatchProcessingCoordinator::planOutputs(*options({b, b2}, KTImageFileFormat::PNGFileFormat()),
                                                     QUrl::fromLocalFile(src));
    ASSERT_EQ(plan.problems.size(), 1);
    EXPECT_TRUE(plan.problems.first().contains(QStringLiteral("b.png")));
    plan = KTBatchProcessingCoordinator::planOutputs(
        *options({b}, KTImageFileFormat::PNGFileFormat(), nullptr, QStringLiteral("../")), QUrl::fromLocalFile(src));
    EXPECT_EQ(plan.problems.size(), 1);

    // Refused before anything is written, and the photos stay as they were.
    KTBatchProcessingCoordinator coordinator;
    const QByteArray before = [&] { QFile f(aj.toLocalFile()); f.open(QIODevice::ReadOnly); return f.readAll(); }();
    platform::Error error;
    EXPECT_FALSE(coordinator.startBatchProcessingWithOptions(options({a, aj, b, b2}, KTImageFileFormat::JPGFileFormat()),
                                                             QUrl::fromLocalFile(src), &error));
    EXPECT_EQ(error.userInfo.value(QStringLiteral("problems")).toStringList().size(), 3);
    EXPECT_FALSE(coordinator.isProcessing());
    QFile after(aj.toLocalFile());
    ASSERT_TRUE(after.open(QIODevice::ReadOnly));
    EXPECT_EQ(after.readAll(), before);
    EXPECT_FALSE(KTImageProcessor::processImageAtURL(aj, *options({aj}, KTImageFileFormat::JPGFileFormat()),
                                                     QUrl::fromLocalFile(src), &error));
}

TEST(BatchRun, FourFormatsWrittenADamagedFileReportedTheRestWritten)
{
    const QString src = freshFolder(QStringLiteral("run-src"));
    QList<QUrl> files;
    for (const char *name : {"p1.jpg", "p2.png", "broken.jpg", "p4.tif"})
        files << QUrl::fromLocalFile(writePhoto(src + QLatin1Char('/') + QLatin1String(name)));
    {
        QFile damaged(files.at(2).toLocalFile());
        ASSERT_TRUE(damaged.open(QIODevice::ReadWrite));
        const QByteArray head = damaged.read(600);
        damaged.resize(0);
        damaged.write(head);
    }
    const auto design = matDesign();
    for (const KTImageFileFormat &format : KTImageFileFormat::allFormats()) {
        const QString dst = freshFolder(QStringLiteral("run-") + format.name());
        KTBatchProcessingCoordinator coordinator;
        Results results(coordinator);
        ASSERT_TRUE(coordinator.startBatchProcessingWithOptions(options(files, format, nullptr, QStringLiteral("f_")),
                                                                QUrl::fromLocalFile(dst)));
        EXPECT_TRUE(coordinator.isProcessing());
        ASSERT_TRUE(testsupport::waitUntil([&] { return results.finished; }));
        EXPECT_EQ(results.failed, QStringList{QStringLiteral("broken.jpg")});
        EXPECT_TRUE(results.reasons.first().contains(QRegularExpression("\\). Choose another photo")))
            << results.reasons.first().toStdString();
        EXPECT_EQ(results.succeeded.size(), 3);
        const QString ext = format.fileExtensions().first();
        EXPECT_EQ(filesIn(dst), (QStringList{QStringLiteral("f_p1.") + ext, QStringLiteral("f_p2.") + ext,
                                             QStringLiteral("f_p4.") + ext}));
        // "From original": the framed size of the 300 x 200 photo, as ImageMagick reads it.
        const QSize framed = design->finalRectFromStartRect(QRectF(0, 0, 300, 200), true).size().toSize();
        EXPECT_GT(framed.width(), 300);
        EXPECT_EQ(identifySize(QDir(dst).filePath(QStringLiteral("f_p1.") + ext)),
                  QStringLiteral("%1 %2").arg(framed.width()).arg(framed.height()))
            << qPrintable(format.name());
    }
    EXPECT_EQ(KTBatchProcessingCoordinator().processingQueue()->objectName(),
              QStringLiteral("com.velmoorsoft.Kantelo3.KTBatchProcessingCoordinator.Processing"));
}

TEST(BatchRun, APhotoTooLargeForTheMemoryIsRefusedForItsSizeNotAsDamaged)
{
    platform::ImageDecoder::setMachineMemory(qint64(4) << 30);
    KTBatchProcessingCoordinator coordinator;
    Results results(coordinator);
    const QUrl huge = QUrl::fromLocalFile(QStringLiteral(KANTELO_TEST_DATA_DIR "/huge-30000x30000.png"));
    ASSERT_TRUE(coordinator.startBatchProcessingWithOptions(options({huge}, KTImageFileFormat::allFormats().first()),
                                                            QUrl::fromLocalFile(freshFolder(QStringLiteral("run-huge")))));
    ASSERT_TRUE(testsupport::waitUntil([&] { return results.finished; }));
    platform::ImageDecoder::setMachineMemory(0);
    ASSERT_EQ(results.reasons.size(), 1);
    EXPECT_TRUE(results.reasons.first().contains("30000 × 30000") && !results.reasons.first().contains("damaged"))
        << results.reasons.first().toStdString();
}

TEST(BatchRun, FixedSizesAndCancelLeavesOnlyWholeFiles)
{
    const QString src = freshFolder(QStringLiteral("cancel-src"));
    QList<QUrl> files;
    for (int i = 0; i < 24; ++i)
        files << QUrl::fromLocalFile(writePhoto(src + QStringLiteral("/p%1.jpg").arg(i, 2, 10, QLatin1Char('0')), 1600, 1200));
    auto fixed = std::make_shared<KTImageScaling>(*KTImageScaling::defaultScaling());
    fixed->setType(KTImageScalingTypeFixInSize);
    fixed->setWidth(800);
    fixed->setHeight(600);
    platform::Error error;
    const QString one = freshFolder(QStringLiteral("fixed"));
    ASSERT_TRUE(KTImageProcessor::processImageAtURL(files.first(), *options(files, KTImageFileFormat::PNGFileFormat(), fixed),
                                                    QUrl::fromLocalFile(one), &error));
    EXPECT_EQ(identifySize(one + QStringLiteral("/p00.png")), QStringLiteral("800 600"));
    auto wide = std::make_shared<KTImageScaling>(*fixed);
    wide->setType(KTImageScalingTypeCustomWidth);
    wide->setWidth(500);
    ASSERT_TRUE(KTImageProcessor::processImageAtURL(files.first(), *options(files, KTImageFileFormat::PNGFileFormat(), wide),
                                                    QUrl::fromLocalFile(one), &error));
    const QSizeF framed = matDesign()->finalRectFromStartRect(QRectF(0, 0, 1600, 1200), true).size();
    EXPECT_EQ(identifySize(one + QStringLiteral("/p00.png")),
              QStringLiteral("500 %1").arg(int(500 * framed.height() / framed.width())));

    // A picture too large for memory fails that file with the reason, and writes nothing.
    auto huge = std::make_shared<KTImageScaling>(*fixed);
    huge->setWidth(600000000);
    huge->setHeight(10);
    const QString none = freshFolder(QStringLiteral("huge"));
    EXPECT_FALSE(KTImageProcessor::processImageAtURL(files.first(), *options(files, KTImageFileFormat::PNGFileFormat(), huge),
                                                     QUrl::fromLocalFile(none), &error));
    EXPECT_TRUE(error.description.contains(QStringLiteral("600000000 \u00d7 10 pixels, which needs about")))
        << error.description.toStdString();
    EXPECT_TRUE(filesIn(none).isEmpty());
    // A photo gone since it was added says so, with no advice for a damaged one.
    EXPECT_FALSE(KTImageProcessor::processImageAtURL(QUrl::fromLocalFile(src + QStringLiteral("/gone.jpg")),
                                                     *options(files, KTImageFileFormat::PNGFileFormat(), fixed),
                                                     QUrl::fromLocalFile(none), &error));
    EXPECT_TRUE(error.description.contains("“gone.jpg” is no longer there")) << error.description.toStdString();
    EXPECT_TRUE(error.recoverySuggestion.isEmpty());
    // A JPEG decoded reduced for a fixed size is checked at the size it decodes to.
    platform::ImageDecoder::setMachineMemory(qint64(2) << 20);
    const bool reduced = KTImageProcessor::processImageAtURL(
        files.first(), *options(files, KTImageFileFormat::PNGFileFormat(), fixed), QUrl::fromLocalFile(none), &error);
    platform::ImageDecoder::setMachineMemory(0);
    EXPECT_FALSE(reduced);
    EXPECT_TRUE(error.description.contains("1600 × 1200") && !error.description.contains("damaged"))
        << error.description.toStdString();
    EXPECT_TRUE(filesIn(none).isEmpty());

    // A PDF chosen directly is framed from its page.
    const QString pdfPath = src + QStringLiteral("/page.pdf");
    {
        QPdfWriter pdf(pdfPath);
        QPainter painter(&pdf);
        painter.fillRect(QRect(0, 0, 2000, 1500), Qt::darkGreen);
    }
    ASSERT_TRUE(KTImageProcessor::processImageAtURL(QUrl::fromLocalFile(pdfPath),
                                                    *options(files, KTImageFileFormat::PNGFileFormat(), fixed),
                                                    QUrl::fromLocalFile(one), &error))
        << qPrintable(error.description);
    EXPECT_EQ(identifySize(one + QStringLiteral("/page.png")), QStringLiteral("800 600"));

    const QString dst = freshFolder(QStringLiteral("cancel-dst"));
    KTBatchProcessingCoordinator coordinator;
    Results results(coordinator);
    ASSERT_TRUE(coordinator.startBatchProcessingWithOptions(options(files, KTImageFileFormat::TIFFFileFormat()),
                                                            QUrl::fromLocalFile(dst)));
    ASSERT_TRUE(testsupport::waitUntil([&] { return !results.succeeded.isEmpty(); }));
    coordinator.cancelProcessing();
    ASSERT_TRUE(testsupport::waitUntil([&] { return results.finished; }));
    EXPECT_TRUE(results.cancelled);
    EXPECT_TRUE(results.failed.isEmpty());
    EXPECT_LT(results.succeeded.size(), files.size());
    results.succeeded.sort();
    EXPECT_EQ(filesIn(dst), results.succeeded);
    for (const QString &name : filesIn(dst))
        EXPECT_FALSE(identifySize(QDir(dst).filePath(name)).isEmpty()) << qPrintable(name);
}

TEST(BatchRun, JpegDrawnInBandsIsTheWholeCanvasWithItsMetadata)
{
    const QString dst = freshFolder(QStringLiteral("bands"));
    const QUrl photo = QUrl::fromLocalFile(writePhoto(dst + "/tall.jpg", 900, 1500));
    auto tall = std::make_shared<KTImageScaling>(*KTImageScaling::defaultScaling());
    tall->setType(KTImageScalingTypeFixInSize); // scaled up, several bands of rows high
    tall->setWidth(1100);
    tall->setHeight(2000);
    tall->setDpi(240);
    const QUrl out = QUrl::fromLocalFile(freshFolder(QStringLiteral("bands/out")));
    const KTImageFileFormat jpeg = KTImageFileFormat::JPGFileFormat();
    ASSERT_TRUE(KTImageProcessor::processImageAtURL(photo, *options({photo}, KTImageFileFormat::PNGFileFormat(), tall), out));
    ASSERT_TRUE(KTImageProcessor::processImageAtURL(photo, *options({photo}, jpeg, tall), out));
    // The whole canvas, as the PNG keeps it, through the same encoder.
    const QImage whole(dst + "/out/tall.png");
    ASSERT_TRUE(platform::ImageEncoder::writeToFile(dst + "/whole.jpg", whole, jpeg.UTI(), {}, tall->imageQuality(), nullptr));
    const QImage a = QImage(dst + "/out/tall.jpg").convertToFormat(QImage::Format_RGB32);
    const QImage b = QImage(dst + "/whole.jpg").convertToFormat(QImage::Format_RGB32);
    ASSERT_TRUE(a.size() == whole.size() && whole.height() > 1536);
    EXPECT_LE(testsupport::worstChannelDifference(a, b), 1);
    EXPECT_NEAR(a.dotsPerMeterX(), 240 / 0.0254, 1);
    QFile file(dst + "/out/tall.jpg");
    EXPECT_TRUE(file.open(QIODevice::ReadOnly) && file.readAll().contains(QByteArray("Exif\0\0", 6)));
}

TEST(BatchPreviews, ThumbnailsStandUprightAndPreviewsLiveInTheSessionFolder)
{
    const QString src = freshFolder(QStringLiteral("previews"));
    const QString turned = writePhoto(src + QStringLiteral("/turned.jpg"), 400, 200);
    ASSERT_TRUE(testsupport::runProgram(QStringLiteral("exiftool"), {QStringLiteral("-overwrite_original"),
                                                                     QStringLiteral("-Orientation#=6"), turned})
                    .succeeded());
    EXPECT_EQ(KTImageProcessor::sizeOfImageAtURL(QUrl::fromLocalFile(turned)), QSize(200, 400));
    EXPECT_TRUE(KTImageProcessor::sizeOfImageAtURL(QUrl::fromLocalFile(src + QStringLiteral("/none.jpg"))).isEmpty());

    const QByteArray data = matDesign()->dataForArchiving();
    KTBatchProcessingCoordinator coordinator;
    const QImage thumb = coordinator.thumbnailForImageAtURL(QUrl::fromLocalFile(turned), data, QSize(100, 80));
    ASSERT_FALSE(thumb.isNull());
    EXPECT_LE(std::max(thumb.width(), thumb.height()), 100);
    EXPECT_LT(thumb.width(), thumb.height());

    const QUrl preview = coordinator.largePreviewFileURLForImageAtURL(QUrl::fromLocalFile(turned), data);
    ASSERT_TRUE(preview.isLocalFile());
    EXPECT_EQ(identifySize(preview.toLocalFile()).split(QLatin1Char(' ')).value(1).toInt() <= 400, true);
    EXPECT_TRUE(preview.toLocalFile().startsWith(KTBatchProcessingCoordinator::previewsRootFolder()));
    EXPECT_TRUE(coordinator.largePreviewFileURLForImageAtURL(QUrl::fromLocalFile(src + QStringLiteral("/none.jpg")), data).isEmpty());
    coordinator.purgeGeneratedPreview(QUrl::fromLocalFile(turned));
    EXPECT_TRUE(QFileInfo::exists(turned));
    coordinator.purgeGeneratedPreview(preview);
    EXPECT_FALSE(QFileInfo::exists(preview.toLocalFile()));

    const QUrl kept = coordinator.largePreviewFileURLForImageAtURL(QUrl::fromLocalFile(turned), data);
    QSignalSpy finished(&coordinator, &KTBatchProcessingCoordinator::didFinish);
    coordinator.finish();
    EXPECT_FALSE(QFileInfo::exists(kept.toLocalFile()));
    EXPECT_TRUE(finished.wait(testsupport::kHangGuardMs));
    KTBatchProcessingCoordinator::purgeStaleBatchProcessingPreviews();
    EXPECT_FALSE(QFileInfo::exists(KTBatchProcessingCoordinator::previewsRootFolder()));
}

TEST(BatchRun, LibraryFramesAreDrawnOnWorkersAndTheLibraryIsLeftAsItWas)
{
    scenes::SceneLibrary library;
    Frame *frame = library.colorMat(QStringLiteral("Red mat"), QColor(200, 30, 40));
    auto design = std::make_shared<KTTemplate>();
    design->insertLayer(std::make_shared<KTImageLayer>(), 0);
    design->addTopmostLayer(KTFrameLayer::frameLayerFromFrame(frame));
    ASSERT_TRUE(library.moc()->save());
    const QDateTime used = frame->lastUsed();

    const QString src = freshFolder(QStringLiteral("library-src"));
    const QString dst = freshFolder(QStringLiteral("library-dst"));
    QList<QUrl> files;
    for (int i = 0; i < 24; ++i)
        files << QUrl::fromLocalFile(writePhoto(src + QStringLiteral("/p%1.jpg").arg(i)));
    auto reference = KTBatchProcessingTemplate::initWithExternalTemplate(
        design, QUrl::fromLocalFile(src + "/Red.KTTemplate"), {library.moc(), nullptr});
    KTBatchProcessingCoordinator coordinator;
    Results results(coordinator);
    ASSERT_TRUE(coordinator.startBatchProcessingWithOptions(
        std::make_shared<const KTBatchProcessingOptions>(files, KTImageFileFormat::PNGFileFormat(), reference,
                                                         KTImageScaling::defaultScaling(), QString(), QString()),
        QUrl::fromLocalFile(dst)));
    // Thumbnails are made on other threads at the same time.
    const QByteArray encoded = reference->encoded();
    QImage thumbnail;
    std::atomic<bool> thumbnailMade = false;
    std::thread maker([&] {
        thumbnail = coordinator.thumbnailForImageAtURL(files.first(), encoded, QSize(120, 120));
        thumbnailMade = true;
    });
    const bool ended = testsupport::waitUntil([&] { return results.finished && thumbnailMade; });
    maker.join();
    ASSERT_TRUE(ended);
    EXPECT_EQ(results.succeeded.size(), 24);
    EXPECT_FALSE(thumbnail.isNull());
    const QColor corner = QImage(QDir(dst).filePath(QStringLiteral("p0.png"))).pixelColor(2, 2);
    EXPECT_LE(std::abs(corner.red() - 200) + std::abs(corner.green() - 30) + std::abs(corner.blue() - 40), 6);
    // A batch is no use of the frame: the library has nothing new to save.
    QCoreApplication::processEvents();
    EXPECT_EQ(frame->lastUsed(), used);
    EXPECT_FALSE(library.moc()->hasChanges());
}

TEST(BatchRun, TheMatKeepsItsColourInAProPhotoPhotosFilesAndThumbnail)
{
    const QString src = freshFolder(QStringLiteral("prophoto"));
    QImage photo(300, 200, QImage::Format_RGB32);
    photo.fill(QColor(40, 110, 180));
    photo.setColorSpace(QColorSpace(QColorSpace::ProPhotoRgb));
    const QString path = src + QStringLiteral("/wide.jpg");
    ASSERT_TRUE(photo.save(path, "JPEG", 100));
    const QUrl url = QUrl::fromLocalFile(path);
    const auto design = matDesign();
    const QColor mat(200, 40, 90);
    const auto shownMat = [](const QImage &picture) {
        return picture.convertedToColorSpace(QColorSpace(QColorSpace::SRgb)).pixelColor(2, picture.height() / 2);
    };
    // PNG on one canvas, JPEG a band at a time.
    for (const KTImageFileFormat &format : KTImageFileFormat::allFormats()) {
        const QString ext = format.fileExtensions().first();
        if (ext != QLatin1String("png") && ext != QLatin1String("jpg"))
            continue;
        const QString out = src + QStringLiteral("/framed.") + ext;
        ASSERT_TRUE(KTImageProcessor::processImage(url, *options({url}, format), design, out));
        const QImage written(out);
        ASSERT_EQ(written.colorSpace(), QColorSpace(QColorSpace::ProPhotoRgb));
        EXPECT_LE(testsupport::channelDifference(shownMat(written).rgb(), mat.rgb()), 4) << qPrintable(ext);
    }
    const QImage thumbnail = KTImageProcessor::thumbnailForImageAtURL(url, design, 120);
    ASSERT_FALSE(thumbnail.isNull());
    EXPECT_LE(testsupport::channelDifference(shownMat(thumbnail).rgb(), mat.rgb()), 4);
}

TEST(BatchRun, ADesignMissingFramesFailsItsFilesWithTheReasonAndWritesNothing)
{
    const QString src = freshFolder(QStringLiteral("missing-src"));
    const QString dst = freshFolder(QStringLiteral("missing-dst"));
    const QList<QUrl> files{QUrl::fromLocalFile(writePhoto(src + QStringLiteral("/p1.jpg")))};
    auto design = matDesign();
    design->addTopmostFrameLayer(std::make_shared<KTMoldingFrameLayer>()); // no frame of the library behind it
    auto reference = KTBatchProcessingTemplate::initWithExternalTemplate(
        design, QUrl::fromLocalFile(src + QStringLiteral("/Gone.KTTemplate")), {});
    auto batch = std::make_shared<const KTBatchProcessingOptions>(files, KTImageFileFormat::JPGFileFormat(), reference,
                                                                  KTImageScaling::defaultScaling(), QString(), QString());
    KTBatchProcessingCoordinator coordinator;
    Results results(coordinator);
    ASSERT_TRUE(coordinator.startBatchProcessingWithOptions(batch, QUrl::fromLocalFile(dst)));
    ASSERT_TRUE(testsupport::waitUntil([&] { return results.finished; }));
    EXPECT_EQ(results.failed, QStringList{QStringLiteral("p1.jpg")});
    ASSERT_EQ(results.reasons.size(), 1);
    EXPECT_TRUE(results.reasons.first().contains(QStringLiteral("uses frames missing from the library")))
        << results.reasons.first().toStdString();
    EXPECT_TRUE(filesIn(dst).isEmpty());
}

TEST(BatchRun, ADesignWithoutAnOverlaysPictureOrAnyLayerFramesNothing)
{
    auto noPicture = matDesign();
    auto overlay = std::make_shared<KTImageOverlayLayer>();
    overlay->setImagePath(QStringLiteral("logo.png")); // the name of a picture its design did not carry
    noPicture->addTopmostLayer(overlay);
    KTImageProcessor::Output output;
    output.path = freshFolder(QStringLiteral("unframed")) + QStringLiteral("/out.jpg");
    output.uti = KTImageFileFormat::JPGFileFormat().UTI();
    const QUrl photo = QUrl::fromLocalFile(writePhoto(QFileInfo(output.path).path() + QStringLiteral("/p.jpg")));
    for (const auto &[design, reason] : {std::pair{noPicture, "uses pictures it does not hold: logo.png"},
                                         std::pair{std::make_shared<KTTemplate>(), "holds no layers"}}) {
        platform::Error error;
        EXPECT_FALSE(KTImageProcessor::processImage(photo, design, output, &error));
        EXPECT_TRUE(error.description.contains(reason)) << error.description.toStdString();
        EXPECT_FALSE(QFileInfo::exists(output.path));
    }
}

TEST(BatchRun, ADesignBeyondWhatAPictureMayHoldIsRefusedWithItsReasonBeforeAnythingIsDrawn)
{
    KTImageProcessor::Output output;
    output.path = freshFolder(QStringLiteral("beyond")) + QStringLiteral("/out.jpg");
    output.uti = KTImageFileFormat::JPGFileFormat().UTI();
    const QString photoPath = writePhoto(QFileInfo(output.path).path() + QStringLiteral("/p.jpg"));
    ASSERT_TRUE(testsupport::runProgram(QStringLiteral("exiftool"),
                                        {QStringLiteral("-q"), QStringLiteral("-overwrite_original"),
                                         QStringLiteral("-IPTC:Caption-Abstract=") + QString(1000, QLatin1Char('w')),
                                         photoPath})
                    .succeeded());
    const QUrl photo = QUrl::fromLocalFile(photoPath);
    const auto reason = [&](const std::shared_ptr<KTTemplate> &design) {
        platform::Error error;
        if (KTImageProcessor::processImage(photo, design, output, &error))
            return QStringLiteral("framed");
        EXPECT_FALSE(QFileInfo::exists(output.path));
        return error.description;
    };
    const auto mats = [](int count, double width) {
        auto design = matDesign();
        for (int i = 1; i < count; ++i) {
            auto mat = std::make_shared<KTColorMatLayer>();
            for (auto set : {&KTColorMatLayer::setLeftWidth, &KTColorMatLayer::setRightWidth,
                             &KTColorMatLayer::setTopWidth, &KTColorMatLayer::setBottomWidth})
                (mat.get()->*set)(width);
            design->addTopmostFrameLayer(mat);
        }
        return design;
    };
    const auto texts = [](int count, const QString &text) {
        auto design = matDesign();
        for (int i = 0; i < count; ++i) {
            auto layer = std::make_shared<KTTextOverlayLayer>();
            layer->setOverlayText(platform::StyledText(text));
            design->addTopmostLayer(layer);
        }
        return design;
    };
    // A picture no memory holds, said as such rather than as bytes it could not allocate.
    EXPECT_TRUE(reason(mats(60, 0.4)).contains(QStringLiteral("more than 1000000000 pixels a side"))) << "wide mats";
    EXPECT_TRUE(reason(mats(70, 0.001)).contains(QStringLiteral("shadows would be worked out over")));
    EXPECT_TRUE(reason(texts(3, QStringLiteral("{{IPTC caption}}").repeated(KTTextOverlayLayer::kMaxPlaceholders)))
                    .contains(QStringLiteral("200000 characters")));
    EXPECT_TRUE(reason(texts(11, QStringLiteral("x") + QString(9999, QLatin1Char('\n'))))
                    .contains(QStringLiteral("100000 line breaks")));
    EXPECT_EQ(reason(texts(2, QStringLiteral("{{IPTC caption}}").repeated(KTTextOverlayLayer::kMaxPlaceholders))),
              QStringLiteral("framed"));
    QFile::remove(output.path);

    // Frame pictures the memory would not hold are not taken for frames missing from the library.
    scenes::SceneLibrary library;
    const QString side = QFileInfo(output.path).path() + QStringLiteral("/side.png");
    ASSERT_TRUE(scenes::grain(400, 100, QColor(120, 80, 50), 3, false).save(side));
    auto design = matDesign();
    design->addTopmostFrameLayer(KTFrameLayer::frameLayerFromFrame(
        library.frame(QStringLiteral("Moulding"), QStringLiteral("Oak"), {{QStringLiteral("Top Image"), side}})));
    platform::ImageDecoder::setMachineMemory(100000);
    const auto decoded = KTTemplate::templateFromData(design->dataForArchiving(), library.moc());
    platform::ImageDecoder::setMachineMemory(0);
    ASSERT_TRUE(decoded);
    EXPECT_TRUE(reason(decoded).contains(QStringLiteral("needs more memory for the pictures of its frames")));
}

TEST(BatchRun, FilesFromTheInputSizeAndTheCommandLinesOutputHaveTheDesignsWholePixelSize)
{
    const QString dir = freshFolder(QStringLiteral("sizes"));
    auto design = matDesign();
    auto *mat = qobject_cast<KTColorMatLayer *>(design->layers().first().get());
    ASSERT_TRUE(mat);
    mat->setLeftWidth(0.0731);
    mat->setTopWidth(0.1377);
    mat->setDropShadow(true);
    design->setExportExternalShadow(true);
    const auto resolved = KTImageProcessor::resolveDesign(design->dataForArchiving(), {});
    ASSERT_TRUE(resolved);
    for (const QSize photo : {QSize(301, 199), QSize(257, 383), QSize(640, 427)}) {
        const QString path = writePhoto(dir + QStringLiteral("/p%1.jpg").arg(photo.width()), photo.width(), photo.height());
        auto framed = std::make_shared<KTTemplate>();
        ASSERT_TRUE(framed->importImage(QUrl::fromLocalFile(path)));
        framed->replaceDesignWith(resolved->copyForRendering());
        const QSize whole = framed->framedPixelSize();

        const QString batchOut = dir + QStringLiteral("/batch.png");
        const auto batch = options({QUrl::fromLocalFile(path)}, KTImageFileFormat::PNGFileFormat());
        ASSERT_TRUE(KTImageProcessor::processImage(QUrl::fromLocalFile(path), *batch, resolved, batchOut));
        EXPECT_EQ(QImageReader(batchOut).size(), whole) << photo.width();

        KTImageProcessor::Output own;
        own.path = dir + QStringLiteral("/own.png");
        own.uti = KTImageFileFormat::PNGFileFormat().UTI();
        ASSERT_TRUE(KTImageProcessor::processImage(QUrl::fromLocalFile(path), resolved, own));
        EXPECT_EQ(QImageReader(own.path).size(), whole) << photo.width();
    }
}

namespace {

// A photo large enough to be written in strips and drawn in several bands,
// with restart markers to decode it by, at `path`; and a design with a shadow.
std::shared_ptr<KTTemplate> stripedPhotoAndShadowedMat(const QString &path)
{
    QImage image(2400, 1810, QImage::Format_RGB32);
    QPainter p(&image);
    p.fillRect(image.rect(), QColor(40, 110, 180));
    for (int y = 0; y < image.height(); y += 9)
        p.fillRect(QRect(y % image.width(), y, 700, 4), QColor::fromHsv((y * 7) % 360, 255, 220));
    p.end();
    if (!platform::ImageEncoder::writeToFile(path, image, KTImageFileFormat::JPGFileFormat().UTI(), {}, 0.9, nullptr))
        return nullptr;
    auto design = matDesign();
    auto *mat = qobject_cast<KTColorMatLayer *>(design->layers().first().get());
    if (!mat)
        return nullptr;
    mat->setDropShadow(true);
    design->setExportExternalShadow(true);
    return KTImageProcessor::resolveDesign(design->dataForArchiving(), {});
}

} // namespace

TEST(BatchRun, TheCommandLinesPhotoDecodedAsItIsDrawnGivesTheWholeDecodesPicture)
{
    const QString dir = freshFolder(QStringLiteral("asdrawn"));
    const QString path = dir + QStringLiteral("/photo.jpg");
    const KTImageFileFormat jpeg = KTImageFileFormat::JPGFileFormat();
    const auto resolved = stripedPhotoAndShadowedMat(path);
    ASSERT_TRUE(resolved);
    for (const KTImageFileFormat &format : {KTImageFileFormat::PNGFileFormat(), jpeg}) {
        KTImageProcessor::Output asDrawn;
        asDrawn.uti = format.UTI();
        asDrawn.path = dir + QStringLiteral("/drawn.") + format.fileExtensions().first();
        const int pieces = platform::JpegDecoder::piecewiseDecodes();
        ASSERT_TRUE(KTImageProcessor::processImage(QUrl::fromLocalFile(path), resolved, asDrawn));
        EXPECT_EQ(platform::JpegDecoder::piecewiseDecodes(), pieces + 1);
        KTImageProcessor::Output whole = asDrawn;
        whole.path = dir + QStringLiteral("/whole.") + format.fileExtensions().first();
        {
            const platform::SerialRowsScope serial;
            ASSERT_TRUE(KTImageProcessor::processImage(QUrl::fromLocalFile(path), resolved, whole));
        }
        const QImage a(asDrawn.path), b(whole.path);
        ASSERT_TRUE(!a.isNull() && a.size() == b.size());
        EXPECT_LE(testsupport::worstChannelDifference(a, b), 1) << qPrintable(format.fileExtensions().first());
    }
}

TEST(BatchRun, AFileFramedAmongOthersIsTheFileFramedAlone)
{
    // A mitred moulding with shadows: a batch works out each band's shadows
    // once and lays them under every file of that size.
    scenes::SceneLibrary library;
    const QString src = freshFolder(QStringLiteral("shadows-src"));
    const QString dst = freshFolder(QStringLiteral("shadows-dst"));
    QList<QPair<QString, QString>> sides;
    const char *attributes[] = {"Left Image", "Top Image", "Right Image", "Bottom Image"};
    for (int which = 0; which < 4; ++which) {
        const QString path = src + QStringLiteral("/side%1.png").arg(which);
        ASSERT_TRUE(scenes::mouldingSide(which).save(path));
        sides.append({QString::fromLatin1(attributes[which]), path});
    }
    const auto moulding = KTFrameLayer::frameLayerFromFrame(
        library.frame(QStringLiteral("Moulding"), QStringLiteral("Shadowed"), sides), {true});
    ASSERT_TRUE(moulding && moulding->dropShadow());
    auto design = matDesign();
    design->addTopmostFrameLayer(moulding);
    // Two sizes taking turns: the same bands of another width cast other shadows.
    QList<QUrl> files;
    for (int i = 0; i < 6; ++i)
        files << QUrl::fromLocalFile(writePhoto(src + QStringLiteral("/p%1.jpg").arg(i), i % 2 ? 1000 : 900, 1700));
    const auto batch = std::make_shared<const KTBatchProcessingOptions>(
        files, KTImageFileFormat::PNGFileFormat(),
        KTBatchProcessingTemplate::initWithExternalTemplate(design, QUrl::fromLocalFile(src + "/S.KTTemplate"),
                                                            {library.moc(), nullptr}),
        KTImageScaling::defaultScaling(), QString(), QString());
    KTBatchProcessingCoordinator coordinator;
    Results results(coordinator);
    ASSERT_TRUE(coordinator.startBatchProcessingWithOptions(batch, QUrl::fromLocalFile(dst)));
    ASSERT_TRUE(testsupport::waitUntil([&] { return results.finished; }));
    ASSERT_EQ(results.succeeded.size(), 6);

    const QString alone = freshFolder(QStringLiteral("shadows-alone"));
    for (const QUrl &file : files) {
        ASSERT_TRUE(KTImageProcessor::processImageAtURL(file, *batch, QUrl::fromLocalFile(alone)));
        const QString name = QFileInfo(file.toLocalFile()).completeBaseName() + QStringLiteral(".png");
        const QImage framed(QDir(dst).filePath(name));
        ASSERT_GT(framed.height(), 1600) << qPrintable(name);
        EXPECT_EQ(framed, QImage(QDir(alone).filePath(name))) << qPrintable(name);
    }
    // The third file of a size finds the shadows the second one made and
    // makes the sides' finished groups, which the fourth finds, though it
    // shares the cores from its first bands on as a batch's last files do.
    const auto resolved = KTImageProcessor::resolveDesign(batch->batchTemplate()->encoded(), {library.moc(), nullptr});
    platform::ShadowCache cache;
    const platform::ShadowCache::Scope scope(&cache);
    const QString again = freshFolder(QStringLiteral("shadows-again"));
    std::vector<std::pair<int, int>> counts;
    for (const int i : {0, 2, 4, 0}) {
        const QString name = QStringLiteral("p%1.png").arg(i);
        std::atomic<bool> crowded{true};
        int asked = 0;
        const platform::SerialRowsScope serial(&crowded);
        const platform::SerialRowsScope inner;
        ASSERT_TRUE(KTImageProcessor::processImage(files[i], *batch, resolved, QDir(again).filePath(name), nullptr, [&] {
            crowded = crowded && (counts.size() < 3 || ++asked < 2);
            return false;
        }));
        EXPECT_EQ(QImage(QDir(again).filePath(name)), QImage(QDir(alone).filePath(name))) << qPrintable(name);
        counts.emplace_back(cache.madeCount(), cache.hitCount());
    }
    EXPECT_GT(counts[1].first, 0);
    EXPECT_GT(counts[2].first, counts[1].first);
    EXPECT_EQ(counts[3].first, counts[2].first);
    EXPECT_GE(counts[3].second - counts[2].second, counts[2].first);

    // A first file that works out every band's shadows before it draws
    // (a worker's share of them all) leaves the next file of its size
    // nothing to make, and both come out as drawn alone.
    platform::ShadowCache shared;
    const platform::ShadowCache::Scope sharedScope(&shared);
    for (const int i : {0, 2}) {
        const platform::ShadowCache::Share all;
        const platform::ShadowCache::ShareScope share(i == 0 ? &all : nullptr);
        const QString name = QStringLiteral("p%1.png").arg(i);
        ASSERT_TRUE(KTImageProcessor::processImage(files[i], *batch, resolved, QDir(again).filePath(name)));
        EXPECT_EQ(QImage(QDir(again).filePath(name)), QImage(QDir(alone).filePath(name))) << qPrintable(name);
        if (i == 0) {
            EXPECT_GT(shared.madeCount(), 0);
        }
    }
    EXPECT_EQ(shared.madeCount(), counts[2].first) << "the shadows and groups of every band, made before the first file";
    EXPECT_GE(shared.hitCount(), 2 * shared.madeCount());
}

TEST(BatchRun, AFileThatMayShareTheCoresHalfwayComesOutAsDrawnAlone)
{
    // A worker whose neighbours run out of files goes on with helpers from
    // the next band on: its photo's rows, bands and strips change hands.
    const QString dir = freshFolder(QStringLiteral("sharing"));
    const auto resolved = stripedPhotoAndShadowedMat(dir + QStringLiteral("/photo.jpg"));
    ASSERT_TRUE(resolved);
    const QUrl photo = QUrl::fromLocalFile(dir + QStringLiteral("/photo.jpg"));
    KTImageProcessor::Output alone;
    alone.path = dir + QStringLiteral("/alone.jpg");
    alone.uti = KTImageFileFormat::JPGFileFormat().UTI();
    KTImageProcessor::Output shared = alone;
    shared.path = dir + QStringLiteral("/shared.jpg");
    std::atomic<bool> crowded{true};
    std::atomic<int> asked{0};
    {
        const platform::SerialRowsScope serial;
        ASSERT_TRUE(KTImageProcessor::processImage(photo, resolved, alone));
        const platform::SerialRowsScope gated(&crowded);
        const platform::SerialRowsScope inner; // as the processor's own scope
        ASSERT_TRUE(KTImageProcessor::processImage(photo, resolved, shared, nullptr, [&] {
            crowded = crowded && ++asked < 300;
            return false;
        }));
        EXPECT_FALSE(platform::rowsRunSerially());
    }
    EXPECT_FALSE(platform::rowsRunSerially());
    QFile a(alone.path), b(shared.path);
    ASSERT_TRUE(a.open(QIODevice::ReadOnly) && b.open(QIODevice::ReadOnly));
    EXPECT_TRUE(a.readAll() == b.readAll());
}

TEST(BatchRun, ACmykPhotoIsFramedLikeItsRgbOriginalNotFailedAsDamaged)
{
    const QString src = freshFolder(QStringLiteral("cmyk-src"));
    const QString dst = freshFolder(QStringLiteral("cmyk-dst"));
    // Large enough to be decoded as it is drawn, were it read that way.
    const QString rgb = writePhoto(src + QStringLiteral("/rgb.jpg"), 2400, 1800);
    ASSERT_TRUE(
        testsupport::runTool(QStringLiteral("convert"), {rgb, QStringLiteral("-colorspace"), QStringLiteral("CMYK"),
                                                         src + QStringLiteral("/cmyk.jpg")}));
    // Its original is now the RGB its inks print as.
    const QString printed = src + QStringLiteral("/rgb.png");
    ASSERT_TRUE(platform::ImageDecoder::decodeFile(src + QStringLiteral("/cmyk.jpg")).image.save(printed));
    const QList<QUrl> files{QUrl::fromLocalFile(src + QStringLiteral("/cmyk.jpg")), QUrl::fromLocalFile(printed)};
    KTBatchProcessingCoordinator coordinator;
    Results results(coordinator);
    ASSERT_TRUE(coordinator.startBatchProcessingWithOptions(options(files, KTImageFileFormat::PNGFileFormat()),
                                                            QUrl::fromLocalFile(dst)));
    ASSERT_TRUE(testsupport::waitUntil([&] { return results.finished; }));
    ASSERT_EQ(results.succeeded.size(), 2) << qPrintable(results.reasons.join(QLatin1Char('\n')));
    const QImage cmyk(dst + QStringLiteral("/cmyk.png")), plain(dst + QStringLiteral("/rgb.png"));
    ASSERT_EQ(cmyk.size(), plain.size());
    // The photo's yellow and blue quarters, their inks turned back into colours.
    for (const QPoint at :
         {QPoint(cmyk.width() * 3 / 8, cmyk.height() * 3 / 8), QPoint(cmyk.width() * 5 / 8, cmyk.height() * 5 / 8)}) {
        const QColor a = cmyk.pixelColor(at), b = plain.pixelColor(at);
        EXPECT_LE(std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) + std::abs(a.blue() - b.blue()), 24)
            << qPrintable(a.name()) << " " << qPrintable(b.name());
    }
}

TEST(BatchRun, APhotoFoundDamagedAsItIsDrawnFailsWithTheAdviceAndWritesNothing)
{
    const QString src = freshFolder(QStringLiteral("drawn-damaged-src"));
    const QString dst = freshFolder(QStringLiteral("drawn-damaged-dst"));
    // Whole at the end, so only the rows past a stray frame marker prove it damaged.
    const QString damaged = writePhoto(src + QStringLiteral("/a.jpg"), 2400, 1800);
    QFile file(damaged);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    ASSERT_TRUE(file.seek(file.size() / 2));
    file.write("\xff\xc0", 2);
    file.close();
    QList<QUrl> files{QUrl::fromLocalFile(damaged)};
    for (const char *name : {"/b.jpg", "/c.jpg"})
        files << QUrl::fromLocalFile(writePhoto(src + QLatin1String(name), 2400, 1800));
    KTBatchProcessingCoordinator coordinator;
    Results results(coordinator);
    const auto batch = options(files, KTImageFileFormat::JPGFileFormat());
    ASSERT_TRUE(coordinator.startBatchProcessingWithOptions(batch, QUrl::fromLocalFile(dst)));
    ASSERT_TRUE(testsupport::waitUntil([&] { return results.finished; }));
    ASSERT_EQ(results.failed, QStringList{QStringLiteral("a.jpg")});
    EXPECT_TRUE(results.reasons.first().contains(QLatin1String("damaged"))
                && results.reasons.first().endsWith(QLatin1String(KTImageProcessor::kDamagedPhotoAdvice)))
        << qPrintable(results.reasons.first());
    EXPECT_EQ(filesIn(dst), (QStringList{QStringLiteral("b.jpg"), QStringLiteral("c.jpg")}));
}

TEST(BatchRun, APhotoCutShortWhileItIsReadIsRefusedAsDamagedNotAFault)
{
    // Another program halves the file each time it is opened, after its size
    // was taken: a mapped file would end the run with a bus error.
    const QString dir = freshFolder(QStringLiteral("cut-short"));
    const QString jpeg = dir + QStringLiteral("/photo.jpg");
    const auto design = stripedPhotoAndShadowedMat(jpeg);
    ASSERT_TRUE(design);
    const QImage picture(jpeg);
    const QString png = dir + QStringLiteral("/photo.png"), tiff = dir + QStringLiteral("/photo.tif");
    ASSERT_TRUE(picture.save(png) && picture.save(tiff));
    QString cutting;
    platform::FileBytes::setOpenedHook([&cutting](const QString &path) {
        if (path == cutting)
            QFile::resize(path, QFileInfo(path).size() / 2);
    });
    for (const QString &path : {jpeg, png, tiff}) {
        for (const bool begunEarly : {true, false}) {
            QFile::remove(path + QStringLiteral(".whole"));
            ASSERT_TRUE(QFile::copy(path, path + QStringLiteral(".whole")));
            cutting = path + QStringLiteral(".whole");
            const QUrl url = QUrl::fromLocalFile(cutting);
            KTImageProcessor::Output output;
            output.uti = KTImageFileFormat::JPGFileFormat().UTI();
            output.path = dir + QStringLiteral("/out.jpg");
            if (begunEarly) // as the command line begins it
                output.read = KTImageProcessor::startReading(url);
            platform::Error error;
            EXPECT_FALSE(KTImageProcessor::processImage(url, design, output, &error)) << qPrintable(path);
            EXPECT_EQ(error.recoverySuggestion, QLatin1String(KTImageProcessor::kDamagedPhotoAdvice))
                << qPrintable(error.description);
            EXPECT_FALSE(QFileInfo::exists(output.path));
        }
        // The window's photo too.
        platform::Error error;
        EXPECT_FALSE(VLImage::initWithContentsOfFile(cutting, true, &error));
        EXPECT_TRUE(error.description.contains(QLatin1String("damaged"))) << qPrintable(error.description);
    }
    platform::FileBytes::setOpenedHook(nullptr);
}

TEST(BatchRun, APhotoFramedInPlaceThatAnotherProgramReplacesMeanwhileIsLeftToIt)
{
    // A sync tool moves a new file over the photo once the run has opened it.
    const QString dir = freshFolder(QStringLiteral("replaced-meanwhile"));
    const QString jpeg = dir + QStringLiteral("/photo.jpg");
    const auto design = stripedPhotoAndShadowedMat(jpeg);
    ASSERT_TRUE(design);
    const QImage picture(jpeg);
    const QString png = dir + QStringLiteral("/photo.png"), tiff = dir + QStringLiteral("/photo.tif");
    ASSERT_TRUE(picture.save(png) && picture.save(tiff));
    const QString newer = writePhoto(dir + QStringLiteral("/newer.jpg"), 90, 60);
    QString replacing;
    platform::FileBytes::setOpenedHook([&](const QString &path) {
        if (path == replacing && QFile::copy(newer, path + QStringLiteral(".new")))
            ::rename(QFile::encodeName(path + QStringLiteral(".new")).constData(), QFile::encodeName(path).constData());
    });
    // A batch's destination may name the photo's folder through a link.
    const QString linked = dir + QStringLiteral("-link");
    QFile::remove(linked);
    ASSERT_TRUE(QFile::link(dir, linked));
    for (const QString &path : {jpeg, png, tiff}) {
        for (const bool begunEarly : {true, false}) {
            const QString photo = path + QStringLiteral(".in-place");
            QFile::remove(photo);
            ASSERT_TRUE(QFile::copy(path, photo));
            replacing = photo;
            KTImageProcessor::Output output;
            output.uti = platform::TypeTable::typeForFile(path);
            output.path = begunEarly ? photo : linked + QLatin1Char('/') + QFileInfo(photo).fileName();
            if (begunEarly) // as the command line begins it
                output.read = KTImageProcessor::startReading(QUrl::fromLocalFile(photo));
            platform::Error error;
            EXPECT_FALSE(KTImageProcessor::processImage(QUrl::fromLocalFile(photo), design, output, &error));
            EXPECT_TRUE(error.description.contains(QLatin1String("another program replaced or changed it")))
                << qPrintable(error.description);
            EXPECT_EQ(QImage(photo).size(), QSize(90, 60)) << "the other program's file stays";
        }
    }
    platform::FileBytes::setOpenedHook(nullptr);
    // Left alone, the photo is framed in place as ever.
    KTImageProcessor::Output output;
    output.uti = platform::TypeTable::typeForFile(png);
    output.path = png;
    platform::Error error;
    EXPECT_TRUE(KTImageProcessor::processImage(QUrl::fromLocalFile(png), design, output, &error))
        << qPrintable(error.description);
    EXPECT_GT(QImage(png).width(), picture.width());
}

TEST(BatchRun, APdfPhotoIsItsPageOnWhiteAtAResolutionForFraming)
{
    const QString dir = freshFolder(QStringLiteral("pdf-photo"));
    const QString pdf = dir + QStringLiteral("/page.pdf");
    {
        QPdfWriter writer(pdf);
        writer.setPageSize(QPageSize(QPageSize::A4));
        writer.setPageMargins(QMarginsF(0, 0, 0, 0));
        writer.setResolution(72);
        QPainter p(&writer);
        p.fillRect(QRectF(100, 100, 395, 642), QColor(30, 90, 160)); // the rest of the page is not painted
    }
    auto design = std::make_shared<KTTemplate>();
    design->insertLayer(std::make_shared<KTImageLayer>(), 0);
    KTImageProcessor::Output output;
    output.uti = KTImageFileFormat::JPGFileFormat().UTI();
    output.path = dir + QStringLiteral("/page.jpg");
    platform::Error error;
    ASSERT_TRUE(KTImageProcessor::processImage(
        QUrl::fromLocalFile(pdf), KTImageProcessor::resolveDesign(design->dataForArchiving(), {}), output, &error))
        << qPrintable(error.description);
    const QImage page(output.path);
    EXPECT_EQ(page.size(), (QSizeF(QPageSize(QPageSize::A4).sizePoints()) * (300.0 / 72)).toSize()) << "at 300 dpi";
    EXPECT_NEAR(page.dotsPerMeterX() * 0.0254, 300, 1);
    EXPECT_TRUE(testsupport::near(page.pixelColor(20, 20), Qt::white, 6)) << qPrintable(page.pixelColor(20, 20).name());
    EXPECT_TRUE(testsupport::near(page.pixelColor(1240, 1754), QColor(30, 90, 160), 12));
}
