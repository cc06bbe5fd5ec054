// Change tracking and the edits of a context: attributes, relationships on
// both ends, and deletion with its rules, each undoable.
#include "platform/objectstore/ManagedObjectContext.h"

#include "platform/Log.h"
#include "platform/objectstore/AttributeValues.h"
#include "platform/objectstore/ThreadCheck.h"
#include "platform/objectstore/UndoManager.h"

namespace platform {

void ManagedObjectContext::setUndoManager(UndoManager *manager)
{
    m_undo = manager;
}

void ManagedObjectContext::registerUndo(std::function<void()> action)
{
    if (m_undo && m_suppressUndo == 0)
        m_undo->registerUndo(std::move(action));
}

void ManagedObjectContext::markDirty(ManagedObject *object)
{
    KT_CHECK_CONTEXT_THREAD(this);
    m_dirty.insert(object);
}

void ManagedObjectContext::noteInserted(ManagedObject *object)
{
    KT_CHECK_CONTEXT_THREAD(this);
    m_pendingInserted.insert(object);
    schedulePending();
}

void ManagedObjectContext::noteUpdated(ManagedObject *object)
{
    KT_CHECK_CONTEXT_THREAD(this);
    m_pendingUpdated.insert(object);
    schedulePending();
}

void ManagedObjectContext::noteDeleted(ManagedObject *object)
{
    KT_CHECK_CONTEXT_THREAD(this);
    m_pendingDeleted.insert(object);
    schedulePending();
}

void ManagedObjectContext::schedulePending()
{
    if (m_pendingScheduled)
        return;
    m_pendingScheduled = true;
    QMetaObject::invokeMethod(this, [this] { processPendingChanges(); }, Qt::QueuedConnection);
}

void ManagedObjectContext::processPendingChanges()
{
    KT_CHECK_CONTEXT_THREAD(this);
    m_pendingScheduled = false;
    ObjectChanges changes;
    for (ManagedObject *object : std::as_const(m_pendingInserted))
        if (!m_pendingDeleted.contains(object))
            changes.inserted.append(object);
    for (ManagedObject *object : std::as_const(m_pendingDeleted))
        if (!m_pendingInserted.contains(object))
            changes.deleted.append(object);
    for (ManagedObject *object : std::as_const(m_pendingUpdated))
        if (!m_pendingInserted.contains(object) && !m_pendingDeleted.contains(object))
            changes.updated.append(object);
    m_pendingInserted.clear();
    m_pendingUpdated.clear();
    m_pendingDeleted.clear();
    if (!changes.isEmpty())
        emit objectsDidChange(changes);
}

void ManagedObjectContext::rememberCommittedToMany(ManagedObject *object, int relationship)
{
    const auto key = qMakePair(object, relationship);
    if (!m_committedToMany.contains(key))
        m_committedToMany.insert(key, object->m_slots[relationship].many);
}

// Raw changes: each records its own inverse for undo; the public operations
// below combine them to keep both ends of a relationship in step.

void ManagedObjectContext::rawSetAttribute(ManagedObject *object, int attribute, const QVariant &value)
{
    const AttributeDescription &attr = object->m_entity->attributes.at(attribute);
    const QVariant newValue = canonical(attr.type, value);
    if (attr.transient) {
        object->m_values[attribute] = newValue;
        noteUpdated(object);
        return;
    }
    const QVariant old = object->value(attribute);
    if (old == newValue && old.isValid() == newValue.isValid())
        return;
    object->m_values[attribute] = newValue;
    object->m_changedAttributes |= quint64(1) << attribute;
    markDirty(object);
    noteUpdated(object);
    registerUndo([this, object, attribute, old] { rawSetAttribute(object, attribute, old); });
}

void ManagedObjectContext::rawSetToOne(ManagedObject *object, int relationship, ManagedObject *target)
{
    ManagedObject *old = object->m_slots[relationship].one;
    if (old == target)
        return;
    object->m_slots[relationship].one = target;
    object->m_changedRelationships |= quint64(1) << relationship;
    markDirty(object);
    noteUpdated(object);
    registerUndo([this, object, relationship, old] { rawSetToOne(object, relationship, old); });
}

void ManagedObjectContext::rawAddToMany(ManagedObject *object, int relationship, ManagedObject *target, qsizetype position)
{
    QList<ManagedObject *> &many = object->m_slots[relationship].many;
    if (many.contains(target))
        return;
    rememberCommittedToMany(object, relationship);
    if (position < 0 || position > many.size())
        many.append(target);
    else
        many.insert(position, target);
    object->m_changedRelationships |= quint64(1) << relationship;
    markDirty(object);
    noteUpdated(object);
    registerUndo([this, object, relationship, target] { rawRemoveFromMany(object, relationship, target); });
}

void ManagedObjectContext::rawRemoveFromMany(ManagedObject *object, int relationship, ManagedObject *target)
{
    QList<ManagedObject *> &many = object->m_slots[relationship].many;
    const qsizetype position = many.indexOf(target);
    if (position < 0)
        return;
    rememberCommittedToMany(object, relationship);
    many.removeAt(position);
    object->m_changedRelationships |= quint64(1) << relationship;
    markDirty(object);
    noteUpdated(object);
    registerUndo([this, object, relationship, target, position] { rawAddToMany(object, relationship, target, position); });
}

void ManagedObjectContext::markDeleted(ManagedObject *object)
{
    if (object->m_deleted)
        return;
    object->m_deleted = true;
    markDirty(object);
    // Inserted and deleted within one pass: no change to announce.
    if (m_pendingInserted.remove(object))
        m_pendingUpdated.remove(object);
    else
        noteDeleted(object);
    registerUndo([this, object] { markUndeleted(object); });
}

void ManagedObjectContext::markUndeleted(ManagedObject *object)
{
    if (!object->m_deleted)
        return;
    object->m_deleted = false;
    markDirty(object);
    if (!m_pendingDeleted.remove(object))
        noteInserted(object);
    registerUndo([this, object] { markDeleted(object); });
}

void ManagedObjectContext::setAttribute(ManagedObject *object, int attribute, const QVariant &value)
{
    KT_CHECK_CONTEXT_THREAD(this);
    rawSetAttribute(object, attribute, value);
}

void ManagedObjectContext::setToOne(ManagedObject *object, int relationship, ManagedObject *target)
{
    KT_CHECK_CONTEXT_THREAD(this);
    Q_ASSERT(!target || target->m_context == this);
    const RelationshipDescription &rel = object->m_entity->relationships.at(relationship);
    const int inverse = rel.inverseIndex;
    const bool inverseToMany = m_model->entityAt(rel.destinationIndex).relationships.at(inverse).toMany;
    ManagedObject *old = object->m_slots[relationship].one;
    if (old == target)
        return;
    if (old) {
        if (inverseToMany)
            rawRemoveFromMany(old, inverse, object);
        else if (old->m_slots[inverse].one == object)
            rawSetToOne(old, inverse, nullptr);
    }
    rawSetToOne(object, relationship, target);
    if (target) {
        if (inverseToMany) {
            rawAddToMany(target, inverse, object, -1);
        } else {
            ManagedObject *previous = target->m_slots[inverse].one;
            if (previous && previous != object)
                rawSetToOne(previous, relationship, nullptr);
            rawSetToOne(target, inverse, object);
        }
    }
}

void ManagedObjectContext::addToMany(ManagedObject *object, int relationship, ManagedObject *target)
{
    KT_CHECK_CONTEXT_THREAD(this);
    if (!target)
        return;
    Q_ASSERT(target->m_context == this);
    if (object->m_slots[relationship].many.contains(target))
        return;
    const RelationshipDescription &rel = object->m_entity->relationships.at(relationship);
    const int inverse = rel.inverseIndex;
    const bool inverseToMany = m_model->entityAt(rel.destinationIndex).relationships.at(inverse).toMany;
    if (inverseToMany) {
        rawAddToMany(object, relationship, target, -1);
        rawAddToMany(target, inverse, object, -1);
        return;
    }
    ManagedObject *previousOwner = target->m_slots[inverse].one;
    if (previousOwner && previousOwner != object)
        rawRemoveFromMany(previousOwner, relationship, target);
    rawAddToMany(object, relationship, target, -1);
    rawSetToOne(target, inverse, object);
}

void ManagedObjectContext::removeFromMany(ManagedObject *object, int relationship, ManagedObject *target)
{
    KT_CHECK_CONTEXT_THREAD(this);
    if (!target || !object->m_slots[relationship].many.contains(target))
        return;
    const RelationshipDescription &rel = object->m_entity->relationships.at(relationship);
    const int inverse = rel.inverseIndex;
    const bool inverseToMany = m_model->entityAt(rel.destinationIndex).relationships.at(inverse).toMany;
    rawRemoveFromMany(object, relationship, target);
    if (inverseToMany)
        rawRemoveFromMany(target, inverse, object);
    else if (target->m_slots[inverse].one == object)
        rawSetToOne(target, inverse, nullptr);
}

void ManagedObjectContext::deleteObject(ManagedObject *object)
{
    KT_CHECK_CONTEXT_THREAD(this);
    if (!object || object->m_deleted || object->m_deleting || object->m_context != this)
        return;
    object->m_deleting = true;
    const EntityDescription &entity = *object->m_entity;
    QList<ManagedObject *> cascade;
    for (int r = 0; r < entity.relationships.size(); ++r) {
        const RelationshipDescription &rel = entity.relationships.at(r);
        if (rel.toMany) {
            const QList<ManagedObject *> targets = object->m_slots[r].many;
            for (ManagedObject *target : targets) {
                removeFromMany(object, r, target);
                if (rel.deleteRule == DeleteRule::Cascade)
                    cascade.append(target);
            }
        } else if (ManagedObject *target = object->m_slots[r].one) {
            setToOne(object, r, nullptr);
            if (rel.deleteRule == DeleteRule::Cascade)
                cascade.append(target);
        }
    }
    for (ManagedObject *target : std::as_const(cascade))
        deleteObject(target);
    object->m_deleting = false;
    markDeleted(object);
}

} // namespace platform
