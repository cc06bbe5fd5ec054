#include "design/TemplatesModel.h"

#include "design/Tag.h"
#include "design/Variation.h"

std::shared_ptr<const platform::ManagedObjectModel> TemplatesModel::shared()
{
    static const std::shared_ptr<const platform::ManagedObjectModel> model = std::make_shared<platform::ManagedObjectModel>(
        QList<platform::EntityDescription>{Variation::entityDescription(), Tag::entityDescription()}, kVersion);
    return model;
}
