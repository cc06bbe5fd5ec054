#include "design/KTFrameLayer.h"

#include "design/KTLayerKinds.h"
#include "design/KTTemplate.h"
#include "design/VLImage.h"
#include "kit/ImageAdditions.h"
#include "platform/Bundle.h"
#include "platform/Log.h"
#include "platform/UserDefaults.h"
#include "platform/archive/KeyedArchiver.h"
#include "platform/archive/KeyedUnarchiver.h"
#include "platform/imaging/DecodeErrors.h"
#include "platform/objectstore/ManagedObjectContext.h"
#include "platform/render/DrawingContext.h"
#include "stores/Frame.h"
#include "stores/FrameCollection.h"
#include "stores/FrameSet.h"
#include "stores/FrameType.h"

#include <QColorSpace>
#include <QMutex>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace {

QMutex &posterLock()
{
    static QMutex lock;
    return lock;
}

KTFrameLayer::WarningPoster &warningPoster()
{
    static KTFrameLayer::WarningPoster poster;
    return poster;
}

double finiteOr(double value, double fallback)
{
    return std::isfinite(value) ? value : fallback;
}

QImage resourceImage(const char *name)
{
    const QString path = platform::Bundle::pathForResource(QString::fromLatin1(name), QStringLiteral("png"));
    if (path.isEmpty())
        return QImage();
    QImage image(path);
    if (!image.isNull())
        image.convertTo(QImage::Format_ARGB32_Premultiplied);
    return image;
}

// The library draws its frames' icons through frame layers from the start.
[[maybe_unused]] const bool s_iconBuilderInstalled = [] {
    KTFrameLayer::installLibraryIconBuilder();
    return true;
}();

} // namespace

KTFrameLayer::KTFrameLayer()
{
    connect(this, &KTLayer::hiddenChanged, this, [this] { didChangeValueForKey(QStringLiteral("hidden")); });
}

KTFrameLayer::~KTFrameLayer() = default;

QString KTFrameLayer::description() const
{
    const FrameSet *set = m_theFrame ? m_theFrame->frameset() : nullptr;
    const FrameCollection *collection = set ? set->framecollection() : nullptr;
    return QStringLiteral("%1 -- Collection %2, Set %3, frameName %4, images %5")
        .arg(KTLayer::description(), collection ? collection->name() : QStringLiteral("(null)"),
             set ? set->name() : QStringLiteral("(null)"),
             m_theFrame ? m_theFrame->name() : QStringLiteral("(null)"),
             m_imagesLoaded ? QStringLiteral("loaded") : QStringLiteral("not loaded"));
}

bool KTFrameLayer::loadImages()
{
    return false;
}

QImage KTFrameLayer::iconOfSize(const QSizeF &)
{
    return QImage();
}

bool KTFrameLayer::actAsMask() const
{
    return false;
}

bool KTFrameLayer::shouldDrawShadow() const
{
    const KTTemplate *design = inTemplate();
    return m_dropShadow && design && design->drawShadows();
}

double KTFrameLayer::shadowLengthFactor() const
{
    if (!shouldDrawShadow())
        return -1;
    return m_shadowLength * inTemplate()->shadowOffset();
}

QSizeF KTFrameLayer::shadowOffsetForRect(const QRectF &rect) const
{
    const KTTemplate *design = inTemplate();
    const double angle = (design ? design->shadowAngle() : 180.0) * kDegreesToRadians;
    const double k = std::min(rect.width(), rect.height()) * m_shadowOffsetScaleFactor * shadowLengthFactor();
    // 0 degrees points up (positive y), 180 down.
    return QSizeF(std::sin(angle) * k, std::cos(angle) * k);
}

double KTFrameLayer::shadowBlurRadiusForRect(const QRectF &rect) const
{
    return std::min(rect.width(), rect.height()) * kBlurPerShortSide;
}

QColor KTFrameLayer::shadowColor()
{
    return QColor::fromRgbF(0, 0, 0, 1.0f / 3.0f);
}

