#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QSharedDataPointer>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QVariant>

namespace Exiv2 {
class ExifData;
class IptcData;
class XmpData;
} // namespace Exiv2

namespace platform {

// The metadata of one picture: its EXIF, IPTC and XMP (as Exiv2 keeps them),
// ICC profile, orientation and resolution, and the file's name, size and
// date. The property names of ImageProperty.h read through it, each mapped to
// its Exiv2 key with an XMP fallback; raw Exiv2 keys ("Exif.Photo.FNumber")
// read too. Exporters take the Exiv2 containers themselves.
//
// A value type with shared, copy-on-write data: copies are cheap and may go
// to other threads. `isSameObject` tells whether two values are one and the
// same metadata (never detached since).
class ImageMetadata
{
public:
    ImageMetadata(); // null: no metadata at all
    ImageMetadata(const ImageMetadata &other);
    ImageMetadata(ImageMetadata &&other) noexcept;
    ImageMetadata &operator=(const ImageMetadata &other);
    ImageMetadata &operator=(ImageMetadata &&other) noexcept;
    ~ImageMetadata();

    // Reads the metadata of an encoded picture. Never null: a picture Exiv2
    // does not understand gives empty metadata (still with its resolution
    // when the format's own header has one).
    static ImageMetadata fromData(const QByteArray &data);
    // As fromData, plus the file entries; null when the file cannot be read.
    static ImageMetadata fromFile(const QString &path);

    bool isNull() const;
    bool isSameObject(const ImageMetadata &other) const;

    // Property names (ImageProperty.h), the file entries or raw Exiv2 keys.
    // Orientation and pixel sizes are ints, resolutions doubles, the file
    // date a QDateTime, everything else strings. Invalid when missing.
    QVariant value(const QString &key) const;
    bool contains(const QString &key) const;
    // Writes a value to its primary place (and to the XMP fallback when the
    // picture has XMP); an invalid QVariant removes the key.
    void setValue(const QString &key, const QVariant &value);
    void remove(const QString &key);

    // 1 to 8; 1 when missing or out of range.
    int orientation() const;
    void setOrientation(int orientation);

    // Dots per inch: EXIF resolution (unit inch or cm), else the format's own
    // density (JFIF, PNG pHYs, PSD resolution), else 72.
    double dpiWidth() const;
    double dpiHeight() const;
    bool hasResolution() const; // false when the 72 is only the fallback
    void setResolution(double dpiX, double dpiY);

    bool hasExif() const;
    bool hasIptc() const;
    bool hasXmp() const;

    // The containers themselves. The non-const accessors detach.
    const Exiv2::ExifData &exifData() const;
    Exiv2::ExifData &exifData();
    const Exiv2::IptcData &iptcData() const;
    Exiv2::IptcData &iptcData();
    const Exiv2::XmpData &xmpData() const;
    Exiv2::XmpData &xmpData();

    // The namespaces the photo's XMP declares that end in neither "/" nor
    // "#": Exiv2 writes each with a "/", so a copy names them again as the
    // photo did.
    QStringList xmpBareNamespaces() const;
    // What of the photo's XMP could not be read, said for the user; empty
    // when all of it was.
    QString xmpLeftOut() const;

    QByteArray iccProfile() const;
    void setIccProfile(const QByteArray &profile);

    // Pixel size as the file stores it (before orientation); invalid when unknown.
    QSize pixelSize() const;
    void setPixelSize(const QSize &size);

    // File entries: the last path component, the size in bytes as a decimal
    // string, the modification date.
    QString fileName() const;
    QString fileSize() const;
    QDateTime fileDate() const;
    // Adds the file entries from the file at `path` (the name always; size and
    // date when the file's attributes can be read).
    void expandWithAttributesOfItemAtPath(const QString &path);
    void setFileEntries(const QString &name, const QString &size, const QDateTime &date);

    // Every key `value` answers, property names and file entries first.
    QStringList keys() const;

private:
    struct Private;
    QSharedDataPointer<Private> d;
    void ensure();
};

} // namespace platform
