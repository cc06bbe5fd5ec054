#include "platform/imaging/PsdReader.h"

#include "platform/imaging/CmykConversion.h"
#include "platform/imaging/DecodeErrors.h"

#include <QColorSpace>
#include <QtEndian>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <vector>

namespace platform {

namespace {

// A bounds-checked cursor over the file.
class Cursor
{
public:
    explicit Cursor(const QByteArray &data)
        : p(reinterpret_cast<const uchar *>(data.constData()))
        , n(quint64(data.size()))
    {
    }
    bool has(quint64 bytes) const { return bytes <= n - pos; }
    bool skip(quint64 bytes)
    {
        if (!has(bytes))
            return false;
        pos += bytes;
        return true;
    }
    bool u8(quint8 &v)
    {
        if (!has(1))
            return false;
        v = p[pos++];
        return true;
    }
    bool u16(quint16 &v)
    {
        if (!has(2))
            return false;
        v = qFromBigEndian<quint16>(p + pos);
        pos += 2;
        return true;
    }
    bool u32(quint32 &v)
    {
        if (!has(4))
            return false;
        v = qFromBigEndian<quint32>(p + pos);
        pos += 4;
        return true;
    }
    bool u64(quint64 &v)
    {
        if (!has(8))
            return false;
        v = qFromBigEndian<quint64>(p + pos);
        pos += 8;
        return true;
    }
    const uchar *here() const { return p + pos; }

