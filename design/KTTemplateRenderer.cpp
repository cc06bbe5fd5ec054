#include "design/KTTemplateRenderer.h"

#include "design/KTFrameLayer.h"
#include "design/KTImageLayer.h"
#include "design/KTLayer.h"
#include "design/KTTextOverlayLayer.h"
#include "design/KTPreparedPictureCache.h"
#include "design/KTProgressReportingDataProvider.h"
#include "design/VLImage.h"
#include "platform/Bundle.h"
#include "platform/Log.h"
#include "platform/TimingLog.h"
#include "platform/TypeTable.h"
#include "platform/codec/CodecErrors.h"
#include "platform/codec/ImageEncoder.h"
#include "platform/imaging/ColorMatch.h"
#include "platform/imaging/ImageBuffer.h"
#include "platform/imaging/ImageDecoder.h"
#include "platform/imaging/ImageProperties.h"
#include "platform/imaging/ParallelRows.h"
#include "platform/imaging/PhotoRows.h"
#include "platform/render/DrawingContext.h"
#include "platform/render/RenderBand.h"
#include "platform/render/ShadowCache.h"

#include <QPainter>
#include <QScopeGuard>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <vector>

namespace {

const QString kDPIWidthKey = QString::fromLatin1(platform::ImageProperty::kDPIWidth);

// The rows of a band, in a batch's worker, and at most in flight at once
// (writeInBandsToURL says why).
constexpr int kRows = 768;
constexpr int kWorkerRows = 128;
constexpr int kMostBandsInFlight = 3;
// Rows drawn past each end of a band and dropped: rows drawn right at a
// band's edge can come out a level apart from a whole drawing's; four
// rows keep them the same (eight did as well, at twice the cost).
constexpr int kPad = 4;

// The largest side wholePixelSize gives: a size there may stand for any larger one.
constexpr double kMostWholePixels = 1e9;

QString gigabytes(double bytes)
{
    const double gb = bytes / double(qint64(1) << 30);
    return QString::number(gb, 'f', gb < 100 ? 1 : 0) + QStringLiteral(" GB");
}

// Extends the rect outwards to whole coordinates.
QRectF integralRect(const QRectF &r)
{
    const double left = std::floor(r.x());
    const double bottom = std::floor(r.y());
    const double right = std::ceil(r.x() + r.width());
    const double top = std::ceil(r.y() + r.height());
    return QRectF(left, bottom, right - left, top - bottom);
}

} // namespace

bool KTTemplateRenderer::isUsableSize(double w, double h)
{
    return std::isfinite(w) && std::isfinite(h) && w > 0 && h > 0;
}

bool KTTemplateRenderer::isUsableRect(const QRectF &r)
{
    return std::isfinite(r.x()) && std::isfinite(r.y()) && isUsableSize(r.width(), r.height());
}

QRectF KTTemplateRenderer::finalRectFromStartRect(const KTTemplate &d, const QRectF &rect, bool withOuterShadow)
{
    QRectF r = rect;
    d.doFromInnerLayer([&](const LayerPtr &layer) {
        if (layer->hidden() && !KTTemplate::isImageLayer(layer.get()))
            return true;
        r = layer->resultingRectForRect(r);
        return true;
    });
    if (withOuterShadow && d.m_exportExternalShadow) {
        if (const auto frame = d.topmostFrameLayer(); frame && frame->shouldDrawShadow())
            r = frame->rectWithShadowForRect(r);
    }
    return r;
}

QRectF KTTemplateRenderer::finalRectFromStartRectForIcon(const KTTemplate &d, const QRectF &rect)
{
    QRectF r = rect;
    d.doFromInnerLayer([&](const LayerPtr &layer) {
        if (layer->hidden() || KTTemplate::isImageLayer(layer.get()))
            return true;
        r = layer->resultingRectForRect(r);
        return true;
    });
    return r;
}

QRectF KTTemplateRenderer::fittedImageRect(const KTTemplate &d, const QRectF &r, bool icon, bool withOuterShadow)
{
    if (!isUsableRect(r))
        return QRectF();
    if (!icon && d.m_exportMode) {
        if (const std::optional<QRectF> own = photoAtItsOwnPixels(d, r, withOuterShadow))
            return *own;
    }
    const QRectF f = icon ? d.finalRectFromStartRectForIcon(r) : d.finalRectFromStartRect(r, withOuterShadow);
    if (!isUsableRect(f))
        return QRectF();
    const double fit = std::min(r.width() / f.width(), r.height() / f.height());
    const double cover = std::max(r.width() / f.width(), r.height() / f.height());
    // A target within a pixel of the design's proportions is its size in
    // whole pixels (a side worked out from the other, or both rounded):
    // fitted inside, the design would leave part of a column or row at its
    // edge unpainted, which its layers' rounding can make a whole one.
    // Covered, only a sliver of its outer edge falls outside.
    const bool wholePixels = std::max(r.width() - f.width() * fit, r.height() - f.height() * fit) < 1
                             || std::max(f.width() * cover - r.width(), f.height() * cover - r.height()) < 1;
    const double s = !icon && wholePixels ? cover : fit;
    QRectF i(r.x() + r.width() * (1 - s) / 2, r.y() + r.height() * (1 - s) / 2, r.width() * s, r.height() * s);
    // Centre the framed design, not the photo, when layers grow unevenly.
    i.translate(((r.x() + r.width() / 2) - (f.x() + f.width() / 2)) * s,
                ((r.y() + r.height() / 2) - (f.y() + f.height() / 2)) * s);
    if (icon)
        i = integralRect(i);
    return i;
}

