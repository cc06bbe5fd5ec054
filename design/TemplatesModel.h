#pragma once

#include "platform/objectstore/ManagedObjectModel.h"

#include <memory>

// The model both template stores share: Variation and Tag, many to many.
class TemplatesModel
{
public:
    // Raised only by adding to the model; stores migrate additively.
    static constexpr int kVersion = 1;
    static std::shared_ptr<const platform::ManagedObjectModel> shared();
};
