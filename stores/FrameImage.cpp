#include "stores/FrameImage.h"

#include "kit/VLBlocks.h"
#include "kit/VLBlocksAdditions.h"
#include "platform/TypeTable.h"
#include "platform/imaging/ImageDecoder.h"
#include "stores/FrameAttribute.h"
#include "stores/FrameCollection.h"
#include "stores/FrameSet.h"
#include "stores/LibraryDates.h"
#include "stores/LibraryModel.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>


using namespace platform;

EntityDescription FrameImage::entityDescription()
{
    EntityDescription e;
    e.name = entityName();
    e.attributes = {
        {QStringLiteral("guid"), AttributeType::String, {}, false, false, true},
        {QStringLiteral("filename"), AttributeType::String},
        {QStringLiteral("dateAdded"), AttributeType::Date},
        {QStringLiteral("flags"), AttributeType::Integer64},
        {QStringLiteral("customInfo"), AttributeType::Bytes, {}, false, true},
    };
    e.relationships = {
        {QStringLiteral("attributes"), FrameAttribute::entityName(), QStringLiteral("imageVal"), true},
        {QStringLiteral("collectionIcons"), FrameCollection::entityName(), QStringLiteral("icon"), true},
        {QStringLiteral("setIcons"), FrameSet::entityName(), QStringLiteral("icon"), true},
    };
    e.factory = [] { return std::make_unique<FrameImage>(); };
    return e;
}

QList<FrameAttribute *> FrameImage::attributes() const
{
    return toManyAs<FrameAttribute>(Attributes);
}

QList<FrameCollection *> FrameImage::collectionIcons() const
{
    return toManyAs<FrameCollection>(CollectionIcons);
}

QList<FrameSet *> FrameImage::setIcons() const
{
    return toManyAs<FrameSet>(SetIcons);
}

QString FrameImage::imagesFolder(const ManagedObjectContext *moc)
{
    return moc ? moc->userInfoValue(QString::fromLatin1(kImagesFolderKey)).toString() : QString();
}

FrameImage *FrameImage::frameImageFromImageAtPath(const QString &path, ManagedObjectContext *moc)
{
    const QFileInfo source(path);
    const QString displayName = source.fileName();
    QString guid = NSObjectVLGUID::getGUID();
    const QString extension = source.suffix();
    if (!extension.isEmpty())
        guid += '.' + extension;
    const QString folder = imagesFolder(moc);
    if (folder.isEmpty() || !isSafeFileName(guid))
        return nullptr;
    if (!QFile::copy(path, QDir(folder).filePath(guid)))
        return nullptr;
    return insertFrameImageWithGUIDAndDisplayName(guid, displayName, moc);
}

FrameImage *FrameImage::insertFrameImageWithGUIDAndDisplayName(const QString &guid, const QString &displayName,
                                                               ManagedObjectContext *moc)
{
    FrameImage *image = insertInManagedObjectContext(moc);
    image->setFilename(displayName);
    image->setGuid(guid);
    image->setDateAdded(LibraryDates::now());
    return image;
}

FrameImage *FrameImage::frameImageWithGUID(const QString &guid, ManagedObjectContext *moc)
{
    if (!moc)
        return nullptr;
    return VLBlocksAdditions::fetchOne<FrameImage>(*moc, LibraryModel::guidEquals(guid));
}


QString FrameImage::imagePath() const
{
    const QString name = guid();
    const QString folder = imagesFolder(managedObjectContext());
    if (folder.isEmpty() || !isSafeFileName(name))
        return QString();
    return QDir(folder).filePath(name);
}

QImage FrameImage::image() const
{
    const QString path = imagePath();
    if (path.isEmpty())
        return QImage();
    QImageReader reader(path);
    reader.setAutoTransform(true);
    return platform::ImageDecoder::readsRaster(reader) ? reader.read() : QImage();
}

qsizetype FrameImage::timesUsed() const
{
    return toMany(Attributes).size() + toMany(CollectionIcons).size() + toMany(SetIcons).size();
}
