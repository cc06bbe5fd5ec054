#include "platform/objectstore/EntityDescription.h"

namespace platform {

int EntityDescription::attributeIndex(const QString &attributeName) const
{
    for (int i = 0; i < attributes.size(); ++i)
        if (attributes.at(i).name == attributeName)
            return i;
    return -1;
}

int EntityDescription::relationshipIndex(const QString &relationshipName) const
{
    for (int i = 0; i < relationships.size(); ++i)
        if (relationships.at(i).name == relationshipName)
            return i;
    return -1;
}

} // namespace platform
