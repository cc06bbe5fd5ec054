#include "platform/objectstore/ManagedObjectContext.h"

#include "platform/Log.h"
#include "platform/objectstore/PersistentStore.h"
#include "platform/objectstore/UndoManager.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QEventLoop>
#include <QThread>
#include <QUrl>
#include <QUuid>

#include <algorithm>
#include <atomic>
#include <tuple>

namespace platform {

namespace {

void storeLog(const QString &line)
{
    logLine(line);
}

// Values are kept in one type per attribute type, with nil as an invalid
// QVariant, so comparisons and writes are uniform.
QVariant canonical(AttributeType type, const QVariant &value)
{
    if (!value.isValid() || value.isNull())
        return QVariant();
    switch (type) {
    case AttributeType::String: return value.toString();
    case AttributeType::Integer64: return QVariant(value.toLongLong());
    case AttributeType::Double: return QVariant(value.toDouble());
    case AttributeType::Boolean: return QVariant(value.toBool());
    case AttributeType::Date: {
        const QDateTime date = value.toDateTime();
        return date.isValid() ? QVariant(date) : QVariant();
    }
    case AttributeType::Bytes: return value.toByteArray();
    }
    return value;
}

int compareValues(AttributeType type, const QVariant &a, const QVariant &b, bool caseInsensitive)
{
    // Nil sorts first.
    if (!a.isValid() || !b.isValid())
        return int(a.isValid()) - int(b.isValid());
    switch (type) {
    case AttributeType::String:
        return a.toString().compare(b.toString(), caseInsensitive ? Qt::CaseInsensitive : Qt::CaseSensitive);
    case AttributeType::Integer64:
    case AttributeType::Boolean: {
        const qint64 x = a.toLongLong(), y = b.toLongLong();
        return x < y ? -1 : (x > y ? 1 : 0);
    }
    case AttributeType::Double: {
        const double x = a.toDouble(), y = b.toDouble();
        return x < y ? -1 : (x > y ? 1 : 0);
    }
    case AttributeType::Date: {
        const qint64 x = a.toDateTime().toMSecsSinceEpoch(), y = b.toDateTime().toMSecsSinceEpoch();
        return x < y ? -1 : (x > y ? 1 : 0);
    }
    case AttributeType::Bytes: return a.toByteArray().compare(b.toByteArray());
    }
    return 0;
}

const char *const kURIScheme = "x-kantelo-object";

} // namespace

// Primary keys come from the root store, so IDs made anywhere in a family of
// contexts are permanent and unique.
struct ManagedObjectContext::KeySource {
    std::shared_ptr<PersistentStore> store;
    std::unique_ptr<std::atomic<qint64>[]> local;
    QString identifier;

