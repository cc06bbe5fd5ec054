#include "platform/codec/ExportMetadata.h"

#include "platform/Log.h"
#include "platform/imaging/ExifDirectories.h"
#include "platform/imaging/Exiv2Support.h"
#include "platform/imaging/ImageMetadata.h"
#include "platform/imaging/XmpPacket.h"

#include <QSet>

#include <algorithm>
#include <cmath>
#include <functional>

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

// Maker note tags of previews of the photo, as Exiv2 finds them: a note
// holding one would show the unframed picture in viewers that look there.
bool holdsPreview(const Exiv2::Exifdatum &datum)
{
    static const QSet<QString> keys = {
        "Exif.Nikon3.Preview",          "Exif.Pentax.PreviewOffset",        "Exif.PentaxDng.PreviewOffset",
        "Exif.Minolta.ThumbnailOffset", "Exif.Minolta.Thumbnail",           "Exif.SonyMinolta.ThumbnailOffset",
        "Exif.Olympus.ThumbnailImage",  "Exif.Olympus.Thumbnail",           "Exif.Olympus2.ThumbnailImage",
        "Exif.Olympus2.Thumbnail",      "Exif.OlympusCs.PreviewImageStart", "Exif.Casio2.PreviewImage",
        "Exif.Sony1.PreviewImage",      "Exif.Sony2.PreviewImage",
    };
    const std::string group = datum.groupName();
    return group == "NikonPreview" || group == "SamsungPreview" || keys.contains(QString::fromStdString(datum.key()));
}

// The most EXIF a JPEG's APP1 holds after "Exif\0\0", and so all we write.
constexpr quint64 kMaxExif = 65527;

// `encoded` (with a maker note entry that holds almost nothing) with the
// note's bytes at `offset`, where the photo had them: the header, the note,
// then the rest with its offsets moved past the note. Empty when it does not
// fit or `encoded` is not as Exiv2 writes it.
QByteArray withMakerNoteAt(const QByteArray &encoded, const QByteArray &note, quint32 offset)
{
    const ExifDirectories in(encoded);
    if (!in.isValid() || offset < 8 || note.isEmpty())
        return {};
    const quint64 start = (quint64(offset) + quint64(note.size()) + 3) & ~quint64(3);
    if (start + quint64(encoded.size()) - 8 > kMaxExif)
        return {};
    const quint32 shift = quint32(start - 8);
    QByteArray out = encoded.left(8);
    out += QByteArray(qsizetype(offset) - 8, '\0');
    out += note;
    out += QByteArray(qsizetype(start) - out.size(), '\0');
    out += encoded.mid(8);
    in.putU32(out, 4, in.firstDirectory() + shift);

    bool placed = false;
    QSet<quint32> seen;
    std::function<bool(quint32, bool)> move = [&](quint32 directory, bool exifDirectory) {
        while (directory) {
            if (seen.contains(directory))
                return false;
            seen.insert(directory);
            QList<ExifDirectories::Entry> entries;
            quint32 nextAt = 0;
            if (!in.directory(directory, &entries, &nextAt))
                return false;
            for (const ExifDirectories::Entry &e : entries) {
                const quint32 field = e.at + 8 + shift;
                if (exifDirectory && e.tag == ExifDirectories::kMakerNoteTag) {
                    in.putU32(out, e.at + 4 + shift, quint32(note.size()));
                    in.putU32(out, field, offset);
                    placed = true;
                } else if (e.tag == ExifDirectories::kExifTag || e.tag == ExifDirectories::kGpsTag
                           || e.tag == ExifDirectories::kInteroperabilityTag) {
                    in.putU32(out, field, e.value + shift);
                    if (!move(e.value, e.tag == ExifDirectories::kExifTag))
                        return false;
                } else if (e.size > 4) {
                    in.putU32(out, field, e.value + shift);
                }
            }
            directory = in.u32(nextAt);
            if (directory)
                in.putU32(out, nextAt + shift, directory + shift);
        }
        return true;
    };
    if (!move(in.firstDirectory(), false) || !placed)
        return {};
    return out;
}

// The values Exiv2 reads from a maker note, by key.
QList<std::pair<std::string, std::string>> makerTags(const Exiv2::ExifData &exif)
{
    QList<std::pair<std::string, std::string>> tags;
    for (const Exiv2::Exifdatum &datum : exif) {
        if (Exiv2::ExifTags::isMakerGroup(datum.groupName()) && datum.groupName() != "MakerNote")
            tags.append({datum.key(), datum.toString()});
    }
    return tags;
}

