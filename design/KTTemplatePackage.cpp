#include "design/KTTemplatePackage.h"

#include "design/DesignArchiveClasses.h"
#include "design/KTFrameLayer.h"
#include "design/KTImageLayer.h"
#include "design/KTLayer.h"
#include "design/KTLayerKinds.h"
#include "design/Tag.h"
#include "design/VLImage.h"
#include "design/VLImageMetadataManager.h"
#include "design/Variation.h"
#include "kit/ImageAdditions.h"
#include "kit/VLWAnalytics.h"
#include "platform/Alert.h"
#include "platform/Assert.h"
#include "platform/Log.h"
#include "platform/TypeTable.h"
#include "platform/archive/Archiver.h"
#include "platform/archive/KeyedArchiver.h"
#include "platform/archive/KeyedClassRegistry.h"
#include "platform/archive/KeyedUnarchiver.h"
#include "platform/archive/Unarchiver.h"
#include "platform/render/DrawingContext.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cmath>
#include <mutex>

namespace {

QString entryName(const char *name)
{
    return QString::fromLatin1(name);
}

// The tag names of a "Keywords" entry: strings only, blanks left out.
std::optional<QStringList> keywordsFrom(const QByteArray &data)
{
    const platform::Unarchiver::Result result = platform::Unarchiver::unarchiveObjectWithData(data);
    if (!result.ok() || !result.object.isValid())
        return std::nullopt;
    QVariantList items;
    if (result.object.typeId() == QMetaType::QVariantList)
        items = result.object.toList();
    else if (result.object.typeId() == QMetaType::QStringList)
        for (const QString &s : result.object.toStringList())
            items.append(s);
    else
        return std::nullopt;
    QStringList names;
    for (const QVariant &item : items) {
        if (item.typeId() == QMetaType::QString && !item.toString().isEmpty())
            names.append(item.toString());
    }
    return names;
}

} // namespace

// --- archive ---

void KTTemplatePackage::encode(const KTTemplate &d, platform::KeyedArchiver &coder)
{
    coder.encodeBool(d.m_drawShadows, QStringLiteral("drawShadows"));
    coder.encodeBool(d.m_exportExternalShadow, QStringLiteral("exportExternalShadow"));
    coder.encodeFloat(float(d.m_shadowAngle), QStringLiteral("shadowAngle"));
    coder.encodeFloat(float(d.m_shadowOffset), QStringLiteral("shadowOffset"));
    coder.encodeObjects(d.m_layers, QStringLiteral("layers"), true);
    coder.encodeString(d.m_name, QStringLiteral("name"));
}

void KTTemplatePackage::decode(KTTemplate &d, platform::KeyedUnarchiver &coder)
{
    for (const KTLayerKind &kind : KTLayerKinds::all()) {
        if (!kind.archivedAlias.isEmpty())
            coder.setClass(kind.className, kind.archivedAlias);
    }

    d.m_drawShadows = coder.decodeBoolForKey(QStringLiteral("drawShadows"));
    d.m_exportExternalShadow = coder.containsValueForKey(QStringLiteral("exportExternalShadow"))
                               && coder.decodeBoolForKey(QStringLiteral("exportExternalShadow"));
    d.m_shadowAngle = coder.decodeFloatForKey(QStringLiteral("shadowAngle"));
    d.m_shadowOffset = coder.decodeFloatForKey(QStringLiteral("shadowOffset"));
    // Values no drawing could use are a damaged archive's; the defaults stand in.
    if (!std::isfinite(d.m_shadowAngle))
        d.m_shadowAngle = 180;
    if (!std::isfinite(d.m_shadowOffset))
        d.m_shadowOffset = 0.2;
    // Counted before any layer is made: each costs time and memory.
    if (const qsizetype count = coder.archivedCountForKey(QStringLiteral("layers"));
        count > KTTemplate::kMaxLayers && coder.appliesCountLimits()) {
        coder.refuseWithReason(QStringLiteral("the design holds %1 layers, more than the %2 a design may hold")
                                   .arg(count)
                                   .arg(KTTemplate::kMaxLayers));
        return;
    }
    const KTTemplate::LayerList layers = coder.decodeArrayOfObjectsOfClassForKey<KTLayer>(QStringLiteral("layers"));
    const QString name = coder.decodeStringForKey(QStringLiteral("name"));
    d.m_name = name.isNull() ? QString::fromLatin1(KTTemplate::kDefaultName) : name;
    if (coder.hasError())
        return;

    qsizetype photoLayers = 0;
    for (const KTTemplate::LayerPtr &layer : layers) {
        if (!layer) {
            coder.failWithError(QStringLiteral("the design's layer list holds an empty entry"));
            return;
        }
        if (KTTemplate::isImageLayer(layer.get()))
            ++photoLayers;
    }
    if (photoLayers > 1 || (photoLayers == 1 && !KTTemplate::isImageLayer(layers.last().get()))) {
        coder.failWithError(QStringLiteral("the design's photo layer is not its innermost layer"));
        return;
    }
    if (photoLayers == 0 && !layers.isEmpty()) {
        coder.failWithError(QStringLiteral("the design has layers but no photo layer"));
        return;
    }
    // The outer shadow widens the picture written by its offset: one this
    // far would make it many times the photo's size.
    for (const KTTemplate::LayerPtr &layer : layers) {
        const auto *frame = qobject_cast<const KTFrameLayer *>(layer.get());
        const double reach =
            frame ? std::abs(frame->shadowOffsetScaleFactor() * frame->shadowLength() * d.m_shadowOffset) : 0.0;
        if (reach > KTTemplate::kMaxShadowReach) {
            static_assert(KTTemplate::kMaxShadowReach == 1.0, "the reason says the farthest is one side's length");
            const QString layer = frame->layerName().isEmpty()
                                      ? QStringLiteral("a layer")
                                      : QStringLiteral("the layer \u201c%1\u201d").arg(frame->layerName());
            coder.failWithError(QStringLiteral("the shadow of %1 falls %2 times the length of the layer's shorter "
                                               "side away from it; a design's shadow may fall no farther than that "
                                               "length")
                                    .arg(layer)
                                    .arg(reach, 0, 'g', 3));
            return;
        }
    }
    d.m_layers = layers;
    for (const KTTemplate::LayerPtr &layer : std::as_const(d.m_layers)) {
        d.observeLayer(layer.get());
        layer->setInTemplate(&d);
    }
}

