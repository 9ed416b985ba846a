#include <sys/stat.h>

#include <cerrno>

#include "PathInfo.h"
#include "PlatformFile.h"
#include "PosixCalls.h"
#include "TextCodec.h"

namespace kestrove {

PathInfo ClassifyPath(const std::filesystem::path& path) {
    struct stat info {};
    if (platform::posix::Stat(path.c_str(), &info) != 0) {
        return {PathKind::Missing, platform::ErrorFromCode(errno)};
    }
    switch (const std::filesystem::file_type type = platform::posix::TypeOfMode(info.st_mode)) {
        case std::filesystem::file_type::directory:
            return {PathKind::Folder, {}};
        case std::filesystem::file_type::regular:
            return {PathKind::RegularFile, {}};
        default:
            return {PathKind::Other, Failure::NotRegular(type)};
    }
}

namespace platform {

IoResult<FileId> IdentityOf(const std::filesystem::path& path) {
    struct stat info {};
    if (posix::Stat(path.c_str(), &info) != 0) {
        return {ErrorFromCode(errno)};
    }
    return {std::nullopt, FileId{static_cast<std::uint64_t>(info.st_dev),
                                 static_cast<std::uint64_t>(info.st_ino)}};
}

}  // namespace platform

}  // namespace kestrove
