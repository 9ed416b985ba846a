#include "FileTransform.h"

#include <algorithm>
#include <exception>
#include <limits>
#include <new>
#include <utility>
#include <vector>

#include "FileTransformDetail.h"
#include "PlatformFile.h"
#include "TextCodec.h"
#include "UndoRecord.h"

// Two ways to put new content under a path, both streaming one block at a time:
//
// Replace by rename (the usual case). The transformed content goes into a temporary file beside
// the real file, which is synced, given everything of the file but its content, and renamed over
// it; the folder is synced before the file counts as done. At every instant the path holds the
// whole old or the whole new content; a crash leaves at most the temporary file, which the folder
// walker never selects and the next run removes.
//
// Rewrite in place (a file with several hard links, or with an owner or attributes that a new
// file cannot be given). A rename would split the links or lose them, so the file itself is
// rewritten. First its old content, followed by a record of how the file is rewritten, is copied
// to a temporary file beside it, synced, and given the undo name that carries the file's index;
// then each block is transformed over the file, the file is synced, and the undo file is renamed
// to its committed name before it is removed. A failure or a stop copies the old content back
// from the undo file. A crash part-way leaves the undo file, by whose name and record the next
// run over the folder tells an interrupted rewrite from a complete one (Leftovers.h).

namespace kestrove {

namespace detail {

namespace {

using platform::IoError;
using platform::IoStatus;
using platform::NativeFile;
using platform::TargetFile;

constexpr std::uint64_t kToEnd = std::numeric_limits<std::uint64_t>::max();

FileOutcome DoneOutcome() {
    return FileOutcome{FileOutcome::Kind::Done, std::nullopt};
}

FileOutcome StoppedOutcome() {
    return FileOutcome{FileOutcome::Kind::Stopped, std::nullopt};
}

FileOutcome FailedOutcome(const std::filesystem::path& path, const IoError& why,
                          bool contentReplaced = false) {
    return FileOutcome{FileOutcome::Kind::Failed, FileFailure::At(path, why), contentReplaced};
}

enum class StreamEnd { Finished, Failed, Stopped };

struct StreamResult {
    StreamEnd end = StreamEnd::Finished;
    IoError error;
    std::uint64_t done = 0;     // bytes copied completely
    std::uint64_t touched = 0;  // end of what the destination may have received
};

class Transformer {
  public:
    Transformer(const std::filesystem::path& path, Direction direction, std::uint32_t key,
                std::stop_token stop, const TransformSettings& settings)
        : m_path(path),
          m_direction(direction),
          m_table(key),
          m_stop(std::move(stop)),
          m_settings(settings),
          m_leftovers(settings.leftovers != nullptr ? *settings.leftovers : m_ownLeftovers) {}

    // The whole transform of one file, its flush included.
    FileOutcome Run();
    // Opens the file and writes its new content into staged. Alone leaves target open for
    // writing; files of more than aloneFrom bytes are Alone too.
    StageEnd Stage(TargetFile& target, StagedFile& staged, SmallFile* small, FileOutcome& outcome,
                   std::uint64_t aloneFrom);

  private:
    IoStatus OpenSettled(TargetFile& target);
    IoStatus ReadSmall(TargetFile& target, SmallFile& small);
    FileOutcome RewriteInPlace(TargetFile& target);
    IoStatus SaveOldContent(TargetFile& target, StagedFile& undo, StreamResult& saved);
    FileOutcome DropUndo(StagedFile& undo, const TargetFile& target);
    FileOutcome PutBack(TargetFile& target, StagedFile& undo, std::uint64_t touched,
                        const IoStatus& failure);
    StreamResult Stream(NativeFile& from, NativeFile& to, WriteStage stage, std::uint64_t limit);
    IoStatus Write(WriteStage stage, NativeFile& to, std::uint64_t offset, const std::uint8_t* data,
                   std::size_t size);
    FileOutcome Failed(const IoError& error) const { return FailedOutcome(m_path, error); }
    FileOutcome Outcome(const StreamResult& result) const {
        return result.end == StreamEnd::Stopped ? StoppedOutcome() : Failed(result.error);
    }

