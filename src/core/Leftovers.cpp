#include "Leftovers.h"

#include <algorithm>
#include <optional>
#include <system_error>
#include <vector>

#include "DirectorySource.h"
#include "PathInfo.h"
#include "PlatformFile.h"
#include "TemporaryName.h"

namespace kestrove {

namespace {

using platform::IoStatus;

constexpr std::uint64_t kCopyBlock = std::uint64_t{1} << 20;

// The file in folder with the given identity, found by its index since its name is not known.
std::optional<std::filesystem::path> FindFile(const std::filesystem::path& folder, FileId id) {
    OpenedFolder opened = PlatformDirectorySource().Open(folder.native());
    if (!opened.listing) {
        return std::nullopt;
    }
    ListedEntry entry;
    while (opened.listing->Next(entry)) {
        if (entry.kind != EntryKind::File || IsOurTemporaryName(entry.name)) {
            continue;
        }
        std::filesystem::path candidate = folder / std::filesystem::path(NativeString(entry.name));
        if (IdentifyFile(candidate) == id) {
            return candidate;
        }
    }
    return std::nullopt;
}

IoStatus CopyWhole(platform::NativeFile& from, platform::NativeFile& to, std::uint64_t size) {
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(std::min(size, kCopyBlock)));
    std::uint64_t done = 0;
    while (done < size) {
        std::size_t got = 0;
        const auto want =
            static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), size - done));
        if (IoStatus failure = from.ReadAt(done, buffer.data(), want, got)) {
            return failure;
        }
        if (got == 0) {
            return platform::IoError{u"备份比预期短"};
        }
        if (IoStatus failure = to.WriteAt(done, buffer.data(), got)) {
            return failure;
        }
        done += got;
    }
    return to.Sync();
}

// Puts the held backup's content back over its file, or keeps the backup.
LeftoverFate PutBackupBack(platform::TemporaryFile& backup, std::uint64_t fileIndex) {
    platform::FileFacts facts;
    if (platform::DescribeFile(backup.file, facts)) {
        return LeftoverFate::Kept;
    }
    const std::filesystem::path folder = backup.path.parent_path();
    const std::optional<std::filesystem::path> file =
        FindFile(folder, {facts.id.device, fileIndex});
    if (!file) {
        return LeftoverFate::Kept;
    }
    platform::TargetFile target;
    // The name may have been given to another file since it was found.
    if (platform::OpenTarget(*file, target) || target.fileIndex != fileIndex ||
        target.size != facts.size || platform::OpenTargetForWriting(target) ||
        target.size != facts.size) {
        return LeftoverFate::Kept;
    }
    if (CopyWhole(backup.file, target.file, facts.size)) {
        return LeftoverFate::Kept;
    }
    platform::RemoveTemporary(backup);
    platform::SyncFolderOf(*file);
    return LeftoverFate::Restored;
}

}  // namespace

LeftoverFate CleanLeftover(const std::filesystem::path& temporary) {
    const TemporaryName name = ParseTemporaryName(NativeView(temporary.filename().native()));
    if (name.kind == TemporaryKind::None) {
        return LeftoverFate::NotOurs;
    }
    // An earlier version held nothing and named backups like the rest: such a file may be in use
    // by that version, or the only copy of a file's old content.
    if (name.kind == TemporaryKind::Unmarked) {
        return LeftoverFate::Kept;
    }
    platform::TemporaryFile held;
    switch (platform::HoldLeftover(temporary, held)) {
        case platform::HoldResult::Held:
            break;
        case platform::HoldResult::InUse:
            return LeftoverFate::InUse;
        case platform::HoldResult::NotOurs:
            return LeftoverFate::NotOurs;
    }
    if (name.kind == TemporaryKind::Backup) {
        const LeftoverFate fate = PutBackupBack(held, name.fileIndex);
        held.file.Close();
        return fate;
    }
    platform::RemoveTemporary(held);
    return LeftoverFate::Removed;
}

void CleanLeftoversBeside(const std::filesystem::path& file) {
    std::error_code error;
    const std::filesystem::path real = std::filesystem::canonical(file, error);
    if (error) {
        return;
    }
    const std::filesystem::path folder = real.parent_path();
    OpenedFolder opened = PlatformDirectorySource().Open(folder.native());
    if (!opened.listing) {
        return;
    }
    // Collected first: the folder changes as they are dealt with.
    std::vector<std::filesystem::path> found;
    ListedEntry entry;
    while (opened.listing->Next(entry)) {
        if (entry.kind == EntryKind::File && IsOurTemporaryName(entry.name)) {
            found.push_back(folder / std::filesystem::path(NativeString(entry.name)));
        }
    }
    opened.listing.reset();
    for (const std::filesystem::path& temporary : found) {
        (void)CleanLeftover(temporary);
    }
}

}  // namespace kestrove
