#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <system_error>
#include <thread>
#include <utility>

#include "PathInfo.h"
#include "PlatformFile.h"
#include "PosixCalls.h"

namespace kestrove::platform {

namespace {

constexpr mode_t kAnyWriteBit = S_IWUSR | S_IWGRP | S_IWOTH;

int Descriptor(std::intptr_t handle) {
    return static_cast<int>(handle);
}

IoError LastError() {
    return ErrorFromCode(errno);
}

// Below this size a single replaced file is freed by the rename itself, which is quick.
constexpr off_t kReleaseInBackgroundFrom = off_t{64} << 20;

// The old file at path when it has at least minSize bytes and this is its only name, opened so
// that a rename over it does not free it yet; -1 otherwise. Only an optimisation: whatever fails
// here, the rename goes ahead.
int OpenFileToRelease(const std::filesystem::path& path, off_t minSize) {
    const int fd = posix::Open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return -1;
    }
    struct stat info {};
    if (posix::Fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_nlink == 1 &&
        info.st_size >= minSize) {
        return fd;
    }
    posix::Close(fd);
    return -1;
}

// Closes the last reference to a replaced file on a thread of its own, which then pays for
// freeing its blocks. Nothing waits for it: if the program ends first, the system frees them.
void ReleaseInBackground(int fd) {
    try {
        std::thread([fd] { posix::Close(fd); }).detach();
    } catch (const std::system_error&) {
        posix::Close(fd);
    }
}

IoStatus RequireRegular(const struct stat& info) {
    if (S_ISREG(info.st_mode)) {
        return std::nullopt;
    }
    if (S_ISDIR(info.st_mode)) {
        return ErrorFromCode(EISDIR);
    }
    return Failure::NotRegular(posix::TypeOfMode(info.st_mode));
}

// Opens realPath, which was examined as `examined`, and checks that the file opened is still that
// regular file: the name may have been replaced in between. O_NONBLOCK keeps a FIFO or device that
// took the name from blocking the open; it is cleared again for the regular file.
struct Examined {
    IoStatus failure;
    NativeFile file;
    struct stat info {};
};

Examined OpenExamined(const std::filesystem::path& realPath, int access,
                      const struct stat& examined) {
    Examined opened;
    const int fd =
        posix::Open(realPath.c_str(), access | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) {
        opened.failure = LastError();
        return opened;
    }
    NativeFile candidate(fd);
    if (posix::Fstat(fd, &opened.info) != 0) {
        opened.failure = LastError();
    } else if (IoStatus notRegular = RequireRegular(opened.info)) {
        opened.failure = notRegular;
    } else if (opened.info.st_dev != examined.st_dev || opened.info.st_ino != examined.st_ino) {
        opened.failure = Failure::Of(Problem::ReplacedWhileOpened);
    } else {
        // O_NONBLOCK means nothing for a regular file's reads and writes: it stays.
        opened.file = std::move(candidate);
    }
    return opened;
}

void Describe(const struct stat& info, TargetFile& target) {
    target.size = static_cast<std::uint64_t>(info.st_size);
    target.linkCount = static_cast<std::uint64_t>(info.st_nlink);
    target.fileIndex = static_cast<std::uint64_t>(info.st_ino);
    target.device = static_cast<std::uint64_t>(info.st_dev);
    target.attributes = static_cast<std::uint32_t>(info.st_mode);
}

// The folders of a run's files come one after another: the real path of the last one is kept,
// so that a file that is no link itself costs one look instead of one per part of its path.
struct LastFolder {
    std::filesystem::path given;
    std::filesystem::path real;
};
thread_local LastFolder t_lastFolder;

}  // namespace

bool IsNotFound(const IoError& error) {
    return error.code == ENOENT || error.code == ENOTDIR;
}

bool NativeFile::isOpen() const {
    return m_handle >= 0;
}

void NativeFile::Close() {
    if (m_handle >= 0) {
        posix::Close(Descriptor(m_handle));
        m_handle = -1;
    }
}

