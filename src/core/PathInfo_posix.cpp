#include <sys/stat.h>

#include "PathInfo.h"

namespace kestrove {

std::optional<FileId> IdentifyFile(const std::filesystem::path& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        return std::nullopt;
    }
    return FileId{static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino)};
}

}  // namespace kestrove
