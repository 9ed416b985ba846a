#include "Leftovers.h"

#include <algorithm>
#include <optional>
#include <utility>
#include <vector>

#include "DirectorySource.h"
#include "Keystream.h"
#include "PathInfo.h"
#include "TemporaryName.h"
#include "TextCodec.h"
#include "UndoRecord.h"
#include "LeftoverParts.h"

// An undo file holds a file's whole old content while the file is rewritten in place, and a record
// of how it is being rewritten (UndoRecord.h). Its name says how far the rewrite got: "undo" until
// the new content is complete and durable, "done" from then on. So the next run knows, for the
// file it belongs to:
//   undo, each byte of the file old or new  -> interrupted: the old content goes back
//   done, the file holds its new content    -> complete: only the copy goes
//   the file holds its old content          -> nothing was changed, or it is back: the copy goes
//   anything else                           -> changed since: nothing is written, both are kept
// An undo file of an earlier version (".old") has no record and was never marked complete: it
// goes only when its file holds exactly its content, and is kept otherwise.

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
        FileId found;
        if (IoStatus failure = platform::IdentityOf(candidate, found)) {
            if (platform::IsNotFound(*failure)) {
                continue;  // gone since it was listed
            }
            return {std::nullopt, failure};
        }
        if (found == id) {
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
        std::size_t got = 0;
        if (IoStatus failure = file.ReadAt(offset, data, size, got)) {
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
using detail::ReadWhole;
using detail::Result;
using platform::IoError;
using platform::IoStatus;
using platform::NativeFile;

constexpr std::size_t kBlock = std::size_t{1} << 20;

IoStatus CopyWhole(NativeFile& from, NativeFile& to, std::uint64_t size) {
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(std::min<std::uint64_t>(size, kBlock)));
    for (std::uint64_t done = 0; done < size;) {
        const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), size - done));
        if (IoStatus failure = ReadWhole(from, done, buffer.data(), want)) {
            return failure;
        }
        if (IoStatus failure = to.WriteAt(done, buffer.data(), want)) {
            return failure;
        }
        done += want;
    }
    return to.Sync();
}

// What the file holds, measured against the copy of its old content.
enum class Content { Old, New, Mixed, Neither };

struct Compared {
    Content content = Content::Neither;
    IoStatus failure;
};

// Byte by byte: each byte of the file equals its old byte, its new byte (the old one transformed
// as the record says), or neither. Without a record only equality with the old content counts.
Compared Compare(NativeFile& file, std::uint64_t fileSize, NativeFile& copy, std::uint64_t length,
                 const std::optional<UndoRecord>& record) {
    if (fileSize != length) {
        return {Content::Neither, std::nullopt};
    }
    std::optional<KeystreamTable> table;
    if (record) {
        table.emplace(record->key);
    }
    const auto block = static_cast<std::size_t>(std::min<std::uint64_t>(length, kBlock));
    std::vector<std::uint8_t> old(block), changed(block), now(block);
    bool allOld = true;
    bool allNew = record.has_value();
    for (std::uint64_t done = 0; done < length;) {
        const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(block, length - done));
        if (IoStatus failure = ReadWhole(copy, done, old.data(), want)) {
            return {Content::Neither, failure};
        }
        if (IoStatus failure = ReadWhole(file, done, now.data(), want)) {
            return {Content::Neither, failure};
        }
        if (table) {
            std::copy_n(old.begin(), want, changed.begin());
            // The byte at file offset j has stream index j + 1.
            table->Apply(record->direction, changed.data(), want, done + 1);
        }
        for (std::size_t i = 0; i < want; ++i) {
            const bool isOld = now[i] == old[i];
            const bool isNew = table && now[i] == changed[i];
            if (!isOld && !isNew) {
                return {Content::Neither, std::nullopt};
            }
            allOld = allOld && isOld;
            allNew = allNew && isNew;
        }
        done += want;
    }
    if (allOld) {
        return {Content::Old, std::nullopt};
    }
    return {allNew ? Content::New : Content::Mixed, std::nullopt};
}

// The record at the end of an undo file, and the length of the old content before it.
std::optional<UndoRecord> ReadRecord(NativeFile& copy, std::uint64_t size, IoStatus& failure) {
    if (size < kUndoRecordSize) {
        return std::nullopt;
    }
    UndoRecordBytes bytes{};
    failure = ReadWhole(copy, size - kUndoRecordSize, bytes.data(), bytes.size());
    if (failure) {
        return std::nullopt;
    }
    std::optional<UndoRecord> record = DecodeUndoRecord(bytes);
    if (record && record->length != size - kUndoRecordSize) {
        return std::nullopt;
    }
    return record;
}

// A held copy of a file's old content, its name parsed.
class HeldCopy {
  public:
    HeldCopy(platform::TemporaryFile& held, const TemporaryName& name) : m_held(held), m_name(name) {}

    LeftoverResult Settle();