void KTFrameLayer::drawWithShadowInRect(const QRectF &rect, bool highQuality, bool withTransparencyLayer,
                                        const QRectF &transparencyRect, const std::function<void()> &block)
{
    platform::DrawingContext *ctx = platform::DrawingContext::current();
    const bool shadow = ctx && shouldDrawShadow();
    bool layerBegun = false;
    if (shadow) {
        ctx->saveGState();
        const QSizeF offset = shadowOffsetForRect(rect);
        const double blur = highQuality ? shadowBlurRadiusForRect(rect) : 0.0;
        ctx->setShadow(shadowColor(), QPointF(offset.width(), offset.height()), blur);
        ctx->clipToRect(rectWithShadowForDrawRect(rect, transparencyRect));
        if (withTransparencyLayer) {
            ctx->beginTransparencyLayer();
            layerBegun = true;
        }
    }
    if (block)
        block();
    if (shadow) {
        if (layerBegun)
            ctx->endTransparencyLayer();
        ctx->restoreGState();
    }
}

QRectF KTFrameLayer::rectWithShadowForRect(const QRectF &rect) const
{
    return rectWithShadowForDrawRect(rect, rect);
}

QRectF KTFrameLayer::rectWithShadowForDrawRect(const QRectF &drawRect, const QRectF &t) const
{
    const QSizeF offset = shadowOffsetForRect(drawRect);
    const double dx = offset.width();
    const double dy = offset.height();
    const double b = shadowBlurRadiusForRect(drawRect);
    const double left = std::min(t.x(), t.x() + dx - b);
    const double right = std::max(t.x() + t.width(), t.x() + t.width() + dx + b);
    const double bottom = std::min(t.y(), t.y() + dy - b);
    const double top = std::max(t.y() + t.height(), t.y() + t.height() + dy + b);
    return QRectF(left, bottom, right - left, top - bottom);
}

void KTFrameLayer::drawAsMask(bool asMask, const std::function<void()> &block)
{
    platform::DrawingContext *ctx = platform::DrawingContext::current();
    if (!asMask || !ctx) {
        if (block)
            block();
        return;
    }
    ctx->saveGState();
    ctx->setCompositionMode(QPainter::CompositionMode_DestinationOut);
    if (block)
        block();
    ctx->restoreGState();
}

void KTFrameLayer::applySettingsFromLayer(const KTFrameLayer &other)
{
    setDropShadow(other.dropShadow());
    setShadowLength(other.shadowLength());
    setShadowOffsetScaleFactor(other.shadowOffsetScaleFactor());
}

void KTFrameLayer::setTheFrame(Frame *frame)
{
    m_theFrame = frame;
    if (frame)
        m_frameGUID = frame->guid();
}

QString KTFrameLayer::frameGUID() const
{
    return m_theFrame ? m_theFrame->guid() : m_frameGUID;
}

void KTFrameLayer::setDropShadow(bool on)
{
    m_dropShadow = on;
    didChangeValueForKey(QStringLiteral("dropShadow"));
}

void KTFrameLayer::setDropShadowByUser(bool on, NewLayerSettings &)
{
    setDropShadow(on);
}

void KTFrameLayer::setShadowLength(double length)
{
    m_shadowLength = length;
    didChangeValueForKey(QStringLiteral("shadowLength"));
}

void KTFrameLayer::setShadowOffsetScaleFactor(double factor)
{
    m_shadowOffsetScaleFactor = factor;
    didChangeValueForKey(QStringLiteral("shadowOffsetScaleFactor"));
}

QSet<QString> KTFrameLayer::keyPathsForValuesAffectingLayerChanged() const
{
    return {};
}

QSet<QString> KTFrameLayer::keyPathsForValuesAffectingLayerChangedFastRedraw() const
{
    return {};
}

void KTFrameLayer::didChangeValueForKey(const QString &key)
{
    if (keyPathsForValuesAffectingLayerChanged().contains(key))
        emit layerChanged();
    if (keyPathsForValuesAffectingLayerChangedFastRedraw().contains(key))
        emit layerChangedFastRedraw();
}

// --- factory ---

KTFrameLayer::NewLayerSettings KTFrameLayer::NewLayerSettings::fromDefaults(const platform::UserDefaults &defaults)
{
    NewLayerSettings settings;
    settings.mouldingShadow = defaults.boolForKey(QString::fromLatin1(kMouldingShadowKey));
    return settings;
}

void KTFrameLayer::NewLayerSettings::saveTo(platform::UserDefaults &defaults) const
{
    defaults.setBool(QString::fromLatin1(kMouldingShadowKey), mouldingShadow);
}

