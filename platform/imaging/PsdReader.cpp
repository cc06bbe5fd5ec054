#include "platform/imaging/PsdReader.h"

#include <QtEndian>

#include <cstring>
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

bool fail(QString *error, const char *text)
{
    if (error)
        *error = QString::fromLatin1(text);
    return false;
}

bool readHeader(Cursor &c, Header &h, QString *error)
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
    const quint32 maxSide = h.psb ? PsdReader::kMaxSidePsb : PsdReader::kMaxSidePsd;
    if (h.channels < 1 || h.channels > 56)
        return fail(error, "bad channel count");
    if (h.width < 1 || h.height < 1 || h.width > maxSide || h.height > maxSide)
        return fail(error, "bad picture size");
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

inline uchar to8(const uchar *plane, quint64 index, int depth)
{
    if (depth == 16) {
        const quint32 v = (quint32(plane[index * 2]) << 8) | plane[index * 2 + 1];
        return uchar((v * 255 + 32767) / 65535);
    }
    return plane[index];
}

} // namespace

bool PsdReader::canRead(const QByteArray &data)
{
    return data.size() >= 26 && data.startsWith("8BPS");
}

PsdReader::Resources PsdReader::readResources(const QByteArray &data)
{
    Resources r;
    Cursor c(data);
    Header h;
    if (!readHeader(c, h, nullptr))
        return r;
    quint64 start = 0;
    quint64 length = 0;
    if (!section(c, false, start, length)) // colour mode data
        return r;
    if (!section(c, false, start, length))
        return r;
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
        const QByteArray block(reinterpret_cast<const char *>(res.here()), qsizetype(size));
        switch (id) {
        case 0x03ED: // resolution: 16.16 fixed, pixels per inch
            if (size >= 16) {
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
        res.skip(size + (size & 1));
    }
    return r;
}

namespace {

QImage readMerged(const QByteArray &data, QString *error)
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

    // Check that the data is there before allocating anything its size.
    std::vector<const uchar *> rowData; // RLE: the start of each row
    std::vector<quint64> rowLen;
    if (compression == 0) {
        if (!c.has(planeBytes * quint64(used))) {
            fail(error, "truncated image data");
            return {};
        }
    } else {
        const quint64 countBytes = h.psb ? 4 : 2;
        if (!c.has(rows * countBytes)) {
            fail(error, "truncated image data");
            return {};
        }
        const quint64 usedRows = quint64(used) * h.height;
        rowData.resize(usedRows);
        rowLen.resize(usedRows);
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
            if (r < usedRows) {
                if (len > c.n - offset) {
                    fail(error, "truncated image data");
                    return {};
                }
                rowData[r] = c.p + offset;
                rowLen[r] = len;
            }
            offset += len;
            if (offset > c.n) {
                if (r < usedRows) {
                    fail(error, "truncated image data");
                    return {};
                }
                break;
            }
        }
    }

    std::vector<uchar> planes;
    try {
        planes.resize(planeBytes * quint64(used));
    } catch (const std::bad_alloc &) {
        fail(error, "out of memory");
        return {};
    }
    for (int ch = 0; ch < used; ++ch) {
        uchar *plane = planes.data() + planeBytes * quint64(ch);
        if (compression == 0) {
            std::memcpy(plane, c.here() + planeBytes * quint64(ch), planeBytes);
            continue;
        }
        for (quint32 y = 0; y < h.height; ++y) {
            const quint64 r = quint64(ch) * h.height + y;
            if (!unpackBits(rowData[r], rowLen[r], plane + rowBytes * y, rowBytes)) {
                fail(error, "damaged image data");
                return {};
            }
        }
    }

    QImage image(int(h.width), int(h.height), alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    if (image.isNull()) {
        fail(error, "out of memory");
        return {};
    }
    const uchar *p0 = planes.data();
    const uchar *p1 = planes.data() + planeBytes;
    const uchar *p2 = planes.data() + planeBytes * 2;
    const uchar *p3 = planes.data() + planeBytes * 3;
    const uchar *pa = planes.data() + planeBytes * quint64(colourChannels);
    const auto *pal = reinterpret_cast<const uchar *>(palette.constData());
    for (quint32 y = 0; y < h.height; ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(int(y)));
        for (quint32 x = 0; x < h.width; ++x) {
            const quint64 i = quint64(y) * (h.depth == 16 ? h.width : rowBytes) + x;
            int r = 0;
            int g = 0;
            int b = 0;
            switch (h.mode) {
            case Bitmap: {
                const bool black = p0[rowBytes * y + x / 8] & (0x80 >> (x % 8));
                r = g = b = black ? 0 : 255;
                break;
            }
            case Indexed: {
                const int k = p0[i];
                r = pal[k];
                g = pal[256 + k];
                b = pal[512 + k];
                break;
            }
            case RGB:
                r = to8(p0, i, h.depth);
                g = to8(p1, i, h.depth);
                b = to8(p2, i, h.depth);
                break;
            case CMYK: {
                // Stored inverted: 255 is no ink.
                const int k = to8(p3, i, h.depth);
                r = to8(p0, i, h.depth) * k / 255;
                g = to8(p1, i, h.depth) * k / 255;
                b = to8(p2, i, h.depth) * k / 255;
                break;
            }
            default:
                r = g = b = to8(p0, i, h.depth);
                break;
            }
            const int a = alpha ? (h.mode == Bitmap ? 255 : to8(pa, i, h.depth)) : 255;
            line[x] = qRgba(r, g, b, a);
        }
    }
    return image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

} // namespace

Result<QImage> PsdReader::read(const QByteArray &data)
{
    QString message;
    QImage image = readMerged(data, &message);
    if (image.isNull())
        return describedError(message);
    return image;
}

} // namespace platform
