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

// Two ways to put new content under a path, both streaming one block at a time:
//
// Replace by rename (the usual case). The transformed content goes into a temporary file beside
// the real file, which is synced, given the file's owner and permission bits, and renamed over
// it. At every instant the path holds the whole old or the whole new content; a crash leaves at
// most the temporary file, which the folder walker never selects and the next run removes.
//
// Rewrite in place (a file with several hard links, or one whose owner this process cannot give
// to a new file). A rename would split the links or change the owner, so the file itself is
// rewritten. First its old content is copied to a temporary file beside it, synced, and renamed to
// a backup name that carries the file's index; then each block is transformed over the file; the
// backup goes once the file is synced. A failure or a stop copies the old content back from the
// backup. A crash part-way leaves the backup, the full old content, which the next run over the
// folder puts back (Leftovers.h).

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

FileOutcome FailedOutcome(const std::filesystem::path& path, std::u16string description) {
    return FileOutcome{FileOutcome::Kind::Failed, FileFailure{path, std::move(description)}};
}

// A temporary file of ours, removed when it goes out of scope unless released.
class OwnedTemporary {
  public:
    OwnedTemporary() = default;
    OwnedTemporary(const OwnedTemporary&) = delete;
    OwnedTemporary& operator=(const OwnedTemporary&) = delete;
    ~OwnedTemporary() { Discard(); }

    platform::TemporaryFile& get() { return m_temp; }
    NativeFile& file() { return m_temp.file; }

    // Removed while still held, so that no other copy of the program ever sees it unheld.
    void Discard() {
        if (m_released) {
            m_temp.file.Close();
        } else {
            platform::RemoveTemporary(m_temp);
        }
    }

    // The file stays: kept as the only full copy of the old content, for the next run over its
    // folder to put back.
    void Release() { m_released = true; }

  private:
    platform::TemporaryFile m_temp;
    bool m_released = false;
};

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
          m_settings(settings) {}

    FileOutcome Run();

  private:
    FileOutcome ReplaceByRename(TargetFile& target, OwnedTemporary& temp);
    FileOutcome RewriteInPlace(TargetFile& target);
    FileOutcome PutBack(TargetFile& target, OwnedTemporary& backup, std::uint64_t touched,
                        const IoStatus& failure);
    StreamResult Stream(NativeFile& from, NativeFile& to, WriteStage stage, std::uint64_t limit);
    IoStatus Write(WriteStage stage, NativeFile& to, std::uint64_t offset, const std::uint8_t* data,
                   std::size_t size);
    FileOutcome Failed(const IoError& error) const {
        return FailedOutcome(m_path, error.description);
    }
    FileOutcome Outcome(const StreamResult& result) const {
        return result.end == StreamEnd::Stopped ? StoppedOutcome() : Failed(result.error);
    }

    const std::filesystem::path& m_path;
    Direction m_direction;
    KeystreamTable m_table;
    std::stop_token m_stop;
    const TransformSettings& m_settings;
    std::vector<std::uint8_t> m_buffer;
};

FileOutcome Transformer::Run() {
    TargetFile target;
    if (IoStatus failure = platform::OpenTarget(m_path, target)) {
        return Failed(*failure);
    }
    // An empty file is left alone before any write access is asked for, read-only or not.
    if (target.size == 0) {
        return DoneOutcome();
    }
    if (IoStatus failure = platform::OpenTargetForWriting(target)) {
        return Failed(*failure);
    }
    const std::uint64_t blockSize = std::max<std::size_t>(m_settings.blockSize, 1);
    m_buffer.resize(static_cast<std::size_t>(std::min(blockSize, target.size)));
    if (target.linkCount > 1) {
        return RewriteInPlace(target);
    }
    OwnedTemporary temp;
    if (IoStatus failure = platform::CreateTemporaryBeside(target.realPath, temp.get())) {
        return Failed(*failure);
    }
    bool ownerKept = false;
    if (IoStatus failure = platform::AdoptOwner(target, temp.file(), ownerKept)) {
        return Failed(*failure);
    }
    if (!ownerKept) {
        temp.Discard();
        return RewriteInPlace(target);
    }
    return ReplaceByRename(target, temp);
}

