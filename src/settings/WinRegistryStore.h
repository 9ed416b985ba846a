#pragma once

#include <set>

#include "RegistryStore.h"

namespace kestrove {

// The Windows registry, through its wide functions. A key handle is the registry's own; the store
// keeps the set of handles it opened, so that a check can see that none is left open, and a
// handle it did not open (or closed already) reaches nothing.
//
// What is stored is exactly what is given: string data goes in with the terminator it has or
// has not, although the registry on its own adds one whenever the memory after the data happens
// to hold a NUL character.
class WinRegistryStore final : public RegistryStore {
  public:
    WinRegistryStore() = default;
    ~WinRegistryStore() override;
    WinRegistryStore(const WinRegistryStore&) = delete;
    WinRegistryStore& operator=(const WinRegistryStore&) = delete;

    KeyHandle CreateKey(RegistryRoot root, const std::u16string& path) override;
    KeyHandle OpenKey(RegistryRoot root, const std::u16string& path) override;
    std::optional<RegistryValue> QueryValue(KeyHandle key, const std::u16string& name) override;
    void SetValue(KeyHandle key, const std::u16string& name, const RegistryValue& value) override;
    void DeleteKey(RegistryRoot root, const std::u16string& path) override;
    void DeleteValue(KeyHandle key, const std::u16string& name) override;
    void CloseKey(KeyHandle key) override;
    [[nodiscard]] std::size_t OpenKeyCount() const override { return m_open.size(); }

  private:
    [[nodiscard]] bool IsOpen(KeyHandle key) const { return m_open.count(key) != 0; }

    std::set<KeyHandle> m_open;
};

}  // namespace kestrove
