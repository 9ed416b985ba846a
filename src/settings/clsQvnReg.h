#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "RegistryStore.h"

namespace kestrove {

// Reads and writes settings by root-key name ("HKEY_CURRENT_USER", ...), key path with "\"
// between levels, and value name. It never reports a failure: a read that cannot be served
// returns an empty result, a write or delete that fails changes nothing.
class clsQvnReg {
  public:
    clsQvnReg();  // over DefaultRegistryStore()
    explicit clsQvnReg(std::shared_ptr<RegistryStore> store);

    void CreatKey(const std::u16string& sHkey, const std::u16string& strPath);
    // nullopt is Empty (nothing readable); an empty string value gives the empty text.
    [[nodiscard]] std::optional<std::u16string> GetString(const std::u16string& sHkey,
                                                          const std::u16string& strPath,
                                                          const std::u16string& strValue);
    void SaveString(const std::u16string& sHkey, const std::u16string& strPath,
                    const std::u16string& strValue, const std::u16string& strdata);
    [[nodiscard]] std::int32_t GetDWord(const std::u16string& sHkey, const std::u16string& strPath,
                                        const std::u16string& strValueName);
    void SaveDWord(const std::u16string& sHkey, const std::u16string& strPath,
                   const std::u16string& strValueName, std::int32_t lData);
    void DeleteKey(const std::u16string& sHkey, const std::u16string& strKey);
    void DeleteValue(const std::u16string& sHkey, const std::u16string& strPath,
                     const std::u16string& strValue);

    [[nodiscard]] RegistryStore& store() { return *m_store; }

  private:
    std::shared_ptr<RegistryStore> m_store;
};

// The root a name selects, by exact case-sensitive match of the four names; None otherwise.
[[nodiscard]] RegistryRoot ResolveRootKey(const std::u16string& sHkey);

}  // namespace kestrove
