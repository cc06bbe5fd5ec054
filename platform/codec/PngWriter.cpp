#include "platform/codec/PngWriter.h"

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

// Everything between setjmp and the end, with no C++ object a longjmp skips.
bool compress(png_structp png, png_infop info, const QImage &image, bool alpha, const Chunks &chunks, uchar *row,
              const RowReadHook &hook, Context *ctx)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_set_benign_errors(png, 1);
    png_set_compression_level(png, 1);
    png_set_IHDR(png, info, png_uint_32(image.width()), png_uint_32(image.height()), 8,
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
    for (int y = 0; y < image.height(); ++y) {
        if (hook && !hook(y + 1, image.height())) {
            ctx->cancelled = true;
            return false;
        }
        if (alpha)
            PixelRows::rgba(image, y, row);
        else
            PixelRows::rgb(image, y, row);
        png_write_row(png, row);
    }
    // Every chunk went out before the pixels; handing the info again would
    // repeat eXIf after them.
    png_write_end(png, nullptr);
    return true;
}

} // namespace

bool PngWriter::write(QIODevice *device, const QImage &image, const ExportMetadata &metadata, Error *error,
                      const RowReadHook &hook)
{
    const bool alpha = PixelRows::hasTransparency(image);
    const QByteArray exif = metadata.exifBlob();
    const QByteArray icc = metadata.iccProfile();
    const QByteArray xmp = metadata.xmpPacket();
    const QByteArray software = metadata.software().toUtf8();
    std::vector<uchar> row(size_t(image.width()) * (alpha ? 4 : 3));

    std::vector<png_text> texts;
    png_text sw{};
    sw.compression = PNG_TEXT_COMPRESSION_NONE;
    sw.key = const_cast<char *>("Software");
    sw.text = const_cast<char *>(software.constData());
    sw.text_length = size_t(software.size());
    texts.push_back(sw);
    if (!xmp.isEmpty()) {
        png_text t{};
        t.compression = PNG_ITXT_COMPRESSION_NONE;
        t.key = const_cast<char *>("XML:com.adobe.xmp");
        t.text = const_cast<char *>(xmp.constData());
        t.itxt_length = size_t(xmp.size());
        t.lang = const_cast<char *>("");
        t.lang_key = const_cast<char *>("");
        texts.push_back(t);
    }

    Context ctx{device, false, false, {}};
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &ctx, pngError, pngWarning);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!png || !info) {
        png_destroy_write_struct(&png, &info);
        codecError(error, CodecError::OutOfMemory, QStringLiteral("Not enough memory to encode the PNG picture."));
        return false;
    }
    png_set_write_fn(png, &ctx, pngWrite, pngFlush);
    const Chunks chunks{metadata.dpi(), &exif, &icc, texts.data(), int(texts.size())};
    const bool ok = compress(png, info, image, alpha, chunks, row.data(), hook, &ctx);
    png_destroy_write_struct(&png, &info);
    if (!ok) {
        if (ctx.cancelled)
            codecError(error, CodecError::Cancelled, QStringLiteral("The picture was not written: cancelled."));
        else if (ctx.writeFailed)
            codecError(error, CodecError::WriteFailed, device->errorString());
        else
            codecError(error, CodecError::EncoderFailed, QString::fromLocal8Bit(ctx.message));
    }
    return ok;
}

} // namespace platform
