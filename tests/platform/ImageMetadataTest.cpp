#include "platform/imaging/Exiv2Support.h"
#include "platform/imaging/ImageMetadata.h"
#include "platform/imaging/ImageProperties.h"
#include "support/ImagingTools.h"

#include <gtest/gtest.h>

#include <QColorSpace>
#include <QFileInfo>

#include <thread>
#include <vector>

using namespace platform;
using namespace testsupport;
namespace P = platform::ImageProperty;

namespace {

QString makePicture(const QString &ext, const QStringList &extra = {})
{
    const QString path = scratchFile(ext);
    QStringList args{QStringLiteral("-size"), QStringLiteral("40x30"), QStringLiteral("xc:orange")};
    args << extra << path;
    EXPECT_TRUE(runTool(QStringLiteral("convert"), args)) << ext.toStdString();
    return path;
}

// Writes a known set of EXIF, IPTC and XMP values with Exiv2.
void writeKnownMetadata(const QString &path)
{
    initializeExiv2();
    auto image = Exiv2::ImageFactory::open(path.toStdString());
    image->readMetadata();
    Exiv2::ExifData &exif = image->exifData();
    exif["Exif.Image.Orientation"] = uint16_t(6);
    exif["Exif.Image.XResolution"] = Exiv2::URational(300, 1);
    exif["Exif.Image.YResolution"] = Exiv2::URational(240, 1);
    exif["Exif.Image.ResolutionUnit"] = uint16_t(2);
    exif["Exif.Image.Software"] = std::string("Test Writer 1.0");
    exif["Exif.Photo.DateTimeOriginal"] = std::string("2014:07:21 18:03:09");
    Exiv2::IptcData &iptc = image->iptcData();
    iptc["Iptc.Application2.Headline"] = std::string("Harbour at dusk");
    iptc["Iptc.Application2.Caption"] = std::string("Boats in the old harbour");
    iptc["Iptc.Application2.SubLocation"] = std::string("Old Port");
    Exiv2::XmpData &xmp = image->xmpData();
    xmp["Xmp.dc.creator"] = std::string("Ada Example");
    image->writeMetadata();
    // Exiv2 keeps a TIFF's own resolution tags as they are; exiftool rewrites them.
    if (path.endsWith(QLatin1String(".tif"))) {
        EXPECT_TRUE(runTool(QStringLiteral("exiftool"), {QStringLiteral("-q"), QStringLiteral("-overwrite_original"),
                                                         QStringLiteral("-XResolution=300"), QStringLiteral("-YResolution=240"),
                                                         QStringLiteral("-ResolutionUnit=inches"), path}));
    }
}

void expectKnownMetadata(const ImageMetadata &m, const QString &what, bool withIptc = true)
{
    SCOPED_TRACE(what.toStdString());
    ASSERT_FALSE(m.isNull());
    EXPECT_EQ(m.value(P::kOrientation).toInt(), 6);
    EXPECT_EQ(m.orientation(), 6);
    EXPECT_EQ(m.value(P::kTIFFOrientation).toInt(), 6);
    EXPECT_DOUBLE_EQ(m.value(P::kDPIWidth).toDouble(), 300);
    EXPECT_DOUBLE_EQ(m.value(P::kDPIHeight).toDouble(), 240);
    EXPECT_EQ(m.value(P::kTIFFSoftware).toString(), QStringLiteral("Test Writer 1.0"));
    EXPECT_EQ(m.value(P::kExifDateTimeOriginal).toString(), QStringLiteral("2014:07:21 18:03:09"));
    EXPECT_TRUE(m.value(P::kExifDictionary).isValid());
    EXPECT_EQ(m.value(QStringLiteral("Xmp.dc.creator")).toString(), QStringLiteral("Ada Example"));
    EXPECT_TRUE(m.hasExif());
    EXPECT_TRUE(m.hasXmp());
    if (!withIptc) // WebP has no place for IPTC
        return;
    EXPECT_EQ(m.value(P::kIPTCHeadline).toString(), QStringLiteral("Harbour at dusk"));
    EXPECT_EQ(m.value(P::kIPTCCaptionAbstract).toString(), QStringLiteral("Boats in the old harbour"));
    EXPECT_EQ(m.value(P::kIPTCSubLocation).toString(), QStringLiteral("Old Port"));
    EXPECT_TRUE(m.value(P::kIPTCDictionary).isValid());
    EXPECT_TRUE(m.hasIptc());
}

} // namespace

TEST(ImagingMetadata, KnownValuesReadBackFromEveryWritableFormat)
{
    for (const QString &ext : {QStringLiteral("jpg"), QStringLiteral("png"), QStringLiteral("tif"), QStringLiteral("psd"),
                              QStringLiteral("webp")}) {
        const QString path = makePicture(ext);
        writeKnownMetadata(path);
        const ImageMetadata m = ImageMetadata::fromFile(path);
        expectKnownMetadata(m, ext, ext != QLatin1String("webp"));
        EXPECT_EQ(m.value(P::kFileName).toString(), QFileInfo(path).fileName());
        EXPECT_EQ(m.value(P::kFileSize).toString(), QString::number(QFileInfo(path).size()));
        EXPECT_EQ(m.value(P::kFileDate).toDateTime(), QFileInfo(path).lastModified());
        EXPECT_EQ(m.pixelSize(), QSize(40, 30)) << ext.toStdString();
    }
}

