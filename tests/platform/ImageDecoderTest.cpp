#include "platform/imaging/BitmapTransform.h"
#include "platform/imaging/CmykConversion.h"
#include "platform/imaging/ColorFilter.h"
#include "platform/imaging/DecodeErrors.h"
#include "platform/imaging/HeifDecoder.h"
#include "platform/imaging/ImageDecoder.h"
#include "platform/imaging/JpegDecoder.h"
#include "platform/imaging/PdfDocument.h"
#include "platform/imaging/PsdReader.h"
#include "support/ImagingTools.h"

#include <gtest/gtest.h>

#include <QDataStream>
#include <QImageReader>
#include <QPageSize>
#include <QPdfWriter>
#include <QRandomGenerator>

#include <cstdlib>
#include <iterator>

#include <sys/resource.h>

using namespace platform;
using namespace testsupport;

namespace {

QByteArray readAll(const QString &path)
{
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << path.toStdString();
    return f.readAll();
}

// Saves the quadrant picture as PNG and converts it with ImageMagick.
QString convertedQuadrants(const QString &ext, const QStringList &options, int w = 64, int h = 48)
{
    const QString png = scratchFile(QStringLiteral("png"));
    EXPECT_TRUE(quadrantPicture(w, h).save(png));
    const QString out = scratchFile(ext);
    QStringList args{png};
    args << options << out;
    EXPECT_TRUE(runTool(QStringLiteral("convert"), args)) << args.join(' ').toStdString();
    return out;
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

// A one-page PDF with the quadrant colours over the page (in points).
QString quadrantPdf(const QSizeF &points)
{
    const QString path = scratchFile(QStringLiteral("pdf"));
    QPdfWriter writer(path);
    writer.setPageSize(QPageSize(points, QPageSize::Point));
    writer.setPageMargins(QMarginsF(0, 0, 0, 0));
    writer.setResolution(72);
    QPainter p(&writer);
    const double w = points.width();
    const double h = points.height();
    p.fillRect(QRectF(0, 0, w / 2, h / 2), QColor(255, 0, 0));
    p.fillRect(QRectF(w / 2, 0, w / 2, h / 2), QColor(0, 255, 0));
    p.fillRect(QRectF(0, h / 2, w / 2, h / 2), QColor(0, 0, 255));
    p.fillRect(QRectF(w / 2, h / 2, w / 2, h / 2), QColor(255, 255, 0));
    p.end();
    return path;
}

} // namespace

TEST(ImagingDecode, EveryCommonFormatDecodesToPremultipliedPixels)
{
    for (const QString &ext : {QStringLiteral("jpg"), QStringLiteral("png"), QStringLiteral("tif"), QStringLiteral("webp"),
                              QStringLiteral("bmp"), QStringLiteral("gif"), QStringLiteral("heic"), QStringLiteral("psd")}) {
        SCOPED_TRACE(ext.toStdString());
        const QString path = convertedQuadrants(ext, {});
        const ImageDecoder::Result r = ImageDecoder::decodeFile(path);
        ASSERT_FALSE(r.image.isNull()) << r.error.description.toStdString();
        EXPECT_EQ(r.image.format(), QImage::Format_ARGB32_Premultiplied);
        EXPECT_EQ(r.image.size(), QSize(64, 48));
        expectQuadrants(r.image);
    }
}

TEST(ImagingDecode, GreyscaleAndCmykJpegs)
{
    const QImage grey = ImageDecoder::decodeFile(convertedQuadrants(QStringLiteral("jpg"), {QStringLiteral("-colorspace"), QStringLiteral("Gray")})).image;
    ASSERT_FALSE(grey.isNull());
    const QColor c = grey.pixelColor(3, 3);
    EXPECT_EQ(c.red(), c.green());
    EXPECT_EQ(c.green(), c.blue());

    // CMYK is libjpeg's too. Without a profile its inks are the coated
    // press's: full cyan and magenta print a violet blue, not sRGB's blue.
    const QString cmyk = convertedQuadrants(QStringLiteral("jpg"), {QStringLiteral("-colorspace"), QStringLiteral("CMYK")});
    JpegDecoder::Status status = JpegDecoder::Status::Unsupported;
    EXPECT_TRUE(JpegDecoder::decode(readAll(cmyk), &status).ok());
    EXPECT_EQ(status, JpegDecoder::Status::Ok);
    const QList<QColor> inks = cornerColours(ImageDecoder::decodeFile(cmyk).image);
    const QList<QColor> press = {QColor(227, 9, 21), QColor(0, 150, 66), QColor(50, 40, 132), QColor(255, 237, 0)};
    for (int i = 0; i < 4; ++i)
        EXPECT_TRUE(near(inks[i], press[i], 8)) << describe(inks[i]).toStdString();
}

TEST(ImagingDecode, PhotoshopFilesFromImageMagick)
{
    struct Case {
        QStringList options;
        bool grey;
        bool cmyk = false;
    };
    const QList<Case> cases = {
        {{QStringLiteral("-depth"), QStringLiteral("8"), QStringLiteral("-compress"), QStringLiteral("RLE")}, false},
        {{QStringLiteral("-depth"), QStringLiteral("8"), QStringLiteral("-compress"), QStringLiteral("None")}, false},
        {{QStringLiteral("-depth"), QStringLiteral("16"), QStringLiteral("-compress"), QStringLiteral("RLE")}, false},
        {{QStringLiteral("-depth"), QStringLiteral("16"), QStringLiteral("-compress"), QStringLiteral("None")}, false},
        {{QStringLiteral("-colorspace"), QStringLiteral("CMYK"), QStringLiteral("-depth"), QStringLiteral("8")},
         false,
         true},
        {{QStringLiteral("-colorspace"), QStringLiteral("CMYK"), QStringLiteral("-depth"), QStringLiteral("16")},
         false,
         true},
        {{QStringLiteral("-colorspace"), QStringLiteral("Gray"), QStringLiteral("-depth"), QStringLiteral("8")}, true},
        {{QStringLiteral("-colorspace"), QStringLiteral("Gray"), QStringLiteral("-depth"), QStringLiteral("16"),
          QStringLiteral("-compress"), QStringLiteral("None")},
         true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.options.join(' ').toStdString());
        const QString path = convertedQuadrants(QStringLiteral("psd"), c.options, 70, 50);
        const platform::Result<QImage> read = PsdReader::read(readAll(path));
        ASSERT_TRUE(read.ok()) << read.error().description.toStdString();
        const QImage img = read.value();
        EXPECT_EQ(img.size(), QSize(70, 50));
        // Compare with what ImageMagick reads back from the same file: the
        // inks of a CMYK one, which become colours through the press profile.
        const QString png = scratchFile(QStringLiteral("png"));
        QImage reference;
        if (c.cmyk) {
            QByteArray inks;
            ASSERT_TRUE(runTool(
                QStringLiteral("convert"),
                {path + QStringLiteral("[0]"), QStringLiteral("-depth"), QStringLiteral("8"), QStringLiteral("cmyk:-")},
                &inks));
            ASSERT_EQ(inks.size(), 70 * 50 * 4);
            reference = QImage(70, 50, QImage::Format_RGB32);
            CmykConversion::make(CmykConversion::standardProfile(), 8, false)
                ->toRgb(inks.constData(), reinterpret_cast<QRgb *>(reference.bits()), 70 * 50);
        } else {
            ASSERT_TRUE(runTool(QStringLiteral("convert"),
                                {path + QStringLiteral("[0]"), QStringLiteral("-colorspace"), QStringLiteral("sRGB"),
                                 QStringLiteral("-depth"), QStringLiteral("8"), png}));
            reference = QImage(png);
        }
        for (const QPoint p : {QPoint(3, 3), QPoint(66, 3), QPoint(3, 46), QPoint(66, 46), QPoint(35, 25)}) {
            const QColor mine = img.pixelColor(p);
            const QColor theirs = reference.pixelColor(p);
            EXPECT_TRUE(near(mine, theirs, 3)) << describe(mine).toStdString() << " vs " << describe(theirs).toStdString();
            if (c.grey) {
                EXPECT_EQ(mine.red(), mine.blue());
            }
        }
    }
}

TEST(ImagingDecode, PhotoshopTransparencyOnlyWithLayerRecord)
{
    const QString png = scratchFile(QStringLiteral("png"));
    QImage half(20, 10, QImage::Format_ARGB32);
    half.fill(QColor(255, 0, 0, 128));
    ASSERT_TRUE(half.save(png));
    const QString psd = scratchFile(QStringLiteral("psd"));
    ASSERT_TRUE(runTool(QStringLiteral("convert"), {png, psd}));
    const QImage img = PsdReader::read(readAll(psd)).valueOr(QImage());
    ASSERT_FALSE(img.isNull());
    const QColor c = img.pixelColor(5, 5);
    EXPECT_NEAR(c.alpha(), 128, 1);
    EXPECT_NEAR(c.red(), 255, 2);
    EXPECT_NEAR(c.green(), 0, 2);
}

TEST(ImagingDecode, PhotoshopResources)
{
    const QString path = convertedQuadrants(QStringLiteral("psd"), {QStringLiteral("-units"), QStringLiteral("PixelsPerInch"),
                                                                    QStringLiteral("-density"), QStringLiteral("300")});
    const PsdReader::Resources r = PsdReader::readResources(readAll(path));
    EXPECT_NEAR(r.dpiX, 300, 0.01);
    EXPECT_NEAR(r.dpiY, 300, 0.01);
}

TEST(ImagingDecode, DamagedFilesAreReportedNeverCrash)
{
    for (const QString &ext : {QStringLiteral("jpg"), QStringLiteral("png"), QStringLiteral("psd"), QStringLiteral("heic"),
                              QStringLiteral("tif")}) {
        SCOPED_TRACE(ext.toStdString());
        const QByteArray whole = readAll(convertedQuadrants(ext, {}, 200, 150));
        // Truncated well inside the pixel data.
        const ImageDecoder::Result cut = ImageDecoder::decode(whole.left(whole.size() * 2 / 3));
        EXPECT_TRUE(cut.image.isNull());
        EXPECT_FALSE(cut.error.description.isEmpty());
        // Random damage: any answer is fine as long as nothing crashes.
        QRandomGenerator rng(42);
        for (int round = 0; round < 30; ++round) {
            QByteArray bad = whole;
            for (int i = 0; i < 8; ++i)
                bad[rng.bounded(int(bad.size()))] = char(rng.bounded(256));
            const ImageDecoder::Result r = ImageDecoder::decode(bad);
            EXPECT_TRUE(!r.image.isNull() || !r.error.description.isEmpty());
        }
    }
    EXPECT_TRUE(ImageDecoder::decode(QByteArray()).image.isNull());
    EXPECT_TRUE(ImageDecoder::decode(QByteArray(500, '\x42')).image.isNull());
    EXPECT_TRUE(ImageDecoder::decodeFile(scratchDir() + QStringLiteral("/none.jpg")).image.isNull());
}

TEST(ImagingDecode, PhotoshopHeaderLiesAreRefusedBeforeAllocating)
{
    // A header claiming 30000 x 30000 with no data behind it.
    QByteArray psd("8BPS", 4);
    auto be16 = [&](int v) { psd.append(char(v >> 8)).append(char(v & 0xff)); };
    auto be32 = [&](quint32 v) { be16(int(v >> 16)); be16(int(v & 0xffff)); };
    be16(1);
    psd.append(QByteArray(6, '\0'));
    be16(3);
    be32(30000);
    be32(30000);
    be16(8);
    be16(3);
    be32(0);
    be32(0);
    be32(0);
    be16(1); // RLE
    psd.append(QByteArray(64, '\0'));
    const platform::Result<QImage> read = PsdReader::read(psd);
    EXPECT_FALSE(read.ok());
    EXPECT_FALSE(read.error().description.isEmpty());
}

TEST(ImagingDecode, EveryOrientationStandsUpright)
{
    // The stored picture for each orientation, made by ImageMagick from an upright one.
    const QStringList storedFrom = {QString(),           QStringLiteral("-flop"),      QStringLiteral("-rotate 180"),
                                    QStringLiteral("-flip"), QStringLiteral("-transpose"), QStringLiteral("-rotate -90"),
                                    QStringLiteral("-transverse"), QStringLiteral("-rotate 90")};
    for (int orientation = 1; orientation <= 8; ++orientation) {
        SCOPED_TRACE(orientation);
        QStringList opts = storedFrom[orientation - 1].split(' ', Qt::SkipEmptyParts);
        const QString path = convertedQuadrants(QStringLiteral("png"), opts, 60, 40);
        const QImage stored = ImageDecoder::decodeFile(path).image;
        const QImage upright = BitmapTransform::applyExifOrientation(stored, orientation);
        EXPECT_EQ(upright.size(), QSize(60, 40));
        expectQuadrants(upright, 2);
    }
    // Large enough to go through the threaded path.
    const QImage big = quadrantPicture(1500, 1000).convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const QImage turned = BitmapTransform::rotateClockwise(big, 1);
    EXPECT_EQ(turned.size(), QSize(1000, 1500));
    expectQuadrants(BitmapTransform::rotateClockwise(turned, 3), 0);
    EXPECT_EQ(turned.pixelColor(0, 0), big.pixelColor(0, 999));
}

TEST(ImagingDecode, HeicIsUprightFromItsContainer)
{
    const QString heic = convertedQuadrants(QStringLiteral("heic"), {}, 64, 48);
    const ImageDecoder::Result r = ImageDecoder::decodeFile(heic);
    EXPECT_TRUE(r.orientationApplied);
    expectQuadrants(r.image);
    EXPECT_TRUE(HeifDecoder::canDecode(readAll(heic)));
    EXPECT_FALSE(HeifDecoder::canDecode(readAll(convertedQuadrants(QStringLiteral("png"), {}))));
}

TEST(ImagingDecode, PdfPageRendersTurnedAndCropped)
{
    const QString path = quadrantPdf(QSizeF(200, 100));
    auto pdf = PdfDocument::fromFile(path);
    ASSERT_TRUE(pdf);
    EXPECT_EQ(pdf->pageCount(), 1);
    EXPECT_NEAR(pdf->pageSize().width(), 200, 0.5);
    EXPECT_NEAR(pdf->pageSize().height(), 100, 0.5);

    expectQuadrants(pdf->render(QSize(400, 200), 0), 10);

    // A quarter turn clockwise: blue comes to the top left.
    const QImage turned = pdf->render(QSize(100, 200), 90);
    ASSERT_EQ(turned.size(), QSize(100, 200));
    const QList<QColor> c = cornerColours(turned);
    EXPECT_TRUE(near(c[0], QColor(0, 0, 255), 10)) << describe(c[0]).toStdString();
    EXPECT_TRUE(near(c[1], QColor(255, 0, 0), 10)) << describe(c[1]).toStdString();
    EXPECT_TRUE(near(c[3], QColor(0, 255, 0), 10)) << describe(c[3]).toStdString();

    // Only the right half, then only the bottom right quarter.
    const QImage right = pdf->render(QSize(100, 100), 0, QRectF(0.5, 0, 0.5, 1));
    EXPECT_TRUE(near(right.pixelColor(5, 5), QColor(0, 255, 0), 10));
    EXPECT_TRUE(near(right.pixelColor(5, 95), QColor(255, 255, 0), 10));
    const QImage quarter = pdf->render(QSize(50, 50), 0, QRectF(0.5, 0.5, 0.5, 0.5));
    EXPECT_TRUE(near(quarter.pixelColor(2, 2), QColor(255, 255, 0), 10));
    EXPECT_TRUE(near(quarter.pixelColor(47, 47), QColor(255, 255, 0), 10));

    EXPECT_FALSE(PdfDocument::fromData(QByteArray("%PDF-1.4 nothing here")));
    const ImageDecoder::Result r = ImageDecoder::decodeFile(path);
    EXPECT_TRUE(r.isPdf);
    EXPECT_EQ(r.image.size(), QSize(200, 100));
}

TEST(ImagingColorFilter, FiltersWorkInLinearLight)
{
    QImage img(4, 1, QImage::Format_ARGB32_Premultiplied);
    img.setPixel(0, 0, qRgba(200, 40, 40, 255));
    img.setPixel(1, 0, qRgba(128, 128, 128, 255));
    img.setPixel(2, 0, qPremultiply(qRgba(200, 40, 40, 128)));
    img.setPixel(3, 0, qRgba(0, 0, 0, 0));

    // Saturation 0: grey, alpha kept.
    {
        auto f = ColorFilter::filterWithName(QLatin1String(ColorFilter::kColorControls));
        f->setValue(QLatin1String(ColorFilter::kInputSaturation), 0.0);
        QImage out = img.copy();
        ColorFilter::applyChain({f}, out);
        const QColor a = out.pixelColor(0, 0);
        EXPECT_EQ(a.red(), a.green());
        EXPECT_EQ(a.green(), a.blue());
        // Rec. 709 luminance of the linear values (0.1396), back in sRGB: 104.
        EXPECT_NEAR(a.red(), 104, 1);
        EXPECT_NEAR(out.pixelColor(2, 0).alpha(), 128, 1);
        EXPECT_NEAR(out.pixelColor(2, 0).red(), a.red(), 2);
        EXPECT_EQ(out.pixel(3, 0), 0u);
    }
    // One stop up doubles the light: sRGB 128 becomes about 175, not 255.
    {
        auto f = ColorFilter::filterWithName(QLatin1String(ColorFilter::kExposureAdjust));
        f->setValue(QLatin1String(ColorFilter::kInputEV), 1.0);
        QImage out = img.copy();
        ColorFilter::applyChain({f}, out);
        EXPECT_NEAR(out.pixelColor(1, 0).red(), 175, 2);
    }
    // Monochrome in white at full intensity equals saturation 0.
    {
        auto mono = ColorFilter::filterWithName(QLatin1String(ColorFilter::kColorMonochrome));
        mono->setValue(QLatin1String(ColorFilter::kInputColor), QColor(Qt::white));
        auto grey = ColorFilter::filterWithName(QLatin1String(ColorFilter::kColorControls));
        grey->setValue(QLatin1String(ColorFilter::kInputSaturation), 0.0);
        QImage a = img.copy();
        QImage b = img.copy();
        ColorFilter::applyChain({mono}, a);
        ColorFilter::applyChain({grey}, b);
        EXPECT_EQ(a.pixel(0, 0), b.pixel(0, 0));
    }
    EXPECT_FALSE(ColorFilter::filterWithName(QStringLiteral("CIGaussianBlur")));
}

TEST(ImagingColorFilter, LargePicturesGiveTheSameResultOnThreads)
{
    QImage big(1600, 1200, QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < big.height(); ++y)
        for (int x = 0; x < big.width(); ++x)
            big.setPixel(x, y, qRgba(x % 256, y % 256, (x + y) % 256, 255));
    auto f = ColorFilter::filterWithName(QLatin1String(ColorFilter::kColorControls));
    f->setValue(QLatin1String(ColorFilter::kInputSaturation), 0.3);
    auto e = ColorFilter::filterWithName(QLatin1String(ColorFilter::kExposureAdjust));
    e->setValue(QLatin1String(ColorFilter::kInputEV), -0.5);
    QImage out = big.copy();
    ColorFilter::applyChain({f, e}, out);
    for (const QPoint p : {QPoint(0, 0), QPoint(1599, 1199), QPoint(800, 600), QPoint(123, 1100)}) {
        QImage one = big.copy(QRect(p, QSize(1, 1)));
        ColorFilter::applyChain({f, e}, one);
        EXPECT_EQ(one.pixel(0, 0), out.pixel(p));
    }
}

TEST(ImagingDecode, PicturesBeyondQtsDefaultAllocationLimitLoad)
{
    // 6200 x 5400 RGB needs 134 MB decoded, over QImageReader's default 128 MB.
    // A plain PPM keeps writing and reading it quick.
    const QString path = scratchFile(QStringLiteral("ppm"));
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("P6\n6200 5400\n255\n");
        QByteArray row;
        for (int x = 0; x < 6200; ++x)
            row.append(char(10)).append(char(200)).append(char(30));
        for (int y = 0; y < 5400; ++y)
            f.write(row);
    }
    const ImageDecoder::Result r = ImageDecoder::decodeFile(path);
    ASSERT_FALSE(r.image.isNull()) << r.error.description.toStdString();
    EXPECT_EQ(r.image.size(), QSize(6200, 5400));
    EXPECT_EQ(r.image.pixelColor(6199, 5399), QColor(10, 200, 30));
}