void KTTemplatePackage::registerArchiveClass()
{
    static std::once_flag once;
    std::call_once(once, [] {
        platform::KeyedClassRegistry::shared().registerClass<KTTemplate>(QStringLiteral("KTTemplate"));
    });
}

QByteArray KTTemplatePackage::dataForArchiving(const KTTemplate &d)
{
    registerDesignArchiveClasses();
    // Not owned here: the archiver only reads the design while this call runs.
    const std::shared_ptr<const platform::Coding> root(static_cast<const platform::Coding *>(&d),
                                                       [](const platform::Coding *) {});
    platform::KeyedArchiver archiver;
    archiver.encodeObject(root, QString::fromLatin1(kTemplateArchiveKey));
    archiver.finishEncoding();
    return archiver.encodedData();
}

std::shared_ptr<KTTemplate> KTTemplatePackage::templateFromData(const QByteArray &data,
                                                                platform::ManagedObjectContext *library,
                                                                platform::Error *error, bool ownArchive)
{
    const auto fail = [error](const platform::Error &why) -> std::shared_ptr<KTTemplate> {
        platform::logLine(QStringLiteral("Can't read the design template: %1").arg(why.description));
        if (error)
            *error = why;
        return nullptr;
    };
    if (data.isEmpty())
        return fail(platform::describedError(QStringLiteral("no data")));
    registerDesignArchiveClasses();
    platform::KeyedUnarchiver unarchiver(data);
    unarchiver.setDecodingContext(library);
    unarchiver.setReadsNamedFiles(ownArchive);
    unarchiver.setAppliesCountLimits(!ownArchive);
    QVariant root;
    {
        // Layers showing one frame share its pictures' pixels.
        const VLImage::SharedReads shared;
        root = unarchiver.decodeObjectForKey(QString::fromLatin1(kTemplateArchiveKey));
    }
    unarchiver.finishDecoding();
    if (unarchiver.hasError())
        return fail(unarchiver.error());
    auto design = std::dynamic_pointer_cast<KTTemplate>(root.value<std::shared_ptr<platform::Coding>>());
    if (!design)
        return fail(platform::describedError(QStringLiteral("the archive holds no design")));
    design->setMetadataManager(std::make_shared<VLImageMetadataManager>());
    return design;
}

// --- package ---

std::shared_ptr<KTTemplate> KTTemplatePackage::templateFromVariation(const Variation *variation,
                                                                     platform::ManagedObjectContext *library,
                                                                     platform::Error *error)
{
    if (!variation) {
        platform::logLine(QStringLiteral("No stored design to rebuild a design from."));
        return nullptr;
    }
    const QByteArray data = variation->data();
    if (data.isEmpty()) {
        platform::logLine(QStringLiteral("The stored design \"%1\" has no data.").arg(variation->name()));
        return nullptr;
    }
    std::shared_ptr<KTTemplate> design = templateFromData(data, library, error);
    if (!design)
        return nullptr;
    design->setName(variation->name());
    design->setVariationGUID(variation->guid());
    return design;
}

