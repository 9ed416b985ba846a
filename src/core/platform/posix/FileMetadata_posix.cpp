// Everything of a file but its content, carried over to the new content that takes its place:
// permission bits, every extended attribute (POSIX access lists, security labels and the tags
// that file managers and browsers write among them) and the inode flags chattr sets. The owner
// goes first, in AdoptOwner, before any content is written.
#include <sys/stat.h>

#ifdef __linux__
#include <linux/fs.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "PlatformFile.h"
#include "PosixCalls.h"

namespace kestrove::platform {

namespace {

constexpr mode_t kPermissionBits = 07777;

#ifdef FS_FL_USER_MODIFIABLE
constexpr int kUserFlags = FS_FL_USER_MODIFIABLE;
#else
constexpr int kUserFlags = 0;
#endif

int Descriptor(const NativeFile& file) {
    return static_cast<int>(file.handle());
}

// The file system keeps no such thing for this file.
bool MeansUnsupported(int error) {
    return error == ENOTSUP || error == EOPNOTSUPP || error == ENOTTY || error == ENOSYS ||
           error == EINVAL;
}

// The chattr flags of a file, 0 where the file system has none.
std::optional<int> UserFlagsOf(int fd) {
    int flags = 0;
    if (posix::GetInodeFlags(fd, &flags) != 0) {
        return MeansUnsupported(errno) ? std::optional<int>(0) : std::nullopt;
    }
    return flags & kUserFlags;
}

// The names of a file's extended attributes; empty where the file system has none.
std::optional<std::vector<std::string>> AttributeNames(int fd) {
    std::vector<char> names;
    for (;;) {
        const ssize_t size = posix::ListAttributes(fd, nullptr, 0);
        if (size < 0) {
            return MeansUnsupported(errno) ? std::optional<std::vector<std::string>>({})
                                           : std::nullopt;
        }
        names.resize(static_cast<std::size_t>(size));
        const ssize_t got = posix::ListAttributes(fd, names.data(), names.size());
        if (got >= 0) {
            names.resize(static_cast<std::size_t>(got));
            break;
        }
        if (errno != ERANGE) {  // grew in between: ask again
            return std::nullopt;
        }
    }
    std::vector<std::string> result;
    for (std::size_t at = 0; at < names.size();) {
        const std::size_t end =
            std::find(names.begin() + static_cast<std::ptrdiff_t>(at), names.end(), '\0') -
            names.begin();
        if (end > at) {
            result.emplace_back(names.data() + at, end - at);
        }
        at = end + 1;
    }
    return result;
}

std::optional<std::vector<char>> AttributeValue(int fd, const std::string& name) {
    std::vector<char> value;
    for (;;) {
        const ssize_t size = posix::GetAttribute(fd, name.c_str(), nullptr, 0);
        if (size < 0) {
            return std::nullopt;
        }
        value.resize(static_cast<std::size_t>(size));
        const ssize_t got = posix::GetAttribute(fd, name.c_str(), value.data(), value.size());
        if (got >= 0) {
            value.resize(static_cast<std::size_t>(got));
            return value;
        }
        if (errno != ERANGE) {
            return std::nullopt;
        }
    }
}

bool Contains(const std::vector<std::string>& names, const std::string& name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

// The new file's attributes made exactly the original's. What the new file got on its own (the
// folder's default access list, a label) and the original lacks goes first; the permission bits
// come before the attributes, since an access list decides the group bits it goes with.
bool CarryAttributes(int from, int to, mode_t mode) {
    const auto wanted = AttributeNames(from);
    const auto present = AttributeNames(to);
    if (!wanted || !present) {
        return false;
    }
    for (const std::string& name : *present) {
        if (!Contains(*wanted, name) && posix::RemoveAttribute(to, name.c_str()) != 0) {
            return false;
        }
    }
    if (posix::Fchmod(to, mode & kPermissionBits) != 0) {
        return false;
    }
    for (const std::string& name : *wanted) {
        const auto value = AttributeValue(from, name);
        if (!value) {
            return false;
        }
        // An equal value is left as it is: setting a label needs a privilege that keeping it
        // does not.
        if (Contains(*present, name) && AttributeValue(to, name) == value) {
            continue;
        }
        if (posix::SetAttribute(to, name.c_str(), value->data(), value->size()) != 0) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool CarryMetadata(const TargetFile& target, TemporaryFile& temp) {
    const int from = Descriptor(target.file);
    const int to = Descriptor(temp.file);
    struct stat original {};
    if (posix::Fstat(from, &original) != 0) {
        return false;
    }
    // Flags such as no-copy-on-write or compression belong to how the blocks were written:
    // a file that has flags the new one lacks is rewritten in place instead.
    const auto originalFlags = UserFlagsOf(from);
    const auto newFlags = UserFlagsOf(to);
    if (!originalFlags || !newFlags || *originalFlags != *newFlags) {
        return false;
    }
    return CarryAttributes(from, to, original.st_mode);
}

}  // namespace kestrove::platform
