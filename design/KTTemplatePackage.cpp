// KTTemplate's package side: the folder document a design is saved as and
// read from, and the import of packages into the templates store.

#include "design/KTImageLayer.h"
#include "design/KTTemplate.h"
#include "design/Tag.h"
#include "design/TemplatesStore.h"
#include "design/VLImage.h"
#include "design/VLImageMetadataManager.h"
#include "design/Variation.h"
#include "kit/NSImageVLKit.h"
#include "kit/VLWAnalytics.h"
#include "platform/Alert.h"
#include "platform/Log.h"
#include "platform/TypeTable.h"
#include "platform/archive/Archiver.h"
#include "platform/archive/Unarchiver.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

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

std::shared_ptr<KTTemplate> KTTemplate::templateFromVariation(const Variation *variation)
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
    std::shared_ptr<KTTemplate> design = templateFromData(data);
    if (!design)
        return nullptr;
    design->setName(variation->name());
    design->setVariationGUID(variation->guid());
    return design;
}

platform::FileWrapper KTTemplate::fileWrapperWithImageLayer(bool withImage, const QStringList &tagNames,
                                                            const QString &guid)
{
    platform::FileWrapper package = platform::FileWrapper::directory();
    package.addRegularFile(entryName(kTemplateEntry), dataForArchiving());

    if (withImage) {
        const auto photo = photoLayer();
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

    const QImage icon = iconOfSize(QSizeF(kPreviewSide, kPreviewSide), withImage);
    platform::FileWrapper quickLook = platform::FileWrapper::directory();
    quickLook.addRegularFile(entryName(kPreviewEntry), VLKit::jpgDataWithCompression(icon, 0.5));
    quickLook.addRegularFile(entryName(kThumbnailEntry), VLKit::jpgDataWithCompression(icon, 0.3));
    package.addFileWrapper(entryName(kQuickLookEntry), quickLook);
    return package;
}

bool KTTemplate::saveToURL(const QUrl &url, const QStringList &tagNames, const QString &guid, bool withImage)
{
    VLWAnalytics::trackEventProperties(entryName(kTemplatesEvent),
                                       QVariantMap{{QStringLiteral("Action"), QStringLiteral("Save")},
                                                   {QStringLiteral("WithImage"), withImage}});
    const platform::FileWrapper package = fileWrapperWithImageLayer(withImage, tagNames, guid);
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

std::shared_ptr<KTTemplate> KTTemplate::templateFromFileWrapper(const platform::FileWrapper &wrapper,
                                                                QStringList *tagNames)
{
    QByteArray archive;
    std::optional<QStringList> keywords;
    if (wrapper.isDirectory()) {
        const platform::FileWrapper *templateEntry = wrapper.entry(entryName(kTemplateEntry));
        if (!templateEntry || !templateEntry->isRegularFile())
            return nullptr;
        archive = templateEntry->regularFileContents();
        if (tagNames) {
            const platform::FileWrapper *keywordsEntry = wrapper.entry(entryName(kKeywordsEntry));
            if (keywordsEntry && keywordsEntry->isRegularFile())
                keywords = keywordsFrom(keywordsEntry->regularFileContents());
        }
    } else {
        archive = wrapper.regularFileContents();
    }
    std::shared_ptr<KTTemplate> design = templateFromData(archive);
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

std::optional<platform::FileWrapper> KTTemplate::fileWrapperForURL(const QUrl &url)
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

bool KTTemplate::isTemplateAtURL(const QUrl &url)
{
    return url.isLocalFile()
           && platform::TypeTable::typeForFile(url.toLocalFile()) == QLatin1String(platform::TypeTable::kTemplate);
}

QString KTTemplate::imageFilePathInPackage(const QUrl &url)
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

int KTTemplate::importTemplatesFromURLs(const QList<QUrl> &urls, platform::ManagedObjectContext *moc)
{
    VLWAnalytics::trackEventProperties(entryName(kTemplatesEvent),
                                       QVariantMap{{QStringLiteral("Action"), QStringLiteral("Import")}});
    if (!moc && TemplatesStore::shared())
        moc = TemplatesStore::shared()->templatesManagedObjectContext();
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
        std::shared_ptr<KTTemplate> design = templateFromFileWrapper(*wrapper, &tagNames);
        if (!design) {
            platform::logLine(QStringLiteral("No design in \"%1\"; skipped.").arg(url.toString()));
            continue;
        }
        auto manager = std::make_shared<VLImageMetadataManager>();
        manager->setMetadata(design->originalMetadata());
        design->setMetadataManager(manager);
        if (!design->variationGUID().isEmpty() && Variation::variationWithGUID(design->variationGUID(), moc))
            continue;
        Variation *variation = Variation::variationFromTemplate(design.get(), moc);
        if (!variation)
            continue;
        ++added;
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