TEST(ImagingScale, UpAndDownWithoutSeamsOrEdges)
{
    const QImage quads = quadrantPicture(300, 200).convertToFormat(QImage::Format_ARGB32_Premultiplied);
    // Upwards, across many bands: every pixel opaque, corners keep their colours.
    const QImage up = BitmapTransform::scaled(quads, 1700, 1100);
    ASSERT_EQ(up.size(), QSize(1700, 1100));
    expectQuadrants(up, 0);
    for (int y = 0; y < up.height(); y += 7)
        for (int x : {0, 1, 849, 850, 1698, 1699})
            ASSERT_EQ(up.pixelColor(x, y).alpha(), 255) << x << "," << y;
    // Slightly down and strongly down.
    expectQuadrants(BitmapTransform::scaled(quads, 290, 190), 0);
    expectQuadrants(BitmapTransform::scaled(quads, 30, 20), 0);
    // The same size is a copy.
    const QImage same = BitmapTransform::scaled(quads, 300, 200);
    EXPECT_EQ(same, quads);
    EXPECT_NE(same.constBits(), quads.constBits());
    EXPECT_TRUE(BitmapTransform::scaled(quads, 0, 10).isNull());
}

TEST(ImagingDecode, APictureTheMachineCannotHoldIsRefusedByItsHeader)
{
    // A real PNG header of 30000 x 30000 with a few rows of data.
    const QByteArray png = readAll(QString(KANTELO_TEST_DATA_DIR) + "/huge-30000x30000.png");
    EXPECT_EQ(ImageDecoder::headerSize(png), QSize(30000, 30000));
    ImageDecoder::setMachineMemory(qint64(4) << 30);
    const qint64 decodesBefore = ImageDecoder::decodeCount();
    for (const ImageDecoder::Result &refused : {ImageDecoder::decode(png), ImageDecoder::decodeAtLeast(png, QSize(300, 300))}) {
        EXPECT_TRUE(refused.tooLarge);
        EXPECT_TRUE(refused.image.isNull());
        EXPECT_TRUE(refused.error.description.contains("30000 × 30000")) << refused.error.description.toStdString();
        EXPECT_TRUE(refused.error.description.contains("13.4 GB") && refused.error.description.contains("4.0 GB"))
            << refused.error.description.toStdString();
    }
    EXPECT_EQ(ImageDecoder::decodeCount(), decodesBefore);
    EXPECT_TRUE(ImageDecoder::fitsInMemory(QSize(6000, 4000)));
    ImageDecoder::setMachineMemory(0);
    EXPECT_GT(ImageDecoder::machineMemory(), 0);
}