    const uchar *p;
    quint64 n;
    quint64 pos = 0;
};

enum Mode : quint16 { Bitmap = 0, Grey = 1, Indexed = 2, RGB = 3, CMYK = 4, Multichannel = 7, Duotone = 8, Lab = 9 };

struct Header {
    bool psb = false;
    quint16 channels = 0;
    quint32 height = 0;
    quint32 width = 0;
    quint16 depth = 0;
    quint16 mode = 0;
};

// Why a file was not read: damage, or (`notRead`) a kind of document the
// reader does not take, told in a whole sentence.
struct Why {
    QString text;
    bool notRead = false;
    QString advice; // what to do instead, where the kind says it
};

bool fail(Why *why, const char *text)
{
    if (why)
        *why = Why{QString::fromLatin1(text), false, {}};
    return false;
}

bool refuse(Why *why, const QString &text, const QString &advice = {})
{
    if (why)
        *why = Why{text, true, advice};
    return false;
}

// The header's fields, whatever kind of document they describe.
bool headerFields(Cursor &c, Header &h, Why *error)
{
    if (!c.has(26) || std::memcmp(c.here(), "8BPS", 4) != 0)
        return fail(error, "not a Photoshop file");
    c.skip(4);
    quint16 version = 0;
    c.u16(version);
    if (version != 1 && version != 2)
        return fail(error, "unknown Photoshop file version");
    h.psb = version == 2;
    c.skip(6);
    c.u16(h.channels);
    c.u32(h.height);
    c.u32(h.width);
    c.u16(h.depth);
    c.u16(h.mode);
    return true;
}

bool readHeader(Cursor &c, Header &h, Why *error)
{
    if (!headerFields(c, h, error))
        return false;
    const quint32 maxSide = h.psb ? PsdReader::kMaxSidePsb : PsdReader::kMaxSidePsd;
    if (h.channels < 1 || h.channels > 56)
        return fail(error, "bad channel count");
    if (h.width < 1 || h.height < 1 || h.width > maxSide || h.height > maxSide)
        return fail(error, "bad picture size");
    // Lab first: a copy of 8 bits a channel in Lab would be refused in turn.
    if (h.mode == Lab)
        return refuse(error, QStringLiteral("It is a Photoshop document in Lab colour, which is not read here."),
                      h.depth > 8 ? QStringLiteral("Save a copy in RGB colour with 8 bits a channel and frame that.")
                                  : QStringLiteral("Save a copy in RGB colour and frame that."));
    if (h.depth == 32)
        return refuse(error, QStringLiteral("It is a Photoshop document of 32 bits a channel, which is not read here."),
                      QStringLiteral("Save a copy with 8 bits a channel and frame that."));
    if (h.depth != 1 && h.depth != 8 && h.depth != 16)
        return fail(error, "unsupported bit depth");
    if ((h.depth == 1) != (h.mode == Bitmap))
        return fail(error, "unsupported bit depth");
    switch (h.mode) {
    case Bitmap:
    case Grey:
    case Duotone:
    case Multichannel:
    case Indexed:
        break;
    case RGB:
        if (h.channels < 3)
            return fail(error, "bad channel count");
        break;
    case CMYK:
        if (h.channels < 4)
            return fail(error, "bad channel count");
        break;
    default:
        return fail(error, "unsupported colour mode");
    }
    return true;
}

// A length-prefixed section; answers its start and length.
bool section(Cursor &c, bool wide, quint64 &start, quint64 &length)
{
    if (wide) {
        if (!c.u64(length))
            return false;
    } else {
        quint32 l = 0;
        if (!c.u32(l))
            return false;
        length = l;
    }
    start = c.pos;
    return c.skip(length);
}

// PackBits into exactly `out.size()` bytes.
bool unpackBits(const uchar *in, quint64 inLen, uchar *out, quint64 outLen)
{
    quint64 i = 0;
    quint64 o = 0;
    while (o < outLen) {
        if (i >= inLen)
            return false;
        const int n = static_cast<signed char>(in[i++]);
        if (n >= 0) {
            const quint64 count = quint64(n) + 1;
            if (count > inLen - i || count > outLen - o)
                return false;
            std::memcpy(out + o, in + i, count);
            i += count;
            o += count;
        } else if (n != -128) {
            const quint64 count = quint64(1 - n);
            if (i >= inLen || count > outLen - o)
                return false;
            std::memset(out + o, in[i++], count);
            o += count;
        }
    }
    return true;
}

// A sample scaled to 16 bits: 8-bit samples map exactly back through to8.
inline quint32 sample(const uchar *plane, quint64 index, int depth)
{
    if (depth == 16)
        return (quint32(plane[index * 2]) << 8) | plane[index * 2 + 1];
    return quint32(plane[index]) * 257;
}

inline int to8(quint32 v)
{
    return int((v * 255 + 32767) / 65535);
}

// Calls `take(id, block)` for each image resource in the section that begins
// at `start`, until the first damaged one.
template <typename Take> void forEachResource(const QByteArray &data, quint64 start, quint64 length, Take take)
{
    Cursor res(data);
    res.pos = start;
    const quint64 end = start + length;
    while (res.pos + 12 <= end) {
        if (std::memcmp(res.here(), "8BIM", 4) != 0)
            break;
        res.skip(4);
        quint16 id = 0;
        quint8 nameLen = 0;
        res.u16(id);
        res.u8(nameLen);
        // The Pascal name with its length byte is padded to an even size.
        const quint64 namePad = (quint64(nameLen) + 1) % 2 == 0 ? nameLen : quint64(nameLen) + 1;
        quint32 size = 0;
        if (!res.skip(namePad) || !res.u32(size) || res.pos + size > end)
            break;
        take(id, QByteArray::fromRawData(reinterpret_cast<const char *>(res.here()), qsizetype(size)));
        res.skip(size + (size & 1));
    }
}

} // namespace

bool PsdReader::canRead(const QByteArray &data)
{
    return data.size() >= 26 && data.startsWith("8BPS");
}

quint16 PsdReader::bitsPerChannel(const QByteArray &data)
{
    Cursor c(data);
    Header h;
    return headerFields(c, h, nullptr) ? h.depth : 0;
}

bool PsdReader::isLab(const QByteArray &data)
{
    Cursor c(data);
    Header h;
    return headerFields(c, h, nullptr) && h.mode == Lab;
}

PsdReader::Resources PsdReader::readResources(const QByteArray &data)
{
    Resources r;
    Cursor c(data);
    Header h;
    if (!headerFields(c, h, nullptr))
        return r;
    quint64 start = 0;
    quint64 length = 0;
    if (!section(c, false, start, length)) // colour mode data
        return r;
    if (!section(c, false, start, length))
        return r;
    forEachResource(data, start, length, [&r](quint16 id, const QByteArray &raw) {
        const QByteArray block(raw.constData(), raw.size());
        switch (id) {
        case 0x03ED: // resolution: 16.16 fixed, pixels per inch
            if (block.size() >= 16) {
                const auto *b = reinterpret_cast<const uchar *>(block.constData());
                r.dpiX = qFromBigEndian<quint32>(b) / 65536.0;
                r.dpiY = qFromBigEndian<quint32>(b + 8) / 65536.0;
            }
            break;
        case 0x040F:
            r.icc = block;
            break;
        case 0x0422:
            r.exif = block;
            break;
        case 0x0404:
            r.iptc = block;
            break;
        case 0x0424:
            r.xmp = block;
            break;
        default:
            break;
        }
    });
    return r;
}

namespace {

// What the image resources say about the merged picture.
struct MergedInfo {
    bool real = true; // false: the layers alone hold the picture
    // Per extra channel listed, from the last one listed back: a spot colour.
    std::vector<bool> spot;
};

MergedInfo mergedInfo(const QByteArray &data, quint64 start, quint64 length)
{
    MergedInfo info;
    bool listed = false;
    forEachResource(data, start, length, [&](quint16 id, const QByteArray &block) {
        const auto *b = reinterpret_cast<const uchar *>(block.constData());
        const qsizetype n = block.size();
        if (id == 0x0421 && n >= 5) { // version info: its fifth byte says the merged data is real
            info.real = b[4] != 0;
        } else if (id == 0x0435 && n >= 4) { // display info: a version, then 13 bytes a channel
            info.spot.clear();
            for (qsizetype at = 4; at + 13 <= n; at += 13)
                info.spot.push_back(b[at + 12] == 2);
            listed = true;
        } else if (id == 0x03EF && !listed) { // its older form: 14 bytes a channel
            info.spot.clear();
            for (qsizetype at = 0; at + 14 <= n; at += 14)
                info.spot.push_back(b[at + 12] == 2);
        }
    });
    return info;
}

// Whether every sample of the plane is the same.
bool uniform(const uchar *plane, quint64 samples, int bytes)
{
    for (quint64 i = 1; i < samples; ++i) {
        if (std::memcmp(plane, plane + i * quint64(bytes), size_t(bytes)) != 0)
            return false;
    }
    return true;
}

QImage readMerged(const QByteArray &data, Why *error)
{
    Cursor c(data);
    Header h;
    if (!readHeader(c, h, error))
        return {};

    quint64 start = 0;
    quint64 length = 0;
    if (!section(c, false, start, length)) {
        fail(error, "truncated colour mode data");
        return {};
    }
    QByteArray palette;
    if (h.mode == Indexed) {
        if (length < 768) {
            fail(error, "missing colour table");
            return {};
        }
        palette = data.mid(qsizetype(start), 768);
    }
    if (!section(c, false, start, length)) {
        fail(error, "truncated image resources");
        return {};
    }
    const quint64 resourcesStart = start;
    const quint64 resourcesLength = length;
    const MergedInfo info = mergedInfo(data, start, length);
    // Saved without its merged picture, the file holds a blank (or a line of
    // text saying so) where the picture belongs.
    if (!info.real) {
        refuse(error, QStringLiteral("It is a layered Photoshop document saved without its merged picture "
                                     "(“Maximize Compatibility” off), and only that picture is read here."));
        return {};
    }

    // Layer and mask information: only the sign of the layer count matters.
    bool mergedAlpha = false;
    if (!section(c, h.psb, start, length)) {
        fail(error, "truncated layer section");
        return {};
    }
    if (length >= (h.psb ? 10u : 6u)) {
        Cursor layers(data);
        layers.pos = start;
        quint64 infoStart = 0;
        quint64 infoLength = 0;
        if (section(layers, h.psb, infoStart, infoLength) && infoLength >= 2) {
            const qint16 count = qFromBigEndian<qint16>(data.constData() + infoStart);
            mergedAlpha = count < 0;
        }
    }

    quint16 compression = 0;
    if (!c.u16(compression)) {
        fail(error, "missing image data");
        return {};
    }
    if (compression > 1) {
        fail(error, "unsupported image data compression");
        return {};
    }

    const int colourChannels = h.mode == RGB ? 3 : h.mode == CMYK ? 4 : 1;
    const bool alpha = mergedAlpha && h.channels > colourChannels;
    const int used = colourChannels + (alpha ? 1 : 0);
    const quint64 rowBytes = (quint64(h.width) * h.depth + 7) / 8;
    const quint64 planeBytes = rowBytes * h.height;
    const quint64 rows = quint64(h.channels) * h.height;

    // The spot colour channels: the display info lists the last extra channels.
    std::vector<int> spots;
    const int listed = int(std::min<size_t>(info.spot.size(), size_t(h.channels - colourChannels)));
    for (int k = 0; k < listed && h.mode != Bitmap; ++k) {
        const int channel = h.channels - listed + k;
        if (info.spot[info.spot.size() - size_t(listed) + size_t(k)] && !(alpha && channel == colourChannels))
            spots.push_back(channel);
    }

    // Check that the data is there before allocating anything its size.
    std::vector<const uchar *> rowData; // RLE: the start of each row of the channels read
    std::vector<quint64> rowLen;
    // Where each channel's rows are kept (-1: not read).
    std::vector<int> slot(h.channels, -1);
    for (int ch = 0; ch < used; ++ch)
        slot[size_t(ch)] = ch;
    for (size_t k = 0; k < spots.size(); ++k)
        slot[size_t(spots[k])] = used + int(k);
    const quint64 usedRows = quint64(used) * h.height;
    if (compression == 0) {
        if (!c.has(planeBytes * quint64(used))) {
            fail(error, "truncated image data");
            return {};
        }
        // A spot channel cut off is passed over, as one not listed.
        std::erase_if(spots, [&](int ch) { return !c.has(planeBytes * quint64(ch + 1)); });
    } else {
        const quint64 countBytes = h.psb ? 4 : 2;
        if (!c.has(rows * countBytes)) {
            fail(error, "truncated image data");
            return {};
        }
        const quint64 keptRows = quint64(used + int(spots.size())) * h.height;
        rowData.assign(keptRows, nullptr);
        rowLen.assign(keptRows, 0);
        Cursor counts = c;
        quint64 offset = c.pos + rows * countBytes;
        for (quint64 r = 0; r < rows; ++r) {
            quint64 len = 0;
            if (h.psb) {
                quint32 v = 0;
                counts.u32(v);
                len = v;
            } else {
                quint16 v = 0;
                counts.u16(v);
                len = v;
            }
            if (len > c.n - offset) {
                if (r < usedRows) {
                    fail(error, "truncated image data");
                    return {};
                }
                break;
            }
            if (const int s = slot[size_t(r / h.height)]; s >= 0) {
                rowData[quint64(s) * h.height + r % h.height] = c.p + offset;
                rowLen[quint64(s) * h.height + r % h.height] = len;
            }
            offset += len;
        }
        std::erase_if(spots, [&](int ch) { return !rowData[quint64(slot[size_t(ch)]) * h.height + h.height - 1]; });
    }

    std::vector<uchar> planes;
    try {
        planes.resize(planeBytes * quint64(used));
    } catch (const std::bad_alloc &) {
        fail(error, "out of memory");
        return {};
    }
    // Decodes channel `ch`'s row `y` into `out`.
    const auto decodeRow = [&](int ch, quint32 y, uchar *out) {
        if (compression == 0) {
            std::memcpy(out, c.here() + planeBytes * quint64(ch) + rowBytes * y, rowBytes);
            return true;
        }
        const quint64 r = quint64(slot[size_t(ch)]) * h.height + y;
        return rowData[r] && unpackBits(rowData[r], rowLen[r], out, rowBytes);
    };
    for (int ch = 0; ch < used; ++ch) {
        uchar *plane = planes.data() + planeBytes * quint64(ch);
        for (quint32 y = 0; y < h.height; ++y) {
            if (!decodeRow(ch, y, plane + rowBytes * y)) {
                fail(error, "damaged image data");
                return {};
            }
        }
    }

    // A merged picture left blank beside spot channels that hold something:
    // the picture is in the spot colours, which are not drawn here.
    const int sampleBytes = h.depth / 8;
    if (!spots.empty()) {
        bool blank = true;
        for (int ch = 0; ch < used && blank; ++ch)
            blank = uniform(planes.data() + planeBytes * quint64(ch), quint64(h.width) * h.height, sampleBytes);
        std::vector<uchar> row(rowBytes + size_t(sampleBytes));
        for (size_t k = 0; k < spots.size() && blank; ++k) {
            std::vector<uchar> first;
            for (quint32 y = 0; y < h.height && blank; ++y) {
                if (!decodeRow(spots[k], y, row.data()))
                    break;
                if (first.empty())
                    first.assign(row.begin(), row.begin() + sampleBytes);
                for (quint32 x = 0; x < h.width && blank; ++x)
                    blank = std::memcmp(row.data() + quint64(x) * sampleBytes, first.data(), size_t(sampleBytes)) == 0;
            }
            if (!blank) {
                refuse(error, QStringLiteral("It is a Photoshop document whose picture is in spot colour channels "
                                             "only, which are not read here."));
                return {};
            }
        }
    }

    QImage image(int(h.width), int(h.height), alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    if (image.isNull()) {
        fail(error, "out of memory");
        return {};
    }
    std::array<const uchar *, 4> colour{};
    for (int ch = 0; ch < colourChannels; ++ch)
        colour[size_t(ch)] = planes.data() + planeBytes * quint64(ch);
    const uchar *pa = planes.data() + planeBytes * quint64(colourChannels);
    const auto index = [&](quint32 x, quint32 y) { return quint64(y) * (h.depth == 16 ? h.width : rowBytes) + x; };

    // Photoshop stores the merged colours of a transparent document laid
    // onto white; a writer that stores them as they are leaves colours
    // darker than white allows for somewhere, and is read as it is.
    bool matted = alpha && h.mode != Bitmap && h.mode != Indexed;
    constexpr quint32 kTolerance = 2 * 257; // rounding of 8-bit samples
    for (quint32 y = 0; y < h.height && matted; ++y) {
        for (quint32 x = 0; x < h.width && matted; ++x) {
            const quint64 i = index(x, y);
            const quint32 a = sample(pa, i, h.depth);
            if (a == 0 || a == 65535)
                continue;
            for (int ch = 0; ch < colourChannels && matted; ++ch)
                matted = sample(colour[size_t(ch)], i, h.depth) + kTolerance >= 65535 - a;
        }
    }

    // The inks become colours through the document's profile, a row at a time.
    std::shared_ptr<const CmykConversion> inks;
    std::vector<quint16> inkRow;
    std::vector<QRgb> inkColours;
    if (h.mode == CMYK) {
        QByteArray icc;
        forEachResource(data, resourcesStart, resourcesLength, [&icc](quint16 id, const QByteArray &block) {
            if (id == 0x040F)
                icc = QByteArray(block.constData(), block.size());
        });
        inks = CmykConversion::make(icc, 16, true);
        inkRow.resize(size_t(h.width) * 4);
        inkColours.resize(h.width);
    }
    const auto *pal = reinterpret_cast<const uchar *>(palette.constData());
    for (quint32 y = 0; y < h.height; ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(int(y)));
        for (quint32 x = 0; x < h.width; ++x) {
            const quint64 i = index(x, y);
            const quint32 a16 = alpha && h.mode != Bitmap ? sample(pa, i, h.depth) : 65535;
            // A colour sample, the white matte taken out.
            const auto value16 = [&](int ch) {
                const quint32 v = sample(colour[size_t(ch)], i, h.depth);
                if (!matted || a16 == 0 || a16 == 65535)
                    return v;
                const quint64 ink = (quint64(65535 - v) * 65535 + a16 / 2) / a16;
                return ink >= 65535 ? 0u : quint32(65535 - ink);
            };
            const auto value = [&](int ch) { return to8(value16(ch)); };
            int r = 0;
            int g = 0;
            int b = 0;
            switch (h.mode) {
            case Bitmap: {
                const bool black = colour[0][rowBytes * y + x / 8] & (0x80 >> (x % 8));
                r = g = b = black ? 0 : 255;
                break;
            }
            case Indexed: {
                const int k = colour[0][i];
                r = pal[k];
                g = pal[256 + k];
                b = pal[512 + k];
                break;
            }
            case RGB:
                r = value(0);
                g = value(1);
                b = value(2);
                break;
            case CMYK:
                // Stored inverted: the largest value is no ink.
                for (int ch = 0; ch < 4; ++ch)
                    inkRow[size_t(x) * 4 + size_t(ch)] = quint16(value16(ch));
                break;
            default:
                r = g = b = value(0);
                break;
            }
            line[x] = qRgba(r, g, b, to8(a16));
        }
        if (inks) {
            inks->toRgb(inkRow.data(), inkColours.data(), int(h.width));
            for (quint32 x = 0; x < h.width; ++x)
                line[x] = (inkColours[x] & 0x00ffffffu) | (line[x] & 0xff000000u);
        }
    }
    if (inks)
        image.setColorSpace(QColorSpace(QColorSpace::SRgb));
    return image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

} // namespace

Result<QImage> PsdReader::read(const QByteArray &data)
{
    Why why;
    QImage image = readMerged(data, &why);
    if (image.isNull()) {
        Error refused = describedError(why.text, int(why.notRead ? DecodeError::KindNotRead : DecodeError::Damaged));
        refused.recoverySuggestion = why.advice;
        return refused;
    }
    return image;
}

} // namespace platform
