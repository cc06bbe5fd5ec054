#include "design/KTImageLayer.h"

#include "design/VLImage.h"
#include "design/BitmapHelpers.h"
#include "platform/archive/KeyedArchiver.h"
#include "platform/archive/KeyedClassRegistry.h"
#include "platform/archive/KeyedUnarchiver.h"

#include <QFileInfo>

#include <algorithm>
#include <cmath>
#include <mutex>

namespace {

double roundHalfEven(double v)
{
    return std::nearbyint(v);
}

} // namespace

KTImageLayer::KTImageLayer()
{
    // Hiding the photo redraws the design like any other change of it.
    connect(this, &KTLayer::hiddenChanged, this, &KTLayer::layerChanged);
}

KTImageLayer::~KTImageLayer() = default;

std::shared_ptr<VLImage> KTImageLayer::image() const
{
    return m_image;
}

void KTImageLayer::setImage(std::shared_ptr<VLImage> image)
{
    m_image = std::move(image);
    emit imageChanged();
    emit layerChanged();
}

// --- geometry ---

QRectF KTImageLayer::croppedRect() const
{
    const QSizeF size = m_image ? m_image->originalSize() : QSizeF();
    const double w = size.width();
    const double h = size.height();
    return QRectF(roundHalfEven(m_cropLeft * w), roundHalfEven(m_cropBottom * h), roundHalfEven((1 - m_cropLeft - m_cropRight) * w),
                  roundHalfEven((1 - m_cropTop - m_cropBottom) * h));
}

QPointF KTImageLayer::centerPoint() const
{
    return QPointF((m_cropLeft + 1 - m_cropRight) / 2, (m_cropBottom + 1 - m_cropTop) / 2);
}

QRectF KTImageLayer::resultingRectForRect(const QRectF &rect) const
{
    if (!m_image)
        return rect;
    const QRectF cropped = croppedRect();
    QRectF result = VLW_vImage::rectForImageSizeInRect(VLW_vImage::ScaleProportionally, VLW_vImage::AlignCenter,
                                                       QRectF(QPointF(0, 0), cropped.size()), rect);
    if ((rect.x() + rect.width()) - (result.x() + result.width()) == 1.0)
        result.setWidth(result.width() + 1);
    if ((rect.y() + rect.height()) - (result.y() + result.height()) == 1.0)
        result.setHeight(result.height() + 1);
    return result;
}

QRectF KTImageLayer::drawnRectForRect(const QRectF &rect) const
{
    // Edges rounded, not the origin and the size apart: a mat round the
    // photo paints up to the nearest pixel edge, and the photo must reach it
    // (else its window's corners, where two bevel faces meet, are left part
    // clear). A whole size stays its own.
    const QRectF fitted = resultingRectForRect(rect);
    const double left = std::round(fitted.x());
    const double bottom = std::round(fitted.y());
    return QRectF(left, bottom, std::round(fitted.x() + fitted.width()) - left,
                  std::round(fitted.y() + fitted.height()) - bottom);
}

void KTImageLayer::drawLayerForRect(const QRectF &rect, bool highQuality, bool skipCache)
{
    const QRectF r = drawnRectForRect(rect);
    m_lastDrawRect = r;
    if (!m_image)
        return;
    if (highQuality)
        m_image->drawInRect(r, skipCache);
    else
        m_image->drawCachedInRect(r);
}

QVariantMap KTImageLayer::reportForRealSize(const QSizeF &size) const
{
    QVariantMap report;
    report.insert(QStringLiteral("Size"), size);
    if (m_image)
        report.insert(QStringLiteral("Icon"), m_image->nsimageWithSide(72));
    report.insert(QStringLiteral("Title"), QFileInfo(m_imageFileName).fileName());
    return report;
}

// --- mouse ---

bool KTImageLayer::acceptsMouseEvents() const
{
    return true;
}

void KTImageLayer::mouseDownAtPoint(const QPointF &point, const QMouseEvent *)
{
    m_isDragging = true;
    m_dragStartPosition = point;
}

