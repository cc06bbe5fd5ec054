#include "platform/objectstore/PersistentStore.h"

#include "platform/Result.h"
#include "platform/objectstore/SqliteDatabase.h"
#include "platform/objectstore/SqliteStatement.h"

#include <QDataStream>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QIODevice>
#include <QSet>
#include <QTimeZone>
#include <QUuid>

#include <limits>

#include <sqlite3.h>

namespace platform {

namespace {

const char *const kMetadataTable = "kt_metadata";
// The next free key per entity, shared by every connection to the file.
const char *const kKeysTable = "kt_keys";
constexpr qint64 kKeyBlock = 512;

QString quoted(const QString &identifier)
{
    QString escaped = identifier;
    escaped.replace('"', QStringLiteral("\"\""));
    return '"' + escaped + '"';
}

QString columnType(AttributeType type)
{
    switch (type) {
    case AttributeType::String: return QStringLiteral("TEXT");
    case AttributeType::Integer64:
    case AttributeType::Boolean:
    case AttributeType::Date: return QStringLiteral("INTEGER");
    case AttributeType::Double: return QStringLiteral("REAL");
    case AttributeType::Bytes: return QStringLiteral("BLOB");
    }
    return QStringLiteral("BLOB");
}

void bindValue(SqliteStatement &st, int index, AttributeType type, const QVariant &value)
{
    if (!value.isValid() || value.isNull()) {
        st.bindNull(index);
        return;
    }
    switch (type) {
    case AttributeType::String: st.bindText(index, value.toString()); break;
    case AttributeType::Integer64: st.bindInt64(index, value.toLongLong()); break;
    case AttributeType::Boolean: st.bindInt64(index, value.toBool() ? 1 : 0); break;
    case AttributeType::Double: st.bindDouble(index, value.toDouble()); break;
    case AttributeType::Date: st.bindInt64(index, value.toDateTime().toMSecsSinceEpoch()); break;
    case AttributeType::Bytes: st.bindBlob(index, value.toByteArray()); break;
    }
}

QVariant readValue(const SqliteStatement &st, int column, AttributeType type)
{
    if (st.isNull(column))
        return QVariant();
    switch (type) {
    case AttributeType::String: return st.textAt(column);
    case AttributeType::Integer64: return QVariant(st.int64At(column));
    case AttributeType::Boolean: return QVariant(st.int64At(column) != 0);
    case AttributeType::Double: return QVariant(st.doubleAt(column));
    case AttributeType::Date: return QDateTime::fromMSecsSinceEpoch(st.int64At(column), QTimeZone::utc());
    case AttributeType::Bytes: return st.blobAt(column);
    }
    return QVariant();
}

QByteArray encodeMetadataValue(const QVariant &value)
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out.setVersion(QDataStream::Qt_6_0);
    out << value;
    return bytes;
}

QVariant decodeMetadataValue(const QByteArray &bytes)
{
    QDataStream in(bytes);
    in.setVersion(QDataStream::Qt_6_0);
    QVariant value;
    in >> value;
    return in.status() == QDataStream::Ok ? value : QVariant();
}

bool isDamageCode(int code)
{
    return code == SQLITE_NOTADB || code == SQLITE_CORRUPT || code == SQLITE_FORMAT;
}

Error storeError(int code, const QString &description, const QString &path, const QString &detail)
{
    Error e;
    e.domain = kObjectStoreErrorDomain;
    e.code = code;
    e.description = description;
    if (!path.isEmpty())
        e.userInfo.insert(QStringLiteral("path"), path);
    if (!detail.isEmpty()) {
        e.userInfo.insert(QStringLiteral("detail"), detail);
        e.description += QStringLiteral(" (") + detail + ')';
    }
    return e;
}

Result<bool> hasTable(SqliteDatabase &db, const QString &name)
{
    SqliteStatement st(db, QStringLiteral("SELECT 1 FROM sqlite_master WHERE type='table' AND name=?1"));
    st.bindText(1, name);
    const bool found = st.step();
    if (st.failed())
        return st.error();
    return found;
}

bool readMetadata(SqliteDatabase &db, QVariantMap *out, Error *error)
{
    const Result<bool> present = hasTable(db, kMetadataTable);
    if (!present) {
        if (error)
            *error = present.error();
        return false;
    }
    if (!present.value())
        return true;
    SqliteStatement st(db, QStringLiteral("SELECT key, value FROM ") + kMetadataTable);
    while (st.step())
        out->insert(st.textAt(0), decodeMetadataValue(st.blobAt(1)));
    if (st.failed() && error)
        *error = st.error();
    return !st.failed();
}

// A statement that could not be made fails its run with the reason.
bool writeMetadata(SqliteDatabase &db, const QString &key, const QVariant &value, Error *error)
{
    if (!db.exec(QStringLiteral("CREATE TABLE IF NOT EXISTS %1 (key TEXT PRIMARY KEY, value BLOB)").arg(kMetadataTable),
                 error))
        return false;
    if (!value.isValid()) {
        SqliteStatement st(db, QStringLiteral("DELETE FROM %1 WHERE key=?1").arg(kMetadataTable));
        st.bindText(1, key);
        return st.run(error);
    }
    SqliteStatement st(db, QStringLiteral("INSERT OR REPLACE INTO %1 (key, value) VALUES (?1, ?2)").arg(kMetadataTable));
    st.bindText(1, key);
    st.bindBlob(2, encodeMetadataValue(value));
    return st.run(error);
}

} // namespace

