#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "Keystream.h"
#include "TemporaryName.h"

namespace kestrove {

// The record at the end of an undo file (TemporaryName.h), after the file's complete old content:
// how that file is being rewritten. With it the next run can tell, from the file's content alone,
// a rewrite that was interrupted (each byte old or new: put the old content back) from a file
// that was changed afterwards (some byte neither: touch nothing), and knows who made the undo
// file where the file system has no locks.
struct UndoRecord {
    Direction direction = Direction::Encrypt;
    std::uint32_t key = 0;
    std::uint64_t length = 0;     // bytes of old content before the record
    std::uint64_t fileIndex = 0;  // the file it belongs to, as in its name
    ProcessStamp owner;

    bool operator==(const UndoRecord&) const = default;
};

inline constexpr std::size_t kUndoRecordSize = 64;
using UndoRecordBytes = std::array<std::uint8_t, kUndoRecordSize>;

[[nodiscard]] UndoRecordBytes EncodeUndoRecord(const UndoRecord& record);
// Empty when the bytes are not a record of ours, or one damaged.
[[nodiscard]] std::optional<UndoRecord> DecodeUndoRecord(const UndoRecordBytes& bytes);

}  // namespace kestrove