void KTImageLayer::mouseDraggedAtPoint(const QPointF &point, const QMouseEvent *)
{
    if (!m_isDragging || !m_image)
        return;
    const double dx = point.x() - m_dragStartPosition.x();
    const double dy = point.y() - m_dragStartPosition.y();
    const QSizeF original = m_image->originalSize();

    if (m_lastDrawRect.width() > 0 && original.width() > 0) {
        double d = (croppedRect().width() / m_lastDrawRect.width()) / original.width() * dx;
        if (d > 0) {
            d = std::min(d, m_cropLeft);
            d = std::min(d, kMaxCrop - m_cropRight);
        } else {
            double e = std::min(-d, m_cropRight);
            e = std::min(e, kMaxCrop - m_cropLeft);
            d = -e;
        }
        const double left = m_cropLeft - d;
        const double right = m_cropRight + d;
        setCropLeft(left);
        setCropRight(right);
    }
    if (m_lastDrawRect.height() > 0 && original.height() > 0) {
        double d = (croppedRect().height() / m_lastDrawRect.height()) / original.height() * dy;
        if (d > 0) {
            d = std::min(d, m_cropBottom);
            d = std::min(d, kMaxCrop - m_cropTop);
        } else {
            double e = std::min(-d, m_cropTop);
            e = std::min(e, kMaxCrop - m_cropBottom);
            d = -e;
        }
        const double bottom = m_cropBottom - d;
        const double top = m_cropTop + d;
        setCropBottom(bottom);
        setCropTop(top);
    }
    m_dragStartPosition = point;
}

void KTImageLayer::mouseUpAtPoint(const QPointF &, const QMouseEvent *)
{
    m_isDragging = false;
}

bool KTImageLayer::isHitAtPoint(const QPointF &point) const
{
    const QRectF &r = m_lastDrawRect;
    return point.x() >= r.x() && point.x() < r.x() + r.width() && point.y() >= r.y() && point.y() < r.y() + r.height();
}

// --- archive ---

void KTImageLayer::encodeImageLayerKeys(platform::KeyedArchiver &coder) const
{
    coder.encodeFloat(float(m_cropLeft), QStringLiteral("cropLeft"));
    coder.encodeFloat(float(m_cropTop), QStringLiteral("cropTop"));
    coder.encodeFloat(float(m_cropRight), QStringLiteral("cropRight"));
    coder.encodeFloat(float(m_cropBottom), QStringLiteral("cropBottom"));
}

void KTImageLayer::decodeImageLayerKeys(platform::KeyedUnarchiver &coder)
{
    m_cropLeft = coder.decodeFloatForKey(QStringLiteral("cropLeft"));
    m_cropTop = coder.decodeFloatForKey(QStringLiteral("cropTop"));
    m_cropRight = coder.decodeFloatForKey(QStringLiteral("cropRight"));
    m_cropBottom = coder.decodeFloatForKey(QStringLiteral("cropBottom"));
    const auto sane = [](double &first, double &second) {
        for (double *v : {&first, &second}) {
            if (!std::isfinite(*v) || *v < 0)
                *v = 0;
            *v = std::min(*v, kMaxCrop);
        }
        // Single-precision rounding of a sound pair may overshoot a hair.
        if (first + second > kMaxCrop + 1e-6)
            second = kMaxCrop - first;
    };
    sane(m_cropLeft, m_cropRight);
    sane(m_cropTop, m_cropBottom);
    setSupportsHiding(true);
}

void KTImageLayer::encode(platform::KeyedArchiver &coder) const
{
    KTLayer::encode(coder);
    encodeImageLayerKeys(coder);
}

void KTImageLayer::decode(platform::KeyedUnarchiver &coder)
{
    KTLayer::decode(coder);
    decodeImageLayerKeys(coder);
}

void KTImageLayer::registerArchiveClass()
{
    static std::once_flag once;
    std::call_once(once, [] {
        platform::KeyedClassRegistry::shared().registerClass<KTImageLayer>(QStringLiteral("KTImageLayer"));
    });
}

// --- crops ---

bool KTImageLayer::validateValue(QVariant &value, const QString &keyPath) const
{
    if (keyPath.startsWith(QLatin1String("crop"))) {
        const double v = value.toDouble();
        value = std::isnan(v) ? 0.0 : std::clamp(v, 0.0, kMaxCrop);
    }
    return true;
}

double &KTImageLayer::cropRef(Side side)
{
    switch (side) {
    case Side::Left:
        return m_cropLeft;
    case Side::Top:
        return m_cropTop;
    case Side::Right:
        return m_cropRight;
    case Side::Bottom:
    default:
        return m_cropBottom;
    }
}

