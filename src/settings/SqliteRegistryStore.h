#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>

#include "RegistryStore.h"

namespace kestrove {

class SqliteDatabase;

// Where the settings database lives: "<config>/Kestrove/registry.db", where <config> is
// $XDG_CONFIG_HOME when it holds an absolute path and $HOME/.config otherwise. Relative values
// are ignored, as the XDG base directory rules ask. Empty when neither variable is usable.
[[nodiscard]] std::filesystem::path RegistryPathFromEnvironment(const char* xdgConfigHome,
                                                                const char* home);
// The same for this process, falling back to the password database's home folder when HOME is
// not set.
[[nodiscard]] std::filesystem::path DefaultRegistryPath();

// The registry's model in one SQLite file: four separate root trees of keys, each key holding
// typed values. Behaves as the registry does where the settings class can tell:
// - Key and value names compare without regard to ASCII letter case; a key keeps the spelling
//   it was created with. Other letters compare exactly, so the file reads the same on every
//   machine whatever its locale.
// - A key path is its levels joined by "\"; an empty level (leading, doubled or trailing "\")
//   makes the path invalid. The empty path names the root itself, which always opens and can
//   never be deleted.
// - DeleteKey refuses a key that still has subkeys and removes a childless key with its values.
// - A handle names the key it was opened on; after that key is deleted the handle reaches
//   nothing, even if a key of the same name is created again.
// Reads never create the file or a key. Every change is one transaction, so a failed write
// leaves no half of it behind; the folder and the file (mode 0600, as the digest is private)
// are made by the first write. A file that is not one of ours (damaged, or another program's
// database) is never changed: reads find nothing and writes fail.
class SqliteRegistryStore final : public RegistryStore {
  public:
    explicit SqliteRegistryStore(std::filesystem::path file,
                                 std::chrono::milliseconds busyTimeout = std::chrono::seconds(5));
    ~SqliteRegistryStore() override;

    KeyHandle CreateKey(RegistryRoot root, const std::u16string& path) override;
    KeyHandle OpenKey(RegistryRoot root, const std::u16string& path) override;
    std::optional<RegistryValue> QueryValue(KeyHandle key, const std::u16string& name) override;
    void SetValue(KeyHandle key, const std::u16string& name, const RegistryValue& value) override;
    void DeleteKey(RegistryRoot root, const std::u16string& path) override;
    void DeleteValue(KeyHandle key, const std::u16string& name) override;
    void CloseKey(KeyHandle key) override;
    [[nodiscard]] std::size_t OpenKeyCount() const override { return m_openKeys.size(); }

    [[nodiscard]] const std::filesystem::path& File() const { return m_file; }

  private:
    using Change = std::function<bool(SqliteDatabase&)>;

    // Runs change in one write transaction and commits only when it returns true. With
    // mayCreate false a missing file stays missing (there is nothing to delete in it).
    bool Write(bool mayCreate, const Change& change);
    bool MakeFile() const;
    std::unique_ptr<SqliteDatabase> OpenForReading() const;
    [[nodiscard]] std::int64_t KeyRow(KeyHandle key) const;
    KeyHandle Track(std::int64_t keyRow);

    std::filesystem::path m_file;
    std::chrono::milliseconds m_busyTimeout;
    std::map<KeyHandle, std::int64_t> m_openKeys;  // handle -> row of the key it names
    KeyHandle m_nextHandle = 1;
};

}  // namespace kestrove
