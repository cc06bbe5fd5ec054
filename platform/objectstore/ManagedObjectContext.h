#pragma once

#include "platform/Error.h"
#include "platform/objectstore/FetchRequest.h"
#include "platform/objectstore/ManagedObject.h"
#include "platform/objectstore/ManagedObjectModel.h"
#include "platform/objectstore/ObjectChanges.h"
#include "platform/objectstore/ObjectID.h"
#include "platform/objectstore/UndoManager.h"

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QSet>

#include <functional>
#include <memory>
#include <vector>

class QThread;

namespace platform {

class PersistentStore;

// A graph of objects loaded whole from one store (or snapshotted from a parent
// context), used on its owner thread. Fetches run over the loaded objects, so
// they see unsaved inserts and skip deleted objects.
class ManagedObjectContext : public QObject
{
    Q_OBJECT
public:
    enum class ConcurrencyType { MainQueue, PrivateQueue };

    // A context on the calling thread with no store yet: fetches answer
    // nothing and saves fail until a store is attached.
    explicit ManagedObjectContext(std::shared_ptr<const ManagedObjectModel> model, QObject *parent = nullptr);
    ~ManagedObjectContext() override;

    // Loads every object of the store (large byte columns stay on disk until
    // asked for). On failure the context stays without a store.
    bool attachStore(std::shared_ptr<PersistentStore> store, Error *error = nullptr);
    PersistentStore *persistentStore() const { return m_store.get(); }
    std::shared_ptr<PersistentStore> sharedPersistentStore() const { return m_store; }

    // A private-queue context with a snapshot of this one, taken now on this
    // context's thread. Use it through perform/performAndWait; its save
    // pushes its changes into this context only.
    std::unique_ptr<ManagedObjectContext> newChildContext();
    ManagedObjectContext *parentContext() const { return m_parent; }
    ConcurrencyType concurrencyType() const { return m_parent ? ConcurrencyType::PrivateQueue : ConcurrencyType::MainQueue; }

    const ManagedObjectModel &model() const { return *m_model; }
    std::shared_ptr<const ManagedObjectModel> sharedModel() const { return m_model; }

    ManagedObject *insertNewObject(const QString &entityName);
    template <class T> T *insert() { return static_cast<T *>(insertNewObject(T::entityName())); }
    // Applies the delete rules: cascade deletes the targets, nullify unlinks.
    void deleteObject(ManagedObject *object);

    QList<ManagedObject *> fetch(const FetchRequest &request) const;
    qsizetype count(const FetchRequest &request) const;
    template <class T>
    QList<T *> fetchObjects(Predicate predicate = {}, QList<SortDescriptor> sort = {}, qsizetype limit = 0) const
    {
        const QList<ManagedObject *> found = fetch({T::entityName(), std::move(predicate), std::move(sort), limit});
        QList<T *> out;
        out.reserve(found.size());
        for (ManagedObject *object : found)
            out.append(static_cast<T *>(object));
        return out;
    }

    // Null for unknown or deleted objects.
    ManagedObject *objectWithID(const ObjectID &id) const;
    ManagedObject *objectWithURI(const QString &uri) const;
    QString uriForObjectID(const ObjectID &id) const;

    bool hasChanges() const;
    // Root context: one transaction; on failure it is rolled back, the
    // changes stay in memory and `error` tells what failed. Child context:
    // pushes the changes into the parent.
    bool save(Error *error = nullptr);
    // Emits objectsDidChange now for what is pending (also done once per
    // pass of the event loop).
    void processPendingChanges();

    // Values the context's owner attaches for the objects in it (the frame
    // library's graphics folder); a child context starts with a copy.
    QVariant userInfoValue(const QString &key) const { return m_userInfo.value(key); }
    void setUserInfoValue(const QString &key, const QVariant &value) { m_userInfo.insert(key, value); }

    // Not owned; parent it to the context to tie their lives together.
    void setUndoManager(UndoManager *manager);
    UndoManager *undoManager() const { return m_undo.data(); }

    void perform(std::function<void()> block);
    // Runs the block on the context's thread and returns when it ran. The
    // main thread keeps its event loop turning (user input held back) while
    // it waits.
    void performAndWait(const std::function<void()> &block);

    // Internal, used by ManagedObject.
    QVariant loadLazyValue(const ManagedObject *object, int attribute) const;
    void setAttribute(ManagedObject *object, int attribute, const QVariant &value);
    void setToOne(ManagedObject *object, int relationship, ManagedObject *target);
    void addToMany(ManagedObject *object, int relationship, ManagedObject *target);
    void removeFromMany(ManagedObject *object, int relationship, ManagedObject *target);

signals:
    void objectsDidChange(const platform::ObjectChanges &changes);
    void didSave();

private:
    struct ChildChanges;
    struct KeySource;

    ManagedObjectContext(ManagedObjectContext *parent);
    ManagedObject *makeObject(int entity, const ObjectID &id);
    void registerUndo(std::function<void()> action);
    void markDirty(ManagedObject *object);
    void noteInserted(ManagedObject *object);
    void noteUpdated(ManagedObject *object);
    void noteDeleted(ManagedObject *object);
    void schedulePending();
    void rememberCommittedToMany(ManagedObject *object, int relationship);

    void rawSetAttribute(ManagedObject *object, int attribute, const QVariant &value);
    void rawSetToOne(ManagedObject *object, int relationship, ManagedObject *target);
    void rawAddToMany(ManagedObject *object, int relationship, ManagedObject *target, qsizetype position);
    void rawRemoveFromMany(ManagedObject *object, int relationship, ManagedObject *target);
    void markDeleted(ManagedObject *object);
    void markUndeleted(ManagedObject *object);

    void runWillSave();
    void clearChangeTracking();
    bool saveToStore(Error *error);
    bool saveToParent(Error *error);
    void applyChildChanges(const ChildChanges &changes);

    std::shared_ptr<const ManagedObjectModel> m_model;
    std::shared_ptr<PersistentStore> m_store;
    std::shared_ptr<KeySource> m_keys;
    ManagedObjectContext *m_parent = nullptr;
    QVariantHash m_userInfo;
    QThread *m_worker = nullptr;
    QThread *m_creatorThread = nullptr;

    std::vector<std::vector<std::unique_ptr<ManagedObject>>> m_objects; // per entity, in insertion order
    QHash<ObjectID, ManagedObject *> m_byId;
    QSet<ManagedObject *> m_dirty;
    QHash<QPair<ManagedObject *, int>, QList<ManagedObject *>> m_committedToMany;
    QSet<ManagedObject *> m_pendingInserted;
    QSet<ManagedObject *> m_pendingUpdated;
    QSet<ManagedObject *> m_pendingDeleted;
    bool m_pendingScheduled = false;

    QPointer<UndoManager> m_undo;
    int m_suppressUndo = 0;
};

} // namespace platform
