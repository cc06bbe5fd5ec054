#include "platform/objectstore/SqliteStatement.h"

#include "platform/objectstore/SqliteDatabase.h"

#include <sqlite3.h>

namespace platform {

SqliteStatement::SqliteStatement(SqliteDatabase &db, const QString &sql)
{
    if (!db.handle()) {
        m_error = sqliteError(SQLITE_MISUSE, QStringLiteral("database is not open"));
        return;
    }
    const QByteArray text = sql.toUtf8();
    if (sqlite3_prepare_v2(db.handle(), text.constData(), int(text.size()), &m_stmt, nullptr) != SQLITE_OK) {
        m_error = sqliteError(sqlite3_errcode(db.handle()), QString::fromUtf8(sqlite3_errmsg(db.handle())));
        sqlite3_finalize(m_stmt);
        m_stmt = nullptr;
    }
}

SqliteStatement::~SqliteStatement()
{
    sqlite3_finalize(m_stmt);
}

SqliteStatement::SqliteStatement(SqliteStatement &&other) noexcept
    : m_stmt(other.m_stmt), m_failed(other.m_failed), m_error(std::move(other.m_error))
{
    other.m_stmt = nullptr;
}

SqliteStatement &SqliteStatement::operator=(SqliteStatement &&other) noexcept
{
    if (this != &other) {
        sqlite3_finalize(m_stmt);
        m_stmt = other.m_stmt;
        m_failed = other.m_failed;
        m_error = std::move(other.m_error);
        other.m_stmt = nullptr;
    }
    return *this;
}

void SqliteStatement::bindNull(int index)
{
    sqlite3_bind_null(m_stmt, index);
}

void SqliteStatement::bindInt64(int index, qint64 value)
{
    sqlite3_bind_int64(m_stmt, index, value);
}

void SqliteStatement::bindDouble(int index, double value)
{
    sqlite3_bind_double(m_stmt, index, value);
}

void SqliteStatement::bindText(int index, const QString &value)
{
    const QByteArray utf8 = value.toUtf8();
    sqlite3_bind_text(m_stmt, index, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
}

void SqliteStatement::bindBlob(int index, const QByteArray &value)
{
    // A non-null zero-length blob stays distinct from NULL.
    sqlite3_bind_blob(m_stmt, index, value.isEmpty() ? "" : value.constData(), int(value.size()), SQLITE_TRANSIENT);
}

bool SqliteStatement::step()
{
    if (!m_stmt) {
        m_failed = true;
        return false;
    }
    const int rc = sqlite3_step(m_stmt);
    if (rc == SQLITE_ROW)
        return true;
    if (rc != SQLITE_DONE) {
        m_failed = true;
        sqlite3 *db = sqlite3_db_handle(m_stmt);
        m_error = sqliteError(sqlite3_errcode(db), QString::fromUtf8(sqlite3_errmsg(db)));
    }
    return false;
}

bool SqliteStatement::run(Error *error)
{
    m_failed = false;
    while (step()) {
    }
    const bool ok = !m_failed;
    if (!ok && error)
        *error = m_error;
    reset();
    return ok;
}

void SqliteStatement::reset()
{
    if (m_stmt) {
        sqlite3_reset(m_stmt);
        sqlite3_clear_bindings(m_stmt);
        m_error = Error();
    }
    m_failed = false;
}

int SqliteStatement::columnCount() const
{
    return m_stmt ? sqlite3_column_count(m_stmt) : 0;
}

bool SqliteStatement::isNull(int column) const
{
    return sqlite3_column_type(m_stmt, column) == SQLITE_NULL;
}

qint64 SqliteStatement::int64At(int column) const
{
    return sqlite3_column_int64(m_stmt, column);
}

double SqliteStatement::doubleAt(int column) const
{
    return sqlite3_column_double(m_stmt, column);
}

QString SqliteStatement::textAt(int column) const
{
    const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(m_stmt, column));
    const int size = sqlite3_column_bytes(m_stmt, column);
    return text ? QString::fromUtf8(text, size) : QString();
}

QByteArray SqliteStatement::blobAt(int column) const
{
    const void *data = sqlite3_column_blob(m_stmt, column);
    const int size = sqlite3_column_bytes(m_stmt, column);
    if (!data)
        return sqlite3_column_type(m_stmt, column) == SQLITE_NULL ? QByteArray() : QByteArray("");
    return QByteArray(static_cast<const char *>(data), size);
}

} // namespace platform
