#pragma once

#include "kit/VLBlocksAdditions.h"

// The same shortcuts asked of an object: its own entity in its own context.
namespace VLBlockAdditions {

qsizetype countObjectsWithPredicateBlock(const platform::ManagedObject &object,
                                         const VLBlocksAdditions::PredicateBlock &predicateBlock);
QList<platform::ManagedObject *> objectsWithPredicateBlock(const platform::ManagedObject &object,
                                                           const VLBlocksAdditions::PredicateBlock &predicateBlock);

} // namespace VLBlockAdditions
