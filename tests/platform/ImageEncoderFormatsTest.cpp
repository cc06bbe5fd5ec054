#include "CodecTestPhoto.h"
#include "ExternalTestReaders.h"
#include "support/TestSupport.h"

#include "platform/TypeTable.h"
#include "platform/codec/CodecErrors.h"
#include "platform/codec/ImageEncoder.h"
#include "platform/imaging/ImageMetadata.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>

using platform::ImageEncoder;
namespace TypeTable = platform::TypeTable;
namespace ext = externalreaders;

namespace {

// Where each reader finds what every export must carry.
struct FormatCase {
    const char *type;
    const char *extension;
    bool keepsAlpha;
    const char *resolutionTag; // exiftool tag with the format's own resolution
    double resolutionValue;
    const char *headlineTag;
    const char *identifyShows; // how ImageMagick lists the software or the EXIF
};

const FormatCase kFormats[] = {
    {TypeTable::kJPEG, "jpg", false, "JFIF:XResolution", 300, "IPTC:Headline", "exif:Software: Kantelo 3.0.0 for Linux"},
    {TypeTable::kPNG, "png", true, "PNG-pHYs:PixelsPerUnitX", 11811, "XMP-photoshop:Headline", "Software: Kantelo 3.0.0 for Linux"},
    {TypeTable::kTIFF, "tif", true, "IFD0:XResolution", 300, "IPTC:Headline", "tiff:software: Kantelo 3.0.0 for Linux"},
    {TypeTable::kPSD, "psd", true, "Photoshop:XResolution", 300, "IPTC:Headline", "Profile-exif:"},
};

void PrintTo(const FormatCase &f, std::ostream *os)
{
    *os << f.type;
}

class ImageEncoderFormats : public ::testing::TestWithParam<FormatCase>
{
protected:
    QString path(const QString &stem) const
    {
        return QDir(testsupport::scratchDir()).filePath(stem + "." + GetParam().extension);
    }
};

} // namespace

TEST_P(ImageEncoderFormats, ReadersSeeSizeResolutionAlphaAndMetadata)
{
    const FormatCase f = GetParam();
    for (const bool transparent : {true, false}) {
        const QImage image = codectest::renderedPicture(72, 40, QImage::Format_RGBA8888_Premultiplied, transparent);
        const QString file = path(transparent ? "alpha" : "opaque");
        platform::Error error;
        ASSERT_TRUE(ImageEncoder::writeToFile(file, image, f.type, codectest::prepared(image), 0.9, &error))
            << error.description.toStdString();

        const QString verbose = ext::identifyVerbose(file);
        EXPECT_TRUE(verbose.contains("Geometry: 72x40+0+0")) << f.type;
        const bool alphaSeen = verbose.contains("  Alpha:") || verbose.contains("Alpha: ");
        EXPECT_EQ(alphaSeen, f.keepsAlpha && transparent) << f.type << " transparent " << transparent;
        EXPECT_TRUE(verbose.contains(f.identifyShows)) << f.type;

        const QJsonObject tags = ext::exiftool(file);
        EXPECT_EQ(tags.value("IFD0:Software").toString(), "Kantelo 3.0.0 for Linux") << f.type;
        EXPECT_EQ(tags.value("IFD0:Orientation").toInt(), 1) << f.type;
        EXPECT_EQ(tags.value("XMP-tiff:Orientation").toInt(), 1) << f.type;
        EXPECT_EQ(tags.value("IFD0:XResolution").toDouble(), 300) << f.type;
        EXPECT_NEAR(tags.value(f.resolutionTag).toDouble(), f.resolutionValue, 0.5) << f.type;
        EXPECT_EQ(tags.value("ExifIFD:DateTimeOriginal").toString(), codectest::kDate) << f.type;
        EXPECT_EQ(tags.value(f.headlineTag).toString(), codectest::kHeadline) << f.type;
        EXPECT_EQ(tags.value("ExifIFD:ExifImageWidth").toInt(), 72) << f.type;
        EXPECT_FALSE(tags.contains("IFD1:ThumbnailLength")) << f.type;
        EXPECT_TRUE(tags.contains("ICC_Profile:ProfileDescription")) << f.type;
        EXPECT_TRUE(verbose.contains("Profile-icc:")) << f.type;
        EXPECT_FALSE(tags.contains("IFD1:ThumbnailOffset")) << f.type;
        for (auto it = tags.begin(); it != tags.end(); ++it)
            EXPECT_FALSE(it.key().startsWith("ExifTool:Warning")) << f.type << " " << it.value().toString().toStdString();
    }
}