std::optional<QRectF> KTTemplateRenderer::photoAtItsOwnPixels(const KTTemplate &d, const QRectF &r,
                                                              bool withOuterShadow)
{
    const auto photo = d.photoLayer();
    if (!photo || !photo->image())
        return std::nullopt;
    const QSizeF own = photo->croppedRect().size();
    if (!isUsableSize(own.width(), own.height()))
        return std::nullopt;
    // The design laid out round the photo at its own pixels: a picture of
    // that size in whole pixels is at most half a pixel off it each way.
    const QRectF f = d.finalRectFromStartRect(QRectF(QPointF(0, 0), own), withOuterShadow);
    if (!isUsableRect(f) || std::abs(f.width() - r.width()) > 0.5 || std::abs(f.height() - r.height()) > 0.5)
        return std::nullopt;
    // Centred, then moved onto whole pixels as far as the design's outer
    // edges stay within reach of the picture's: each layer rounds its own
    // edges to the nearest pixel, so the borders take up the fraction and
    // every pixel is still painted. Off a half, the photo's edges and a
    // mat's window round alike.
    constexpr double kReach = 0.45;
    const auto place = [](double start, double length, double framedStart, double framedLength) {
        const double centred = start + (length - framedLength) / 2 - framedStart;
        const double room = kReach - std::abs(length - framedLength) / 2;
        return centred + std::clamp(std::round(centred) - centred, -room, room);
    };
    return QRectF(place(r.x(), r.width(), f.x(), f.width()), place(r.y(), r.height(), f.y(), f.height()), own.width(),
                  own.height());
}

QRectF KTTemplateRenderer::finalFramedRectFittingStartRect(const KTTemplate &d, const QRectF &r)
{
    if (!isUsableRect(r))
        return QRectF();
    const QRectF f = d.finalRectFromStartRect(r, false);
    if (!isUsableRect(f))
        return QRectF();
    const double s = std::min(r.width() / f.width(), r.height() / f.height());
    const QRectF i(r.x() + r.width() * (1 - s) / 2, r.y() + r.height() * (1 - s) / 2, r.width() * s, r.height() * s);
    return d.finalRectFromStartRect(i, false);
}

KTTemplate::LayerPtr KTTemplateRenderer::deselectFirstSelectedLayer(KTTemplate &d)
{
    LayerPtr selected;
    d.doFromInnerLayer([&](const LayerPtr &layer) {
        if (!layer->isSelected())
            return true;
        selected = layer;
        layer->setIsSelected(false);
        return false;
    });
    return selected;
}

void KTTemplateRenderer::drawToRect(KTTemplate &d, const QRectF &rect, bool highQuality, bool skipCache,
                                    const ProgressCancelBlock &progressCancel, bool withOuterShadow)
{
    QRectF i = fittedImageRect(d, rect, false, withOuterShadow);
    if (i.isNull())
        return;
    d.m_isDrawing = true;
    const auto drawing = qScopeGuard([&d] { d.m_isDrawing = false; });

    const LayerPtr selected = d.m_exportMode ? deselectFirstSelectedLayer(d) : nullptr;
    const KTTemplate::LayerList snapshot = d.m_layers;
    const unsigned total = unsigned(snapshot.size());
    unsigned counter = 0;
    const bool hqLimited = d.m_onlyHQIsDesign || d.m_onlyHQLayer;
    for (qsizetype n = snapshot.size() - 1; n >= 0; --n) {
        const LayerPtr &layer = snapshot.at(n);
        const bool photo = KTTemplate::isImageLayer(layer.get());
        if (layer->hidden() || (photo && d.m_photoLeftOut)) {
            if (photo)
                i = layer->resultingRectForRect(i);
        } else {
            bool q = highQuality;
            if (!d.m_exportMode && hqLimited)
                q = highQuality && !d.m_onlyHQIsDesign && layer == d.m_onlyHQLayer;
            layer->drawLayerForRect(i, q, skipCache);
            i = layer->resultingRectForRect(i);
        }
        ++counter;
        if (progressCancel && progressCancel(counter, total))
            break;
    }
    if (selected)
        selected->setIsSelected(true);
    if (!d.m_exportMode && hqLimited) {
        d.clearOnlyHQLayer();
        d.scheduleForcedRedraw();
    }
}