    explicit KeySource(qsizetype entities)
        : local(new std::atomic<qint64>[std::max<qsizetype>(1, entities)]),
          identifier(QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper())
    {
        for (qsizetype i = 0; i < entities; ++i)
            local[i].store(1);
    }
    qint64 next(int entity)
    {
        if (store) {
            const qint64 pk = store->newPrimaryKey(entity);
            local[entity].store(std::max(local[entity].load(), pk + 1));
            return pk;
        }
        return local[entity].fetch_add(1);
    }
};

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

ManagedObjectContext::ManagedObjectContext(std::shared_ptr<const ManagedObjectModel> model, QObject *parent)
    : QObject(parent), m_model(std::move(model))
{
    qRegisterMetaType<platform::ObjectChanges>();
    m_keys = std::make_shared<KeySource>(m_model->entities().size());
    m_objects.resize(m_model->entities().size());
}

ManagedObjectContext::ManagedObjectContext(ManagedObjectContext *parent)
    : QObject(nullptr), m_model(parent->m_model), m_store(parent->m_store), m_keys(parent->m_keys), m_parent(parent)
{
    m_objects.resize(m_model->entities().size());
    m_creatorThread = QThread::currentThread();
    // The snapshot: every live object of the parent, values and links.
    for (const auto &list : parent->m_objects) {
        for (const auto &source : list) {
            if (source->m_deleted)
                continue;
            ManagedObject *copy = makeObject(source->m_entity->index, source->m_id);
            copy->m_values = source->m_values;
            copy->m_unloaded = source->m_unloaded;
            copy->m_persisted = true;
        }
    }
    for (const auto &list : parent->m_objects) {
        for (const auto &source : list) {
            if (source->m_deleted)
                continue;
            ManagedObject *copy = m_byId.value(source->m_id);
            for (size_t r = 0; r < source->m_slots.size(); ++r) {
                const auto &slot = source->m_slots[r];
                if (slot.one)
                    copy->m_slots[r].one = m_byId.value(slot.one->m_id);
                copy->m_slots[r].many.reserve(slot.many.size());
                for (ManagedObject *target : slot.many)
                    if (ManagedObject *mapped = m_byId.value(target->m_id))
                        copy->m_slots[r].many.append(mapped);
            }
        }
    }
    ++m_suppressUndo;
    for (const auto &list : m_objects)
        for (const auto &object : list)
            object->awakeFromFetch();
    --m_suppressUndo;

    m_worker = new QThread;
    m_worker->setObjectName(QStringLiteral("ManagedObjectContext child"));
    m_worker->start();
    moveToThread(m_worker);
}

ManagedObjectContext::~ManagedObjectContext()
{
    if (m_worker) {
        QThread *here = QThread::currentThread();
        if (here != m_worker && thread() == m_worker)
            performAndWait([this, here] { moveToThread(here); });
        m_worker->quit();
        m_worker->wait();
        delete m_worker;
        m_worker = nullptr;
    }
    if (m_undo && m_undo->parent() != this)
        m_undo->removeAllActions();
    for (auto &list : m_objects)
        for (auto &object : list)
            object->m_context = nullptr;
}

ManagedObject *ManagedObjectContext::makeObject(int entity, const ObjectID &id)
{
    const EntityDescription &description = m_model->entityAt(entity);
    std::unique_ptr<ManagedObject> object = description.factory();
    object->m_entity = &description;
    object->m_context = this;
    object->m_id = id;
    object->m_values.resize(description.attributes.size());
    object->m_slots.resize(description.relationships.size());
    ManagedObject *raw = object.get();
    m_objects[entity].push_back(std::move(object));
    m_byId.insert(id, raw);
    return raw;
}

bool ManagedObjectContext::attachStore(std::shared_ptr<PersistentStore> store, Error *error)
{
    if (!store || m_parent)
        return false;
    const int entities = int(m_model->entities().size());
    std::vector<std::vector<std::unique_ptr<ManagedObject>>> saved;
    saved.swap(m_objects);
    m_objects.resize(entities);
    QHash<ObjectID, ManagedObject *> savedIds;
    savedIds.swap(m_byId);

    auto restore = [&]() {
        m_objects.swap(saved);
        m_byId.swap(savedIds);
        return false;
    };

    // Rows first, then links by primary key.
    std::vector<std::vector<std::vector<qint64>>> toOnes(entities);
    for (int e = 0; e < entities; ++e) {
        const EntityDescription &entity = m_model->entityAt(e);
        quint64 lazyMask = 0;
        std::vector<std::pair<int, QVariant>> transientDefaults;
        for (int a = 0; a < entity.attributes.size(); ++a) {
            const AttributeDescription &attr = entity.attributes.at(a);
            if (attr.transient)
                transientDefaults.emplace_back(a, canonical(attr.type, attr.defaultValue));
            else if (attr.lazy)
                lazyMask |= quint64(1) << a;
        }
        const bool ok = store->loadRows(e, [&](PersistentStore::LoadedRow &row) {
            ManagedObject *object = makeObject(e, ObjectID{e, row.pk});
            object->m_values = std::move(row.values);
            for (const auto &[a, value] : transientDefaults)
                object->m_values[a] = value;
            object->m_unloaded = lazyMask;
            object->m_persisted = true;
            toOnes[e].push_back(row.toOnes);
        }, error);
        if (!ok)
            return restore();
    }
    for (int e = 0; e < entities; ++e) {
        const EntityDescription &entity = m_model->entityAt(e);
        for (size_t i = 0; i < m_objects[e].size(); ++i) {
            ManagedObject *object = m_objects[e][i].get();
            for (int r = 0; r < entity.relationships.size(); ++r) {
                const RelationshipDescription &rel = entity.relationships.at(r);
                if (rel.toMany)
                    continue;
                const qint64 pk = toOnes[e][i][r];
                if (pk <= 0)
                    continue;
                ManagedObject *target = m_byId.value(ObjectID{rel.destinationIndex, pk});
                if (!target)
                    continue; // a dangling key reads as no link
                object->m_slots[r].one = target;
                const RelationshipDescription &inv = m_model->entityAt(rel.destinationIndex).relationships.at(rel.inverseIndex);
                if (inv.toMany)
                    target->m_slots[rel.inverseIndex].many.append(object);
                else
                    target->m_slots[rel.inverseIndex].one = object;
            }
        }
        for (int r = 0; r < entity.relationships.size(); ++r) {
            const RelationshipDescription &rel = entity.relationships.at(r);
            if (!m_model->isManyToMany(entity, r) || !ManagedObjectModel::ownsJoinTable(entity, rel))
                continue;
            const bool ok = store->loadJoinRows(e, r, [&](qint64 src, qint64 dst) {
                ManagedObject *a = m_byId.value(ObjectID{e, src});
                ManagedObject *b = m_byId.value(ObjectID{rel.destinationIndex, dst});
                if (!a || !b)
                    return;
                a->m_slots[r].many.append(b);
                b->m_slots[rel.inverseIndex].many.append(a);
            }, error);
            if (!ok)
                return restore();
        }
    }

    m_store = std::move(store);
    m_keys->store = m_store;
    m_keys->identifier = m_store->identifier();
    // Objects inserted before the store came keep their place as inserts.
    for (int e = 0; e < entities; ++e) {
        for (auto &object : saved[e]) {
            ManagedObject *raw = object.get();
            raw->m_id = ObjectID{e, m_keys->next(e)};
            m_byId.insert(raw->m_id, raw);
            m_objects[e].push_back(std::move(object));
        }
    }
    ++m_suppressUndo;
    for (const auto &list : m_objects)
        for (const auto &object : list)
            if (object->m_persisted)
                object->awakeFromFetch();
    --m_suppressUndo;
    return true;
}

std::unique_ptr<ManagedObjectContext> ManagedObjectContext::newChildContext()
{
    return std::unique_ptr<ManagedObjectContext>(new ManagedObjectContext(this));
}

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
    m_dirty.insert(object);
}

