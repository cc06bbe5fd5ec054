#include "stores/FrameType.h"

#include "kit/VLBlocksAdditions.h"
#include "stores/Frame.h"

using namespace platform;

EntityDescription FrameType::entityDescription()
{
    EntityDescription e;
    e.name = entityName();
    e.attributes = {{QStringLiteral("name"), AttributeType::String, {}, false, false, true}};
    e.relationships = {{QStringLiteral("frames"), Frame::entityName(), QStringLiteral("frametype"), true}};
    e.factory = [] { return std::make_unique<FrameType>(); };
    return e;
}

QList<Frame *> FrameType::frames() const
{
    return toManyAs<Frame>(Frames);
}

FrameType *FrameType::frameTypeWithName(const QString &name, ManagedObjectContext *moc)
{
    if (!moc)
        return nullptr;
    return VLBlocksAdditions::fetchOne<FrameType>(*moc, [name] {
        return Predicate([name](const ManagedObject &o) { return static_cast<const FrameType &>(o).name() == name; });
    });
}