IoResult<std::size_t> NativeFile::ReadAt(std::uint64_t offset, std::uint8_t* data,
                                         std::size_t size) {
    const ssize_t n = posix::Pread(Descriptor(m_handle), data, size, static_cast<off_t>(offset));
    if (n < 0) {
        return {LastError()};
    }
    return {std::nullopt, static_cast<std::size_t>(n)};
}

IoStatus NativeFile::WriteAt(std::uint64_t offset, const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n =
            posix::Pwrite(Descriptor(m_handle), data, size, static_cast<off_t>(offset));
        if (n < 0) {
            return LastError();
        }
        data += n;
        size -= static_cast<std::size_t>(n);
        offset += static_cast<std::uint64_t>(n);
    }
    return std::nullopt;
}

IoStatus NativeFile::Sync() {
    if (posix::Fsync(Descriptor(m_handle)) != 0) {
        return LastError();
    }
    return std::nullopt;
}

IoResult<FileFacts> DescribeFile(const NativeFile& file) {
    struct stat info {};
    if (posix::Fstat(Descriptor(file.handle()), &info) != 0) {
        return {LastError()};
    }
    FileFacts facts;
    facts.id =
        FileId{static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino)};
    facts.size = static_cast<std::uint64_t>(info.st_size);
    facts.linkCount = static_cast<std::uint64_t>(info.st_nlink);
    return {std::nullopt, facts};
}

IoResult<std::filesystem::path> RealPathOf(const std::filesystem::path& path) {
    struct stat named {};
    const std::filesystem::path folder = path.parent_path();
    if (path.has_filename() && !folder.empty() && posix::Lstat(path.c_str(), &named) == 0 &&
        !S_ISLNK(named.st_mode) && folder == t_lastFolder.given) {
        return {std::nullopt, t_lastFolder.real / path.filename()};
    }
    std::error_code error;
    std::filesystem::path realPath = posix::Canonical(path, error);
    if (error) {
        return {ErrorFromCode(error.value())};
    }
    if (path.has_filename() && !folder.empty() && !S_ISLNK(named.st_mode) && named.st_ino != 0) {
        t_lastFolder = {folder, realPath.parent_path()};
    }
    return {std::nullopt, std::move(realPath)};
}

IoStatus ExamineTarget(const std::filesystem::path& path, TargetFile& target) {
    std::filesystem::path realPath;
    struct stat examined {};
    const std::filesystem::path folder = path.parent_path();
    if (path.has_filename() && !folder.empty() && folder == t_lastFolder.given &&
        posix::Lstat(path.c_str(), &examined) == 0 && !S_ISLNK(examined.st_mode)) {
        // No link, in the folder of the file before: what lstat said is all there is to say.
        realPath = t_lastFolder.real / path.filename();
    } else {
        IoResult<std::filesystem::path> resolved = RealPathOf(path);
        if (resolved.failure) {
            return resolved.failure;
        }
        realPath = std::move(resolved.value);
        if (posix::Stat(realPath.c_str(), &examined) != 0) {
            return LastError();
        }
    }
    if (IoStatus notRegular = RequireRegular(examined)) {
        return notRegular;
    }
    target.file.Close();
    target.realPath = std::move(realPath);
    Describe(examined, target);
    return std::nullopt;
}

IoStatus OpenTarget(const std::filesystem::path& path, TargetFile& target) {
    IoResult<std::filesystem::path> resolved = RealPathOf(path);
    if (resolved.failure) {
        return resolved.failure;
    }
    std::filesystem::path realPath = std::move(resolved.value);
    // The type decides before anything is opened: opening a FIFO for reading could block.
    struct stat examined {};
    if (posix::Stat(realPath.c_str(), &examined) != 0) {
        return LastError();
    }
    if (IoStatus notRegular = RequireRegular(examined)) {
        return notRegular;
    }
    Examined opened = OpenExamined(realPath, O_RDONLY, examined);
    if (opened.failure) {
        return opened.failure;
    }
    target.file = std::move(opened.file);
    target.realPath = std::move(realPath);
    Describe(opened.info, target);
    return std::nullopt;
}

