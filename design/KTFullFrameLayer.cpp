#include "design/KTFullFrameLayer.h"

#include "design/VLImage.h"
#include "kit/ImageAdditions.h"
#include "platform/Assert.h"
#include "platform/archive/KeyedArchiver.h"
#include "platform/archive/KeyedClassRegistry.h"
#include "platform/archive/KeyedUnarchiver.h"
#include "platform/render/DrawingContext.h"
#include "stores/Frame.h"
#include "stores/FrameAttribute.h"
#include "stores/FrameImage.h"

#include <algorithm>
#include <cmath>
#include <mutex>

namespace {

// The smallest rect with whole coordinates that holds `r` (y-up or not).
QRectF integralRect(const QRectF &r)
{
    if (r.width() <= 0 || r.height() <= 0)
        return QRectF();
    const double x0 = std::floor(r.left());
    const double y0 = std::floor(r.top());
    const double x1 = std::ceil(r.right());
    const double y1 = std::ceil(r.bottom());
    return QRectF(x0, y0, x1 - x0, y1 - y0);
}

// `*named` tells whether the frame names a picture there at all.
std::shared_ptr<VLImage> pictureOfAttribute(Frame *frame, const char *attribute, bool *named, platform::Error *why)
{
    const QVariant value = frame->valueForAttribute(QString::fromLatin1(attribute));
    auto *image = value.value<FrameImage *>();
    *named = image != nullptr;
    if (!image)
        return nullptr;
    const QString path = image->imagePath();
    if (path.isEmpty())
        return nullptr;
    return VLImage::initWithContentsOfFile(path, false, why);
}

// The other picture turned three quarter turns, with the same colour
// filters (in the same order), opacity and turn: as if every setting had
// reached it from the start.
std::shared_ptr<VLImage> turnedPicture(const VLImage &source)
{
    std::shared_ptr<VLImage> turned = source.imageRotatedBy(3);
    if (!turned)
        return nullptr;
    // A picture puts a filter it lacks before the others: from the last on,
    // the chain ends in the source's order.
    const auto &filters = source.filters();
    for (auto f = filters.rbegin(); f != filters.rend(); ++f) {
        const auto &filter = *f;
        if (!filter)
            continue;
        const QVariantMap values = filter->values();
        for (auto it = values.begin(); it != values.end(); ++it)
            turned->setValue(it.value(), it.key(), filter->name());
    }
    turned->setOpacity(source.opacity());
    turned->setRotation(source.rotation());
    return turned;
}

} // namespace

KTFullFrameLayer::KTFullFrameLayer()
    : m_colorSettings(
          [this](const std::function<void(VLImage &)> &action) {
              for (VLImage *picture : pictures())
                  action(*picture);
          },
          [this](const char *key) {
              emit settingsChanged();
              didChangeValueForKey(QString::fromLatin1(key));
          })
{
    setControlNibName(QString::fromLatin1(kControlNibName));
    setLayerName(QString::fromLatin1(kDefaultLayerName));
    setDropShadow(false);
}

KTFullFrameLayer::~KTFullFrameLayer() = default;

QSet<QString> KTFullFrameLayer::keyPathsForValuesAffectingLayerChanged() const
{
    static const QSet<QString> keys{QStringLiteral("dropShadow"),      QStringLiteral("colorize"),
                                    QStringLiteral("saturationShift"), QStringLiteral("lightnessShift"),
                                    QStringLiteral("rotation"),        QStringLiteral("colorizationColor"),
                                    QStringLiteral("scale"),           QStringLiteral("hidden")};
    return keys;
}

QSet<QString> KTFullFrameLayer::keyPathsForValuesAffectingLayerChangedFastRedraw() const
{
    static const QSet<QString> keys{QStringLiteral("shadowLength"), QStringLiteral("opacity"), QStringLiteral("scale")};
    return keys;
}

std::vector<VLImage *> KTFullFrameLayer::pictures() const
{
    std::vector<VLImage *> result;
    if (m_frameImagePortrait)
        result.push_back(m_frameImagePortrait.get());
    if (m_frameImageLandscape && m_frameImageLandscape != m_frameImagePortrait)
        result.push_back(m_frameImageLandscape.get());
    return result;
}

bool KTFullFrameLayer::loadImages()
{
    KT_ASSERT(!imagesLoaded(), QStringLiteral("Loading images second time is not allowed"));
    Frame *frame = theFrame();
    if (!frame)
        return false;
    bool portraitNamed = false;
    bool landscapeNamed = false;
    platform::Error why;
    std::shared_ptr<VLImage> portrait = pictureOfAttribute(frame, kPortraitImageAttribute, &portraitNamed, &why);
    if (portraitNamed && !portrait)
        notePictureFailure(why);
    std::shared_ptr<VLImage> landscape = pictureOfAttribute(frame, kLandscapeImageAttribute, &landscapeNamed, &why);
    if (landscapeNamed && !landscape)
        notePictureFailure(why);
    m_unreadablePictures = (portraitNamed && !portrait) || (landscapeNamed && !landscape);
    if (portrait)
        m_imagesOrientations = PortraitOnly;
    if (landscape)
        m_imagesOrientations = portrait ? Both : LandscapeOnly;
    if (!portrait && !landscape)
        return false;
    m_frameImagePortrait = portrait;
    m_frameImageLandscape = landscape;
    m_actAsMask = frame->valueForAttribute(QString::fromLatin1(kActAsMaskAttribute)).toBool();
    setImagesLoaded(true);
    // A layer decoded before its pictures existed keeps its settings on them.
    m_colorSettings.applyToPictures();
    return true;
}

