#include "CodecTestPhoto.h"
#include "ExternalTestReaders.h"
#include "support/TestSupport.h"

#include "platform/ThreadPools.h"
#include "platform/TypeTable.h"
#include "platform/codec/CodecErrors.h"
#include "platform/codec/ImageEncoder.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QPainter>
#include <QThread>

#include <atomic>
#include <cstring>
#include <memory>
#include <vector>

#include <unistd.h>

using platform::ExportMetadata;
using platform::ImageEncoder;
namespace TypeTable = platform::TypeTable;
namespace ext = externalreaders;

namespace {

QString scratchFile(const QString &name)
{
    QDir dir(testsupport::scratchDir());
    return dir.filePath(name);
}

QString write(const QString &name, const QImage &image, const char *type, const ExportMetadata &m,
              std::optional<double> quality = std::nullopt)
{
    const QString path = scratchFile(name);
    platform::Error error;
    EXPECT_TRUE(ImageEncoder::writeToFile(path, image, QString::fromLatin1(type), m, quality, &error))
        << error.description.toStdString();
    return path;
}

// A device that accepts `limit` bytes and then fails, like a full disk.
class FailingDevice : public QIODevice
{
public:
    explicit FailingDevice(qint64 limit) : m_limit(limit) { open(QIODevice::ReadWrite); }
    qint64 size() const override { return m_end; }

protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *, qint64 len) override
    {
        if (m_written + len > m_limit) {
            setErrorString(QStringLiteral("No space left on device"));
            return -1;
        }
        m_written += len;
        m_end = std::max(m_end, pos() + len);
        return len;
    }

private:
    qint64 m_limit;
    qint64 m_written = 0;
    qint64 m_end = 0;
};

} // namespace

TEST(ImageEncoderJpeg, CarriesThePhotosMetadataUpdatedForTheExport)
{
    const QImage image = codectest::renderedPicture();
    const QString path = write("meta.jpg", image, TypeTable::kJPEG, codectest::prepared(image), 0.9);
    const QJsonObject tags = ext::exiftool(path);
    ASSERT_FALSE(tags.isEmpty());
    EXPECT_EQ(tags.value("IFD0:Software").toString(), "Kantelo 3.0.0 for Linux");
    EXPECT_EQ(tags.value("IFD0:Orientation").toInt(), 1);
    EXPECT_EQ(tags.value("XMP-tiff:Orientation").toInt(), 1);
    EXPECT_EQ(tags.value("IFD0:Make").toString(), "TestCam");
    EXPECT_EQ(tags.value("ExifIFD:DateTimeOriginal").toString(), codectest::kDate);
    EXPECT_EQ(tags.value("IPTC:Headline").toString(), codectest::kHeadline);
    EXPECT_EQ(tags.value("IFD0:XResolution").toDouble(), 300);
    EXPECT_EQ(tags.value("IFD0:ResolutionUnit").toInt(), 2);
    EXPECT_EQ(tags.value("JFIF:XResolution").toDouble(), 300);
    EXPECT_EQ(tags.value("ExifIFD:ExifImageWidth").toInt(), 64);
    EXPECT_EQ(tags.value("ExifIFD:ExifImageHeight").toInt(), 48);
    // The photo's thumbnail and layout tags stay behind.
    EXPECT_FALSE(tags.contains("IFD1:ThumbnailImage"));
    EXPECT_FALSE(tags.contains("IFD1:ThumbnailOffset"));
    EXPECT_FALSE(tags.contains("IFD0:ImageWidth"));

    const QString verbose = ext::identifyVerbose(path);
    EXPECT_TRUE(verbose.contains("Geometry: 64x48+0+0")) << verbose.toStdString();
    EXPECT_TRUE(verbose.contains("Resolution: 300x300"));
    EXPECT_TRUE(verbose.contains("Units: PixelsPerInch"));
    EXPECT_TRUE(verbose.contains("exif:Software: Kantelo 3.0.0 for Linux"));
    EXPECT_FALSE(verbose.contains("Alpha:"));
}

