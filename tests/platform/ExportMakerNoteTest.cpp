// A camera's maker note through the export: its bytes where the photo had
// them, never values read from it and written anew; a note holding a preview
// of the unframed photo stays behind.
#include "support/ImagingTools.h"

#include "platform/TypeTable.h"
#include "platform/codec/ExportMetadata.h"
#include "platform/codec/ImageEncoder.h"
#include "platform/imaging/Exiv2Support.h"
#include "platform/imaging/ImageMetadata.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>

using namespace platform;

namespace {

// A JPEG with the maker note Exiv2 writes from the tags `note` sets.
QByteArray cameraJpeg(const std::string &make, Exiv2::ByteOrder order,
                      const std::function<void(Exiv2::ExifData &)> &note)
{
    initializeExiv2();
    const QString path = testsupport::scratchFile(QStringLiteral("jpg"), QStringLiteral("maker"));
    QImage picture(64, 48, QImage::Format_RGB32);
    picture.fill(Qt::darkCyan);
    EXPECT_TRUE(picture.save(path, "JPEG"));
    auto image = Exiv2::ImageFactory::open(path.toStdString());
    image->readMetadata();
    image->setByteOrder(order);
    image->exifData()["Exif.Image.Make"] = make;
    image->exifData()["Exif.Photo.FNumber"] = Exiv2::URational(56, 10);
    note(image->exifData());
    image->writeMetadata();
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly));
    return file.readAll();
}

QByteArray exported(const QByteArray &photo)
{
    const ImageMetadata metadata = ImageMetadata::fromData(photo);
    const ExportMetadata m = ExportMetadata::prepare(metadata, 300.0, QSize(80, 60), QStringLiteral("3.0.0"));
    QImage framed(80, 60, QImage::Format_RGB32);
    framed.fill(Qt::white);
    return ImageEncoder::encodeToData(framed, QString::fromLatin1(TypeTable::kJPEG), m, 0.9, nullptr).value_or("");
}

// The note's bytes, where it began and every tag Exiv2 reads from it.
std::map<std::string, std::string> makerNote(const QByteArray &jpeg)
{
    std::map<std::string, std::string> note;
    const ImageMetadata metadata = ImageMetadata::fromData(jpeg);
    for (const Exiv2::Exifdatum &d : metadata.exifData()) {
        if (d.key() == "Exif.Photo.MakerNote" || Exiv2::ExifTags::isMakerGroup(d.groupName()))
            note[d.key()] = d.toString();
    }
    return note;
}

} // namespace

TEST(ExportMakerNote, ANoteIsCarriedByteForByteWhereThePhotoHadItOrNotAtAll)
{
    const QByteArray canon = cameraJpeg("Canon", Exiv2::bigEndian, [](Exiv2::ExifData &exif) {
        exif["Exif.Canon.ImageType"] = std::string("Canon EOS Test JPEG");
        exif["Exif.Canon.FirmwareVersion"] = std::string("Firmware Version 1.0.0");
        Exiv2::UShortValue settings;
        settings.read("92 2 0 4 0 0 0 3 65535 1 0 0 0 0 0 0 15 3 1 16385 0 32767 65535 88 18 1 32");
        exif.add(Exiv2::ExifKey("Exif.Canon.CameraSettings"), &settings);
    });
    const QByteArray nikon = cameraJpeg("NIKON CORPORATION", Exiv2::littleEndian, [](Exiv2::ExifData &exif) {
        exif["Exif.Nikon3.Quality"] = std::string("FINE   ");
        exif["Exif.Nikon3.Sharpening"] = std::string("NORMAL");
    });
    // A note Exiv2 does not read is found in the file.
    const QByteArray unknown = cameraJpeg("Example Phone", Exiv2::littleEndian, [](Exiv2::ExifData &exif) {
        const Exiv2::DataValue bytes(reinterpret_cast<const Exiv2::byte *>("EXAMPLE\0\1\0\2\0\3\0\4\0\5\0\6\0"), 20);
        exif.add(Exiv2::ExifKey("Exif.Photo.MakerNote"), &bytes);
    });
    for (const QByteArray &photo : {canon, nikon, unknown}) {
        const std::map<std::string, std::string> before = makerNote(photo);
        ASSERT_TRUE(before.count("Exif.Photo.MakerNote") && before.count("Exif.MakerNote.Offset"));
        EXPECT_EQ(makerNote(exported(photo)), before) << before.at("Exif.MakerNote.Offset");
    }
    EXPECT_GT(makerNote(canon).size(), 20u) << "the note's tags were read";

    const QByteArray casio = cameraJpeg("CASIO COMPUTER CO.,LTD.", Exiv2::bigEndian, [](Exiv2::ExifData &exif) {
        const QByteArray preview(300, '\xff');
        const Exiv2::DataValue bytes(reinterpret_cast<const Exiv2::byte *>(preview.constData()), preview.size());
        exif.add(Exiv2::ExifKey("Exif.Casio2.PreviewImage"), &bytes);
    });
    ASSERT_TRUE(makerNote(casio).count("Exif.Casio2.PreviewImage"));
    const QByteArray framed = exported(casio);
    EXPECT_TRUE(makerNote(framed).empty()) << "no preview of the unframed photo";
    EXPECT_EQ(ImageMetadata::fromData(framed).value(QStringLiteral("Exif.Photo.FNumber")).toString(), "56/10");
}
