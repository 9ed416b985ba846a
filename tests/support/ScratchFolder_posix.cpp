#include <system_error>

#include "ScratchFolder.h"

namespace kestrove::testing {

void RemoveTree(const std::filesystem::path& folder) {
    namespace fs = std::filesystem;
    std::error_code ignored;
    // Only folders need it: a file is removed by a change to its folder. Links are not followed
    // out of the folder.
    for (auto it = fs::recursive_directory_iterator(
             folder, fs::directory_options::skip_permission_denied, ignored);
         it != fs::recursive_directory_iterator(); it.increment(ignored)) {
        if (it->is_directory(ignored) && !it->is_symlink(ignored)) {
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
        }
    }
    fs::permissions(folder, fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(folder, ignored);
}

}  // namespace kestrove::testing
