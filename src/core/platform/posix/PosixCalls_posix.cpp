#include "PosixCalls.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/xattr.h>
#include <unistd.h>

#ifdef __linux__
#include <dirent.h>
#include <linux/fs.h>
#endif

namespace kestrove::platform::posix {

int Open(const char* path, int flags, mode_t mode) {
    return Retried(SystemCall::Open, [&] { return ::open(path, flags, mode); });
}

int OpenAt(int folder, const char* name, int flags, mode_t mode) {
    return Retried(SystemCall::Open, [&] { return ::openat(folder, name, flags, mode); });
}

int Stat(const char* path, struct stat* info) {
    return Retried(SystemCall::Inspect, [&] { return ::stat(path, info); });
}

int Lstat(const char* path, struct stat* info) {
    return Retried(SystemCall::Inspect, [&] { return ::lstat(path, info); });
}

int Fstat(int fd, struct stat* info) {
    return Retried(SystemCall::Inspect, [&] { return ::fstat(fd, info); });
}

int FstatAt(int folder, const char* name, struct stat* info, int flags) {
    return Retried(SystemCall::Inspect, [&] { return ::fstatat(folder, name, info, flags); });
}

ssize_t Pread(int fd, void* data, std::size_t size, off_t offset) {
    return Retried(SystemCall::Read, [&] { return ::pread(fd, data, size, offset); });
}

ssize_t Pwrite(int fd, const void* data, std::size_t size, off_t offset) {
    return Retried(SystemCall::Write, [&] { return ::pwrite(fd, data, size, offset); });
}

int Fsync(int fd) {
    return Retried(SystemCall::Flush, [&] { return ::fsync(fd); });
}

int Syncfs(int fd) {
#ifdef __linux__
    return Retried(SystemCall::Flush, [&] { return ::syncfs(fd); });
#else
    (void)fd;
    errno = ENOSYS;
    return -1;
#endif
}

int Ftruncate(int fd, off_t size) {
    return Retried(SystemCall::Control, [&] { return ::ftruncate(fd, size); });
}

int FcntlSetFlags(int fd, int flags) {
    return Retried(SystemCall::Control, [&] { return ::fcntl(fd, F_SETFL, flags); });
}

int FcntlGetFlags(int fd) {
    return Retried(SystemCall::Control, [&] { return ::fcntl(fd, F_GETFL); });
}

int Rename(const char* from, const char* to) {
    return Retried(SystemCall::Rename, [&] { return ::rename(from, to); });
}

int RenameNoReplace(const char* from, const char* to) {
#ifdef __linux__
    return Retried(SystemCall::Rename,
                   [&] { return ::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE); });
#else
    (void)from;
    (void)to;
    errno = ENOSYS;
    return -1;
#endif
}

int Unlink(const char* path) {
    return Retried(SystemCall::Remove, [&] { return ::unlink(path); });
}

int Flock(int fd, int operation) {
    return Retried(SystemCall::Lock, [&] { return ::flock(fd, operation); });
}

ssize_t Getdents(int fd, void* buffer, std::size_t size) {
#ifdef __linux__
    return Retried(SystemCall::List, [&] { return ::getdents64(fd, buffer, size); });
#else
    (void)fd;
    (void)buffer;
    (void)size;
    errno = ENOSYS;
    return -1;
#endif
}

int Fchown(int fd, uid_t owner, gid_t group) {
    return Retried(SystemCall::Owner, [&] { return ::fchown(fd, owner, group); });
}

int Fchmod(int fd, mode_t mode) {
    return Retried(SystemCall::Mode, [&] { return ::fchmod(fd, mode); });
}

int GetInodeFlags(int fd, int* flags) {
#ifdef FS_IOC_GETFLAGS
    return Retried(SystemCall::Mode, [&] { return ::ioctl(fd, FS_IOC_GETFLAGS, flags); });
#else
    (void)fd;
    *flags = 0;
    return 0;
#endif
}

ssize_t ListAttributes(int fd, char* names, std::size_t size) {
    return Retried(SystemCall::Attributes, [&] { return ::flistxattr(fd, names, size); });
}

ssize_t GetAttribute(int fd, const char* name, void* value, std::size_t size) {
    return Retried(SystemCall::Attributes, [&] { return ::fgetxattr(fd, name, value, size); });
}

int SetAttribute(int fd, const char* name, const void* value, std::size_t size) {
    return Retried(SystemCall::Attributes, [&] { return ::fsetxattr(fd, name, value, size, 0); });
}

int RemoveAttribute(int fd, const char* name) {
    return Retried(SystemCall::Attributes, [&] { return ::fremovexattr(fd, name); });
}

std::filesystem::path Canonical(const std::filesystem::path& path, std::error_code& error) {
    for (;;) {
        if (const int fault = InjectedFault(SystemCall::Resolve)) {
            error.assign(fault, std::generic_category());
        } else {
            std::filesystem::path real = std::filesystem::canonical(path, error);
            if (!error) {
                return real;
            }
        }
        if (error.value() != EINTR) {
            return {};
        }
    }
}

void Close(int fd) {
    ::close(fd);
}

}  // namespace kestrove::platform::posix