IoStatus OpenTargetForWriting(TargetFile& target) {
    struct stat current {};
    current.st_dev = static_cast<dev_t>(target.device);
    current.st_ino = static_cast<ino_t>(target.fileIndex);
    current.st_mode = static_cast<mode_t>(target.attributes);
    // Root may open any file for writing; a file without write bits is still read-only to us.
    if ((current.st_mode & kAnyWriteBit) == 0) {
        return ErrorFromCode(EACCES);
    }
    Examined opened = OpenExamined(target.realPath, O_RDWR, current);
    if (opened.failure) {
        return opened.failure;
    }
    target.file = std::move(opened.file);
    Describe(opened.info, target);
    return std::nullopt;
}

IoResult<bool> AdoptOwner(const TargetFile& target, NativeFile& temp) {
    struct stat original {};
    if (posix::Fstat(Descriptor(target.file.handle()), &original) != 0) {
        return {LastError()};
    }
    if (posix::Fchown(Descriptor(temp.handle()), original.st_uid, original.st_gid) == 0) {
        return {std::nullopt, true};
    }
    if (errno == EPERM) {
        return {std::nullopt, false};
    }
    return {LastError()};
}

IoStatus ReplaceWithTemporary(TemporaryFile& temp, const std::filesystem::path& realPath,
                              NativeFile* replaced) {
    // Freeing a replaced file costs the rename time: its blocks are freed and discarded, and
    // right after a flush the file system may make the rename wait for that. Holding the old file
    // open across the rename moves the work to whoever closes it.
    const int old = OpenFileToRelease(realPath, replaced != nullptr ? 0 : kReleaseInBackgroundFrom);
    if (posix::Rename(temp.path.c_str(), realPath.c_str()) != 0) {
        const IoError error = LastError();
        if (old >= 0) {
            posix::Close(old);
        }
        return error;
    }
    temp.path.clear();
    if (old >= 0 && replaced != nullptr) {
        *replaced = NativeFile(old);
    } else if (old >= 0) {
        ReleaseInBackground(old);
    }
    return std::nullopt;
}

std::size_t OpenFilesAllowed() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) {
        return SIZE_MAX;
    }
    return static_cast<std::size_t>(limit.rlim_cur);
}

IoStatus MakeDurable(const std::vector<const NativeFile*>& files,
                     const std::vector<std::filesystem::path>& folders) {
    // Every file lives on the file system of its folder: one flush of each file system covers
    // them all, and the folders' entries too.
    std::vector<dev_t> flushed;
    bool everyOne = false;
    for (const std::filesystem::path& folder : folders) {
        const int fd = posix::Open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0) {
            return LastError();
        }
        const NativeFile held(fd);
        struct stat info {};
        if (posix::Fstat(fd, &info) != 0) {
            return LastError();
        }
        if (std::find(flushed.begin(), flushed.end(), info.st_dev) != flushed.end()) {
            continue;
        }
        if (posix::Syncfs(fd) == 0) {
            flushed.push_back(info.st_dev);
            continue;
        }
        if (errno != ENOSYS) {
            return LastError();
        }
        everyOne = true;
        if (posix::Fsync(fd) != 0) {
            return LastError();
        }
    }
    if (everyOne) {
        for (const NativeFile* file : files) {
            if (posix::Fsync(Descriptor(file->handle())) != 0) {
                return LastError();
            }
        }
    }
    return std::nullopt;
}

IoStatus SyncFolderOf(const std::filesystem::path& path) {
    const int fd = posix::Open(path.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return LastError();
    }
    const NativeFile folder(fd);
    if (posix::Fsync(fd) != 0) {
        return LastError();
    }
    return std::nullopt;
}

}  // namespace kestrove::platform
