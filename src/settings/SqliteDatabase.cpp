#include "SqliteDatabase.h"

#include <sqlite3.h>

#include <climits>

namespace kestrove {

SqliteStatement::SqliteStatement(SqliteStatement&& other) noexcept
    : m_statement(other.m_statement) {
    other.m_statement = nullptr;
}

SqliteStatement::~SqliteStatement() {
    sqlite3_finalize(m_statement);
}

bool SqliteStatement::Bind(int index, std::int64_t value) {
    return sqlite3_bind_int64(m_statement, index, value) == SQLITE_OK;
}

bool SqliteStatement::Bind(int index, std::span<const std::uint8_t> blob) {
    if (blob.size() > static_cast<std::size_t>(INT_MAX)) {
        return false;
    }
    // A zero-length blob must still bind as a blob, not as NULL, so give SQLite a valid pointer.
    static const std::uint8_t kNothing = 0;
    const void* bytes = blob.empty() ? &kNothing : blob.data();
    return sqlite3_bind_blob(m_statement, index, bytes, static_cast<int>(blob.size()),
                             SQLITE_TRANSIENT) == SQLITE_OK;
}

bool SqliteStatement::Bind(int index, const std::string& utf8) {
    if (utf8.size() > static_cast<std::size_t>(INT_MAX)) {
        return false;
    }
    return sqlite3_bind_text(m_statement, index, utf8.data(), static_cast<int>(utf8.size()),
                             SQLITE_TRANSIENT) == SQLITE_OK;
}

bool SqliteStatement::BindNull(int index) {
    return sqlite3_bind_null(m_statement, index) == SQLITE_OK;
}

SqliteStatement::Step SqliteStatement::Next() {
    switch (sqlite3_step(m_statement)) {
        case SQLITE_ROW:
            return Step::Row;
        case SQLITE_DONE:
            return Step::Done;
        default:
            return Step::Error;
    }
}

std::int64_t SqliteStatement::Int(int column) const {
    return sqlite3_column_int64(m_statement, column);
}

std::vector<std::uint8_t> SqliteStatement::Blob(int column) const {
    const auto* bytes = static_cast<const std::uint8_t*>(sqlite3_column_blob(m_statement, column));
    const int size = sqlite3_column_bytes(m_statement, column);
    if (bytes == nullptr || size <= 0) {
        return {};
    }
    return {bytes, bytes + size};
}

std::unique_ptr<SqliteDatabase> SqliteDatabase::OpenExisting(
    const std::filesystem::path& file, bool writable, std::chrono::milliseconds busyTimeout) {
    if (file.empty()) {
        return nullptr;
    }
    // Without SQLITE_OPEN_CREATE a missing file is an error rather than a new database.
    const int flags = writable ? SQLITE_OPEN_READWRITE : SQLITE_OPEN_READONLY;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(file.c_str(), &db, flags, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        return nullptr;
    }
    const auto timeout = busyTimeout.count();
    sqlite3_busy_timeout(db, timeout > INT_MAX ? INT_MAX : static_cast<int>(timeout));
    return std::unique_ptr<SqliteDatabase>(new SqliteDatabase(db));
}

SqliteDatabase::~SqliteDatabase() {
    sqlite3_close(m_db);
}

bool SqliteDatabase::Exec(const char* sql) {
    return sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

std::optional<SqliteStatement> SqliteDatabase::Prepare(const char* sql) {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(m_db, sql, -1, &statement, nullptr) != SQLITE_OK) {
        sqlite3_finalize(statement);
        return std::nullopt;
    }
    return SqliteStatement(statement);
}

std::optional<std::int64_t> SqliteDatabase::QueryInt(const char* sql) {
    auto statement = Prepare(sql);
    if (!statement || statement->Next() != SqliteStatement::Step::Row) {
        return std::nullopt;
    }
    return statement->Int(0);
}

}  // namespace kestrove
