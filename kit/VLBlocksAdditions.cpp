#include "kit/VLBlocksAdditions.h"

namespace VLBlocksAdditions {

using platform::FetchRequest;
using platform::ManagedObject;
using platform::ManagedObjectContext;
using platform::SortDescriptor;

namespace {
FetchRequest makeRequest(const QString &entityName, const QList<SortDescriptor> &sortDescriptors,
                         const PredicateBlock &predicateBlock, qsizetype limit)
{
    FetchRequest request(entityName);
    request.sortDescriptors = sortDescriptors;
    if (predicateBlock)
        request.predicate = predicateBlock();
    if (limit > 0)
        request.fetchLimit = limit;
    return request;
}
} // namespace

QList<ManagedObject *> fetchObjectsOfEntityNamed(const ManagedObjectContext &context, const QString &entityName,
                                                 const QList<SortDescriptor> &sortDescriptors,
                                                 const PredicateBlock &predicateBlock, qsizetype limit)
{
    return context.fetch(makeRequest(entityName, sortDescriptors, predicateBlock, limit));
}

QList<ManagedObject *> fetchObjectsOfEntityNamed(const ManagedObjectContext &context, const QString &entityName,
                                                 const QList<SortDescriptor> &sortDescriptors,
                                                 const PredicateBlock &predicateBlock)
{
    return fetchObjectsOfEntityNamed(context, entityName, sortDescriptors, predicateBlock, 0);
}

QList<ManagedObject *> fetchObjectsOfEntityNamed(const ManagedObjectContext &context, const QString &entityName,
                                                 const PredicateBlock &predicateBlock)
{
    return fetchObjectsOfEntityNamed(context, entityName, {}, predicateBlock, 0);
}

ManagedObject *fetchOneObjectOfEntityNamed(const ManagedObjectContext &context, const QString &entityName,
                                           const QList<SortDescriptor> &sortDescriptors,
                                           const PredicateBlock &predicateBlock)
{
    const QList<ManagedObject *> found = fetchObjectsOfEntityNamed(context, entityName, sortDescriptors, predicateBlock, 1);
    return found.isEmpty() ? nullptr : found.last();
}

ManagedObject *fetchOneObjectOfEntityNamed(const ManagedObjectContext &context, const QString &entityName,
                                           const PredicateBlock &predicateBlock)
{
    const QList<ManagedObject *> found = fetchObjectsOfEntityNamed(context, entityName, predicateBlock);
    return found.isEmpty() ? nullptr : found.last();
}

qsizetype countObjectsOfEntityNamed(const ManagedObjectContext &context, const QString &entityName,
                                    const PredicateBlock &predicateBlock)
{
    return context.count(makeRequest(entityName, {}, predicateBlock, 0));
}

std::unique_ptr<ManagedObjectContext> newChildContext(ManagedObjectContext &context)
{
    return context.newChildContext();
}

} // namespace VLBlocksAdditions
