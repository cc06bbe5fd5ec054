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

#include <QBuffer>
#include <QtEndian>

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

// Big-endian TIFF words, for blocks written by hand.
QByteArray be(quint32 v, int bytes)
{
    QByteArray b(4, '\0');
    qToBigEndian(v, b.data());
    return b.right(bytes);
}
QByteArray entry(quint16 tag, quint16 type, quint32 count, quint32 value)
{
    return be(tag, 2) + be(type, 2) + be(count, 4) + be(value, 4);
}
QByteArray jpegOf(QColor colour, int width, int height)
{
    QImage picture(width, height, QImage::Format_RGB32);
    picture.fill(colour);
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    picture.save(&buffer, "JPEG");
    return jpeg;
}

// A JPEG whose EXIF block is written by hand: IFD0 with the make, the Exif
// directory with an f-number and the note, the note (told where it will
// lie), then `tail`.
QByteArray handMadeJpeg(const QByteArray &make, const std::function<QByteArray(quint32)> &note,
                        const QByteArray &tail = {})
{
    const QByteArray name = make + QByteArray(2 - make.size() % 2, '\0');
    const quint32 exifAt = 38 + quint32(name.size());
    const QByteArray bytes = note(exifAt + 38);
    QByteArray block = QByteArray("MM\0*", 4) + be(8, 4) + be(2, 2) + entry(0x010f, 2, quint32(make.size() + 1), 38)
                       + entry(0x8769, 4, 1, exifAt) + be(0, 4) + name;
    block += be(2, 2) + entry(0x829d, 5, 1, exifAt + 30) + entry(0x927c, 7, quint32(bytes.size()), exifAt + 38)
             + be(0, 4) + be(56, 4) + be(10, 4) + bytes + tail;
    const QByteArray jpeg = jpegOf(Qt::darkCyan, 64, 48);
    return jpeg.left(2) + "\xff\xe1" + be(quint32(block.size() + 8), 2) + QByteArray("Exif\0\0", 6) + block
           + jpeg.mid(2);
}

// A note of one directory: a bit depth (0x0e22, four shorts) at `valueAt`
// from its TIFF header; a Nikon note carries one after its name.
QByteArray directoryNote(const QByteArray &name, bool ownHeader, quint32 valueAt, bool valueInside)
{
    QByteArray directory = be(1, 2) + entry(0x0e22, 3, 4, valueAt) + be(0, 4);
    if (valueInside)
        directory += be(1, 4) + be(12 << 16, 4);
    return ownHeader ? name + QByteArray("MM\0*", 4) + be(8, 4) + directory : name + directory;
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

TEST(ExportMakerNote, ANoteHoldingAPictureOrNamingBytesOutsideItselfStaysBehindAndACleanOneGoesAsItIs)
{
    const QByteArray preview = jpegOf(Qt::darkRed, 32, 24);
    const QByteArray nikon("Nikon\0\2\x10\0\0", 10);
    const QByteArray zeros(16, '\0');
    const struct {
        const char *what;
        QByteArray photo;
    } dropped[] = {
        {"a note that is a picture", handMadeJpeg("SAMSUNG", [&](quint32) { return preview; })},
        {"a value past the note's end, from its own header",
         handMadeJpeg(
             "NIKON CORPORATION", [&](quint32) { return directoryNote(nikon, true, 8 + 18 + 4, false); }, zeros)},
        {"a value past the end of a note Exiv2 does not read",
         handMadeJpeg(
             "Example Phone",
             [&](quint32 at) { return directoryNote(QByteArray("EXAMPLE\0", 8), false, at + 30, false); }, zeros)},
        {"a value before the note, from the TIFF header",
         handMadeJpeg("Canon", [&](quint32) { return directoryNote({}, false, 22, false) + zeros; })},
    };
    for (const auto &c : dropped) {
        ASSERT_TRUE(ImageMetadata::fromData(c.photo).contains("Exif.Photo.MakerNote")) << c.what;
        const QByteArray framed = exported(c.photo);
        EXPECT_TRUE(makerNote(framed).empty()) << c.what;
        EXPECT_EQ(ImageMetadata::fromData(framed).value(QStringLiteral("Exif.Photo.FNumber")).toString(), "56/10");
    }

    const QByteArray clean =
        handMadeJpeg("NIKON CORPORATION", [&](quint32) { return directoryNote(nikon, true, 8 + 18, true); });
    const std::map<std::string, std::string> before = makerNote(clean);
    ASSERT_EQ(before.at("Exif.Nikon3.0x0e22"), "0 1 12 0");
    EXPECT_EQ(makerNote(exported(clean)), before);
}