std::shared_ptr<VLImage> KTFullFrameLayer::frameImagePortrait() const
{
    if (!m_frameImagePortrait && m_imagesOrientations == LandscapeOnly && m_frameImageLandscape)
        m_frameImagePortrait = turnedPicture(*m_frameImageLandscape);
    return m_frameImagePortrait;
}

std::shared_ptr<VLImage> KTFullFrameLayer::frameImageLandscape() const
{
    if (!m_frameImageLandscape && m_imagesOrientations == PortraitOnly && m_frameImagePortrait)
        m_frameImageLandscape = turnedPicture(*m_frameImagePortrait);
    return m_frameImageLandscape;
}

QRectF KTFullFrameLayer::resultingRectForRect(const QRectF &r) const
{
    const double s = std::max(m_scale, 1.0);
    return r.adjusted(-(s - 1) * r.width() / 2, -(s - 1) * r.height() / 2, (s - 1) * r.width() / 2,
                      (s - 1) * r.height() / 2);
}

void KTFullFrameLayer::drawLayerForRect(const QRectF &r, bool highQuality, bool skipCache)
{
    const double s = m_scale;
    const QRectF d = integralRect(r.adjusted(-(s - 1) * r.width() / 2, -(s - 1) * r.height() / 2,
                                             (s - 1) * r.width() / 2, (s - 1) * r.height() / 2));
    if (d.isEmpty())
        return;
    std::shared_ptr<VLImage> picture = d.height() > d.width() ? frameImagePortrait() : frameImageLandscape();
    if (!picture)
        return;
    drawAsMask(m_actAsMask, [&] {
        drawWithShadowInRect(d, highQuality, false, d, [&] {
            if (highQuality)
                picture->drawInRect(d, skipCache);
            else
                picture->drawCachedInRect(d);
        });
    });
}

QVariantMap KTFullFrameLayer::reportForRealSize(const QSizeF &size) const
{
    QVariantMap report;
    auto *self = const_cast<KTFullFrameLayer *>(this);
    report.insert(QStringLiteral("Icon"), self->iconOfSize(QSizeF(72, 72)));
    report.insert(QStringLiteral("Title"), theFrame() ? theFrame()->name() : QString());
    report.insert(QStringLiteral("Size"), resultingRectForRect(QRectF(QPointF(0, 0), size)).size());
    return report;
}

QImage KTFullFrameLayer::iconOfSize(const QSizeF &size)
{
    if (!imagesLoaded() && !loadImages())
        return QImage();
    const bool mask = m_actAsMask;
    // The icon shows the frame's picture even when it erases in designs.
    m_actAsMask = false;
    QImage icon = iconFromDesignOfSize(size);
    m_actAsMask = mask;
    if (mask && !icon.isNull()) {
        QPainter p(&icon);
        p.setCompositionMode(QPainter::CompositionMode_SourceOver);
        // At (3, 3) from the lower left corner.
        const QImage badge = maskBadgeImage();
        p.drawImage(QPointF(3, icon.height() - 3 - badge.height()), badge);
    }
    return icon;
}

bool KTFullFrameLayer::validateValue(QVariant &value, const QString &keyPath) const
{
    return KTFrameColorSettings::validateValue(value, keyPath);
}

void KTFullFrameLayer::setScale(double scale)
{
    m_scale = scale;
    didChangeValueForKey(QStringLiteral("scale"));
}

void KTFullFrameLayer::applySettingsFromLayer(const KTFrameLayer &other)
{
    KTFrameLayer::applySettingsFromLayer(other);
    const auto *full = qobject_cast<const KTFullFrameLayer *>(&other);
    if (!full)
        return;
    m_colorSettings.applySettingsFrom(full->m_colorSettings);
    setRotation(full->rotation());
    setScale(full->scale());
}

std::shared_ptr<KTLayer> KTFullFrameLayer::copyForRendering() const
{
    auto copy = std::make_shared<KTFullFrameLayer>();
    copy->copyFrameFieldsFrom(*this);
    copy->m_imagesOrientations = m_imagesOrientations;
    copy->m_actAsMask = m_actAsMask;
    copy->m_colorSettings.copyValuesFrom(m_colorSettings);
    copy->m_frameImagePortrait = m_frameImagePortrait ? m_frameImagePortrait->copyForRendering() : nullptr;
    if (m_frameImageLandscape == m_frameImagePortrait)
        copy->m_frameImageLandscape = copy->m_frameImagePortrait;
    else
        copy->m_frameImageLandscape = m_frameImageLandscape ? m_frameImageLandscape->copyForRendering() : nullptr;
    copy->m_scale = m_scale;
    return copy;
}

// --- archive ---

void KTFullFrameLayer::encode(platform::KeyedArchiver &coder) const
{
    KTFrameLayer::encode(coder);
    m_colorSettings.encode(coder);
    coder.encodeDouble(m_scale, QStringLiteral("scale"));
}

void KTFullFrameLayer::decode(platform::KeyedUnarchiver &coder)
{
    KTFrameLayer::decode(coder);
    setControlNibName(QString::fromLatin1(kControlNibName));
    // The setters rebuild the pictures' filters.
    m_colorSettings.decode(coder);
    const double scale = coder.decodeDoubleForKey(QStringLiteral("scale"));
    setScale(std::isfinite(scale) && scale >= 0.1 ? scale : 1.0);
}

void KTFullFrameLayer::registerArchiveClass()
{
    static std::once_flag once;
    std::call_once(once, [] {
        platform::KeyedClassRegistry::shared().registerClass<KTFullFrameLayer>(QStringLiteral("KTFullFrameLayer"));
    });
}
