#include "platform/imaging/ImageDecoder.h"
#include "platform/imaging/JpegDecoder.h"

#include <QBuffer>
#include <QImage>
#include <QPainter>

#include <libheif/heif.h>

#include <cstring>

#include <gtest/gtest.h>

using platform::ImageDecoder;

namespace {

QImage quarters(int w, int h)
{
    QImage image(w, h, QImage::Format_RGB32);
    QPainter p(&image);
    p.fillRect(image.rect(), QColor(30, 60, 200));
    p.fillRect(QRect(0, 0, w / 2, h / 2), QColor(230, 40, 30));
    return image;
}

// A HEIC file of the picture with one thumbnail `thumbSide` on its longer side.
QByteArray heic(const QImage &picture, int thumbSide)
{
    heif_context *ctx = heif_context_alloc();
    heif_encoder *encoder = nullptr;
    heif_context_get_encoder_for_format(ctx, heif_compression_HEVC, &encoder);
    heif_image *image = nullptr;
    heif_image_create(picture.width(), picture.height(), heif_colorspace_RGB, heif_chroma_interleaved_RGB, &image);
    heif_image_add_plane(image, heif_channel_interleaved, picture.width(), picture.height(), 8);
    int stride = 0;
    uint8_t *plane = heif_image_get_plane(image, heif_channel_interleaved, &stride);
    const QImage rgb = picture.convertToFormat(QImage::Format_RGB888);
    for (int y = 0; y < rgb.height(); ++y)
        std::memcpy(plane + y * stride, rgb.constScanLine(y), size_t(rgb.width()) * 3);
    heif_image_handle *handle = nullptr;
    heif_context_encode_image(ctx, image, encoder, nullptr, &handle);
    heif_image_handle *thumb = nullptr;
    heif_context_encode_thumbnail(ctx, image, handle, encoder, nullptr, thumbSide, &thumb);
    QByteArray bytes;
    heif_writer writer{1, [](heif_context *, const void *data, size_t size, void *userdata) {
                           static_cast<QByteArray *>(userdata)->append(static_cast<const char *>(data), qsizetype(size));
                           return heif_error{heif_error_Ok, heif_suberror_Unspecified, ""};
                       }};
    heif_context_write(ctx, &writer, &bytes);
    heif_image_handle_release(thumb);
    heif_image_handle_release(handle);
    heif_image_release(image);
    heif_encoder_release(encoder);
    heif_context_free(ctx);
    return bytes;
}

} // namespace

TEST(ReducedDecode, JpegByEighthsAndHeifFromItsThumbnail)
{
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    ASSERT_TRUE(quarters(1600, 1200).save(&buffer, "JPEG", 90));
    EXPECT_EQ(platform::JpegDecoder::storedSize(jpeg), QSize(1600, 1200));
    // 300 x 200 needs 2/8: 400 x 300; nothing smaller than asked, never larger than the picture.
    ImageDecoder::Result small = ImageDecoder::decodeAtLeast(jpeg, QSize(300, 200));
    EXPECT_EQ(small.image.size(), QSize(400, 300));
    EXPECT_EQ(QColor(small.image.pixel(50, 50)).red() > 200, true);
    EXPECT_EQ(ImageDecoder::decodeAtLeast(jpeg, QSize(1500, 100)).image.size(), QSize(1600, 1200));
    EXPECT_EQ(ImageDecoder::decodeAtLeast(jpeg, QSize()).image.size(), QSize(1600, 1200));
    ImageDecoder::Result png = ImageDecoder::decodeAtLeast(
        [] { QByteArray b; QBuffer f(&b); f.open(QIODevice::WriteOnly); quarters(800, 600).save(&f, "PNG"); return b; }(),
        QSize(200, 150));
    EXPECT_EQ(png.image.size(), QSize(200, 150));

    if (!heif_have_encoder_for_format(heif_compression_HEVC))
        GTEST_SKIP() << "libheif has no HEVC encoder here";
    const QByteArray file = heic(quarters(640, 480), 160);
    ASSERT_FALSE(file.isEmpty());
    EXPECT_EQ(ImageDecoder::decode(file).image.size(), QSize(640, 480));
    const ImageDecoder::Result thumb = ImageDecoder::decodeAtLeast(file, QSize(100, 75));
    EXPECT_EQ(thumb.image.size(), QSize(160, 120));
    EXPECT_TRUE(thumb.orientationApplied);
    EXPECT_GT(QColor(thumb.image.pixel(20, 20)).red(), 180);
    EXPECT_EQ(ImageDecoder::decodeAtLeast(file, QSize(200, 150)).image.size(), QSize(640, 480));
}
