#include "platform/codec/ExportMetadata.h"

#include "platform/Log.h"
#include "platform/imaging/Exiv2Support.h"
#include "platform/imaging/ImageMetadata.h"

#include <QSet>

#include <cmath>

namespace platform {

namespace {

// EXIF groups that describe other images (thumbnails, pages, sub-images).
bool isForeignImageGroup(const std::string &group)
{
    return group == "Thumbnail" || group.rfind("SubImage", 0) == 0 || group.rfind("SubThumb", 0) == 0
        || (group.rfind("Image", 0) == 0 && group.size() > 5 && std::isdigit(static_cast<unsigned char>(group[5])));
}

// Tags describing the old file's layout or duplicating what we write elsewhere.
const QSet<QString> &structureKeys()
{
    static const QSet<QString> keys = {
        "Exif.Image.NewSubfileType", "Exif.Image.SubfileType", "Exif.Image.ImageWidth",
        "Exif.Image.ImageLength", "Exif.Image.BitsPerSample", "Exif.Image.Compression",
        "Exif.Image.PhotometricInterpretation", "Exif.Image.FillOrder", "Exif.Image.StripOffsets",
        "Exif.Image.SamplesPerPixel", "Exif.Image.RowsPerStrip", "Exif.Image.StripByteCounts",
        "Exif.Image.PlanarConfiguration", "Exif.Image.Predictor", "Exif.Image.TileWidth",
        "Exif.Image.TileLength", "Exif.Image.TileOffsets", "Exif.Image.TileByteCounts",
        "Exif.Image.SubIFDs", "Exif.Image.ExtraSamples", "Exif.Image.SampleFormat",
        "Exif.Image.JPEGTables", "Exif.Image.JPEGProc", "Exif.Image.JPEGInterchangeFormat",
        "Exif.Image.JPEGInterchangeFormatLength", "Exif.Image.YCbCrSubSampling",
        "Exif.Image.YCbCrPositioning", "Exif.Image.YCbCrCoefficients", "Exif.Image.XMLPacket",
        "Exif.Image.IPTCNAA", "Exif.Image.ImageResources", "Exif.Image.InterColorProfile",
        "Exif.Image.PrintImageMatching", "Exif.Image.ResolutionUnit", "Exif.Image.XResolution",
        "Exif.Image.YResolution", "Exif.Image.Orientation", "Exif.Image.Software",
        "Exif.Photo.PixelXDimension", "Exif.Photo.PixelYDimension",
    };
    return keys;
}

Exiv2::URational rationalFor(double value)
{
    if (std::abs(value - std::round(value)) < 1e-9 && value < 4e9)
        return Exiv2::URational(uint32_t(std::round(value)), 1);
    return Exiv2::URational(uint32_t(std::round(value * 1000)), 1000);
}

QString xmpRational(double value)
{
    const Exiv2::URational r = rationalFor(value);
    return QStringLiteral("%1/%2").arg(r.first).arg(r.second);
}

} // namespace

QString ExportMetadata::softwareString(const QString &version)
{
    return QStringLiteral("Kantelo %1 for Linux").arg(version.isEmpty() ? QStringLiteral("4") : version);
}

ExportMetadata ExportMetadata::prepare(const Exiv2::ExifData &exif, const Exiv2::IptcData &iptc,
                                       const Exiv2::XmpData &xmp, const QByteArray &iccProfile,
                                       std::optional<double> dpi, QSize size, const QString &version)
{
    initializeExiv2();
    ExportMetadata m;
    m.m_icc = iccProfile;
    m.m_software = softwareString(version);
    if (dpi && !(std::isfinite(*dpi) && *dpi > 0 && *dpi < 1e6))
        dpi.reset();
    m.m_dpi = dpi;
    const std::string software = m.m_software.toStdString();

    try {
        // EXIF: keep the photo's own tags, drop what described the old file.
        for (const Exiv2::Exifdatum &datum : exif) {
            if (isForeignImageGroup(datum.groupName()))
                continue;
            if (structureKeys().contains(QString::fromStdString(datum.key())))
                continue;
            m.m_exif.add(datum);
        }
        m.m_exif["Exif.Image.Software"] = software;
        m.m_exif["Exif.Image.Orientation"] = uint16_t(1);
        if (dpi) {
            m.m_exif["Exif.Image.XResolution"] = rationalFor(*dpi);
            m.m_exif["Exif.Image.YResolution"] = rationalFor(*dpi);
            m.m_exif["Exif.Image.ResolutionUnit"] = uint16_t(2);
        }
        if (size.isValid()) {
            m.m_exif["Exif.Photo.PixelXDimension"] = uint32_t(size.width());
            m.m_exif["Exif.Photo.PixelYDimension"] = uint32_t(size.height());
        }
        m.m_exif.sortByKey();
    } catch (const std::exception &e) {
        logLine(QStringLiteral("Warning: EXIF of the photo left out of the export: %1").arg(e.what()));
        m.m_exif.clear();
    }

    m.m_iptc = iptc;

    try {
        for (const Exiv2::Xmpdatum &datum : xmp) {
            const std::string key = datum.key();
            if (key.rfind("Xmp.xmp.Thumbnails", 0) == 0 || key == "Xmp.xmpNote.HasExtendedXMP"
                || key == "Xmp.tiff.ImageWidth" || key == "Xmp.tiff.ImageLength"
                || key == "Xmp.tiff.XResolution" || key == "Xmp.tiff.YResolution"
                || key == "Xmp.tiff.ResolutionUnit" || key == "Xmp.tiff.Orientation"
                || key == "Xmp.exif.PixelXDimension" || key == "Xmp.exif.PixelYDimension"
                || key == "Xmp.xmp.CreatorTool")
                continue;
            m.m_xmp.add(datum);
        }
        // Readers that look for the IPTC fields in XMP (PNG has no IPTC of its
        // own) find them there; fields the XMP already has win.
        if (!iptc.empty()) {
            Exiv2::XmpData fromIptc;
            Exiv2::copyIptcToXmp(iptc, fromIptc);
            for (const Exiv2::Xmpdatum &datum : fromIptc) {
                if (m.m_xmp.findKey(Exiv2::XmpKey(datum.key())) == m.m_xmp.end())
                    m.m_xmp.add(datum);
            }
        }
        m.m_xmp["Xmp.tiff.Orientation"] = std::string("1");
        m.m_xmp["Xmp.xmp.CreatorTool"] = software;
        if (dpi) {
            m.m_xmp["Xmp.tiff.XResolution"] = xmpRational(*dpi).toStdString();
            m.m_xmp["Xmp.tiff.YResolution"] = xmpRational(*dpi).toStdString();
            m.m_xmp["Xmp.tiff.ResolutionUnit"] = std::string("2");
        }
        if (size.isValid()) {
            m.m_xmp["Xmp.exif.PixelXDimension"] = std::to_string(size.width());
            m.m_xmp["Xmp.exif.PixelYDimension"] = std::to_string(size.height());
        }
    } catch (const std::exception &e) {
        logLine(QStringLiteral("Warning: XMP of the photo left out of the export: %1").arg(e.what()));
        m.m_xmp.clear();
    }
    return m;
}

ExportMetadata ExportMetadata::prepare(const ImageMetadata &photo, std::optional<double> dpi, QSize size,
                                       const QString &version)
{
    if (photo.isNull())
        return prepare(Exiv2::ExifData(), Exiv2::IptcData(), Exiv2::XmpData(), QByteArray(), dpi, size, version);
    return prepare(photo.exifData(), photo.iptcData(), photo.xmpData(), photo.iccProfile(), dpi, size, version);
}

QByteArray ExportMetadata::exifBlob() const
{
    if (m_exif.empty())
        return {};
    try {
        Exiv2::Blob blob;
        Exiv2::ExifParser::encode(blob, Exiv2::littleEndian, m_exif);
        return QByteArray(reinterpret_cast<const char *>(blob.data()), qsizetype(blob.size()));
    } catch (const std::exception &e) {
        logLine(QStringLiteral("Warning: couldn't encode EXIF: %1").arg(e.what()));
        return {};
    }
}

QByteArray ExportMetadata::iptcBlob() const
{
    if (m_iptc.empty())
        return {};
    try {
        const Exiv2::DataBuf buf = Exiv2::IptcParser::encode(m_iptc);
        return QByteArray(reinterpret_cast<const char *>(buf.pData_), qsizetype(buf.size_));
    } catch (const std::exception &e) {
        logLine(QStringLiteral("Warning: couldn't encode IPTC: %1").arg(e.what()));
        return {};
    }
}

QByteArray ExportMetadata::xmpPacket() const
{
    if (m_xmp.empty())
        return {};
    initializeExiv2();
    try {
        std::string packet;
        if (Exiv2::XmpParser::encode(packet, m_xmp, Exiv2::XmpParser::useCompactFormat) != 0)
            return {};
        return QByteArray::fromStdString(packet);
    } catch (const std::exception &e) {
        logLine(QStringLiteral("Warning: couldn't encode XMP: %1").arg(e.what()));
        return {};
    }
}

} // namespace platform