    const std::filesystem::path& m_path;
    Direction m_direction;
    KeystreamTable m_table;
    std::stop_token m_stop;
    const TransformSettings& m_settings;
    LeftoverGuard m_ownLeftovers;
    LeftoverGuard& m_leftovers;
    std::vector<std::uint8_t> m_buffer;
};

FileOutcome Transformer::Run() {
    TargetFile target;
    StagedFile staged;
    FileOutcome outcome;
    switch (Stage(target, staged, nullptr, outcome, kToEnd)) {
        case StageEnd::Finished:
            return outcome;
        case StageEnd::Again:
        case StageEnd::Small:  // not asked for here
            return DoneOutcome();
        case StageEnd::Alone:
            return RewriteInPlace(target);
        case StageEnd::Staged:
            break;
    }
    if (IoStatus failure = staged.temp.file.Sync()) {
        return Failed(*failure);
    }
    outcome = PlaceStaged(staged, m_stop, m_settings.beforeReplace);
    if (outcome.ok()) {
        // The new content is in place from here on; it is done once the folder says so on disk.
        if (m_settings.folderSyncs != nullptr) {
            m_settings.folderSyncs->Add(staged.realPath);
        } else if (IoStatus failure = platform::SyncFolderOf(staged.realPath)) {
            return FailedOutcome(m_path, *failure, true);
        }
    }
    return outcome;
}

// Finds the file, once the leftovers of an earlier crash in its folder are dealt with; a file
// whose folder could not be searched for them, or whose own copy could not be dealt with, is not
// written. Nothing is opened yet: putting a copy back may need the file to itself.
IoStatus Transformer::OpenSettled(TargetFile& target) {
    if (IoStatus failure = platform::ExamineTarget(m_path, target)) {
        return failure;
    }
    if (!m_leftovers.IsSettled(target.realPath)) {
        m_leftovers.Settle(target.realPath);
        if (IoStatus failure = platform::ExamineTarget(m_path, target)) {
            return failure;
        }
    }
    return m_leftovers.Blocks(target.realPath, target.fileIndex);
}

StageEnd Transformer::Stage(TargetFile& target, StagedFile& staged, SmallFile* small,
                            FileOutcome& outcome, std::uint64_t aloneFrom) {
    auto finished = [&outcome](FileOutcome result) {
        outcome = std::move(result);
        return StageEnd::Finished;
    };
    if (IoStatus failure = OpenSettled(target)) {
        return finished(Failed(*failure));
    }
    if (m_settings.firstTime && !m_settings.firstTime(FileId{target.device, target.fileIndex})) {
        return StageEnd::Again;
    }
    // An empty file is left alone before any write access is asked for, read-only or not.
    if (target.size == 0) {
        return finished(DoneOutcome());
    }
    if (IoStatus failure = platform::OpenTargetForWriting(target)) {
        return finished(Failed(*failure));
    }
    if (small != nullptr && target.size <= m_settings.smallUpTo) {
        if (IoStatus failure = ReadSmall(target, *small)) {
            return finished(Failed(*failure));
        }
        return StageEnd::Small;
    }
    const std::uint64_t blockSize = std::max<std::size_t>(m_settings.blockSize, 1);
    m_buffer.resize(static_cast<std::size_t>(std::min(blockSize, target.size)));
    if (target.linkCount > 1 || target.size > aloneFrom) {
        return StageEnd::Alone;
    }
    if (IoStatus failure = platform::CreateTemporaryBeside(target.realPath, staged.temp)) {
        return finished(Failed(*failure));
    }
    bool ownerKept = false;
    if (IoStatus failure = platform::AdoptOwner(target, staged.temp.file, ownerKept)) {
        return finished(Failed(*failure));
    }
    if (!ownerKept) {
        staged.Discard();
        return StageEnd::Alone;
    }
    const StreamResult streamed =
        Stream(target.file, staged.temp.file, WriteStage::NewContent, kToEnd);
    if (streamed.end != StreamEnd::Finished) {
        return finished(Outcome(streamed));
    }
    if (!platform::CarryMetadata(target, staged.temp)) {
        staged.Discard();
        return StageEnd::Alone;
    }
    target.file.Close();
    staged.path = m_path;
    staged.realPath = target.realPath;
    staged.size = target.size;
    return StageEnd::Staged;
}

// The whole content of a small file and its transform, the file kept open for writing.
IoStatus Transformer::ReadSmall(TargetFile& target, SmallFile& small) {
    small.old.resize(static_cast<std::size_t>(target.size));
    std::size_t done = 0;
    while (done < small.old.size()) {
        std::size_t got = 0;
        if (IoStatus failure =
                target.file.ReadAt(done, small.old.data() + done, small.old.size() - done, got)) {
            return failure;
        }
        if (got == 0) {
            break;  // shorter than it was a moment ago: what is there is what is rewritten
        }
        done += got;
    }
    small.old.resize(done);
    small.fresh = small.old;
    // The byte at file offset j has stream index j + 1.
    m_table.Apply(m_direction, small.fresh.data(), small.fresh.size(), 1);
    small.path = m_path;
    small.target = std::move(target);
    return std::nullopt;
}

FileOutcome Transformer::RewriteInPlace(TargetFile& target) {
    StagedFile undo;  // removed on the way out unless kept
    StreamResult saved;
    if (IoStatus failure = SaveOldContent(target, undo, saved)) {
        return Failed(*failure);
    }
    if (saved.end != StreamEnd::Finished) {
        return Outcome(saved);
    }
    // From here until the copy is committed, it is the one complete copy of the old content.
    const StreamResult rewritten =
        Stream(undo.temp.file, target.file, WriteStage::InPlace, saved.done);
    IoStatus failure;
    if (rewritten.end == StreamEnd::Finished) {
        failure = target.file.Sync();
        if (!failure) {
            failure = platform::MarkCommitted(undo.temp);
        }
        if (!failure) {
            return DropUndo(undo, target);
        }
    } else if (rewritten.end == StreamEnd::Failed) {
        failure = rewritten.error;
    }
    const std::uint64_t touched =
        rewritten.end == StreamEnd::Finished ? saved.done : rewritten.touched;
    return PutBack(target, undo, touched, failure);
}

// The old content and the record after it into a new undo file beside the file, synced, then
// marked as the undo file of this file. A failure returned, or a stop in saved, leaves the file
// untouched.
IoStatus Transformer::SaveOldContent(TargetFile& target, StagedFile& undo, StreamResult& saved) {
    if (IoStatus failure = platform::CreateTemporaryBeside(target.realPath, undo.temp)) {
        return failure;
    }
    saved = Stream(target.file, undo.temp.file, WriteStage::Backup, kToEnd);
    if (saved.end == StreamEnd::Failed) {
        return saved.error;
    }
    if (saved.end == StreamEnd::Stopped) {
        return std::nullopt;
    }
    // What was saved is what is rewritten, whatever the file's length was when it was opened.
    const UndoRecordBytes record = EncodeUndoRecord(
        {m_direction, m_table.key(), saved.done, target.fileIndex, platform::CurrentProcess()});
    if (IoStatus failure =
            Write(WriteStage::Backup, undo.temp.file, saved.done, record.data(), record.size())) {
        return failure;
    }
    if (IoStatus failure = undo.temp.file.Sync()) {
        return failure;
    }
    // Only a complete, synced copy carries the name that tells the next run to put it back.
    return platform::MarkAsUndo(undo.temp, target.fileIndex);
}

// The rewrite is complete and durable and its copy committed: the copy goes. One that cannot be
// removed is said, since a copy of the old content stays beside the file; it is no longer one to
// put back, and the next run removes it.
FileOutcome Transformer::DropUndo(StagedFile& undo, const TargetFile& target) {
    const std::filesystem::path copy = undo.temp.path;
    if (IoStatus failure = platform::RemoveTemporary(undo.temp)) {
        return FailedOutcome(m_path, failure->With(CopyNote::CopyStillAt, copy), true);
    }
    // Whichever of its names a crash brings back, the copy is one to remove.
    (void)platform::SyncFolderOf(target.realPath);
    return DoneOutcome();
}

// Copies the old content back over the part of the file that may have changed. failure is why the
// rewrite ended; none means it was stopped.
FileOutcome Transformer::PutBack(TargetFile& target, StagedFile& undo, std::uint64_t touched,
                                 const IoStatus& failure) {
    const StreamResult restored = Stream(undo.temp.file, target.file, WriteStage::Restore, touched);
    IoStatus restoreFailure =
        restored.end == StreamEnd::Failed ? IoStatus(restored.error) : target.file.Sync();
    if (restoreFailure) {
        // The undo file is now the only full copy of the old content: it stays, for the next run
        // over its folder to put back, and the text says where it is.
        const IoError reason = (failure ? *failure : *restoreFailure)
                                   .With(CopyNote::OldContentKeptIn, undo.temp.path);
        undo.temp.path.clear();
        return Failed(reason);
    }
    return failure ? Failed(*failure) : StoppedOutcome();
}

StreamResult Transformer::Stream(NativeFile& from, NativeFile& to, WriteStage stage,
                                 std::uint64_t limit) {
    const bool transform = stage == WriteStage::NewContent || stage == WriteStage::InPlace;
    const bool stoppable = stage != WriteStage::Restore;
    StreamResult result;
    while (result.done < limit) {
        if (stoppable && m_stop.stop_requested()) {
            result.end = StreamEnd::Stopped;
            return result;
        }
        const auto want =
            static_cast<std::size_t>(std::min<std::uint64_t>(m_buffer.size(), limit - result.done));
        std::size_t got = 0;
        if (IoStatus failure = from.ReadAt(result.done, m_buffer.data(), want, got)) {
            result.end = StreamEnd::Failed;
            result.error = std::move(*failure);
            return result;
        }
        if (got == 0) {
            break;
        }
        if (transform) {
            // The byte at file offset j has stream index j + 1.
            m_table.Apply(m_direction, m_buffer.data(), got, result.done + 1);
        }
        result.touched = result.done + got;
        if (IoStatus failure = Write(stage, to, result.done, m_buffer.data(), got)) {
            result.end = StreamEnd::Failed;
            result.error = std::move(*failure);
            return result;
        }
        result.done += got;
    }
    return result;
}

IoStatus Transformer::Write(WriteStage stage, NativeFile& to, std::uint64_t offset,
                            const std::uint8_t* data, std::size_t size) {
    if (m_settings.beforeWrite) {
        if (IoStatus failure = m_settings.beforeWrite(stage, offset)) {
            return failure;
        }
    }
    return to.WriteAt(offset, data, size);
}

}  // namespace

StagedFile::StagedFile(StagedFile&& other) noexcept
    : temp{std::move(other.temp.file), std::exchange(other.temp.path, {})},
      path(std::exchange(other.path, {})),
      realPath(std::exchange(other.realPath, {})),
      size(other.size) {}

StagedFile& StagedFile::operator=(StagedFile&& other) noexcept {
    if (this != &other) {
        Discard();
        temp.file = std::move(other.temp.file);
        temp.path = std::exchange(other.temp.path, {});
        path = std::exchange(other.path, {});
        realPath = std::exchange(other.realPath, {});
        size = other.size;
    }
    return *this;
}

void StagedFile::Discard() {
    // Removed while still held, so that no other copy of the program ever sees it unheld. One
    // that cannot be removed is a leftover like any other, removed by the next run.
    (void)platform::RemoveTemporary(temp);
}

StageEnd StageFile(const std::filesystem::path& path, Direction direction, std::int32_t cipherKey,
                   std::stop_token stop, const TransformSettings& settings, std::uint64_t aloneFrom,
                   StagedFile& staged, SmallFile& small, FileOutcome& outcome) {
    if (cipherKey < kMinCipherKey || cipherKey > kMaxCipherKey) {
        outcome = FailedOutcome(path, Failure::Of(Problem::InvalidKey));
        return StageEnd::Finished;
    }
    try {
        Transformer transformer(path, direction, static_cast<std::uint32_t>(cipherKey),
                                std::move(stop), settings);
        TargetFile target;
        return transformer.Stage(target, staged, &small, outcome, aloneFrom);
    } catch (const std::bad_alloc&) {
        outcome = FailedOutcome(path, Failure::Of(Problem::OutOfMemory));
    } catch (const std::exception& error) {
        outcome = FailedOutcome(path, IoError{Utf8ToUtf16(error.what())});
    }
    staged.Discard();
    return StageEnd::Finished;
}

FileOutcome PlaceStaged(StagedFile& staged, const std::stop_token& stop,
                        const std::function<IoStatus()>& beforeReplace, NativeFile* replaced) {
    // The last moment at which a stop still keeps the old content.
    if (stop.stop_requested()) {
        staged.Discard();
        return StoppedOutcome();
    }
    IoStatus failure = beforeReplace ? beforeReplace() : std::nullopt;
    if (!failure) {
        failure = platform::ReplaceWithTemporary(staged.temp, staged.realPath, replaced);
    }
    if (failure) {
        staged.Discard();
        return FailedOutcome(staged.path, *failure);
    }
    staged.temp.file.Close();
    return DoneOutcome();
}

FileOutcome TransformFileWith(const std::filesystem::path& path, Direction direction,
                              std::int32_t cipherKey, std::stop_token stop,
                              const TransformSettings& settings) {
    // Checked before the file is touched: a key of 0 would divide by zero.
    if (cipherKey < kMinCipherKey || cipherKey > kMaxCipherKey) {
        return FailedOutcome(path, Failure::Of(Problem::InvalidKey));
    }
    try {
        Transformer transformer(path, direction, static_cast<std::uint32_t>(cipherKey),
                                std::move(stop), settings);
        return transformer.Run();
    } catch (const std::bad_alloc&) {
        return FailedOutcome(path, Failure::Of(Problem::OutOfMemory));
    } catch (const std::exception& error) {
        return FailedOutcome(path, IoError{Utf8ToUtf16(error.what())});
    }
}

}  // namespace detail

FolderSyncBatch::FolderSyncBatch(SyncFolder syncFolder) : m_syncFolder(std::move(syncFolder)) {
    if (!m_syncFolder) {
        // SyncFolderOf syncs the folder that holds the path it is given.
        // For runs that measure: the program's own runs say done only once synced.
        m_syncFolder = [](const std::filesystem::path& folder) {
            (void)platform::SyncFolderOf(folder / ".");
        };
    }
}

void FolderSyncBatch::Add(const std::filesystem::path& file) {
    std::filesystem::path folder = file.parent_path();
    if (folder != m_pendingFolder) {
        Flush();
        m_pendingFolder = std::move(folder);
    }
}

void FolderSyncBatch::Flush() {
    if (m_pendingFolder) {
        m_syncFolder(*m_pendingFolder);
        m_pendingFolder.reset();
    }
}

FileOutcome EncryptFile(const std::filesystem::path& path, std::int32_t cipherKey,
                        std::stop_token stop, FolderSyncBatch* folderSyncs) {
    return TransformFile(path, Direction::Encrypt, cipherKey, std::move(stop), folderSyncs);
}

FileOutcome DecryptFile(const std::filesystem::path& path, std::int32_t cipherKey,
                        std::stop_token stop, FolderSyncBatch* folderSyncs) {
    return TransformFile(path, Direction::Decrypt, cipherKey, std::move(stop), folderSyncs);
}

FileOutcome TransformFile(const std::filesystem::path& path, Direction direction,
                          std::int32_t cipherKey, std::stop_token stop,
                          FolderSyncBatch* folderSyncs) {
    detail::TransformSettings settings;
    settings.folderSyncs = folderSyncs;
    return detail::TransformFileWith(path, direction, cipherKey, std::move(stop), settings);
}

}  // namespace kestrove
