// The settings store on systems without a registry: the SQLite file in the user's configuration
// folder.
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "RegistryStore.h"
#include "SqliteRegistryStore.h"

namespace kestrove {
namespace {

// The home folder from the password database, for a process started without HOME.
std::string PasswdHome() {
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 ||
        found == nullptr || found->pw_dir == nullptr) {
        return {};
    }
    return found->pw_dir;
}

}  // namespace

std::filesystem::path DefaultRegistryPath() {
    auto path = RegistryPathFromEnvironment(std::getenv("XDG_CONFIG_HOME"), std::getenv("HOME"));
    if (path.empty()) {
        const std::string home = PasswdHome();
        path = RegistryPathFromEnvironment(nullptr, home.c_str());
    }
    return path;
}

std::shared_ptr<RegistryStore> DefaultRegistryStore() {
    return std::make_shared<SqliteRegistryStore>(DefaultRegistryPath());
}

}  // namespace kestrove
