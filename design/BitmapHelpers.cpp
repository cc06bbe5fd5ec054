#include "design/BitmapHelpers.h"

#include "platform/Log.h"
#include "platform/imaging/BitmapTransform.h"
#include "platform/imaging/ColorMatch.h"
#include "platform/imaging/PhotoRows.h"

#include <QPainter>

#include <cstdlib>
#include <cstring>

namespace VLW_vImage {

namespace {

constexpr std::size_t kPage = 4096;

QImage wrapBuffer(const Buffer &buffer, bool freeWithImage)
{
    if (!buffer.data || buffer.width == 0 || buffer.height == 0 || buffer.rowBytes < buffer.width * 4)
        return {};
    return QImage(static_cast<uchar *>(buffer.data), int(buffer.width), int(buffer.height), qsizetype(buffer.rowBytes),
                  QImage::Format_ARGB32_Premultiplied, freeWithImage ? QImageCleanupFunction(&std::free) : nullptr,
                  freeWithImage ? buffer.data : nullptr);
}

// A read-only view of part of a context, no copy.
QImage view(const Buffer &buffer)
{
    if (!buffer.data || buffer.width == 0 || buffer.height == 0)
        return {};
    return QImage(static_cast<const uchar *>(buffer.data), int(buffer.width), int(buffer.height),
                  qsizetype(buffer.rowBytes), QImage::Format_ARGB32_Premultiplied);
}

} // namespace

uint8_t vImageRotationForQuarterTurns(unsigned quarterTurns)
{
    if (quarterTurns >= 1 && quarterTurns <= 3)
        return uint8_t(4 - quarterTurns);
    return 0;
}

unsigned quarterTurnsForEXIFOrientation(int orientation)
{
    switch (orientation) {
    case 3:
        return 2;
    case 6:
        return 1;
    case 8:
        return 3;
    default:
        return 0;
    }
}

QRectF rectForImageSizeInRect(int scalingMode, int alignment, const QRectF &imageRect, const QRectF &container)
{
    const double iw = imageRect.width();
    const double ih = imageRect.height();
    const double cx = container.x();
    const double cy = container.y();
    const double cw = container.width();
    const double ch = container.height();
    double w = iw;
    double h = ih;
    if (scalingMode == ScaleToFill)
        return container;
    if (scalingMode == ScaleProportionally) {
        const double s = std::min(cw / iw, ch / ih);
        w = iw * s;
        h = ih * s;
    }
    double x = cx + (cw - w) / 2;
    double y = cy + (ch - h) / 2;
    switch (alignment) {
    case AlignTop:
        y = cy + ch - h;
        break;
    case AlignTopLeft:
        x = cx;
        y = cy + ch - h;
        break;
    case AlignTopRight:
        x = cx + cw - w;
        y = cy + ch - h;
        break;
    case AlignLeft:
        x = cx;
        break;
    case AlignBottom:
        y = cy;
        break;
    case AlignBottomLeft:
        x = cx;
        y = cy;
        break;
    case AlignBottomRight:
        x = cx + cw - w;
        y = cy;
        break;
    case AlignRight:
        x = cx + cw - w;
        break;
    default:
        break;
    }
    return QRectF(x, y, w, h);
}

void VLW_vImageFreeBitmapData(void *, void *data)
{
    std::free(data);
}

QImage VLW_vImageCreateBitmapContext(const QColorSpace &colorSpace, double width, double height)
{
    const int w = width > 0 ? int(width) : 0;
    const int h = height > 0 ? int(height) : 0;
    if (w <= 0 || h <= 0)
        return {};
    QImage image(w, h, QImage::Format_ARGB32_Premultiplied);
    if (image.isNull())
        return {};
    image.fill(Qt::transparent);
    image.setColorSpace(colorSpace.isValid() ? colorSpace : QColorSpace(QColorSpace::SRgb));
    return image;
}

std::ptrdiff_t VLW_vImageBufferFromContext(Buffer *buffer, QImage &context)
{
    buffer->data = context.isNull() ? nullptr : context.bits();
    buffer->height = std::size_t(std::max(0, context.height()));
    buffer->width = std::size_t(std::max(0, context.width()));
    buffer->rowBytes = std::size_t(context.bytesPerLine());
    return 0;
}

QImage VLW_vImageContextFromBuffer(const Buffer &buffer, const QColorSpace &colorSpace, std::ptrdiff_t *error)
{
    QImage image = wrapBuffer(buffer, true);
    if (image.isNull()) {
        if (error)
            *error = kInvalidImageFormatError;
        return {};
    }
    image.setColorSpace(colorSpace.isValid() ? colorSpace : QColorSpace(QColorSpace::SRgb));
    return image;
}

std::ptrdiff_t VLW_vImageBufferAlloc(Buffer *buffer, std::size_t height, std::size_t width, unsigned bitsPerPixel)
{
    buffer->height = height;
    buffer->width = width;
    buffer->rowBytes = (std::size_t(bitsPerPixel) * width) / 8;
    buffer->data = nullptr;
    const std::size_t bytes = buffer->rowBytes * height;
    if (bytes == 0 || (height != 0 && bytes / height != buffer->rowBytes))
        return kMemoryAllocationError;
    // aligned_alloc wants a size that is a multiple of the alignment.
    buffer->data = std::aligned_alloc(kPage, (bytes + kPage - 1) / kPage * kPage);
    return buffer->data ? 0 : kMemoryAllocationError;
}

QImage VLW_vImageRotateContext(const QImage &context, uint8_t rotationCode)
{
    if (rotationCode == 0 || context.isNull())
        return context;
    // Code 3 turns a quarter clockwise, code 1 three quarters.
    const int clockwiseTurns = rotationCode == 1 ? 3 : rotationCode == 3 ? 1 : 2;
    QImage rotated = platform::BitmapTransform::rotateClockwise(context, clockwiseTurns);
    if (rotated.isNull()) {
        platform::logLine(QStringLiteral("INIT ERROR: %1").arg(kMemoryAllocationError));
        return {};
    }
    rotated.setColorSpace(context.colorSpace());
    return rotated;
}

QImage VLW_vImageScaleBufferToContext(const Buffer &buffer, const QImage &reference, bool highQuality, double width,
                                      double height)
{
    const int w = width > 0 ? int(width) : 0;
    const int h = height > 0 ? int(height) : 0;
    const QImage source = view(buffer);
    if (w <= 0 || h <= 0 || source.isNull()) {
        platform::logLine(QStringLiteral("Scale ERROR: %1").arg(kInvalidImageFormatError));
        return {};
    }
    Q_UNUSED(highQuality); // one smooth resampling serves both qualities
    QImage scaled = platform::BitmapTransform::scaled(source, w, h);
    if (scaled.isNull()) {
        platform::logLine(QStringLiteral("INIT ERROR: %1").arg(kMemoryAllocationError));
        return {};
    }
    if (scaled.format() != QImage::Format_ARGB32_Premultiplied)
        scaled.convertTo(QImage::Format_ARGB32_Premultiplied);
    scaled.setColorSpace(reference.colorSpace());
    return scaled;
}

QImage VLW_vImageScaleContext(const QImage &context, bool highQuality, double width, double height)
{
    QImage c = context;
    Buffer buffer;
    buffer.data = const_cast<uchar *>(c.constBits());
    buffer.height = std::size_t(c.height());
    buffer.width = std::size_t(c.width());
    buffer.rowBytes = std::size_t(c.bytesPerLine());
    return VLW_vImageScaleBufferToContext(buffer, context, highQuality, width, height);
}

QImage VLW_vImageCreateRGBContextFromImage(const QImage &image)
{
    if (image.isNull())
        return {};
    // QColorSpace only describes RGB spaces here; anything else is drawn as sRGB.
    const QColorSpace srgb(QColorSpace::SRgb);
    const QColorSpace space = image.colorSpace().isValid() ? image.colorSpace() : srgb;
    // Qt takes grey profiles too: their pixels are matched into sRGB once, so
    // what is drawn around them, and the profile exported, are RGB.
    if (!platform::ColorMatch::isRgbProfile(space.iccProfile())) {
        if (!platform::PhotoRows::needAllOf(image))
            return {};
        QImage grey = image.format() == QImage::Format_ARGB32_Premultiplied
                          ? image.copy()
                          : image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
        if (grey.isNull())
            return {};
        grey.setColorSpace(space);
        grey.convertToColorSpace(srgb);
        return grey;
    }
    QImage out = image.format() == QImage::Format_ARGB32_Premultiplied
                     ? image
                     : image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    if (out.isNull())
        return {};
    out.setColorSpace(space);
    return out;
}

QImage VLW_vImageScaleContextRect(const QImage &context, bool highQuality, const QRectF &rect, double width,
                                  double height)
{
    Buffer buffer;
    buffer.data = const_cast<uchar *>(context.constBits());
    buffer.height = std::size_t(context.height());
    buffer.width = std::size_t(context.width());
    buffer.rowBytes = std::size_t(context.bytesPerLine());
    // Keep the narrowed part inside the context.
    QRectF r = rect.intersected(QRectF(0, 0, context.width(), context.height()));
    if (r.isEmpty())
        return {};
    VLW_vImageBufferCropToRect(&buffer, r);
    return VLW_vImageScaleBufferToContext(buffer, context, highQuality, width, height);
}

std::size_t VLW_vImageBufferCropToRect(Buffer *buffer, const QRectF &rect)
{
    buffer->height = rect.height() > 0 ? std::size_t(rect.height()) : 0;
    buffer->width = rect.width() > 0 ? std::size_t(rect.width()) : 0;
    const std::size_t x = rect.x() > 0 ? std::size_t(rect.x()) : 0;
    const std::size_t y = rect.y() > 0 ? std::size_t(rect.y()) : 0;
    const std::size_t offset = y * buffer->rowBytes + x * 4;
    buffer->data = static_cast<uchar *>(buffer->data) + offset;
    return offset;
}

} // namespace VLW_vImage
