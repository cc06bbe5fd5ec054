#include "kit/VLBlockAdditions.h"

namespace VLBlockAdditions {

qsizetype countObjectsWithPredicateBlock(const platform::ManagedObject &object,
                                         const VLBlocksAdditions::PredicateBlock &predicateBlock)
{
    if (!object.managedObjectContext())
        return 0;
    return VLBlocksAdditions::countObjectsOfEntityNamed(*object.managedObjectContext(), object.entity().name,
                                                        predicateBlock);
}

QList<platform::ManagedObject *> objectsWithPredicateBlock(const platform::ManagedObject &object,
                                                           const VLBlocksAdditions::PredicateBlock &predicateBlock)
{
    if (!object.managedObjectContext())
        return {};
    return VLBlocksAdditions::fetchObjectsOfEntityNamed(*object.managedObjectContext(), object.entity().name,
                                                        predicateBlock);
}

} // namespace VLBlockAdditions
