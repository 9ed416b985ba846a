#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace kestrove {

// A prepared statement. Every failure shows as a false result or an Error step; nothing throws.
class SqliteStatement {
  public:
    enum class Step { Row, Done, Error };

    explicit SqliteStatement(sqlite3_stmt* statement) : m_statement(statement) {}
    SqliteStatement(SqliteStatement&& other) noexcept;
    SqliteStatement& operator=(SqliteStatement&&) = delete;
    SqliteStatement(const SqliteStatement&) = delete;
    ~SqliteStatement();

    // Parameters count from 1, as SQLite numbers them.
    [[nodiscard]] bool Bind(int index, std::int64_t value);
    [[nodiscard]] bool Bind(int index, std::span<const std::uint8_t> blob);
    [[nodiscard]] bool Bind(int index, const std::string& utf8);
    [[nodiscard]] bool BindNull(int index);

    [[nodiscard]] Step Next();
    [[nodiscard]] std::int64_t Int(int column) const;
    [[nodiscard]] std::vector<std::uint8_t> Blob(int column) const;

  private:
    sqlite3_stmt* m_statement;
};

// One connection to a database file, closed when the object goes.
class SqliteDatabase {
  public:
    // Opens a file that already exists, read-only unless writable; never creates one. Null when
    // the file cannot be opened. A busy database is waited for up to busyTimeout.
    static std::unique_ptr<SqliteDatabase> OpenExisting(const std::filesystem::path& file,
                                                        bool writable,
                                                        std::chrono::milliseconds busyTimeout);

    SqliteDatabase(const SqliteDatabase&) = delete;
    SqliteDatabase& operator=(const SqliteDatabase&) = delete;
    ~SqliteDatabase();

    [[nodiscard]] bool Exec(const char* sql);
    [[nodiscard]] std::optional<SqliteStatement> Prepare(const char* sql);
    // The single integer a query such as a PRAGMA gives; nullopt when it fails.
    [[nodiscard]] std::optional<std::int64_t> QueryInt(const char* sql);

  private:
    explicit SqliteDatabase(sqlite3* db) : m_db(db) {}
    sqlite3* m_db;
};

}  // namespace kestrove