// Whether Exiv2 reads the maker note of `block` as it read the photo's.
bool readsAsBefore(const Exiv2::ExifData &photo, const QByteArray &block)
{
    Exiv2::ExifData exif;
    try {
        Exiv2::ExifParser::decode(exif, reinterpret_cast<const Exiv2::byte *>(block.constData()),
                                  uint32_t(block.size()));
    } catch (const std::exception &) {
        return false;
    }
    return makerTags(exif) == makerTags(photo);
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
        // The maker note goes as the bytes the photo holds, never as values
        // Exiv2 read from it and would write anew (it misreads many), and at
        // the offset it had, as many notes count their own offsets from the
        // TIFF header.
        const auto note = exif.findKey(Exiv2::ExifKey("Exif.Photo.MakerNote"));
        const auto offset = exif.findKey(Exiv2::ExifKey("Exif.MakerNote.Offset"));
        const auto order = exif.findKey(Exiv2::ExifKey("Exif.MakerNote.ByteOrder"));
        if (note != exif.end() && offset != exif.end() && order != exif.end() && note->size() > 0
            && std::none_of(exif.begin(), exif.end(), holdsPreview)) {
            m.m_makerNote = QByteArray(qsizetype(note->size()), Qt::Uninitialized);
            note->copy(reinterpret_cast<Exiv2::byte *>(m.m_makerNote.data()), Exiv2::invalidByteOrder);
            m.m_makerNoteOffset = quint32(offset->toLong());
            // Many notes take the byte order of the block around them.
            m.m_byteOrder = order->toString() == "MM" ? Exiv2::bigEndian : Exiv2::littleEndian;
            if (!ExifDirectories::isSelfContainedNote(m.m_makerNote, m.m_makerNoteOffset,
                                                      m.m_byteOrder == Exiv2::bigEndian))
                m.m_makerNote.clear();
        }
        // EXIF: keep the photo's own tags, drop what described the old file.
        for (const Exiv2::Exifdatum &datum : exif) {
            if (isForeignImageGroup(datum.groupName()) || Exiv2::ExifTags::isMakerGroup(datum.groupName()))
                continue;
            if (datum.key() == "Exif.Photo.MakerNote" || structureKeys().contains(QString::fromStdString(datum.key())))
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
        // What Exiv2 reads from the note where the export puts it must be what
        // it read from the photo: a value lying past the note's own bytes
        // would now read the directories written after it.
        if (!m.m_makerNote.isEmpty() && !readsAsBefore(exif, m.exifBlob()))
            m.m_makerNote.clear();
    } catch (const std::exception &e) {
        logLine(QStringLiteral("Warning: EXIF of the photo left out of the export: %1").arg(e.what()));
        m.m_exif.clear();
        m.m_makerNote.clear();
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
    if (const QString leftOut = photo.xmpLeftOut(); !leftOut.isEmpty())
        logLine(QStringLiteral("Warning: ") + leftOut);
    ExportMetadata m =
        prepare(photo.exifData(), photo.iptcData(), photo.xmpData(), photo.iccProfile(), dpi, size, version);
    m.m_xmpBareNamespaces = photo.xmpBareNamespaces();
    return m;
}

QByteArray ExportMetadata::exifBlob() const
{
    if (m_exif.empty())
        return {};
    const auto encode = [this](const Exiv2::ExifData &exif) {
        Exiv2::Blob blob;
        Exiv2::ExifParser::encode(blob, m_byteOrder, exif);
        return QByteArray(reinterpret_cast<const char *>(blob.data()), qsizetype(blob.size()));
    };
    try {
        if (!m_makerNote.isEmpty()) {
            // A one-byte stand-in gives the note its entry, which then points at the bytes.
            Exiv2::ExifData withEntry = m_exif;
            const Exiv2::DataValue standIn(reinterpret_cast<const Exiv2::byte *>("\0"), 1);
            withEntry.add(Exiv2::ExifKey("Exif.Photo.MakerNote"), &standIn);
            const QByteArray placed = withMakerNoteAt(encode(withEntry), m_makerNote, m_makerNoteOffset);
            if (!placed.isEmpty())
                return placed;
        }
        return encode(m_exif);
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
        return XmpPacket::withNamespaces(QByteArray::fromStdString(packet), m_xmpBareNamespaces);
    } catch (const std::exception &e) {
        logLine(QStringLiteral("Warning: couldn't encode XMP: %1").arg(e.what()));
        return {};
    }
}

} // namespace platform
