#include <algorithm>
#include <cstdint>
#include <utility>

#include "FileSecurity.h"
#include "PathInfo.h"
#include "PlatformFile.h"
#include "WinCalls_win.h"
#include "WinSupport_win.h"
#include "WindowsPath.h"

namespace kestrove::platform {

namespace {

// ReadFile and WriteFile count in DWORDs.
constexpr std::size_t kMaxTransfer = std::size_t{1} << 30;

bool SameFile(const BY_HANDLE_FILE_INFORMATION& a, const BY_HANDLE_FILE_INFORMATION& b) {
    return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
           a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
}

// Only a regular file on a disk gets through: folders, consoles, printers and pipes are refused
// from their type alone, before anything is read from them.
IoResult<BY_HANDLE_FILE_INFORMATION> RequireRegular(HANDLE handle) {
    switch (win::FileType(handle)) {
        case FILE_TYPE_DISK:
            break;
        case FILE_TYPE_UNKNOWN:
            if (GetLastError() != NO_ERROR) {
                return {LastError()};
            }
            return {Failure::NotRegular(std::filesystem::file_type::unknown)};
        case FILE_TYPE_CHAR:
            return {Failure::NotRegular(std::filesystem::file_type::character)};
        case FILE_TYPE_PIPE:
            return {Failure::NotRegular(std::filesystem::file_type::fifo)};
        default:
            return {Failure::NotRegular(std::filesystem::file_type::unknown)};
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (!win::Describe(handle, &info)) {
        return {LastError()};
    }
    // Windows has no error of its own for a folder opened as a file; it would say "access denied".
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return {Failure::NotRegular(std::filesystem::file_type::directory)};
    }
    return {std::nullopt, info};
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
struct Examined {
    IoStatus failure;
    NativeFile file;
    BY_HANDLE_FILE_INFORMATION info{};
};

Examined OpenExamined(const std::filesystem::path& realPath, DWORD access,
                      const BY_HANDLE_FILE_INFORMATION& examined) {
    Examined opened;
    NativeFile candidate = Adopt(win::Open(ApiPath(realPath), access, FILE_SHARE_READ, nullptr,
                                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL));
    if (!candidate.isOpen()) {
        opened.failure = LastError();
        return opened;
    }
    const IoResult<BY_HANDLE_FILE_INFORMATION> regular =
        RequireRegular(AsHandle(candidate.handle()));
    if (regular.failure) {
        opened.failure = regular.failure;
        return opened;
    }
    if (!SameFile(regular.value, examined)) {
        opened.failure = Failure::Of(Problem::ReplacedWhileOpened);
        return opened;
    }
    opened.file = std::move(candidate);
    opened.info = regular.value;
    return opened;
}

void Describe(const BY_HANDLE_FILE_INFORMATION& info, TargetFile& target) {
    target.size = SizeOf(info);
    target.linkCount = info.nNumberOfLinks;
    target.fileIndex = IndexOf(info);
    target.device = info.dwVolumeSerialNumber;
    target.attributes = info.dwFileAttributes;
}

// What OpenExamined compares a newly opened file with: the file as examined.
BY_HANDLE_FILE_INFORMATION ExaminedAs(const TargetFile& target) {
    BY_HANDLE_FILE_INFORMATION examined{};
    examined.dwVolumeSerialNumber = static_cast<DWORD>(target.device);
    examined.nFileIndexHigh = static_cast<DWORD>(target.fileIndex >> 32);
    examined.nFileIndexLow = static_cast<DWORD>(target.fileIndex);
    examined.dwFileAttributes = target.attributes;
    return examined;
}

// Opens what path leads to, every link followed, only to look at it: any file or folder, shared
// with everyone.
NativeFile OpenToExamine(const std::filesystem::path& path) {
    return Adopt(win::Open(ApiPath(path), FILE_READ_ATTRIBUTES,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS));
}

// Whether the system says it has no name for where an open file is, rather than that it failed:
// some volume drivers (RAM disks, encrypted containers) cannot be asked, and Wine reports no final
// path longer than MAX_PATH characters ("more data available", where Windows says how long a
// buffer it needs).
bool MeansNoFinalPath(int code) {
    return code == ERROR_PATH_NOT_FOUND || code == ERROR_NOT_SUPPORTED ||
           code == ERROR_INVALID_FUNCTION || code == ERROR_MORE_DATA;
}

// Where the new content of the file opened as path must go: its final path, every link resolved.
// Where the system has no name for that, the path is taken as given as long as its last name is
// not a link: links to folders on its way lead into the same folder, which is all that matters
// for a file put in its place by a rename within its folder.
IoResult<std::filesystem::path> RealPathBehind(const NativeFile& file,
                                               const std::filesystem::path& path) {
    IoResult<std::filesystem::path> real = FinalPathOf(file.handle());
    if (!real.failure || !MeansNoFinalPath(real.failure->code)) {
        return real;
    }
    WIN32_FILE_ATTRIBUTE_DATA named{};
    if (!win::AttributesEx(ApiPath(path), &named)) {
        return {LastError()};
    }
    if ((named.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        return real;
    }
    return {std::nullopt, DisplayPath(ApiPath(path))};
}

// What the file opened as path is and where its new content must go (a link is never replaced by
// a file), into target, unless it is not a regular file; the file itself stays the caller's.
IoStatus DescribeOpened(const NativeFile& file, const std::filesystem::path& path,
                        TargetFile& target) {
    const IoResult<BY_HANDLE_FILE_INFORMATION> regular = RequireRegular(AsHandle(file.handle()));
    if (regular.failure) {
        return regular.failure;
    }
    IoResult<std::filesystem::path> real = RealPathBehind(file, path);
    if (real.failure) {
        return real.failure;
    }
    target.realPath = std::move(real.value);
    Describe(regular.value, target);
    return std::nullopt;
}

}  // namespace

bool IsNotFound(const IoError& error) {
    return error.code == ERROR_FILE_NOT_FOUND || error.code == ERROR_PATH_NOT_FOUND;
}

bool NativeFile::isOpen() const {
    return m_handle != -1 && m_handle != 0;
}

void NativeFile::Close() {
    if (isOpen()) {
        CloseHandle(AsHandle(m_handle));
    }
    m_handle = -1;
}

IoResult<std::size_t> NativeFile::ReadAt(std::uint64_t offset, std::uint8_t* data,
                                         std::size_t size) {
    OVERLAPPED position{};
    position.Offset = static_cast<DWORD>(offset);
    position.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD read = 0;
    if (!win::Read(AsHandle(m_handle), data, static_cast<DWORD>(std::min(size, kMaxTransfer)),
                   &read, &position)) {
        // A read from a position at or past the end says so instead of delivering 0 bytes.
        if (GetLastError() == ERROR_HANDLE_EOF) {
            return {std::nullopt, 0};
        }
        return {LastError()};
    }
    return {std::nullopt, read};
}

IoStatus NativeFile::WriteAt(std::uint64_t offset, const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        OVERLAPPED position{};
        position.Offset = static_cast<DWORD>(offset);
        position.OffsetHigh = static_cast<DWORD>(offset >> 32);
        DWORD written = 0;
        if (!win::Write(AsHandle(m_handle), data, static_cast<DWORD>(std::min(size, kMaxTransfer)),
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
    if (!win::Flush(AsHandle(m_handle))) {
        return LastError();
    }
    return std::nullopt;
}

IoResult<FileFacts> DescribeFile(const NativeFile& file) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!win::Describe(AsHandle(file.handle()), &info)) {
        return {LastError()};
    }
    FileFacts facts;
    facts.id = FileId{info.dwVolumeSerialNumber, IndexOf(info)};
    facts.size = SizeOf(info);
    facts.linkCount = info.nNumberOfLinks;
    return {std::nullopt, facts};
}

IoResult<std::filesystem::path> RealPathOf(const std::filesystem::path& path) {
    const NativeFile file = OpenToExamine(path);
    if (!file.isOpen()) {
        return {LastError()};
    }
    return RealPathBehind(file, path);
}

IoStatus OpenTarget(const std::filesystem::path& path, TargetFile& target) {
    // Backup semantics let the open reach a folder too, so that a folder is refused by its type
    // rather than with "access denied"; the open follows every link to the real file.
    NativeFile file =
        Adopt(win::Open(ApiPath(path), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                        FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_SEQUENTIAL_SCAN));
    if (!file.isOpen()) {
        return LastError();
    }
    if (IoStatus failure = DescribeOpened(file, path, target)) {
        return failure;
    }
    target.file = std::move(file);
    return std::nullopt;
}

IoStatus ExamineTarget(const std::filesystem::path& path, TargetFile& target) {
    // Only looked at: shared with everyone, so that nothing else is kept from the file meanwhile.
    const NativeFile file = OpenToExamine(path);
    if (!file.isOpen()) {
        return LastError();
    }
    if (IoStatus failure = DescribeOpened(file, path, target)) {
        return failure;
    }
    target.file.Close();
    return std::nullopt;
}

IoStatus OpenTargetForWriting(TargetFile& target) {
    BY_HANDLE_FILE_INFORMATION current = ExaminedAs(target);
    if (target.file.isOpen() && !win::Describe(AsHandle(target.file.handle()), &current)) {
        return LastError();
    }
    if (IoStatus readOnly = RefuseReadOnly(current.dwFileAttributes)) {
        return readOnly;
    }
    // The reading handle lets nobody write, this process included.
    target.file.Close();
    Examined opened = OpenExamined(target.realPath, GENERIC_READ | GENERIC_WRITE, current);
    if (opened.failure) {
        return opened.failure;
    }
    if (IoStatus readOnly = RefuseReadOnly(opened.info.dwFileAttributes)) {
        return readOnly;
    }
    target.file = std::move(opened.file);
    Describe(opened.info, target);
    return std::nullopt;
}

IoResult<bool> AdoptOwner(const TargetFile& target, NativeFile& temp) {
    return CopyOwner(target.file.handle(), temp.handle());
}

IoStatus ReplaceWithTemporary(TemporaryFile& temp, const std::filesystem::path& realPath,
                              NativeFile*) {
    // The file may have been made read-only while its new content was being written.
    const DWORD attributes = win::Attributes(ApiPath(realPath));
    if (attributes == INVALID_FILE_ATTRIBUTES && GetLastError() != ERROR_FILE_NOT_FOUND) {
        return LastError();
    }
    if (IoStatus readOnly = RefuseReadOnly(attributes)) {
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

IoStatus MakeDurable(const std::vector<const NativeFile*>& files,
                     const std::vector<std::filesystem::path>& folders) {
    // Windows lets no ordinary program flush a whole volume: each file, then each folder.
    for (const NativeFile* file : files) {
        if (!win::Flush(AsHandle(file->handle()))) {
            return LastError();
        }
    }
    for (const std::filesystem::path& folder : folders) {
        if (IoStatus failure = SyncFolderOf(folder / ".")) {
            return failure;
        }
    }
    return std::nullopt;
}

IoStatus SyncFolderOf(const std::filesystem::path& path) {
    // A rename or a removal changes the folder's index, which NTFS, FAT and exFAT write out when
    // the folder itself is flushed; on NTFS that flush also commits the file system's journal up
    // to this point. It takes a handle that may add entries to the folder, a right the rename that
    // came before needed too.
    const NativeFile folder =
        Adopt(win::Open(ApiPath(path.parent_path()), FILE_ADD_FILE | SYNCHRONIZE,
                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS));
    if (!folder.isOpen()) {
        return LastError();
    }
    if (!win::Flush(AsHandle(folder.handle()))) {
        const DWORD error = GetLastError();
        // A file system that cannot flush a folder on its own (some network file systems) says
        // so. There a rename is as durable as that file system makes it when it is done, and no
        // call of a program's makes it more so: that is all there is to wait for.
        if (error == ERROR_INVALID_FUNCTION || error == ERROR_NOT_SUPPORTED) {
            return std::nullopt;
        }
        return ErrorFromCode(static_cast<int>(error));
    }
    return std::nullopt;
}

}  // namespace kestrove::platform
