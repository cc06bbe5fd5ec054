#include "design/KTTemplate.h"

#include "design/KTFrameLayer.h"
#include "design/KTLayer.h"
#include "design/DesignArchiveClasses.h"
#include "platform/Assert.h"
#include "platform/Log.h"
#include "platform/archive/KeyedArchiver.h"
#include "platform/archive/KeyedClassRegistry.h"
#include "platform/archive/KeyedUnarchiver.h"
#include "platform/Dispatch.h"
#include "platform/NotificationCenter.h"
#include "platform/render/DrawingContext.h"
#include "stores/Frame.h"

#include "design/KTImageLayer.h"
#include "design/VLImage.h"
#include "design/VLImageMetadataManager.h"
#include "design/KTProgressReportingDataProvider.h"
#include "platform/Bundle.h"
#include "platform/Log.h"
#include "platform/UserDefaults.h"
#include "platform/codec/CodecErrors.h"
#include "platform/codec/ImageEncoder.h"
#include "platform/imaging/ImageBuffer.h"
#include "platform/imaging/ImageProperties.h"
#include "platform/imaging/ParallelRows.h"

#include <QDateTime>
#include <QLocale>
#include <QThread>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <mutex>

namespace {

const QString kDPIWidthKey = QString::fromLatin1(platform::ImageProperty::kDPIWidth);
const QString kDPIHeightKey = QString::fromLatin1(platform::ImageProperty::kDPIHeight);

bool isUsableSize(double w, double h)
{
    return std::isfinite(w) && std::isfinite(h) && w > 0 && h > 0;
}

bool isUsableRect(const QRectF &r)
{
    return std::isfinite(r.x()) && std::isfinite(r.y()) && isUsableSize(r.width(), r.height());
}

bool isExactlyOverlay(const KTLayer *layer)
{
    const char *cls = layer->metaObject()->className();
    return qstrcmp(cls, "KTImageOverlayLayer") == 0 || qstrcmp(cls, "KTTextOverlayLayer") == 0;
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

// Clears a flag when the scope ends, whichever way it ends.
struct FlagReset {
    bool &flag;
    ~FlagReset() { flag = false; }
};

} // namespace

KTTemplate::KTTemplate()
    : m_name(QString::fromLatin1(kDefaultName))
    , m_imageSizeFormatter(&KTTemplate::defaultLengthString)
{
    connect(this, &KTTemplate::modelChangedFastRedraw, this,
            [this] { observeValueForKeyPath(ObservedKey::ModelChangedFastRedraw, nullptr); },
            Qt::DirectConnection);
}

KTTemplate::~KTTemplate()
{
    platform::NotificationCenter::defaultCenter().removeObservers(this);
    for (const LayerPtr &layer : std::as_const(m_layers)) {
        stopObservingLayer(layer.get());
        layer->removeObserversFromTemplate(this);
    }
    if (m_forcedRedraw && m_forcedRedraw->thread() != QThread::currentThread())
        m_forcedRedraw.release()->deleteLater();
}

// --- archive ---

QStringList KTTemplate::archiveClassNames() const
{
    return classNamesFromMetaObject(metaObject());
}

void KTTemplate::encode(platform::KeyedArchiver &coder) const
{
    coder.encodeBool(m_drawShadows, QStringLiteral("drawShadows"));
    coder.encodeBool(m_exportExternalShadow, QStringLiteral("exportExternalShadow"));
    coder.encodeFloat(float(m_shadowAngle), QStringLiteral("shadowAngle"));
    coder.encodeFloat(float(m_shadowOffset), QStringLiteral("shadowOffset"));
    coder.encodeObjects(m_layers, QStringLiteral("layers"), true);
    coder.encodeString(m_name, QStringLiteral("name"));
}

void KTTemplate::decode(platform::KeyedUnarchiver &coder)
{
    coder.setClass(QStringLiteral("KTImageOverlayLayer"), QString::fromLatin1(kImageWatermarkLayerClassName));
    coder.setClass(QStringLiteral("KTTextOverlayLayer"), QString::fromLatin1(kTextWatermarkLayerClassName));

    m_drawShadows = coder.decodeBoolForKey(QStringLiteral("drawShadows"));
    m_exportExternalShadow = coder.containsValueForKey(QStringLiteral("exportExternalShadow"))
                                 && coder.decodeBoolForKey(QStringLiteral("exportExternalShadow"));
    m_shadowAngle = coder.decodeFloatForKey(QStringLiteral("shadowAngle"));
    m_shadowOffset = coder.decodeFloatForKey(QStringLiteral("shadowOffset"));
    // Values no drawing could use are a damaged archive's; the defaults stand in.
    if (!std::isfinite(m_shadowAngle))
        m_shadowAngle = 180;
    if (!std::isfinite(m_shadowOffset))
        m_shadowOffset = 0.2;
    const LayerList layers = coder.decodeArrayOfObjectsOfClassForKey<KTLayer>(QStringLiteral("layers"));
    const QString name = coder.decodeStringForKey(QStringLiteral("name"));
    m_name = name.isNull() ? QString::fromLatin1(kDefaultName) : name;
    if (coder.hasError())
        return;

    qsizetype photoLayers = 0;
    for (const LayerPtr &layer : layers) {
        if (!layer) {
            coder.failWithError(QStringLiteral("the design's layer list holds an empty entry"));
            return;
        }
        if (isImageLayer(layer.get()))
            ++photoLayers;
    }
    if (photoLayers > 1 || (photoLayers == 1 && !isImageLayer(layers.last().get()))) {
        coder.failWithError(QStringLiteral("the design's photo layer is not its innermost layer"));
        return;
    }
    if (photoLayers == 0 && !layers.isEmpty()) {
        coder.failWithError(QStringLiteral("the design has layers but no photo layer"));
        return;
    }
    m_layers = layers;
    for (const LayerPtr &layer : std::as_const(m_layers)) {
        observeLayer(layer.get());
        layer->setInTemplate(this);
    }
}

void KTTemplate::registerArchiveClass()
{
    static std::once_flag once;
    std::call_once(once, [] {
        platform::KeyedClassRegistry::shared().registerClass<KTTemplate>(QStringLiteral("KTTemplate"));
    });
}

QByteArray KTTemplate::dataForArchiving() const
{
    registerDesignArchiveClasses();
    // Not owned here: the archiver only reads the design while this call runs.
    const std::shared_ptr<const platform::Coding> root(static_cast<const platform::Coding *>(this),
                                                       [](const platform::Coding *) {});
    platform::KeyedArchiver archiver;
    archiver.encodeObject(root, QString::fromLatin1(kTemplateArchiveKey));
    archiver.finishEncoding();
    return archiver.encodedData();
}

std::shared_ptr<KTTemplate> KTTemplate::templateFromData(const QByteArray &data, QString *error)
{
    const auto fail = [error](const QString &reason) -> std::shared_ptr<KTTemplate> {
        platform::logLine(QStringLiteral("Can't read the design template: %1").arg(reason));
        if (error)
            *error = reason;
        return nullptr;
    };
    if (data.isEmpty())
        return fail(QStringLiteral("no data"));
    registerDesignArchiveClasses();
    platform::KeyedUnarchiver unarchiver(data);
    const QVariant root = unarchiver.decodeObjectForKey(QString::fromLatin1(kTemplateArchiveKey));
    unarchiver.finishDecoding();
    if (unarchiver.hasError())
        return fail(unarchiver.errorString());
    auto design = std::dynamic_pointer_cast<KTTemplate>(root.value<std::shared_ptr<platform::Coding>>());
    if (!design)
        return fail(QStringLiteral("the archive holds no design"));
    design->setMetadataManager(std::make_shared<VLImageMetadataManager>());
    return design;
}

// --- layer list ---

KTTemplate::LayerPtr KTTemplate::layerAtIndex(qsizetype index) const
{
    if (index < 0 || index >= m_layers.size())
        return nullptr;
    return m_layers.at(index);
}

KTTemplate::LayerPtr KTTemplate::topmostLayer() const
{
    return m_layers.isEmpty() ? nullptr : m_layers.first();
}

bool KTTemplate::isImageLayer(const KTLayer *layer)
{
    return layer && layer->inherits("KTImageLayer");
}

std::shared_ptr<KTFrameLayer> KTTemplate::topmostFrameLayer() const
{
    for (const LayerPtr &layer : m_layers) {
        if (isExactlyOverlay(layer.get()))
            continue;
        return std::dynamic_pointer_cast<KTFrameLayer>(layer);
    }
    return nullptr;
}

KTTemplate::LayerPtr KTTemplate::layerAtHitPoint(const QPointF &point) const
{
    for (const LayerPtr &layer : m_layers) {
        if (layer->isHitAtPoint(point))
            return layer;
    }
    return nullptr;
}

qsizetype KTTemplate::indexOfLayer(const KTLayer *layer) const
{
    for (qsizetype i = 0; i < m_layers.size(); ++i) {
        if (m_layers.at(i).get() == layer)
            return i;
    }
    return -1;
}

void KTTemplate::observeLayer(KTLayer *layer)
{
    // Direct connections: a design copied for export is drawn on a worker
    // thread and must hear its layers there, not on the main thread.
    connect(layer, &KTLayer::layerChanged, this,
            [this, layer] { observeValueForKeyPath(ObservedKey::LayerChanged, layer); },
            Qt::DirectConnection);
    connect(layer, &KTLayer::layerChangedFastRedraw, this,
            [this, layer] { observeValueForKeyPath(ObservedKey::LayerChangedFastRedraw, layer); },
            Qt::DirectConnection);
}

void KTTemplate::stopObservingLayer(KTLayer *layer)
{
    disconnect(layer, &KTLayer::layerChanged, this, nullptr);
    disconnect(layer, &KTLayer::layerChangedFastRedraw, this, nullptr);
}

void KTTemplate::insertLayer(const LayerPtr &layer, qsizetype index)
{
    if (m_isDrawing || !layer)
        return;
    KT_ASSERT(index >= 0 && index <= m_layers.size(),
              QStringLiteral("layer index %1 beyond bounds 0..%2").arg(index).arg(m_layers.size()));
    layer->setInTemplate(this);
    // Icons and previews are no use of the frame: the recent list stays as it was.
    if (auto *frameLayer = qobject_cast<KTFrameLayer *>(layer.get());
        frameLayer && frameLayer->theFrame() && !m_usedForIconGeneration)
        frameLayer->theFrame()->setLastUsed(QDateTime::currentDateTime());
    m_layers.insert(index, layer);
    observeLayer(layer.get());
    postModelChangedNotification();
}

void KTTemplate::addLayer(const LayerPtr &layer, const LayerPtr &above)
{
    if (!above)
        return;
    const qsizetype index = indexOfLayer(above.get());
    // A layer that is not in the design marks no place to insert at.
    if (index < 0)
        return;
    insertLayer(layer, index);
}

void KTTemplate::addTopmostLayer(const LayerPtr &layer)
{
    insertLayer(layer, 0);
}

void KTTemplate::addTopmostFrameLayer(const LayerPtr &layer)
{
    qsizetype index = 0;
    while (index < m_layers.size() && isExactlyOverlay(m_layers.at(index).get()))
        ++index;
    insertLayer(layer, index);
}

void KTTemplate::removeLayer(const LayerPtr &layer)
{
    if (m_isDrawing || !layer)
        return;
    stopObservingLayer(layer.get());
    layer->removeObserversFromTemplate(this);
    const qsizetype index = indexOfLayer(layer.get());
    if (index >= 0)
        m_layers.removeAt(index);
    postModelChangedNotification();
}

void KTTemplate::moveLayer(const LayerPtr &layer, const LayerPtr &above)
{
    if (m_isDrawing)
        return;
    const qsizetype from = indexOfLayer(layer.get());
    const qsizetype to = indexOfLayer(above.get());
    if (from >= 0 && to >= 0 && from != to)
        m_layers.move(from, to);
    postModelChangedNotification();
}

void KTTemplate::replaceLayer(const LayerPtr &oldLayer, const LayerPtr &newLayer)
{
    if (m_isDrawing)
        return;
    addLayer(newLayer, oldLayer);
    removeLayer(oldLayer);
    postModelChangedNotification();
}

void KTTemplate::replaceDesignWith(const std::shared_ptr<KTTemplate> &other)
{
    if (m_isDrawing || !other || other.get() == this)
        return;
    setName(other->name());
    setDrawShadows(other->drawShadows());
    setShadowAngle(other->shadowAngle());
    setShadowOffset(other->shadowOffset());
    setExportExternalShadow(other->exportExternalShadow());

    while (!m_layers.isEmpty() && !isImageLayer(m_layers.first().get()))
        removeLayer(m_layers.first());

    const LayerList theirs = other->layers();
    const KTLayer *theirPhoto = (!theirs.isEmpty() && isImageLayer(theirs.last().get())) ? theirs.last().get() : nullptr;
    for (qsizetype i = theirs.size() - 1; i >= 0; --i) {
        const LayerPtr &layer = theirs.at(i);
        if (layer.get() == theirPhoto) {
            const auto from = std::static_pointer_cast<KTImageLayer>(layer);
            if (const auto mine = imageLayer()) {
                mine->setCropBottom(from->cropBottom());
                mine->setCropLeft(from->cropLeft());
                mine->setCropRight(from->cropRight());
                mine->setCropTop(from->cropTop());
                mine->setHidden(from->hidden());
            }
            continue;
        }
        // The layer now belongs to this design alone.
        other->stopObservingLayer(layer.get());
        addTopmostLayer(layer);
    }
}

void KTTemplate::doFromInnerLayer(const std::function<bool(const LayerPtr &)> &block) const
{
    const LayerList snapshot = m_layers;
    for (qsizetype i = snapshot.size() - 1; i >= 0; --i) {
        if (!block(snapshot.at(i)))
            return;
    }
}

// --- settings ---

void KTTemplate::setName(const QString &name)
{
    m_name = name;
}

void KTTemplate::setDrawShadows(bool draw)
{
    m_drawShadows = draw;
    emit modelChangedFastRedraw();
}

void KTTemplate::setShadowAngle(double degrees)
{
    m_shadowAngle = degrees;
    emit modelChangedFastRedraw();
}

void KTTemplate::setShadowOffset(double offset)
{
    m_shadowOffset = offset;
    emit modelChangedFastRedraw();
}

void KTTemplate::setExportExternalShadow(bool on)
{
    m_exportExternalShadow = on;
    postModelChangedNotification();
}

void KTTemplate::setIsLockedAspectRatio(bool locked)
{
    m_isLockedAspectRatio = locked;
    if (locked)
        postModelChangedNotification();
}

void KTTemplate::setLockedAspectRatio(double ratio)
{
    m_lockedAspectRatio = ratio;
    if (m_isLockedAspectRatio)
        postModelChangedNotification();
}

void KTTemplate::setRealWidth(double width)
{
    m_realWidth = width;
    updateFramedSize();
}

void KTTemplate::setMetadataManager(std::shared_ptr<VLImageMetadataManager> manager)
{
    m_metadataManager = std::move(manager);
    emit metadataManagerChanged();
}

QString KTTemplate::defaultLengthString(double length)
{
    if (!std::isfinite(length))
        return QString();
    QLocale locale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    QString text = locale.toString(length, 'f', 2);
    const QString point = locale.decimalPoint();
    if (text.contains(point)) {
        while (text.endsWith(QLatin1Char('0')))
            text.chop(1);
        if (text.endsWith(point))
            text.chop(point.size());
    }
    if (text == QLatin1String("-0"))
        text = QStringLiteral("0");
    return text;
}

void KTTemplate::setImageSizeFormatter(LengthFormatter formatter)
{
    m_imageSizeFormatter = std::move(formatter);
}

const QObject *KTTemplate::onlyHQLayer() const
{
    if (m_onlyHQIsDesign)
        return this;
    return m_onlyHQLayer.get();
}

void KTTemplate::setOnlyHQLayer(const LayerPtr &layer)
{
    m_onlyHQLayer = layer;
    m_onlyHQIsDesign = false;
}

void KTTemplate::setOnlyHQLayerToDesign()
{
    m_onlyHQLayer.reset();
    m_onlyHQIsDesign = true;
}

void KTTemplate::clearOnlyHQLayer()
{
    m_onlyHQLayer.reset();
    m_onlyHQIsDesign = false;
}

// --- export metadata ---

void KTTemplate::setMetadataValue(const QVariant &value, const QString &key)
{
    if (value.isValid())
        m_metadataForExport.insert(key, value);
    else
        m_metadataForExport.remove(key);
}

QVariant KTTemplate::exportMetadataForKey(const QString &key) const
{
    return m_metadataForExport.value(key);
}

// --- notifications ---

void KTTemplate::observeValueForKeyPath(ObservedKey key, KTLayer *layer)
{
    if (m_exportMode)
        return;
    if (key == ObservedKey::LayerChanged) {
        LayerPtr strong = layer ? layer->weak_from_this().lock() : nullptr;
        if (strong)
            setOnlyHQLayer(strong);
        else
            setOnlyHQLayerToDesign();
        postLayerChangedNotification();
    } else {
        setOnlyHQLayerToDesign();
        postLayerChangedNotification();
    }
    updateFramedSize();
}

void KTTemplate::postModelChangedNotification()
{
    if (m_isLockedAspectRatio)
        cropToFitToLockedAspectRatio();
    platform::NotificationCenter::defaultCenter().post(QString::fromLatin1(kModelChangedNotification), this);
    updateFramedSize();
}

void KTTemplate::postLayerChangedNotification()
{
    if (m_suppressLayerChangedNotification)
        return;
    m_suppressLayerChangedNotification = true;
    FlagReset reset{m_suppressLayerChangedNotification};
    if (m_isLockedAspectRatio)
        cropToFitToLockedAspectRatio();
    platform::NotificationCenter::defaultCenter().post(QString::fromLatin1(kLayerChangedNotification), this);
}

void KTTemplate::forceRedraw()
{
    platform::NotificationCenter::defaultCenter().post(QString::fromLatin1(kLayerChangedNotification), this,
                                                       QVariantMap());
}

void KTTemplate::scheduleForcedRedraw()
{
    if (m_forcedRedraw && m_forcedRedraw->thread() != QThread::currentThread())
        m_forcedRedraw.release()->deleteLater();
    if (!m_forcedRedraw) {
        // The timer may outlive the design when the design ends on another
        // thread; a weak link keeps the late request from reaching it.
        std::weak_ptr<KTTemplate> weak = weak_from_this();
        const bool shared = !weak.expired();
        m_forcedRedraw = std::make_unique<platform::Debouncer>(kForcedRedrawDelay, [this, weak, shared] {
            if (!shared) {
                forceRedraw();
            } else if (auto self = weak.lock()) {
                self->forceRedraw();
            }
        });
    }
    // Re-arming replaces the request that is still pending.
    m_forcedRedraw->schedule();
}

// --- queries ---

bool KTTemplate::hasLayersThatMissGraphics() const
{
    for (const LayerPtr &layer : m_layers) {
        if (const auto *frame = qobject_cast<const KTFrameLayer *>(layer.get()); frame && frame->missesFrameInLibrary())
            return true;
    }
    return false;
}

QVariantMap KTTemplate::dictionaryForAnalytics() const
{
    auto count = [this](const char *cls) {
        int n = 0;
        for (const LayerPtr &layer : m_layers) {
            if (qstrcmp(layer->metaObject()->className(), cls) == 0)
                ++n;
        }
        return n;
    };
    QVariantMap d;
    d.insert(QStringLiteral("Total Layers"), int(std::max<qsizetype>(0, m_layers.size() - 1)));
    d.insert(QStringLiteral("Full frames"), count("KTFullFrameLayer"));
    d.insert(QStringLiteral("Molding frames"), count("KTMoldingFrameLayer"));
    d.insert(QStringLiteral("Corner frames"), count("KTCornerFrameLayer"));
    d.insert(QStringLiteral("Color mats"), count("KTColorMatLayer"));
    d.insert(QStringLiteral("Text Overlay"), count("KTTextOverlayLayer"));
    d.insert(QStringLiteral("Image Overlay"), count("KTImageOverlayLayer"));
    d.insert(QStringLiteral("Shadow"), m_exportExternalShadow);
    return d;
}

QVariantList KTTemplate::reportForRealSize() const
{
    const QSizeF size = sizeOfPreFramedImageForWidth(m_realWidth);
    if (size.isEmpty())
        return {};
    return reportForRealSize(size);
}

QVariantList KTTemplate::reportForRealSize(const QSizeF &size) const
{
    QVariantList report;
    if (!isUsableSize(size.width(), size.height()))
        return report;
    QSizeF current = size;
    doFromInnerLayer([&](const LayerPtr &layer) {
        if (layer->hidden() && !isImageLayer(layer.get()))
            return true;
        report.append(layer->reportForRealSize(current));
        current = layer->resultingRectForRect(QRectF(QPointF(0, 0), current)).size();
        return true;
    });
    return report;
}

void KTTemplate::updateFramedSize()
{
    if (m_usedForIconGeneration)
        return;
    const QSizeF pre = sizeOfPreFramedImageForWidth(m_realWidth);
    QString text;
    if (isUsableSize(pre.width(), pre.height())) {
        const QRectF framed = finalRectFromStartRect(QRectF(QPointF(0, 0), pre), true);
        text = QStringLiteral("%1 x %2").arg(lengthStringFrom(framed.width()), lengthStringFrom(framed.height()));
    }
    m_framedSizeString = text;
    emit framedSizeStringChanged();
}

QString KTTemplate::lengthStringFrom(double length) const
{
    return m_imageSizeFormatter ? m_imageSizeFormatter(length) : defaultLengthString(length);
}

// --- geometry and drawing ---

QRectF KTTemplate::finalRectFromStartRect(const QRectF &rect, bool withOuterShadow) const
{
    QRectF r = rect;
    doFromInnerLayer([&](const LayerPtr &layer) {
        if (layer->hidden() && !isImageLayer(layer.get()))
            return true;
        r = layer->resultingRectForRect(r);
        return true;
    });
    if (withOuterShadow && m_exportExternalShadow) {
        if (const auto frame = topmostFrameLayer(); frame && frame->shouldDrawShadow())
            r = frame->rectWithShadowForRect(r);
    }
    return r;
}

QRectF KTTemplate::finalRectFromStartRectForIcon(const QRectF &rect) const
{
    QRectF r = rect;
    doFromInnerLayer([&](const LayerPtr &layer) {
        if (layer->hidden() || isImageLayer(layer.get()))
            return true;
        r = layer->resultingRectForRect(r);
        return true;
    });
    return r;
}

QRectF KTTemplate::fittedImageRect(const QRectF &r, bool icon, bool withOuterShadow) const
{
    if (!isUsableRect(r))
        return QRectF();
    const QRectF f = icon ? finalRectFromStartRectForIcon(r) : finalRectFromStartRect(r, withOuterShadow);
    if (!isUsableRect(f))
        return QRectF();
    const double s = std::min(r.width() / f.width(), r.height() / f.height());
    QRectF i(r.x() + r.width() * (1 - s) / 2, r.y() + r.height() * (1 - s) / 2, r.width() * s, r.height() * s);
    // Centre the framed design, not the photo, when layers grow unevenly.
    i.translate(((r.x() + r.width() / 2) - (f.x() + f.width() / 2)) * s,
                ((r.y() + r.height() / 2) - (f.y() + f.height() / 2)) * s);
    if (icon)
        i = integralRect(i);
    return i;
}

QRectF KTTemplate::finalFramedRectFittingStartRect(const QRectF &r) const
{
    if (!isUsableRect(r))
        return QRectF();
    const QRectF f = finalRectFromStartRect(r, false);
    if (!isUsableRect(f))
        return QRectF();
    const double s = std::min(r.width() / f.width(), r.height() / f.height());
    const QRectF i(r.x() + r.width() * (1 - s) / 2, r.y() + r.height() * (1 - s) / 2, r.width() * s, r.height() * s);
    return finalRectFromStartRect(i, false);
}

KTTemplate::LayerPtr KTTemplate::deselectFirstSelectedLayer()
{
    LayerPtr selected;
    doFromInnerLayer([&](const LayerPtr &layer) {
        if (!layer->isSelected())
            return true;
        selected = layer;
        layer->setIsSelected(false);
        return false;
    });
    return selected;
}

void KTTemplate::drawToRect(const QRectF &rect, bool highQuality, bool skipCache,
                            const ProgressCancelBlock &progressCancel, bool withOuterShadow)
{
    QRectF i = fittedImageRect(rect, false, withOuterShadow);
    if (i.isNull())
        return;
    m_isDrawing = true;
    FlagReset drawing{m_isDrawing};

    const LayerPtr selected = m_exportMode ? deselectFirstSelectedLayer() : nullptr;
    const LayerList snapshot = m_layers;
    const unsigned total = unsigned(snapshot.size());
    unsigned counter = 0;
    const bool hqLimited = m_onlyHQIsDesign || m_onlyHQLayer;
    for (qsizetype n = snapshot.size() - 1; n >= 0; --n) {
        const LayerPtr &layer = snapshot.at(n);
        const bool photo = isImageLayer(layer.get());
        if (layer->hidden()) {
            if (photo)
                i = layer->resultingRectForRect(i);
        } else {
            bool q = highQuality;
            if (!m_exportMode && hqLimited)
                q = highQuality && !m_onlyHQIsDesign && layer == m_onlyHQLayer;
            layer->drawLayerForRect(i, q, skipCache);
            i = layer->resultingRectForRect(i);
        }
        ++counter;
        if (progressCancel && progressCancel(counter, total))
            break;
    }
    if (selected)
        selected->setIsSelected(true);
    if (!m_exportMode && hqLimited) {
        clearOnlyHQLayer();
        scheduleForcedRedraw();
    }
}

void KTTemplate::drawIconToRect(const QRectF &rect)
{
    QRectF i = fittedImageRect(rect, true, false);
    if (i.isNull())
        return;
    m_isDrawing = true;
    FlagReset drawing{m_isDrawing};

    bool fill = true;
    doFromInnerLayer([&](const LayerPtr &layer) {
        const auto *frame = qobject_cast<const KTFrameLayer *>(layer.get());
        if (!frame || layer->hidden())
            return true;
        if (!frame->actAsMask()) {
            fill = false;
            return false;
        }
        return true;
    });
    const LayerPtr selected = deselectFirstSelectedLayer();
    if (fill) {
        if (platform::DrawingContext *ctx = platform::DrawingContext::current())
            ctx->fillRect(i, Qt::white);
    }
    doFromInnerLayer([&](const LayerPtr &layer) {
        if (layer->hidden() || isImageLayer(layer.get()))
            return true;
        layer->drawLayerForRect(i, false, false);
        i = layer->resultingRectForRect(i);
        return true;
    });
    if (selected)
        selected->setIsSelected(true);
}

QImage KTTemplate::iconOfSize(const QSizeF &size, bool withImageLayer)
{
    if (!isUsableSize(size.width(), size.height()))
        return QImage();
    QSizeF imageSize = size;
    if (withImageLayer)
        imageSize = finalFramedRectFittingStartRect(QRectF(QPointF(0, 0), size)).size();
    if (!isUsableSize(imageSize.width(), imageSize.height()))
        return QImage();
    const int w = std::max(1, int(std::lround(imageSize.width())));
    const int h = std::max(1, int(std::lround(imageSize.height())));
    QImage image(w, h, QImage::Format_ARGB32_Premultiplied);
    if (image.isNull())
        return QImage();
    image.fill(Qt::transparent);
    const bool wasExporting = m_exportMode;
    m_exportMode = true;
    {
        platform::DrawingContext ctx(image);
        if (withImageLayer)
            drawToRect(QRectF(0, 0, w, h), false, false, nullptr, false);
        else
            drawIconToRect(QRectF(0, 0, w, h));
    }
    m_exportMode = wasExporting;
    return image;
}

std::shared_ptr<KTTemplate> KTTemplate::copyForRendering() const
{
    auto copy = std::make_shared<KTTemplate>();
    copy->m_name = m_name;
    copy->m_metadataForExport = m_metadataForExport;
    copy->m_drawShadows = m_drawShadows;
    copy->m_shadowAngle = m_shadowAngle;
    copy->m_shadowOffset = m_shadowOffset;
    copy->m_metadataManager = m_metadataManager;
    copy->m_exportExternalShadow = m_exportExternalShadow;
    copy->m_usedForIconGeneration = m_usedForIconGeneration;
    copy->m_isLockedAspectRatio = m_isLockedAspectRatio;
    copy->m_realWidth = m_realWidth;
    copy->m_framedSizeString = m_framedSizeString;
    copy->m_lockedAspectRatio = m_lockedAspectRatio;
    copy->m_variationGUID = m_variationGUID;
    copy->m_imageSizeFormatter = m_imageSizeFormatter;
    for (const LayerPtr &layer : m_layers) {
        LayerPtr layerCopy = layer->copyForRendering();
        if (!layerCopy)
            continue;
        layerCopy->setInTemplate(copy.get());
        copy->m_layers.append(layerCopy);
        copy->observeLayer(layerCopy.get());
    }
    return copy;
}

// --- photo ---


std::shared_ptr<KTImageLayer> KTTemplate::imageLayer() const
{
    if (m_layers.isEmpty())
        return nullptr;
    const LayerPtr &last = m_layers.last();
    KT_ASSERT(isImageLayer(last.get()), QStringLiteral("[XSDocument imageLayer] returned non-image layer"));
    return std::static_pointer_cast<KTImageLayer>(last);
}

std::shared_ptr<KTImageLayer> KTTemplate::photoLayer() const
{
    // Frame-only designs (icons, previews) have no photo: their geometry
    // simply has no photo size, which is no misuse.
    if (m_layers.isEmpty() || !isImageLayer(m_layers.last().get()))
        return nullptr;
    return std::static_pointer_cast<KTImageLayer>(m_layers.last());
}

bool KTTemplate::importImage(const QUrl &fileUrl)
{
    if (m_isDrawing)
        return false;
    auto layer = std::make_shared<KTImageLayer>();
    layer->setImageFileName(fileUrl.toLocalFile());
    layer->setLayerName(QString::fromLatin1(kImageLayerName));
    layer->setControlNibName(QString::fromLatin1(kImageLayerControlNibName));
    layer->loadImage();
    if (!layer->image())
        return false;
    return replaceExistingImageLayerWith(layer);
}

bool KTTemplate::importCGImage(const QImage &image, const QUrl &originatedFrom)
{
    if (m_isDrawing)
        return false;
    auto layer = std::make_shared<KTImageLayer>();
    layer->setImageFileName(originatedFrom.toLocalFile());
    layer->setLayerName(QString::fromLatin1(kImageLayerName));
    layer->setControlNibName(QString::fromLatin1(kImageLayerControlNibName));
    layer->loadCGImage(image, originatedFrom);
    if (!layer->image())
        return false;
    return replaceExistingImageLayerWith(layer);
}

bool KTTemplate::replaceExistingImageLayerWith(const std::shared_ptr<KTImageLayer> &layer)
{
    if (const auto old = imageLayer())
        replaceLayer(old, layer);
    else
        insertLayer(layer, 0);
    const platform::ImageMetadata metadata = layer->image() ? layer->image()->metadata() : platform::ImageMetadata();
    QVariant dpi = metadata.isNull() ? QVariant() : metadata.value(kDPIWidthKey);
    if (!dpi.isValid())
        dpi = 72;
    setMetadataValue(dpi, kDPIWidthKey);
    setMetadataValue(dpi, kDPIHeightKey);
    auto manager = std::make_shared<VLImageMetadataManager>();
    manager->setMetadata(metadata);
    setMetadataManager(manager);
    return true;
}

platform::ImageMetadata KTTemplate::originalMetadata() const
{
    const auto layer = photoLayer();
    if (!layer || !layer->image())
        return {};
    return layer->image()->metadata();
}

QSizeF KTTemplate::originalImageSize() const
{
    const auto layer = photoLayer();
    if (!layer || !layer->image())
        return QSizeF();
    return layer->image()->originalSize();
}

QSizeF KTTemplate::sizeOfPreFramedImage() const
{
    const auto layer = photoLayer();
    if (!layer || !layer->image())
        return QSizeF();
    return layer->image()->croppedSizeFromSize(originalImageSize());
}

void KTTemplate::cropToFitToLockedAspectRatio()
{
    const auto layer = photoLayer();
    if (!layer || !layer->image())
        return;
    const QSizeF original = originalImageSize();
    const double w = original.width();
    const double h = original.height();
    double r = m_lockedAspectRatio;
    // No ratio, or none that a crop can reach: leave the crop alone.
    if (!isUsableSize(w, h) || !(r > 0) || !std::isfinite(r))
        return;
    const QPointF centre = layer->centerPoint();
    const double saved[4] = {layer->cropLeft(), layer->cropTop(), layer->cropRight(), layer->cropBottom()};
    layer->resetCropSetting();
    // The layers' growth is measured around the uncropped photo.
    const QRectF f = finalRectFromStartRect(QRectF(0, 0, w, h), true);
    double x = 0;
    if (isUsableRect(f)) {
        const double m = std::min(w, h);
        const double big = std::max(w, h);
        const double a = std::min(f.width(), f.height()) / m - 1;
        const double b = (std::max(f.width(), f.height()) - big) / m;
        if (preCroppedAspectRatio() < 1)
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


double KTTemplate::preCroppedAspectRatio() const
{
    const QSizeF size = originalImageSize();
    if (!isUsableSize(size.width(), size.height()))
        return 0;
    return size.width() / size.height();
}

QSizeF KTTemplate::sizeOfPreFramedImageForWidth(double width) const
{
    const QSizeF pre = sizeOfPreFramedImage();
    if (!isUsableSize(pre.width(), pre.height()) || !std::isfinite(width))
        return QSizeF();
    return QSizeF(width, pre.height() * width / pre.width());
}

QSizeF KTTemplate::sizeFromOriginalWithOuterShadow(bool withOuterShadow) const
{
    const QSizeF pre = sizeOfPreFramedImage();
    if (!isUsableSize(pre.width(), pre.height()))
        return QSizeF();
    return finalRectFromStartRect(QRectF(QPointF(0, 0), pre), withOuterShadow).size();
}

// --- export: rendering and encoding ---

void KTTemplate::setExportQuality(double quality)
{
    setMetadataValue(quality, QString::fromLatin1(platform::ImageProperty::kLossyCompressionQuality));
}

std::optional<double> KTTemplate::exportQuality() const
{
    const QVariant v = exportMetadataForKey(QString::fromLatin1(platform::ImageProperty::kLossyCompressionQuality));
    bool ok = false;
    const double q = v.toDouble(&ok);
    if (!v.isValid() || !ok || !std::isfinite(q))
        return std::nullopt;
    return std::clamp(q, 0.0, 1.0);
}

QSizeF KTTemplate::exportSizeFromPreferencesWithLastDrawnSize(const QSizeF &lastDrawnSize) const
{
    const platform::UserDefaults &defaults = platform::UserDefaults::standard();
    // The shell registers these; a design used without it still gets the same values.
    auto integer = [&](const char *key, qint64 fallback) {
        const QString k = QString::fromLatin1(key);
        return defaults.objectForKey(k).isValid() ? defaults.integerForKey(k) : fallback;
    };
    auto ratio = [this] {
        const QSizeF pre = sizeOfPreFramedImage();
        if (!isUsableSize(pre.width(), pre.height()))
            return 0.0;
        const QRectF framed = finalRectFromStartRect(QRectF(QPointF(0, 0), pre), true);
        return isUsableRect(framed) ? framed.width() / framed.height() : 0.0;
    };
    switch (integer(kExportSizeModificationKey, 0)) {
    case 0:
        return sizeFromOriginalWithOuterShadow(true);
    case 1:
        return lastDrawnSize;
    case 2: {
        const double h = double(integer(kExportFixHeightKey, 600));
        return QSizeF(h * ratio(), h);
    }
    case 3: {
        const double w = double(integer(kExportFixWidthKey, 800));
        const double q = ratio();
        return q > 0 ? QSizeF(w, w / q) : QSizeF();
    }
    default:
        return QSizeF(double(integer(kExportFixWidth2Key, 800)), double(integer(kExportFixHeight2Key, 600)));
    }
}

QColorSpace KTTemplate::colorSpace() const
{
    const auto layer = photoLayer();
    return layer && layer->image() ? layer->image()->colorSpace() : QColorSpace();
}

QColorSpace KTTemplate::copyColorSpaceForOutput() const
{
    const auto layer = photoLayer();
    return layer && layer->image() ? layer->image()->copyColorSpaceForExport() : QColorSpace(QColorSpace::SRgb);
}

QImage KTTemplate::newCGBitmapContextOfSize(const QSizeF &size, const ProgressCancelBlock &progressCancel,
                                            platform::Error *error)
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
        return QImage();
    }
    const int w = int(fw);
    const int h = int(fh);
    const qint64 bytes = qint64(w) * 4 * qint64(h);
    QImage bitmap;
    if (qint64(w) * 4 <= std::numeric_limits<int>::max()) {
        try {
            bitmap = platform::ImageBuffer::allocate(w, h);
        } catch (const std::bad_alloc &) {
            bitmap = QImage();
        }
    }
    if (bitmap.isNull()) {
        // Told to the caller: a worker never raises an alert itself.
        const QString text = QString::fromLatin1(kCouldNotAllocateText).arg(bytes);
        platform::logLine(QStringLiteral("ERROR: %1: %2").arg(QString::fromLatin1(kMemoryAllocationErrorText), text));
        if (error) {
            error->domain = QString::fromLatin1(platform::kKanteloErrorDomain);
            error->code = 1;
            error->description = QString::fromLatin1(kMemoryAllocationErrorText);
            error->recoverySuggestion = text;
        }
        return QImage();
    }
    // Zeroing first touches every page: spread it over the cores.
    uchar *bits = bitmap.bits();
    const qsizetype bpl = bitmap.bytesPerLine();
    platform::parallelRows(h, qint64(w) * h, [bits, bpl](int first, int end) {
        std::memset(bits + bpl * first, 0, size_t(bpl) * size_t(end - first));
    });
    bitmap.setColorSpace(copyColorSpaceForOutput());
    {
        platform::DrawingContext context(bitmap);
        drawToRect(QRectF(0, 0, w, h), true, true, progressCancel, true);
    }
    return bitmap;
}

KTTemplate::DataProvidedImage KTTemplate::newDataProvidedCGImageOfSize(const QSizeF &size,
                                                                       const ProgressBlock &progress,
                                                                       const CancelBlock &cancel,
                                                                       platform::Error *error)
{
    QImage bitmap = newCGBitmapContextOfSize(
        size,
        [this, &progress, &cancel](unsigned done, unsigned total) {
            if (progress && total > 0)
                progress(this, double(done) / double(total) * 100.0 * 0.5);
            return cancel ? cancel(this) : false;
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
    return KTCreateProgressReportingDataProvider(std::move(bitmap), this, std::move(second), cancel);
}

QImage KTTemplate::imageWithSize(const QSizeF &size)
{
    return newCGBitmapContextOfSize(size, nullptr);
}

platform::ExportMetadata KTTemplate::prepareMetadataForExport(const QSize &pixelSize) const
{
    std::optional<double> dpi;
    const QVariant v = exportMetadataForKey(kDPIWidthKey);
    bool ok = false;
    const double d = v.toDouble(&ok);
    if (v.isValid() && ok)
        dpi = d;
    return platform::ExportMetadata::prepare(originalMetadata(), dpi, pixelSize, platform::Bundle::shortVersionString());
}

std::optional<QByteArray> KTTemplate::newDataOfUti(const QString &uti, const DataProvidedImage &image,
                                                   platform::Error *error) const
{
    if (!image) {
        platform::codecError(error, platform::CodecError::EmptyImage, QStringLiteral("There is no picture to write."));
        return std::nullopt;
    }
    const QImage &bitmap = image->bitmap();
    return platform::ImageEncoder::encodeToData(
        bitmap, uti, prepareMetadataForExport(bitmap.size()), exportQuality(), error,
        [provider = image.get()](qint64 read, qint64 all) { return provider->readRows(read, all); });
}

bool KTTemplate::writeToURL(const QUrl &url, const QString &uti, const DataProvidedImage &image,
                            platform::Error *error) const
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
    return platform::ImageEncoder::writeToFile(
        url.toLocalFile(), bitmap, uti, prepareMetadataForExport(bitmap.size()), exportQuality(), error,
        [provider = image.get()](qint64 read, qint64 all) { return provider->readRows(read, all); });
}
