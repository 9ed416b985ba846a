#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "RegistryStore.h"

namespace kestrove {

class SqliteDatabase;

// The registry's tree as rows of one SQLite file: table reg_keys holds every key with its
// parent, table reg_values the typed values of each key. The four roots are rows 1 to 4.
// Names are found by their folded form (see FoldName) and keep the spelling they were made
// with. Every call reports a failed query as nullopt or false and leaves rollback to the caller.
namespace keytree {

enum class Schema {
    Ours,     // made by this store, at this version
    Blank,    // an empty database, ready to be filled in
    Foreign,  // anything else: another program's database, a newer version, or not a database
};

[[nodiscard]] Schema Inspect(SqliteDatabase& db);
[[nodiscard]] bool CreateSchema(SqliteDatabase& db);

// Row of a root; 0 for RegistryRoot::None.
[[nodiscard]] std::int64_t RootRow(RegistryRoot root);

// The identity of a name: its UTF-16LE code units with the ASCII capitals lowered.
[[nodiscard]] std::vector<std::uint8_t> FoldName(std::u16string_view name);

// The levels of a key path joined by "\"; nullopt when a level is empty. The empty path has no
// levels and names the root.
[[nodiscard]] std::optional<std::vector<std::u16string_view>> SplitPath(std::u16string_view path);

// Row of the key at levels below root: 0 when it does not exist.
[[nodiscard]] std::optional<std::int64_t> FindKey(SqliteDatabase& db, std::int64_t root,
                                                  const std::vector<std::u16string_view>& levels);
// The same, adding every missing level.
[[nodiscard]] std::optional<std::int64_t> FindOrAddKey(
    SqliteDatabase& db, std::int64_t root, const std::vector<std::u16string_view>& levels);

[[nodiscard]] std::optional<bool> KeyExists(SqliteDatabase& db, std::int64_t key);
[[nodiscard]] std::optional<bool> HasSubkeys(SqliteDatabase& db, std::int64_t key);
// Removes the key's values and then the key.
[[nodiscard]] bool RemoveKey(SqliteDatabase& db, std::int64_t key);

[[nodiscard]] std::optional<RegistryValue> ReadValue(SqliteDatabase& db, std::int64_t key,
                                                     std::u16string_view name);
// Creates the value or replaces it, its type included.
[[nodiscard]] bool WriteValue(SqliteDatabase& db, std::int64_t key, std::u16string_view name,
                              const RegistryValue& value);
[[nodiscard]] bool RemoveValue(SqliteDatabase& db, std::int64_t key, std::u16string_view name);

}  // namespace keytree
}  // namespace kestrove
