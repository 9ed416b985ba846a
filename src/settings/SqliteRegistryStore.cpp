#include "SqliteRegistryStore.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <exception>
#include <optional>
#include <system_error>
#include <utility>

#include "SqliteDatabase.h"
#include "SqliteKeyTree.h"

namespace kestrove {
namespace {

using keytree::Schema;

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
    // Made here rather than by SQLite so that it is private from the start (SQLite gives its
    // journal the same mode); an empty file is an empty database, which the first write fills.
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
    if (!db || !db->Exec("BEGIN") || keytree::Inspect(*db) != Schema::Ours) {
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
    switch (keytree::Inspect(*db)) {
        case Schema::Foreign:
            return false;
        case Schema::Blank:
            if (!mayCreate || !keytree::CreateSchema(*db)) {
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
    const auto levels = keytree::SplitPath(path);
    const std::int64_t rootRow = keytree::RootRow(root);
    if (!levels || rootRow == 0) {
        return 0;
    }
    if (levels->empty()) {
        return Track(rootRow);
    }
    std::int64_t keyRow = 0;
    const bool created = Write(true, [&](SqliteDatabase& db) {
        const auto row = keytree::FindOrAddKey(db, rootRow, *levels);
        keyRow = row.value_or(0);
        return keyRow != 0;
    });
    return created ? Track(keyRow) : 0;
} catch (const std::exception&) {
    return 0;
}

RegistryStore::KeyHandle SqliteRegistryStore::OpenKey(RegistryRoot root,
                                                      const std::u16string& path) try {
    const auto levels = keytree::SplitPath(path);
    const std::int64_t rootRow = keytree::RootRow(root);
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
    const std::int64_t keyRow = keytree::FindKey(*db, rootRow, *levels).value_or(0);
    return keyRow != 0 ? Track(keyRow) : 0;
} catch (const std::exception&) {
    return 0;
}

std::optional<RegistryValue> SqliteRegistryStore::QueryValue(KeyHandle key,
                                                             const std::u16string& name) try {
    const std::int64_t keyRow = KeyRow(key);
    const auto db = keyRow == 0 ? nullptr : OpenForReading();
    return db ? keytree::ReadValue(*db, keyRow, name) : std::nullopt;
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
        // The key may have been deleted since the handle was opened.
        return keytree::KeyExists(db, keyRow) == true &&
               keytree::WriteValue(db, keyRow, name, value);
    });
} catch (const std::exception&) {
}

void SqliteRegistryStore::DeleteKey(RegistryRoot root, const std::u16string& path) try {
    const auto levels = keytree::SplitPath(path);
    const std::int64_t rootRow = keytree::RootRow(root);
    if (!levels || levels->empty() || rootRow == 0) {
        return;  // an invalid path, or a root, which cannot be deleted
    }
    (void)Write(false, [&](SqliteDatabase& db) {
        const std::int64_t keyRow = keytree::FindKey(db, rootRow, *levels).value_or(0);
        // Like the registry, a key with subkeys stays: nothing is deleted beyond what was named.
        return keyRow != 0 && keytree::HasSubkeys(db, keyRow) == false &&
               keytree::RemoveKey(db, keyRow);
    });
} catch (const std::exception&) {
}

void SqliteRegistryStore::DeleteValue(KeyHandle key, const std::u16string& name) try {
    const std::int64_t keyRow = KeyRow(key);
    if (keyRow == 0) {
        return;
    }
    (void)Write(false, [&](SqliteDatabase& db) { return keytree::RemoveValue(db, keyRow, name); });
} catch (const std::exception&) {
}

void SqliteRegistryStore::CloseKey(KeyHandle key) {
    m_openKeys.erase(key);
}

}  // namespace kestrove
