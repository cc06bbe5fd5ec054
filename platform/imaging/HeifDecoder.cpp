#include "platform/imaging/HeifDecoder.h"

#include <libheif/heif.h>

#include <QtEndian>

#include <algorithm>
#include <memory>
#include <mutex>
#include <vector>

namespace platform {

namespace {

void initHeif()
{
    static std::once_flag once;
    std::call_once(once, [] { heif_init(nullptr); });
}

struct ContextDeleter {
    void operator()(heif_context *c) const { heif_context_free(c); }
};
struct HandleDeleter {
    void operator()(heif_image_handle *h) const { heif_image_handle_release(h); }
};
struct ImageDeleter {
    void operator()(heif_image *i) const { heif_image_release(i); }
};
using ContextPtr = std::unique_ptr<heif_context, ContextDeleter>;
using HandlePtr = std::unique_ptr<heif_image_handle, HandleDeleter>;
using ImagePtr = std::unique_ptr<heif_image, ImageDeleter>;

// Opens the container without copying `data`, which must outlive the context.
bool openPrimary(const QByteArray &data, ContextPtr &ctx, HandlePtr &handle, QString *error)
{
    initHeif();
    ctx.reset(heif_context_alloc());
    if (!ctx) {
        if (error)
            *error = QStringLiteral("out of memory");
        return false;
    }
    heif_error err = heif_context_read_from_memory_without_copy(ctx.get(), data.constData(), size_t(data.size()), nullptr);
    if (err.code != heif_error_Ok) {
        if (error)
            *error = QString::fromUtf8(err.message);
        return false;
    }
    heif_image_handle *h = nullptr;
    err = heif_context_get_primary_image_handle(ctx.get(), &h);
    if (err.code != heif_error_Ok || !h) {
        if (error)
            *error = QString::fromUtf8(err.message);
        return false;
    }
    handle.reset(h);
    return true;
}

QByteArray metadataBlock(heif_image_handle *handle, const char *type, const char *contentType)
{
    const int count = heif_image_handle_get_number_of_metadata_blocks(handle, type);
    if (count <= 0)
        return {};
    std::vector<heif_item_id> ids(static_cast<size_t>(count));
    heif_image_handle_get_list_of_metadata_block_IDs(handle, type, ids.data(), count);
    for (heif_item_id id : ids) {
        if (contentType) {
            const char *ct = heif_image_handle_get_metadata_content_type(handle, id);
            if (!ct || qstrcmp(ct, contentType) != 0)
                continue;
        }
        const size_t size = heif_image_handle_get_metadata_size(handle, id);
        if (size == 0 || size > (256u << 20))
            continue;
        QByteArray block(qsizetype(size), Qt::Uninitialized);
        if (heif_image_handle_get_metadata(handle, id, block.data()).code == heif_error_Ok)
            return block;
    }
    return {};
}

} // namespace

bool HeifDecoder::canDecode(const QByteArray &data)
{
    if (data.size() < 12 || data.mid(4, 4) != "ftyp")
        return false;
    const heif_filetype_result r =
        heif_check_filetype(reinterpret_cast<const uint8_t *>(data.constData()), int(qMin<qsizetype>(data.size(), 64)));
    return r == heif_filetype_yes_supported || r == heif_filetype_maybe;
}

QSize HeifDecoder::storedSize(const QByteArray &data)
{
    ContextPtr ctx;
    HandlePtr handle;
    if (!openPrimary(data, ctx, handle, nullptr))
        return {};
    return QSize(heif_image_handle_get_width(handle.get()), heif_image_handle_get_height(handle.get()));
}

Result<QImage> HeifDecoder::decode(const QByteArray &data)
{
    return decodeAtLeast(data, QSize());
}

namespace {

QImage decodePicture(const QByteArray &data, const QSize &atLeast, QString *error)
{
    ContextPtr ctx;
    HandlePtr handle;
    if (!openPrimary(data, ctx, handle, error))
        return {};
    if (!atLeast.isEmpty()) {
        // The container's own thumbnails: the smallest whose shorter side
        // covers the longer side asked for, whichever way the picture turns.
        const int need = std::max(atLeast.width(), atLeast.height());
        const int count = heif_image_handle_get_number_of_thumbnails(handle.get());
        std::vector<heif_item_id> ids(size_t(std::max(0, count)));
        if (count > 0)
            heif_image_handle_get_list_of_thumbnail_IDs(handle.get(), ids.data(), count);
        HandlePtr best;
        for (heif_item_id id : ids) {
            heif_image_handle *t = nullptr;
            if (heif_image_handle_get_thumbnail(handle.get(), id, &t).code != heif_error_Ok || !t)
                continue;
            HandlePtr thumb(t);
            const int side = std::min(heif_image_handle_get_width(t), heif_image_handle_get_height(t));
            if (side >= need && (!best || side < std::min(heif_image_handle_get_width(best.get()),
                                                          heif_image_handle_get_height(best.get()))))
                best = std::move(thumb);
        }
        if (best)
            handle = std::move(best);
    }
    const bool alpha = heif_image_handle_has_alpha_channel(handle.get());
    heif_image *raw = nullptr;
    const heif_error err =
        heif_decode_image(handle.get(), &raw, heif_colorspace_RGB, heif_chroma_interleaved_RGBA, nullptr);
    ImagePtr image(raw);
    if (err.code != heif_error_Ok || !image) {
        if (error)
            *error = QString::fromUtf8(err.message);
        return {};
    }
    const int w = heif_image_get_width(image.get(), heif_channel_interleaved);
    const int h = heif_image_get_height(image.get(), heif_channel_interleaved);
    int stride = 0;
    const uint8_t *plane = heif_image_get_plane_readonly(image.get(), heif_channel_interleaved, &stride);
    if (!plane || w <= 0 || h <= 0 || stride < w * 4) {
        if (error)
            *error = QStringLiteral("no picture data");
        return {};
    }
    // Wrap libheif's plane and convert once into our own buffer.
    const QImage view(plane, w, h, stride, alpha ? QImage::Format_RGBA8888 : QImage::Format_RGBX8888);
    QImage out = view.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    if (out.isNull() && error)
        *error = QStringLiteral("out of memory");
    return out;
}

} // namespace

Result<QImage> HeifDecoder::decodeAtLeast(const QByteArray &data, const QSize &atLeast)
{
    QString message;
    QImage image = decodePicture(data, atLeast, &message);
    if (image.isNull())
        return describedError(message);
    return image;
}

HeifDecoder::MetadataBlocks HeifDecoder::readMetadata(const QByteArray &data)
{
    MetadataBlocks blocks;
    ContextPtr ctx;
    HandlePtr handle;
    if (!openPrimary(data, ctx, handle, nullptr))
        return blocks;
    blocks.size = QSize(heif_image_handle_get_width(handle.get()), heif_image_handle_get_height(handle.get()));

    // The Exif item starts with the offset of the TIFF header.
    const QByteArray exif = metadataBlock(handle.get(), "Exif", nullptr);
    if (exif.size() > 4) {
        const quint32 offset = qFromBigEndian<quint32>(exif.constData());
        if (offset < quint32(exif.size() - 4))
            blocks.exif = exif.mid(4 + qsizetype(offset));
    }
    blocks.xmp = metadataBlock(handle.get(), "mime", "application/rdf+xml");

    const size_t iccSize = heif_image_handle_get_raw_color_profile_size(handle.get());
    if (iccSize > 0 && iccSize < (64u << 20)) {
        QByteArray icc(qsizetype(iccSize), Qt::Uninitialized);
        if (heif_image_handle_get_raw_color_profile(handle.get(), icc.data()).code == heif_error_Ok)
            blocks.icc = icc;
    }
    return blocks;
}

} // namespace platform