QString PersistentStore::tableName(const EntityDescription &entity)
{
    return entity.name;
}

QString PersistentStore::joinTableName(const EntityDescription &entity, const RelationshipDescription &relationship)
{
    return entity.name + '_' + relationship.name;
}

QString PersistentStore::toOneColumn(const RelationshipDescription &relationship)
{
    return relationship.name + QStringLiteral("_pk");
}

PersistentStore::PersistentStore(std::shared_ptr<const ManagedObjectModel> model, const QString &path, bool inMemory)
    : m_model(std::move(model)), m_path(path), m_inMemory(inMemory), m_db(std::make_unique<SqliteDatabase>())
{
    m_keys.resize(std::max<qsizetype>(1, m_model->entities().size()));
}

PersistentStore::~PersistentStore() = default;

Error PersistentStore::makeError(int code, const QString &description, const Error &cause) const
{
    Error error = storeError(code, description, m_path, cause.description);
    // What the user can do about a file they can mend themselves.
    const QString path = QDir::toNativeSeparators(m_path);
    if (m_path.isEmpty() || cause.domain != QLatin1String(kSqliteErrorDomain))
        return error;
    if (cause.code == SQLITE_READONLY || cause.code == SQLITE_CANTOPEN || cause.code == SQLITE_PERM)
        error.recoverySuggestion = QStringLiteral("Make “%1” and its folder writable, then try again.").arg(path);
    else if (cause.code == SQLITE_BUSY || cause.code == SQLITE_LOCKED)
        error.recoverySuggestion =
            QStringLiteral("Another program is using “%1”: try again once it is done.").arg(path);
    return error;
}

std::shared_ptr<PersistentStore> PersistentStore::openSQLite(const QString &path,
                                                             std::shared_ptr<const ManagedObjectModel> model,
                                                             Error *error)
{
    std::shared_ptr<PersistentStore> store(new PersistentStore(std::move(model), path, false));
    const QString fileName = QFileInfo(path).fileName();
    Error cause;
    if (!store->m_db->open(path, true, false, &cause)) {
        if (error)
            *error = store->makeError(StoreOpenFailed, QStringLiteral("The store file “%1” could not be opened.").arg(fileName),
                                      cause);
        return nullptr;
    }
    if (!store->prepare(error))
        return nullptr;
    return store;
}

std::shared_ptr<PersistentStore> PersistentStore::openInMemory(std::shared_ptr<const ManagedObjectModel> model,
                                                               Error *error)
{
    std::shared_ptr<PersistentStore> store(new PersistentStore(std::move(model), QString(), true));
    Error cause;
    if (!store->m_db->open(QStringLiteral(":memory:"), true, false, &cause)) {
        if (error)
            *error = store->makeError(StoreOpenFailed, QStringLiteral("The in-memory store could not be made."), cause);
        return nullptr;
    }
    if (!store->prepare(error))
        return nullptr;
    return store;
}

