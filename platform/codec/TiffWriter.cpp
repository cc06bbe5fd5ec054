#include "platform/codec/TiffWriter.h"

#include "platform/codec/BandPipeline.h"
#include "platform/codec/CodecErrors.h"
#include "platform/codec/ExportMetadata.h"
#include "platform/codec/PixelRows.h"

#include <QIODevice>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <algorithm>
#include <vector>

#include <tiffio.h>

namespace platform {

namespace {

struct Context {
    QIODevice *device;
    bool writeFailed = false;
    QString message;
    // The end of what was written, for the encoder's size and seeks from
    // the end: a file's size() flushes its buffer first, and after a failed
    // flush answers 0, so the next strip would go over the header.
    qint64 end = 0;
};

tmsize_t readProc(thandle_t h, void *data, tmsize_t size)
{
    auto *ctx = static_cast<Context *>(h);
    return tmsize_t(ctx->device->read(static_cast<char *>(data), qint64(size)));
}

tmsize_t writeProc(thandle_t h, void *data, tmsize_t size)
{
    auto *ctx = static_cast<Context *>(h);
    const qint64 n = ctx->device->write(static_cast<const char *>(data), qint64(size));
    if (n != qint64(size)) {
        ctx->writeFailed = true;
        return -1;
    }
    ctx->end = std::max(ctx->end, ctx->device->pos());
    return size;
}

toff_t seekProc(thandle_t h, toff_t offset, int whence)
{
    auto *ctx = static_cast<Context *>(h);
    qint64 pos = qint64(offset);
    if (whence == SEEK_CUR)
        pos += ctx->device->pos();
    else if (whence == SEEK_END)
        pos += ctx->end;
    if (pos < 0)
        return toff_t(-1);
    // A file's seek first writes out its buffer: failing, it is a failed write.
    if (!ctx->device->seek(pos)) {
        ctx->writeFailed = true;
        return toff_t(-1);
    }
    return toff_t(pos);
}

int closeProc(thandle_t)
{
    return 0;
}

toff_t sizeProc(thandle_t h)
{
    return toff_t(static_cast<Context *>(h)->end);
}

int mapProc(thandle_t, void **, toff_t *)
{
    return 0;
}

void unmapProc(thandle_t, void *, toff_t) {}

int errorHandler(TIFF *, void *user, const char *module, const char *fmt, va_list ap)
{
    char buffer[512];
    std::vsnprintf(buffer, sizeof buffer, fmt, ap);
    auto *ctx = static_cast<Context *>(user);
    if (ctx->message.isEmpty())
        ctx->message = QString::fromLocal8Bit(module ? module : "") + QStringLiteral(": ") + QString::fromLocal8Bit(buffer);
    return 1;
}

int warningHandler(TIFF *, void *, const char *, const char *, va_list)
{
    return 1;
}

// Sets one Exiv2 value as the libtiff field of the same tag in the current
// directory, in the C types that field takes. Answers false (and sets
// nothing) when libtiff does not know the tag or the value does not fit.
bool setExifField(TIFF *tif, const Exiv2::Exifdatum &datum)
{
    const uint32_t tag = datum.tag();
    const TIFFField *field = TIFFFindField(tif, tag, TIFF_ANY);
    if (!field || TIFFFieldIsAnonymous(field))
        return false;
    const TIFFDataType type = TIFFFieldDataType(field);
    const long count = datum.count();
    if (count <= 0)
        return false;
    if (type == TIFF_ASCII) {
        if (datum.typeId() != Exiv2::asciiString)
            return false;
        const std::string text = datum.toString();
        return TIFFSetField(tif, tag, text.c_str()) == 1;
    }
    const int size = TIFFFieldSetGetSize(field);
    const int countSize = TIFFFieldSetGetCountSize(field);
    const int readCount = TIFFFieldReadCount(field);

    // The values as the field's element type.
    std::vector<unsigned char> buffer(size_t(count) * size_t(std::max(size, 1)));
    for (long i = 0; i < count; ++i) {
        unsigned char *p = buffer.data() + size_t(i) * size_t(size);
        switch (type) {
        case TIFF_BYTE:
        case TIFF_SBYTE:
        case TIFF_UNDEFINED:
            if (size != 1)
                return false;
            *p = static_cast<unsigned char>(datum.toLong(i));
            break;
        case TIFF_SHORT:
        case TIFF_SSHORT: {
            if (size != 2)
                return false;
            const uint16_t v = static_cast<uint16_t>(datum.toLong(i));
            std::memcpy(p, &v, 2);
            break;
        }
        case TIFF_LONG:
        case TIFF_SLONG: {
            if (size != 4)
                return false;
            const uint32_t v = static_cast<uint32_t>(datum.toLong(i));
            std::memcpy(p, &v, 4);
            break;
        }
        case TIFF_RATIONAL:
        case TIFF_SRATIONAL:
        case TIFF_FLOAT:
        case TIFF_DOUBLE:
            if (size == 4) {
                const float v = datum.toFloat(i);
                std::memcpy(p, &v, 4);
            } else if (size == 8) {
                const double v = datum.toFloat(i);
                std::memcpy(p, &v, 8);
            } else {
                return false;
            }
            break;
        default:
            return false;
        }
    }
    const void *values = buffer.data();
    if (countSize == 2)
        return count <= 65535 && TIFFSetField(tif, tag, uint16_t(count), values) == 1;
    if (countSize == 4)
        return TIFFSetField(tif, tag, uint32_t(count), values) == 1;
    if (readCount == 1) {
        if (count != 1)
            return false;
        switch (type) {
        case TIFF_RATIONAL:
        case TIFF_SRATIONAL:
        case TIFF_FLOAT:
        case TIFF_DOUBLE:
            return TIFFSetField(tif, tag, double(datum.toFloat(0))) == 1;
        case TIFF_LONG:
        case TIFF_SLONG:
            return TIFFSetField(tif, tag, uint32_t(datum.toLong(0))) == 1;
        default:
            return TIFFSetField(tif, tag, int(datum.toLong(0))) == 1;
        }
    }
    if (readCount == count)
        return TIFFSetField(tif, tag, values) == 1;
    return false;
}

// Tags this writer sets itself, or that point at other directories.
bool isOwnTag(uint16_t tag)
{
    switch (tag) {
    case TIFFTAG_SOFTWARE:
    case TIFFTAG_ORIENTATION:
    case TIFFTAG_XRESOLUTION:
    case TIFFTAG_YRESOLUTION:
    case TIFFTAG_RESOLUTIONUNIT:
    case TIFFTAG_EXIFIFD:
    case TIFFTAG_GPSIFD:
    case TIFFTAG_XMLPACKET:
    case TIFFTAG_RICHTIFFIPTC:
    case TIFFTAG_ICCPROFILE:
    case TIFFTAG_PHOTOSHOP:
        return true;
    default:
        return false;
    }
}

// Writes the EXIF tags of one group as a directory of its own; 0 when none.
uint64_t writeSubDirectory(TIFF *tif, const Exiv2::ExifData &exif, const char *group, bool gps)
{
    bool any = false;
    for (const Exiv2::Exifdatum &d : exif)
        any = any || d.groupName() == group;
    if (!any)
        return 0;
    if ((gps ? TIFFCreateGPSDirectory(tif) : TIFFCreateEXIFDirectory(tif)) != 0)
        return 0;
    int written = 0;
    for (const Exiv2::Exifdatum &d : exif) {
        if (d.groupName() != group)
            continue;
        // Maker notes point into the old file; interoperability is a directory.
        if (d.key() == "Exif.Photo.MakerNote" || d.key() == "Exif.Photo.InteroperabilityTag")
            continue;
        if (setExifField(tif, d))
            ++written;
    }
    uint64_t offset = 0;
    if (written == 0 || !TIFFWriteCustomDirectory(tif, &offset))
        offset = 0;
    TIFFFreeDirectory(tif);
    return offset;
}

} // namespace

namespace {

// An open TIFF with every tag of the picture set, ready for its rows.
class Writer
{
public:
    Writer(QIODevice *device, QSize size, bool alpha, const ExportMetadata &metadata)
        : m_ctx{device, false, QString(), device->size()}
    {
        const int samples = alpha ? 4 : 3;
        const int w = size.width();
        const int h = size.height();
        const QByteArray xmp = metadata.xmpPacket();
        const QByteArray iptc = metadata.iptcBlob();
        const QByteArray icc = metadata.iccProfile();
        const QByteArray software = metadata.software().toUtf8();

        TIFFOpenOptions *options = TIFFOpenOptionsAlloc();
        TIFFOpenOptionsSetErrorHandlerExtR(options, errorHandler, &m_ctx);
        TIFFOpenOptionsSetWarningHandlerExtR(options, warningHandler, &m_ctx);
        // Big TIFF only when the plain offsets could overflow.
        const quint64 raw = quint64(w) * quint64(h) * quint64(samples);
        const char *mode = raw > 3'500'000'000ull ? "w8" : "w";
        m_tif = TIFFClientOpenExt("export", mode, &m_ctx, readProc, writeProc, seekProc, closeProc, sizeProc, mapProc,
                                  unmapProc, options);
        TIFFOpenOptionsFree(options);
        if (!m_tif)
            return;
        TIFF *tif = m_tif;

        // The EXIF and GPS directories go first, so the main directory can point at them.
        const Exiv2::ExifData &exif = metadata.exif();
        const uint64_t exifOffset = writeSubDirectory(tif, exif, "Photo", false);
        const uint64_t gpsOffset = writeSubDirectory(tif, exif, "GPSInfo", true);
        if (exifOffset || gpsOffset)
            TIFFCreateDirectory(tif);

        bool ok = true;
        ok = ok && TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, uint32_t(w));
        ok = ok && TIFFSetField(tif, TIFFTAG_IMAGELENGTH, uint32_t(h));
        ok = ok && TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
        ok = ok && TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, samples);
        ok = ok && TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
        ok = ok && TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        if (alpha) {
            const uint16_t extra[1] = {EXTRASAMPLE_UNASSALPHA};
            ok = ok && TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, extra);
        }
        ok = ok && TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
        ok = ok && TIFFSetField(tif, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
        ok = ok && TIFFSetField(tif, TIFFTAG_ZIPQUALITY, 1);
        // Strips of about 256 KB compress well and keep memory small.
        const uint32_t rowsPerStrip = uint32_t(std::max<qint64>(1, (256 * 1024) / (qint64(w) * samples)));
        ok = ok && TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, std::min<uint32_t>(rowsPerStrip, uint32_t(h)));
        ok = ok && TIFFSetField(tif, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
        ok = ok && TIFFSetField(tif, TIFFTAG_SOFTWARE, software.constData());
        if (metadata.dpi()) {
            ok = ok && TIFFSetField(tif, TIFFTAG_XRESOLUTION, double(*metadata.dpi()));
            ok = ok && TIFFSetField(tif, TIFFTAG_YRESOLUTION, double(*metadata.dpi()));
            ok = ok && TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
        }
        // The photo's own IFD0 tags (camera, artist, copyright, dates...).
        for (const Exiv2::Exifdatum &d : exif) {
            if (d.groupName() == "Image" && !isOwnTag(d.tag()))
                setExifField(tif, d);
        }
        if (!xmp.isEmpty())
            ok = ok && TIFFSetField(tif, TIFFTAG_XMLPACKET, uint32_t(xmp.size()), xmp.constData());
        if (!iptc.isEmpty())
            ok = ok && TIFFSetField(tif, TIFFTAG_RICHTIFFIPTC, uint32_t(iptc.size()), iptc.constData());
        if (!icc.isEmpty())
            ok = ok && TIFFSetField(tif, TIFFTAG_ICCPROFILE, uint32_t(icc.size()), icc.constData());
        if (exifOffset)
            ok = ok && TIFFSetField(tif, TIFFTAG_EXIFIFD, uint64_t(exifOffset));
        if (gpsOffset)
            ok = ok && TIFFSetField(tif, TIFFTAG_GPSIFD, uint64_t(gpsOffset));
        m_tagsSet = ok;
    }
    ~Writer()
    {
        if (m_tif)
            TIFFClose(m_tif);
    }
    Writer(const Writer &) = delete;
    Writer &operator=(const Writer &) = delete;

