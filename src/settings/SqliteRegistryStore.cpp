#include "SqliteRegistryStore.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <exception>
#include <optional>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include "SqliteDatabase.h"
#include "TextCodec.h"

namespace kestrove {
namespace {

using Step = SqliteStatement::Step;

// Marks the file as ours, so a database of another program at the same path is left alone.
constexpr std::int64_t kApplicationId = 0x4B657374;
constexpr std::int64_t kSchemaVersion = 1;

// The four roots are the first four rows, so every key hangs below one of them and a root
// handle needs no file to exist yet.
constexpr const char* kCreateSchema = R"sql(
CREATE TABLE reg_keys(
    id INTEGER PRIMARY KEY AUTOINCREMENT,
    parent INTEGER REFERENCES reg_keys(id),
    name TEXT NOT NULL,
    fold BLOB NOT NULL,
    UNIQUE(parent, fold));
CREATE TABLE reg_values(
    key INTEGER NOT NULL REFERENCES reg_keys(id),
    name TEXT NOT NULL,
    fold BLOB NOT NULL,
    type INTEGER NOT NULL,
    data BLOB NOT NULL,
    PRIMARY KEY(key, fold)) WITHOUT ROWID;
INSERT INTO reg_keys(id, parent, name, fold) VALUES
    (1, NULL, 'HKEY_CLASSES_ROOT', X''),
    (2, NULL, 'HKEY_CURRENT_USER', X''),
    (3, NULL, 'HKEY_LOCAL_MACHINE', X''),
    (4, NULL, 'HKEY_USERS', X'');
PRAGMA application_id = 1264939892;
PRAGMA user_version = 1;
)sql";
static_assert(kApplicationId == 1264939892);

enum class Schema { Ours, Blank, Foreign };

Schema InspectSchema(SqliteDatabase& db) {
    const auto application = db.QueryInt("PRAGMA application_id");
    if (!application) {
        return Schema::Foreign;  // not a database at all, or unreadable
    }
    if (*application == kApplicationId) {
        const auto version = db.QueryInt("PRAGMA user_version");
        return version == kSchemaVersion ? Schema::Ours : Schema::Foreign;
    }
    if (*application != 0) {
        return Schema::Foreign;
    }
    const auto objects = db.QueryInt("SELECT count(*) FROM sqlite_master");
    return objects == 0 ? Schema::Blank : Schema::Foreign;
}

std::int64_t RootRow(RegistryRoot root) {
    switch (root) {
        case RegistryRoot::ClassesRoot:
            return 1;
        case RegistryRoot::CurrentUser:
            return 2;
        case RegistryRoot::LocalMachine:
            return 3;
        case RegistryRoot::Users:
            return 4;
        case RegistryRoot::None:
            break;
    }
    return 0;
}

// The identity of a name: its UTF-16LE code units with ASCII capitals lowered. Kept as bytes so
// that every code unit, unpaired surrogates included, stays distinct.
std::vector<std::uint8_t> Fold(std::u16string_view name) {
    std::vector<std::uint8_t> bytes;
    bytes.reserve(name.size() * 2);
    for (char16_t unit : name) {
        if (unit >= u'A' && unit <= u'Z') {
            unit = static_cast<char16_t>(unit - u'A' + u'a');
        }
        bytes.push_back(static_cast<std::uint8_t>(unit & 0xFF));
        bytes.push_back(static_cast<std::uint8_t>(unit >> 8));
    }
    return bytes;
}

// The levels of a key path; nullopt when a level is empty.
std::optional<std::vector<std::u16string_view>> SplitPath(std::u16string_view path) {
    std::vector<std::u16string_view> levels;
    if (path.empty()) {
        return levels;
    }
    while (true) {
        const auto end = path.find(u'\\');
        const auto level = path.substr(0, end);
        if (level.empty()) {
            return std::nullopt;
        }
        levels.push_back(level);
        if (end == std::u16string_view::npos) {
            return levels;
        }
        path.remove_prefix(end + 1);
    }
}

// Row of the named child of parent: 0 when there is none, nullopt when the query fails.
std::optional<std::int64_t> FindChild(SqliteDatabase& db, std::int64_t parent,
                                      std::u16string_view name) {
    auto query = db.Prepare("SELECT id FROM reg_keys WHERE parent = ?1 AND fold = ?2");
    if (!query || !query->Bind(1, parent) || !query->Bind(2, Fold(name))) {
        return std::nullopt;
    }
    switch (query->Next()) {
        case Step::Row:
            return query->Int(0);
        case Step::Done:
            return 0;
        case Step::Error:
            break;
    }
    return std::nullopt;
}

std::optional<std::int64_t> FindKey(SqliteDatabase& db, std::int64_t row,
                                    const std::vector<std::u16string_view>& levels) {
    for (const auto level : levels) {
        const auto child = FindChild(db, row, level);
        if (!child || *child == 0) {
            return child;
        }
        row = *child;
    }
    return row;
}

std::optional<std::int64_t> AddChild(SqliteDatabase& db, std::int64_t parent,
                                     std::u16string_view name) {
    auto insert = db.Prepare("INSERT INTO reg_keys(parent, name, fold) VALUES (?1, ?2, ?3)");
    if (!insert || !insert->Bind(1, parent) || !insert->Bind(2, Utf16ToUtf8(name)) ||
        !insert->Bind(3, Fold(name)) || insert->Next() != Step::Done) {
        return std::nullopt;
    }
    return FindChild(db, parent, name);
}

// Whether the query on row finds anything; nullopt when it fails.
std::optional<bool> Exists(SqliteDatabase& db, const char* sql, std::int64_t row) {
    auto query = db.Prepare(sql);
    if (!query || !query->Bind(1, row)) {
        return std::nullopt;
    }
    const Step step = query->Next();
    if (step == Step::Error) {
        return std::nullopt;
    }
    return step == Step::Row;
}

bool RunOnRow(SqliteDatabase& db, const char* sql, std::int64_t row) {
    auto statement = db.Prepare(sql);
    return statement && statement->Bind(1, row) && statement->Next() == Step::Done;
}

// Rolls back unless committed, so every early return leaves the file as it was.
class WriteTransaction {
  public:
    explicit WriteTransaction(SqliteDatabase& db) : m_db(db) {}
    WriteTransaction(const WriteTransaction&) = delete;
    WriteTransaction& operator=(const WriteTransaction&) = delete;
    ~WriteTransaction() {
        if (!m_committed) {
            (void)m_db.Exec("ROLLBACK");
        }
    }
    bool Commit() {
        m_committed = m_db.Exec("COMMIT");
        return m_committed;
    }

