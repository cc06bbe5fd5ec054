#pragma once

#include <QList>
#include <QString>
#include <QVariant>

#include <functional>
#include <memory>

namespace platform {

class ManagedObject;

enum class AttributeType { String, Integer64, Double, Boolean, Date, Bytes };

enum class DeleteRule { Nullify, Cascade };

struct AttributeDescription {
    AttributeDescription() = default;
    AttributeDescription(QString name_, AttributeType type_, QVariant defaultValue_ = QVariant(), bool transient_ = false,
                         bool lazy_ = false, bool indexed_ = false)
        : name(std::move(name_)), type(type_), defaultValue(std::move(defaultValue_)), transient(transient_),
          lazy(lazy_), indexed(indexed_)
    {
    }

    QString name;
    AttributeType type = AttributeType::String;
    QVariant defaultValue;   // invalid = nil
    bool transient = false;  // kept in memory only, never stored
    bool lazy = false;       // bytes left on disk until asked for
    bool indexed = false;
};

struct RelationshipDescription {
    RelationshipDescription() = default;
    RelationshipDescription(QString name_, QString destination_, QString inverse_, bool toMany_,
                            DeleteRule deleteRule_ = DeleteRule::Nullify)
        : name(std::move(name_)), destination(std::move(destination_)), inverse(std::move(inverse_)),
          toMany(toMany_), deleteRule(deleteRule_)
    {
    }

    QString name;
    QString destination;     // entity name
    QString inverse;         // relationship name on the destination
    bool toMany = false;
    DeleteRule deleteRule = DeleteRule::Nullify;
    // Filled in by the model.
    int destinationIndex = -1;
    int inverseIndex = -1;
};

// An entity: its attributes and relationships, and how to make its objects.
struct EntityDescription {
    QString name;
    QList<AttributeDescription> attributes;
    QList<RelationshipDescription> relationships;
    std::function<std::unique_ptr<ManagedObject>()> factory;
    int index = -1; // position in the model, set by the model

    int attributeIndex(const QString &attributeName) const;
    int relationshipIndex(const QString &relationshipName) const;
};

} // namespace platform