void ManagedObjectContext::noteInserted(ManagedObject *object)
{
    m_pendingInserted.insert(object);
    schedulePending();
}

void ManagedObjectContext::noteUpdated(ManagedObject *object)
{
    m_pendingUpdated.insert(object);
    schedulePending();
}

void ManagedObjectContext::noteDeleted(ManagedObject *object)
{
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
    rawSetAttribute(object, attribute, value);
}

void ManagedObjectContext::setToOne(ManagedObject *object, int relationship, ManagedObject *target)
{
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

ManagedObject *ManagedObjectContext::insertNewObject(const QString &entityName)
{
    const int entity = m_model->entityIndex(entityName);
    if (entity < 0) {
        storeLog(QStringLiteral("ERROR: no entity named %1").arg(entityName));
        return nullptr;
    }
    ManagedObject *object = makeObject(entity, ObjectID{entity, m_keys->next(entity)});
    const EntityDescription &description = m_model->entityAt(entity);
    for (int a = 0; a < description.attributes.size(); ++a)
        object->m_values[a] = canonical(description.attributes.at(a).type, description.attributes.at(a).defaultValue);
    markDirty(object);
    noteInserted(object);
    registerUndo([this, object] { markDeleted(object); });
    object->awakeFromInsert();
    return object;
}

void ManagedObjectContext::deleteObject(ManagedObject *object)
{
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

QList<ManagedObject *> ManagedObjectContext::fetch(const FetchRequest &request) const
{
    QList<ManagedObject *> out;
    const int entity = m_model->entityIndex(request.entityName);
    if (entity < 0)
        return out;
    for (const auto &object : m_objects[entity]) {
        if (object->m_deleted)
            continue;
        if (request.predicate && !request.predicate(*object))
            continue;
        out.append(object.get());
        if (request.sortDescriptors.isEmpty() && request.fetchLimit > 0 && out.size() >= request.fetchLimit)
            return out;
    }
    if (!request.sortDescriptors.isEmpty()) {
        const EntityDescription &description = m_model->entityAt(entity);
        std::vector<std::pair<int, const SortDescriptor *>> keys;
        for (const SortDescriptor &sort : request.sortDescriptors) {
            const int attribute = description.attributeIndex(sort.key);
            if (attribute >= 0)
                keys.emplace_back(attribute, &sort);
        }
        std::stable_sort(out.begin(), out.end(), [&](ManagedObject *a, ManagedObject *b) {
            for (const auto &[attribute, sort] : keys) {
                const int c = compareValues(description.attributes.at(attribute).type, a->value(attribute),
                                            b->value(attribute), sort->caseInsensitive);
                if (c != 0)
                    return sort->ascending ? c < 0 : c > 0;
            }
            return false;
        });
        if (request.fetchLimit > 0 && out.size() > request.fetchLimit)
            out.resize(request.fetchLimit);
    }
    return out;
}

qsizetype ManagedObjectContext::count(const FetchRequest &request) const
{
    const int entity = m_model->entityIndex(request.entityName);
    if (entity < 0)
        return 0;
    qsizetype n = 0;
    for (const auto &object : m_objects[entity])
        if (!object->m_deleted && (!request.predicate || request.predicate(*object)))
            ++n;
    if (request.fetchLimit > 0)
        n = std::min(n, request.fetchLimit);
    return n;
}

ManagedObject *ManagedObjectContext::objectWithID(const ObjectID &id) const
{
    ManagedObject *object = m_byId.value(id);
    return object && !object->m_deleted ? object : nullptr;
}

QString ManagedObjectContext::uriForObjectID(const ObjectID &id) const
{
    if (id.entity < 0 || id.entity >= m_model->entities().size())
        return QString();
    return QStringLiteral("%1://%2/%3/p%4").arg(kURIScheme, m_keys->identifier, m_model->entityAt(id.entity).name).arg(id.pk);
}

ManagedObject *ManagedObjectContext::objectWithURI(const QString &uri) const
{
    const QUrl url(uri);
    if (!url.isValid() || url.scheme() != kURIScheme)
        return nullptr;
    if (url.host().compare(m_keys->identifier, Qt::CaseInsensitive) != 0)
        return nullptr;
    const QStringList parts = url.path().split('/', Qt::SkipEmptyParts);
    if (parts.size() != 2 || !parts.at(1).startsWith('p'))
        return nullptr;
    const int entity = m_model->entityIndex(parts.at(0));
    bool ok = false;
    const qint64 pk = parts.at(1).mid(1).toLongLong(&ok);
    if (entity < 0 || !ok)
        return nullptr;
    return objectWithID(ObjectID{entity, pk});
}

QVariant ManagedObjectContext::loadLazyValue(const ManagedObject *object, int attribute) const
{
    if (!m_store)
        return QVariant();
    return m_store->readAttribute(object->m_id, attribute);
}

bool ManagedObjectContext::hasChanges() const
{
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
            storeLog(QStringLiteral("Warning: a child context's link to %1 was dropped, the object is gone")
                         .arg(uriForObjectID(id)));
            return nullptr;
        }
        return target;
    };
    for (const auto &change : changes.changes) {
        ManagedObject *object = m_byId.value(change.id);
        if (!object || object->m_deleted) {
            storeLog(QStringLiteral("Warning: changes to %1 from a child context were dropped, the object was deleted")
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

void ManagedObjectContext::perform(std::function<void()> block)
{
    QMetaObject::invokeMethod(this, std::move(block), Qt::QueuedConnection);
}

void ManagedObjectContext::performAndWait(const std::function<void()> &block)
{
    QThread *current = QThread::currentThread();
    if (current == thread()) {
        block();
        return;
    }
    QCoreApplication *app = QCoreApplication::instance();
    if (app && current == app->thread()) {
        // The main thread never blocks on a worker: it keeps serving queued
        // calls (a child's save into the main context) while it waits.
        QEventLoop loop;
        std::atomic<bool> done = false;
        QMetaObject::invokeMethod(this, [&] {
            block();
            done = true;
            QMetaObject::invokeMethod(&loop, [&loop] { loop.quit(); }, Qt::QueuedConnection);
        }, Qt::QueuedConnection);
        while (!done)
            loop.exec(QEventLoop::ExcludeUserInputEvents);
        return;
    }
    QMetaObject::invokeMethod(this, block, Qt::BlockingQueuedConnection);
}

} // namespace platform
