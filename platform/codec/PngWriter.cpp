#include "platform/codec/PngWriter.h"

#include "platform/codec/BandPipeline.h"
#include "platform/codec/CodecErrors.h"
#include "platform/codec/ExportMetadata.h"
#include "platform/codec/PixelRows.h"

#include <QIODevice>

#include <cmath>
#include <cstring>
#include <vector>

#include <png.h>

namespace platform {

namespace {

struct Context {
    QIODevice *device;
    bool writeFailed;
    bool cancelled;
    char message[256];
};

void pngError(png_structp png, png_const_charp message)
{
    auto *ctx = static_cast<Context *>(png_get_error_ptr(png));
    std::strncpy(ctx->message, message ? message : "", sizeof ctx->message - 1);
    png_longjmp(png, 1);
}

void pngWarning(png_structp, png_const_charp) {}

void pngWrite(png_structp png, png_bytep data, size_t length)
{
    auto *ctx = static_cast<Context *>(png_get_io_ptr(png));
    if (ctx->device->write(reinterpret_cast<const char *>(data), qint64(length)) != qint64(length)) {
        ctx->writeFailed = true;
        png_error(png, "write failed");
    }
}

void pngFlush(png_structp) {}

struct Chunks {
    std::optional<double> dpi;
    const QByteArray *exif;
    const QByteArray *icc;
    png_text *texts;
    int textCount;
};

// Each step between its setjmp and its end holds no C++ object a longjmp
// would skip.
bool writeHeader(png_structp png, png_infop info, QSize size, bool alpha, const Chunks &chunks)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_set_benign_errors(png, 1);
    png_set_compression_level(png, 1);
    png_set_IHDR(png, info, png_uint_32(size.width()), png_uint_32(size.height()), 8,
                 alpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (chunks.dpi) {
        const png_uint_32 ppm = png_uint_32(std::lround(*chunks.dpi / 0.0254));
        png_set_pHYs(png, info, ppm, ppm, PNG_RESOLUTION_METER);
    }
    if (!chunks.icc->isEmpty())
        png_set_iCCP(png, info, "ICC Profile", PNG_COMPRESSION_TYPE_BASE,
                     reinterpret_cast<png_const_bytep>(chunks.icc->constData()), png_uint_32(chunks.icc->size()));
    if (!chunks.exif->isEmpty())
        png_set_eXIf_1(png, info, png_uint_32(chunks.exif->size()),
                       reinterpret_cast<png_bytep>(const_cast<char *>(chunks.exif->constData())));
    if (chunks.textCount > 0)
        png_set_text(png, info, chunks.texts, chunks.textCount);
    png_write_info(png, info);
    return true;
}

// The rows of `image`; `before(y)` is asked before each and may stop them.
template <typename Before>
bool writeRows(png_structp png, const QImage &image, bool alpha, uchar *row, const Before &before, Context *ctx)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    for (int y = 0; y < image.height(); ++y) {
        if (!before(y)) {
            ctx->cancelled = true;
            return false;
        }
        if (alpha)
            PixelRows::rgba(image, y, row);
        else
            PixelRows::rgb(image, y, row);
        png_write_row(png, row);
    }
    return true;
}

bool writeEnd(png_structp png)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    // Every chunk went out before the pixels; handing the info again would
    // repeat eXIf after them.
    png_write_end(png, nullptr);
    return true;
}

