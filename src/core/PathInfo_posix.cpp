#include <sys/stat.h>

#include <cerrno>
#include <system_error>

#include "PathInfo.h"
#include "TextCodec.h"

namespace kestrove {

PathInfo ClassifyPath(const std::filesystem::path& path) {
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(path, error);
    switch (status.type()) {
        case std::filesystem::file_type::directory:
            return {PathKind::Folder, {}};
        case std::filesystem::file_type::regular:
            return {PathKind::RegularFile, {}};
        case std::filesystem::file_type::none:
        case std::filesystem::file_type::not_found:
            return {PathKind::Missing, SystemErrorText(error ? error.value() : ENOENT)};
        default:
            return {PathKind::Other, NotRegularFileText(status.type())};
    }
}

std::optional<FileId> IdentifyFile(const std::filesystem::path& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        return std::nullopt;
    }
    return FileId{static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino)};
}

}  // namespace kestrove
