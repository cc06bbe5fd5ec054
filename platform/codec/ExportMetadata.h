#pragma once

// Exiv2 0.27 still declares std::auto_ptr in its headers.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <exiv2/exiv2.hpp>
#pragma GCC diagnostic pop

#include <QByteArray>
#include <QSize>
#include <QString>
#include <QStringList>

#include <optional>

namespace platform {

class ImageMetadata;

// What an exported picture carries: the photo's own metadata made fit for the
// new file (software, resolution, orientation 1, output pixel size; no stale
// thumbnail or structure tags; the maker note byte for byte where the photo
// had it, or not at all) and the blobs each encoder embeds.
class ExportMetadata
{
public:
    // "Kantelo <version> for Linux"; "4" stands in for an empty version.
    static QString softwareString(const QString &version);

    // From the photo's metadata (any of it may be empty). `dpi` missing means
    // no resolution at all; `size` is the output's pixel size. Never throws.
    static ExportMetadata prepare(const Exiv2::ExifData &exif, const Exiv2::IptcData &iptc,
                                  const Exiv2::XmpData &xmp, const QByteArray &iccProfile,
                                  std::optional<double> dpi, QSize size, const QString &version);

    // The same from a decoded photo's metadata (a null value: none).
    static ExportMetadata prepare(const ImageMetadata &photo, std::optional<double> dpi, QSize size,
                                  const QString &version);

    const Exiv2::ExifData &exif() const { return m_exif; }
    const Exiv2::IptcData &iptc() const { return m_iptc; }
    const Exiv2::XmpData &xmp() const { return m_xmp; }
    const QByteArray &iccProfile() const { return m_icc; }
    void setIccProfile(const QByteArray &icc) { m_icc = icc; }
    std::optional<double> dpi() const { return m_dpi; }
    QString software() const { return m_software; }

    // EXIF as a TIFF structure (byte-order mark first), as PNG's eXIf, PSD's
    // 0x0422 and, after "Exif\0\0", JPEG's APP1 hold it. Empty when none.
    QByteArray exifBlob() const;
    // IPTC-IIM records; empty when none.
    QByteArray iptcBlob() const;
    // The XMP packet with its wrapper; empty when none.
    QByteArray xmpPacket() const;

private:
    Exiv2::ExifData m_exif;
    Exiv2::IptcData m_iptc;
    Exiv2::XmpData m_xmp;
    QByteArray m_icc;
    std::optional<double> m_dpi;
    QString m_software;
    // The photo's maker note and where it began, from the TIFF header; the
    // EXIF is written in the byte order it was read in.
    QByteArray m_makerNote;
    quint32 m_makerNoteOffset = 0;
    Exiv2::ByteOrder m_byteOrder = Exiv2::littleEndian;
    // The photo's namespaces that Exiv2 would write with a "/" added.
    QStringList m_xmpBareNamespaces;
};

} // namespace platform
