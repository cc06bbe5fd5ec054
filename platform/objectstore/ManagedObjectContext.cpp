#include "platform/objectstore/ManagedObjectContext.h"

#include "platform/Dispatch.h"
#include "platform/Log.h"
#include "platform/objectstore/AttributeValues.h"
#include "platform/objectstore/PersistentStore.h"
#include "platform/objectstore/ThreadCheck.h"
#include "platform/objectstore/UndoManager.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <QUrl>
#include <QUuid>

#include <algorithm>
#include <atomic>

namespace platform {

namespace {

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

ManagedObjectContext::ManagedObjectContext(std::shared_ptr<const ManagedObjectModel> model, QObject *parent)
    : QObject(parent), m_model(std::move(model))
{
    qRegisterMetaType<platform::ObjectChanges>();
    m_keys = std::make_shared<KeySource>(m_model->entities().size());
    m_objects.resize(m_model->entities().size());
}

ManagedObjectContext::ManagedObjectContext(ManagedObjectContext *parent)
    : QObject(nullptr)
    , m_model(parent->m_model)
    , m_store(parent->m_store)
    , m_keys(parent->m_keys)
    , m_parent(parent)
    , m_userInfo(parent->m_userInfo)
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
    if (m_worker && QThread::currentThread() == m_worker) {
        // The last owner let go in a block on the child's own thread (a
        // background import whose main-thread cleanup was never run): the
        // thread can't wait for itself, it ends once this block returns.
        m_worker->quit();
        QObject::connect(m_worker, &QThread::finished, m_worker, &QObject::deleteLater);
        m_worker = nullptr;
    }
    if (m_worker) {
        QThread *here = QThread::currentThread();
        if (thread() == m_worker)
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

ManagedObject *ManagedObjectContext::insertNewObject(const QString &entityName)
{
    KT_CHECK_CONTEXT_THREAD(this);
    const int entity = m_model->entityIndex(entityName);
    if (entity < 0) {
        logLine(QStringLiteral("ERROR: no entity named %1").arg(entityName));
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

QList<ManagedObject *> ManagedObjectContext::fetch(const FetchRequest &request) const
{
    KT_CHECK_CONTEXT_THREAD(this);
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
    KT_CHECK_CONTEXT_THREAD(this);
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
    KT_CHECK_CONTEXT_THREAD(this);
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
    KT_CHECK_CONTEXT_THREAD(this);
    if (!m_store)
        return QVariant();
    return m_store->readAttribute(object->m_id, attribute);
}

void ManagedObjectContext::perform(std::function<void()> block)
{
    platform::runOnThreadOf(this, std::move(block), false);
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
        std::atomic<bool> done = false;
        platform::runOnThreadOf(this, [&, app] {
            block();
            // The wait may end as soon as `done` is set, taking this frame
            // with it: the wake-up goes through the application.
            done = true;
            platform::runOnThreadOf(app, [] {}, false);
        }, false);
        while (!done)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents | QEventLoop::ExcludeUserInputEvents);
        return;
    }
    platform::runOnThreadOf(this, block, true);
}

} // namespace platform
