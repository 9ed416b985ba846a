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
#include "Transformer.h"

// A file's new content goes under its path one of two ways, both streaming one block at a time:
// replaced by a rename (here, the usual case), or rewritten in place (RewriteInPlace.cpp). For a
// rename the transformed content goes into a temporary file beside the real file, which is synced,
// given everything of the file but its content, and renamed over it; the folder is synced before
// the file counts as done. At every instant the path holds the whole old or the whole new content;
// a crash leaves at most the temporary file, which the folder walker never selects and the next run
// removes.

namespace kestrove {

namespace detail {

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
        IoResult<SmallFile> read = ReadSmall(target);
        if (read.failure) {
            return finished(Failed(*read.failure));
        }
        *small = std::move(read.value);
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
    const auto [adoptFailure, ownerKept] = platform::AdoptOwner(target, staged.temp.file);
    if (adoptFailure) {
        return finished(Failed(*adoptFailure));
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
IoResult<SmallFile> Transformer::ReadSmall(TargetFile& target) {
    SmallFile small;
    small.old.resize(static_cast<std::size_t>(target.size));
    std::size_t done = 0;
    while (done < small.old.size()) {
        const auto [failure, got] =
            target.file.ReadAt(done, small.old.data() + done, small.old.size() - done);
        if (failure) {
            return {failure};
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
    return {std::nullopt, std::move(small)};
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
        const auto [failure, got] = from.ReadAt(result.done, m_buffer.data(), want);
        if (failure) {
            result.end = StreamEnd::Failed;
            result.error = *failure;
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

Staging StageFile(const std::filesystem::path& path, Direction direction, std::int32_t cipherKey,
                  std::stop_token stop, const TransformSettings& settings,
                  std::uint64_t aloneFrom) {
    Staging staging;
    if (cipherKey < kMinCipherKey || cipherKey > kMaxCipherKey) {
        staging.outcome = FailedOutcome(path, Failure::Of(Problem::InvalidKey));
        return staging;
    }
    try {
        Transformer transformer(path, direction, static_cast<std::uint32_t>(cipherKey),
                                std::move(stop), settings);
        TargetFile target;
        staging.end =
            transformer.Stage(target, staging.staged, &staging.small, staging.outcome, aloneFrom);
        return staging;
    } catch (const std::bad_alloc&) {
        staging.outcome = FailedOutcome(path, Failure::Of(Problem::OutOfMemory));
    } catch (const std::exception& error) {
        staging.outcome = FailedOutcome(path, IoError{Utf8ToUtf16(error.what())});
    }
    staging.staged.Discard();
    staging.end = StageEnd::Finished;
    return staging;
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
