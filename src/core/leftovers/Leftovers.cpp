#include "Leftovers.h"

#include <algorithm>
#include <optional>
#include <utility>
#include <vector>

#include "DirectorySource.h"
#include "Keystream.h"
#include "LeftoverParts.h"
#include "PathInfo.h"
#include "TemporaryName.h"
#include "TextCodec.h"
#include "UndoRecord.h"

// What the next run does with each of our files it finds: new content that never took its file's
// place goes; an undo file (LeftoverUndo.cpp) or journal (LeftoverJournal.cpp) is dealt with for
// the files it holds old content of; each folder once per run, before its first file is written.

namespace kestrove {

namespace detail {

using platform::IoError;
using platform::IoStatus;
using platform::NativeFile;

LeftoverResult Result(LeftoverFate fate) {
    LeftoverResult result;
    result.fate = fate;
    return result;
}

// A leftover that keeps the file it belongs to from being written (when it belongs to one).
LeftoverResult Blocking(LeftoverFate fate, std::optional<std::uint64_t> index, IoError why) {
    LeftoverResult result = Result(fate);
    if (index) {
        result.blocks.push_back({*index, std::move(why)});
    }
    return result;
}

IoError KeptIn(const std::filesystem::path& copy, IoError why) {
    return why.With(CopyNote::OldContentKeptIn, copy);
}

// The file in folder with the given identity, found by its index since its name is not known.
Found FindFile(const std::filesystem::path& folder, FileId id) {
    OpenedFolder opened = PlatformDirectorySource().Open(folder.native());
    if (!opened.listing) {
        return {std::nullopt, IoError{opened.description}};
    }
    ListedEntry entry;
    while (opened.listing->Next(entry)) {
        // Where the listing gives each entry's index, only the one with the right index is
        // looked at.
        if (entry.kind != EntryKind::File || IsOurTemporaryName(entry.name) ||
            (entry.index != 0 && entry.index != id.index)) {
            continue;
        }
        std::filesystem::path candidate = folder / std::filesystem::path(NativeString(entry.name));
        const platform::IoResult<FileId> found = platform::IdentityOf(candidate);
        if (found.failure) {
            if (platform::IsNotFound(*found.failure)) {
                continue;  // gone since it was listed
            }
            return {std::nullopt, found.failure};
        }
        if (found.value == id) {
            return {std::move(candidate), std::nullopt};
        }
    }
    if (auto failure = opened.listing->Failure()) {
        return {std::nullopt, IoError{std::move(*failure)}};
    }
    return {};
}

IoStatus ReadWhole(NativeFile& file, std::uint64_t offset, std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        const auto [failure, got] = file.ReadAt(offset, data, size);
        if (failure) {
            return failure;
        }
        if (got == 0) {
            return Failure::Of(Problem::ShorterThanExpected);
        }
        offset += got;
        data += got;
        size -= got;
    }
    return std::nullopt;
}

}  // namespace detail

namespace {

using detail::Blocking;
using detail::FindFile;
using detail::Found;
using detail::KeptIn;
using detail::ReadRecord;
using detail::ReadWhole;
using detail::Result;
using platform::IoError;
using platform::IoStatus;
using platform::NativeFile;

// Whether the process that made a leftover on a file system without locks still runs.
bool MakerRuns(const TemporaryName& name, platform::TemporaryFile& held) {
    std::optional<ProcessStamp> maker = name.owner;
    if (!maker && (name.kind == TemporaryKind::Undo || name.kind == TemporaryKind::Committed)) {
        const platform::IoResult<platform::FileFacts> facts = platform::DescribeFile(held.file);
        if (!facts.failure) {
            const auto record = ReadRecord(held.file, facts.value.size);
            if (!record.failure && record.value) {
                maker = record.value->owner;
            }
        }
    }
    // Nobody named: it cannot be told from a live one, so it is treated as one.
    return !maker || platform::LifeOf(*maker) != platform::ProcessLife::Ended;
}

// A leftover of ours, held: settled by its kind.
LeftoverResult SettleHeld(platform::TemporaryFile& held, const TemporaryName& name) {
    switch (name.kind) {
        case TemporaryKind::Journal:
        case TemporaryKind::CommittedJournal:
            return detail::SettleJournal(held, name);
        case TemporaryKind::Undo:
        case TemporaryKind::Committed:
        case TemporaryKind::LegacyBackup:
            return detail::SettleUndoFile(held, name);
        case TemporaryKind::NewContent:
            // New content that never took its file's place; nothing depends on it.
            return Result(platform::RemoveTemporary(held) ? LeftoverFate::Failed
                                                          : LeftoverFate::Removed);
        case TemporaryKind::None:
        case TemporaryKind::Unmarked:
            break;  // never held
    }
    return Result(LeftoverFate::Kept);
}

}  // namespace