void KTTemplateRenderer::drawIconToRect(KTTemplate &d, const QRectF &rect)
{
    QRectF i = fittedImageRect(d, rect, true, false);
    if (i.isNull())
        return;
    d.m_isDrawing = true;
    const auto drawing = qScopeGuard([&d] { d.m_isDrawing = false; });

    bool fill = true;
    d.doFromInnerLayer([&](const LayerPtr &layer) {
        const auto *frame = qobject_cast<const KTFrameLayer *>(layer.get());
        if (!frame || layer->hidden())
            return true;
        if (!frame->actAsMask()) {
            fill = false;
            return false;
        }
        return true;
    });
    const LayerPtr selected = deselectFirstSelectedLayer(d);
    if (fill) {
        if (platform::DrawingContext *ctx = platform::DrawingContext::current())
            ctx->fillRect(i, Qt::white);
    }
    d.doFromInnerLayer([&](const LayerPtr &layer) {
        if (layer->hidden() || KTTemplate::isImageLayer(layer.get()))
            return true;
        layer->drawLayerForRect(i, false, false);
        i = layer->resultingRectForRect(i);
        return true;
    });
    if (selected)
        selected->setIsSelected(true);
}

QImage KTTemplateRenderer::iconOfSize(KTTemplate &d, const QSizeF &size, bool withImageLayer)
{
    if (!isUsableSize(size.width(), size.height()))
        return QImage();
    QSizeF imageSize = size;
    if (withImageLayer)
        imageSize = d.finalFramedRectFittingStartRect(QRectF(QPointF(0, 0), size)).size();
    if (!isUsableSize(imageSize.width(), imageSize.height()))
        return QImage();
    const int w = std::max(1, int(std::lround(imageSize.width())));
    const int h = std::max(1, int(std::lround(imageSize.height())));
    QImage image(w, h, QImage::Format_ARGB32_Premultiplied);
    if (image.isNull())
        return QImage();
    image.fill(Qt::transparent);
    const bool wasExporting = d.m_exportMode;
    d.m_exportMode = true;
    {
        platform::DrawingContext ctx(image);
        if (withImageLayer)
            d.drawToRect(QRectF(0, 0, w, h), false, false, nullptr, false);
        else
            d.drawIconToRect(QRectF(0, 0, w, h));
    }
    d.m_exportMode = wasExporting;
    return image;
}

QSizeF KTTemplateRenderer::originalImageSize(const KTTemplate &d)
{
    const auto layer = d.photoLayer();
    if (!layer || !layer->image())
        return QSizeF();
    return layer->image()->originalSize();
}

QSizeF KTTemplateRenderer::sizeOfPreFramedImage(const KTTemplate &d)
{
    const auto layer = d.photoLayer();
    if (!layer || !layer->image())
        return QSizeF();
    return layer->image()->croppedSizeFromSize(d.originalImageSize());
}

void KTTemplateRenderer::cropToFitToLockedAspectRatio(KTTemplate &d)
{
    const auto layer = d.photoLayer();
    if (!layer || !layer->image())
        return;
    const QSizeF original = d.originalImageSize();
    const double w = original.width();
    const double h = original.height();
    double r = d.m_lockedAspectRatio;
    // No ratio, or none that a crop can reach: leave the crop alone.
    if (!isUsableSize(w, h) || !(r > 0) || !std::isfinite(r))
        return;
    const QPointF centre = layer->centerPoint();
    const double saved[4] = {layer->cropLeft(), layer->cropTop(), layer->cropRight(), layer->cropBottom()};
    layer->resetCropSetting();
    // The layers' growth is measured around the uncropped photo.
    const QRectF f = d.finalRectFromStartRect(QRectF(0, 0, w, h), true);
    double x = 0;
    if (isUsableRect(f)) {
        const double m = std::min(w, h);
        const double big = std::max(w, h);
        const double a = std::min(f.width(), f.height()) / m - 1;
        const double b = (std::max(f.width(), f.height()) - big) / m;
        if (d.preCroppedAspectRatio() < 1)
            r = 1 / r;
        x = r >= 1 ? (a + 1) * r - b : r / (b + 1 - a * r);
    }
    if (!(x > 0) || !std::isfinite(x)) {
        // No crop reaches the ratio: put the crop back as it was.
        layer->setCropLeft(saved[0]);
        layer->setCropTop(saved[1]);
        layer->setCropRight(saved[2]);
        layer->setCropBottom(saved[3]);
        return;
    }
    layer->cropToAspectRatio(x, centre);
}


double KTTemplateRenderer::preCroppedAspectRatio(const KTTemplate &d)
{
    const QSizeF size = d.originalImageSize();
    if (!isUsableSize(size.width(), size.height()))
        return 0;
    return size.width() / size.height();
}

QSizeF KTTemplateRenderer::sizeOfPreFramedImageForWidth(const KTTemplate &d, double width)
{
    const QSizeF pre = d.sizeOfPreFramedImage();
    if (!isUsableSize(pre.width(), pre.height()) || !std::isfinite(width))
        return QSizeF();
    return QSizeF(width, pre.height() * width / pre.width());
}

QSizeF KTTemplateRenderer::sizeFromOriginalWithOuterShadow(const KTTemplate &d, bool withOuterShadow)
{
    const QSizeF pre = d.sizeOfPreFramedImage();
    if (!isUsableSize(pre.width(), pre.height()))
        return QSizeF();
    return d.finalRectFromStartRect(QRectF(QPointF(0, 0), pre), withOuterShadow).size();
}

QSize KTTemplateRenderer::wholePixelSize(const QSizeF &size)
{
    const double w = size.width();
    const double h = size.height();
    if (!(w > 0) || !(h > 0) || !std::isfinite(w) || !std::isfinite(h))
        return {};
    const auto whole = [](double v) { return int(std::clamp(std::round(v), 1.0, kMostWholePixels)); };
    return QSize(whole(w), whole(h));
}