  private:
    SqliteDatabase& m_db;
    bool m_committed = false;
};

}  // namespace

std::filesystem::path RegistryPathFromEnvironment(const char* xdgConfigHome, const char* home) {
    std::filesystem::path config;
    if (xdgConfigHome != nullptr && std::filesystem::path(xdgConfigHome).is_absolute()) {
        config = xdgConfigHome;
    } else if (home != nullptr && std::filesystem::path(home).is_absolute()) {
        config = std::filesystem::path(home) / ".config";
    } else {
        return {};
    }
    return config / "Kestrove" / "registry.db";
}

SqliteRegistryStore::SqliteRegistryStore(std::filesystem::path file,
                                         std::chrono::milliseconds busyTimeout)
    : m_file(std::move(file)), m_busyTimeout(busyTimeout) {}

SqliteRegistryStore::~SqliteRegistryStore() = default;

RegistryStore::KeyHandle SqliteRegistryStore::Track(std::int64_t keyRow) {
    const KeyHandle handle = m_nextHandle++;
    m_openKeys.emplace(handle, keyRow);
    return handle;
}

std::int64_t SqliteRegistryStore::KeyRow(KeyHandle key) const {
    const auto found = m_openKeys.find(key);
    return found == m_openKeys.end() ? 0 : found->second;
}

bool SqliteRegistryStore::MakeFile() const {
    std::error_code error;
    if (m_file.has_parent_path()) {
        std::filesystem::create_directories(m_file.parent_path(), error);
        if (error) {
            return false;
        }
    }
    // Made here rather than by SQLite so that it is private from the start; an empty file is an
    // empty database, which the first transaction fills in.
    const int fd = ::open(m_file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0) {
        ::close(fd);
        return true;
    }
    return errno == EEXIST;
}

std::unique_ptr<SqliteDatabase> SqliteRegistryStore::OpenForReading() const {
    auto db = SqliteDatabase::OpenExisting(m_file, false, m_busyTimeout);
    // One read transaction, so that a walk down a path sees one state of the file.
    if (!db || !db->Exec("BEGIN") || InspectSchema(*db) != Schema::Ours) {
        return nullptr;
    }
    return db;
}

bool SqliteRegistryStore::Write(bool mayCreate, const Change& change) {
    if (m_file.empty() || (mayCreate && !MakeFile())) {
        return false;
    }
    auto db = SqliteDatabase::OpenExisting(m_file, true, m_busyTimeout);
    // IMMEDIATE takes the write lock before the schema is read, so nobody changes it between.
    if (!db || !db->Exec("BEGIN IMMEDIATE")) {
        return false;
    }
    WriteTransaction transaction(*db);
    switch (InspectSchema(*db)) {
        case Schema::Foreign:
            return false;
        case Schema::Blank:
            if (!mayCreate || !db->Exec(kCreateSchema)) {
                return false;
            }
            break;
        case Schema::Ours:
            break;
    }
    return change(*db) && transaction.Commit();
}

