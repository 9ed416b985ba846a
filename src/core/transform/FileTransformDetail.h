#pragma once

// Internal to kestrove_core, its tests and benchmarks: the whole-file transform with the seams that
// let a test cross block boundaries cheaply and fail a write or the final rename on purpose.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <stop_token>
#include <vector>

#include "FileTransform.h"
#include "Leftovers.h"
#include "PlatformFile.h"

namespace kestrove::detail {

// Memory use per transform is one block, whatever the size of the file.
inline constexpr std::size_t kDefaultBlockSize = std::size_t{1} << 20;

// Which write is about to happen.
enum class WriteStage {
    NewContent,  // transformed content into the temporary file that will replace the file
    Backup,      // old content into the undo file kept beside a file rewritten in place
    InPlace,     // transformed content over the file itself (extras a new file cannot carry)
    Restore,     // old content from the undo file back over the file, after a failure or a stop
};

struct TransformSettings {
    std::size_t blockSize = kDefaultBlockSize;
    // Runs before every block is written; an error returned counts as that write failing.
    std::function<platform::IoStatus(WriteStage stage, std::uint64_t offset)> beforeWrite;
    // Runs before the temporary file takes the file's place; an error counts as a refused rename.
    std::function<platform::IoStatus()> beforeReplace;
    // Where the folder sync after a replacement goes; none syncs it at once.
    FolderSyncBatch* folderSyncs = nullptr;
    // The run's record of folders whose leftovers are dealt with; none keeps one per call.
    LeftoverGuard* leftovers = nullptr;
    // Asked once a file is open whether this run meets the real file for the first time; false
    // ends its staging with Again. None: every file is new.
    std::function<bool(const FileId& file)> firstTime;
    // Files of at most this many bytes are staged Small; 0: none is.
    std::uint64_t smallUpTo = 0;
};

// The largest file that is written over in place with one write, which a crash of the process
// cannot cut in two: one page of memory.
inline constexpr std::uint64_t kSmallFileBytes = 4096;

// A small file's old and new content in memory, the file held open for writing: a batch writes
// the new content over the file itself, in one write, once a journal of the old content is on the
// disk (UndoJournal.h).
struct SmallFile {
    platform::TargetFile target;
    std::filesystem::path path;  // as given, for messages
    std::vector<std::uint8_t> old;
    std::vector<std::uint8_t> fresh;
    bool written = false;  // its new content was written over it
    // Once its round is settled: the failure, if any, and whether its new content stayed.
    platform::IoStatus failure;
    bool contentReplaced = false;
};

// A file's new content, complete in a held temporary file beside it but neither flushed nor in
// place yet. The temporary file is removed when this goes without having been placed.
struct StagedFile {
    StagedFile() = default;
    StagedFile(StagedFile&& other) noexcept;
    StagedFile& operator=(StagedFile&& other) noexcept;
    StagedFile(const StagedFile&) = delete;
    StagedFile& operator=(const StagedFile&) = delete;
    ~StagedFile() { Discard(); }
    void Discard();

    platform::TemporaryFile temp;
    std::filesystem::path path;      // as given, for messages
    std::filesystem::path realPath;  // links resolved: where the new content goes
    std::uint64_t size = 0;
};

enum class StageEnd {
    Staged,    // staged holds the new content
    Finished,  // nothing more to do: an empty file, a failure or a stop (see the outcome)
    Alone,     // the file must go through TransformFileWith on its own: it has several names, or
               // extras that a new file cannot be given, or more than aloneFrom bytes
    Again,     // the run met this real file before, under this or another path: nothing done
    Small,     // small holds the file's old and new content, the file open for writing
};

// What staging a file came to: staged holds it for Staged, small for Small, outcome says what
// became of it for Finished.
struct Staging {
    StageEnd end = StageEnd::Finished;
    StagedFile staged;
    SmallFile small;
    FileOutcome outcome;
};

// Writes the new content of path into a held temporary file beside it, without flushing it; or,
// for a small file, reads its old content and works out its new one.
[[nodiscard]] Staging StageFile(const std::filesystem::path& path, Direction direction,
                                std::int32_t cipherKey, std::stop_token stop,
                                const TransformSettings& settings, std::uint64_t aloneFrom);

// Puts a staged file, whose content the caller has flushed, in its file's place; Stopped when a
// stop is requested first, Failed when the rename is refused. Its temporary file is gone after.
// replaced as for platform::ReplaceWithTemporary.
[[nodiscard]] FileOutcome PlaceStaged(StagedFile& staged, const std::stop_token& stop,
                                      const std::function<platform::IoStatus()>& beforeReplace,
                                      platform::NativeFile* replaced = nullptr);

[[nodiscard]] FileOutcome TransformFileWith(const std::filesystem::path& path, Direction direction,
                                            std::int32_t cipherKey, std::stop_token stop,
                                            const TransformSettings& settings);

}  // namespace kestrove::detail
