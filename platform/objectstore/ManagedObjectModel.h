#pragma once

#include "platform/objectstore/EntityDescription.h"

#include <QList>
#include <QString>

#include <memory>

namespace platform {

// A set of entities with a schema version. Versions only grow, and a later
// version only adds entities, attributes and relationships.
class ManagedObjectModel
{
public:
    // Resolves relationship targets and inverses; raises an internal
    // inconsistency when the description is not whole (a programming error).
    ManagedObjectModel(QList<EntityDescription> entities, int version);

    int version() const { return m_version; }
    const QList<EntityDescription> &entities() const { return m_entities; }
    const EntityDescription *entityNamed(const QString &name) const;
    const EntityDescription &entityAt(int index) const { return m_entities.at(index); }
    int entityIndex(const QString &name) const;

    // The many-to-many side whose join table holds the rows.
    static bool ownsJoinTable(const EntityDescription &entity, const RelationshipDescription &relationship);
    bool isManyToMany(const EntityDescription &entity, int relationship) const;

private:
    QList<EntityDescription> m_entities;
    int m_version;
};

} // namespace platform
