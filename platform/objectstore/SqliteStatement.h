#pragma once

#include "platform/Error.h"

#include <QByteArray>
#include <QString>
#include <QVariant>

struct sqlite3_stmt;

namespace platform {

class SqliteDatabase;

// A prepared statement; binds and reads QVariants.
class SqliteStatement
{
public:
    SqliteStatement() = default;
    SqliteStatement(SqliteDatabase &db, const QString &sql);
    ~SqliteStatement();
    SqliteStatement(SqliteStatement &&other) noexcept;
    SqliteStatement &operator=(SqliteStatement &&other) noexcept;
    SqliteStatement(const SqliteStatement &) = delete;
    SqliteStatement &operator=(const SqliteStatement &) = delete;

    bool isValid() const { return m_stmt != nullptr; }

    void bindNull(int index);
    void bindInt64(int index, qint64 value);
    void bindDouble(int index, double value);
    void bindText(int index, const QString &value);
    void bindBlob(int index, const QByteArray &value);

    // Steps once: true while a row is available. A finished or failed step
    // answers false; failed() tells them apart.
    bool step();
    bool failed() const { return m_failed; }
    // Why the statement could not be made or its last step failed; null
    // when neither.
    const Error &error() const { return m_error; }
    // Runs to completion; false with the reason in `error`.
    bool run(Error *error = nullptr);
    // Clears the bindings and a failed step (not a failed preparation).
    void reset();

    int columnCount() const;
    bool isNull(int column) const;
    qint64 int64At(int column) const;
    double doubleAt(int column) const;
    QString textAt(int column) const;
    QByteArray blobAt(int column) const;

private:
    sqlite3_stmt *m_stmt = nullptr;
    bool m_failed = false;
    Error m_error;
};

} // namespace platform
