// Our temporary files on POSIX: made, held, marked, removed, and taken over as leftovers. The hold
// is an exclusive flock on the file. Every copy of the program creates a temporary, then takes the
// hold; a cleaner takes the hold without waiting, and deals with a leftover only while it holds it
// and after checking that the name still leads to the file it holds. A creator whose new file was
// removed in the moment before its hold sees the file's link count at 0 once it holds it, and
// starts again with another name. Where the file system takes no locks, the maker named in the
// file is asked instead (Leftovers.cpp).
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <optional>
#include <string>

#include "PlatformFile.h"
#include "PosixCalls.h"
#include "TemporaryName.h"

namespace kestrove::platform {

namespace {

// Exclusive creation makes a name clash harmless; this only bounds the retries.
constexpr int kTemporaryNameAttempts = 16;

int Descriptor(const NativeFile& file) {
    return static_cast<int>(file.handle());
}

bool MeansNoLocks(int error) {
    return error == ENOLCK || error == EOPNOTSUPP || error == EINVAL;
}

// Waits for the hold. A file system without locks holds nothing: the name says who made the file.
IoStatus TakeHold(int fd) {
    if (posix::Flock(fd, LOCK_EX) != 0 && !MeansNoLocks(errno)) {
        return ErrorFromCode(errno);
    }
    return std::nullopt;
}

enum class NameCheck { Leads, Elsewhere, Failed };

// Whether the name leads to exactly the open file, a regular file with this one name.
NameCheck NameLeadsTo(const std::filesystem::path& path, int fd) {
    struct stat named {};
    struct stat opened {};
    if (posix::Lstat(path.c_str(), &named) != 0) {
        return errno == ENOENT || errno == ENOTDIR ? NameCheck::Elsewhere : NameCheck::Failed;
    }
    if (posix::Fstat(fd, &opened) != 0) {
        return NameCheck::Failed;
    }
    return S_ISREG(opened.st_mode) && opened.st_nlink == 1 && named.st_dev == opened.st_dev &&
                   named.st_ino == opened.st_ino
               ? NameCheck::Leads
               : NameCheck::Elsewhere;
}

IoStatus RenameWithoutReplacing(const std::filesystem::path& from,
                                const std::filesystem::path& to) {
    if (posix::RenameNoReplace(from.c_str(), to.c_str()) == 0) {
        return std::nullopt;
    }
    // Some file systems cannot refuse to replace; the random part of our names makes a clash
    // practically impossible there.
    if (errno != EINVAL && errno != ENOSYS) {
        return ErrorFromCode(errno);
    }
    if (posix::Rename(from.c_str(), to.c_str()) != 0) {
        return ErrorFromCode(errno);
    }
    return std::nullopt;
}

// Renames the held temp within its folder and makes the new name durable.
IoStatus RenameHeld(TemporaryFile& temp, std::filesystem::path renamed) {
    if (IoStatus failure = RenameWithoutReplacing(temp.path, renamed)) {
        return failure;
    }
    temp.path = std::move(renamed);
    return SyncFolderOf(temp.path);
}

// When the process with this id started, in clock ticks since the system started (Linux's
// /proc/<id>/stat); gone is set when no such process runs (or only its corpse is left). Read
// directly, not through the file layer's calls: it is bookkeeping, not a user's file.
std::optional<std::uint64_t> StartOfProcess(std::uint64_t id, bool* gone = nullptr) {
    const std::string path = "/proc/" + std::to_string(id) + "/stat";
    const int fd =
        posix::UntilNotInterrupted([&] { return ::open(path.c_str(), O_RDONLY | O_CLOEXEC); });
    if (fd < 0) {
        if (gone != nullptr && errno == ENOENT && ::access("/proc/self/stat", F_OK) == 0) {
            *gone = true;
        }
        return std::nullopt;
    }
    char text[1024];
    const ssize_t got =
        posix::UntilNotInterrupted([&] { return ::read(fd, text, sizeof text - 1); });
    ::close(fd);
    if (got <= 0) {
        return std::nullopt;
    }
    const std::string stat(text, static_cast<std::size_t>(got));
    // The command name, in parentheses, may itself hold spaces and parentheses.
    std::size_t at = stat.rfind(')');
    if (at == std::string::npos || at + 2 >= stat.size()) {
        return std::nullopt;
    }
    if (stat[at + 2] == 'Z' || stat[at + 2] == 'X') {
        if (gone != nullptr) {
            *gone = true;
        }
        return std::nullopt;
    }
    // The start time is the 22nd field; the state after the name is the 3rd, and each field
    // follows a space.
    for (int field = 3; field <= 22; ++field) {
        at = stat.find(' ', at + 1);
        if (at == std::string::npos) {
            return std::nullopt;
        }
    }
    const std::uint64_t start = std::strtoull(stat.c_str() + at + 1, nullptr, 10);
    return start != 0 ? std::optional<std::uint64_t>(start) : std::nullopt;
}

}  // namespace

IoStatus CreateTemporaryBeside(const std::filesystem::path& besidePath, TemporaryFile& temp) {
    const std::filesystem::path folder = besidePath.parent_path();
    const ProcessStamp maker = CurrentProcess();
    for (int attempt = 0; attempt < kTemporaryNameAttempts; ++attempt) {
        std::filesystem::path candidate = folder / MakeTemporaryName(maker);
        const int fd =
            posix::Open(candidate.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW,
                        S_IRUSR | S_IWUSR);
        if (fd < 0) {
            if (errno != EEXIST) {
                return ErrorFromCode(errno);
            }
            continue;
        }
        NativeFile file(fd);
        IoStatus failure = TakeHold(fd);
        struct stat held {};
        if (!failure && posix::Fstat(fd, &held) != 0) {
            failure = ErrorFromCode(errno);
        }
        if (failure) {
            // Ours, and of no use to anybody: a failure to remove it leaves a leftover that the
            // next run removes.
            (void)posix::Unlink(candidate.c_str());
            return failure;
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

IoStatus MarkAsUndo(TemporaryFile& temp, std::uint64_t fileIndex) {
    return RenameHeld(
        temp, temp.path.parent_path() / UndoNameOf(temp.path.filename().native(), fileIndex));
}

IoStatus MarkAsJournal(TemporaryFile& temp) {
    std::filesystem::path renamed =
        temp.path.parent_path() / JournalNameOf(temp.path.filename().native());
    if (IoStatus failure = RenameWithoutReplacing(temp.path, renamed)) {
        return failure;
    }
    temp.path = std::move(renamed);
    return std::nullopt;
}

IoStatus MarkCommitted(TemporaryFile& temp, bool durable) {
    std::filesystem::path renamed =
        temp.path.parent_path() / CommittedNameOf(temp.path.filename().native());
    if (durable) {
        return RenameHeld(temp, std::move(renamed));
    }
    if (IoStatus failure = RenameWithoutReplacing(temp.path, renamed)) {
        return failure;
    }
    temp.path = std::move(renamed);
    return std::nullopt;
}

IoStatus RemoveTemporary(TemporaryFile& temp) {
    IoStatus failure;
    if (!temp.path.empty() && temp.file.isOpen()) {
        // Someone may have put another file under the name meanwhile: that one stays.
        switch (NameLeadsTo(temp.path, Descriptor(temp.file))) {
            case NameCheck::Leads:
                if (posix::Unlink(temp.path.c_str()) != 0) {
                    failure = ErrorFromCode(errno);
                }
                break;
            case NameCheck::Elsewhere:
                break;
            case NameCheck::Failed:
                failure = ErrorFromCode(errno);
                break;
        }
    }
    temp.path.clear();
    temp.file.Close();
    return failure;
}

Held HoldLeftover(const std::filesystem::path& path) {
    Held held;
    auto failed = [&held](int error) {
        held.result = HoldResult::Failed;
        held.failure = ErrorFromCode(error);
        return std::move(held);
    };
    // Never follows a link, never blocks on a FIFO that took one of our names.
    const int fd =
        posix::Open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        // Gone, a link, or a socket under our name: nothing of ours.
        if (errno == ENOENT || errno == ELOOP || errno == ENXIO || errno == ENOTDIR) {
            return held;
        }
        return failed(errno);
    }
    NativeFile file(fd);
    held.result = HoldResult::Held;
    if (posix::Flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK) {
            held.result = HoldResult::InUse;
            return held;
        }
        if (!MeansNoLocks(errno)) {
            return failed(errno);
        }
        held.result = HoldResult::NoLocks;
    }
    // It may have been removed, or the name given to another file, before the hold.
    switch (NameLeadsTo(path, fd)) {
        case NameCheck::Leads:
            break;
        case NameCheck::Elsewhere:
            held.result = HoldResult::NotOurs;
            return held;
        case NameCheck::Failed:
            return failed(errno);
    }
    held.file.file = std::move(file);
    held.file.path = path;
    return held;
}

ProcessStamp CurrentProcess() {
    static thread_local ProcessStamp known;
    const auto id = static_cast<std::uint64_t>(::getpid());
    // Looked up again in a child made by fork.
    if (known.id != id) {
        known = ProcessStamp{id, StartOfProcess(id).value_or(0)};
    }
    return known;
}

ProcessLife LifeOf(const ProcessStamp& stamp) {
    if (stamp.id == 0 || stamp.start == 0) {
        return ProcessLife::Unknown;
    }
    bool gone = false;
    const std::optional<std::uint64_t> start = StartOfProcess(stamp.id, &gone);
    if (gone) {
        return ProcessLife::Ended;
    }
    if (!start) {
        return ProcessLife::Unknown;
    }
    return *start == stamp.start ? ProcessLife::Running : ProcessLife::Ended;
}

}  // namespace kestrove::platform