platform::FileWrapper KTTemplatePackage::fileWrapperWithImageLayer(KTTemplate &d, bool withImage, const QStringList &tagNames,
                                                            const QString &guid)
{
    platform::FileWrapper package = platform::FileWrapper::directory();
    package.addRegularFile(entryName(kTemplateEntry), dataForArchiving(d));

    if (withImage) {
        const auto photo = d.photoLayer();
        const QString path = photo && photo->image() ? photo->image()->originalImageFilePath() : QString();
        if (!path.isEmpty() && QFileInfo(path).isFile()) {
            if (std::optional<platform::FileWrapper> file = platform::FileWrapper::readFromPath(path);
                file && file->isRegularFile()) {
                platform::FileWrapper imageFolder = platform::FileWrapper::directory();
                imageFolder.addFileWrapper(QFileInfo(path).fileName(), *file);
                package.addFileWrapper(entryName(kImageEntry), imageFolder);
            }
        }
    }
    if (!tagNames.isEmpty()) {
        QVariantList names;
        for (const QString &name : tagNames)
            names.append(name);
        package.addRegularFile(entryName(kKeywordsEntry), platform::Archiver::archivedDataWithRootObject(names));
    }
    if (!guid.isEmpty())
        package.addRegularFile(entryName(kGUIDEntry), guid.toLatin1());

    const QImage icon = d.iconOfSize(QSizeF(kPreviewSide, kPreviewSide), withImage);
    platform::FileWrapper quickLook = platform::FileWrapper::directory();
    quickLook.addRegularFile(entryName(kPreviewEntry), VLKit::jpgDataWithCompression(icon, 0.5));
    quickLook.addRegularFile(entryName(kThumbnailEntry), VLKit::jpgDataWithCompression(icon, 0.3));
    package.addFileWrapper(entryName(kQuickLookEntry), quickLook);
    return package;
}

bool KTTemplatePackage::saveToURL(KTTemplate &d, const QUrl &url, const QStringList &tagNames, const QString &guid, bool withImage)
{
    VLWAnalytics::trackEventProperties(entryName(kTemplatesEvent),
                                       QVariantMap{{QStringLiteral("Action"), QStringLiteral("Save")},
                                                   {QStringLiteral("WithImage"), withImage}});
    const platform::FileWrapper package = fileWrapperWithImageLayer(d, withImage, tagNames, guid);
    platform::Error error;
    if (!url.isLocalFile() || !package.writeToPath(url.toLocalFile(), &error)) {
        if (error.isNull())
            error.description = QStringLiteral("The template couldn't be saved to \"%1\".").arg(url.toString());
        platform::AlertRequest alert;
        alert.messageText = error.description;
        alert.informativeText = error.recoverySuggestion;
        alert.style = platform::AlertRequest::Style::Critical;
        platform::runAlert(alert);
        return false;
    }
    // The package's extension is shown as any folder name is: nothing to hide here.
    return true;
}

std::shared_ptr<KTTemplate> KTTemplatePackage::templateFromFileWrapper(const platform::FileWrapper &wrapper,
                                                                       platform::ManagedObjectContext *library,
                                                                       QStringList *tagNames, platform::Error *error)
{
    QByteArray archive;
    std::optional<QStringList> keywords;
    if (wrapper.isDirectory()) {
        const platform::FileWrapper *templateEntry = wrapper.entry(entryName(kTemplateEntry));
        if (!templateEntry || !templateEntry->isRegularFile()) {
            if (error)
                *error = platform::describedError(QStringLiteral("the folder holds no design"));
            return nullptr;
        }
        archive = templateEntry->regularFileContents();
        if (tagNames) {
            const platform::FileWrapper *keywordsEntry = wrapper.entry(entryName(kKeywordsEntry));
            if (keywordsEntry && keywordsEntry->isRegularFile())
                keywords = keywordsFrom(keywordsEntry->regularFileContents());
        }
    } else {
        archive = wrapper.regularFileContents();
    }
    std::shared_ptr<KTTemplate> design = templateFromData(archive, library, error, false);
    if (!design)
        return nullptr;
    if (keywords && tagNames)
        *tagNames = *keywords;
    if (wrapper.isDirectory()) {
        const platform::FileWrapper *guidEntry = wrapper.entry(entryName(kGUIDEntry));
        if (guidEntry && guidEntry->isRegularFile()) {
            const QString guid = QString::fromLatin1(guidEntry->regularFileContents()).trimmed();
            if (!guid.isEmpty())
                design->setVariationGUID(guid);
        }
    }
    return design;
}