bool PersistentStore::prepare(Error *error)
{
    SqliteDatabase &db = *m_db;
    const QString fileName = m_inMemory ? QStringLiteral("memory") : QFileInfo(m_path).fileName();
    Error cause; // what SQLite said about the step that failed
    auto fail = [&](int code, const QString &text) {
        if (error)
            *error = makeError(code, text, cause);
        db.exec(QStringLiteral("ROLLBACK"));
        return false;
    };
    auto damagedOr = [&](int code, const QString &text) {
        if (isDamageCode(cause.code))
            return fail(StoreDamaged, QStringLiteral("The store file “%1” is damaged or is not a store.").arg(fileName));
        return fail(code, text);
    };

    // The first read tells a database from anything else.
    int userVersion = 0;
    {
        SqliteStatement st(db, QStringLiteral("PRAGMA user_version"));
        if (!st.step()) {
            cause = st.error();
            return damagedOr(StoreOpenFailed, QStringLiteral("The store file “%1” could not be read.").arg(fileName));
        }
        userVersion = int(st.int64At(0));
    }
    if (userVersion > m_model->version())
        return fail(StoreTooNew, QStringLiteral("The store file “%1” was written by a newer version of the program.").arg(fileName));

    // A store of this very schema that lacks one of its tables lost data:
    // made again empty it would hide that, so it counts as damage. Older
    // schemas gain their new tables below.
    QSet<QString> tables;
    {
        SqliteStatement st(db, QStringLiteral("SELECT name FROM sqlite_master WHERE type='table'"));
        while (st.step())
            tables.insert(st.textAt(0));
        if (st.failed()) {
            cause = st.error();
            return damagedOr(StoreOpenFailed, QStringLiteral("The store file “%1” could not be read.").arg(fileName));
        }
    }
    m_created = tables.isEmpty();
    if (!m_created && userVersion == m_model->version()) {
        QStringList wanted{QString::fromLatin1(kMetadataTable)};
        for (const EntityDescription &entity : m_model->entities()) {
            wanted << tableName(entity);
            for (const RelationshipDescription &rel : entity.relationships) {
                if (rel.toMany && m_model->isManyToMany(entity, entity.relationshipIndex(rel.name))
                    && ManagedObjectModel::ownsJoinTable(entity, rel))
                    wanted << joinTableName(entity, rel);
            }
        }
        for (const QString &table : std::as_const(wanted)) {
            if (!tables.contains(table))
                return fail(StoreDamaged, QStringLiteral("The store file “%1” is damaged: its table “%2” is missing.")
                                              .arg(fileName, table));
        }
    }

    if (!m_inMemory) {
        db.exec(QStringLiteral("PRAGMA journal_mode=WAL"));
        db.exec(QStringLiteral("PRAGMA synchronous=NORMAL"));
    }
    if (!db.exec(QStringLiteral("BEGIN IMMEDIATE"), &cause))
        return damagedOr(StoreOpenFailed, QStringLiteral("The store file “%1” could not be locked.").arg(fileName));

    // Additive migration: add whatever tables, columns and indexes are missing.
    for (const EntityDescription &entity : m_model->entities()) {
        const QString table = quoted(tableName(entity));
        if (!db.exec(QStringLiteral("CREATE TABLE IF NOT EXISTS %1 (pk INTEGER PRIMARY KEY)").arg(table), &cause))
            return damagedOr(StoreOpenFailed, QStringLiteral("The store file “%1” could not be updated.").arg(fileName));
        QSet<QString> columns;
        {
            SqliteStatement info(db, QStringLiteral("PRAGMA table_info(%1)").arg(table));
            while (info.step())
                columns.insert(info.textAt(1));
            if (info.failed()) {
                cause = info.error();
                return damagedOr(StoreOpenFailed, QStringLiteral("The store file “%1” could not be read.").arg(fileName));
            }
        }
        auto addColumn = [&](const QString &name, const QString &type) {
            if (columns.contains(name))
                return true;
            return db.exec(QStringLiteral("ALTER TABLE %1 ADD COLUMN %2 %3").arg(table, quoted(name), type), &cause);
        };
        auto addIndex = [&](const QString &column) {
            return db.exec(QStringLiteral("CREATE INDEX IF NOT EXISTS %1 ON %2 (%3)")
                               .arg(quoted(tableName(entity) + '_' + column), table, quoted(column)),
                           &cause);
        };
        for (const AttributeDescription &attr : entity.attributes) {
            if (attr.transient)
                continue;
            if (!addColumn(attr.name, columnType(attr.type)) || (attr.indexed && !addIndex(attr.name)))
                return damagedOr(StoreOpenFailed, QStringLiteral("The store file “%1” could not be updated.").arg(fileName));
        }
        for (const RelationshipDescription &rel : entity.relationships) {
            if (!rel.toMany) {
                if (!addColumn(toOneColumn(rel), QStringLiteral("INTEGER")) || !addIndex(toOneColumn(rel)))
                    return damagedOr(StoreOpenFailed, QStringLiteral("The store file “%1” could not be updated.").arg(fileName));
            } else if (m_model->isManyToMany(entity, entity.relationshipIndex(rel.name))
                       && ManagedObjectModel::ownsJoinTable(entity, rel)) {
                const QString join = quoted(joinTableName(entity, rel));
                if (!db.exec(QStringLiteral("CREATE TABLE IF NOT EXISTS %1 (src INTEGER NOT NULL, dst INTEGER NOT NULL, "
                                            "PRIMARY KEY (src, dst)) WITHOUT ROWID").arg(join),
                             &cause)
                    || !db.exec(QStringLiteral("CREATE INDEX IF NOT EXISTS %1 ON %2 (dst)")
                                    .arg(quoted(joinTableName(entity, rel) + QStringLiteral("_dst")), join),
                                &cause))
                    return damagedOr(StoreOpenFailed, QStringLiteral("The store file “%1” could not be updated.").arg(fileName));
            }
        }
    }

    if (!db.exec(QStringLiteral("CREATE TABLE IF NOT EXISTS %1 (entity TEXT PRIMARY KEY, next INTEGER NOT NULL)")
                     .arg(kKeysTable),
                 &cause))
        return damagedOr(StoreOpenFailed, QStringLiteral("The store file “%1” could not be updated.").arg(fileName));

    QVariantMap meta;
    if (!readMetadata(db, &meta, &cause))
        return damagedOr(StoreOpenFailed, QStringLiteral("The store file “%1” could not be read.").arg(fileName));
    m_identifier = meta.value(kStoreUUIDKey).toString();
    if (m_identifier.isEmpty()) {
        m_identifier = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
        if (!writeMetadata(db, kStoreUUIDKey, m_identifier, &cause))
            return damagedOr(StoreOpenFailed, QStringLiteral("The store file “%1” could not be updated.").arg(fileName));
    }
    // Written at every open: besides keeping the version, this first write
    // creates the write-ahead log now, so the first save after opening does
    // not pay for it.
    if (!writeMetadata(db, kStoreModelVersionKey, m_model->version(), &cause))
        return damagedOr(StoreOpenFailed, QStringLiteral("The store file “%1” could not be updated.").arg(fileName));
    if (userVersion != m_model->version()
        && !db.exec(QStringLiteral("PRAGMA user_version=%1").arg(m_model->version()), &cause))
        return damagedOr(StoreOpenFailed, QStringLiteral("The store file “%1” could not be updated.").arg(fileName));
    if (!db.exec(QStringLiteral("COMMIT"), &cause))
        return damagedOr(StoreOpenFailed, QStringLiteral("The store file “%1” could not be updated.").arg(fileName));

    for (const EntityDescription &entity : m_model->entities()) {
        SqliteStatement st(db, QStringLiteral("SELECT max(pk) FROM %1").arg(quoted(tableName(entity))));
        if (!st.step() && st.failed()) {
            cause = st.error();
            return damagedOr(StoreOpenFailed, QStringLiteral("The store file “%1” could not be read.").arg(fileName));
        }
        KeyBlock &keys = m_keys[size_t(entity.index)];
        keys.next = st.isNull(0) ? 1 : st.int64At(0) + 1;
        // A private in-memory database has no other writer.
        keys.limit = m_inMemory ? std::numeric_limits<qint64>::max() : keys.next;
    }
    return true;
}

