#include "design/KTImageOverlayLayer.h"

#include "design/KTFrameLayer.h"
#include "design/VLImage.h"
#include "kit/VLValueAdditions.h"
#include "platform/Log.h"
#include "platform/archive/KeyedArchiver.h"
#include "platform/archive/KeyedClassRegistry.h"
#include "platform/archive/KeyedUnarchiver.h"
#include "platform/render/DrawingContext.h"

#include <QDir>
#include <QFileInfo>

#include <cmath>
#include <mutex>

namespace {

const QString kScaleKey = QStringLiteral("scale");
const QString kOpacityKey = QStringLiteral("opacity");
const QString kImageKey = QStringLiteral("image");
const QString kImagePathKey = QStringLiteral("imagePath");

} // namespace

KTImageOverlayLayer::KTImageOverlayLayer()
    : KTOverlayLayer(0.4)
{
}

KTImageOverlayLayer::~KTImageOverlayLayer() = default;

bool KTImageOverlayLayer::loadImage()
{
    // A relative path would be read from wherever the program was started.
    if (m_imagePath.isNull() || !QDir::isAbsolutePath(m_imagePath))
        return false;
    auto image = VLImage::initWithContentsOfFile(m_imagePath, false);
    if (!image)
        return false;
    m_image = image;
    setIcon(image);
    emit layerChanged();
    return true;
}

bool KTImageOverlayLayer::missesPicture() const
{
    return !m_image && !m_imagePath.isEmpty();
}

QString KTImageOverlayLayer::missingPictureName() const
{
    return missesPicture() ? QFileInfo(m_imagePath).fileName() : QString();
}

QRectF KTImageOverlayLayer::rectForSizeCenteredAtPoint(const QSizeF &size, const QPointF &point)
{
    return QRectF(point.x() - size.width() / 2, point.y() - size.height() / 2, size.width(), size.height());
}

void KTImageOverlayLayer::drawLayerForRect(const QRectF &rect, bool highQuality, bool skipCache)
{
    if (!m_image)
        return;
    m_lastInRect = rect;
    platform::DrawingContext *ctx = platform::DrawingContext::current();
    if (ctx)
        ctx->saveGState();
    if (m_isDragging && m_shouldDrawSnaps)
        drawGuides(rect, 5, 0);
    if (ctx)
        ctx->clipToRect(rect);

    // The picture keeps its proportions; its relatively larger side spans
    // `scale` of the matching side of the container.
    const QSizeF original = m_image->originalSize();
    const double ow = original.width();
    const double oh = original.height();
    QRectF drawn;
    if (ow > 0 && oh > 0 && rect.width() > 0 && rect.height() > 0) {
        const double rw = ow / rect.width();
        const double rh = oh / rect.height();
        const double f = rw > rh ? m_scale * rect.width() / ow : m_scale * rect.height() / oh;
        const QSizeF size(std::floor(ow * f), std::floor(oh * f));
        drawn = overlayRectForRelativePosition(rect, m_positioning, size);
        drawn.moveTo(std::floor(drawn.x()), std::floor(drawn.y()));
        if (highQuality)
            m_image->drawInRect(drawn, skipCache);
        else
            m_image->drawCachedInRect(drawn);
    }
    m_lastDrawingRect = drawn;
    if (ctx)
        ctx->restoreGState();
    if (isSelected())
        drawAllHandlersForRect(drawn);
}

bool KTImageOverlayLayer::validateValue(QVariant &value, const QString &keyPath) const
{
    if (keyPath == kScaleKey)
        value = NSNumberVLExtras::numberEnforcedBetweenAnd(value, kMinScale, kMaxScale);
    else if (keyPath == kOpacityKey)
        value = NSNumberVLExtras::numberEnforcedBetweenAnd(value, 0.0, 1.0);
    return true;
}

void KTImageOverlayLayer::setImage(std::shared_ptr<VLImage> image)
{
    m_image = std::move(image);
    emit layerChanged();
}

void KTImageOverlayLayer::setScale(double scale)
{
    m_scale = NSNumberVLExtras::numberEnforcedBetweenAnd(scale, kMinScale, kMaxScale);
    emit layerChangedFastRedraw();
}

void KTImageOverlayLayer::setOpacity(double opacity)
{
    m_opacity = opacity;
    if (m_image)
        m_image->setOpacity(opacity);
    emit layerChangedFastRedraw();
}

// --- archive ---

void KTImageOverlayLayer::encode(platform::KeyedArchiver &coder) const
{
    KTLayer::encode(coder);
    encodeImageOverlayKeys(coder);
}

void KTImageOverlayLayer::decode(platform::KeyedUnarchiver &coder)
{
    KTLayer::decode(coder);
    decodeImageOverlayKeys(coder);
}

void KTImageOverlayLayer::registerArchiveClass()
{
    static std::once_flag once;
    std::call_once(once, [] {
        platform::KeyedClassRegistry::shared().registerClass<KTImageOverlayLayer>(QStringLiteral("KTImageOverlayLayer"));
    });
}

void KTImageOverlayLayer::encodeImageOverlayKeys(platform::KeyedArchiver &coder) const
{
    encodeOverlayKeys(coder);
    if (m_image) {
        coder.encodeObject(std::static_pointer_cast<const platform::Coding>(m_image), kImageKey);
    } else {
        platform::logLine(QStringLiteral("KTImageOverlayLayer: No image when encoding %1").arg(m_imagePath));
        coder.encodeString(m_imagePath, kImagePathKey);
    }
}

void KTImageOverlayLayer::decodeImageOverlayKeys(platform::KeyedUnarchiver &coder)
{
    setScale(coder.decodeFloatForKey(kScaleKey));
    m_positioning = decodePositioning(coder);

    auto image = coder.decodeObjectOfClassForKey<VLImage>(kImageKey);
    m_carriesUnreadPicture = image && !image->hasPicture() && !image->originalImageFileData().isEmpty();
    if (image && image->hasPicture()) {
        m_image = image;
        m_imagePath = image->originalImageFilePath();
        setIcon(image);
    } else {
        const QString named = coder.decodeStringForKey(kImagePathKey);
        m_imagePath = named;
        if (!named.isEmpty() && coder.readsNamedFiles())
            loadImage();
        if (!m_image && (image || !named.isEmpty())) {
            // Only the name stays: it is never read, and a design saved from
            // this one says the same.
            const QString name = QFileInfo(named.isEmpty() ? image->originalImageFileName() : named).fileName();
            if (!coder.readsNamedFiles() || !QDir::isAbsolutePath(named))
                m_imagePath = name.isEmpty() ? QStringLiteral("picture") : name;
            KTFrameLayer::postWarning(QString::fromLatin1(kMissingPictureWarning).arg(missingPictureName()));
        }
    }
    // After the picture, which takes the opacity too.
    setOpacity(decodeOpacity(coder));
    setSupportsHiding(true);
}

std::shared_ptr<KTLayer> KTImageOverlayLayer::copyForRendering() const
{
    auto copy = std::make_shared<KTImageOverlayLayer>();
    copy->copyOverlayFieldsFrom(*this);
    copy->m_image = m_image ? m_image->copyForRendering() : nullptr;
    copy->setIcon(copy->m_image);
    copy->m_imagePath = m_imagePath;
    copy->m_carriesUnreadPicture = m_carriesUnreadPicture;
    return copy;
}
