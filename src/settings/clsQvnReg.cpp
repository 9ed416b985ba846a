#include "clsQvnReg.h"

#include <string_view>
#include <utility>
#include <vector>

namespace kestrove {
namespace {

// Paths and names reach the registry as C strings, so they end at the first NUL; cutting them
// here keeps every store seeing the same name.
std::u16string AsCString(const std::u16string& text) {
    return text.substr(0, text.find(u'\0'));
}

// Holds a key the store opened and closes it on every way out of the operation.
class OpenedKey {
  public:
    OpenedKey(RegistryStore& store, RegistryStore::KeyHandle handle)
        : m_store(store), m_handle(handle) {}
    OpenedKey(const OpenedKey&) = delete;
    OpenedKey& operator=(const OpenedKey&) = delete;
    ~OpenedKey() {
        if (m_handle != 0) {
            m_store.CloseKey(m_handle);
        }
    }

    [[nodiscard]] RegistryStore::KeyHandle handle() const { return m_handle; }

  private:
    RegistryStore& m_store;
    RegistryStore::KeyHandle m_handle;
};

std::vector<std::uint8_t> Utf16LeBytes(std::u16string_view text) {
    std::vector<std::uint8_t> bytes;
    bytes.reserve(text.size() * 2);
    for (const char16_t unit : text) {
        bytes.push_back(static_cast<std::uint8_t>(unit & 0xFF));
        bytes.push_back(static_cast<std::uint8_t>(unit >> 8));
    }
    return bytes;
}

// String data as text: the UTF-16LE code units up to the first NUL, or all of them when no
// terminator was stored. A last odd byte is half a code unit and is not text.
std::u16string TextBeforeNul(const std::vector<std::uint8_t>& data) {
    std::u16string text;
    for (std::size_t i = 0; i + 1 < data.size(); i += 2) {
        const auto unit = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
        if (unit == u'\0') {
            break;
        }
        text.push_back(unit);
    }
    return text;
}

}  // namespace

RegistryRoot ResolveRootKey(const std::u16string& sHkey) {
    static constexpr std::pair<std::u16string_view, RegistryRoot> kRoots[] = {
        {u"HKEY_CLASSES_ROOT", RegistryRoot::ClassesRoot},
        {u"HKEY_CURRENT_USER", RegistryRoot::CurrentUser},
        {u"HKEY_LOCAL_MACHINE", RegistryRoot::LocalMachine},
        {u"HKEY_USERS", RegistryRoot::Users},
    };
    for (const auto& [name, root] : kRoots) {
        if (sHkey == name) {
            return root;
        }
    }
    return RegistryRoot::None;
}

clsQvnReg::clsQvnReg() : clsQvnReg(DefaultRegistryStore()) {}

clsQvnReg::clsQvnReg(std::shared_ptr<RegistryStore> store) : m_store(std::move(store)) {}

void clsQvnReg::CreatKey(const std::u16string& sHkey, const std::u16string& strPath) {
    const RegistryRoot root = ResolveRootKey(sHkey);
    if (root == RegistryRoot::None) {
        return;
    }
    const OpenedKey key(*m_store, m_store->CreateKey(root, AsCString(strPath)));
}

std::optional<std::u16string> clsQvnReg::GetString(const std::u16string& sHkey,
                                                   const std::u16string& strPath,
                                                   const std::u16string& strValue) {
    const RegistryRoot root = ResolveRootKey(sHkey);
    if (root == RegistryRoot::None) {
        return std::nullopt;
    }
    const OpenedKey key(*m_store, m_store->OpenKey(root, AsCString(strPath)));
    if (key.handle() == 0) {
        return std::nullopt;
    }
    const auto value = m_store->QueryValue(key.handle(), AsCString(strValue));
    // Only REG_SZ is read; other string types and numbers are Empty.
    if (!value || value->type != kRegSz) {
        return std::nullopt;
    }
    return TextBeforeNul(value->data);
}

void clsQvnReg::SaveString(const std::u16string& sHkey, const std::u16string& strPath,
                           const std::u16string& strValue, const std::u16string& strdata) {
    const RegistryRoot root = ResolveRootKey(sHkey);
    if (root == RegistryRoot::None) {
        return;
    }
    const OpenedKey key(*m_store, m_store->CreateKey(root, AsCString(strPath)));
    if (key.handle() == 0) {
        return;
    }
    // The code units alone, with no terminator: readers stop at the end of the data.
    m_store->SetValue(key.handle(), AsCString(strValue),
                      RegistryValue{kRegSz, Utf16LeBytes(strdata)});
}

std::int32_t clsQvnReg::GetDWord(const std::u16string& sHkey, const std::u16string& strPath,
                                 const std::u16string& strValueName) {
    const RegistryRoot root = ResolveRootKey(sHkey);
    if (root == RegistryRoot::None) {
        return 0;
    }
    const OpenedKey key(*m_store, m_store->OpenKey(root, AsCString(strPath)));
    if (key.handle() == 0) {
        return 0;
    }
    const auto value = m_store->QueryValue(key.handle(), AsCString(strValueName));
    // Data longer than the 4-byte buffer does not fit and reads as nothing; shorter data fills
    // the low bytes of a zeroed number.
    if (!value || value->type != kRegDword || value->data.size() > 4) {
        return 0;
    }
    std::uint32_t number = 0;
    for (std::size_t i = 0; i < value->data.size(); ++i) {
        number |= static_cast<std::uint32_t>(value->data[i]) << (8 * i);
    }
    return static_cast<std::int32_t>(number);
}

void clsQvnReg::SaveDWord(const std::u16string& sHkey, const std::u16string& strPath,
                          const std::u16string& strValueName, std::int32_t lData) {
    const RegistryRoot root = ResolveRootKey(sHkey);
    if (root == RegistryRoot::None) {
        return;
    }
    const OpenedKey key(*m_store, m_store->CreateKey(root, AsCString(strPath)));
    if (key.handle() == 0) {
        return;
    }
    const auto bits = static_cast<std::uint32_t>(lData);
    RegistryValue value{kRegDword, {}};
    for (int i = 0; i < 4; ++i) {
        value.data.push_back(static_cast<std::uint8_t>(bits >> (8 * i)));
    }
    m_store->SetValue(key.handle(), AsCString(strValueName), value);
}

void clsQvnReg::DeleteKey(const std::u16string& sHkey, const std::u16string& strKey) {
    const RegistryRoot root = ResolveRootKey(sHkey);
    if (root == RegistryRoot::None) {
        return;
    }
    m_store->DeleteKey(root, AsCString(strKey));
}

void clsQvnReg::DeleteValue(const std::u16string& sHkey, const std::u16string& strPath,
                            const std::u16string& strValue) {
    const RegistryRoot root = ResolveRootKey(sHkey);
    if (root == RegistryRoot::None) {
        return;
    }
    const OpenedKey key(*m_store, m_store->OpenKey(root, AsCString(strPath)));
    if (key.handle() == 0) {
        return;
    }
    m_store->DeleteValue(key.handle(), AsCString(strValue));
}

}  // namespace kestrove