void KTImageLayer::announce(Side side)
{
    switch (side) {
    case Side::Left:
        emit cropLeftChanged();
        break;
    case Side::Top:
        emit cropTopChanged();
        break;
    case Side::Right:
        emit cropRightChanged();
        break;
    case Side::Bottom:
        emit cropBottomChanged();
        break;
    }
    emit layerChanged();
}

void KTImageLayer::setCrop(Side side, double value)
{
    static const Side opposite[] = {Side::Right, Side::Bottom, Side::Left, Side::Top};
    const Side other = opposite[int(side)];
    cropRef(side) = value;
    if (value + cropRef(other) > kMaxCrop) {
        cropRef(other) = kMaxCrop - value;
        announce(other);
    }
    updateCropFilter();
    announce(side);
}

void KTImageLayer::setCropLeft(double value)
{
    setCrop(Side::Left, value);
}

void KTImageLayer::setCropTop(double value)
{
    setCrop(Side::Top, value);
}

void KTImageLayer::setCropRight(double value)
{
    setCrop(Side::Right, value);
}

void KTImageLayer::setCropBottom(double value)
{
    setCrop(Side::Bottom, value);
}

void KTImageLayer::cropToAspectRatio(double ratio, const QPointF &centerPoint)
{
    if (!m_image)
        return;
    const QSizeF original = m_image->originalSize();
    const double w = original.width();
    const double h = original.height();
    if (!(w > 0) || !(h > 0) || !(ratio > 0) || !std::isfinite(ratio))
        return;
    auto shift = [](double c, double t) {
        if (t > 0)
            return std::min(c, std::min(t, kMaxCrop - c));
        return -std::min(std::min(-t, c), kMaxCrop - c);
    };
    if (ratio > w / h) {
        const double c = (1 - (w / h) / ratio) / 2;
        const double d = shift(c, centerPoint.y() - 0.5);
        m_cropBottom = c + d;
        m_cropTop = c - d;
    } else {
        const double c = (1 - (h * ratio) / w) / 2;
        const double d = shift(c, centerPoint.x() - 0.5);
        m_cropLeft = c + d;
        m_cropRight = c - d;
    }
    announce(Side::Left);
    announce(Side::Right);
    announce(Side::Top);
    announce(Side::Bottom);
    updateCropFilter();
}

void KTImageLayer::resetCropSetting()
{
    m_cropLeft = m_cropTop = m_cropRight = m_cropBottom = 0;
}

void KTImageLayer::updateCropFilter()
{
    if (m_image)
        m_image->updateCropWithPercentageLeft(m_cropLeft, m_cropTop, m_cropRight, m_cropBottom);
}

// --- loading ---

void KTImageLayer::loadImage()
{
    m_image = VLImage::initWithContentsOfFile(m_imageFileName, true);
    if (m_image && m_image->isPDF())
        m_image = m_image->pageAsPhoto();
    setIcon(m_image);
    emit imageChanged();
    emit layerChanged();
}

void KTImageLayer::loadDecodedImage(std::shared_ptr<VLImage> image)
{
    m_image = image && image->isPDF() ? image->pageAsPhoto() : std::move(image);
    setIcon(m_image);
    emit imageChanged();
    emit layerChanged();
}

void KTImageLayer::loadCGImage(const QImage &image, const QUrl &originatedFrom, const platform::ImageMetadata &metadata)
{
    m_image = VLImage::initWithCGImage(image, originatedFrom, 0, metadata);
    setIcon(m_image);
    emit imageChanged();
    emit layerChanged();
}

std::shared_ptr<KTLayer> KTImageLayer::copyForRendering() const
{
    auto copy = std::make_shared<KTImageLayer>();
    copy->copyBaseFieldsFrom(*this);
    copy->m_image = m_image ? m_image->copyForRendering() : nullptr;
    copy->setIcon(copy->m_image);
    copy->m_imageFileName = m_imageFileName;
    copy->m_cropLeft = m_cropLeft;
    copy->m_cropTop = m_cropTop;
    copy->m_cropRight = m_cropRight;
    copy->m_cropBottom = m_cropBottom;
    copy->m_lastDrawRect = m_lastDrawRect;
    return copy;
}