QSizeF KTTemplateRenderer::exportSizeFromPreferencesWithLastDrawnSize(const KTTemplate &d, const QSizeF &lastDrawnSize,
                                                                     const KTExportSizeSettings &settings)
{
    auto ratio = [&d] {
        const QSizeF pre = d.sizeOfPreFramedImage();
        if (!isUsableSize(pre.width(), pre.height()))
            return 0.0;
        const QRectF framed = d.finalRectFromStartRect(QRectF(QPointF(0, 0), pre), true);
        return isUsableRect(framed) ? framed.width() / framed.height() : 0.0;
    };
    switch (settings.mode) {
    case KTExportSizeSettings::DesignSize:
        return QSizeF(d.framedPixelSize());
    case KTExportSizeSettings::LastDrawnSize:
        return lastDrawnSize;
    case KTExportSizeSettings::FixedHeight: {
        const double h = double(settings.fixHeight);
        return QSizeF(h * ratio(), h);
    }
    case KTExportSizeSettings::FixedWidth: {
        const double w = double(settings.fixWidth);
        const double q = ratio();
        return q > 0 ? QSizeF(w, w / q) : QSizeF();
    }
    default:
        return QSizeF(double(settings.fixWidth2), double(settings.fixHeight2));
    }
}

QColorSpace KTTemplateRenderer::colorSpace(const KTTemplate &d)
{
    const auto layer = d.photoLayer();
    return layer && layer->image() ? layer->image()->colorSpace() : QColorSpace();
}

QColorSpace KTTemplateRenderer::copyColorSpaceForOutput(const KTTemplate &d)
{
    const auto layer = d.photoLayer();
    return layer && layer->image() ? layer->image()->copyColorSpaceForExport() : QColorSpace(QColorSpace::SRgb);
}

std::optional<QSize> KTTemplateRenderer::pixelSizeFor(const QSizeF &size, platform::Error *error)
{
    const double fw = std::floor(size.width());
    const double fh = std::floor(size.height());
    // A QImage row must fit an int of bytes; anything beyond is no picture we can make.
    if (!std::isfinite(fw) || !std::isfinite(fh) || fw < 1 || fh < 1 || fw > 500000000.0 || fh > 500000000.0) {
        if (error) {
            error->domain = QString::fromLatin1(platform::kKanteloErrorDomain);
            error->code = 1;
            error->description = QStringLiteral("A picture of %1 × %2 pixels can't be made.").arg(size.width()).arg(size.height());
        }
        return std::nullopt;
    }
    return QSize(int(fw), int(fh));
}

void KTTemplateRenderer::setMemoryError(qint64 bytes, platform::Error *error)
{
    // Told to the caller: a worker never raises an alert itself.
    const QString text = QString::fromLatin1(kCouldNotAllocateText).arg(bytes);
    platform::logLine(QStringLiteral("ERROR: %1: %2").arg(QString::fromLatin1(kMemoryAllocationErrorText), text));
    if (error) {
        error->domain = QString::fromLatin1(platform::kKanteloErrorDomain);
        error->code = 1;
        error->description = QString::fromLatin1(kMemoryAllocationErrorText);
        error->recoverySuggestion = text;
    }
}

QImage KTTemplateRenderer::newCGBitmapContextOfSize(KTTemplate &d, const QSizeF &size, const ProgressCancelBlock &progressCancel,
                                                    platform::Error *error)
{
    platform::TimingLog::mark("render");
    const std::optional<QSize> pixels = pixelSizeFor(size, error);
    if (!pixels)
        return QImage();
    const int w = pixels->width();
    const int h = pixels->height();
    QImage bitmap;
    if (qint64(w) * 4 <= std::numeric_limits<int>::max()) {
        try {
            bitmap = platform::ImageBuffer::allocate(w, h);
        } catch (const std::bad_alloc &) {
            bitmap = QImage();
        }
    }
    if (bitmap.isNull()) {
        setMemoryError(qint64(w) * 4 * qint64(h), error);
        return QImage();
    }
    // Zeroing first touches every page: spread it over the cores.
    uchar *bits = bitmap.bits();
    const qsizetype bpl = bitmap.bytesPerLine();
    platform::parallelRows(h, qint64(w) * h, [bits, bpl](int first, int end) {
        std::memset(bits + bpl * first, 0, size_t(bpl) * size_t(end - first));
    });
    bitmap.setColorSpace(d.copyColorSpaceForOutput());
    {
        platform::DrawingContext context(bitmap);
        d.drawToRect(QRectF(0, 0, w, h), true, true, progressCancel, true);
    }
    platform::TimingLog::mark("rendered");
    return bitmap;
}

