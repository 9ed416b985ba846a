#pragma once

// Internal to kestrove_core, its tests and benchmarks: the seams of BatchedTransform, which let a
// test fail a flush or a rename on purpose and a benchmark try other batch sizes.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <vector>

#include "BatchedTransform.h"
#include "FileTransformDetail.h"
#include "PlatformFile.h"

namespace kestrove::detail {

struct BatchSettings {
    BatchLimits limits;
    // Files of at most this many bytes are written over in place under a journal; 0: none.
    std::uint64_t smallUpTo = kSmallFileBytes;
    TransformSettings transform;  // for every file; its folderSyncs is not used
    unsigned flushThreads = 32;   // how many flushes are in flight at once
    // Runs before a staged file is renamed into place; an error counts as a refused rename.
    std::function<platform::IoStatus(const std::filesystem::path& path)> beforePlace;
    // Instead of flushing each file: results[i] is what flushing files[i] gave.
    std::function<void(const std::vector<platform::NativeFile*>& files,
                       std::vector<platform::IoStatus>& results)>
        flush;
    // Told the size of each batch as it is committed.
    std::function<void(std::size_t files, std::uint64_t bytes)> onCommit;
};

}  // namespace kestrove::detail
