#pragma once

#include <QList>
#include <QString>

#include <functional>

namespace platform {

class ManagedObject;

// A filter over loaded objects; empty matches everything.
using Predicate = std::function<bool(const ManagedObject &)>;

struct SortDescriptor {
    SortDescriptor() = default;
    SortDescriptor(QString key_, bool ascending_ = true, bool caseInsensitive_ = false)
        : key(std::move(key_)), ascending(ascending_), caseInsensitive(caseInsensitive_)
    {
    }

    QString key;              // attribute name
    bool ascending = true;
    bool caseInsensitive = false;
};

struct FetchRequest {
    FetchRequest() = default;
    FetchRequest(QString entityName_, Predicate predicate_ = {}, QList<SortDescriptor> sortDescriptors_ = {},
                 qsizetype fetchLimit_ = 0)
        : entityName(std::move(entityName_)), predicate(std::move(predicate_)),
          sortDescriptors(std::move(sortDescriptors_)), fetchLimit(fetchLimit_)
    {
    }

    QString entityName;
    Predicate predicate;
    QList<SortDescriptor> sortDescriptors;
    qsizetype fetchLimit = 0; // 0 or less: no limit
};

} // namespace platform
