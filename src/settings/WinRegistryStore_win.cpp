#include <windows.h>

#include "WinRegistryStore.h"

namespace kestrove {

namespace {

// Bytes after the data that are not NUL, whatever the data's length (see SetValue).
constexpr std::uint8_t kGuardByte = 0xFF;
constexpr std::size_t kGuardSize = 3;
// A value may change between the query of its size and the read; a few tries are enough.
constexpr int kReadAttempts = 4;

HKEY RootKey(RegistryRoot root) {
    switch (root) {
        case RegistryRoot::ClassesRoot:
            return HKEY_CLASSES_ROOT;
        case RegistryRoot::CurrentUser:
            return HKEY_CURRENT_USER;
        case RegistryRoot::LocalMachine:
            return HKEY_LOCAL_MACHINE;
        case RegistryRoot::Users:
            return HKEY_USERS;
        case RegistryRoot::None:
            break;
    }
    return nullptr;
}

HKEY AsKey(RegistryStore::KeyHandle key) {
    return reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(key));
}

RegistryStore::KeyHandle AsHandle(HKEY key) {
    return static_cast<RegistryStore::KeyHandle>(reinterpret_cast<std::uintptr_t>(key));
}

const wchar_t* Wide(const std::u16string& text) {
    return reinterpret_cast<const wchar_t*>(text.c_str());
}

}  // namespace

WinRegistryStore::~WinRegistryStore() {
    for (const KeyHandle key : m_open) {
        RegCloseKey(AsKey(key));
    }
}

// Both opens ask for whatever access the key allows, as the registry's own short forms do: a
// key that may be read but not written (much of HKEY_LOCAL_MACHINE) still opens for reading.
RegistryStore::KeyHandle WinRegistryStore::CreateKey(RegistryRoot root,
                                                     const std::u16string& path) {
    const HKEY parent = RootKey(root);
    HKEY key = nullptr;
    if (parent == nullptr ||
        RegCreateKeyExW(parent, Wide(path), 0, nullptr, REG_OPTION_NON_VOLATILE, MAXIMUM_ALLOWED,
                        nullptr, &key, nullptr) != ERROR_SUCCESS ||
        key == nullptr) {
        return 0;
    }
    m_open.insert(AsHandle(key));
    return AsHandle(key);
}

RegistryStore::KeyHandle WinRegistryStore::OpenKey(RegistryRoot root, const std::u16string& path) {
    const HKEY parent = RootKey(root);
    HKEY key = nullptr;
    if (parent == nullptr ||
        RegOpenKeyExW(parent, Wide(path), 0, MAXIMUM_ALLOWED, &key) != ERROR_SUCCESS ||
        key == nullptr) {
        return 0;
    }
    m_open.insert(AsHandle(key));
    return AsHandle(key);
}

std::optional<RegistryValue> WinRegistryStore::QueryValue(KeyHandle key,
                                                          const std::u16string& name) {
    if (!IsOpen(key)) {
        return std::nullopt;
    }
    RegistryValue value;
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExW(AsKey(key), Wide(name), nullptr, &type, nullptr, &size) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
        value.data.resize(size);
        DWORD got = size;
        const LSTATUS status =
            RegQueryValueExW(AsKey(key), Wide(name), nullptr, &type, value.data.data(), &got);
        if (status == ERROR_SUCCESS) {
            value.type = type;
            value.data.resize(got);
            return value;
        }
        if (status != ERROR_MORE_DATA) {
            return std::nullopt;
        }
        size = got;
    }
    return std::nullopt;
}

void WinRegistryStore::SetValue(KeyHandle key, const std::u16string& name,
                                const RegistryValue& value) {
    if (!IsOpen(key)) {
        return;
    }
    // For string types the registry looks at the character after the counted data and, when it
    // is NUL, stores that terminator too; the guard makes sure it never is.
    std::vector<std::uint8_t> guarded(value.data);
    guarded.insert(guarded.end(), kGuardSize, kGuardByte);
    RegSetValueExW(AsKey(key), Wide(name), 0, value.type, guarded.data(),
                   static_cast<DWORD>(value.data.size()));
}

void WinRegistryStore::DeleteKey(RegistryRoot root, const std::u16string& path) {
    const HKEY parent = RootKey(root);
    if (parent != nullptr) {
        RegDeleteKeyW(parent, Wide(path));
    }
}

void WinRegistryStore::DeleteValue(KeyHandle key, const std::u16string& name) {
    if (IsOpen(key)) {
        RegDeleteValueW(AsKey(key), Wide(name));
    }
}

void WinRegistryStore::CloseKey(KeyHandle key) {
    if (m_open.erase(key) != 0) {
        RegCloseKey(AsKey(key));
    }
}

}  // namespace kestrove