TEST(ImageEncoderJpeg, LaysTransparencyOntoWhite)
{
    for (QImage::Format format : {QImage::Format_ARGB32_Premultiplied, QImage::Format_RGBA8888_Premultiplied}) {
        const QImage image = codectest::renderedPicture(64, 48, format);
        const QString path = write("white.jpg", image, TypeTable::kJPEG, codectest::prepared(image), 1.0);
        // ImageMagick's pixel values, 0..255 with a tolerance for the JPEG.
        const QString corner = ext::identifyFormat(path, "%[fx:int(255*p{1,1}.r)],%[fx:int(255*p{1,1}.g)],%[fx:int(255*p{1,1}.b)]");
        const QStringList c = corner.split(',');
        ASSERT_EQ(c.size(), 3) << corner.toStdString();
        for (const QString &v : c)
            EXPECT_GE(v.toInt(), 250) << corner.toStdString();
        const QStringList body = ext::identifyFormat(path, "%[fx:int(255*p{30,24}.r)],%[fx:int(255*p{30,24}.g)],%[fx:int(255*p{30,24}.b)]").split(',');
        ASSERT_EQ(body.size(), 3);
        EXPECT_NEAR(body[0].toInt(), 30, 6);
        EXPECT_NEAR(body[1].toInt(), 90, 6);
        EXPECT_NEAR(body[2].toInt(), 200, 6);
        // The half-transparent band: red at half strength over white.
        const QStringList band = ext::identifyFormat(path, "%[fx:int(255*p{60,24}.r)],%[fx:int(255*p{60,24}.g)],%[fx:int(255*p{60,24}.b)]").split(',');
        ASSERT_EQ(band.size(), 3);
        EXPECT_NEAR(band[0].toInt(), 228, 8);
        EXPECT_NEAR(band[1].toInt(), 147, 8);
        EXPECT_NEAR(band[2].toInt(), 132, 8);
    }
}