void PersistentStore::reserveKeys(int entity)
{
    SqliteDatabase &db = *m_db;
    KeyBlock &keys = m_keys[size_t(entity)];
    const QString name = tableName(m_model->entities().at(entity));
    qint64 start = keys.next;
    bool reserved = false;
    if (db.exec(QStringLiteral("BEGIN IMMEDIATE"))) {
        {
            SqliteStatement stored(db, QStringLiteral("SELECT next FROM %1 WHERE entity=?1").arg(kKeysTable));
            stored.bindText(1, name);
            if (stored.step())
                start = std::max(start, stored.int64At(0));
            // Rows written by a program that kept no reservations count too.
            SqliteStatement highest(db, QStringLiteral("SELECT max(pk) FROM %1").arg(quoted(name)));
            if (highest.step() && !highest.isNull(0))
                start = std::max(start, highest.int64At(0) + 1);
            SqliteStatement update(db, QStringLiteral("INSERT OR REPLACE INTO %1 (entity, next) VALUES (?1, ?2)")
                                           .arg(kKeysTable));
            update.bindText(1, name);
            update.bindInt64(2, start + kKeyBlock);
            reserved = stored.isValid() && !stored.failed() && highest.isValid() && !highest.failed()
                       && update.isValid() && update.run();
        }
        reserved = db.exec(reserved ? QStringLiteral("COMMIT") : QStringLiteral("ROLLBACK")) && reserved;
    }
    if (!reserved) {
        // The file is locked or read-only: keys from what was seen at open.
        // A clash then fails the save instead of overwriting anything.
        keys.limit = keys.next + 1;
        return;
    }
    keys.next = start;
    keys.limit = start + kKeyBlock;
}