KTTemplate::DataProvidedImage KTTemplateRenderer::newDataProvidedCGImageOfSize(KTTemplate &d, const QSizeF &size,
                                                                               const ProgressBlock &progress,
                                                                               const CancelBlock &cancel,
                                                                               platform::Error *error)
{
    QImage bitmap = d.newCGBitmapContextOfSize(
        size,
        [&d, &progress, &cancel](unsigned done, unsigned total) {
            if (progress && total > 0)
                progress(&d, double(done) / double(total) * 100.0 * 0.5);
            return cancel ? cancel(&d) : false;
        },
        error);
    if (bitmap.isNull()) {
        platform::logLine(QString::fromLatin1(kBitmapContextNullText)
                              .arg(QStringLiteral("{%1, %2}").arg(size.width()).arg(size.height())));
        return nullptr;
    }
    ProgressBlock second;
    if (progress)
        second = [progress](KTTemplate *sender, double p) { progress(sender, 50.0 + p * 0.5); };
    return KTCreateProgressReportingDataProvider(std::move(bitmap), &d, std::move(second), cancel);
}

QImage KTTemplateRenderer::imageWithSize(KTTemplate &d, const QSizeF &size)
{
    return d.newCGBitmapContextOfSize(size, nullptr);
}

platform::ExportMetadata KTTemplateRenderer::prepareMetadataForExport(const KTTemplate &d, const QSize &pixelSize)
{
    std::optional<double> dpi;
    const QVariant v = d.exportMetadataForKey(kDPIWidthKey);
    bool ok = false;
    const double value = v.toDouble(&ok);
    if (v.isValid() && ok)
        dpi = value;
    platform::ExportMetadata metadata =
        platform::ExportMetadata::prepare(d.originalMetadata(), dpi, pixelSize, platform::Bundle::shortVersionString());
    // The profile says what the pixels are: a photo's grey or CMYK profile
    // gives way to the RGB space the picture was drawn in.
    if (!metadata.iccProfile().isEmpty() && !platform::ColorMatch::isRgbProfile(metadata.iccProfile()))
        metadata.setIccProfile(d.copyColorSpaceForOutput().iccProfile());
    return metadata;
}

std::optional<QByteArray> KTTemplateRenderer::newDataOfUti(const KTTemplate &d, const QString &uti, const DataProvidedImage &image,
                                                           platform::Error *error)
{
    if (!image) {
        platform::codecError(error, platform::CodecError::EmptyImage, QStringLiteral("There is no picture to write."));
        return std::nullopt;
    }
    const QImage &bitmap = image->bitmap();
    return platform::ImageEncoder::encodeToData(
        bitmap, uti, d.prepareMetadataForExport(bitmap.size()), d.exportQuality(), error,
        [provider = image.get()](qint64 read, qint64 all) { return provider->readRows(read, all); });
}

bool KTTemplateRenderer::writeToURL(const KTTemplate &d, const QUrl &url, const QString &uti, const DataProvidedImage &image,
                                    platform::Error *error)
{
    if (!image) {
        platform::codecError(error, platform::CodecError::EmptyImage, QStringLiteral("There is no picture to write."));
        return false;
    }
    if (!url.isLocalFile()) {
        platform::codecError(error, platform::CodecError::WriteFailed,
                             QStringLiteral("“%1” is not a file on this computer.").arg(url.toString()));
        return false;
    }
    // Straight from the pixels into the file: no encoded copy in memory.
    const QImage &bitmap = image->bitmap();
    const bool written = platform::ImageEncoder::writeToFile(
        url.toLocalFile(), bitmap, uti, d.prepareMetadataForExport(bitmap.size()), d.exportQuality(), error,
        [provider = image.get()](qint64 read, qint64 all) { return provider->readRows(read, all); });
    platform::TimingLog::mark("encoded");
    return written;
}

QRect KTTemplateRenderer::drawBandOfSize(KTTemplate &d, const QSize &size, int first, QImage &band,
                                         const ProgressCancelBlock &progressCancel)
{
    if (band.isNull() || size.isEmpty())
        return QRect();
    // Only what the photo leaves to the other layers is cleared: it draws
    // over the rest first, whatever lies there. Zeroing first touches every
    // page: spread it over the cores.
    const QRect photo = opaquePhotoPixels(d, size).translated(0, -first).intersected(band.rect());
    uchar *bits = band.bits();
    const qsizetype bpl = band.bytesPerLine();
    platform::parallelRows(band.height(), qint64(band.width()) * band.height(), [bits, bpl, photo](int from, int end) {
        if (photo.isEmpty() || from > photo.bottom() || end <= photo.top()) {
            std::memset(bits + bpl * from, 0, size_t(bpl) * size_t(end - from));
            return;
        }
        const qsizetype left = qsizetype(photo.left()) * 4;
        const qsizetype right = qsizetype(photo.right() + 1) * 4;
        for (int y = from; y < end; ++y) {
            uchar *row = bits + bpl * y;
            if (y < photo.top() || y > photo.bottom()) {
                std::memset(row, 0, size_t(bpl));
            } else {
                std::memset(row, 0, size_t(left));
                std::memset(row + right, 0, size_t(bpl - right));
            }
        }
    });
    QPainter painter(&band);
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
    painter.translate(0, -first);
    const platform::RenderBand window(&band, first, size.width(), size.height());
    platform::DrawingContext context(painter, size.height());
    // Drawn in the photo's colour space, as the whole picture is.
    context.setColorMatch(platform::ColorMatch::forTarget(d.copyColorSpaceForOutput()));
    d.drawToRect(QRectF(0, 0, size.width(), size.height()), true, true, progressCancel, true);
    // Source-over keeps opaque pixels opaque; an eraser (a frame acting as a
    // mask) or any other mode may not.
    return context.usedOtherModes() ? QRect() : photo;
}