  private:
    LeftoverResult Blocked(LeftoverFate fate, IoError why) const {
        return Blocking(fate, m_name.fileIndex, std::move(why));
    }
    LeftoverResult Failed(IoError why) const { return Blocked(LeftoverFate::Failed, std::move(why)); }
    LeftoverResult ChangedSince() const {
        return Blocked(LeftoverFate::Kept, KeptIn(m_held.path, Failure::Of(Problem::ChangedSinceInterrupted)));
    }
    LeftoverResult Remove(LeftoverFate fate) {
        if (IoStatus failure = platform::RemoveTemporary(m_held)) {
            return Failed(*failure);
        }
        // The copy is not needed whichever of its states a crash now brings back.
        (void)platform::SyncFolderOf(m_file);
        return Result(fate);
    }
    LeftoverResult PutBack(std::uint64_t length);

    platform::TemporaryFile& m_held;
    const TemporaryName& m_name;
    std::filesystem::path m_file;
};

LeftoverResult HeldCopy::Settle() {
    platform::FileFacts facts;
    if (IoStatus failure = platform::DescribeFile(m_held.file, facts)) {
        return Failed(*failure);
    }
    std::optional<UndoRecord> record;
    std::uint64_t length = facts.size;
    if (m_name.kind != TemporaryKind::LegacyBackup) {
        IoStatus failure;
        record = ReadRecord(m_held.file, facts.size, failure);
        if (failure) {
            return Failed(*failure);
        }
        if (!record || record->fileIndex != m_name.fileIndex) {
            return Blocked(LeftoverFate::Kept, KeptIn(m_held.path, Failure::Of(Problem::DamagedCopy)));
        }
        length = record->length;
    }
    const Found found = FindFile(m_held.path.parent_path(), {facts.id.device, m_name.fileIndex});
    if (found.failure) {
        return Failed(*found.failure);
    }
    if (!found.path) {
        return Result(LeftoverFate::Kept);  // its file has gone from this folder
    }
    m_file = *found.path;
    platform::TargetFile target;
    if (IoStatus failure = platform::OpenTarget(m_file, target)) {
        return Failed(*failure);
    }
    if (target.fileIndex != m_name.fileIndex) {
        return ChangedSince();  // the name went to another file since it was found
    }
    const Compared compared = Compare(target.file, target.size, m_held.file, length, record);
    target.file.Close();
    if (compared.failure) {
        return Failed(*compared.failure);
    }
    switch (compared.content) {
        case Content::Old:
            return Remove(LeftoverFate::Removed);
        case Content::New:
            if (m_name.kind == TemporaryKind::Committed) {
                return Remove(LeftoverFate::Removed);
            }
            return PutBack(length);
        case Content::Mixed:
            if (m_name.kind == TemporaryKind::Undo) {
                return PutBack(length);
            }
            return ChangedSince();
        case Content::Neither:
            break;
    }
    if (m_name.kind == TemporaryKind::LegacyBackup) {
        return Blocked(LeftoverFate::Kept, KeptIn(m_held.path, Failure::Of(Problem::UnknownProgress)));
    }
    return ChangedSince();
}

LeftoverResult HeldCopy::PutBack(std::uint64_t length) {
    platform::TargetFile target;
    IoStatus failure = platform::OpenTarget(m_file, target);
    if (!failure) {
        failure = platform::OpenTargetForWriting(target);
    }
    if (!failure && (target.fileIndex != m_name.fileIndex || target.size != length)) {
        return ChangedSince();
    }
    if (!failure) {
        failure = CopyWhole(m_held.file, target.file, length);
    }
    if (failure) {
        return Blocked(LeftoverFate::Failed, KeptIn(m_held.path, *failure));
    }
    return Remove(LeftoverFate::Restored);
}

// Whether the process that made a leftover on a file system without locks still runs.
bool MakerRuns(const TemporaryName& name, platform::TemporaryFile& held) {
    std::optional<ProcessStamp> maker = name.owner;
    platform::FileFacts facts;
    if (!maker && (name.kind == TemporaryKind::Undo || name.kind == TemporaryKind::Committed) &&
        !platform::DescribeFile(held.file, facts)) {
        IoStatus failure;
        if (const auto record = ReadRecord(held.file, facts.size, failure)) {
            maker = record->owner;
        }
    }
    // Nobody named: it cannot be told from a live one, so it is treated as one.
    return !maker || platform::LifeOf(*maker) != platform::ProcessLife::Ended;
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
    platform::TemporaryFile held;
    IoError failure;
    switch (platform::HoldLeftover(temporary, held, failure)) {
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
            return blocking(LeftoverFate::Failed, failure);
    }
    if (isJournal) {
        LeftoverResult result = detail::SettleJournal(held, name);
        held.file.Close();
        return result;
    }
    if (!isCopy) {
        // New content that never took its file's place; nothing depends on it.
        const bool removed = !platform::RemoveTemporary(held);
        return Result(removed ? LeftoverFate::Removed : LeftoverFate::Failed);
    }
    LeftoverResult result = HeldCopy(held, name).Settle();
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
    std::filesystem::path real;
    if (!platform::RealPathOf(temporary, real)) {
        Settle(real);
    }
}

IoStatus CleanLeftoversBeside(const std::filesystem::path& file) {
    std::filesystem::path real;
    if (IoStatus failure = platform::RealPathOf(file, real)) {
        return failure;
    }
    FileId id;
    if (IoStatus failure = platform::IdentityOf(real, id)) {
        return failure;
    }
    LeftoverGuard guard;
    guard.Settle(real);
    return guard.Blocks(real, id.index);
}

}  // namespace kestrove