qint64 PersistentStore::newPrimaryKey(int entity)
{
    QMutexLocker locker(&m_lock);
    KeyBlock &keys = m_keys[size_t(entity)];
    if (keys.next >= keys.limit)
        reserveKeys(entity);
    return keys.next++;
}

std::optional<QVariantMap> PersistentStore::metadataForStoreAtPath(const QString &path, Error *error)
{
    if (!QFileInfo::exists(path))
        return QVariantMap();
    SqliteDatabase db;
    QVariantMap meta;
    Error cause;
    if (!db.open(path, false, true, &cause) || !readMetadata(db, &meta, &cause)) {
        if (error)
            *error = storeError(isDamageCode(cause.code) ? StoreDamaged : StoreMetadataFailed,
                                QStringLiteral("The metadata of “%1” could not be read.").arg(QFileInfo(path).fileName()),
                                path, cause.description);
        return std::nullopt;
    }
    return meta;
}

bool PersistentStore::setMetadataValueForStoreAtPath(const QVariant &value, const QString &key, const QString &path,
                                                     Error *error)
{
    const QString fileName = QFileInfo(path).fileName();
    if (!QFileInfo::exists(path)) {
        if (error)
            *error = storeError(StoreMissing, QStringLiteral("There is no store file “%1” to keep metadata in.").arg(fileName),
                                path, QString());
        return false;
    }
    SqliteDatabase db;
    Error cause;
    if (!db.open(path, false, false, &cause) || !writeMetadata(db, key, value, &cause)) {
        if (error)
            *error = storeError(isDamageCode(cause.code) ? StoreDamaged : StoreMetadataFailed,
                                QStringLiteral("The metadata of “%1” could not be written.").arg(fileName), path,
                                cause.description);
        return false;
    }
    return true;
}

QVariantMap PersistentStore::metadata() const
{
    QMutexLocker locker(&m_lock);
    QVariantMap meta;
    readMetadata(*m_db, &meta, nullptr);
    return meta;
}

bool PersistentStore::setMetadataValue(const QVariant &value, const QString &key, Error *error)
{
    QMutexLocker locker(&m_lock);
    Error cause;
    if (!writeMetadata(*m_db, key, value, &cause)) {
        if (error)
            *error = makeError(StoreMetadataFailed, QStringLiteral("The store metadata could not be written."), cause);
        return false;
    }
    return true;
}