TEST(ImagingMetadata, HeicMetadataWrittenByExiftool)
{
    if (!hasTool(QStringLiteral("exiftool")))
        GTEST_SKIP() << "exiftool missing";
    const QString path = makePicture(QStringLiteral("heic"));
    ASSERT_TRUE(runTool(QStringLiteral("exiftool"),
                        {QStringLiteral("-q"), QStringLiteral("-overwrite_original"), QStringLiteral("-Orientation#=8"),
                         QStringLiteral("-DateTimeOriginal=2014:07:21 18:03:09"), QStringLiteral("-XMP-photoshop:Headline=Heic headline"),
                         path}));
    const ImageMetadata m = ImageMetadata::fromFile(path);
    EXPECT_EQ(m.orientation(), 8);
    EXPECT_EQ(m.value(P::kExifDateTimeOriginal).toString(), QStringLiteral("2014:07:21 18:03:09"));
    EXPECT_EQ(m.value(P::kIPTCHeadline).toString(), QStringLiteral("Heic headline"));
    EXPECT_EQ(m.pixelSize(), QSize(40, 30));
}

TEST(ImagingMetadata, XmpFallbacksWhenExifAndIptcAreMissing)
{
    const QString path = makePicture(QStringLiteral("jpg"));
    initializeExiv2();
    {
        auto image = Exiv2::ImageFactory::open(path.toStdString());
        image->readMetadata();
        image->exifData().clear();
        image->iptcData().clear();
        Exiv2::XmpData &xmp = image->xmpData();
        xmp["Xmp.tiff.Orientation"] = std::string("3");
        xmp["Xmp.exif.DateTimeOriginal"] = std::string("2019-03-04T05:06:07");
        xmp["Xmp.photoshop.Headline"] = std::string("Xmp headline");
        xmp["Xmp.dc.description"] = std::string("lang=\"x-default\" Xmp caption");
        xmp["Xmp.iptc.Location"] = std::string("Xmp place");
        image->writeMetadata();
    }
    const ImageMetadata m = ImageMetadata::fromFile(path);
    EXPECT_FALSE(m.hasExif());
    EXPECT_FALSE(m.hasIptc());
    EXPECT_EQ(m.orientation(), 3);
    EXPECT_EQ(m.value(P::kExifDateTimeOriginal).toString(), QStringLiteral("2019:03:04 05:06:07"));
    EXPECT_EQ(m.value(P::kIPTCHeadline).toString(), QStringLiteral("Xmp headline"));
    EXPECT_EQ(m.value(P::kIPTCCaptionAbstract).toString(), QStringLiteral("Xmp caption"));
    EXPECT_EQ(m.value(P::kIPTCSubLocation).toString(), QStringLiteral("Xmp place"));
    EXPECT_TRUE(m.value(P::kIPTCDictionary).isValid());
}

TEST(ImagingMetadata, ResolutionFromEachSource)
{
    // JFIF density in dots per inch.
    {
        const QString path = makePicture(QStringLiteral("jpg"), {QStringLiteral("-units"), QStringLiteral("PixelsPerInch"),
                                                                 QStringLiteral("-density"), QStringLiteral("150")});
        const ImageMetadata m = ImageMetadata::fromFile(path);
        EXPECT_TRUE(m.hasResolution());
        EXPECT_NEAR(m.dpiWidth(), 150, 0.01);
    }
    // PNG pHYs in dots per centimetre.
    {
        const QString path = makePicture(QStringLiteral("png"), {QStringLiteral("-units"), QStringLiteral("PixelsPerCentimeter"),
                                                                 QStringLiteral("-density"), QStringLiteral("100")});
        const ImageMetadata m = ImageMetadata::fromFile(path);
        EXPECT_NEAR(m.dpiWidth(), 254, 0.1);
    }
    // PSD resolution resource.
    {
        const QString path = makePicture(QStringLiteral("psd"), {QStringLiteral("-units"), QStringLiteral("PixelsPerInch"),
                                                                 QStringLiteral("-density"), QStringLiteral("200")});
        const ImageMetadata m = ImageMetadata::fromFile(path);
        EXPECT_NEAR(m.dpiWidth(), 200, 0.01);
    }
    // EXIF in centimetres wins over the format's own density.
    {
        const QString path = makePicture(QStringLiteral("jpg"), {QStringLiteral("-units"), QStringLiteral("PixelsPerInch"),
                                                                 QStringLiteral("-density"), QStringLiteral("150")});
        initializeExiv2();
        auto image = Exiv2::ImageFactory::open(path.toStdString());
        image->readMetadata();
        image->exifData()["Exif.Image.XResolution"] = Exiv2::URational(100, 1);
        image->exifData()["Exif.Image.YResolution"] = Exiv2::URational(100, 1);
        image->exifData()["Exif.Image.ResolutionUnit"] = uint16_t(3);
        image->writeMetadata();
        EXPECT_NEAR(ImageMetadata::fromFile(path).dpiWidth(), 254, 0.01);
    }
    // Nothing anywhere: 72, and it says so.
    {
        const QString path = makePicture(QStringLiteral("png"));
        const ImageMetadata m = ImageMetadata::fromFile(path);
        EXPECT_FALSE(m.hasResolution());
        EXPECT_DOUBLE_EQ(m.value(P::kDPIWidth).toDouble(), 72);
    }
}

