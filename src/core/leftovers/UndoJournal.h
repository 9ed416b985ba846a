#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "DirectorySource.h"
#include "Keystream.h"
#include "TemporaryName.h"

namespace kestrove {

// An undo journal (TemporaryName.h): the old content of several small files of one folder, which
// a batch then writes over in place; at its end a record of how they are rewritten. Like an undo
// file, it lets the next run tell, from each file's content, an interrupted write (each byte old
// or new: the old content goes back) from a complete one and from a file changed since.
struct JournalEntry {
    std::uint64_t fileIndex = 0;
    NativeString name;  // the file's name in the folder, where it was met
    std::vector<std::uint8_t> old;

    bool operator==(const JournalEntry&) const = default;
};

struct JournalRecord {
    Direction direction = Direction::Encrypt;
    std::uint32_t key = 0;
    ProcessStamp owner;
};

// The whole journal: the entries one after another, then the record, which holds a check over
// the entries, so that a journal cut short by a crash is known as one.
[[nodiscard]] std::vector<std::uint8_t> EncodeJournal(const JournalRecord& record,
                                                      const std::vector<JournalEntry>& entries);

struct DecodedJournal {
    JournalRecord record;
    std::vector<JournalEntry> entries;
};

// Empty when the bytes are not a complete journal of ours.
[[nodiscard]] std::optional<DecodedJournal> DecodeJournal(const std::vector<std::uint8_t>& bytes);

// The largest journal a run writes: a batch's bytes of small files, and their names.
inline constexpr std::uint64_t kMostJournalBytes = std::uint64_t{64} << 20;

}  // namespace kestrove
