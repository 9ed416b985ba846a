#pragma once

#include <map>
#include <set>
#include <string>
#include <utility>

#include "RegistryStore.h"

namespace kestrove::testing {

// A settings store in memory, so that window tests never touch the user's settings.
class MemoryRegistryStore final : public RegistryStore {
  public:
    KeyHandle CreateKey(RegistryRoot root, const std::u16string& path) override;
    KeyHandle OpenKey(RegistryRoot root, const std::u16string& path) override;
    std::optional<RegistryValue> QueryValue(KeyHandle key, const std::u16string& name) override;
    void SetValue(KeyHandle key, const std::u16string& name, const RegistryValue& value) override;
    void DeleteKey(RegistryRoot root, const std::u16string& path) override;
    void DeleteValue(KeyHandle key, const std::u16string& name) override;
    void CloseKey(KeyHandle key) override;
    [[nodiscard]] std::size_t OpenKeyCount() const override { return m_open.size(); }

    // Every change made through the store, for "nothing was written" checks.
    [[nodiscard]] int WriteCount() const { return m_writes; }

  private:
    using KeyName = std::pair<RegistryRoot, std::u16string>;
    std::map<KeyName, std::map<std::u16string, RegistryValue>> m_keys;
    std::map<KeyHandle, KeyName> m_open;
    KeyHandle m_next = 1;
    int m_writes = 0;
};

}  // namespace kestrove::testing
