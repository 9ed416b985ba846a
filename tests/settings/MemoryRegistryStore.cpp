#include "MemoryRegistryStore.h"

namespace kestrove::testing {

namespace {

// As the registry compares names: ASCII letters without regard to case.
std::u16string Folded(const std::u16string& name) {
    std::u16string folded = name;
    for (char16_t& c : folded) {
        if (c >= u'A' && c <= u'Z') {
            c = static_cast<char16_t>(c - u'A' + u'a');
        }
    }
    return folded;
}

}  // namespace

RegistryStore::KeyHandle MemoryRegistryStore::CreateKey(RegistryRoot root,
                                                        const std::u16string& path) {
    if (root == RegistryRoot::None) {
        return 0;
    }
    // Every level of the path is a key of its own, as in the registry.
    const std::u16string folded = Folded(path);
    for (std::size_t end = folded.find(u'\\');; end = folded.find(u'\\', end + 1)) {
        const std::u16string level = folded.substr(0, end);
        if (!level.empty() && m_keys.try_emplace({root, level}).second) {
            ++m_writes;
        }
        if (end == std::u16string::npos) {
            break;
        }
    }
    m_open.emplace(m_next, KeyName{root, folded});
    return m_next++;
}

RegistryStore::KeyHandle MemoryRegistryStore::OpenKey(RegistryRoot root,
                                                      const std::u16string& path) {
    const std::u16string folded = Folded(path);
    if (m_keys.count({root, folded}) == 0) {
        return 0;
    }
    m_open.emplace(m_next, KeyName{root, folded});
    return m_next++;
}

std::optional<RegistryValue> MemoryRegistryStore::QueryValue(KeyHandle key,
                                                             const std::u16string& name) {
    const auto open = m_open.find(key);
    if (open == m_open.end()) {
        return std::nullopt;
    }
    const auto& values = m_keys[open->second];
    const auto value = values.find(Folded(name));
    if (value == values.end()) {
        return std::nullopt;
    }
    return value->second;
}

void MemoryRegistryStore::SetValue(KeyHandle key, const std::u16string& name,
                                   const RegistryValue& value) {
    const auto open = m_open.find(key);
    if (open != m_open.end()) {
        m_keys[open->second][Folded(name)] = value;
        ++m_writes;
    }
}

void MemoryRegistryStore::DeleteKey(RegistryRoot root, const std::u16string& path) {
    const std::u16string folded = Folded(path);
    // A key with subkeys stays, as the registry's own delete leaves it.
    const std::u16string below = folded + u"\\";
    const auto child = m_keys.lower_bound({root, below});
    if (child != m_keys.end() && child->first.first == root &&
        child->first.second.rfind(below, 0) == 0) {
        return;
    }
    m_writes += static_cast<int>(m_keys.erase({root, folded}));
}

void MemoryRegistryStore::DeleteValue(KeyHandle key, const std::u16string& name) {
    const auto open = m_open.find(key);
    if (open != m_open.end()) {
        m_writes += static_cast<int>(m_keys[open->second].erase(Folded(name)));
    }
}

void MemoryRegistryStore::CloseKey(KeyHandle key) {
    m_open.erase(key);
}

}  // namespace kestrove::testing