bool PersistentStore::loadRows(int entityIndex, const std::function<void(LoadedRow &)> &sink, Error *error)
{
    QMutexLocker locker(&m_lock);
    const EntityDescription &entity = m_model->entityAt(entityIndex);
    QStringList columns{QStringLiteral("pk")};
    std::vector<std::pair<int, int>> attrColumns; // attribute, column
    std::vector<std::pair<int, int>> relColumns;
    for (int i = 0; i < entity.attributes.size(); ++i) {
        const AttributeDescription &attr = entity.attributes.at(i);
        if (attr.transient || attr.lazy)
            continue;
        attrColumns.emplace_back(i, int(columns.size()));
        columns << quoted(attr.name);
    }
    for (int i = 0; i < entity.relationships.size(); ++i) {
        if (entity.relationships.at(i).toMany)
            continue;
        relColumns.emplace_back(i, int(columns.size()));
        columns << quoted(toOneColumn(entity.relationships.at(i)));
    }
    SqliteStatement st(*m_db, QStringLiteral("SELECT %1 FROM %2 ORDER BY pk").arg(columns.join(','), quoted(tableName(entity))));
    LoadedRow row;
    while (st.step()) {
        row.pk = st.int64At(0);
        row.values.assign(entity.attributes.size(), QVariant());
        row.toOnes.assign(entity.relationships.size(), 0);
        for (const auto &[attr, column] : attrColumns)
            row.values[attr] = readValue(st, column, entity.attributes.at(attr).type);
        for (const auto &[rel, column] : relColumns)
            row.toOnes[rel] = st.isNull(column) ? 0 : st.int64At(column);
        sink(row);
    }
    if (st.failed()) {
        if (error)
            *error = makeError(isDamageCode(st.error().code) ? StoreDamaged : StoreOpenFailed,
                               QStringLiteral("The objects of “%1” could not be read.").arg(entity.name), st.error());
        return false;
    }
    return true;
}

bool PersistentStore::loadJoinRows(int entityIndex, int relationship, const std::function<void(qint64, qint64)> &sink,
                                   Error *error)
{
    QMutexLocker locker(&m_lock);
    const EntityDescription &entity = m_model->entityAt(entityIndex);
    SqliteStatement st(*m_db, QStringLiteral("SELECT src, dst FROM %1")
                                  .arg(quoted(joinTableName(entity, entity.relationships.at(relationship)))));
    while (st.step())
        sink(st.int64At(0), st.int64At(1));
    if (st.failed()) {
        if (error)
            *error = makeError(isDamageCode(st.error().code) ? StoreDamaged : StoreOpenFailed,
                               QStringLiteral("The relationships of “%1” could not be read.").arg(entity.name), st.error());
        return false;
    }
    return true;
}

QVariant PersistentStore::readAttribute(const ObjectID &id, int attribute) const
{
    QMutexLocker locker(&m_lock);
    const EntityDescription &entity = m_model->entityAt(id.entity);
    const AttributeDescription &attr = entity.attributes.at(attribute);
    SqliteStatement st(*m_db, QStringLiteral("SELECT %1 FROM %2 WHERE pk=?1").arg(quoted(attr.name), quoted(tableName(entity))));
    st.bindInt64(1, id.pk);
    if (!st.step())
        return QVariant();
    return readValue(st, 0, attr.type);
}

SqliteStatement &PersistentStore::cachedStatement(const QString &sql)
{
    auto it = m_statements.find(sql);
    if (it == m_statements.end())
        it = m_statements.insert(sql, std::make_shared<SqliteStatement>(*m_db, sql));
    return *it.value();
}

