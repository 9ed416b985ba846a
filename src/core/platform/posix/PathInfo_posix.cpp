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
    FileId id;
    if (platform::IdentityOf(path, id)) {
        return std::nullopt;
    }
    return id;
}

namespace platform {

IoStatus IdentityOf(const std::filesystem::path& path, FileId& id) {
    struct stat info {};
    if (posix::Stat(path.c_str(), &info) != 0) {
        return ErrorFromCode(errno);
    }
    id = FileId{static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino)};
    return std::nullopt;
}

}  // namespace platform

}  // namespace kestrove
