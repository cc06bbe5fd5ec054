#include "platform/imaging/ImageMetadata.h"

#include "platform/FileBytes.h"
#include "platform/imaging/ExifDirectories.h"
#include "platform/imaging/Exiv2Support.h"
#include "platform/imaging/HeifDecoder.h"
#include "platform/imaging/ImageDecoder.h"
#include "platform/imaging/ImageProperties.h"
#include "platform/imaging/IptcRecords.h"
#include "platform/imaging/PsdReader.h"
#include "platform/imaging/XmpPacket.h"

#include <QFile>
#include <QFileInfo>
#include <QtEndian>

#include <cmath>

namespace platform {

namespace {

enum class Kind { Int, Double, String, Date };

struct KeyMap {
    const char *name;
    const char *exif;
    const char *iptc;
    const char *xmp;
    Kind kind;
};

// Each property name with where it lives; the XMP key is the fallback.
const KeyMap kKeyMap[] = {
    {ImageProperty::kOrientation, "Exif.Image.Orientation", nullptr, "Xmp.tiff.Orientation", Kind::Int},
    {ImageProperty::kTIFFOrientation, "Exif.Image.Orientation", nullptr, "Xmp.tiff.Orientation", Kind::Int},
    {ImageProperty::kTIFFXResolution, "Exif.Image.XResolution", nullptr, "Xmp.tiff.XResolution", Kind::Double},
    {ImageProperty::kTIFFYResolution, "Exif.Image.YResolution", nullptr, "Xmp.tiff.YResolution", Kind::Double},
    {ImageProperty::kTIFFSoftware, "Exif.Image.Software", nullptr, "Xmp.tiff.Software", Kind::String},
    {ImageProperty::kExifDateTimeOriginal, "Exif.Photo.DateTimeOriginal", nullptr, "Xmp.exif.DateTimeOriginal", Kind::Date},
    {ImageProperty::kIPTCHeadline, nullptr, "Iptc.Application2.Headline", "Xmp.photoshop.Headline", Kind::String},
    {ImageProperty::kIPTCCaptionAbstract, nullptr, "Iptc.Application2.Caption", "Xmp.dc.description", Kind::String},
    {ImageProperty::kIPTCSubLocation, nullptr, "Iptc.Application2.SubLocation", "Xmp.iptc.Location", Kind::String},
};

const KeyMap *findKey(const QString &key)
{
    for (const KeyMap &m : kKeyMap) {
        if (key == QLatin1String(m.name))
            return &m;
    }
    return nullptr;
}

// IPTC and old EXIF strings may be Latin-1; take UTF-8 when the bytes are valid UTF-8.
QString decodeText(const std::string &s)
{
    const QByteArray bytes = QByteArray::fromStdString(s);
    QString utf8 = QString::fromUtf8(bytes);
    if (!utf8.contains(QChar::ReplacementCharacter) || bytes.contains("\xEF\xBF\xBD"))
        return utf8;
    return QString::fromLatin1(bytes);
}

QString xmpText(const Exiv2::Xmpdatum &datum)
{
    if (datum.typeId() == Exiv2::langAlt) {
        const auto *alt = dynamic_cast<const Exiv2::LangAltValue *>(&datum.value());
        if (alt && !alt->value_.empty()) {
            auto it = alt->value_.find("x-default");
            return decodeText(it != alt->value_.end() ? it->second : alt->value_.begin()->second);
        }
    }
    if (datum.count() > 1 && (datum.typeId() == Exiv2::xmpBag || datum.typeId() == Exiv2::xmpSeq))
        return decodeText(datum.toString(0));
    return decodeText(datum.toString());
}

// XMP dates are ISO 8601; answer them in the EXIF form the readers parse.
QString xmpDateToExif(const QString &iso)
{
    static const Qt::DateFormat fmt = Qt::ISODate;
    QDateTime dt = QDateTime::fromString(iso.left(19), fmt);
    if (!dt.isValid())
        return iso;
    return dt.toString(QStringLiteral("yyyy:MM:dd HH:mm:ss"));
}

double rationalValue(const Exiv2::Exifdatum &datum)
{
    if (datum.count() < 1)
        return 0;
    const Exiv2::Rational r = datum.toRational(0);
    if (r.second == 0)
        return 0;
    return double(r.first) / double(r.second);
}

Exiv2::URational toURational(double v)
{
    if (v <= 0 || !std::isfinite(v))
        return {0, 1};
    // Resolutions are mostly whole; keep two decimals otherwise.
    if (std::fabs(v - std::round(v)) < 1e-9 && v < 4e9)
        return {uint32_t(std::llround(v)), 1};
    return {uint32_t(std::llround(v * 100)), 100};
}

// The resolution a format's own header carries (JFIF, PNG pHYs, PSD).
struct Density {
    double x = 0;
    double y = 0;
};

Density jfifDensity(const QByteArray &data)
{
    const auto *p = reinterpret_cast<const uchar *>(data.constData());
    const qsizetype n = data.size();
    qsizetype i = 2;
    while (i + 4 <= n) {
        if (p[i] != 0xFF)
            return {};
        const uchar marker = p[i + 1];
        if (marker == 0xFF) { // fill byte
            ++i;
            continue;
        }
        if (marker == 0xDA || marker == 0xD9) // start of scan, end of image
            return {};
        const int len = qFromBigEndian<quint16>(p + i + 2);
        if (len < 2 || i + 2 + len > n)
            return {};
        if (marker == 0xE0 && len >= 16 && memcmp(p + i + 4, "JFIF\0", 5) == 0) {
            const uchar units = p[i + 11];
            const double xd = qFromBigEndian<quint16>(p + i + 12);
            const double yd = qFromBigEndian<quint16>(p + i + 14);
            if (xd <= 0 || yd <= 0)
                return {};
            if (units == 1)
                return {xd, yd};
            if (units == 2)
                return {xd * 2.54, yd * 2.54};
            return {};
        }
        i += 2 + len;
    }
    return {};
}

Density pngDensity(const QByteArray &data)
{
    const auto *p = reinterpret_cast<const uchar *>(data.constData());
    const qsizetype n = data.size();
    qsizetype i = 8;
    while (i + 12 <= n) {
        const quint32 len = qFromBigEndian<quint32>(p + i);
        if (len > quint32(n - i - 12))
            return {};
        if (memcmp(p + i + 4, "pHYs", 4) == 0 && len >= 9) {
            const double xd = qFromBigEndian<quint32>(p + i + 8);
            const double yd = qFromBigEndian<quint32>(p + i + 12);
            if (p[i + 16] == 1 && xd > 0 && yd > 0)
                return {xd * 0.0254, yd * 0.0254};
            return {};
        }
        if (memcmp(p + i + 4, "IDAT", 4) == 0)
            return {};
        i += 12 + qsizetype(len);
    }
    return {};
}

Density formatDensity(const QByteArray &data)
{
    if (data.startsWith("\xFF\xD8"))
        return jfifDensity(data);
    if (data.startsWith("\x89PNG\r\n\x1A\n"))
        return pngDensity(data);
    if (PsdReader::canRead(data)) {
        const PsdReader::Resources r = PsdReader::readResources(data);
        return {r.dpiX, r.dpiY};
    }
    return {};
}

// Exiv2 says where a maker note it understood began ("Exif.MakerNote.Offset",
// from the TIFF header, and the byte order it was read in); for a note it
// left as bytes the EXIF block says it, so an export can put either back
// where its own offsets expect it.
void noteWhereTheMakerNoteLies(Exiv2::ExifData &exif, const QByteArray &block)
{
    const auto note = exif.findKey(Exiv2::ExifKey("Exif.Photo.MakerNote"));
    if (note == exif.end() || exif.findKey(Exiv2::ExifKey("Exif.MakerNote.Offset")) != exif.end() || block.isEmpty())
        return;
    const ExifDirectories directories(block);
    quint32 offset = 0;
    quint32 size = 0;
    if (!directories.makerNote(&offset, &size) || size != quint32(note->size()))
        return;
    QByteArray bytes(qsizetype(size), Qt::Uninitialized);
    note->copy(reinterpret_cast<Exiv2::byte *>(bytes.data()), Exiv2::invalidByteOrder);
    if (block.mid(offset, size) != bytes)
        return;
    exif["Exif.MakerNote.Offset"] = uint32_t(offset);
    exif["Exif.MakerNote.ByteOrder"] = std::string(directories.isBigEndian() ? "MM" : "II");
}

// The photo's XMP packet into `xmp`, where Exiv2 has not read it already:
// a packet it refuses for a repeated property is read without the repeats.
void readXmp(Exiv2::XmpData &xmp, QStringList &bareNamespaces, QString &leftOut, const QByteArray &packet)
{
    if (packet.isEmpty())
        return;
    bareNamespaces = XmpPacket::bareNamespaces(packet);
    if (!xmp.empty())
        return;
    try {
        if (Exiv2::XmpParser::decode(xmp, packet.toStdString()) == 0)
            return;
        QStringList repeated;
        const QByteArray kept = XmpPacket::withoutRepeatedProperties(packet, &repeated);
        if (!repeated.isEmpty() && Exiv2::XmpParser::decode(xmp, kept.toStdString()) == 0) {
            leftOut = QStringLiteral("The photo's XMP repeats %1: only the first value of each is kept.")
                          .arg(repeated.join(QStringLiteral(", ")));
            return;
        }
    } catch (const std::exception &) {
    }
    xmp.clear();
    leftOut = QStringLiteral("The photo's XMP could not be read and is left out.");
}

QByteArray toByteArray(const Exiv2::DataBuf *buf)
{
    if (!buf || !buf->pData_ || buf->size_ <= 0)
        return {};
    return QByteArray(reinterpret_cast<const char *>(buf->pData_), buf->size_);
}

} // namespace

struct ImageMetadata::Private : QSharedData {
    Exiv2::ExifData exif;
    Exiv2::IptcData iptc;
    Exiv2::XmpData xmp;
    QStringList xmpBareNamespaces;
    QString xmpLeftOut;
    QByteArray icc;
    QSize pixelSize;
    double formatDpiX = 0;
    double formatDpiY = 0;
    bool hasFileName = false;
    bool hasFileSize = false;
    bool hasFileDate = false;
    QString fileName;
    QString fileSize;
    QDateTime fileDate;
};

ImageMetadata::ImageMetadata() = default;
ImageMetadata::ImageMetadata(const ImageMetadata &other) = default;
ImageMetadata::ImageMetadata(ImageMetadata &&other) noexcept = default;
ImageMetadata &ImageMetadata::operator=(const ImageMetadata &other) = default;
ImageMetadata &ImageMetadata::operator=(ImageMetadata &&other) noexcept = default;
ImageMetadata::~ImageMetadata() = default;

void ImageMetadata::ensure()
{
    if (!d)
        d = new Private;
}

bool ImageMetadata::isNull() const
{
    return !d;
}

bool ImageMetadata::isSameObject(const ImageMetadata &other) const
{
    return d.constData() == other.d.constData();
}

ImageMetadata ImageMetadata::fromData(const QByteArray &data)
{
    initializeExiv2();
    ImageMetadata m;
    m.ensure();
    Private *p = m.d.data();

    if (HeifDecoder::canDecode(data)) {
        // Exiv2 0.27 misses the metadata items of many HEIF writers; libheif finds them.
        const HeifDecoder::MetadataBlocks blocks = HeifDecoder::readMetadata(data);
        try {
            if (!blocks.exif.isEmpty())
                Exiv2::ExifParser::decode(p->exif, reinterpret_cast<const Exiv2::byte *>(blocks.exif.constData()),
                                          uint32_t(blocks.exif.size()));
            noteWhereTheMakerNoteLies(p->exif, blocks.exif);
        } catch (const std::exception &) {
            p->exif.clear();
            p->xmp.clear();
        }
        readXmp(p->xmp, p->xmpBareNamespaces, p->xmpLeftOut, blocks.xmp);
        p->icc = blocks.icc;
        p->pixelSize = blocks.size;
        return m;
    }

    try {
        const auto image =
            Exiv2::ImageFactory::open(reinterpret_cast<const Exiv2::byte *>(data.constData()), long(data.size()));
        if (image.get()) {
            image->readMetadata();
            p->exif = image->exifData();
            if (p->exif.findKey(Exiv2::ExifKey("Exif.Photo.MakerNote")) != p->exif.end())
                noteWhereTheMakerNoteLies(p->exif, ExifDirectories::inPicture(data));
            p->iptc = image->iptcData();
            if (!p->iptc.empty())
                IptcRecords::keepDatesAsWritten(p->iptc, IptcRecords::inPicture(data));
            p->xmp = image->xmpData();
            if (!image->xmpPacket().empty()) {
                const QByteArray packet = XmpPacket::inPicture(data);
                readXmp(p->xmp, p->xmpBareNamespaces, p->xmpLeftOut,
                        packet.isEmpty() ? QByteArray::fromStdString(image->xmpPacket()) : packet);
            }
            if (image->iccProfileDefined())
                p->icc = toByteArray(image->iccProfile());
            if (image->pixelWidth() > 0 && image->pixelHeight() > 0)
                p->pixelSize = QSize(image->pixelWidth(), image->pixelHeight());
        }
    } catch (const std::exception &) {
        // Unknown or damaged container: no metadata, the picture may still decode.
        p->exif.clear();
        p->iptc.clear();
        p->xmp.clear();
    }
    const Density density = formatDensity(data);
    p->formatDpiX = density.x;
    p->formatDpiY = density.y;
    if (PsdReader::canRead(data)) {
        // Exiv2 0.27 opens no large document (PSB): its resources hold the same metadata.
        const PsdReader::Resources r = PsdReader::readResources(data);
        if (p->icc.isEmpty())
            p->icc = r.icc;
        // Each block on its own: a damaged one costs only itself.
        const auto decode = [](const auto &parse) {
            try {
                parse();
            } catch (const std::exception &) {
            }
        };
        const auto *exif = reinterpret_cast<const Exiv2::byte *>(r.exif.constData());
        const auto *iptc = reinterpret_cast<const Exiv2::byte *>(r.iptc.constData());
        if (p->exif.empty() && !r.exif.isEmpty())
            decode([&] { Exiv2::ExifParser::decode(p->exif, exif, uint32_t(r.exif.size())); });
        if (p->iptc.empty() && !r.iptc.isEmpty())
            decode([&] {
                Exiv2::IptcParser::decode(p->iptc, iptc, uint32_t(r.iptc.size()));
                IptcRecords::keepDatesAsWritten(p->iptc, r.iptc);
            });
        if (p->xmp.empty())
            readXmp(p->xmp, p->xmpBareNamespaces, p->xmpLeftOut, r.xmp);
        if (!p->pixelSize.isValid() || p->pixelSize.isEmpty())
            p->pixelSize = ImageDecoder::headerSize(data);
    }
    return m;
}

namespace {

// How much of a JPEG holds its metadata: all of it comes before the first
// scan. More than `data` holds when more must be read; 0 when its markers
// lead to no scan (the whole file is read then).
qint64 jpegHeadLength(const QByteArray &data)
{
    const auto *p = reinterpret_cast<const uchar *>(data.constData());
    const qint64 size = data.size();
    qint64 pos = 2;
    for (;;) {
        if (pos + 4 > size)
            return pos + 4;
        if (p[pos] != 0xff)
            return 0;
        const uchar marker = p[pos + 1];
        if (marker == 0xff) {
            ++pos; // a fill byte
            continue;
        }
        if (marker == 0x01 || (marker >= 0xd0 && marker <= 0xd7)) {
            pos += 2; // no length follows these
            continue;
        }
        const qint64 length = (qint64(p[pos + 2]) << 8) | p[pos + 3];
        if (marker == 0xd8 || marker == 0xd9 || length < 2)
            return 0;
        if (marker == 0xda)
            return pos + 2 + length;
        pos += 2 + length;
    }
}

} // namespace

ImageMetadata ImageMetadata::fromFile(const QString &path)
{
    // A JPEG's compressed pixels, most of the file, are not read for it.
    qint64 wanted = qint64(256) << 10;
    QByteArray data;
    for (;;) {
        Result<QByteArray> read = FileBytes::read(path, wanted);
        if (!read.ok())
            return {};
        data = std::move(read).value();
        if (wanted < 0 || data.size() < wanted)
            break;
        const qint64 head = data.startsWith("\xFF\xD8\xFF") ? jpegHeadLength(data) : 0;
        if (head > 0 && head <= data.size())
            break;
        wanted = head > 0 ? std::max(head, wanted * 2) : -1;
    }
    ImageMetadata m = fromData(data);
    m.expandWithAttributesOfItemAtPath(path);
    return m;
}

QVariant ImageMetadata::value(const QString &key) const
{
    if (!d)
        return {};
    using namespace ImageProperty;
    if (key == QLatin1String(kFileName))
        return d->hasFileName ? QVariant(d->fileName) : QVariant();
    if (key == QLatin1String(kFileSize))
        return d->hasFileSize ? QVariant(d->fileSize) : QVariant();
    if (key == QLatin1String(kFileDate))
        return d->hasFileDate ? QVariant(d->fileDate) : QVariant();
    if (key == QLatin1String(kDPIWidth))
        return dpiWidth();
    if (key == QLatin1String(kDPIHeight))
        return dpiHeight();
    if (key == QLatin1String(kPixelWidth))
        return d->pixelSize.isValid() ? QVariant(d->pixelSize.width()) : QVariant();
    if (key == QLatin1String(kPixelHeight))
        return d->pixelSize.isValid() ? QVariant(d->pixelSize.height()) : QVariant();
    if (key == QLatin1String(kExifDictionary))
        return hasExif() ? QVariant(true) : QVariant();
    if (key == QLatin1String(kIPTCDictionary))
        return hasIptc() || contains(QLatin1String(kIPTCHeadline)) || contains(QLatin1String(kIPTCCaptionAbstract))
                       || contains(QLatin1String(kIPTCSubLocation))
                   ? QVariant(true)
                   : QVariant();
    if (key == QLatin1String(kTIFFDictionary)) {
        for (const auto &datum : d->exif) {
            if (datum.groupName() == "Image")
                return true;
        }
        return {};
    }

    if (const KeyMap *m = findKey(key)) {
        if (m->exif) {
            auto it = d->exif.findKey(Exiv2::ExifKey(m->exif));
            if (it != d->exif.end() && it->count() > 0) {
                switch (m->kind) {
                case Kind::Int:
                    return int(it->toLong(0));
                case Kind::Double:
                    return rationalValue(*it);
                case Kind::String:
                case Kind::Date:
                    return decodeText(it->toString()).trimmed();
                }
            }
        }
        if (m->iptc) {
            auto it = d->iptc.findKey(Exiv2::IptcKey(m->iptc));
            if (it != d->iptc.end())
                return decodeText(it->toString());
        }
        if (m->xmp) {
            auto it = d->xmp.findKey(Exiv2::XmpKey(m->xmp));
            if (it != d->xmp.end()) {
                const QString text = xmpText(*it);
                switch (m->kind) {
                case Kind::Int: {
                    bool ok = false;
                    const int v = text.toInt(&ok);
                    return ok ? QVariant(v) : QVariant();
                }
                case Kind::Double: {
                    // XMP rationals are "300/1".
                    const QStringList parts = text.split(QLatin1Char('/'));
                    const double num = parts.value(0).toDouble();
                    const double den = parts.size() > 1 ? parts[1].toDouble() : 1.0;
                    return den != 0 ? QVariant(num / den) : QVariant();
                }
                case Kind::Date:
                    return xmpDateToExif(text);
                case Kind::String:
                    return text;
                }
            }
        }
        return {};
    }

    // Raw Exiv2 keys.
    try {
        const std::string raw = key.toStdString();
        if (key.startsWith(QLatin1String("Exif."))) {
            auto it = d->exif.findKey(Exiv2::ExifKey(raw));
            if (it != d->exif.end())
                return decodeText(it->toString());
        } else if (key.startsWith(QLatin1String("Iptc."))) {
            auto it = d->iptc.findKey(Exiv2::IptcKey(raw));
            if (it != d->iptc.end())
                return decodeText(it->toString());
        } else if (key.startsWith(QLatin1String("Xmp."))) {
            auto it = d->xmp.findKey(Exiv2::XmpKey(raw));
            if (it != d->xmp.end())
                return xmpText(*it);
        }
    } catch (const std::exception &) {
        // Not a key Exiv2 knows.
    }
    return {};
}

bool ImageMetadata::contains(const QString &key) const
{
    return value(key).isValid();
}

void ImageMetadata::setValue(const QString &key, const QVariant &value)
{
    if (!value.isValid()) {
        remove(key);
        return;
    }
    ensure();
    using namespace ImageProperty;
    if (key == QLatin1String(kFileName)) {
        d->fileName = value.toString();
        d->hasFileName = true;
        return;
    }
    if (key == QLatin1String(kFileSize)) {
        d->fileSize = value.toString();
        d->hasFileSize = true;
        return;
    }
    if (key == QLatin1String(kFileDate)) {
        d->fileDate = value.toDateTime();
        d->hasFileDate = true;
        return;
    }
    if (key == QLatin1String(kDPIWidth)) {
        setResolution(value.toDouble(), hasResolution() ? dpiHeight() : value.toDouble());
        return;
    }
    if (key == QLatin1String(kDPIHeight)) {
        setResolution(hasResolution() ? dpiWidth() : value.toDouble(), value.toDouble());
        return;
    }
    if (key == QLatin1String(kPixelWidth)) {
        d->pixelSize.setWidth(value.toInt());
        return;
    }
    if (key == QLatin1String(kPixelHeight)) {
        d->pixelSize.setHeight(value.toInt());
        return;
    }

    try {
        if (const KeyMap *m = findKey(key)) {
            const bool hadXmp = !d->xmp.empty();
            if (m->exif) {
                Exiv2::Exifdatum &datum = d->exif[m->exif];
                switch (m->kind) {
                case Kind::Int:
                    datum = uint16_t(value.toInt());
                    break;
                case Kind::Double:
                    datum = toURational(value.toDouble());
                    break;
                case Kind::String:
                case Kind::Date:
                    datum = value.toString().toStdString();
                    break;
                }
            } else if (m->iptc) {
                const QString text = value.toString();
                d->iptc[m->iptc] = text.toStdString();
                bool ascii = true;
                for (QChar c : text)
                    ascii = ascii && c.unicode() < 128;
                if (!ascii)
                    d->iptc["Iptc.Envelope.CharacterSet"] = std::string("\x1b%G");
            }
            if (m->xmp && hadXmp) {
                if (m->kind == Kind::Date) {
                    QDateTime dt = QDateTime::fromString(value.toString(), QStringLiteral("yyyy:MM:dd HH:mm:ss"));
                    d->xmp[m->xmp] = dt.isValid() ? dt.toString(Qt::ISODate).toStdString() : value.toString().toStdString();
                } else if (m->kind == Kind::Double) {
                    const Exiv2::URational r = toURational(value.toDouble());
                    d->xmp[m->xmp] = std::to_string(r.first) + "/" + std::to_string(r.second);
                } else if (QLatin1String(m->xmp) == QLatin1String("Xmp.dc.description")) {
                    d->xmp[m->xmp] = "lang=\"x-default\" " + value.toString().toStdString();
                } else {
                    d->xmp[m->xmp] = value.toString().toStdString();
                }
            }
            return;
        }
        const std::string raw = key.toStdString();
        if (key.startsWith(QLatin1String("Exif.")))
            d->exif[raw] = value.toString().toStdString();
        else if (key.startsWith(QLatin1String("Iptc.")))
            d->iptc[raw] = value.toString().toStdString();
        else if (key.startsWith(QLatin1String("Xmp.")))
            d->xmp[raw] = value.toString().toStdString();
    } catch (const std::exception &) {
        // A key or value Exiv2 refuses is left out.
    }
}

void ImageMetadata::remove(const QString &key)
{
    if (!d)
        return;
    using namespace ImageProperty;
    if (key == QLatin1String(kFileName)) {
        d->hasFileName = false;
        d->fileName.clear();
        return;
    }
    if (key == QLatin1String(kFileSize)) {
        d->hasFileSize = false;
        d->fileSize.clear();
        return;
    }
    if (key == QLatin1String(kFileDate)) {
        d->hasFileDate = false;
        d->fileDate = {};
        return;
    }
    auto eraseExif = [this](const char *k) {
        auto it = d->exif.findKey(Exiv2::ExifKey(k));
        if (it != d->exif.end())
            d->exif.erase(it);
    };
    auto eraseXmp = [this](const char *k) {
        auto it = d->xmp.findKey(Exiv2::XmpKey(k));
        if (it != d->xmp.end())
            d->xmp.erase(it);
    };
    if (key == QLatin1String(kDPIWidth) || key == QLatin1String(kDPIHeight)) {
        eraseExif("Exif.Image.XResolution");
        eraseExif("Exif.Image.YResolution");
        eraseExif("Exif.Image.ResolutionUnit");
        d->formatDpiX = d->formatDpiY = 0;
        return;
    }
    try {
        if (const KeyMap *m = findKey(key)) {
            if (m->exif)
                eraseExif(m->exif);
            if (m->iptc) {
                auto it = d->iptc.findKey(Exiv2::IptcKey(m->iptc));
                while (it != d->iptc.end()) {
                    d->iptc.erase(it);
                    it = d->iptc.findKey(Exiv2::IptcKey(m->iptc));
                }
            }
            if (m->xmp)
                eraseXmp(m->xmp);
            return;
        }
        const std::string raw = key.toStdString();
        if (key.startsWith(QLatin1String("Exif.")))
            eraseExif(raw.c_str());
        else if (key.startsWith(QLatin1String("Xmp.")))
            eraseXmp(raw.c_str());
        else if (key.startsWith(QLatin1String("Iptc."))) {
            auto it = d->iptc.findKey(Exiv2::IptcKey(raw));
            if (it != d->iptc.end())
                d->iptc.erase(it);
        }
    } catch (const std::exception &) {
    }
}

int ImageMetadata::orientation() const
{
    const QVariant v = value(QLatin1String(ImageProperty::kOrientation));
    const int o = v.isValid() ? v.toInt() : 1;
    return (o >= 1 && o <= 8) ? o : 1;
}

void ImageMetadata::setOrientation(int orientation)
{
    setValue(QLatin1String(ImageProperty::kOrientation), orientation);
}

namespace {
// EXIF resolution in dpi for the one axis, 0 when missing or unusable.
double exifDpi(const Exiv2::ExifData &exif, const char *key)
{
    auto it = exif.findKey(Exiv2::ExifKey(key));
    if (it == exif.end())
        return 0;
    const double v = rationalValue(*it);
    if (v <= 0 || !std::isfinite(v))
        return 0;
    long unit = 2; // inches unless the file says otherwise
    auto u = exif.findKey(Exiv2::ExifKey("Exif.Image.ResolutionUnit"));
    if (u != exif.end() && u->count() > 0)
        unit = u->toLong(0);
    if (unit == 2)
        return v;
    if (unit == 3)
        return v * 2.54;
    return 0;
}
} // namespace

double ImageMetadata::dpiWidth() const
{
    if (!d)
        return 72;
    if (const double v = exifDpi(d->exif, "Exif.Image.XResolution"); v > 0)
        return v;
    if (d->formatDpiX > 0)
        return d->formatDpiX;
    return 72;
}

double ImageMetadata::dpiHeight() const
{
    if (!d)
        return 72;
    if (const double v = exifDpi(d->exif, "Exif.Image.YResolution"); v > 0)
        return v;
    if (d->formatDpiY > 0)
        return d->formatDpiY;
    return 72;
}

bool ImageMetadata::hasResolution() const
{
    if (!d)
        return false;
    return exifDpi(d->exif, "Exif.Image.XResolution") > 0 || d->formatDpiX > 0;
}

void ImageMetadata::setResolution(double dpiX, double dpiY)
{
    ensure();
    d->formatDpiX = dpiX;
    d->formatDpiY = dpiY;
    try {
        d->exif["Exif.Image.XResolution"] = toURational(dpiX);
        d->exif["Exif.Image.YResolution"] = toURational(dpiY);
        d->exif["Exif.Image.ResolutionUnit"] = uint16_t(2);
    } catch (const std::exception &) {
    }
}

bool ImageMetadata::hasExif() const
{
    return d && !d->exif.empty();
}

bool ImageMetadata::hasIptc() const
{
    return d && !d->iptc.empty();
}

bool ImageMetadata::hasXmp() const
{
    return d && !d->xmp.empty();
}

namespace {
const Exiv2::ExifData &emptyExif()
{
    static const Exiv2::ExifData e;
    return e;
}
const Exiv2::IptcData &emptyIptc()
{
    static const Exiv2::IptcData e;
    return e;
}
const Exiv2::XmpData &emptyXmp()
{
    static const Exiv2::XmpData e;
    return e;
}
} // namespace

const Exiv2::ExifData &ImageMetadata::exifData() const
{
    return d ? d->exif : emptyExif();
}

Exiv2::ExifData &ImageMetadata::exifData()
{
    ensure();
    return d->exif;
}

const Exiv2::IptcData &ImageMetadata::iptcData() const
{
    return d ? d->iptc : emptyIptc();
}

Exiv2::IptcData &ImageMetadata::iptcData()
{
    ensure();
    return d->iptc;
}

const Exiv2::XmpData &ImageMetadata::xmpData() const
{
    return d ? d->xmp : emptyXmp();
}

Exiv2::XmpData &ImageMetadata::xmpData()
{
    ensure();
    return d->xmp;
}

QStringList ImageMetadata::xmpBareNamespaces() const
{
    return d ? d->xmpBareNamespaces : QStringList();
}

QString ImageMetadata::xmpLeftOut() const
{
    return d ? d->xmpLeftOut : QString();
}

QByteArray ImageMetadata::iccProfile() const
{
    return d ? d->icc : QByteArray();
}

void ImageMetadata::setIccProfile(const QByteArray &profile)
{
    ensure();
    d->icc = profile;
}

QSize ImageMetadata::pixelSize() const
{
    return d ? d->pixelSize : QSize();
}

void ImageMetadata::setPixelSize(const QSize &size)
{
    ensure();
    d->pixelSize = size;
}

QString ImageMetadata::fileName() const
{
    return d ? d->fileName : QString();
}

QString ImageMetadata::fileSize() const
{
    return d ? d->fileSize : QString();
}

QDateTime ImageMetadata::fileDate() const
{
    return d ? d->fileDate : QDateTime();
}

void ImageMetadata::expandWithAttributesOfItemAtPath(const QString &path)
{
    ensure();
    d->fileName = QFileInfo(path).fileName();
    d->hasFileName = true;
    const QFileInfo info(path);
    if (info.exists()) {
        d->fileSize = QString::number(info.size());
        d->hasFileSize = true;
        const QDateTime modified = info.lastModified();
        if (modified.isValid()) {
            d->fileDate = modified;
            d->hasFileDate = true;
        }
    }
}

void ImageMetadata::setFileEntries(const QString &name, const QString &size, const QDateTime &date)
{
    ensure();
    d->fileName = name;
    d->hasFileName = true;
    d->fileSize = size;
    d->hasFileSize = !size.isEmpty();
    d->fileDate = date;
    d->hasFileDate = date.isValid();
}

QStringList ImageMetadata::keys() const
{
    QStringList out;
    if (!d)
        return out;
    using namespace ImageProperty;
    for (const char *k : {kFileName, kFileSize, kFileDate}) {
        if (contains(QLatin1String(k)))
            out << QLatin1String(k);
    }
    out << QLatin1String(kDPIWidth) << QLatin1String(kDPIHeight);
    for (const char *k : {kPixelWidth, kPixelHeight, kExifDictionary, kIPTCDictionary, kTIFFDictionary}) {
        if (contains(QLatin1String(k)))
            out << QLatin1String(k);
    }
    for (const KeyMap &m : kKeyMap) {
        if (contains(QLatin1String(m.name)))
            out << QLatin1String(m.name);
    }
    for (const auto &datum : d->exif)
        out << QString::fromStdString(datum.key());
    for (const auto &datum : d->iptc)
        out << QString::fromStdString(datum.key());
    for (const auto &datum : d->xmp)
        out << QString::fromStdString(datum.key());
    out.removeDuplicates();
    return out;
}

} // namespace platform