std::shared_ptr<KTFrameLayer> KTFrameLayer::frameLayerFromFrame(Frame *frame)
{
    return frameLayerFromFrame(frame, NewLayerSettings());
}

std::shared_ptr<KTFrameLayer> KTFrameLayer::frameLayerFromFrame(Frame *frame, const NewLayerSettings &settings)
{
    const FrameType *type = frame ? frame->frametype() : nullptr;
    if (!type)
        return nullptr;
    const KTLayerKind *kind = KTLayerKinds::forFrameType(type->name());
    const std::shared_ptr<KTFrameLayer> layer
        = kind ? std::dynamic_pointer_cast<KTFrameLayer>(kind->make()) : nullptr;
    if (!layer)
        return nullptr;
    layer->applyNewLayerSettings(settings);
    layer->setLayerName(frame->name());
    layer->setTheFrame(frame);
    const QImage icon = frame->iconImage();
    if (!icon.isNull())
        layer->setIcon(VLImage::initWithNSImage(icon, 0));
    if (!layer->loadImages() || layer->missesPictures())
        layer->markAsMissing();
    return layer;
}

void KTFrameLayer::notePictureFailure(const platform::Error &why)
{
    if (why.code == int(platform::DecodeError::OutOfMemory))
        m_picturesLackMemory = true;
}

void KTFrameLayer::markAsMissing()
{
    setIcon(VLImage::initWithNSImage(noIconImage(), 0));
    m_missesFrameInLibrary = true;
}

// --- icons ---

std::shared_ptr<KTFrameLayer> KTFrameLayer::selfPointer()
{
    if (auto owned = std::static_pointer_cast<KTFrameLayer>(weak_from_this().lock()))
        return owned;
    // Not owned by a shared pointer: lend it for the time of the drawing.
    return std::shared_ptr<KTFrameLayer>(this, [](KTFrameLayer *) {});
}

QImage KTFrameLayer::iconFromDesignOfSize(const QSizeF &size)
{
    KTTemplate *previousDesign = inTemplate();
    std::shared_ptr<KTFrameLayer> self = selfPointer();
    QImage image = VLKit::imageWithSize(size, QColorSpace(QColorSpace::SRgb), [&] {
        auto design = std::make_shared<KTTemplate>();
        design->setUsedForIconGeneration(true);
        design->addTopmostLayer(self);
        design->drawToRect(QRectF(QPointF(0, 0), size), true, true, nullptr, false);
        design->removeLayer(self);
    });
    setInTemplate(previousDesign);
    return image;
}

QImage KTFrameLayer::libraryIconForFrame(Frame &frame, const QSize &size)
{
    std::shared_ptr<KTFrameLayer> layer = frameLayerFromFrame(&frame);
    if (!layer)
        return QImage();
    return layer->iconOfSize(QSizeF(size));
}

void KTFrameLayer::installLibraryIconBuilder()
{
    static const bool installed = [] {
        Frame::setIconBuilder([](Frame &frame, const QSize &size) { return libraryIconForFrame(frame, size); });
        return true;
    }();
    (void)installed;
}

QImage KTFrameLayer::noIconImage()
{
    static const QImage image = [] {
        QImage picture = resourceImage(kNoIconResource);
        if (picture.isNull()) {
            // A grey tile with a cross: plainly "no picture".
            picture = QImage(kLibraryIconSide, kLibraryIconSide, QImage::Format_ARGB32_Premultiplied);
            picture.fill(QColor(200, 200, 200));
            QPainter p(&picture);
            p.setRenderHint(QPainter::Antialiasing);
            QPen pen(QColor(150, 40, 40));
            pen.setWidthF(6);
            p.setPen(pen);
            p.drawLine(QPointF(20, 20), QPointF(72, 72));
            p.drawLine(QPointF(72, 20), QPointF(20, 72));
        }
        // Already in the form a layer's icon takes, so the icons of all
        // missing frames share these pixels instead of each copying them.
        if (!picture.colorSpace().isValid())
            picture.setColorSpace(QColorSpace(QColorSpace::SRgb));
        return picture;
    }();
    return image;
}

QImage KTFrameLayer::maskBadgeImage()
{
    static const QImage image = [] {
        QImage picture = resourceImage(kMaskBadgeResource);
        if (!picture.isNull())
            return picture;
        picture = QImage(20, 20, QImage::Format_ARGB32_Premultiplied);
        picture.fill(Qt::transparent);
        QPainter p(&picture);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(Qt::white, 2));
        p.setBrush(QColor(30, 30, 30));
        p.drawEllipse(QRectF(1, 1, 18, 18));
        p.setBrush(Qt::white);
        p.drawEllipse(QRectF(6, 6, 8, 8));
        return picture;
    }();
    return image;
}

