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

namespace kestrove::detail {

namespace {

using platform::IoError;
using platform::IoStatus;
using platform::NativeFile;

constexpr std::size_t kBlock = std::size_t{1} << 20;

IoStatus CopyWhole(NativeFile& from, NativeFile& to, std::uint64_t size) {
    std::vector<std::uint8_t> buffer(
        static_cast<std::size_t>(std::min<std::uint64_t>(size, kBlock)));
    for (std::uint64_t done = 0; done < size;) {
        const auto want =
            static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), size - done));
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

}  // namespace

platform::IoResult<std::optional<UndoRecord>> ReadRecord(NativeFile& copy, std::uint64_t size) {
    if (size < kUndoRecordSize) {
        return {};
    }
    UndoRecordBytes bytes{};
    if (IoStatus failure = ReadWhole(copy, size - kUndoRecordSize, bytes.data(), bytes.size())) {
        return {std::move(failure)};
    }
    std::optional<UndoRecord> record = DecodeUndoRecord(bytes);
    if (record && record->length != size - kUndoRecordSize) {
        return {};
    }
    return {std::nullopt, record};
}

namespace {

// A held copy of a file's old content, its name parsed.
class HeldCopy {
  public:
    HeldCopy(platform::TemporaryFile& held, const TemporaryName& name)
        : m_held(held), m_name(name) {}

    LeftoverResult Settle();

  private:
    LeftoverResult Blocked(LeftoverFate fate, IoError why) const {
        return Blocking(fate, m_name.fileIndex, std::move(why));
    }
    LeftoverResult Failed(IoError why) const {
        return Blocked(LeftoverFate::Failed, std::move(why));
    }
    LeftoverResult ChangedSince() const {
        return Blocked(LeftoverFate::Kept,
                       KeptIn(m_held.path, Failure::Of(Problem::ChangedSinceInterrupted)));
    }
    LeftoverResult Remove(LeftoverFate fate) {
        if (IoStatus failure = platform::RemoveTemporary(m_held)) {
            return Failed(*failure);
        }
        // The copy is not needed whichever of its states a crash now brings back.
        (void)platform::SyncFolderOf(m_file);
        return Result(fate);
    }
    LeftoverResult Decide(Content content, std::uint64_t length);
    LeftoverResult PutBack(std::uint64_t length);

    platform::TemporaryFile& m_held;
    const TemporaryName& m_name;
    std::filesystem::path m_file;
};

LeftoverResult HeldCopy::Settle() {
    const auto [described, facts] = platform::DescribeFile(m_held.file);
    if (described) {
        return Failed(*described);
    }
    std::optional<UndoRecord> record;
    std::uint64_t length = facts.size;
    if (m_name.kind != TemporaryKind::LegacyBackup) {
        auto read = ReadRecord(m_held.file, facts.size);
        if (read.failure) {
            return Failed(*read.failure);
        }
        record = read.value;
        if (!record || record->fileIndex != m_name.fileIndex) {
            return Blocked(LeftoverFate::Kept,
                           KeptIn(m_held.path, Failure::Of(Problem::DamagedCopy)));
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
    return Decide(compared.content, length);
}

// What a copy's file holding content tells: which one goes, or that both stay.
LeftoverResult HeldCopy::Decide(Content content, std::uint64_t length) {
    switch (content) {
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
        return Blocked(LeftoverFate::Kept,
                       KeptIn(m_held.path, Failure::Of(Problem::UnknownProgress)));
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

}  // namespace

LeftoverResult SettleUndoFile(platform::TemporaryFile& held, const TemporaryName& name) {
    return HeldCopy(held, name).Settle();
}

}  // namespace kestrove::detail
