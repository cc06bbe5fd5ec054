#pragma once

#include "platform/Assert.h"
#include "platform/objectstore/FetchRequest.h"
#include "platform/objectstore/ManagedObjectContext.h"

namespace platform {

// The class operations every entity class carries, for T with a static
// entityName(). A missing context is a programming error.
template <class T> struct EntityClass {
    static T *insertInManagedObjectContext(ManagedObjectContext *moc_)
    {
        KT_ASSERT(moc_, QStringLiteral("Invalid parameter not satisfying: moc_"));
        return moc_->insert<T>();
    }
    static const EntityDescription *entityInManagedObjectContext(ManagedObjectContext *moc_)
    {
        KT_ASSERT(moc_, QStringLiteral("Invalid parameter not satisfying: moc_"));
        return moc_->model().entityNamed(T::entityName());
    }
    static FetchRequest fetchRequest() { return FetchRequest(T::entityName()); }
};

} // namespace platform
