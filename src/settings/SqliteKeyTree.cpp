#include "SqliteKeyTree.h"

#include <string>

#include "SqliteDatabase.h"
#include "TextCodec.h"

namespace kestrove::keytree {
namespace {

using Step = SqliteStatement::Step;

// Marks the file as ours, so a database of another program at the same path is left alone.
constexpr std::int64_t kApplicationId = 0x4B657374;
constexpr std::int64_t kSchemaVersion = 1;

// The roots come first, so every key hangs below one of them and a root handle needs no file
// to exist yet. AUTOINCREMENT keeps the row of a deleted key from going to a new one, so a
// handle left on a deleted key cannot reach its namesake.
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
static_assert(kApplicationId == 1264939892 && kSchemaVersion == 1, "kCreateSchema spells both");

// Row of the named child of parent: 0 when there is none.
std::optional<std::int64_t> FindChild(SqliteDatabase& db, std::int64_t parent,
                                      std::u16string_view name) {
    auto query = db.Prepare("SELECT id FROM reg_keys WHERE parent = ?1 AND fold = ?2");
    if (!query || !query->Bind(1, parent) || !query->Bind(2, FoldName(name))) {
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

std::optional<std::int64_t> AddChild(SqliteDatabase& db, std::int64_t parent,
                                     std::u16string_view name) {
    // The name column is for people reading the file; lookups go by fold.
    auto insert = db.Prepare("INSERT INTO reg_keys(parent, name, fold) VALUES (?1, ?2, ?3)");
    if (!insert || !insert->Bind(1, parent) || !insert->Bind(2, Utf16ToUtf8(name)) ||
        !insert->Bind(3, FoldName(name)) || insert->Next() != Step::Done) {
        return std::nullopt;
    }
    return FindChild(db, parent, name);
}

std::optional<bool> AnyRow(SqliteDatabase& db, const char* sql, std::int64_t row) {
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

}  // namespace

Schema Inspect(SqliteDatabase& db) {
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

bool CreateSchema(SqliteDatabase& db) {
    return db.Exec(kCreateSchema);
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

std::vector<std::uint8_t> FoldName(std::u16string_view name) {
    // Kept as bytes so that every code unit, unpaired surrogates included, stays distinct.
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

std::optional<std::int64_t> FindKey(SqliteDatabase& db, std::int64_t root,
                                    const std::vector<std::u16string_view>& levels) {
    std::int64_t row = root;
    for (const auto level : levels) {
        const auto child = FindChild(db, row, level);
        if (!child || *child == 0) {
            return child;
        }
        row = *child;
    }
    return row;
}

std::optional<std::int64_t> FindOrAddKey(SqliteDatabase& db, std::int64_t root,
                                         const std::vector<std::u16string_view>& levels) {
    std::int64_t row = root;
    for (const auto level : levels) {
        auto child = FindChild(db, row, level);
        if (child && *child == 0) {
            child = AddChild(db, row, level);
        }
        if (!child || *child == 0) {
            return std::nullopt;
        }
        row = *child;
    }
    return row;
}

std::optional<bool> KeyExists(SqliteDatabase& db, std::int64_t key) {
    return AnyRow(db, "SELECT 1 FROM reg_keys WHERE id = ?1", key);
}

std::optional<bool> HasSubkeys(SqliteDatabase& db, std::int64_t key) {
    return AnyRow(db, "SELECT 1 FROM reg_keys WHERE parent = ?1", key);
}

bool RemoveKey(SqliteDatabase& db, std::int64_t key) {
    return RunOnRow(db, "DELETE FROM reg_values WHERE key = ?1", key) &&
           RunOnRow(db, "DELETE FROM reg_keys WHERE id = ?1", key);
}

std::optional<RegistryValue> ReadValue(SqliteDatabase& db, std::int64_t key,
                                       std::u16string_view name) {
    auto query = db.Prepare("SELECT type, data FROM reg_values WHERE key = ?1 AND fold = ?2");
    if (!query || !query->Bind(1, key) || !query->Bind(2, FoldName(name)) ||
        query->Next() != Step::Row) {
        return std::nullopt;
    }
    const std::int64_t type = query->Int(0);
    if (type < 0 || type > 0xFFFFFFFF) {
        return std::nullopt;
    }
    return RegistryValue{static_cast<std::uint32_t>(type), query->Blob(1)};
}

bool WriteValue(SqliteDatabase& db, std::int64_t key, std::u16string_view name,
                const RegistryValue& value) {
    auto upsert = db.Prepare(
        "INSERT OR REPLACE INTO reg_values(key, name, fold, type, data) "
        "VALUES (?1, ?2, ?3, ?4, ?5)");
    return upsert && upsert->Bind(1, key) && upsert->Bind(2, Utf16ToUtf8(name)) &&
           upsert->Bind(3, FoldName(name)) && upsert->Bind(4, std::int64_t{value.type}) &&
           upsert->Bind(5, value.data) && upsert->Next() == Step::Done;
}

bool RemoveValue(SqliteDatabase& db, std::int64_t key, std::u16string_view name) {
    auto remove = db.Prepare("DELETE FROM reg_values WHERE key = ?1 AND fold = ?2");
    return remove && remove->Bind(1, key) && remove->Bind(2, FoldName(name)) &&
           remove->Next() == Step::Done;
}

}  // namespace kestrove::keytree
