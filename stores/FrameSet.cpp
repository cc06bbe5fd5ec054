#include "stores/FrameSet.h"

#include "kit/VLBlocksAdditions.h"
#include "platform/objectstore/TextMatching.h"
#include "stores/Frame.h"
#include "stores/FrameCollection.h"
#include "stores/FrameImage.h"
#include "stores/LibraryModel.h"

using namespace platform;

EntityDescription FrameSet::entityDescription()
{
    EntityDescription e;
    e.name = entityName();
    e.attributes = LibraryModel::commonItemAttributes();
    e.relationships = {
        {QStringLiteral("framecollection"), FrameCollection::entityName(), QStringLiteral("framesets"), false},
        {QStringLiteral("frames"), Frame::entityName(), QStringLiteral("frameset"), true, DeleteRule::Cascade},
        {QStringLiteral("icon"), FrameImage::entityName(), QStringLiteral("setIcons"), false},
    };
    e.factory = [] { return std::make_unique<FrameSet>(); };
    return e;
}

FrameCollection *FrameSet::framecollection() const
{
    return toOneAs<FrameCollection>(Framecollection);
}

void FrameSet::setFramecollection(FrameCollection *collection)
{
    setToOne(Framecollection, collection);
}

QList<Frame *> FrameSet::frames() const
{
    return toManyAs<Frame>(Frames);
}

void FrameSet::addFramesObject(Frame *frame)
{
    addToMany(Frames, frame);
}

void FrameSet::removeFramesObject(Frame *frame)
{
    removeFromMany(Frames, frame);
}

FrameImage *FrameSet::icon() const
{
    return toOneAs<FrameImage>(Icon);
}

void FrameSet::setIcon(FrameImage *image)
{
    setToOne(Icon, image);
}

QList<LibraryItem *> FrameSet::children() const
{
    return toManyAs<LibraryItem>(Frames);
}

qsizetype FrameSet::numberOfChildrenNamedLike(const QString &text) const
{
    if (text.isEmpty() || !managedObjectContext())
        return numberOfChildren();
    const FrameSet *set = this;
    const QString folded = TextMatching::fold(text);
    return VLBlocksAdditions::countObjectsOfEntityNamed(*managedObjectContext(), Frame::entityName(), [set, folded] {
        return Predicate([set, folded](const ManagedObject &o) {
            const auto &frame = static_cast<const Frame &>(o);
            return frame.frameset() == set && TextMatching::fold(frame.name()).contains(folded);
        });
    });
}

void FrameSet::awakeFromInsert()
{
    setInsertDefaults(QStringLiteral("New Set"));
    setIcon(nullptr);
}

FrameSet *FrameSet::frameSetWithGUID(const QString &guid, ManagedObjectContext *moc)
{
    if (!moc)
        return nullptr;
    return VLBlocksAdditions::fetchOne<FrameSet>(*moc, LibraryModel::guidEquals(guid));
}