QRect KTTemplateRenderer::opaquePhotoPixels(const KTTemplate &d, const QSize &size)
{
    // The innermost layer is drawn first.
    if (d.m_layers.isEmpty() || size.isEmpty())
        return QRect();
    const auto *photo = qobject_cast<const KTImageLayer *>(d.m_layers.last().get());
    if (!photo || photo->hidden() || d.m_photoLeftOut || !photo->image() || !photo->image()->drawsOpaque())
        return QRect();
    const QRectF i = fittedImageRect(d, QRectF(0, 0, size.width(), size.height()), false, true);
    if (i.isNull())
        return QRect();
    // Drawn y up onto whole pixels; a pixel less each side for the edges' smoothing.
    const QRectF r = photo->drawnRectForRect(i);
    const QRect canvas(int(r.x()), size.height() - int(r.y() + r.height()), int(r.width()), int(r.height()));
    return canvas.adjusted(1, 1, -1, -1).intersected(QRect(QPoint(0, 0), size));
}

std::optional<int> KTTemplateRenderer::coveredDepth(const KTTemplate &d, const QSize &photo, bool *framed)
{
    *framed = false;
    // The design round a blank photo of that size, drawn without it: what
    // the layers paint over the photo is what hides it.
    const std::shared_ptr<KTTemplate> probe = d.copyForRendering();
    const auto layer = probe->photoLayer();
    QImage blank(photo, QImage::Format_ARGB32_Premultiplied);
    if (!layer || blank.isNull())
        return std::nullopt;
    blank.fill(Qt::white);
    layer->setImage(VLImage::initWithBitmapContext(blank));
    layer->resetCropSetting();
    probe->m_exportMode = true;
    probe->m_photoLeftOut = true;
    const QSize size = probe->framedPixelSize();
    *framed = size != photo;
    QImage canvas(size, QImage::Format_ARGB32_Premultiplied);
    if (canvas.isNull())
        return std::nullopt;
    canvas.fill(Qt::transparent);
    {
        platform::DrawingContext context(canvas);
        probe->drawToRect(QRectF(QPointF(0, 0), QSizeF(size)), true, true, nullptr, true);
    }
    const QRectF r = layer->drawnRectForRect(fittedImageRect(*probe, QRectF(QPointF(0, 0), QSizeF(size)), false, true));
    const QRect area = QRect(int(r.x()), size.height() - int(r.y() + r.height()), int(r.width()), int(r.height()))
                           .intersected(canvas.rect());
    // The least inset inside which nothing covers more than half a pixel
    // (a shadow falling on the photo leaves it seen).
    const auto clear = [&canvas](const QRect &inside) {
        for (int y = inside.top(); y <= inside.bottom(); ++y) {
            const auto *row = reinterpret_cast<const QRgb *>(canvas.constScanLine(y));
            for (int x = inside.left(); x <= inside.right(); ++x) {
                if (qAlpha(row[x]) >= 128)
                    return false;
            }
        }
        return true;
    };
    for (int k = 0; 2 * k < std::min(area.width(), area.height()); ++k) {
        if (clear(area.adjusted(k, k, -k, -k)))
            return k;
    }
    return std::nullopt;
}

std::optional<QSize> KTTemplateRenderer::leastPhotoSizeShown(const KTTemplate &d)
{
    // Layers grow with the photo, but for their least widths and their
    // rounding to whole pixels: a photo whose shorter side reaches this is
    // shown as every larger one is, which is what a smaller one is held to
    // (its layers covering it no deeper in proportion, give or take a pixel).
    constexpr int kShownSide = 512;
    const auto layer = d.photoLayer();
    if (!layer || !layer->image() || layer->hidden())
        return std::nullopt;
    const QSize own = layer->croppedRect().size().toSize();
    const int shorter = std::min(own.width(), own.height());
    if (own.isEmpty() || shorter >= kShownSide)
        return std::nullopt;
    const auto proportional = [&own, shorter](int side) {
        const double scale = double(side) / shorter;
        return QSize(std::max(1, int(std::lround(own.width() * scale))),
                     std::max(1, int(std::lround(own.height() * scale))));
    };
    bool framedThen = false;
    const std::optional<int> shown = coveredDepth(d, proportional(kShownSide), &framedThen);
    // A design that hides any photo is none of this check's business.
    if (!shown)
        return std::nullopt;
    // A design whose borders round away to nothing shows no frame at all.
    const auto showsSide = [&](int side) {
        bool framed = false;
        const std::optional<int> depth = coveredDepth(d, proportional(side), &framed);
        return depth && *depth <= double(*shown) * side / kShownSide + 1 && framed == framedThen;
    };
    if (showsSide(shorter))
        return std::nullopt;
    int low = shorter;
    int high = kShownSide;
    while (high - low > 1) {
        const int middle = (low + high) / 2;
        (showsSide(middle) ? high : low) = middle;
    }
    return proportional(high);
}

