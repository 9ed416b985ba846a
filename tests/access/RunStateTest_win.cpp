// Start-up on Windows: by default the stored digest is the registry value other programs see at
// HKEY_CURRENT_USER\Software\Brannoc\Kestrove. A digest that is already there (a real
// installation's) is only read; one this test has to write is removed again afterwards.
#include <windows.h>

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "RunState.h"

namespace kestrove {
namespace {

const wchar_t* W(const char16_t* text) {
    return reinterpret_cast<const wchar_t*>(text);
}

// The digest as any program reads it; nothing when there is none.
std::optional<std::u16string> RegistryDigest() {
    wchar_t text[256] = {};
    DWORD size = sizeof text;
    if (RegGetValueW(HKEY_CURRENT_USER, W(kDigestPath), W(kDigestValue), RRF_RT_REG_SZ, nullptr,
                     text, &size) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    return std::u16string(reinterpret_cast<const char16_t*>(text));
}

bool KeyExists(const wchar_t* path) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, path, 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(key);
    return true;
}

TEST(RunStateWindows, ByDefaultTheDigestIsTheCurrentUsersRegistryValue) {
    const std::optional<std::u16string> existing = RegistryDigest();
    if (existing) {
        RunState run;
        LoadStoredDigest(run);
        EXPECT_EQ(run.StoredDigest, *existing);
        EXPECT_EQ(run.FirstUse, existing->empty());
        return;
    }
    const bool hadVendorKey = KeyExists(L"Software\\Brannoc");
    RunState first;
    LoadStoredDigest(first);
    EXPECT_TRUE(first.FirstUse);
    first.SettingsReg().SaveString(kDigestRoot, kDigestPath, kDigestValue, u"1887");
    const std::optional<std::u16string> written = RegistryDigest();

    RunState next;
    LoadStoredDigest(next);
    RegDeleteTreeW(HKEY_CURRENT_USER, W(kDigestPath));
    if (!hadVendorKey) {
        RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\Brannoc");
    }
    EXPECT_EQ(written, u"1887");
    EXPECT_FALSE(next.FirstUse);
    EXPECT_EQ(next.StoredDigest, u"1887");
}

}  // namespace
}  // namespace kestrove
