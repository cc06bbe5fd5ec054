// Saving a context: into the store for a root context, into the parent for
// a child, with the will-save pass and the change tracking reset after.
#include "platform/objectstore/ManagedObjectContext.h"

#include "platform/Log.h"
#include "platform/objectstore/PersistentStore.h"
#include "platform/objectstore/ThreadCheck.h"
#include "platform/objectstore/UndoManager.h"

#include <QDateTime>

#include <tuple>

namespace platform {

struct ManagedObjectContext::ChildChanges {
    struct Change {
        ObjectID id;
        bool inserted = false;
        std::vector<std::pair<int, QVariant>> attributes;
        std::vector<std::pair<int, ObjectID>> toOnes;
        std::vector<std::tuple<int, QList<ObjectID>, QList<ObjectID>>> toMany; // relationship, added, removed
    };
    std::vector<Change> changes;
    std::vector<ObjectID> deleted;
};

bool ManagedObjectContext::hasChanges() const
{
    KT_CHECK_CONTEXT_THREAD(this);
    for (ManagedObject *object : m_dirty)
        if (object->hasChanges())
            return true;
    return false;
}

void ManagedObjectContext::runWillSave()
{
    ++m_suppressUndo;
    QSet<ManagedObject *> done;
    // A hook may change further objects; run until nothing new turns up.
    for (int round = 0; round < 4; ++round) {
        const QList<ManagedObject *> dirty(m_dirty.begin(), m_dirty.end());
        bool any = false;
        for (ManagedObject *object : dirty) {
            if (done.contains(object) || object->m_deleted || !object->hasChanges())
                continue;
            done.insert(object);
            any = true;
            object->willSave();
        }
        if (!any)
            break;
    }
    --m_suppressUndo;
}

void ManagedObjectContext::clearChangeTracking()
{
    for (ManagedObject *object : std::as_const(m_dirty)) {
        object->m_persisted = !object->m_deleted;
        object->m_changedAttributes = 0;
        object->m_changedRelationships = 0;
    }
    m_dirty.clear();
    m_committedToMany.clear();
}

bool ManagedObjectContext::save(Error *error)
{
    KT_CHECK_CONTEXT_THREAD(this);
    processPendingChanges();
    if (!hasChanges()) {
        clearChangeTracking();
        return true;
    }
    runWillSave();
    const bool ok = m_parent ? saveToParent(error) : saveToStore(error);
    processPendingChanges();
    if (ok)
        emit didSave();
    return ok;
}

bool ManagedObjectContext::saveToStore(Error *error)
{
    if (!m_store) {
        if (error) {
            *error = Error();
            error->domain = kObjectStoreErrorDomain;
            error->code = StoreMissing;
            error->description = QStringLiteral("The changes could not be saved because there is no store.");
        }
        return false;
    }
    StoreSaveRequest request;
    for (ManagedObject *object : std::as_const(m_dirty)) {
        const EntityDescription &entity = *object->m_entity;
        const int e = entity.index;
        if (object->m_deleted) {
            if (object->m_persisted)
                request.deletes.push_back({e, object->m_id.pk});
            continue;
        }
        const bool insert = !object->m_persisted;
        if (!insert && !object->m_changedAttributes && !object->m_changedRelationships)
            continue;
        StoreSaveRequest::RowWrite row;
        row.entity = e;
        row.pk = object->m_id.pk;
        row.isInsert = insert;
        for (int a = 0; a < entity.attributes.size(); ++a) {
            if (entity.attributes.at(a).transient)
                continue;
            if (insert || (object->m_changedAttributes & (quint64(1) << a)))
                row.attributes.emplace_back(a, object->value(a));
        }
        for (int r = 0; r < entity.relationships.size(); ++r) {
            const RelationshipDescription &rel = entity.relationships.at(r);
            const bool changed = insert || (object->m_changedRelationships & (quint64(1) << r));
            if (!changed)
                continue;
            if (!rel.toMany) {
                ManagedObject *target = object->m_slots[r].one;
                row.toOnes.emplace_back(r, target && !target->m_deleted ? target->m_id.pk : 0);
            } else if (m_model->isManyToMany(entity, r) && ManagedObjectModel::ownsJoinTable(entity, rel)) {
                StoreSaveRequest::JoinWrite join;
                join.entity = e;
                join.relationship = r;
                join.pk = object->m_id.pk;
                for (ManagedObject *target : object->m_slots[r].many)
                    if (!target->m_deleted)
                        join.targets.push_back(target->m_id.pk);
                request.joins.push_back(std::move(join));
            }
        }
        request.writes.push_back(std::move(row));
    }
    if (!request.isEmpty() && !m_store->write(request, error))
        return false;
    clearChangeTracking();
    return true;
}

bool ManagedObjectContext::saveToParent(Error *)
{
    ChildChanges changes;
    for (ManagedObject *object : std::as_const(m_dirty)) {
        const EntityDescription &entity = *object->m_entity;
        if (object->m_deleted) {
            if (object->m_persisted)
                changes.deleted.push_back(object->m_id);
            continue;
        }
        const bool insert = !object->m_persisted;
        if (!insert && !object->m_changedAttributes && !object->m_changedRelationships)
            continue;
        ChildChanges::Change change;
        change.id = object->m_id;
        change.inserted = insert;
        for (int a = 0; a < entity.attributes.size(); ++a) {
            const quint64 bit = quint64(1) << a;
            if (insert || (object->m_changedAttributes & bit)) {
                if (object->m_unloaded & bit)
                    continue;
                change.attributes.emplace_back(a, object->m_values[a]);
            }
        }
        for (int r = 0; r < entity.relationships.size(); ++r) {
            if (!insert && !(object->m_changedRelationships & (quint64(1) << r)))
                continue;
            if (!entity.relationships.at(r).toMany) {
                ManagedObject *target = object->m_slots[r].one;
                change.toOnes.emplace_back(r, target && !target->m_deleted ? target->m_id : ObjectID());
                continue;
            }
            const QList<ManagedObject *> &now = object->m_slots[r].many;
            const QList<ManagedObject *> before = m_committedToMany.value(qMakePair(object, r), insert ? QList<ManagedObject *>() : now);
            QList<ObjectID> added, removed;
            for (ManagedObject *target : now)
                if (!before.contains(target) && !target->m_deleted)
                    added.append(target->m_id);
            for (ManagedObject *target : before)
                if (!now.contains(target))
                    removed.append(target->m_id);
            if (!added.isEmpty() || !removed.isEmpty())
                change.toMany.emplace_back(r, added, removed);
        }
        changes.changes.push_back(std::move(change));
    }
    ManagedObjectContext *parent = m_parent;
    parent->performAndWait([parent, &changes] { parent->applyChildChanges(changes); });
    clearChangeTracking();
    return true;
}

void ManagedObjectContext::applyChildChanges(const ChildChanges &changes)
{
    ++m_suppressUndo;
    for (const auto &change : changes.changes) {
        if (!change.inserted || m_byId.contains(change.id))
            continue;
        ManagedObject *object = makeObject(change.id.entity, change.id);
        markDirty(object);
        noteInserted(object);
    }
    auto resolve = [this](const ObjectID &id) -> ManagedObject * {
        if (id.isNull())
            return nullptr;
        ManagedObject *target = m_byId.value(id);
        if (!target || target->m_deleted) {
            logLine(QStringLiteral("Warning: a child context's link to %1 was dropped, the object is gone")
                         .arg(uriForObjectID(id)));
            return nullptr;
        }
        return target;
    };
    for (const auto &change : changes.changes) {
        ManagedObject *object = m_byId.value(change.id);
        if (!object || object->m_deleted) {
            logLine(QStringLiteral("Warning: changes to %1 from a child context were dropped, the object was deleted")
                         .arg(uriForObjectID(change.id)));
            continue;
        }
        for (const auto &[attribute, value] : change.attributes)
            rawSetAttribute(object, attribute, value);
    }
    for (const auto &change : changes.changes) {
        ManagedObject *object = m_byId.value(change.id);
        if (!object || object->m_deleted)
            continue;
        for (const auto &[relationship, id] : change.toOnes)
            setToOne(object, relationship, resolve(id));
        for (const auto &[relationship, added, removed] : change.toMany) {
            for (const ObjectID &id : removed)
                if (ManagedObject *target = m_byId.value(id))
                    removeFromMany(object, relationship, target);
            for (const ObjectID &id : added)
                if (ManagedObject *target = resolve(id))
                    addToMany(object, relationship, target);
        }
    }
    for (const ObjectID &id : changes.deleted)
        if (ManagedObject *object = m_byId.value(id))
            deleteObject(object);
    --m_suppressUndo;
}

} // namespace platform
