#pragma once

#include "platform/Error.h"

#include <QString>

struct sqlite3;

namespace platform {

// Errors of SQLite itself: its result code and its message.
inline constexpr const char *kSqliteErrorDomain = "SQLite";
Error sqliteError(int code, const QString &message);

// One SQLite connection. Not thread-safe by itself: its owner serialises use.
class SqliteDatabase
{
public:
    SqliteDatabase() = default;
    ~SqliteDatabase();
    SqliteDatabase(const SqliteDatabase &) = delete;
    SqliteDatabase &operator=(const SqliteDatabase &) = delete;

    // Opens (creating when `create`) the file; ":memory:" gives a private
    // in-memory database.
    bool open(const QString &path, bool create, bool readOnly = false, Error *error = nullptr);
    void close();
    bool isOpen() const { return m_db != nullptr; }

    // Runs statements without results.
    bool exec(const QString &sql, Error *error = nullptr);

    sqlite3 *handle() const { return m_db; }

private:
    sqlite3 *m_db = nullptr;
};

} // namespace platform