QString KTTemplateRenderer::reasonNotToDraw(const KTTemplate &d, const QSize &size, bool inBands)
{
    if (size.isEmpty())
        return QString();
    // The rows held at once, whole or a few bands of them, and a shadow's
    // group as large again.
    const int bandRows = platform::rowsRunSerially() ? kWorkerRows : kRows;
    const double rows =
        inBands ? double(std::min(size.height(), bandRows) + 2 * kPad) * kMostBandsInFlight : double(size.height());
    const double needed = 4.0 * size.width() * rows * 2;
    const qint64 memory = platform::ImageDecoder::machineMemory();
    if (size.width() >= kMostWholePixels || size.height() >= kMostWholePixels)
        return QStringLiteral("it frames the photo into a picture of more than %1 pixels a side, far more than any "
                              "memory holds")
            .arg(kMostWholePixels, 0, 'f', 0);
    if (needed > double(memory))
        return QStringLiteral("it frames the photo into a picture of %1 \u00d7 %2 pixels, which needs about %3 of "
                              "memory to draw, more than the %4 Kantelo can have now")
            .arg(size.width())
            .arg(size.height())
            .arg(gigabytes(needed), gigabytes(double(memory)));

    qsizetype characters = 0;
    qsizetype lineBreaks = 0;
    for (const LayerPtr &layer : d.m_layers) {
        const auto *text = qobject_cast<const KTTextOverlayLayer *>(layer.get());
        if (!text || text->hidden())
            continue;
        qsizetype breaks = 0;
        characters += text->filledLength(KTTemplate::kMaxDrawnTextLength - characters, &breaks);
        lineBreaks += breaks;
        if (characters > KTTemplate::kMaxDrawnTextLength)
            return QStringLiteral("its texts hold more than the %1 characters a design may draw, once their "
                                  "placeholders are filled from the photo")
                .arg(KTTemplate::kMaxDrawnTextLength);
        if (lineBreaks > KTTemplate::kMaxDrawnTextLines)
            return QStringLiteral("its texts hold more than the %1 line breaks a design may draw, once their "
                                  "placeholders are filled from the photo")
                .arg(KTTemplate::kMaxDrawnTextLines);
    }

    // Each shadow is worked out over the area it may fall on, as drawToRect
    // walks the layers.
    const QRectF canvas(0, 0, size.width(), size.height());
    QRectF i = fittedImageRect(d, canvas, false, true);
    double shadowed = 0;
    for (qsizetype n = d.m_layers.size() - 1; n >= 0 && !i.isNull(); --n) {
        const LayerPtr &layer = d.m_layers.at(n);
        if (layer->hidden() && !KTTemplate::isImageLayer(layer.get()))
            continue;
        const QRectF outer = layer->resultingRectForRect(i);
        const auto *frame = qobject_cast<const KTFrameLayer *>(layer.get());
        if (frame && !layer->hidden() && frame->shouldDrawShadow()) {
            const QRectF falls = frame->rectWithShadowForRect(outer).intersected(canvas);
            shadowed += falls.width() * falls.height() / (canvas.width() * canvas.height());
        }
        i = outer;
    }
    if (shadowed > KTTemplate::kMaxShadowedArea)
        return QStringLiteral("its layers' shadows would be worked out over %1 times the picture's area, more than "
                              "the %2 times a design's may; turn some of them off")
            .arg(std::ceil(shadowed))
            .arg(KTTemplate::kMaxShadowedArea);
    return QString();
}

