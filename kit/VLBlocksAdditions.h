#pragma once

#include "platform/objectstore/FetchRequest.h"
#include "platform/objectstore/ManagedObjectContext.h"

#include <functional>
#include <memory>

// Fetch shortcuts on a context: a fetch is one call whose filter comes from a
// block answering a predicate. Fetches here run over loaded objects and
// cannot fail, so there is no error to present and a count is always a count.
namespace VLBlocksAdditions {

// Called once per fetch on the calling thread; an empty block, or a block
// answering an empty predicate, matches every object of the entity.
using PredicateBlock = std::function<platform::Predicate()>;

QList<platform::ManagedObject *> fetchObjectsOfEntityNamed(const platform::ManagedObjectContext &context,
                                                           const QString &entityName,
                                                           const QList<platform::SortDescriptor> &sortDescriptors,
                                                           const PredicateBlock &predicateBlock, qsizetype limit);
QList<platform::ManagedObject *> fetchObjectsOfEntityNamed(const platform::ManagedObjectContext &context,
                                                           const QString &entityName,
                                                           const QList<platform::SortDescriptor> &sortDescriptors,
                                                           const PredicateBlock &predicateBlock);
QList<platform::ManagedObject *> fetchObjectsOfEntityNamed(const platform::ManagedObjectContext &context,
                                                           const QString &entityName,
                                                           const PredicateBlock &predicateBlock);

// The last object of the sorted fetch limited to one; null when none.
platform::ManagedObject *fetchOneObjectOfEntityNamed(const platform::ManagedObjectContext &context,
                                                     const QString &entityName,
                                                     const QList<platform::SortDescriptor> &sortDescriptors,
                                                     const PredicateBlock &predicateBlock);
// The LAST object of the whole unsorted, unlimited fetch; null when none.
platform::ManagedObject *fetchOneObjectOfEntityNamed(const platform::ManagedObjectContext &context,
                                                     const QString &entityName,
                                                     const PredicateBlock &predicateBlock);

qsizetype countObjectsOfEntityNamed(const platform::ManagedObjectContext &context, const QString &entityName,
                                    const PredicateBlock &predicateBlock);

// A private-queue context whose parent is `context`; the caller owns it.
std::unique_ptr<platform::ManagedObjectContext> newChildContext(platform::ManagedObjectContext &context);

// Typed forms for entity classes (T::entityName()).
template <class T> T *fetchOne(const platform::ManagedObjectContext &context, const PredicateBlock &predicateBlock)
{
    return static_cast<T *>(fetchOneObjectOfEntityNamed(context, T::entityName(), predicateBlock));
}

template <class T>
QList<T *> fetchAll(const platform::ManagedObjectContext &context, const PredicateBlock &predicateBlock,
                    const QList<platform::SortDescriptor> &sortDescriptors = {}, qsizetype limit = 0)
{
    QList<T *> out;
    for (platform::ManagedObject *object :
         fetchObjectsOfEntityNamed(context, T::entityName(), sortDescriptors, predicateBlock, limit))
        out.append(static_cast<T *>(object));
    return out;
}

} // namespace VLBlocksAdditions