bool PersistentStore::write(const StoreSaveRequest &request, Error *error)
{
    QMutexLocker locker(&m_lock);
    SqliteDatabase &db = *m_db;
    QString failedEntity;
    Error cause; // what SQLite said about the step that failed
    auto fail = [&]() {
        db.exec(QStringLiteral("ROLLBACK"));
        if (error) {
            *error = makeError(isDamageCode(cause.code) ? StoreDamaged : StoreSaveFailed,
                               failedEntity.isEmpty() ? QStringLiteral("The changes could not be saved.")
                                                      : QStringLiteral("The changes to %1 could not be saved.").arg(failedEntity),
                               cause);
            if (!failedEntity.isEmpty())
                error->userInfo.insert(QStringLiteral("entity"), failedEntity);
        }
        return false;
    };
    if (!db.exec(QStringLiteral("BEGIN IMMEDIATE"), &cause))
        return fail();

    for (const StoreSaveRequest::RowWrite &row : request.writes) {
        const EntityDescription &entity = m_model->entityAt(row.entity);
        failedEntity = entity.name;
        QStringList names;
        for (const auto &[attr, value] : row.attributes)
            names << quoted(entity.attributes.at(attr).name);
        for (const auto &[rel, target] : row.toOnes)
            names << quoted(toOneColumn(entity.relationships.at(rel)));
        QString sql;
        if (row.isInsert) {
            QStringList marks;
            for (int i = 0; i <= names.size(); ++i)
                marks << QStringLiteral("?%1").arg(i + 1);
            sql = QStringLiteral("INSERT INTO %1 (pk%2%3) VALUES (%4)")
                      .arg(quoted(tableName(entity)), names.isEmpty() ? QString() : QStringLiteral(","),
                           names.join(','), marks.join(','));
        } else {
            if (names.isEmpty())
                continue;
            QStringList sets;
            for (int i = 0; i < names.size(); ++i)
                sets << QStringLiteral("%1=?%2").arg(names.at(i)).arg(i + 2);
            sql = QStringLiteral("UPDATE %1 SET %2 WHERE pk=?1").arg(quoted(tableName(entity)), sets.join(','));
        }
        SqliteStatement &st = cachedStatement(sql);
        if (!st.isValid()) {
            cause = st.error();
            return fail();
        }
        st.bindInt64(1, row.pk);
        int index = 2;
        for (const auto &[attr, value] : row.attributes)
            bindValue(st, index++, entity.attributes.at(attr).type, value);
        for (const auto &[rel, target] : row.toOnes) {
            if (target > 0)
                st.bindInt64(index++, target);
            else
                st.bindNull(index++);
        }
        if (!st.run(&cause))
            return fail();
    }

    for (const StoreSaveRequest::JoinWrite &join : request.joins) {
        const EntityDescription &entity = m_model->entityAt(join.entity);
        failedEntity = entity.name;
        const QString table = quoted(joinTableName(entity, entity.relationships.at(join.relationship)));
        SqliteStatement clear(db, QStringLiteral("DELETE FROM %1 WHERE src=?1").arg(table));
        clear.bindInt64(1, join.pk);
        if (!clear.run(&cause))
            return fail();
        SqliteStatement add(db, QStringLiteral("INSERT OR IGNORE INTO %1 (src, dst) VALUES (?1, ?2)").arg(table));
        if (!add.isValid()) {
            cause = add.error();
            return fail();
        }
        for (qint64 target : join.targets) {
            add.bindInt64(1, join.pk);
            add.bindInt64(2, target);
            if (!add.run(&cause))
                return fail();
        }
    }

    for (const StoreSaveRequest::RowDelete &row : request.deletes) {
        const EntityDescription &entity = m_model->entityAt(row.entity);
        failedEntity = entity.name;
        SqliteStatement st(db, QStringLiteral("DELETE FROM %1 WHERE pk=?1").arg(quoted(tableName(entity))));
        st.bindInt64(1, row.pk);
        if (!st.run(&cause))
            return fail();
        for (int r = 0; r < entity.relationships.size(); ++r) {
            if (!m_model->isManyToMany(entity, r))
                continue;
            const RelationshipDescription &rel = entity.relationships.at(r);
            const bool owner = ManagedObjectModel::ownsJoinTable(entity, rel);
            const EntityDescription &dest = m_model->entityAt(rel.destinationIndex);
            const QString table = owner ? joinTableName(entity, rel)
                                        : joinTableName(dest, dest.relationships.at(rel.inverseIndex));
            SqliteStatement clear(db, QStringLiteral("DELETE FROM %1 WHERE %2=?1")
                                          .arg(quoted(table), owner ? QStringLiteral("src") : QStringLiteral("dst")));
            clear.bindInt64(1, row.pk);
            if (!clear.run(&cause))
                return fail();
        }
    }

    failedEntity.clear();
    if (!db.exec(QStringLiteral("COMMIT"), &cause))
        return fail();
    return true;
}

} // namespace platform
