#pragma once

// Internal to kestrove_core on POSIX: the system calls of the file layer, each one retried when a
// signal interrupts it (EINTR is never a failure of ours to report) and each one open to a test's
// injected fault (SystemCalls.h). Every file-system call of the POSIX code goes through here;
// they fail as the system calls do, with -1 and errno.

#include <sys/stat.h>
#include <sys/types.h>

#include <cerrno>
#include <cstddef>
#include <filesystem>
#include <system_error>

#include "SystemCalls.h"

namespace kestrove::platform::posix {

// Makes call (returning -1 with errno on failure) until it is not interrupted by a signal.
template <typename Call>
auto UntilNotInterrupted(Call&& call) -> decltype(call()) {
    for (;;) {
        const auto result = call();
        if (result != -1 || errno != EINTR) {
            return result;
        }
    }
}

// The same for a call of the file layer: an injected fault takes the place of the call it falls
// on, so an injected EINTR is retried too.
template <typename Call>
auto Retried(SystemCall kind, Call&& call) -> decltype(call()) {
    return UntilNotInterrupted([&]() -> decltype(call()) {
        if (const int fault = InjectedFault(kind)) {
            errno = fault;
            return -1;
        }
        return call();
    });
}

int Open(const char* path, int flags, mode_t mode = 0);
int OpenAt(int folder, const char* name, int flags, mode_t mode = 0);
int Stat(const char* path, struct stat* info);
int Lstat(const char* path, struct stat* info);
int Fstat(int fd, struct stat* info);
int FstatAt(int folder, const char* name, struct stat* info, int flags);
ssize_t Pread(int fd, void* data, std::size_t size, off_t offset);
ssize_t Pwrite(int fd, const void* data, std::size_t size, off_t offset);
int Fsync(int fd);
// syncfs: everything unwritten on the file system of fd; ENOSYS where the system has no such call.
int Syncfs(int fd);
int Ftruncate(int fd, off_t size);
int FcntlSetFlags(int fd, int flags);
int FcntlGetFlags(int fd);
int Rename(const char* from, const char* to);
// rename that fails with EEXIST instead of replacing; EINVAL/ENOSYS where the system cannot.
int RenameNoReplace(const char* from, const char* to);
int Unlink(const char* path);
int Flock(int fd, int operation);
ssize_t Getdents(int fd, void* buffer, std::size_t size);
int Fchown(int fd, uid_t owner, gid_t group);
int Fchmod(int fd, mode_t mode);
// The inode flags that chattr sets (FS_IOC_GETFLAGS).
int GetInodeFlags(int fd, int* flags);
ssize_t ListAttributes(int fd, char* names, std::size_t size);
ssize_t GetAttribute(int fd, const char* name, void* value, std::size_t size);
int SetAttribute(int fd, const char* name, const void* value, std::size_t size);
int RemoveAttribute(int fd, const char* name);

// std::filesystem::canonical, retried on EINTR and open to an injected fault.
[[nodiscard]] std::filesystem::path Canonical(const std::filesystem::path& path,
                                              std::error_code& error);

// Closes a descriptor. Never retried: on Linux the descriptor is gone even when close says EINTR.
void Close(int fd);

// The kind of file a stat's mode says.
[[nodiscard]] inline std::filesystem::file_type TypeOfMode(mode_t mode) {
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

}  // namespace kestrove::platform::posix
