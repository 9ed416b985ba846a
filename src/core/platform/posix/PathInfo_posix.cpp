#include <sys/stat.h>

#include <cerrno>

#include "PathInfo.h"
#include "PlatformFile.h"
#include "PosixCalls.h"
#include "TextCodec.h"

namespace kestrove {

namespace {

std::filesystem::file_type TypeOf(mode_t mode) {
    if (S_ISDIR(mode)) {
        return std::filesystem::file_type::directory;
    }
    if (S_ISREG(mode)) {
        return std::filesystem::file_type::regular;
    }
    if (S_ISFIFO(mode)) {
        return std::filesystem::file_type::fifo;
    }
    if (S_ISSOCK(mode)) {
        return std::filesystem::file_type::socket;
    }
    if (S_ISCHR(mode)) {
        return std::filesystem::file_type::character;
    }
    if (S_ISBLK(mode)) {
        return std::filesystem::file_type::block;
    }
    return std::filesystem::file_type::unknown;
}

}  // namespace

PathInfo ClassifyPath(const std::filesystem::path& path) {
    struct stat info {};
    if (platform::posix::Stat(path.c_str(), &info) != 0) {
        return {PathKind::Missing, platform::ErrorFromCode(errno)};
    }
    switch (const std::filesystem::file_type type = TypeOf(info.st_mode)) {
        case std::filesystem::file_type::directory:
            return {PathKind::Folder, {}};
        case std::filesystem::file_type::regular:
            return {PathKind::RegularFile, {}};
        default:
            return {PathKind::Other, Failure::NotRegular(type)};
    }
}

std::optional<FileId> IdentifyFile(const std::filesystem::path& path) {
    const platform::IoResult<FileId> identity = platform::IdentityOf(path);
    if (identity.failure) {
        return std::nullopt;
    }
    return identity.value;
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