namespace {

// A deflate TIFF whose header says 30000 x 30000 RGB, with a few rows of data.
QByteArray hugeDeflateTiff()
{
    const QByteArray strip = qCompress(QByteArray(30000 * 3 * 4, '\0')).mid(4); // a bare zlib stream
    const quint32 data = 14;
    const quint32 ifd = (data + quint32(strip.size()) + 1) & ~1u;
    QByteArray tiff;
    QDataStream out(&tiff, QIODevice::WriteOnly);
    out.setByteOrder(QDataStream::LittleEndian);
    out.writeRawData("II", 2);
    out << quint16(42) << ifd << quint16(8) << quint16(8) << quint16(8); // bits per sample at 8
    out.writeRawData(strip.constData(), int(strip.size()));
    while (quint32(tiff.size()) < ifd)
        out << quint8(0);
    struct Entry {
        quint16 tag, type;
        quint32 count, value;
    };
    const Entry entries[] = {{256, 4, 1, 30000}, {257, 4, 1, 30000}, {258, 3, 3, 8},
                             {259, 3, 1, 8},     {262, 3, 1, 2},     {273, 4, 1, data},
                             {277, 3, 1, 3},     {278, 4, 1, 30000}, {279, 4, 1, quint32(strip.size())},
                             {284, 3, 1, 1}};
    out << quint16(std::size(entries));
    for (const Entry &e : entries)
        out << e.tag << e.type << e.count << e.value;
    out << quint32(0);
    return tiff;
}

} // namespace

