#pragma once

#include "kit/VLBlocksAdditions.h"
#include "platform/objectstore/ManagedObjectModel.h"

#include <memory>

// The frame library's model: six entities in one store.
class LibraryModel
{
public:
    // Raised only by adding to the model; the store migrates additively.
    static constexpr int kVersion = 1;
    static std::shared_ptr<const platform::ManagedObjectModel> shared();

    // The attributes collections, sets and frames share, in LibraryItem's order.
    static QList<platform::AttributeDescription> commonItemAttributes();
    // "guid = %@" for any library entity.
    static VLBlocksAdditions::PredicateBlock guidEquals(const QString &guid);
};
