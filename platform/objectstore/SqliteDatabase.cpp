#include "platform/objectstore/SqliteDatabase.h"

#include <QFileInfo>
#include <QUrl>

#include <sqlite3.h>
#include <unistd.h>

namespace platform {

Error sqliteError(int code, const QString &message)
{
    return Error{QString::fromLatin1(kSqliteErrorDomain), code, message, {}, {}};
}

SqliteDatabase::~SqliteDatabase()
{
    close();
}

bool SqliteDatabase::open(const QString &path, bool create, bool readOnly, Error *error)
{
    close();
    int flags = SQLITE_OPEN_NOMUTEX;
    if (readOnly)
        flags |= SQLITE_OPEN_READONLY;
    else
        flags |= SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0);
    QByteArray name = path.toUtf8();
    // A file this process may not write is read as it lies, with no -wal or
    // -shm made beside it: they would keep its mode, and the store shut.
    if (readOnly && !create && QFileInfo(path).isFile() && ::access(name.constData(), W_OK) != 0) {
        name = QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()).toEncoded() + "?immutable=1";
        flags |= SQLITE_OPEN_URI;
    }
    const int rc = sqlite3_open_v2(name.constData(), &m_db, flags, nullptr);
    if (rc != SQLITE_OK) {
        if (error)
            *error = sqliteError(rc, m_db ? QString::fromUtf8(sqlite3_errmsg(m_db)) : QString::fromUtf8(sqlite3_errstr(rc)));
        close();
        return false;
    }
    // SQLite falls back to reading a file it may not write, and its first
    // read leaves -wal and -shm files as read-only as the store: the store
    // then stays unusable after the user makes it writable again.
    if (!readOnly && sqlite3_db_readonly(m_db, "main") == 1) {
        if (error)
            *error = sqliteError(SQLITE_READONLY, QStringLiteral("the file is read-only"));
        close();
        return false;
    }
    sqlite3_extended_result_codes(m_db, 0);
    // Another connection (metadata from a worker, a second process) may hold
    // the write lock briefly.
    sqlite3_busy_timeout(m_db, 5000);
    return true;
}

void SqliteDatabase::close()
{
    if (m_db) {
        sqlite3_close_v2(m_db);
        m_db = nullptr;
    }
}

bool SqliteDatabase::exec(const QString &sql, Error *error)
{
    if (!m_db) {
        if (error)
            *error = sqliteError(SQLITE_MISUSE, QStringLiteral("database is not open"));
        return false;
    }
    char *message = nullptr;
    const int rc = sqlite3_exec(m_db, sql.toUtf8().constData(), nullptr, nullptr, &message);
    if (rc != SQLITE_OK) {
        if (error)
            *error = sqliteError(rc, message ? QString::fromUtf8(message) : QString::fromUtf8(sqlite3_errstr(rc)));
        sqlite3_free(message);
        return false;
    }
    return true;
}

} // namespace platform