    // Whether the file could be opened and its tags set; else the error.
    bool ready(Error *error)
    {
        if (m_tif && m_tagsSet)
            return true;
        return fail(error, false);
    }
    bool writeRow(const uchar *row, int y)
    {
        return TIFFWriteScanline(m_tif, const_cast<uchar *>(row), uint32_t(y), 0) == 1;
    }
    // Writes the directory and closes the file.
    bool finish(Error *error)
    {
        const bool ok = TIFFWriteDirectory(m_tif) == 1;
        TIFFClose(m_tif);
        m_tif = nullptr;
        return ok && !m_ctx.writeFailed ? true : fail(error, false);
    }
    bool fail(Error *error, bool cancelled)
    {
        if (cancelled)
            codecError(error, CodecError::Cancelled, QStringLiteral("The picture was not written: cancelled."));
        else if (m_ctx.writeFailed)
            codecError(error, CodecError::WriteFailed, m_ctx.device->errorString());
        else
            codecError(error, CodecError::EncoderFailed,
                       m_ctx.message.isEmpty() ? QStringLiteral("The TIFF encoder failed.") : m_ctx.message);
        return false;
    }

private:
    Context m_ctx;
    TIFF *m_tif = nullptr;
    bool m_tagsSet = false;
};

} // namespace