FileOutcome Transformer::ReplaceByRename(TargetFile& target, OwnedTemporary& temp) {
    const StreamResult streamed = Stream(target.file, temp.file(), WriteStage::NewContent, kToEnd);
    if (streamed.end != StreamEnd::Finished) {
        return Outcome(streamed);
    }
    if (IoStatus failure = platform::AdoptMode(target, temp.file())) {
        return Failed(*failure);
    }
    if (IoStatus failure = temp.file().Sync()) {
        return Failed(*failure);
    }
    // The temporary file stays held until it has taken the file's place.
    target.file.Close();
    // The last moment at which a stop still keeps the old content.
    if (m_stop.stop_requested()) {
        return StoppedOutcome();
    }
    if (m_settings.beforeReplace) {
        if (IoStatus failure = m_settings.beforeReplace()) {
            return Failed(*failure);
        }
    }
    if (IoStatus failure = platform::ReplaceWithTemporary(temp.get(), target.realPath)) {
        return Failed(*failure);
    }
    temp.file().Close();
    // The new content is in place from here on, whenever the folder is synced.
    if (m_settings.folderSyncs != nullptr) {
        m_settings.folderSyncs->Add(target.realPath);
    } else {
        platform::SyncFolderOf(target.realPath);
    }
    return DoneOutcome();
}

FileOutcome Transformer::RewriteInPlace(TargetFile& target) {
    OwnedTemporary backup;
    if (IoStatus failure = platform::CreateTemporaryBeside(target.realPath, backup.get())) {
        return Failed(*failure);
    }
    const StreamResult saved = Stream(target.file, backup.file(), WriteStage::Backup, kToEnd);
    if (saved.end != StreamEnd::Finished) {
        return Outcome(saved);
    }
    if (IoStatus failure = backup.file().Sync()) {
        return Failed(*failure);
    }
    // Only a complete, synced copy carries the name that tells the next run to put it back.
    if (IoStatus failure = platform::MarkAsBackup(backup.get(), target.fileIndex)) {
        return Failed(*failure);
    }
    // From here until the file is synced, the backup is the one complete copy of the old content.
    const StreamResult rewritten =
        Stream(backup.file(), target.file, WriteStage::InPlace, saved.done);
    IoStatus failure;
    if (rewritten.end == StreamEnd::Finished) {
        failure = target.file.Sync();
        if (!failure) {
            backup.Discard();
            platform::SyncFolderOf(target.realPath);
            return DoneOutcome();
        }
    } else if (rewritten.end == StreamEnd::Failed) {
        failure = rewritten.error;
    }
    const std::uint64_t touched =
        rewritten.end == StreamEnd::Finished ? saved.done : rewritten.touched;
    return PutBack(target, backup, touched, failure);
}

// Copies the old content back over the part of the file that may have changed. failure is why the
// rewrite ended; none means it was stopped.
FileOutcome Transformer::PutBack(TargetFile& target, OwnedTemporary& backup, std::uint64_t touched,
                                 const IoStatus& failure) {
    const StreamResult restored = Stream(backup.file(), target.file, WriteStage::Restore, touched);
    IoStatus restoreFailure =
        restored.end == StreamEnd::Failed ? IoStatus(restored.error) : target.file.Sync();
    if (restoreFailure) {
        // The backup is now the only full copy of the old content: keep it and say where it is.
        backup.Release();
        IoError reason = failure ? *failure : *restoreFailure;
        reason.description += u"（原内容保存在 " + PathText(backup.get().path) + u"）";
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

FileOutcome TransformFileWith(const std::filesystem::path& path, Direction direction,
                              std::int32_t cipherKey, std::stop_token stop,
                              const TransformSettings& settings) {
    // Checked before the file is touched: a key of 0 would divide by zero.
    if (cipherKey < kMinCipherKey || cipherKey > kMaxCipherKey) {
        return FailedOutcome(path, u"密钥无效");
    }
    try {
        Transformer transformer(path, direction, static_cast<std::uint32_t>(cipherKey),
                                std::move(stop), settings);
        return transformer.Run();
    } catch (const std::bad_alloc&) {
        return FailedOutcome(path, u"内存不足");
    } catch (const std::exception& error) {
        return FailedOutcome(path, Utf8ToUtf16(error.what()));
    }
}

}  // namespace detail

FolderSyncBatch::FolderSyncBatch(SyncFolder syncFolder) : m_syncFolder(std::move(syncFolder)) {
    if (!m_syncFolder) {
        // SyncFolderOf syncs the folder that holds the path it is given.
        m_syncFolder = [](const std::filesystem::path& folder) {
            platform::SyncFolderOf(folder / ".");
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