TEST(ImageEncoderJpeg, QualityFollowsTheExportSetting)
{
    QImage image(200, 150, QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            image.setPixel(x, y, qRgb((x * 7 + y * 3) & 255, (x * y) & 255, (x ^ y) & 255));
    const ExportMetadata m = codectest::prepared(image);
    const QString low = write("low.jpg", image, TypeTable::kJPEG, m, 0.2);
    const QString high = write("high.jpg", image, TypeTable::kJPEG, m, 0.95);
    EXPECT_LT(QFileInfo(low).size(), QFileInfo(high).size());
    EXPECT_NEAR(ext::identifyFormat(low, "%Q").toInt(), 20, 2);
    EXPECT_NEAR(ext::identifyFormat(high, "%Q").toInt(), 95, 2);
}

TEST(ImageEncoderMetadata, WithoutResolutionNoResolutionTags)
{
    const QImage image = codectest::renderedPicture();
    const QString path = write("nodpi.jpg", image, TypeTable::kJPEG, codectest::prepared(image, std::nullopt));
    const QJsonObject tags = ext::exiftool(path);
    EXPECT_FALSE(tags.contains("IFD0:XResolution"));
    EXPECT_FALSE(tags.contains("IFD0:ResolutionUnit"));
    EXPECT_EQ(tags.value("IFD0:Software").toString(), "Kantelo 3.0.0 for Linux");
    EXPECT_EQ(tags.value("IFD0:Orientation").toInt(), 1);
}

TEST(ImageEncoderMetadata, SoftwareStringAndEmptyPhoto)
{
    EXPECT_EQ(ExportMetadata::softwareString(""), "Kantelo 4 for Linux");
    const ExportMetadata m = ExportMetadata::prepare({}, {}, {}, {}, 72.0, QSize(10, 5), "3.1");
    EXPECT_EQ(m.software(), "Kantelo 3.1 for Linux");
    EXPECT_FALSE(m.exifBlob().isEmpty());
    EXPECT_TRUE(m.iptcBlob().isEmpty());
    EXPECT_TRUE(m.xmpPacket().contains("Kantelo 3.1 for Linux"));
    // A nonsense resolution counts as none.
    const ExportMetadata bad = ExportMetadata::prepare({}, {}, {}, {}, -5.0, QSize(10, 5), "3.1");
    EXPECT_FALSE(bad.dpi().has_value());
}

TEST(ImageEncoderFailure, WriteErrorsAreNeverSuccess)
{
    const QImage image = codectest::renderedPicture(300, 200);
    const ExportMetadata m = codectest::prepared(image);
    for (const char *type : {TypeTable::kJPEG, TypeTable::kPNG, TypeTable::kTIFF, TypeTable::kPSD}) {
        FailingDevice device(1000);
        platform::Error error;
        EXPECT_FALSE(ImageEncoder::encode(&device, image, QString::fromLatin1(type), m, 0.9, &error)) << type;
        EXPECT_EQ(error.code, int(platform::CodecError::WriteFailed)) << type << " " << error.description.toStdString();
        EXPECT_EQ(error.domain, QString::fromLatin1(platform::kKanteloErrorDomain));
    }
}

TEST(ImageEncoderFailure, FailedWriteLeavesTheOldFile)
{
    const QString dirPath = scratchFile("keep");
    QDir().mkpath(dirPath);
    const QString path = QDir(dirPath).filePath("old.jpg");
    QFile old(path);
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("the old export");
    old.close();
    // Wider than JPEG allows: refused after the file was opened.
    const QImage wide(65501, 1, QImage::Format_ARGB32_Premultiplied);
    platform::Error error;
    EXPECT_FALSE(ImageEncoder::writeToFile(path, wide, TypeTable::kJPEG, codectest::prepared(wide), 0.8, &error));
    EXPECT_EQ(error.code, int(platform::CodecError::TooLarge));
    ASSERT_TRUE(old.open(QIODevice::ReadOnly));
    EXPECT_EQ(old.readAll(), QByteArray("the old export"));
    EXPECT_EQ(QDir(dirPath).entryList(QDir::Files | QDir::Hidden).size(), 1);
}

// A batch's worker goes on while its file is synced and renamed elsewhere:
// the file is in place only once committed, and a failure names the file.
TEST(ImageEncoderFailure, AHeldFileIsPutInPlaceOnlyByItsCommitOnAnotherThread)
{
    const QString dir = scratchFile("held");
    QDir(dir).removeRecursively();
    QDir().mkpath(dir);
    const auto at = [&dir](const char *name) { return QDir(dir).filePath(QString::fromLatin1(name)); };
    QFile old(at("a.png"));
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("old");
    old.close();
    QImage image(40, 30, QImage::Format_ARGB32_Premultiplied);
    image.fill(QColor(10, 120, 200));
    const auto write = [&](const char *name) {
        return ImageEncoder::writeToFile(at(name), image, TypeTable::kPNG, ExportMetadata(), std::nullopt, nullptr);
    };
    ImageEncoder::HeldFile held, blocked;
    std::optional<ImageEncoder::HeldFile> dropped;
    dropped.emplace();
    {
        const ImageEncoder::HeldFile::Scope scope(&held);
        ASSERT_TRUE(write("a.png"));
        // Only the first file is held.
        ASSERT_TRUE(write("b.png"));
    }
    {
        const ImageEncoder::HeldFile::Scope scope(&blocked);
        ASSERT_TRUE(write("c.png"));
    }
    {
        const ImageEncoder::HeldFile::Scope scope(&*dropped);
        ASSERT_TRUE(write("d.png"));
    }
    EXPECT_TRUE(held.holds());
    EXPECT_EQ(QImage(at("b.png")).size(), QSize(40, 30));
    ASSERT_TRUE(old.open(QIODevice::ReadOnly));
    EXPECT_EQ(old.readAll(), QByteArray("old"));
    old.close();
    ASSERT_TRUE(QDir().mkpath(at("c.png/taken")));
    bool committed = false, refused = true;
    platform::Error error;
    platform::PoolJob(platform::Pool::Background, [&] {
        committed = held.commit(nullptr);
        refused = !blocked.commit(&error);
    }).wait();
    EXPECT_TRUE(committed);
    EXPECT_EQ(QImage(at("a.png")).pixelColor(5, 5), QColor(10, 120, 200));
    EXPECT_TRUE(refused);
    EXPECT_EQ(error.code, int(platform::CodecError::WriteFailed));
    EXPECT_TRUE(error.description.contains(QLatin1String("c.png"))) << error.description.toStdString();
    EXPECT_FALSE(held.holds());
    EXPECT_TRUE(held.commit(nullptr));
    // Dropped uncommitted, the held file leaves nothing behind.
    dropped.reset();
    EXPECT_EQ(QDir(dir).entryList(QDir::Files | QDir::Hidden), (QStringList{"a.png", "b.png"}));
}

TEST(ImageEncoderFailure, ReadOnlyFolderAnswersNoAndLeavesNothing)
{
    const QImage image = codectest::renderedPicture();
    // Root writes anywhere on a writable file system: use one that is not.
    const bool root = geteuid() == 0;
    const QString dirPath = root ? QStringLiteral("/proc") : scratchFile("readonly");
    if (!root) {
        QDir().mkpath(dirPath);
        QFile::setPermissions(dirPath, QFile::ReadOwner | QFile::ExeOwner);
    }
    const QString path = QDir(dirPath).filePath("export.jpg");
    platform::Error error;
    EXPECT_FALSE(ImageEncoder::writeToFile(path, image, TypeTable::kJPEG, codectest::prepared(image), 0.8, &error));
    EXPECT_EQ(error.code, int(platform::CodecError::WriteFailed));
    EXPECT_FALSE(error.description.isEmpty());
    EXPECT_FALSE(QFile::exists(path));
    if (!root) {
        EXPECT_TRUE(QDir(dirPath).entryList(QDir::Files | QDir::Hidden).isEmpty());
        EXPECT_TRUE(error.description.contains("folder is read-only. Choose another folder"))
            << error.description.toStdString();
        QFile::setPermissions(dirPath, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        // A read-only file in a folder that is not says so, and is left as it is.
        QFile old(path);
        ASSERT_TRUE(old.open(QIODevice::WriteOnly) && old.write("kept") == 4);
        old.close();
        QFile::setPermissions(path, QFile::ReadOwner);
        EXPECT_FALSE(ImageEncoder::writeToFile(path, image, TypeTable::kJPEG, codectest::prepared(image), 0.8, &error));
        EXPECT_TRUE(error.description.contains("file is read-only. Make it writable"))
            << error.description.toStdString();
        ASSERT_TRUE(old.open(QIODevice::ReadOnly));
        EXPECT_EQ(old.readAll(), QByteArray("kept"));
    }
}

TEST(ImageEncoderFailure, UnknownTypeAndEmptyPicture)
{
    const QImage image = codectest::renderedPicture();
    platform::Error error;
    EXPECT_FALSE(ImageEncoder::encodeToData(image, "com.example.nothing", codectest::prepared(image), {}, &error));
    EXPECT_EQ(error.code, int(platform::CodecError::UnsupportedType));
    EXPECT_FALSE(ImageEncoder::encodeToData(QImage(), TypeTable::kJPEG, codectest::prepared(image), {}, &error));
    EXPECT_EQ(error.code, int(platform::CodecError::EmptyImage));
}

TEST(ImageEncoderJpeg, ALargePictureWithTranslucentRowsEncodesAsItsFlattenedCopyAndCancelsMidway)
{
    // Large enough that rows are made ready ahead of the compressor.
    QImage image(1400, 900, QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < image.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const int a = (y / 40) % 3 == 0 ? 255 : (x * 3 + y) & 255;
            line[x] = qPremultiply(qRgba((x * 7 + y) & 255, (x ^ y) & 255, (x + y * 5) & 255, a));
        }
    }
    QImage flat(image.size(), QImage::Format_RGB32);
    flat.fill(Qt::white);
    {
        QPainter p(&flat);
        p.drawImage(0, 0, image);
    }
    const ExportMetadata m = codectest::prepared(image);
    const auto translucent = ImageEncoder::encodeToData(image, QString::fromLatin1(TypeTable::kJPEG), m, 0.9, nullptr);
    const auto opaque = ImageEncoder::encodeToData(flat, QString::fromLatin1(TypeTable::kJPEG), m, 0.9, nullptr);
    ASSERT_TRUE(translucent && opaque);
    EXPECT_EQ(*translucent, *opaque);

    platform::Error error;
    int reads = 0;
    const auto cancelled = ImageEncoder::encodeToData(image, QString::fromLatin1(TypeTable::kJPEG), m, 0.9, &error,
                                                      [&](qint64 read, qint64) { return ++reads, read < 300; });
    EXPECT_FALSE(cancelled);
    EXPECT_EQ(reads, 300);
}

TEST(ImageEncoderJpeg, APictureEncodedInStripsDecodesToThePixelsOfOnePassTellingEveryRowInOrder)
{
    // Large enough to be encoded in strips on several threads.
    QImage image(2600, 1700, QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < image.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x)
            line[x] = qPremultiply(qRgba((x * 7 + y) & 255, (x ^ y) & 255, (x + y * 5) & 255, y % 50 < 10 ? 90 : 255));
    }
    QImage flat(image.size(), QImage::Format_RGB32);
    flat.fill(Qt::white);
    {
        QPainter p(&flat);
        p.drawImage(0, 0, image);
    }
    std::vector<qint64> told;
    const QString ours = scratchFile("strips.jpg");
    platform::Error error;
    ASSERT_TRUE(ImageEncoder::writeToFile(ours, image, QString::fromLatin1(TypeTable::kJPEG), codectest::prepared(image),
                                          0.9, &error, [&](qint64 read, qint64 all) {
                                              EXPECT_EQ(all, image.height());
                                              told.push_back(read);
                                              return true;
                                          }))
        << error.description.toStdString();
    ASSERT_EQ(told.size(), size_t(image.height()));
    for (size_t i = 0; i < told.size(); ++i)
        ASSERT_EQ(told[i], qint64(i + 1));

    // One pass of libjpeg-turbo's own tools over the same pixels, and its decoder on ours.
    const QString ppm = scratchFile("strips.ppm");
    const QString reference = scratchFile("reference.jpg");
    ASSERT_TRUE(flat.convertToFormat(QImage::Format_RGB888).save(ppm, "PPM"));
    int status = -1;
    ext::run(QStringLiteral("sh"), {QStringLiteral("-c"), QStringLiteral("cjpeg -quality 90 '%1' > '%2'").arg(ppm, reference)},
             &status);
    ASSERT_EQ(status, 0);
    const testsupport::ProgramRun djpeg = testsupport::runProgram(QStringLiteral("djpeg"), {ours});
    EXPECT_EQ(djpeg.exitCode, 0);
    EXPECT_TRUE(djpeg.err.isEmpty());
    const QImage a = QImage(ours).convertToFormat(QImage::Format_RGB32);
    const QImage b = QImage(reference).convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(a.size(), image.size());
    ASSERT_EQ(b.size(), image.size());
    int differing = 0;
    for (int y = 0; y < a.height(); ++y)
        differing += std::memcmp(a.constScanLine(y), b.constScanLine(y), size_t(a.width()) * 4) != 0;
    EXPECT_EQ(differing, 0);

    // A cancel while the strips are encoded leaves nothing.
    const QString cancelled = scratchFile("cancelled.jpg");
    QFile::remove(cancelled);
    EXPECT_FALSE(ImageEncoder::writeToFile(cancelled, image, QString::fromLatin1(TypeTable::kJPEG),
                                           codectest::prepared(image), 0.9, &error,
                                           [](qint64 read, qint64) { return read < 500; }));
    EXPECT_FALSE(QFile::exists(cancelled));
}