TEST(ImagingMetadata, IccProfileIsKept)
{
    const QString icc = scratchFile(QStringLiteral("icc"));
    const QByteArray profile = QColorSpace(QColorSpace::AdobeRgb).iccProfile();
    ASSERT_FALSE(profile.isEmpty());
    {
        QFile f(icc);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(profile);
    }
    for (const QString &ext : {QStringLiteral("jpg"), QStringLiteral("png"), QStringLiteral("tif")}) {
        const QString path = makePicture(ext, {QStringLiteral("-profile"), icc});
        const ImageMetadata m = ImageMetadata::fromFile(path);
        EXPECT_FALSE(m.iccProfile().isEmpty()) << ext.toStdString();
        EXPECT_EQ(QColorSpace::fromIccProfile(m.iccProfile()), QColorSpace(QColorSpace::AdobeRgb)) << ext.toStdString();
    }
}

TEST(ImagingMetadata, WritingValuesAndCopyOnWrite)
{
    const QString path = makePicture(QStringLiteral("jpg"));
    writeKnownMetadata(path);
    const ImageMetadata original = ImageMetadata::fromFile(path);
    ImageMetadata copy = original;
    EXPECT_TRUE(copy.isSameObject(original));

    copy.setOrientation(1);
    copy.setValue(P::kTIFFSoftware, QStringLiteral("Kantelo 3.0.0 for Linux"));
    copy.setValue(P::kDPIWidth, 600.0);
    copy.remove(P::kIPTCHeadline);
    EXPECT_FALSE(copy.isSameObject(original));
    EXPECT_EQ(copy.orientation(), 1);
    EXPECT_EQ(copy.value(P::kTIFFSoftware).toString(), QStringLiteral("Kantelo 3.0.0 for Linux"));
    EXPECT_DOUBLE_EQ(copy.dpiWidth(), 600);
    EXPECT_FALSE(copy.contains(P::kIPTCHeadline));
    // The original is untouched.
    expectKnownMetadata(original, QStringLiteral("original"));

    // Written back through Exiv2, the changed values are in the file.
    const QString out = makePicture(QStringLiteral("jpg"));
    {
        auto image = Exiv2::ImageFactory::open(out.toStdString());
        image->setExifData(copy.exifData());
        image->setIptcData(copy.iptcData());
        image->setXmpData(copy.xmpData());
        image->writeMetadata();
    }
    const ImageMetadata reread = ImageMetadata::fromFile(out);
    EXPECT_EQ(reread.orientation(), 1);
    EXPECT_DOUBLE_EQ(reread.dpiWidth(), 600);
    EXPECT_EQ(reread.value(P::kIPTCCaptionAbstract).toString(), QStringLiteral("Boats in the old harbour"));
}

TEST(ImagingMetadata, DamagedAndForeignDataGiveEmptyMetadata)
{
    const ImageMetadata garbage = ImageMetadata::fromData(QByteArray(1000, 'x'));
    EXPECT_FALSE(garbage.isNull());
    EXPECT_FALSE(garbage.hasExif());
    EXPECT_EQ(garbage.orientation(), 1);
    EXPECT_DOUBLE_EQ(garbage.dpiWidth(), 72);

    const QString path = makePicture(QStringLiteral("jpg"));
    writeKnownMetadata(path);
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray whole = f.readAll();
    for (int cut : {3, 20, 100, 300}) {
        const ImageMetadata m = ImageMetadata::fromData(whole.left(cut));
        EXPECT_FALSE(m.isNull());
    }
    EXPECT_TRUE(ImageMetadata::fromFile(scratchDir() + QStringLiteral("/missing.jpg")).isNull());
}

TEST(ImagingMetadata, ReadsOnManyThreadsAtOnce)
{
    QStringList paths;
    for (int i = 0; i < 4; ++i) {
        const QString path = makePicture(QStringLiteral("jpg"));
        writeKnownMetadata(path);
        paths << path;
    }
    QList<QString> all;
    for (int i = 0; i < 32; ++i)
        all << paths[i % paths.size()];
    QList<QString> headlines(all.size());
    std::vector<std::thread> readers;
    for (qsizetype i = 0; i < all.size(); ++i)
        readers.emplace_back([&, i] {
            const QString &p = all.at(i);
            headlines[i] = ImageMetadata::fromFile(p).value(P::kIPTCHeadline).toString()
                           + ImageMetadata::fromFile(p).value(QStringLiteral("Xmp.dc.creator")).toString();
        });
    for (std::thread &reader : readers)
        reader.join();
    for (const QString &h : headlines)
        EXPECT_EQ(h, QStringLiteral("Harbour at duskAda Example"));
}