RegistryStore::KeyHandle SqliteRegistryStore::CreateKey(RegistryRoot root,
                                                        const std::u16string& path) try {
    const auto levels = SplitPath(path);
    const std::int64_t rootRow = RootRow(root);
    if (!levels || rootRow == 0) {
        return 0;
    }
    if (levels->empty()) {
        return Track(rootRow);
    }
    std::int64_t keyRow = 0;
    const bool created = Write(true, [&](SqliteDatabase& db) {
        std::int64_t row = rootRow;
        for (const auto level : *levels) {
            auto child = FindChild(db, row, level);
            if (child && *child == 0) {
                child = AddChild(db, row, level);
            }
            if (!child || *child == 0) {
                return false;
            }
            row = *child;
        }
        keyRow = row;
        return true;
    });
    return created ? Track(keyRow) : 0;
} catch (const std::exception&) {
    return 0;
}

RegistryStore::KeyHandle SqliteRegistryStore::OpenKey(RegistryRoot root,
                                                      const std::u16string& path) try {
    const auto levels = SplitPath(path);
    const std::int64_t rootRow = RootRow(root);
    if (!levels || rootRow == 0) {
        return 0;
    }
    if (levels->empty()) {
        return Track(rootRow);
    }
    const auto db = OpenForReading();
    if (!db) {
        return 0;
    }
    const auto keyRow = FindKey(*db, rootRow, *levels);
    return keyRow && *keyRow != 0 ? Track(*keyRow) : 0;
} catch (const std::exception&) {
    return 0;
}

std::optional<RegistryValue> SqliteRegistryStore::QueryValue(KeyHandle key,
                                                             const std::u16string& name) try {
    const std::int64_t keyRow = KeyRow(key);
    const auto db = keyRow == 0 ? nullptr : OpenForReading();
    if (!db) {
        return std::nullopt;
    }
    auto query = db->Prepare("SELECT type, data FROM reg_values WHERE key = ?1 AND fold = ?2");
    if (!query || !query->Bind(1, keyRow) || !query->Bind(2, Fold(name)) ||
        query->Next() != Step::Row) {
        return std::nullopt;
    }
    const std::int64_t type = query->Int(0);
    if (type < 0 || type > 0xFFFFFFFF) {
        return std::nullopt;
    }
    return RegistryValue{static_cast<std::uint32_t>(type), query->Blob(1)};
} catch (const std::exception&) {
    return std::nullopt;
}

void SqliteRegistryStore::SetValue(KeyHandle key, const std::u16string& name,
                                   const RegistryValue& value) try {
    const std::int64_t keyRow = KeyRow(key);
    if (keyRow == 0) {
        return;
    }
    (void)Write(true, [&](SqliteDatabase& db) {
        if (Exists(db, "SELECT 1 FROM reg_keys WHERE id = ?1", keyRow) != true) {
            return false;  // deleted since the handle was opened
        }
        auto upsert = db.Prepare(
            "INSERT OR REPLACE INTO reg_values(key, name, fold, type, data) "
            "VALUES (?1, ?2, ?3, ?4, ?5)");
        return upsert && upsert->Bind(1, keyRow) && upsert->Bind(2, Utf16ToUtf8(name)) &&
               upsert->Bind(3, Fold(name)) && upsert->Bind(4, std::int64_t{value.type}) &&
               upsert->Bind(5, value.data) && upsert->Next() == Step::Done;
    });
} catch (const std::exception&) {
}

void SqliteRegistryStore::DeleteKey(RegistryRoot root, const std::u16string& path) try {
    const auto levels = SplitPath(path);
    const std::int64_t rootRow = RootRow(root);
    if (!levels || levels->empty() || rootRow == 0) {
        return;  // an invalid path, or a root, which cannot be deleted
    }
    (void)Write(false, [&](SqliteDatabase& db) {
        const auto keyRow = FindKey(db, rootRow, *levels);
        if (!keyRow || *keyRow == 0 ||
            Exists(db, "SELECT 1 FROM reg_keys WHERE parent = ?1", *keyRow) != false) {
            return false;  // missing, or still has subkeys
        }
        return RunOnRow(db, "DELETE FROM reg_values WHERE key = ?1", *keyRow) &&
               RunOnRow(db, "DELETE FROM reg_keys WHERE id = ?1", *keyRow);
    });
} catch (const std::exception&) {
}

void SqliteRegistryStore::DeleteValue(KeyHandle key, const std::u16string& name) try {
    const std::int64_t keyRow = KeyRow(key);
    if (keyRow == 0) {
        return;
    }
    (void)Write(false, [&](SqliteDatabase& db) {
        auto remove = db.Prepare("DELETE FROM reg_values WHERE key = ?1 AND fold = ?2");
        return remove && remove->Bind(1, keyRow) && remove->Bind(2, Fold(name)) &&
               remove->Next() == Step::Done;
    });
} catch (const std::exception&) {
}

void SqliteRegistryStore::CloseKey(KeyHandle key) {
    m_openKeys.erase(key);
}

}  // namespace kestrove
