#pragma once

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "RegistryStore.h"

namespace kestrove::testing {

// Passes every call on to a real store and notes which primitive was called, and which handles
// are still open by its own count, independent of the store's.
class RecordingStore final : public RegistryStore {
  public:
    explicit RecordingStore(std::shared_ptr<RegistryStore> inner) : m_inner(std::move(inner)) {}

    KeyHandle CreateKey(RegistryRoot root, const std::u16string& path) override {
        return Opened("CreateKey", m_inner->CreateKey(root, path));
    }
    KeyHandle OpenKey(RegistryRoot root, const std::u16string& path) override {
        return Opened("OpenKey", m_inner->OpenKey(root, path));
    }
    std::optional<RegistryValue> QueryValue(KeyHandle key, const std::u16string& name) override {
        calls.push_back("QueryValue");
        return m_inner->QueryValue(key, name);
    }
    void SetValue(KeyHandle key, const std::u16string& name, const RegistryValue& value) override {
        calls.push_back("SetValue");
        m_inner->SetValue(key, name, value);
    }
    void DeleteKey(RegistryRoot root, const std::u16string& path) override {
        calls.push_back("DeleteKey");
        m_inner->DeleteKey(root, path);
    }
    void DeleteValue(KeyHandle key, const std::u16string& name) override {
        calls.push_back("DeleteValue");
        m_inner->DeleteValue(key, name);
    }
    void CloseKey(KeyHandle key) override {
        calls.push_back("CloseKey");
        if (m_open.erase(key) == 0) {
            ++badCloses;  // never opened, or closed twice
        }
        m_inner->CloseKey(key);
    }
    [[nodiscard]] std::size_t OpenKeyCount() const override { return m_open.size(); }

    std::vector<std::string> calls;
    int badCloses = 0;

  private:
    KeyHandle Opened(const char* call, KeyHandle key) {
        calls.push_back(call);
        if (key != 0) {
            m_open.insert(key);
        }
        return key;
    }

    std::shared_ptr<RegistryStore> m_inner;
    std::set<KeyHandle> m_open;
};

}  // namespace kestrove::testing
