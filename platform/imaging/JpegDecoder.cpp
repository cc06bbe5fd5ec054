#include "platform/imaging/JpegDecoder.h"

#include "platform/imaging/ImageBuffer.h"

#include <csetjmp>
#include <algorithm>
#include <cstdio>

#include <jerror.h>
#include <jpeglib.h>

namespace platform {

namespace {

using Status = JpegDecoder::Status;

struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    bool truncated = false;
    char message[JMSG_LENGTH_MAX] = {};
};

void onError(j_common_ptr cinfo)
{
    auto *err = reinterpret_cast<ErrorManager *>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, err->message);
    std::longjmp(err->jump, 1);
}

void onMessage(j_common_ptr cinfo, int level)
{
    // Level -1 is a warning about the data. A file that ends early is damaged;
    // other warnings (stray bytes) are common in camera files and harmless.
    if (level < 0 && cinfo->err->msg_code == JWRN_JPEG_EOF)
        reinterpret_cast<ErrorManager *>(cinfo->err)->truncated = true;
}

} // namespace

bool JpegDecoder::canDecode(const QByteArray &data)
{
    return data.size() > 3 && data.startsWith("\xFF\xD8\xFF");
}

namespace {

// Everything libjpeg may jump out of lives here; the picture belongs to the
// caller's frame so no C++ object is skipped by the jump.
Status decodeInto(const QByteArray &data, QImage *out, QString *message, QSize atLeast = QSize(),
                  QSize *headerOnly = nullptr)
{
    jpeg_decompress_struct cinfo;
    ErrorManager err;
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = onError;
    err.pub.emit_message = onMessage;
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&cinfo);
        *message = QString::fromLatin1(err.message);
        return Status::Damaged;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, reinterpret_cast<const unsigned char *>(data.constData()), static_cast<unsigned long>(data.size()));
    jpeg_read_header(&cinfo, TRUE);
    if (headerOnly) {
        *headerOnly = QSize(int(cinfo.image_width), int(cinfo.image_height));
        jpeg_destroy_decompress(&cinfo);
        return Status::Ok;
    }
    if (atLeast.width() > 0 && atLeast.height() > 0) {
        // libjpeg-turbo scales by eighths while decoding, far cheaper than
        // decoding everything and scaling down afterwards.
        for (unsigned num = 1; num < 8; ++num) {
            const qint64 w = (qint64(cinfo.image_width) * num + 7) / 8;
            const qint64 h = (qint64(cinfo.image_height) * num + 7) / 8;
            if (w >= atLeast.width() && h >= atLeast.height()) {
                cinfo.scale_num = num;
                cinfo.scale_denom = 8;
                break;
            }
        }
    }
    if (cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK) {
        jpeg_destroy_decompress(&cinfo);
        *message = QStringLiteral("CMYK JPEG");
        return Status::Unsupported;
    }
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
    cinfo.out_color_space = JCS_EXT_BGRA;
#else
    cinfo.out_color_space = JCS_EXT_ARGB;
#endif
    jpeg_start_decompress(&cinfo);
    *out = ImageBuffer::allocate(int(cinfo.output_width), int(cinfo.output_height));
    if (out->isNull()) {
        jpeg_destroy_decompress(&cinfo);
        *message = QStringLiteral("picture too large for memory");
        return Status::Damaged;
    }
    // libjpeg-turbo writes 0xFF alpha: opaque, so already premultiplied.
    uchar *bits = out->bits();
    const qsizetype bpl = out->bytesPerLine();
    JSAMPROW rows[16];
    while (cinfo.output_scanline < cinfo.output_height && !err.truncated) {
        const JDIMENSION first = cinfo.output_scanline;
        const JDIMENSION count = std::min<JDIMENSION>(16, cinfo.output_height - first);
        for (JDIMENSION i = 0; i < count; ++i)
            rows[i] = bits + bpl * qsizetype(first + i);
        if (jpeg_read_scanlines(&cinfo, rows, count) == 0)
            break;
    }
    if (err.truncated || cinfo.output_scanline < cinfo.output_height) {
        jpeg_destroy_decompress(&cinfo);
        *message = QStringLiteral("the file ends early");
        return Status::Damaged;
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    if (err.truncated) {
        *message = QStringLiteral("the file ends early");
        return Status::Damaged;
    }
    return Status::Ok;
}

} // namespace

Result<QImage> JpegDecoder::decodeAtLeast(const QByteArray &data, const QSize &atLeast, Status *status)
{
    QImage image;
    QString message;
    const Status s = decodeInto(data, &image, &message, atLeast);
    if (status)
        *status = s;
    if (s != Status::Ok)
        return describedError(message);
    return image;
}

QSize JpegDecoder::storedSize(const QByteArray &data)
{
    if (!canDecode(data))
        return {};
    QImage unused;
    QString message;
    QSize size;
    if (decodeInto(data, &unused, &message, QSize(), &size) != Status::Ok)
        return {};
    return size;
}

Result<QImage> JpegDecoder::decode(const QByteArray &data, Status *status)
{
    QImage image;
    QString message;
    const Status s = decodeInto(data, &image, &message);
    if (status)
        *status = s;
    if (s != Status::Ok)
        return describedError(message);
    return image;
}

} // namespace platform
