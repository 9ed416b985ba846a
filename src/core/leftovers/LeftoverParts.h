#pragma once

// Internal to kestrove_core: what dealing with undo files and with journals shares.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "Leftovers.h"
#include "PlatformFile.h"
#include "TemporaryName.h"
#include "UndoRecord.h"

namespace kestrove::detail {

[[nodiscard]] LeftoverResult Result(LeftoverFate fate);
// A leftover that keeps the file it belongs to from being written (when it belongs to one).
[[nodiscard]] LeftoverResult Blocking(LeftoverFate fate, std::optional<std::uint64_t> index,
                                      platform::IoError why);
// Why, and where the old content of a file is kept.
[[nodiscard]] platform::IoError KeptIn(const std::filesystem::path& copy, platform::IoError why);

struct Found {
    std::optional<std::filesystem::path> path;
    platform::IoStatus failure;
};
// The file in folder with the given identity, found by its index since its name is not known.
[[nodiscard]] Found FindFile(const std::filesystem::path& folder, FileId id);

// Exactly size bytes at offset; a file shorter than that is a failure.
[[nodiscard]] platform::IoStatus ReadWhole(platform::NativeFile& file, std::uint64_t offset,
                                           std::uint8_t* data, std::size_t size);

// The record at the end of an undo file of size bytes; none when it holds none of ours.
[[nodiscard]] platform::IoResult<std::optional<UndoRecord>> ReadRecord(platform::NativeFile& copy,
                                                                       std::uint64_t size);

// An undo file of one file found among the leftovers (UndoRecord.h), held.
[[nodiscard]] LeftoverResult SettleUndoFile(platform::TemporaryFile& held,
                                            const TemporaryName& name);

// An undo journal found among the leftovers (UndoJournal.h), held.
[[nodiscard]] LeftoverResult SettleJournal(platform::TemporaryFile& held,
                                           const TemporaryName& name);

}  // namespace kestrove::detail
