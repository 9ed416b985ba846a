#include "PathInfo.h"
#include "PlatformFile.h"
#include "TextCodec.h"
#include "WinCalls_win.h"
#include "WinSupport_win.h"
#include "WindowsPath.h"

namespace kestrove {

namespace {

// Opens what path leads to, every link followed, only to look at it: any file or folder, shared
// with everyone.
platform::NativeFile OpenToExamine(const std::filesystem::path& path) {
    const HANDLE handle =
        platform::win::Open(platform::ApiPath(path), FILE_READ_ATTRIBUTES,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS);
    return handle == INVALID_HANDLE_VALUE
               ? platform::NativeFile()
               : platform::NativeFile(reinterpret_cast<std::intptr_t>(handle));
}

PathKind KindOfAttributes(DWORD attributes) {
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? PathKind::Folder : PathKind::RegularFile;
}

}  // namespace

PathInfo ClassifyPath(const std::filesystem::path& path) {
    const platform::NativeFile file = OpenToExamine(path);
    if (!file.isOpen()) {
        const DWORD error = GetLastError();
        // A file whose access list keeps this user out is still a file the user dropped: its
        // transform then says "access denied". Its folder's listing still knows what it is,
        // unless it is a link, whose own entry says nothing about where it leads.
        WIN32_FILE_ATTRIBUTE_DATA listed{};
        if (error == ERROR_ACCESS_DENIED &&
            platform::win::AttributesEx(platform::ApiPath(path), &listed) &&
            (listed.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
            return {KindOfAttributes(listed.dwFileAttributes), {}};
        }
        return {PathKind::Missing, platform::ErrorFromCode(static_cast<int>(error))};
    }
    const auto handle = reinterpret_cast<HANDLE>(file.handle());
    switch (platform::win::FileType(handle)) {
        case FILE_TYPE_DISK:
            break;
        case FILE_TYPE_UNKNOWN:
            if (const DWORD error = GetLastError(); error != NO_ERROR) {
                return {PathKind::Missing, platform::ErrorFromCode(static_cast<int>(error))};
            }
            return {PathKind::Other, Failure::NotRegular(std::filesystem::file_type::unknown)};
        case FILE_TYPE_CHAR:
            return {PathKind::Other, Failure::NotRegular(std::filesystem::file_type::character)};
        case FILE_TYPE_PIPE:
            return {PathKind::Other, Failure::NotRegular(std::filesystem::file_type::fifo)};
        default:
            return {PathKind::Other, Failure::NotRegular(std::filesystem::file_type::unknown)};
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (!platform::win::Describe(handle, &info)) {
        return {PathKind::Missing, platform::ErrorFromCode(static_cast<int>(GetLastError()))};
    }
    return {KindOfAttributes(info.dwFileAttributes), {}};
}

namespace platform {

IoResult<FileId> IdentityOf(const std::filesystem::path& path) {
    const NativeFile file = OpenToExamine(path);
    BY_HANDLE_FILE_INFORMATION info{};
    if (!file.isOpen() || !win::Describe(AsHandle(file), &info)) {
        return {LastError()};
    }
    return {std::nullopt, FileId{info.dwVolumeSerialNumber, IndexOf(info)}};
}

}  // namespace platform

}  // namespace kestrove
