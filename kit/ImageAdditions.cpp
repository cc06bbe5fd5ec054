#include "kit/ImageAdditions.h"

#include "platform/imaging/ImageDecoder.h"
#include "platform/render/DrawingContext.h"

#include <QBuffer>
#include <QSaveFile>
#include <QStringList>

#include <cmath>

namespace VLKit {

namespace {
// Where a picture keeps the point size it was made for.
const QString kSizeText = QStringLiteral("VLKit.size");
} // namespace

QImage newCGImage(const QImage &image)
{
    if (image.isNull())
        return {};
    QImage out = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    return out;
}

QImage newCGImageFromData(const QByteArray &data)
{
    return platform::ImageDecoder::decode(data).image;
}

QByteArray pngData(const QImage &image)
{
    if (image.isNull())
        return {};
    QByteArray out;
    QBuffer buffer(&out);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "PNG"))
        return {};
    return out;
}

QByteArray jpgDataWithCompression(const QImage &image, double factor)
{
    if (image.isNull())
        return {};
    QImage flat(image.size(), QImage::Format_RGB32);
    flat.fill(Qt::white);
    {
        QPainter p(&flat);
        p.drawImage(0, 0, image);
    }
    QByteArray out;
    QBuffer buffer(&out);
    buffer.open(QIODevice::WriteOnly);
    const int quality = int(std::lround(std::clamp(factor, 0.0, 1.0) * 100));
    if (!flat.save(&buffer, "JPEG", quality))
        return {};
    return out;
}

void saveAsPNGAtPath(const QImage &image, const QString &path)
{
    const QByteArray data = pngData(image);
    if (data.isEmpty())
        return;
    // A short write must not replace the old file: commit only what was flushed whole.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size() || !file.flush())
        return;
    file.commit();
}

QImage imageWithSize(const QSizeF &size, const QColorSpace &colorSpace, const std::function<void()> &drawingBlock)
{
    if (!colorSpace.isValid())
        return {};
    const int w = size.width() > 0 ? int(size.width()) : 0;
    const int h = size.height() > 0 ? int(size.height()) : 0;
    QImage image(std::max(w, 0), std::max(h, 0), QImage::Format_ARGB32_Premultiplied);
    if (!image.isNull()) {
        image.fill(Qt::transparent);
        image.setColorSpace(colorSpace);
        platform::DrawingContext context(image);
        context.saveGState();
        if (drawingBlock)
            drawingBlock();
        context.restoreGState();
    }
    image.setText(kSizeText, QStringLiteral("%1x%2").arg(size.width(), 0, 'g', 17).arg(size.height(), 0, 'g', 17));
    return image;
}

QSizeF size(const QImage &image)
{
    const QStringList parts = image.text(kSizeText).split(QLatin1Char('x'));
    if (parts.size() == 2) {
        bool okW = false;
        bool okH = false;
        const double w = parts[0].toDouble(&okW);
        const double h = parts[1].toDouble(&okH);
        if (okW && okH)
            return QSizeF(w, h);
    }
    return image.deviceIndependentSize();
}

QRectF vl_bounds(const QImage &image)
{
    return QRectF(QPointF(0, 0), size(image));
}

void drawCenteredOnPoint(const QImage &image, const QPointF &point, QPainter::CompositionMode operation,
                         double fraction)
{
    platform::DrawingContext *context = platform::DrawingContext::current();
    if (!context || image.isNull())
        return;
    const QSizeF s = size(image);
    const QRectF rect(point.x() - s.width() / 2, point.y() - s.height() / 2, s.width(), s.height());
    context->saveGState();
    context->setCompositionMode(operation);
    context->setOpacity(fraction);
    context->drawImage(rect, image);
    context->restoreGState();
}

} // namespace VLKit