LeftoverResult CleanLeftover(const std::filesystem::path& temporary) {
    const TemporaryName name = ParseTemporaryName(NativeView(temporary.filename().native()));
    const bool isCopy = name.kind == TemporaryKind::Undo || name.kind == TemporaryKind::Committed ||
                        name.kind == TemporaryKind::LegacyBackup;
    const std::optional<std::uint64_t> index =
        isCopy ? std::optional<std::uint64_t>(name.fileIndex) : std::nullopt;
    if (name.kind == TemporaryKind::None) {
        return Result(LeftoverFate::NotOurs);
    }
    // The earliest version held nothing and named every temporary alike: such a file may be in
    // use by that version, or the only copy of a file's old content.
    if (name.kind == TemporaryKind::Unmarked) {
        return Result(LeftoverFate::Kept);
    }
    const bool isJournal =
        name.kind == TemporaryKind::Journal || name.kind == TemporaryKind::CommittedJournal;
    // A journal that cannot be read now may hold old content of any file of its folder.
    auto blocking = [&](LeftoverFate fate, IoError why) {
        LeftoverResult result = Blocking(fate, index, why);
        if (isJournal) {
            result.blocksFolder = std::move(why);
        }
        return result;
    };
    platform::Held hold = platform::HoldLeftover(temporary);
    platform::TemporaryFile& held = hold.file;
    switch (hold.result) {
        case platform::HoldResult::Held:
            break;
        case platform::HoldResult::NoLocks:
            if (MakerRuns(name, held)) {
                held.file.Close();
                return blocking(LeftoverFate::InUse, Failure::Of(Problem::InUseElsewhere));
            }
            break;
        case platform::HoldResult::InUse:
            return blocking(LeftoverFate::InUse, Failure::Of(Problem::InUseElsewhere));
        case platform::HoldResult::NotOurs:
            return Result(LeftoverFate::NotOurs);
        case platform::HoldResult::Failed:
            return blocking(LeftoverFate::Failed, hold.failure);
    }
    LeftoverResult result = SettleHeld(held, name);
    held.file.Close();
    return result;
}

bool LeftoverGuard::IsSettled(const std::filesystem::path& realPath) const {
    return m_folders.count(realPath.parent_path()) != 0;
}

void LeftoverGuard::Settle(const std::filesystem::path& realPath) {
    const std::filesystem::path folder = realPath.parent_path();
    if (m_folders.count(folder) != 0) {
        return;
    }
    Folder& state = m_folders[folder];
    OpenedFolder opened = PlatformDirectorySource().Open(folder.native());
    if (!opened.listing) {
        state.failure = IoError{opened.description};
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
    if (auto failure = opened.listing->Failure()) {
        // A copy of some file's old content may be among the entries not read.
        state.failure = IoError{std::move(*failure)};
        return;
    }
    opened.listing.reset();
    for (const std::filesystem::path& temporary : found) {
        LeftoverResult result = CleanLeftover(temporary);
        if (result.blocksFolder) {
            state.failure = std::move(result.blocksFolder);
            return;
        }
        for (BlockedFile& blocked : result.blocks) {
            state.files.emplace(blocked.fileIndex, std::move(blocked.why));
        }
    }
}

IoStatus LeftoverGuard::Blocks(const std::filesystem::path& realPath,
                               std::uint64_t fileIndex) const {
    const auto folder = m_folders.find(realPath.parent_path());
    if (folder == m_folders.end()) {
        return std::nullopt;
    }
    if (folder->second.failure) {
        return folder->second.failure;
    }
    const auto file = folder->second.files.find(fileIndex);
    if (file == folder->second.files.end()) {
        return std::nullopt;
    }
    return file->second;
}

void LeftoverGuard::SettleFolderOf(const std::filesystem::path& temporary) {
    const platform::IoResult<std::filesystem::path> real = platform::RealPathOf(temporary);
    if (!real.failure) {
        Settle(real.value);
    }
}

IoStatus CleanLeftoversBeside(const std::filesystem::path& file) {
    const platform::IoResult<std::filesystem::path> real = platform::RealPathOf(file);
    if (real.failure) {
        return real.failure;
    }
    const platform::IoResult<FileId> id = platform::IdentityOf(real.value);
    if (id.failure) {
        return id.failure;
    }
    LeftoverGuard guard;
    guard.Settle(real.value);
    return guard.Blocks(real.value, id.value.index);
}

}  // namespace kestrove
