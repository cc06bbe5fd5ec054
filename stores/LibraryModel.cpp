#include "stores/LibraryModel.h"

#include "stores/Frame.h"
#include "stores/FrameAttribute.h"
#include "stores/FrameCollection.h"
#include "stores/FrameImage.h"
#include "stores/FrameSet.h"
#include "stores/FrameType.h"

using namespace platform;

std::shared_ptr<const ManagedObjectModel> LibraryModel::shared()
{
    static const std::shared_ptr<const ManagedObjectModel> model = std::make_shared<ManagedObjectModel>(
        QList<EntityDescription>{FrameCollection::entityDescription(), FrameSet::entityDescription(),
                                 Frame::entityDescription(), FrameAttribute::entityDescription(),
                                 FrameImage::entityDescription(), FrameType::entityDescription()},
        kVersion);
    return model;
}

QList<AttributeDescription> LibraryModel::commonItemAttributes()
{
    return {
        {QStringLiteral("name"), AttributeType::String},
        {QStringLiteral("adescription"), AttributeType::String},
        {QStringLiteral("url"), AttributeType::String},
        {QStringLiteral("guid"), AttributeType::String, {}, false, false, true},
        {QStringLiteral("flags"), AttributeType::Integer64},
        {QStringLiteral("customInfo"), AttributeType::Bytes, {}, false, true},
        {QStringLiteral("lastModified"), AttributeType::Date},
        {QStringLiteral("lastUpdated"), AttributeType::Date},
    };
}

VLBlocksAdditions::PredicateBlock LibraryModel::guidEquals(const QString &guid)
{
    return [guid] {
        return Predicate([guid](const ManagedObject &o) {
            const int index = o.entity().attributeIndex(QStringLiteral("guid"));
            return index >= 0 && o.value(index).toString() == guid && !guid.isNull();
        });
    };
}