TEST(ImagingDecode, ThePictureMustFitTheMemoryTheProcessCanHaveNotAllOfTheMachines)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const QByteArray tiff = hugeDeflateTiff();
    ASSERT_EQ(ImageDecoder::headerSize(tiff), QSize(30000, 30000));
    // A child whose address space may grow by 2 GB more: whatever the machine has, it is refused unread.
    EXPECT_EXIT(
        {
            rlimit limit{};
            getrlimit(RLIMIT_AS, &limit);
            QFile status(QStringLiteral("/proc/self/status"));
            status.open(QIODevice::ReadOnly);
            const QByteArray text = status.readAll();
            const qint64 vmKb = text.mid(text.indexOf("VmSize:") + 7).trimmed().split(' ').value(0).toLongLong();
            limit.rlim_cur = rlim_t(vmKb * 1024 + (qint64(2) << 30));
            setrlimit(RLIMIT_AS, &limit);
            const qint64 before = ImageDecoder::decodeCount();
            const ImageDecoder::Result r = ImageDecoder::decode(tiff);
            const bool refused = r.tooLarge && r.image.isNull() && ImageDecoder::decodeCount() == before
                                 && r.error.description.contains(QStringLiteral("30000 × 30000"))
                                 && r.error.description.contains(QStringLiteral("Close other programs"));
            std::_Exit(refused && ImageDecoder::machineMemory() <= (qint64(2) << 30) ? 0 : 1);
        },
        testing::ExitedWithCode(0), "");
}

