#include "platform/imaging/TiffCmykReader.h"

#include "platform/imaging/CmykConversion.h"
#include "platform/imaging/DecodeErrors.h"
#include "platform/imaging/ImageBuffer.h"

#include <QColorSpace>

#include <tiffio.h>

#include <algorithm>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

namespace platform {

namespace {

// The file's bytes as libtiff reads them: never copied, never written.
struct Source {
    const QByteArray *data;
    toff_t pos = 0;
    QString firstError;
};

tmsize_t readBytes(thandle_t handle, void *buffer, tmsize_t count)
{
    auto *s = static_cast<Source *>(handle);
    const toff_t size = toff_t(s->data->size());
    if (count <= 0 || s->pos >= size)
        return 0;
    const tmsize_t n = tmsize_t(std::min<toff_t>(toff_t(count), size - s->pos));
    std::memcpy(buffer, s->data->constData() + s->pos, size_t(n));
    s->pos += toff_t(n);
    return n;
}

tmsize_t writeNothing(thandle_t, void *, tmsize_t)
{
    return 0;
}

toff_t seekTo(thandle_t handle, toff_t offset, int whence)
{
    auto *s = static_cast<Source *>(handle);
    const toff_t size = toff_t(s->data->size());
    const toff_t base = whence == SEEK_CUR ? s->pos : whence == SEEK_END ? size : 0;
    s->pos = base + offset;
    return s->pos;
}

int closeNothing(thandle_t)
{
    return 0;
}

toff_t sizeOf(thandle_t handle)
{
    return toff_t(static_cast<Source *>(handle)->data->size());
}

int mapBytes(thandle_t handle, void **base, toff_t *size)
{
    const QByteArray *data = static_cast<Source *>(handle)->data;
    *base = const_cast<char *>(data->constData());
    *size = toff_t(data->size());
    return 1;
}

void unmapNothing(thandle_t, void *, toff_t) {}

// libtiff's complaints stay off standard error; the first error is the reason.
int keepError(TIFF *, void *user, const char *, const char *format, va_list arguments)
{
    auto *s = static_cast<Source *>(user);
    if (s->firstError.isEmpty()) {
        char text[512];
        std::vsnprintf(text, sizeof text, format, arguments);
        s->firstError = QString::fromLocal8Bit(text);
    }
    return 1;
}

int dropWarning(TIFF *, void *, const char *, const char *, va_list)
{
    return 1;
}

struct TiffCloser {
    void operator()(TIFF *tiff) const { TIFFClose(tiff); }
};
using Tiff = std::unique_ptr<TIFF, TiffCloser>;

Tiff open(Source &source)
{
    const QByteArray &d = *source.data;
    if (d.size() < 8 || !(d.startsWith("II") || d.startsWith("MM")))
        return nullptr;
    TIFFOpenOptions *options = TIFFOpenOptionsAlloc();
    TIFFOpenOptionsSetErrorHandlerExtR(options, keepError, &source);
    TIFFOpenOptionsSetWarningHandlerExtR(options, dropWarning, nullptr);
    Tiff tiff(TIFFClientOpenExt("photo", "r", &source, readBytes, writeNothing, seekTo, closeNothing, sizeOf, mapBytes,
                                unmapNothing, options));
    TIFFOpenOptionsFree(options);
    return tiff;
}

struct Layout {
    uint32_t width = 0;
    uint32_t height = 0;
    uint16_t bits = 0;
    uint16_t samples = 0;
    uint16_t planar = PLANARCONFIG_CONTIG;
    int alpha = -1;          // the sample holding alpha, if any
    bool associated = false; // the inks premultiplied by it
};

bool cmykLayout(TIFF *tiff, Layout *layout)
{
    uint16_t photometric = 0;
    uint16_t inkSet = INKSET_CMYK;
    uint16_t extraCount = 0;
    uint16_t *extras = nullptr;
    if (!TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &photometric) || photometric != PHOTOMETRIC_SEPARATED)
        return false;
    TIFFGetFieldDefaulted(tiff, TIFFTAG_INKSET, &inkSet);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &layout->samples);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_EXTRASAMPLES, &extraCount, &extras);
    // Beside the inks, an alpha channel and a few more at most.
    if (inkSet != INKSET_CMYK || layout->samples < 4 || layout->samples > 8 || layout->samples - extraCount != 4)
        return false;
    TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &layout->width);
    TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &layout->height);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &layout->bits);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_PLANARCONFIG, &layout->planar);
    if (extraCount > 0 && extras && (extras[0] == EXTRASAMPLE_ASSOCALPHA || extras[0] == EXTRASAMPLE_UNASSALPHA)) {
        layout->alpha = 4;
        layout->associated = extras[0] == EXTRASAMPLE_ASSOCALPHA;
    }
    return true;
}

