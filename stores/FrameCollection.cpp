#include "stores/FrameCollection.h"

#include "kit/VLBlocksAdditions.h"
#include "stores/FrameImage.h"
#include "stores/FrameSet.h"
#include "stores/LibraryModel.h"

using namespace platform;

EntityDescription FrameCollection::entityDescription()
{
    EntityDescription e;
    e.name = entityName();
    e.attributes = LibraryModel::commonItemAttributes();
    e.relationships = {
        {QStringLiteral("framesets"), FrameSet::entityName(), QStringLiteral("framecollection"), true, DeleteRule::Cascade},
        {QStringLiteral("icon"), FrameImage::entityName(), QStringLiteral("collectionIcons"), false},
    };
    e.factory = [] { return std::make_unique<FrameCollection>(); };
    return e;
}

QList<FrameSet *> FrameCollection::framesets() const
{
    return toManyAs<FrameSet>(Framesets);
}

void FrameCollection::addFramesetsObject(FrameSet *set)
{
    addToMany(Framesets, set);
}

void FrameCollection::removeFramesetsObject(FrameSet *set)
{
    removeFromMany(Framesets, set);
}

FrameImage *FrameCollection::icon() const
{
    return toOneAs<FrameImage>(Icon);
}

void FrameCollection::setIcon(FrameImage *image)
{
    setToOne(Icon, image);
}

QList<LibraryItem *> FrameCollection::children() const
{
    return toManyAs<LibraryItem>(Framesets);
}

void FrameCollection::awakeFromInsert()
{
    setInsertDefaults(QStringLiteral("New Collection"));
    setIcon(nullptr);
}

FrameCollection *FrameCollection::frameCollectionWithGUID(const QString &guid, ManagedObjectContext *moc)
{
    if (!moc)
        return nullptr;
    return VLBlocksAdditions::fetchOne<FrameCollection>(*moc, LibraryModel::guidEquals(guid));
}