TEST(ImageEncoderBands, LosslessFilesWrittenInBandsAreTheWholePicturesWhateverWasGuessed)
{
    QImage opaque = codectest::renderedPicture(90, 70, QImage::Format_ARGB32_Premultiplied, false);
    // Transparency in the last band only: a wrong guess shows late.
    QImage late = opaque.copy();
    QPainter(&late).fillRect(QRect(10, 66, 20, 4), QColor(200, 40, 10, 128));
    for (const char *type : {TypeTable::kPNG, TypeTable::kTIFF, TypeTable::kPSD}) {
        for (const QImage &picture : {opaque, late}) {
            const ExportMetadata meta = codectest::prepared(picture);
            QFile whole(write(QStringLiteral("whole"), picture, type, meta));
            ASSERT_TRUE(whole.open(QIODevice::ReadOnly));
            for (const bool guess : {false, true}) {
                SCOPED_TRACE(std::string(type) + (guess ? " guessed transparent" : " guessed opaque"));
                platform::PictureBands bands;
                bands.size = picture.size();
                bands.rows = 16;
                bands.inFlight = 3;
                bands.transparent = guess;
                bands.band = [&](int first, int count) {
                    return QImage(picture.constScanLine(first), picture.width(), count, picture.bytesPerLine(),
                                  picture.format());
                };
                const QString path = scratchFile(QStringLiteral("bands"));
                platform::Error error;
                ASSERT_TRUE(ImageEncoder::writeBandsToFile(path, bands, type, meta, {}, &error))
                    << error.description.toStdString();
                QFile banded(path);
                ASSERT_TRUE(banded.open(QIODevice::ReadOnly));
                whole.seek(0);
                EXPECT_TRUE(banded.readAll() == whole.readAll());

                // Stopped by the reader or by the maker: cancelled, and no file.
                QFile::remove(path);
                EXPECT_FALSE(ImageEncoder::writeBandsToFile(path, bands, type, meta, {}, &error,
                                                            [](qint64 read, qint64) { return read < 20; }));
                EXPECT_EQ(error.code, int(platform::CodecError::Cancelled));
                int made = 0;
                bands.band = [&](int first, int count) {
                    return ++made > 2 ? QImage() : picture.copy(0, first, picture.width(), count);
                };
                EXPECT_FALSE(ImageEncoder::writeBandsToFile(path, bands, type, meta, {}, &error));
                EXPECT_EQ(error.code, int(platform::CodecError::Cancelled));
                EXPECT_FALSE(QFile::exists(path));
            }
        }
    }
}

