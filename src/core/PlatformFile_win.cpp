#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <utility>

#include "FileSecurity.h"
#include "PathInfo.h"
#include "PlatformFile.h"
#include "WindowsPath.h"

namespace kestrove::platform {

namespace {

// ReadFile and WriteFile count in DWORDs.
constexpr std::size_t kMaxTransfer = std::size_t{1} << 30;
// What the new content takes over from the file it replaces. Read-only never gets this far, and
// compression and encryption belong to the folder or need calls of their own.
constexpr DWORD kCarriedAttributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                     FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED |
                                     FILE_ATTRIBUTE_TEMPORARY;

HANDLE AsHandle(std::intptr_t handle) {
    return reinterpret_cast<HANDLE>(handle);
}

IoError LastError() {
    return ErrorFromCode(static_cast<int>(GetLastError()));
}

NativeFile Adopt(HANDLE handle) {
    return handle == INVALID_HANDLE_VALUE ? NativeFile()
                                          : NativeFile(reinterpret_cast<std::intptr_t>(handle));
}

std::uint64_t SizeOf(const BY_HANDLE_FILE_INFORMATION& info) {
    return (std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow;
}

std::uint64_t IndexOf(const BY_HANDLE_FILE_INFORMATION& info) {
    return (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
}

bool SameFile(const BY_HANDLE_FILE_INFORMATION& a, const BY_HANDLE_FILE_INFORMATION& b) {
    return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
           a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
}

// Only a regular file on a disk gets through: folders, consoles, printers and pipes are refused
// from their type alone, before anything is read from them.
IoStatus RequireRegular(HANDLE handle, BY_HANDLE_FILE_INFORMATION& info) {
    switch (GetFileType(handle)) {
        case FILE_TYPE_DISK:
            break;
        case FILE_TYPE_CHAR:
            return IoError{NotRegularFileText(std::filesystem::file_type::character)};
        case FILE_TYPE_PIPE:
            return IoError{NotRegularFileText(std::filesystem::file_type::fifo)};
        default:
            return IoError{NotRegularFileText(std::filesystem::file_type::unknown)};
    }
    if (!GetFileInformationByHandle(handle, &info)) {
        return LastError();
    }
    // Windows has no error of its own for a folder opened as a file; it would say "access denied".
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return IoError{NotRegularFileText(std::filesystem::file_type::directory)};
    }
    return std::nullopt;
}

IoStatus RefuseReadOnly(DWORD attributes) {
    // Windows itself refuses to write or replace a read-only file, but a process with backup and
    // restore rights may, and so may Wine run as root: the attribute decides here, whoever runs.
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
        return ErrorFromCode(ERROR_ACCESS_DENIED);
    }
    return std::nullopt;
}

// Opens realPath, which was examined as `examined`, and checks that the file opened is still that
// file: the name may have been given to another file in between. Others may go on reading it,
// but nobody may write it, rename it or delete it while it is open here.
IoStatus OpenExamined(const std::filesystem::path& realPath, DWORD access,
                      const BY_HANDLE_FILE_INFORMATION& examined, NativeFile& file,
                      BY_HANDLE_FILE_INFORMATION& opened) {
    NativeFile candidate =
        Adopt(CreateFileW(ApiPath(realPath).c_str(), access, FILE_SHARE_READ, nullptr,
                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!candidate.isOpen()) {
        return LastError();
    }
    if (IoStatus notRegular = RequireRegular(AsHandle(candidate.handle()), opened)) {
        return notRegular;
    }
    if (!SameFile(opened, examined)) {
        return IoError{u"文件在打开时被另一个文件替换"};
    }
    file = std::move(candidate);
    return std::nullopt;
}

}  // namespace

bool NativeFile::isOpen() const {
    return m_handle != -1 && m_handle != 0;
}

void NativeFile::Close() {
    if (isOpen()) {
        CloseHandle(AsHandle(m_handle));
    }
    m_handle = -1;
}

IoStatus NativeFile::ReadAt(std::uint64_t offset, std::uint8_t* data, std::size_t size,
                            std::size_t& got) {
    got = 0;
    OVERLAPPED position{};
    position.Offset = static_cast<DWORD>(offset);
    position.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD read = 0;
    if (!ReadFile(AsHandle(m_handle), data, static_cast<DWORD>(std::min(size, kMaxTransfer)), &read,
                  &position)) {
        // A read from a position at or past the end says so instead of delivering 0 bytes.
        return GetLastError() == ERROR_HANDLE_EOF ? std::nullopt : IoStatus(LastError());
    }
    got = read;
    return std::nullopt;
}

IoStatus NativeFile::WriteAt(std::uint64_t offset, const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        OVERLAPPED position{};
        position.Offset = static_cast<DWORD>(offset);
        position.OffsetHigh = static_cast<DWORD>(offset >> 32);
        DWORD written = 0;
        if (!WriteFile(AsHandle(m_handle), data, static_cast<DWORD>(std::min(size, kMaxTransfer)),
                       &written, &position)) {
            return LastError();
        }
        if (written == 0) {
            return ErrorFromCode(ERROR_WRITE_FAULT);
        }
        data += written;
        size -= written;
        offset += written;
    }
    return std::nullopt;
}

IoStatus NativeFile::Sync() {
    if (!FlushFileBuffers(AsHandle(m_handle))) {
        return LastError();
    }
    return std::nullopt;
}

IoStatus DescribeFile(const NativeFile& file, FileFacts& facts) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(AsHandle(file.handle()), &info)) {
        return LastError();
    }
    facts.id = FileId{info.dwVolumeSerialNumber, IndexOf(info)};
    facts.size = SizeOf(info);
    facts.linkCount = info.nNumberOfLinks;
    return std::nullopt;
}

