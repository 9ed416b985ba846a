// Our temporary files on POSIX: made, held, renamed to a backup, removed, and taken over as
// leftovers. The hold is an exclusive flock on the file. Every copy of the program creates a
// temporary, then takes the hold; a cleaner takes the hold without waiting, and removes a leftover
// only while it holds it and after checking that the name still leads to the file it holds. A
// creator whose new file was removed in the moment before its hold sees the file's link count
// at 0 once it holds it, and starts again with another name.
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "PlatformFile.h"
#include "TemporaryName.h"

namespace kestrove::platform {

namespace {

// Exclusive creation makes a name clash harmless; this only bounds the retries.
constexpr int kTemporaryNameAttempts = 16;

int Descriptor(const NativeFile& file) {
    return static_cast<int>(file.handle());
}

// Waits for the hold. A file system without locks (some network and FUSE ones) holds nothing;
// a cleaner finds no lock to take there either and leaves every temporary alone.
IoStatus TakeHold(int fd) {
    while (::flock(fd, LOCK_EX) != 0) {
        if (errno == EINTR) {
            continue;
        }
        if (errno == ENOLCK || errno == EOPNOTSUPP || errno == EINVAL) {
            return std::nullopt;
        }
        return ErrorFromCode(errno);
    }
    return std::nullopt;
}

// The name leads to exactly the open file, a regular file with this one name.
bool NameLeadsTo(const std::filesystem::path& path, int fd) {
    struct stat named {};
    struct stat opened {};
    return ::lstat(path.c_str(), &named) == 0 && ::fstat(fd, &opened) == 0 &&
           S_ISREG(opened.st_mode) && opened.st_nlink == 1 && named.st_dev == opened.st_dev &&
           named.st_ino == opened.st_ino;
}

IoStatus RenameWithoutReplacing(const std::filesystem::path& from,
                                const std::filesystem::path& to) {
#ifdef __linux__
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
        return std::nullopt;
    }
    // Some file systems cannot refuse to replace; the random part of our names makes a clash
    // practically impossible there.
    if (errno != EINVAL && errno != ENOSYS) {
        return ErrorFromCode(errno);
    }
#endif
    if (::rename(from.c_str(), to.c_str()) != 0) {
        return ErrorFromCode(errno);
    }
    return std::nullopt;
}

}  // namespace

IoStatus CreateTemporaryBeside(const std::filesystem::path& besidePath, TemporaryFile& temp) {
    const std::filesystem::path folder = besidePath.parent_path();
    for (int attempt = 0; attempt < kTemporaryNameAttempts; ++attempt) {
        std::filesystem::path candidate = folder / MakeTemporaryName();
        const int fd = ::open(candidate.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW,
                              S_IRUSR | S_IWUSR);
        if (fd < 0) {
            if (errno != EEXIST && errno != EINTR) {
                return ErrorFromCode(errno);
            }
            continue;
        }
        NativeFile file(fd);
        if (IoStatus failure = TakeHold(fd)) {
            ::unlink(candidate.c_str());
            return failure;
        }
        struct stat held {};
        if (::fstat(fd, &held) != 0) {
            const IoError error = ErrorFromCode(errno);
            ::unlink(candidate.c_str());
            return error;
        }
        if (held.st_nlink == 0) {
            continue;  // a cleaner took it for a leftover before the hold: it is gone
        }
        temp.file = std::move(file);
        temp.path = std::move(candidate);
        return std::nullopt;
    }
    return ErrorFromCode(EEXIST);
}

IoStatus MarkAsBackup(TemporaryFile& temp, std::uint64_t fileIndex) {
    std::filesystem::path marked =
        temp.path.parent_path() / BackupNameOf(temp.path.filename().native(), fileIndex);
    if (IoStatus failure = RenameWithoutReplacing(temp.path, marked)) {
        return failure;
    }
    temp.path = std::move(marked);
    SyncFolderOf(temp.path);
    return std::nullopt;
}

void RemoveTemporary(TemporaryFile& temp) {
    // Someone may have put another file under the name meanwhile: that one stays.
    if (!temp.path.empty() && temp.file.isOpen() && NameLeadsTo(temp.path, Descriptor(temp.file))) {
        ::unlink(temp.path.c_str());
    }
    temp.path.clear();
    temp.file.Close();
}

HoldResult HoldLeftover(const std::filesystem::path& path, TemporaryFile& held) {
    // Never follows a link, never blocks on a FIFO that took one of our names.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        return HoldResult::NotOurs;
    }
    NativeFile file(fd);
    if (!NameLeadsTo(path, fd)) {
        return HoldResult::NotOurs;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        return errno == EWOULDBLOCK ? HoldResult::InUse : HoldResult::NotOurs;
    }
    // It may have been removed, or the name given to another file, before the hold.
    if (!NameLeadsTo(path, fd)) {
        return HoldResult::NotOurs;
    }
    held.file = std::move(file);
    held.path = path;
    return HoldResult::Held;
}

}  // namespace kestrove::platform