TEST(ImagingDecode, ADrawingIsNotReadSoNoFileItNamesIsEither)
{
    QImage secret(30, 30, QImage::Format_RGB32);
    secret.fill(Qt::red);
    const QString secretPath = scratchFile(QStringLiteral("png"), QStringLiteral("private"));
    ASSERT_TRUE(secret.save(secretPath));
    const QByteArray svg = QStringLiteral("<svg xmlns=\"http://www.w3.org/2000/svg\" "
                                          "xmlns:xlink=\"http://www.w3.org/1999/xlink\" width=\"30\" height=\"30\">"
                                          "<image xlink:href=\"%1\" width=\"30\" height=\"30\"/></svg>")
                               .arg(secretPath)
                               .toUtf8();
    // Qt's own reader draws the file the drawing names: that is what must never happen here.
    ASSERT_TRUE(QImageReader::supportedImageFormats().contains("svg")) << "scripts/setup installs libqt6svg6";
    ASSERT_EQ(QImage::fromData(svg).pixelColor(15, 15), QColor(Qt::red));

    const ImageDecoder::Result whole = ImageDecoder::decode(svg);
    EXPECT_TRUE(whole.image.isNull());
    EXPECT_EQ(whole.error.code, int(DecodeError::KindNotRead));
    EXPECT_TRUE(whole.error.description.contains(QStringLiteral("SVG"))) << whole.error.description.toStdString();
    EXPECT_TRUE(ImageDecoder::decodeAtLeast(svg, QSize(10, 10)).image.isNull());
    EXPECT_FALSE(ImageDecoder::headerSize(svg).isValid());
    EXPECT_TRUE(ImageDecoder::rasterFromData(svg).isNull());
    // Named as a picture of pixels, read by its path.
    const QString disguised = scratchFile(QStringLiteral("png"), QStringLiteral("drawing"));
    QFile file(disguised);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(svg) == svg.size());
    file.close();
    QImageReader reader(disguised);
    EXPECT_FALSE(ImageDecoder::readsRaster(reader));
    EXPECT_TRUE(ImageDecoder::decodeFile(disguised).image.isNull());
    EXPECT_FALSE(ImageDecoder::readHeader(disguised).size.isValid());
    // Pictures of pixels still read through the same ways.
    const QByteArray png = readAll(secretPath);
    EXPECT_EQ(ImageDecoder::rasterFromData(png).size(), QSize(30, 30));
    QImageReader pixels(secretPath);
    EXPECT_TRUE(ImageDecoder::readsRaster(pixels));
    EXPECT_EQ(pixels.read().pixelColor(15, 15), QColor(Qt::red));
}