TEST_P(ImageEncoderFormats, SemiTransparentPixelsKeepColourAndAlpha)
{
    const FormatCase f = GetParam();
    if (!f.keepsAlpha)
        GTEST_SKIP() << "no alpha in this format";
    const QImage image = codectest::renderedPicture(64, 48);
    const QString file = path("band");
    ASSERT_TRUE(ImageEncoder::writeToFile(file, image, f.type, codectest::prepared(image), {}, nullptr));
    // Straight colour (200, 40, 10) at alpha 128, as rendered.
    const QStringList band = ext::identifyFormat(
        file, "%[fx:int(255*p{60,24}.r+0.5)],%[fx:int(255*p{60,24}.g+0.5)],%[fx:int(255*p{60,24}.b+0.5)],%[fx:int(255*p{60,24}.a+0.5)]").split(',');
    ASSERT_EQ(band.size(), 4);
    EXPECT_NEAR(band[0].toInt(), 200, 2);
    EXPECT_NEAR(band[1].toInt(), 40, 2);
    EXPECT_NEAR(band[2].toInt(), 10, 2);
    EXPECT_NEAR(band[3].toInt(), 128, 1);
    EXPECT_EQ(ext::identifyFormat(file, "%[fx:int(255*p{2,2}.a+0.5)]").toInt(), 0);
    EXPECT_EQ(ext::identifyFormat(file, "%[fx:int(255*p{30,30}.b+0.5)]").toInt(), 200);
}

TEST_P(ImageEncoderFormats, EncodesToMemoryTheSameBytes)
{
    const FormatCase f = GetParam();
    const QImage image = codectest::renderedPicture(50, 30);
    const auto meta = codectest::prepared(image);
    const std::optional<QByteArray> data = ImageEncoder::encodeToData(image, f.type, meta, 0.8, nullptr);
    ASSERT_TRUE(data.has_value());
    const QString file = path("memory");
    ASSERT_TRUE(ImageEncoder::writeToFile(file, image, f.type, meta, 0.8, nullptr));
    QFile written(file);
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    EXPECT_EQ(written.readAll(), *data);
}

TEST_P(ImageEncoderFormats, FullDeviceIsAnError)
{
    const FormatCase f = GetParam();
    const QImage image = codectest::renderedPicture(300, 200);
    QFile full("/dev/full");
    ASSERT_TRUE(full.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
    platform::Error error;
    EXPECT_FALSE(ImageEncoder::encode(&full, image, f.type, codectest::prepared(image), 0.9, &error));
    EXPECT_EQ(error.code, int(platform::CodecError::WriteFailed)) << error.description.toStdString();
}

INSTANTIATE_TEST_SUITE_P(Codec, ImageEncoderFormats, ::testing::ValuesIn(kFormats),
                         [](const ::testing::TestParamInfo<FormatCase> &info) {
                             return std::string(info.param.extension);
                         });

TEST_P(ImageEncoderFormats, ExportOfAnExportKeepsThePhotosMetadata)
{
    // A photo written once, its metadata read back as a decoded photo's, and
    // exported again at another size: the date and headline travel, the size
    // follows the new picture.
    const FormatCase f = GetParam();
    const QImage first = codectest::renderedPicture(40, 30);
    const QString source = path("source");
    ASSERT_TRUE(ImageEncoder::writeToFile(source, first, f.type, codectest::prepared(first), 0.9, nullptr));
    const platform::ImageMetadata photo = platform::ImageMetadata::fromFile(source);
    ASSERT_FALSE(photo.isNull());
    const QImage second = codectest::renderedPicture(80, 50);
    const QString again = QDir(testsupport::scratchDir()).filePath(QStringLiteral("again.jpg"));
    ASSERT_TRUE(ImageEncoder::writeToFile(again, second, TypeTable::kJPEG,
                                          platform::ExportMetadata::prepare(photo, 150.0, second.size(), "3.0.0"),
                                          0.8, nullptr));
    const QJsonObject tags = ext::exiftool(again);
    EXPECT_EQ(tags.value("ExifIFD:DateTimeOriginal").toString(), codectest::kDate) << f.type;
    EXPECT_EQ(tags.value("XMP-photoshop:Headline").toString(), codectest::kHeadline) << f.type;
    EXPECT_EQ(tags.value("ExifIFD:ExifImageWidth").toInt(), 80) << f.type;
    EXPECT_EQ(tags.value("IFD0:XResolution").toDouble(), 150) << f.type;
    EXPECT_EQ(tags.value("IFD0:Orientation").toInt(), 1) << f.type;
    EXPECT_EQ(tags.value("IFD0:Make").toString(), "TestCam") << f.type;
}
