#include "design/Tag.h"

#include "design/Variation.h"
#include "kit/VLBlocksAdditions.h"

using namespace platform;

EntityDescription Tag::entityDescription()
{
    EntityDescription e;
    e.name = entityName();
    e.attributes = {{QStringLiteral("name"), AttributeType::String, {}, false, false, true}};
    e.relationships = {{QStringLiteral("variations"), Variation::entityName(), QStringLiteral("tags"), true}};
    e.factory = [] { return std::make_unique<Tag>(); };
    return e;
}

QList<Variation *> Tag::variations() const
{
    return toManyAs<Variation>(Variations);
}

Tag *Tag::tagWithName(const QString &name, ManagedObjectContext *moc)
{
    if (!moc || name.isNull())
        return nullptr;
    return VLBlocksAdditions::fetchOne<Tag>(*moc, [name] {
        return Predicate([name](const ManagedObject &o) { return static_cast<const Tag &>(o).name() == name; });
    });
}