// --- warnings ---

void KTFrameLayer::setWarningPoster(WarningPoster poster)
{
    QMutexLocker locker(&posterLock());
    warningPoster() = std::move(poster);
}

void KTFrameLayer::postWarning(const QString &message)
{
    WarningPoster poster;
    {
        QMutexLocker locker(&posterLock());
        poster = warningPoster();
    }
    if (poster)
        poster(message);
    else
        platform::logLine(QStringLiteral("Warning: ") + message);
}

// --- archive ---

void KTFrameLayer::encode(platform::KeyedArchiver &coder) const
{
    KTLayer::encode(coder);
    const QString guid = frameGUID();
    if (!guid.isEmpty())
        coder.encodeString(guid, QStringLiteral("frameGUID"));
    coder.encodeBool(m_dropShadow, QStringLiteral("dropShadow"));
    coder.encodeFloat(float(m_shadowLength), QStringLiteral("shadowLength"));
    coder.encodeFloat(float(m_shadowOffsetScaleFactor), QStringLiteral("shadowOffsetScaleFactor"));
}

void KTFrameLayer::decode(platform::KeyedUnarchiver &coder)
{
    KTLayer::decode(coder);
    m_missesFrameInLibrary = false;
    m_picturesLackMemory = false;
    m_dropShadow = coder.decodeBoolForKey(QStringLiteral("dropShadow"));
    // A damaged archive's non-numbers would poison the shadow geometry.
    m_shadowLength = finiteOr(coder.decodeFloatForKey(QStringLiteral("shadowLength")), 1.0);
    m_shadowOffsetScaleFactor = finiteOr(coder.decodeFloatForKey(QStringLiteral("shadowOffsetScaleFactor")), 0.03);
    const QVariant guidValue = coder.decodeObjectForKey(QStringLiteral("frameGUID"));
    m_frameGUID = guidValue.typeId() == QMetaType::QString ? guidValue.toString() : QString();
    if (coder.hasError())
        return;

    // The library is the one the caller of the decoding lent the unarchiver.
    auto *library = qobject_cast<platform::ManagedObjectContext *>(coder.decodingContext());
    Frame *frame = m_frameGUID.isEmpty() ? nullptr : Frame::frameWithGUID(m_frameGUID, library);
    if (frame) {
        m_theFrame = frame;
        setLayerName(frame->name());
        const QImage icon = frame->iconImage();
        if (!icon.isNull())
            setIcon(VLImage::initWithNSImage(icon, 0));
        // Pictures gone from the graphics folder, or damaged, leave a frame
        // that can't be drawn: it stands as a missing one.
        if (!loadImages() || missesPictures()) {
            postWarning(QString::fromLatin1(kMissingPicturesWarning).arg(layerName()));
            markAsMissing();
        }
    } else {
        postWarning(QString::fromLatin1(kMissingFrameWarning).arg(layerName()));
        setIcon(VLImage::initWithNSImage(noIconImage(), 0));
        m_missesFrameInLibrary = true;
        m_theFrame = nullptr;
    }
}

std::shared_ptr<KTLayer> KTFrameLayer::copyForRendering() const
{
    auto copy = std::make_shared<KTFrameLayer>();
    copy->copyFrameFieldsFrom(*this);
    return copy;
}

void KTFrameLayer::copyFrameFieldsFrom(const KTFrameLayer &other)
{
    copyBaseFieldsFrom(other);
    // The library frame lives in the main thread's context and copies are
    // drawn on other threads: a copy names its frame by GUID only, so it can
    // never read or write the store.
    m_theFrame = nullptr;
    m_frameGUID = other.m_frameGUID;
    m_imagesLoaded = other.m_imagesLoaded;
    m_dropShadow = other.m_dropShadow;
    m_shadowLength = other.m_shadowLength;
    m_shadowOffsetScaleFactor = other.m_shadowOffsetScaleFactor;
    m_missesFrameInLibrary = other.m_missesFrameInLibrary;
    m_picturesLackMemory = other.m_picturesLackMemory;
}