// The chunks of the metadata and the writer, made ready for `begin`.
class Writer
{
public:
    Writer(QIODevice *device, const ExportMetadata &metadata)
        : m_exif(metadata.exifBlob())
        , m_icc(metadata.iccProfile())
        , m_xmp(metadata.xmpPacket())
        , m_software(metadata.software().toUtf8())
        , m_dpi(metadata.dpi())
        , m_ctx{device, false, false, {}}
    {
        png_text sw{};
        sw.compression = PNG_TEXT_COMPRESSION_NONE;
        sw.key = const_cast<char *>("Software");
        sw.text = const_cast<char *>(m_software.constData());
        sw.text_length = size_t(m_software.size());
        m_texts.push_back(sw);
        if (!m_xmp.isEmpty()) {
            png_text t{};
            t.compression = PNG_ITXT_COMPRESSION_NONE;
            t.key = const_cast<char *>("XML:com.adobe.xmp");
            t.text = const_cast<char *>(m_xmp.constData());
            t.itxt_length = size_t(m_xmp.size());
            t.lang = const_cast<char *>("");
            t.lang_key = const_cast<char *>("");
            m_texts.push_back(t);
        }
        m_png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &m_ctx, pngError, pngWarning);
        m_info = m_png ? png_create_info_struct(m_png) : nullptr;
        if (m_png && m_info)
            png_set_write_fn(m_png, &m_ctx, pngWrite, pngFlush);
    }
    ~Writer() { png_destroy_write_struct(&m_png, &m_info); }
    Writer(const Writer &) = delete;
    Writer &operator=(const Writer &) = delete;

    bool ready(Error *error) const
    {
        if (m_png && m_info)
            return true;
        codecError(error, CodecError::OutOfMemory, QStringLiteral("Not enough memory to encode the PNG picture."));
        return false;
    }
    bool begin(QSize size, bool alpha)
    {
        const Chunks chunks{m_dpi, &m_exif, &m_icc, m_texts.data(), int(m_texts.size())};
        return writeHeader(m_png, m_info, size, alpha, chunks);
    }
    png_structp png() const { return m_png; }
    Context &context() { return m_ctx; }

    bool fail(Error *error)
    {
        if (m_ctx.cancelled)
            codecError(error, CodecError::Cancelled, QStringLiteral("The picture was not written: cancelled."));
        else if (m_ctx.writeFailed)
            codecError(error, CodecError::WriteFailed, m_ctx.device->errorString());
        else
            codecError(error, CodecError::EncoderFailed, QString::fromLocal8Bit(m_ctx.message));
        return false;
    }

private:
    const QByteArray m_exif;
    const QByteArray m_icc;
    const QByteArray m_xmp;
    const QByteArray m_software;
    const std::optional<double> m_dpi;
    std::vector<png_text> m_texts;
    Context m_ctx;
    png_structp m_png = nullptr;
    png_infop m_info = nullptr;
};

} // namespace

bool PngWriter::write(QIODevice *device, const QImage &image, const ExportMetadata &metadata, Error *error,
                      const RowReadHook &hook)
{
    const bool alpha = PixelRows::hasTransparency(image);
    std::vector<uchar> row(size_t(image.width()) * (alpha ? 4 : 3));
    Writer writer(device, metadata);
    if (!writer.ready(error))
        return false;
    const auto before = [&](int y) { return !hook || hook(y + 1, image.height()); };
    if (!writer.begin(image.size(), alpha)
        || !writeRows(writer.png(), image, alpha, row.data(), before, &writer.context()) || !writeEnd(writer.png()))
        return writer.fail(error);
    return true;
}

bool PngWriter::writeBands(QIODevice *device, const PictureBands &bands, const ExportMetadata &metadata, Error *error,
                           const RowReadHook &hook)
{
    if (BandPipeline::isEmpty(bands, error))
        return false;
    const bool alpha = bands.transparent;
    BandPipeline::TransparencyCheck transparency(bands);
    std::vector<uchar> row(size_t(bands.size.width()) * (alpha ? 4 : 3));
    Writer writer(device, metadata);
    if (!writer.ready(error))
        return false;
    if (!writer.begin(bands.size, alpha))
        return writer.fail(error);
    const auto outcome = BandPipeline::run(bands, hook, [&](const QImage &band, int, BandPipeline::Rows &rows) {
        if (!transparency.check(band))
            return false;
        return writeRows(
            writer.png(), band, alpha, row.data(), [&](int) { return rows.written(); }, &writer.context());
    });
    if (outcome == BandPipeline::Outcome::Cancelled) {
        codecError(error, CodecError::Cancelled, QStringLiteral("The picture was not written: cancelled."));
        return false;
    }
    if (transparency.wrong(outcome, error))
        return false;
    if (outcome != BandPipeline::Outcome::Done || !writeEnd(writer.png()))
        return writer.fail(error);
    return true;
}

} // namespace platform
