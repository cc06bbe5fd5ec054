#include "platform/objectstore/ManagedObjectModel.h"

#include <stdexcept>

namespace platform {

namespace {
[[noreturn]] void modelFault(const QString &text)
{
    throw std::logic_error(("object model: " + text).toStdString());
}
} // namespace

ManagedObjectModel::ManagedObjectModel(QList<EntityDescription> entities, int version)
    : m_entities(std::move(entities)), m_version(version)
{
    for (int e = 0; e < m_entities.size(); ++e) {
        EntityDescription &entity = m_entities[e];
        entity.index = e;
        if (!entity.factory)
            modelFault(entity.name + " has no factory");
        // Change tracking keeps one bit per property.
        if (entity.attributes.size() > 64 || entity.relationships.size() > 64)
            modelFault(entity.name + " has too many properties");
    }
    for (EntityDescription &entity : m_entities) {
        for (RelationshipDescription &rel : entity.relationships) {
            rel.destinationIndex = entityIndex(rel.destination);
            if (rel.destinationIndex < 0)
                modelFault(entity.name + "." + rel.name + " has no destination");
            const EntityDescription &dest = m_entities.at(rel.destinationIndex);
            rel.inverseIndex = dest.relationshipIndex(rel.inverse);
            if (rel.inverseIndex < 0)
                modelFault(entity.name + "." + rel.name + " has no inverse");
            const RelationshipDescription &inv = dest.relationships.at(rel.inverseIndex);
            if (inv.destination != entity.name || inv.inverse != rel.name)
                modelFault(entity.name + "." + rel.name + " and its inverse disagree");
        }
    }
}

const EntityDescription *ManagedObjectModel::entityNamed(const QString &name) const
{
    const int i = entityIndex(name);
    return i < 0 ? nullptr : &m_entities.at(i);
}

int ManagedObjectModel::entityIndex(const QString &name) const
{
    for (int i = 0; i < m_entities.size(); ++i)
        if (m_entities.at(i).name == name)
            return i;
    return -1;
}

bool ManagedObjectModel::ownsJoinTable(const EntityDescription &entity, const RelationshipDescription &relationship)
{
    if (entity.name != relationship.destination)
        return entity.name < relationship.destination;
    return relationship.name < relationship.inverse;
}

bool ManagedObjectModel::isManyToMany(const EntityDescription &entity, int relationship) const
{
    const RelationshipDescription &rel = entity.relationships.at(relationship);
    if (!rel.toMany)
        return false;
    return m_entities.at(rel.destinationIndex).relationships.at(rel.inverseIndex).toMany;
}

} // namespace platform
