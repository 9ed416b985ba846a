#include "PathInfo.h"

#include "PlatformFile.h"

namespace kestrove {

std::optional<FileId> IdentifyFile(const std::filesystem::path& path) {
    const platform::IoResult<FileId> identity = platform::IdentityOf(path);
    if (identity.failure) {
        return std::nullopt;
    }
    return identity.value;
}

}  // namespace kestrove