IoStatus OpenTarget(const std::filesystem::path& path, TargetFile& target) {
    // Backup semantics let the open reach a folder too, so that a folder is refused by its type
    // rather than with "access denied"; the open follows every link to the real file.
    NativeFile file = Adopt(
        CreateFileW(ApiPath(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file.isOpen()) {
        return LastError();
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (IoStatus notRegular = RequireRegular(AsHandle(file.handle()), info)) {
        return notRegular;
    }
    std::optional<std::filesystem::path> realPath = FinalPathOf(file.handle());
    target.file = std::move(file);
    target.realPath = realPath ? std::move(*realPath) : DisplayPath(ApiPath(path));
    target.size = SizeOf(info);
    target.linkCount = info.nNumberOfLinks;
    target.fileIndex = IndexOf(info);
    return std::nullopt;
}

IoStatus OpenTargetForWriting(TargetFile& target) {
    BY_HANDLE_FILE_INFORMATION current{};
    if (!GetFileInformationByHandle(AsHandle(target.file.handle()), &current)) {
        return LastError();
    }
    if (IoStatus readOnly = RefuseReadOnly(current.dwFileAttributes)) {
        return readOnly;
    }
    // The reading handle lets nobody write, this process included.
    target.file.Close();
    NativeFile writable;
    BY_HANDLE_FILE_INFORMATION opened{};
    if (IoStatus failure = OpenExamined(target.realPath, GENERIC_READ | GENERIC_WRITE, current,
                                        writable, opened)) {
        return failure;
    }
    if (IoStatus readOnly = RefuseReadOnly(opened.dwFileAttributes)) {
        return readOnly;
    }
    target.file = std::move(writable);
    target.size = SizeOf(opened);
    target.linkCount = opened.nNumberOfLinks;
    target.fileIndex = IndexOf(opened);
    return std::nullopt;
}

IoStatus AdoptOwner(const TargetFile& target, NativeFile& temp, bool& ownerKept) {
    return CopyOwner(target.file.handle(), temp.handle(), ownerKept);
}

IoStatus AdoptMode(const TargetFile& target, NativeFile& temp) {
    FILE_BASIC_INFO original{};
    if (!GetFileInformationByHandleEx(AsHandle(target.file.handle()), FileBasicInfo, &original,
                                      sizeof original)) {
        return LastError();
    }
    // Zero times are left as they are: the content is new, so it has a new write time.
    FILE_BASIC_INFO carried{};
    carried.CreationTime = original.CreationTime;
    carried.FileAttributes = original.FileAttributes & kCarriedAttributes;
    if (carried.FileAttributes == 0) {
        carried.FileAttributes = FILE_ATTRIBUTE_NORMAL;  // zero would mean "leave them"
    }
    if (!SetFileInformationByHandle(AsHandle(temp.handle()), FileBasicInfo, &carried,
                                    sizeof carried)) {
        return LastError();
    }
    return CopyAccessList(target.file.handle(), temp.handle());
}

IoStatus ReplaceWithTemporary(TemporaryFile& temp, const std::filesystem::path& realPath,
                              NativeFile*) {
    // The file may have been made read-only while its new content was being written.
    if (IoStatus readOnly = RefuseReadOnly(GetFileAttributesW(ApiPath(realPath).c_str()))) {
        return readOnly;
    }
    // One rename, through the handle that holds the temporary file: the path holds the old or
    // the new file, never neither.
    if (IoStatus failure = RenameOpenFile(temp.file, realPath, true)) {
        return failure;
    }
    temp.path.clear();
    return std::nullopt;
}

std::size_t OpenFilesAllowed() {
    return SIZE_MAX;  // handles are limited only by memory
}

void SyncFolderOf(const std::filesystem::path&) {
    // Nothing to do: renames go with write-through, and Windows lets no ordinary process flush a
    // folder's entries on their own.
}

}  // namespace kestrove::platform