std::optional<platform::FileWrapper> KTTemplatePackage::fileWrapperForURL(const QUrl &url)
{
    platform::Error error;
    std::optional<platform::FileWrapper> wrapper;
    if (url.isLocalFile())
        wrapper = platform::FileWrapper::readFromPath(url.toLocalFile(), &error);
    else
        error.description = QStringLiteral("Not a file.");
    if (!wrapper)
        platform::logLine(QString::fromLatin1(kFileWrapperFailedFormat).arg(url.toString(), error.description));
    return wrapper;
}

bool KTTemplatePackage::isTemplateAtURL(const QUrl &url)
{
    return url.isLocalFile()
           && platform::TypeTable::typeForFile(url.toLocalFile()) == QLatin1String(platform::TypeTable::kTemplate);
}

QString KTTemplatePackage::imageFilePathInPackage(const QUrl &url)
{
    if (!url.isLocalFile())
        return {};
    const QDir imageFolder(url.toLocalFile() + QLatin1Char('/') + entryName(kImageEntry));
    const QFileInfoList files = imageFolder.entryInfoList(QDir::Files | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo &file : files) {
        if (!file.isSymLink())
            return file.absoluteFilePath();
    }
    return {};
}

Variation *KTTemplatePackage::variationFromTemplate(const KTTemplate *design, platform::ManagedObjectContext *moc)
{
    KT_ASSERT(design, QStringLiteral("Invalid parameter not satisfying: template"));
    KT_ASSERT(moc, QStringLiteral("Invalid parameter not satisfying: moc"));

    QImage icon(Variation::kIconSide, Variation::kIconSide, QImage::Format_ARGB32_Premultiplied);
    icon.fill(Qt::transparent);
    {
        platform::DrawingContext ctx(icon);
        // Drawing an icon touches only transient drawing state of the design.
        const_cast<KTTemplate *>(design)->drawIconToRect(QRectF(0, 0, Variation::kIconSide, Variation::kIconSide));
    }

    const QString carriedGUID = design->variationGUID();
    if (!carriedGUID.isEmpty())
        KT_ASSERT(!Variation::variationWithGUID(carriedGUID, moc),
                  QStringLiteral("Variation with this GUID already exists"));

    Variation *variation = Variation::insertInManagedObjectContext(moc);
    variation->setIcon(icon);
    const QString name = design->name();
    if (!name.isEmpty() && name != QLatin1String(KTTemplate::kDefaultName))
        variation->setName(name);
    variation->setData(design->dataForArchiving());
    if (!carriedGUID.isEmpty())
        variation->setGuid(carriedGUID);
    KT_ASSERT(!variation->data().isEmpty(), QStringLiteral("Invalid parameter not satisfying: newVariation.data"));
    return variation;
}

int KTTemplatePackage::importTemplatesFromURLs(const QList<QUrl> &urls, platform::ManagedObjectContext *moc,
                                               platform::ManagedObjectContext *library, QStringList *guids)
{
    VLWAnalytics::trackEventProperties(entryName(kTemplatesEvent),
                                       QVariantMap{{QStringLiteral("Action"), QStringLiteral("Import")}});
    if (!moc) {
        platform::logLine(QStringLiteral("No templates store to import designs into."));
        return 0;
    }
    int added = 0;
    for (const QUrl &url : urls) {
        const std::optional<platform::FileWrapper> wrapper = fileWrapperForURL(url);
        if (!wrapper)
            continue;
        QStringList tagNames;
        std::shared_ptr<KTTemplate> design = templateFromFileWrapper(*wrapper, library, &tagNames);
        if (!design) {
            platform::logLine(QStringLiteral("No design in \"%1\"; skipped.").arg(url.toString()));
            continue;
        }
        auto manager = std::make_shared<VLImageMetadataManager>();
        manager->setMetadata(design->originalMetadata());
        design->setMetadataManager(manager);
        if (!design->variationGUID().isEmpty()) {
            if (Variation *stored = Variation::variationWithGUID(design->variationGUID(), moc)) {
                if (guids)
                    guids->append(stored->guid());
                continue;
            }
        }
        // A design named as one already stored gets a name of its own:
        // twins could not be told apart in the lists.
        const QString name = design->name();
        for (int number = 2; !name.isEmpty() && Variation::variationWithName(design->name(), moc); ++number)
            design->setName(QStringLiteral("%1 %2").arg(name).arg(number));
        Variation *variation = variationFromTemplate(design.get(), moc);
        if (!variation)
            continue;
        ++added;
        if (guids)
            guids->append(variation->guid());
        for (const QString &name : std::as_const(tagNames)) {
            Tag *tag = Tag::tagWithName(name, moc);
            if (!tag) {
                tag = Tag::insertInManagedObjectContext(moc);
                tag->setName(name);
            }
            variation->addTagsObject(tag);
        }
    }
    return added;
}
