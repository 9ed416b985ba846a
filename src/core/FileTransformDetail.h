#pragma once

// Internal to kestrove_core, its tests and benchmarks: the whole-file transform with the seams that
// let a test cross block boundaries cheaply and fail a write or the final rename on purpose.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <stop_token>

#include "FileTransform.h"
#include "PlatformFile.h"

namespace kestrove::detail {

// Memory use per transform is one block, whatever the size of the file.
inline constexpr std::size_t kDefaultBlockSize = std::size_t{1} << 20;

// Which write is about to happen.
enum class WriteStage {
    NewContent,  // transformed content into the temporary file that will replace the file
    Backup,      // old content into the backup kept beside a file rewritten in place
    InPlace,     // transformed content over the file itself (several hard links, foreign owner)
    Restore,     // old content from the backup back over the file, after a failure or a stop
};

struct TransformSettings {
    std::size_t blockSize = kDefaultBlockSize;
    // Runs before every block is written; an error returned counts as that write failing.
    std::function<platform::IoStatus(WriteStage stage, std::uint64_t offset)> beforeWrite;
    // Runs before the temporary file takes the file's place; an error counts as a refused rename.
    std::function<platform::IoStatus()> beforeReplace;
    // Where the folder sync after a replacement goes; none syncs it at once.
    FolderSyncBatch* folderSyncs = nullptr;
};

[[nodiscard]] FileOutcome TransformFileWith(const std::filesystem::path& path, Direction direction,
                                            std::int32_t cipherKey, std::stop_token stop,
                                            const TransformSettings& settings);

}  // namespace kestrove::detail
