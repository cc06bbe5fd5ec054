#include "design/KTTemplate.h"

#include "design/KTFrameLayer.h"
#include "design/KTImageLayer.h"
#include "design/KTImageOverlayLayer.h"
#include "design/KTLayer.h"
#include "design/KTLayerKinds.h"
#include "design/KTTemplatePackage.h"
#include "design/KTTemplateRenderer.h"
#include "design/VLImage.h"
#include "design/VLImageMetadataManager.h"
#include "platform/Assert.h"
#include "platform/Dispatch.h"
#include "platform/NotificationCenter.h"
#include "platform/imaging/ImageProperties.h"
#include "stores/Frame.h"

#include <QDateTime>
#include <QLocale>
#include <QScopeGuard>
#include <QScopedValueRollback>
#include <QThread>

#include <algorithm>
#include <cmath>

namespace {

const QString kDPIWidthKey = QString::fromLatin1(platform::ImageProperty::kDPIWidth);
const QString kDPIHeightKey = QString::fromLatin1(platform::ImageProperty::kDPIHeight);

bool isUsableSize(double w, double h)
{
    return KTTemplateRenderer::isUsableSize(w, h);
}

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

// --- archive and package: KTTemplatePackage ---

QStringList KTTemplate::archiveClassNames() const
{
    return classNamesFromMetaObject(metaObject());
}

void KTTemplate::encode(platform::KeyedArchiver &coder) const
{
    KTTemplatePackage::encode(*this, coder);
}

void KTTemplate::decode(platform::KeyedUnarchiver &coder)
{
    KTTemplatePackage::decode(*this, coder);
}

void KTTemplate::registerArchiveClass()
{
    KTTemplatePackage::registerArchiveClass();
}

QByteArray KTTemplate::dataForArchiving() const
{
    return KTTemplatePackage::dataForArchiving(*this);
}

std::shared_ptr<KTTemplate> KTTemplate::templateFromData(const QByteArray &data,
                                                         platform::ManagedObjectContext *library,
                                                         platform::Error *error)
{
    return KTTemplatePackage::templateFromData(data, library, error);
}

std::shared_ptr<KTTemplate> KTTemplate::templateFromVariation(const Variation *variation,
                                                              platform::ManagedObjectContext *library,
                                                              platform::Error *error)
{
    return KTTemplatePackage::templateFromVariation(variation, library, error);
}

platform::FileWrapper KTTemplate::fileWrapperWithImageLayer(bool withImage, const QStringList &tagNames,
                                                            const QString &guid)
{
    return KTTemplatePackage::fileWrapperWithImageLayer(*this, withImage, tagNames, guid);
}

bool KTTemplate::saveToURL(const QUrl &url, const QStringList &tagNames, const QString &guid, bool withImage)
{
    return KTTemplatePackage::saveToURL(*this, url, tagNames, guid, withImage);
}

std::shared_ptr<KTTemplate> KTTemplate::templateFromFileWrapper(const platform::FileWrapper &wrapper,
                                                                platform::ManagedObjectContext *library,
                                                                QStringList *tagNames, platform::Error *error)
{
    return KTTemplatePackage::templateFromFileWrapper(wrapper, library, tagNames, error);
}

std::optional<platform::FileWrapper> KTTemplate::fileWrapperForURL(const QUrl &url)
{
    return KTTemplatePackage::fileWrapperForURL(url);
}

bool KTTemplate::isTemplateAtURL(const QUrl &url)
{
    return KTTemplatePackage::isTemplateAtURL(url);
}

QString KTTemplate::imageFilePathInPackage(const QUrl &url)
{
    return KTTemplatePackage::imageFilePathInPackage(url);
}

int KTTemplate::importTemplatesFromURLs(const QList<QUrl> &urls, platform::ManagedObjectContext *moc,
                                        platform::ManagedObjectContext *library, QStringList *guids)
{
    return KTTemplatePackage::importTemplatesFromURLs(urls, moc, library, guids);
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
    return qobject_cast<const KTImageLayer *>(layer) != nullptr;
}

std::shared_ptr<KTFrameLayer> KTTemplate::topmostFrameLayer() const
{
    for (const LayerPtr &layer : m_layers) {
        if (KTLayerKinds::isOverlay(layer.get()))
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
    while (index < m_layers.size() && KTLayerKinds::isOverlay(m_layers.at(index).get()))
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

    // One announcement for the whole exchange: one per layer would each
    // measure every layer again, as many times over as there are layers.
    {
        const QScopedValueRollback<bool> replacing(m_replacingLayers, true);
        while (!m_layers.isEmpty() && !isImageLayer(m_layers.first().get()))
            removeLayer(m_layers.first());

        const LayerList theirs = other->layers();
        const KTLayer *theirPhoto =
            (!theirs.isEmpty() && isImageLayer(theirs.last().get())) ? theirs.last().get() : nullptr;
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
    postModelChangedNotification();
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
    if (m_replacingLayers)
        return;
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
    const auto reset = qScopeGuard([this] { m_suppressLayerChangedNotification = false; });
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
    return !namesOfLayersThatMissGraphics().isEmpty() || !namesOfMissingOverlayPictures().isEmpty();
}

QStringList KTTemplate::namesOfMissingOverlayPictures() const
{
    QStringList names;
    for (const LayerPtr &layer : m_layers) {
        const auto *overlay = qobject_cast<const KTImageOverlayLayer *>(layer.get());
        if (overlay && overlay->missesPicture())
            names << overlay->missingPictureName();
    }
    return names;
}

QStringList KTTemplate::namesOfUnreadOverlayPictures() const
{
    QStringList names;
    for (const LayerPtr &layer : m_layers) {
        const auto *overlay = qobject_cast<const KTImageOverlayLayer *>(layer.get());
        if (overlay && overlay->carriesUnreadPicture())
            names << overlay->missingPictureName();
    }
    return names;
}

QStringList KTTemplate::namesOfFramesLackingMemory() const
{
    QStringList names;
    for (const LayerPtr &layer : m_layers) {
        const auto *frame = qobject_cast<const KTFrameLayer *>(layer.get());
        if (frame && frame->picturesLackMemory())
            names << frame->layerName();
    }
    names.removeDuplicates();
    return names;
}

QStringList KTTemplate::namesOfLayersThatMissGraphics(bool undrawableOnly) const
{
    QStringList names;
    for (const LayerPtr &layer : m_layers) {
        const auto *frame = qobject_cast<const KTFrameLayer *>(layer.get());
        if (frame && frame->missesFrameInLibrary() && !(undrawableOnly && frame->drawsWithoutLibraryFrame()))
            names << frame->layerName();
    }
    return names;
}

QVariantMap KTTemplate::dictionaryForAnalytics() const
{
    QVariantMap d;
    d.insert(QStringLiteral("Total Layers"), int(std::max<qsizetype>(0, m_layers.size() - 1)));
    for (const KTLayerKind &kind : KTLayerKinds::all()) {
        if (!kind.countedLabel.isEmpty())
            d.insert(kind.countedLabel, 0);
    }
    for (const LayerPtr &layer : m_layers) {
        if (const KTLayerKind *kind = KTLayerKinds::of(layer.get()); kind && !kind->countedLabel.isEmpty())
            d[kind->countedLabel] = d.value(kind->countedLabel).toInt() + 1;
    }
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

bool KTTemplate::importImage(const QUrl &fileUrl, std::shared_ptr<VLImage> decoded)
{
    if (m_isDrawing)
        return false;
    auto layer = std::make_shared<KTImageLayer>();
    layer->setImageFileName(fileUrl.toLocalFile());
    layer->setLayerName(QString::fromLatin1(kImageLayerName));
    layer->setControlNibName(QString::fromLatin1(kImageLayerControlNibName));
    if (decoded)
        layer->loadDecodedImage(std::move(decoded));
    else
        layer->loadImage();
    if (!layer->image())
        return false;
    return replaceExistingImageLayerWith(layer);
}

bool KTTemplate::importCGImage(const QImage &image, const QUrl &originatedFrom, const platform::ImageMetadata &metadata)
{
    if (m_isDrawing)
        return false;
    auto layer = std::make_shared<KTImageLayer>();
    layer->setImageFileName(originatedFrom.toLocalFile());
    layer->setLayerName(QString::fromLatin1(kImageLayerName));
    layer->setControlNibName(QString::fromLatin1(kImageLayerControlNibName));
    layer->loadCGImage(image, originatedFrom, metadata);
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

// --- geometry, drawing and export: KTTemplateRenderer ---

QRectF KTTemplate::finalRectFromStartRect(const QRectF &rect, bool withOuterShadow) const
{
    return KTTemplateRenderer::finalRectFromStartRect(*this, rect, withOuterShadow);
}

QRectF KTTemplate::finalRectFromStartRectForIcon(const QRectF &rect) const
{
    return KTTemplateRenderer::finalRectFromStartRectForIcon(*this, rect);
}

QRectF KTTemplate::finalFramedRectFittingStartRect(const QRectF &rect) const
{
    return KTTemplateRenderer::finalFramedRectFittingStartRect(*this, rect);
}

void KTTemplate::drawToRect(const QRectF &rect, bool highQuality, bool skipCache,
                            const ProgressCancelBlock &progressCancel, bool withOuterShadow)
{
    KTTemplateRenderer::drawToRect(*this, rect, highQuality, skipCache, progressCancel, withOuterShadow);
}

void KTTemplate::drawIconToRect(const QRectF &rect)
{
    KTTemplateRenderer::drawIconToRect(*this, rect);
}

QImage KTTemplate::iconOfSize(const QSizeF &size, bool withImageLayer)
{
    return KTTemplateRenderer::iconOfSize(*this, size, withImageLayer);
}

QSizeF KTTemplate::originalImageSize() const
{
    return KTTemplateRenderer::originalImageSize(*this);
}

QSizeF KTTemplate::sizeOfPreFramedImage() const
{
    return KTTemplateRenderer::sizeOfPreFramedImage(*this);
}

double KTTemplate::preCroppedAspectRatio() const
{
    return KTTemplateRenderer::preCroppedAspectRatio(*this);
}

QSizeF KTTemplate::sizeOfPreFramedImageForWidth(double width) const
{
    return KTTemplateRenderer::sizeOfPreFramedImageForWidth(*this, width);
}

QSizeF KTTemplate::sizeFromOriginalWithOuterShadow(bool withOuterShadow) const
{
    return KTTemplateRenderer::sizeFromOriginalWithOuterShadow(*this, withOuterShadow);
}

QSize KTTemplate::framedPixelSize() const
{
    return KTTemplateRenderer::wholePixelSize(sizeFromOriginalWithOuterShadow(true));
}

std::optional<QSize> KTTemplate::leastPhotoSizeShown() const
{
    return KTTemplateRenderer::leastPhotoSizeShown(*this);
}

void KTTemplate::cropToFitToLockedAspectRatio()
{
    KTTemplateRenderer::cropToFitToLockedAspectRatio(*this);
}

QSizeF KTTemplate::exportSizeFromPreferencesWithLastDrawnSize(const QSizeF &lastDrawnSize,
                                                             const KTExportSizeSettings &settings) const
{
    return KTTemplateRenderer::exportSizeFromPreferencesWithLastDrawnSize(*this, lastDrawnSize, settings);
}

QColorSpace KTTemplate::colorSpace() const
{
    return KTTemplateRenderer::colorSpace(*this);
}

QColorSpace KTTemplate::copyColorSpaceForOutput() const
{
    return KTTemplateRenderer::copyColorSpaceForOutput(*this);
}

QImage KTTemplate::newCGBitmapContextOfSize(const QSizeF &size, const ProgressCancelBlock &progressCancel,
                                            platform::Error *error)
{
    return KTTemplateRenderer::newCGBitmapContextOfSize(*this, size, progressCancel, error);
}

KTTemplate::DataProvidedImage KTTemplate::newDataProvidedCGImageOfSize(const QSizeF &size,
                                                                       const ProgressBlock &progress,
                                                                       const CancelBlock &cancel,
                                                                       platform::Error *error)
{
    return KTTemplateRenderer::newDataProvidedCGImageOfSize(*this, size, progress, cancel, error);
}

QImage KTTemplate::imageWithSize(const QSizeF &size)
{
    return KTTemplateRenderer::imageWithSize(*this, size);
}

platform::ExportMetadata KTTemplate::prepareMetadataForExport(const QSize &pixelSize) const
{
    return KTTemplateRenderer::prepareMetadataForExport(*this, pixelSize);
}

std::optional<QByteArray> KTTemplate::newDataOfUti(const QString &uti, const DataProvidedImage &image,
                                                   platform::Error *error) const
{
    return KTTemplateRenderer::newDataOfUti(*this, uti, image, error);
}

bool KTTemplate::writeToURL(const QUrl &url, const QString &uti, const DataProvidedImage &image,
                            platform::Error *error) const
{
    return KTTemplateRenderer::writeToURL(*this, url, uti, image, error);
}

QString KTTemplate::reasonNotToDraw(const QSize &size, bool inBands) const
{
    return KTTemplateRenderer::reasonNotToDraw(*this, size, inBands);
}

bool KTTemplate::writeInBandsToURL(const QUrl &url, const QString &uti, const QSizeF &size,
                                   const ProgressBlock &progress, const CancelBlock &cancel, platform::Error *error,
                                   int bandRows)
{
    return KTTemplateRenderer::writeInBandsToURL(*this, url, uti, size, progress, cancel, error, bandRows);
}