bool TiffWriter::write(QIODevice *device, const QImage &image, const ExportMetadata &metadata, Error *error,
                       const RowReadHook &hook)
{
    const bool alpha = PixelRows::hasTransparency(image);
    const int h = image.height();
    std::vector<uchar> row(size_t(image.width()) * size_t(alpha ? 4 : 3));
    Writer writer(device, image.size(), alpha, metadata);
    if (!writer.ready(error))
        return false;
    for (int y = 0; y < h; ++y) {
        if (hook && !hook(y + 1, h))
            return writer.fail(error, true);
        if (alpha)
            PixelRows::rgba(image, y, row.data());
        else
            PixelRows::rgb(image, y, row.data());
        if (!writer.writeRow(row.data(), y))
            return writer.fail(error, false);
    }
    return writer.finish(error);
}

bool TiffWriter::writeBands(QIODevice *device, const PictureBands &bands, const ExportMetadata &metadata, Error *error,
                            const RowReadHook &hook)
{
    if (BandPipeline::isEmpty(bands, error))
        return false;
    const bool alpha = bands.transparent;
    BandPipeline::TransparencyCheck transparency(bands);
    std::vector<uchar> row(size_t(bands.size.width()) * size_t(alpha ? 4 : 3));
    Writer writer(device, bands.size, alpha, metadata);
    if (!writer.ready(error))
        return false;
    const auto outcome = BandPipeline::run(bands, hook, [&](const QImage &band, int first, BandPipeline::Rows &rows) {
        if (!transparency.check(band))
            return false;
        for (int y = 0; y < band.height(); ++y) {
            if (!rows.written())
                return false;
            if (alpha)
                PixelRows::rgba(band, y, row.data());
            else
                PixelRows::rgb(band, y, row.data());
            if (!writer.writeRow(row.data(), first + y))
                return false;
        }
        return true;
    });
    if (outcome == BandPipeline::Outcome::Cancelled)
        return writer.fail(error, true);
    if (transparency.wrong(outcome, error))
        return false;
    if (outcome != BandPipeline::Outcome::Done)
        return writer.fail(error, false);
    return writer.finish(error);
}

} // namespace platform
