// The settings class cases over the Windows registry. The registry is shared with everything else
// on the machine, so each case writes only below a key of its own under HKEY_CURRENT_USER\Software
// and removes it afterwards.
#include <windows.h>

#include "ClsQvnRegSuite.h"
#include "WinRegistryStore.h"

namespace kestrove::testing {
namespace {

StoreBackend RegistryBackend() {
    return {"Registry",
            [](const std::filesystem::path&) -> std::shared_ptr<RegistryStore> {
                return std::make_shared<WinRegistryStore>();
            },
            // The scratch folder's name is unique to the case, so the key named after it is too.
            [](const std::filesystem::path& scratch) {
                const std::wstring name = scratch.filename().native();
                return u"Software\\" + std::u16string(name.begin(), name.end());
            },
            [](RegistryStore&, const std::u16string& base) {
                RegDeleteTreeW(HKEY_CURRENT_USER, reinterpret_cast<const wchar_t*>(base.c_str()));
            }};
}

INSTANTIATE_TEST_SUITE_P(Store, ClsQvnRegSuite, ::testing::Values(RegistryBackend()),
                         [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace kestrove::testing
