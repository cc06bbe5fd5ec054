#pragma once

#include <QString>

struct sqlite3;

namespace platform {

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
    bool open(const QString &path, bool create, bool readOnly = false);
    void close();
    bool isOpen() const { return m_db != nullptr; }

    // Runs statements without results; false with lastError() on failure.
    bool exec(const QString &sql);

    QString lastError() const { return m_lastError; }
    int lastErrorCode() const { return m_lastErrorCode; }
    void noteError(); // copies the connection's current error
    void setError(int code, const QString &message);

    sqlite3 *handle() const { return m_db; }

private:
    sqlite3 *m_db = nullptr;
    QString m_lastError;
    int m_lastErrorCode = 0;
};

} // namespace platform
