#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kestrove {

// Root handles as the registry numbers them; 0 means no root.
enum class RegistryRoot : std::uint32_t {
    None = 0,
    ClassesRoot = 0x80000000u,
    CurrentUser = 0x80000001u,
    LocalMachine = 0x80000002u,
    Users = 0x80000003u,
};

// Value types kept distinct by every store.
inline constexpr std::uint32_t kRegSz = 1;
inline constexpr std::uint32_t kRegDword = 4;

// A typed value as the store holds it: REG_SZ data is UTF-16LE code units, with or without a
// terminator, exactly as written; REG_DWORD data is 4 bytes, least significant first.
struct RegistryValue {
    std::uint32_t type = 0;
    std::vector<std::uint8_t> data;
};

// The seven primitive operations the settings class is built on. Implementations: the Windows
// registry, and an SQLite file elsewhere. Every failure is reported only as an empty result or
// a null handle; nothing throws.
class RegistryStore {
  public:
    using KeyHandle = std::uint64_t;  // 0 = no key
    virtual ~RegistryStore() = default;

    // Opens the key at path below root, creating it and every missing level above it.
    virtual KeyHandle CreateKey(RegistryRoot root, const std::u16string& path) = 0;
    // Opens an existing key; creates nothing.
    virtual KeyHandle OpenKey(RegistryRoot root, const std::u16string& path) = 0;
    virtual std::optional<RegistryValue> QueryValue(KeyHandle key, const std::u16string& name) = 0;
    virtual void SetValue(KeyHandle key, const std::u16string& name,
                          const RegistryValue& value) = 0;
    virtual void DeleteKey(RegistryRoot root, const std::u16string& path) = 0;
    virtual void DeleteValue(KeyHandle key, const std::u16string& name) = 0;
    virtual void CloseKey(KeyHandle key) = 0;

    // Keys opened or created and not yet closed (a check that no call leaves one open).
    [[nodiscard]] virtual std::size_t OpenKeyCount() const = 0;
};

// The store this platform uses by default: the current user's registry on Windows, the SQLite
// file under the user's configuration folder elsewhere.
[[nodiscard]] std::shared_ptr<RegistryStore> DefaultRegistryStore();

}  // namespace kestrove
