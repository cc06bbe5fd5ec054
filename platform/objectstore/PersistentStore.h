#pragma once

#include "platform/Error.h"
#include "platform/objectstore/ManagedObjectModel.h"
#include "platform/objectstore/ObjectID.h"
#include "platform/objectstore/StoreSaveRequest.h"

#include <QHash>
#include <QMutex>
#include <QString>
#include <QVariantMap>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace platform {

class SqliteDatabase;
class SqliteStatement;

inline constexpr const char *kObjectStoreErrorDomain = "KTObjectStoreErrorDomain";

enum ObjectStoreErrorCode {
    StoreOpenFailed = 1,     // file cannot be opened or created
    StoreDamaged = 2,        // not a store, or its contents cannot be read
    StoreTooNew = 3,         // written by a newer schema
    StoreSaveFailed = 4,
    StoreMissing = 5,        // no store attached, or no store file
    StoreMetadataFailed = 6,
};

// Keys the store keeps in its metadata for itself.
inline constexpr const char *kStoreUUIDKey = "KTStoreUUID";
inline constexpr const char *kStoreModelVersionKey = "KTStoreModelVersion";

// One SQLite database holding the objects of a model: a file (WAL journal)
// or a private in-memory database that lives as long as this object.
// The connection is guarded by a lock, so lazy reads may come from any thread.
class PersistentStore
{
public:
    // Opens or creates the file, adds what an older schema lacks, and refuses
    // files written by a newer schema or that are not stores.
    static std::shared_ptr<PersistentStore> openSQLite(const QString &path,
                                                       std::shared_ptr<const ManagedObjectModel> model,
                                                       Error *error = nullptr);
    static std::shared_ptr<PersistentStore> openInMemory(std::shared_ptr<const ManagedObjectModel> model,
                                                         Error *error = nullptr);
    ~PersistentStore();

    bool isInMemory() const { return m_inMemory; }
    QString path() const { return m_path; }
    QString identifier() const { return m_identifier; }
    const ManagedObjectModel &model() const { return *m_model; }
    std::shared_ptr<const ManagedObjectModel> sharedModel() const { return m_model; }

    // Metadata of a store file, read and written directly on the file from
    // any thread. A file that does not exist yet has empty metadata; writing
    // to it is an error (there is no store to write into).
    static std::optional<QVariantMap> metadataForStoreAtPath(const QString &path, Error *error = nullptr);
    // An invalid `value` removes the key.
    static bool setMetadataValueForStoreAtPath(const QVariant &value, const QString &key, const QString &path,
                                               Error *error = nullptr);
    // The same on this open store (the only way for an in-memory one).
    QVariantMap metadata() const;
    bool setMetadataValue(const QVariant &value, const QString &key, Error *error = nullptr);

    // Loading, for the context.
    struct LoadedRow {
        qint64 pk = 0;
        std::vector<QVariant> values;   // per attribute; lazy and transient ones left invalid
        std::vector<qint64> toOnes;     // per relationship; 0 = none (to-many slots unused)
    };
    bool loadRows(int entity, const std::function<void(LoadedRow &)> &sink, Error *error);
    bool loadJoinRows(int entity, int relationship, const std::function<void(qint64, qint64)> &sink, Error *error);
    QVariant readAttribute(const ObjectID &id, int attribute) const;

    // A key no other connection to the file hands out: keys come in blocks
    // reserved in the file itself, so two processes inserting into one store
    // never collide.
    qint64 newPrimaryKey(int entity);

    // The file had no tables when opened: a new store (or an empty file).
    bool wasCreated() const { return m_created; }

    bool write(const StoreSaveRequest &request, Error *error);

    // Column and table names, shared with tests that poke at files.
    static QString tableName(const EntityDescription &entity);
    static QString joinTableName(const EntityDescription &entity, const RelationshipDescription &relationship);
    static QString toOneColumn(const RelationshipDescription &relationship);

private:
    PersistentStore(std::shared_ptr<const ManagedObjectModel> model, const QString &path, bool inMemory);
    bool prepare(Error *error);
    // A store error whose detail is what SQLite said (`cause`).
    Error makeError(int code, const QString &description, const Error &cause) const;
    SqliteStatement &cachedStatement(const QString &sql);

    std::shared_ptr<const ManagedObjectModel> m_model;
    QString m_path;
    bool m_inMemory;
    QString m_identifier;
    std::unique_ptr<SqliteDatabase> m_db;
    QHash<QString, std::shared_ptr<SqliteStatement>> m_statements; // after m_db: finalised first
    mutable QMutex m_lock;
    struct KeyBlock {
        qint64 next = 1;
        qint64 limit = 1; // reserve more when next reaches it
    };
    void reserveKeys(int entity);
    std::vector<KeyBlock> m_keys; // guarded by m_lock
    bool m_created = false;
};

} // namespace platform
