#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kestrove {

// A running process, told apart from a later one that got the same number: its process id and
// the moment it started, as the system counts it.
struct ProcessStamp {
    std::uint64_t id = 0;
    std::uint64_t start = 0;

    bool operator==(const ProcessStamp&) const = default;
};

// The files we make beside a user's file, by name (R: 12 letters or digits, random):
//   ".kestrove-R.<pid>-<start>.new"  a file's new content on its way in, made by that process;
//                                    also the first form of an undo file, before it is complete
//   ".kestrove-R.<id>.undo"          the complete old content of the file whose index (inode
//                                    number) is id, while that file is rewritten in place; a
//                                    record at its end says how the file was being transformed
//   ".kestrove-R.<id>.done"          the same once the rewrite is complete and durable: no longer
//                                    a copy to put back, only one to remove
//   ".kestrove-R.<pid>-<start>.undo" an undo journal (UndoJournal.h): the old content of several
//                                    small files of the folder, written over in place together
//   ".kestrove-R.<pid>-<start>.done" the same once those writes are complete and durable
//   ".kestrove-R.new"                new content, from a version that named no process
//   ".kestrove-R.<id>.old"           old content of the file with index id, from a version that
//                                    kept no record and never marked a rewrite complete
//   ".kestrove-R.tmp"                either of the two, from a version that told them apart by
//                                    nothing
// All numbers are in lower-case hexadecimal without leading zeros. The folder walker never
// selects any of these.
enum class TemporaryKind {
    None,
    NewContent,
    Undo,
    Committed,
    Journal,
    CommittedJournal,
    LegacyBackup,
    Unmarked,
};

struct TemporaryName {
    TemporaryKind kind = TemporaryKind::None;
    std::uint64_t fileIndex = 0;        // Undo, Committed, LegacyBackup: the file it belongs to
    std::optional<ProcessStamp> owner;  // NewContent, Journal, CommittedJournal: its maker
};

// A fresh name of the NewContent form, naming its maker.
[[nodiscard]] std::string MakeTemporaryName(const ProcessStamp& owner);
// The Undo name for the file with fileIndex, keeping the random part of a NewContent name.
[[nodiscard]] std::string UndoNameOf(std::string_view newContentName, std::uint64_t fileIndex);
// The Journal name of a NewContent name, keeping its random part and maker.
[[nodiscard]] std::string JournalNameOf(std::string_view newContentName);
// The Committed name of an Undo name, or the CommittedJournal name of a Journal name.
[[nodiscard]] std::string CommittedNameOf(std::string_view undoName);

// For names as bytes (POSIX), as UTF-16 text, and as Windows' own wide names.
[[nodiscard]] TemporaryName ParseTemporaryName(std::string_view fileName);
[[nodiscard]] TemporaryName ParseTemporaryName(std::u16string_view fileName);
[[nodiscard]] TemporaryName ParseTemporaryName(std::wstring_view fileName);
[[nodiscard]] bool IsOurTemporaryName(std::string_view fileName);
[[nodiscard]] bool IsOurTemporaryName(std::u16string_view fileName);
[[nodiscard]] bool IsOurTemporaryName(std::wstring_view fileName);

}  // namespace kestrove
