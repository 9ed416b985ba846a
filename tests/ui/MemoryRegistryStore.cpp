#include "MemoryRegistryStore.h"

namespace kestrove::testing {

RegistryStore::KeyHandle MemoryRegistryStore::CreateKey(RegistryRoot root,
                                                        const std::u16string& path) {
    if (root == RegistryRoot::None) {
        return 0;
    }
    if (m_keys.try_emplace({root, path}).second) {
        ++m_writes;
    }
    m_open.emplace(m_next, KeyName{root, path});
    return m_next++;
}

RegistryStore::KeyHandle MemoryRegistryStore::OpenKey(RegistryRoot root,
                                                      const std::u16string& path) {
    if (m_keys.count({root, path}) == 0) {
        return 0;
    }
    m_open.emplace(m_next, KeyName{root, path});
    return m_next++;
}

std::optional<RegistryValue> MemoryRegistryStore::QueryValue(KeyHandle key,
                                                             const std::u16string& name) {
    const auto open = m_open.find(key);
    if (open == m_open.end()) {
        return std::nullopt;
    }
    const auto& values = m_keys[open->second];
    const auto value = values.find(name);
    if (value == values.end()) {
        return std::nullopt;
    }
    return value->second;
}

void MemoryRegistryStore::SetValue(KeyHandle key, const std::u16string& name,
                                   const RegistryValue& value) {
    const auto open = m_open.find(key);
    if (open != m_open.end()) {
        m_keys[open->second][name] = value;
        ++m_writes;
    }
}

void MemoryRegistryStore::DeleteKey(RegistryRoot root, const std::u16string& path) {
    m_writes += static_cast<int>(m_keys.erase({root, path}));
}

void MemoryRegistryStore::DeleteValue(KeyHandle key, const std::u16string& name) {
    const auto open = m_open.find(key);
    if (open != m_open.end()) {
        m_writes += static_cast<int>(m_keys[open->second].erase(name));
    }
}

void MemoryRegistryStore::CloseKey(KeyHandle key) {
    m_open.erase(key);
}

}  // namespace kestrove::testing