Result<QImage> damaged(const Source &source, const char *fallback)
{
    return describedError(source.firstError.isEmpty() ? QString::fromLatin1(fallback) : source.firstError,
                          int(DecodeError::Damaged));
}

} // namespace

bool TiffCmykReader::isCmyk(const QByteArray &data)
{
    Source source{&data, 0, {}};
    const Tiff tiff = open(source);
    Layout layout;
    return tiff && cmykLayout(tiff.get(), &layout);
}

Result<QImage> TiffCmykReader::read(const QByteArray &data)
{
    Source source{&data, 0, {}};
    const Tiff tiff = open(source);
    Layout l;
    if (!tiff || !cmykLayout(tiff.get(), &l))
        return damaged(source, "not a CMYK TIFF");
    uint16_t format = SAMPLEFORMAT_UINT;
    TIFFGetFieldDefaulted(tiff.get(), TIFFTAG_SAMPLEFORMAT, &format);
    if ((l.bits != 8 && l.bits != 16) || format != SAMPLEFORMAT_UINT)
        return describedError(
            QStringLiteral("It is a CMYK TIFF of %1 bits a sample, which is not read here.").arg(l.bits),
            int(DecodeError::KindNotRead));
    if (l.width == 0 || l.height == 0 || l.width > uint32_t(INT_MAX / 4) || l.height > uint32_t(INT_MAX))
        return damaged(source, "bad picture size");

    uint32_t count = 0;
    const void *profile = nullptr;
    QByteArray icc;
    if (TIFFGetField(tiff.get(), TIFFTAG_ICCPROFILE, &count, &profile) && profile && count > 0)
        icc = QByteArray(static_cast<const char *>(profile), qsizetype(count));
    const std::shared_ptr<const CmykConversion> inks = CmykConversion::make(icc, l.bits, false);

    // The data must be there before anything its size is allocated: every
    // strip or tile inside the file, and together no more squeezed than any
    // compression manages.
    constexpr quint64 kMostSqueezed = quint64(1) << 16;
    const quint64 size = quint64(data.size());
    quint64 coded = 0;
    for (uint32_t strile = 0, count = TIFFNumberOfStrips(tiff.get()); strile < count; ++strile) {
        const quint64 at = TIFFGetStrileOffset(tiff.get(), strile);
        const quint64 bytes = TIFFGetStrileByteCount(tiff.get(), strile);
        if (bytes == 0 || at > size || bytes > size - at)
            return damaged(source, "truncated image data");
        coded += bytes;
    }
    uint16_t compression = COMPRESSION_NONE;
    TIFFGetFieldDefaulted(tiff.get(), TIFFTAG_COMPRESSION, &compression);
    const quint64 pixelBytes = quint64(l.width) * l.height * l.samples * (l.bits / 8);
    if (coded * (compression == COMPRESSION_NONE ? 1 : kMostSqueezed) < pixelBytes)
        return damaged(source, "truncated image data");

    QImage image = ImageBuffer::allocate(int(l.width), int(l.height), QImage::Format_ARGB32);
    if (image.isNull())
        return describedError(QStringLiteral("picture too large for memory"), int(DecodeError::Damaged));

    // The picture comes in blocks: strips the whole width, or tiles.
    const bool tiled = TIFFIsTiled(tiff.get());
    uint32_t blockWidth = l.width;
    uint32_t blockHeight = 0;
    if (tiled) {
        TIFFGetField(tiff.get(), TIFFTAG_TILEWIDTH, &blockWidth);
        TIFFGetField(tiff.get(), TIFFTAG_TILELENGTH, &blockHeight);
    } else {
        TIFFGetFieldDefaulted(tiff.get(), TIFFTAG_ROWSPERSTRIP, &blockHeight);
        blockHeight = std::min(blockHeight, l.height);
    }
    // A tile may reach past the picture, but not by more than writers round up to.
    constexpr uint32_t kLargestTile = 4096;
    if (blockWidth == 0 || blockHeight == 0 || blockWidth > std::max(l.width, kLargestTile)
        || blockHeight > std::max(l.height, kLargestTile))
        return damaged(source, "bad strip or tile size");
    const int planes = l.planar == PLANARCONFIG_SEPARATE ? l.samples : 1;
    const int perPlane = l.planar == PLANARCONFIG_SEPARATE ? 1 : l.samples; // samples a pixel in each plane
    const qsizetype sampleBytes = l.bits / 8;
    const qsizetype blockRowBytes = qsizetype(blockWidth) * perPlane * sampleBytes;
    const tmsize_t blockBytes = tiled ? TIFFTileSize(tiff.get()) : TIFFStripSize(tiff.get());
    if (blockBytes <= 0 || blockRowBytes * qsizetype(blockHeight) > blockBytes)
        return damaged(source, "bad strip or tile size");
    // A strip or tile as large as the header says, which a damaged one may overstate.
    std::vector<std::vector<uchar>> blocks(static_cast<size_t>(planes));
    std::vector<uchar> row;
    std::vector<QRgb> colours;
    try {
        for (auto &block : blocks)
            block.resize(size_t(blockBytes));
        row.resize(size_t(blockWidth) * 4 * size_t(sampleBytes));
        colours.resize(blockWidth);
    } catch (const std::bad_alloc &) {
        return describedError(QStringLiteral("picture too large for memory"), int(DecodeError::Damaged));
    }
    // Opaque 8-bit inks are gathered in the picture's own pixels and turned
    // into colours at the end, on every core.
    const bool inPlace = sampleBytes == 1 && l.alpha < 0;

    for (uint32_t top = 0; top < l.height; top += blockHeight) {
        const uint32_t rows = std::min(blockHeight, l.height - top);
        for (uint32_t left = 0; left < l.width; left += blockWidth) {
            const uint32_t columns = std::min(blockWidth, l.width - left);
            for (int plane = 0; plane < planes; ++plane) {
                const uint32_t block = tiled ? TIFFComputeTile(tiff.get(), left, top, 0, uint16_t(plane))
                                             : TIFFComputeStrip(tiff.get(), top, uint16_t(plane));
                const tmsize_t got =
                    tiled ? TIFFReadEncodedTile(tiff.get(), block, blocks[size_t(plane)].data(), blockBytes)
                          : TIFFReadEncodedStrip(tiff.get(), block, blocks[size_t(plane)].data(), blockBytes);
                if (got < blockRowBytes * qsizetype(tiled ? blockHeight : rows))
                    return damaged(source, "damaged image data");
            }
            // A sample of the pixel at `x` of the block's row `y`, scaled to 16 bits.
            const auto sample = [&](uint32_t y, uint32_t x, int s) -> quint32 {
                const int plane = planes > 1 ? s : 0;
                const qsizetype at =
                    qsizetype(y) * blockRowBytes + (qsizetype(x) * perPlane + (planes > 1 ? 0 : s)) * sampleBytes;
                const uchar *p = blocks[size_t(plane)].data() + at;
                return sampleBytes == 2 ? quint32(*reinterpret_cast<const quint16 *>(p)) : quint32(*p) * 257;
            };
            for (uint32_t y = 0; y < rows; ++y) {
                auto *line = reinterpret_cast<QRgb *>(image.scanLine(int(top + y))) + left;
                if (inPlace && planes == 1) {
                    std::memcpy(line, blocks[0].data() + qsizetype(y) * blockRowBytes, size_t(columns) * 4);
                    continue;
                }
                for (uint32_t x = 0; x < columns; ++x) {
                    const quint32 a = l.alpha >= 0 ? sample(y, x, l.alpha) : 65535;
                    for (int s = 0; s < 4; ++s) {
                        quint32 v = sample(y, x, s);
                        // Premultiplied inks: as much ink again where the pixel is partly clear.
                        if (l.associated && a > 0 && a < 65535)
                            v = std::min<quint32>(65535, (v * 65535 + a / 2) / a);
                        if (sampleBytes == 2)
                            reinterpret_cast<quint16 *>(row.data())[x * 4 + uint32_t(s)] = quint16(v);
                        else
                            row[x * 4 + uint32_t(s)] = uchar(v / 257);
                    }
                    line[x] = quint32((a * 255 + 32767) / 65535) << 24;
                }
                if (inPlace) {
                    std::memcpy(line, row.data(), size_t(columns) * 4);
                    continue;
                }
                inks->toRgb(row.data(), colours.data(), int(columns));
                for (uint32_t x = 0; x < columns; ++x)
                    line[x] = (colours[x] & 0x00ffffffu) | (line[x] & 0xff000000u);
            }
        }
    }
    if (inPlace)
        inks->convertInPlace(image);
    // Opaque pixels are premultiplied as they are.
    if (l.alpha < 0)
        image.reinterpretAsFormat(QImage::Format_ARGB32_Premultiplied);
    else
        image.convertTo(QImage::Format_ARGB32_Premultiplied);
    image.setColorSpace(QColorSpace(QColorSpace::SRgb));
    return image;
}

} // namespace platform