bool KTTemplateRenderer::writeInBandsToURL(KTTemplate &d, const QUrl &url, const QString &uti, const QSizeF &size,
                                           const ProgressBlock &progress, const CancelBlock &cancel,
                                           platform::Error *error, int bandRows)
{
    if (!url.isLocalFile()) {
        platform::codecError(error, platform::CodecError::WriteFailed,
                             QStringLiteral("“%1” is not a file on this computer.").arg(url.toString()));
        return false;
    }
    platform::TimingLog::mark("render");
    const std::optional<QSize> pixels = pixelSizeFor(size, error);
    if (!pixels)
        return false;
    const int w = pixels->width();
    const int h = pixels->height();
    // Bands tall enough that the rows a shadow needs around each stay a
    // small share; a band is encoded more slowly than it is drawn, so
    // three are in flight, two of them encoding while the next is drawn. A
    // JPEG band is encoded in strips on every core (outside a batch's
    // worker): two, one encoding while the next is drawn. A batch worker has
    // no core to spare for a second encoding: two as well, and a third less
    // memory for every file in flight. Its bands are shorter: a file per
    // core holds far less, for a little more time (its shadows are mostly
    // found in the run's cache, so a band's own cost is small).
    const int rows = bandRows > 0 ? (bandRows + 15) / 16 * 16 : platform::rowsRunSerially() ? kWorkerRows : kRows;
    const int inFlight =
        uti == QLatin1String(platform::TypeTable::kJPEG) || platform::rowsRunSerially() ? 2 : kMostBandsInFlight;
    // The bands' buffers in one block: large enough to be kept for the next
    // file of a batch, already faulted in.
    QImage store;
    uchar *base = nullptr;
    const int slotRows = std::min(rows, h) + 2 * kPad;
    const int slotCount = std::min(inFlight, (h + rows - 1) / rows);
    qint64 rendered = 0;
    qint64 encoded = 0;
    bool failed = false;
    platform::Error failure;
    double told = 0;
    const auto tell = [&] {
        // A format that draws the bands again starts its count over: the bar does not.
        const double done = 50.0 * double(rendered + encoded) / double(h);
        if (progress && done > told) {
            told = done;
            progress(&d, done);
        }
    };
    int index = 0;
    platform::PictureBands bands;
    bands.size = *pixels;
    bands.rows = rows;
    bands.inFlight = inFlight;
    // Only an outer shadow leaves less than opaque pixels as a rule.
    const auto frame = d.topmostFrameLayer();
    bands.transparent = d.exportExternalShadow() && frame && frame->shouldDrawShadow();
    // A photo decoded as it is drawn holds only the rows near the band.
    const auto photo = d.photoLayer();
    const std::shared_ptr<platform::PhotoRows> photoRows =
        photo && photo->image() ? photo->image()->rowsAsDrawn() : nullptr;
    // The last band's pixels known to be opaque, in picture coordinates.
    QRect opaque;
    bands.opaque = [&opaque] { return opaque; };
    bands.band = [&](int first, int count) -> QImage {
        opaque = QRect();
        if (cancel && cancel(&d))
            return QImage();
        if (first == 0) {
            rendered = 0;
            encoded = 0;
        }
        const int top = std::max(0, first - kPad);
        const int end = std::min(h, first + count + kPad);
        if (store.isNull()) {
            try {
                if (qint64(w) * 4 <= std::numeric_limits<int>::max())
                    store = platform::ImageBuffer::allocate(w, slotRows * slotCount);
            } catch (const std::bad_alloc &) {
                store = QImage();
            }
            if (store.isNull()) {
                setMemoryError(qint64(w) * 4 * slotRows * slotCount, &failure);
                failed = true;
                return QImage();
            }
            base = store.bits();
        }
        const qsizetype bpl = store.bytesPerLine();
        uchar *slot = base + bpl * slotRows * (index++ % slotCount);
        QImage view(slot, w, end - top, bpl, store.format());
        bool stopped = false;
        if (photoRows)
            photoRows->beginBand();
        opaque = drawBandOfSize(d, *pixels, top, view, [&](unsigned, unsigned) {
            stopped = cancel && cancel(&d);
            return stopped;
        });
        if (stopped)
            return QImage();
        opaque.translate(0, top);
        if (photoRows && photoRows->failed()) {
            platform::codecError(&failure, platform::CodecError::EmptyImage,
                                 QString::fromLatin1(kPhotoUnreadableText));
            failed = true;
            return QImage();
        }
        rendered += count;
        tell();
        if (first + count >= h)
            platform::TimingLog::mark("rendered");
        return QImage(slot + qsizetype(first - top) * bpl, w, count, bpl, store.format());
    };
    const auto hook = [&](qint64 rowsRead, qint64) {
        encoded = rowsRead;
        tell();
        return !(cancel && cancel(&d));
    };
    platform::Error written;
    bool ok = false;
    // Pictures turned, filtered or scaled for the drawing are made once, not
    // for every band, and once for all layers that show them alike (a run's
    // own cache, where it has one, serves instead).
    const VLImage::PreparedCopies copies;
    const VLImage::SharedReads turned;
    std::optional<KTPreparedPictureCache> prepared;
    std::optional<KTPreparedPictureCache::Scope> preparedScope;
    if (!KTPreparedPictureCache::current())
        preparedScope.emplace(&prepared.emplace());
    // A batch's first files, begun together, would each draw every band's
    // shadows while one of them works each out: each works out its share of
    // the bands first (drawn without the photo, into the first band's
    // buffer), and then finds all of them.
    const platform::ShadowCache::Share *share = platform::ShadowCache::ShareScope::current();
    if (share && share->count > 0 && share->index >= 0 && platform::ShadowCache::current() && photo) {
        try {
            if (store.isNull() && qint64(w) * 4 <= std::numeric_limits<int>::max())
                store = platform::ImageBuffer::allocate(w, slotRows * slotCount);
        } catch (const std::bad_alloc &) {
            store = QImage();
        }
        if (!store.isNull()) {
            base = store.bits();
            const platform::ShadowCache::MakeAtOnce atOnce;
            d.m_photoLeftOut = true;
            const auto restore = qScopeGuard([&d] { d.m_photoLeftOut = false; });
            for (int first = share->index * rows; first < h && !(cancel && cancel(&d)); first += share->count * rows) {
                const int top = std::max(0, first - kPad);
                const int end = std::min(h, first + rows + kPad);
                QImage view(base, w, end - top, store.bytesPerLine(), store.format());
                drawBandOfSize(d, *pixels, top, view, {});
            }
        }
    }
    try {
        ok = platform::ImageEncoder::writeBandsToFile(url.toLocalFile(), bands, uti,
                                                      d.prepareMetadataForExport(*pixels), d.exportQuality(),
                                                      &written, hook);
    } catch (const std::bad_alloc &) {
        setMemoryError(qint64(w) * 4 * slotRows * slotCount, &failure);
        failed = true;
    }
    platform::TimingLog::mark("encoded");
    if (ok)
        return true;
    if (error)
        *error = failed ? failure : written;
    return false;
}