TEST(ImageEncoderBands, WrittenOnTheCallingThreadWhileThePoolIsBusyElsewhere)
{
    const QImage picture = codectest::renderedPicture(90, 70);
    const ExportMetadata meta = codectest::prepared(picture);
    const QString whole = write(QStringLiteral("whole.png"), picture, TypeTable::kPNG, meta);
    // Every pool thread held until the file is written.
    std::atomic<bool> release{false};
    std::vector<std::unique_ptr<platform::PoolJob>> holders;
    std::atomic<int> held{0};
    for (int i = 0; i < platform::poolThreadCount(platform::Pool::Parallel); ++i)
        holders.push_back(std::make_unique<platform::PoolJob>(platform::Pool::Parallel, [&] {
            ++held;
            while (!release)
                QThread::yieldCurrentThread();
        }));
    ASSERT_TRUE(testsupport::waitUntil([&] { return held == int(holders.size()); }));
    platform::PictureBands bands;
    bands.size = picture.size();
    bands.rows = 8;
    bands.inFlight = 2;
    bands.transparent = true;
    bands.band = [&](int first, int count) { return picture.copy(0, first, picture.width(), count); };
    const QString path = scratchFile(QStringLiteral("bands.png"));
    const bool written = ImageEncoder::writeBandsToFile(path, bands, TypeTable::kPNG, meta, {}, nullptr);
    release = true;
    holders.clear();
    ASSERT_TRUE(written);
    QFile a(whole);
    QFile b(path);
    ASSERT_TRUE(a.open(QIODevice::ReadOnly) && b.open(QIODevice::ReadOnly));
    EXPECT_TRUE(a.readAll() == b.readAll());
}
