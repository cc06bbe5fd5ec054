#pragma once

// A photo's metadata as a camera and a cataloguing program leave it, for the
// encoder tests: a date, a headline, orientation 6, a thumbnail and stale
// layout tags that must not reach the export.
#include "platform/TypeTable.h"
#include "platform/codec/ExportMetadata.h"
#include "platform/codec/ImageEncoder.h"

#include <QBuffer>
#include <QColorSpace>
#include <QImage>
#include <QPainter>

namespace codectest {

// Sharp colour edges every few rows, so a piece of a JPEG decode that took
// its edge rows from the wrong neighbours shows. Large enough for the
// writer's strips, which put a restart marker after every row of blocks.
inline QByteArray stripedJpeg(int w, int h)
{
    QImage image(w, h, QImage::Format_RGB32);
    QPainter p(&image);
    p.fillRect(image.rect(), QColor(40, 90, 160));
    for (int y = 0; y < h; y += 7)
        p.fillRect(QRect(y % w, y, w / 3, 3), QColor::fromHsv((y * 5) % 360, 255, 230));
    p.end();
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    const bool written = platform::ImageEncoder::encode(&buffer, image, QString::fromLatin1(platform::TypeTable::kJPEG),
                                                        {}, 0.9, nullptr);
    return written ? bytes : QByteArray();
}

inline constexpr const char *kDate = "2021:06:15 10:20:30";
inline constexpr const char *kHeadline = "Harbour at dawn";

struct Photo {
    Exiv2::ExifData exif;
    Exiv2::IptcData iptc;
    Exiv2::XmpData xmp;
};

inline Photo cameraPhoto()
{
    Photo p;
    p.exif["Exif.Image.Make"] = std::string("TestCam");
    p.exif["Exif.Image.Orientation"] = uint16_t(6);
    p.exif["Exif.Image.Software"] = std::string("Camera firmware 1.0");
    p.exif["Exif.Image.ImageWidth"] = uint32_t(4000);
    p.exif["Exif.Image.ImageLength"] = uint32_t(3000);
    p.exif["Exif.Photo.DateTimeOriginal"] = std::string(kDate);
    p.exif["Exif.Photo.PixelXDimension"] = uint32_t(4000);
    p.exif["Exif.Photo.PixelYDimension"] = uint32_t(3000);
    // A thumbnail: a tiny JPEG.
    QImage thumb(16, 12, QImage::Format_RGB32);
    thumb.fill(Qt::red);
    QByteArray jpeg;
    QBuffer b(&jpeg);
    b.open(QIODevice::WriteOnly);
    thumb.save(&b, "JPG");
    Exiv2::ExifThumb(p.exif).setJpegThumbnail(reinterpret_cast<const Exiv2::byte *>(jpeg.constData()),
                                              long(jpeg.size()));
    p.iptc["Iptc.Application2.Headline"] = std::string(kHeadline);
    p.xmp["Xmp.tiff.Orientation"] = std::string("6");
    p.xmp["Xmp.dc.subject"] = std::string("harbour");
    return p;
}

inline platform::ExportMetadata prepared(const QImage &image, std::optional<double> dpi = 300.0)
{
    const Photo p = cameraPhoto();
    return platform::ExportMetadata::prepare(p.exif, p.iptc, p.xmp, QColorSpace(QColorSpace::SRgb).iccProfile(), dpi,
                                             image.size(), QStringLiteral("3.0.0"));
}

// A framed picture as the renderer leaves it: opaque body, a half-transparent
// band (the outer shadow) and a fully transparent corner.
inline QImage renderedPicture(int w = 64, int h = 48, QImage::Format format = QImage::Format_ARGB32_Premultiplied,
                              bool transparent = true)
{
    QImage image(w, h, QImage::Format_ARGB32_Premultiplied);
    image.fill(QColor(30, 90, 200));
    if (transparent) {
        QPainter p(&image);
        p.setCompositionMode(QPainter::CompositionMode_Source);
        p.fillRect(QRect(0, 0, 8, 8), Qt::transparent);
        p.fillRect(QRect(w - 8, 0, 8, h), QColor(200, 40, 10, 128));
    }
    return format == image.format() ? image : image.convertToFormat(format);
}

} // namespace codectest
