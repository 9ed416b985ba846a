// What the registry store does that the shared cases cannot see through the store itself: what
// lands in the registry, byte for byte, as other programs read it.
#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "FileChars.h"
#include "ScratchFolder.h"
#include "WinRegistryStore.h"
#include "clsQvnReg.h"

namespace kestrove::testing {
namespace {

using ::testing::ElementsAre;
using Bytes = std::vector<std::uint8_t>;

const wchar_t* W(const std::u16string& text) {
    return reinterpret_cast<const wchar_t*>(text.c_str());
}

// A key of this test's own below HKEY_CURRENT_USER\Software, removed afterwards.
class RegistryKeyTest : public ::testing::Test {
  protected:
    RegistryKeyTest() {
        const std::wstring name = m_scratch.path().filename().native();
        m_base = u"Software\\" + std::u16string(name.begin(), name.end());
    }
    ~RegistryKeyTest() override { RegDeleteTreeW(HKEY_CURRENT_USER, W(m_base)); }

    [[nodiscard]] std::u16string Path(const std::u16string& relative) const {
        return m_base + u"\\" + relative;
    }

    // The value as any program reads it.
    static bool ReadRegistry(const std::u16string& path, const std::u16string& name, DWORD& type,
                             Bytes& data) {
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, W(path), 0, KEY_READ, &key) != ERROR_SUCCESS) {
            return false;
        }
        DWORD size = 0;
        bool ok = RegQueryValueExW(key, W(name), nullptr, &type, nullptr, &size) == ERROR_SUCCESS;
        data.resize(size);
        ok = ok &&
             RegQueryValueExW(key, W(name), nullptr, &type, data.data(), &size) == ERROR_SUCCESS;
        data.resize(size);
        RegCloseKey(key);
        return ok;
    }

    static void WriteRegistry(const std::u16string& path, const std::u16string& name, DWORD type,
                              const Bytes& data) {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, W(path), 0, nullptr, 0, KEY_WRITE, nullptr,
                                  &key, nullptr),
                  ERROR_SUCCESS);
        EXPECT_EQ(
            RegSetValueExW(key, W(name), 0, type, data.data(), static_cast<DWORD>(data.size())),
            ERROR_SUCCESS);
        RegCloseKey(key);
    }

  private:
    ScratchFolder m_scratch;
    std::u16string m_base;
};

// The program's own settings object, with no store given, is the current user's registry.
TEST_F(RegistryKeyTest, SettingsLandInTheRegistryAsOtherProgramsSeeThem) {
    clsQvnReg reg;
    reg.SaveString(u"HKEY_CURRENT_USER", Path(u"Brannoc\\Kestrove"), u"Key", u"1887");
    reg.SaveDWord(u"HKEY_CURRENT_USER", Path(u"Brannoc\\Kestrove"), u"Count", -2);
    DWORD type = 0;
    Bytes data;
    ASSERT_TRUE(ReadRegistry(Path(u"Brannoc\\Kestrove"), u"Key", type, data));
    EXPECT_EQ(type, DWORD{REG_SZ});
    EXPECT_THAT(data, ElementsAre('1', 0, '8', 0, '8', 0, '7', 0));
    ASSERT_TRUE(ReadRegistry(Path(u"Brannoc\\Kestrove"), u"Count", type, data));
    EXPECT_EQ(type, DWORD{REG_DWORD});
    EXPECT_THAT(data, ElementsAre(0xFE, 0xFF, 0xFF, 0xFF));
    EXPECT_EQ(reg.store().OpenKeyCount(), 0u);
}

TEST_F(RegistryKeyTest, ValuesOtherProgramsWroteAreReadByTheirType) {
    WriteRegistry(Path(u"K"), u"Terminated", REG_SZ, {'4', 0, '0', 0, '6', 0, 0, 0});
    WriteRegistry(Path(u"K"), u"Expand", REG_EXPAND_SZ, {'4', 0, 0, 0});
    WriteRegistry(Path(u"K"), u"Number", REG_DWORD, {7, 0, 0, 0});
    WriteRegistry(Path(u"K"), u"BigEndian", REG_DWORD_BIG_ENDIAN, {0, 0, 0, 7});
    clsQvnReg reg;
    EXPECT_EQ(reg.GetString(u"HKEY_CURRENT_USER", Path(u"K"), u"Terminated"), u"406");
    EXPECT_EQ(reg.GetString(u"HKEY_CURRENT_USER", Path(u"K"), u"Expand"), std::nullopt);
    EXPECT_EQ(reg.GetDWord(u"HKEY_CURRENT_USER", Path(u"K"), u"Number"), 7);
    EXPECT_EQ(reg.GetDWord(u"HKEY_CURRENT_USER", Path(u"K"), u"BigEndian"), 0);
}

// Left to itself, the registry stores a terminator after string data whenever the memory right
// after the data holds a NUL: here the bytes after the vector's end are zero.
TEST_F(RegistryKeyTest, StringDataIsStoredExactlyWhateverFollowsItInMemory) {
    WinRegistryStore store;
    const auto key = store.CreateKey(RegistryRoot::CurrentUser, Path(u"K"));
    ASSERT_NE(key, 0u);
    Bytes data(16, 0);
    data.assign({'a', 0, 'b', 0});
    ASSERT_GE(data.capacity(), 6u);
    store.SetValue(key, u"Bare", RegistryValue{kRegSz, data});
    store.CloseKey(key);
    DWORD type = 0;
    Bytes stored;
    ASSERT_TRUE(ReadRegistry(Path(u"K"), u"Bare", type, stored));
    EXPECT_THAT(stored, ElementsAre('a', 0, 'b', 0));
}

TEST_F(RegistryKeyTest, HandlesTheStoreDidNotOpenReachNothing) {
    WinRegistryStore store;
    const auto key = store.CreateKey(RegistryRoot::CurrentUser, Path(u"K"));
    ASSERT_NE(key, 0u);
    store.SetValue(key, u"V", RegistryValue{kRegDword, {1, 0, 0, 0}});
    EXPECT_EQ(store.OpenKeyCount(), 1u);
    store.CloseKey(key);
    store.CloseKey(key);
    EXPECT_EQ(store.OpenKeyCount(), 0u);
    EXPECT_EQ(store.QueryValue(key, u"V"), std::nullopt);
    store.SetValue(key, u"W", RegistryValue{kRegDword, {2, 0, 0, 0}});
    store.DeleteValue(key, u"V");
    DWORD type = 0;
    Bytes data;
    EXPECT_TRUE(ReadRegistry(Path(u"K"), u"V", type, data));
    EXPECT_FALSE(ReadRegistry(Path(u"K"), u"W", type, data));
    EXPECT_EQ(store.OpenKey(RegistryRoot::None, Path(u"K")), 0u);
}

// Much of HKEY_LOCAL_MACHINE may be read but not written by a user; reading must still work.
TEST(WinRegistryStore, SystemKeysOpenForReading) {
    clsQvnReg reg;
    const auto product = reg.GetString(
        u"HKEY_LOCAL_MACHINE", u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", u"ProductName");
    ASSERT_TRUE(product.has_value());
    EXPECT_FALSE(product->empty());
    EXPECT_EQ(reg.store().OpenKeyCount(), 0u);
}

}  // namespace
}  // namespace kestrove::testing
