#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kestrove {

// The files we make beside a user's file, by name:
//   ".kestrove-<12 letters or digits>.new"             the file's new content, on its way in
//   ".kestrove-<12 letters or digits>.<id in hex>.old" the old content of the file whose index
//                                                      (inode number) is id, kept while that
//                                                      file is rewritten in place
//   ".kestrove-<12 letters or digits>.tmp"             either of the two, left by an earlier
//                                                      version that did not tell them apart
// The folder walker never selects any of them.
enum class TemporaryKind { None, NewContent, Backup, Unmarked };

struct TemporaryName {
    TemporaryKind kind = TemporaryKind::None;
    std::uint64_t fileIndex = 0;  // for a Backup: the index of the file it belongs to
};

// A fresh name of the NewContent form.
[[nodiscard]] std::string MakeTemporaryName();
// The Backup name for the file with fileIndex, keeping the random part of a NewContent name.
[[nodiscard]] std::string BackupNameOf(std::string_view newContentName, std::uint64_t fileIndex);

// For names as bytes (POSIX), as UTF-16 text, and as Windows' own wide names.
[[nodiscard]] TemporaryName ParseTemporaryName(std::string_view fileName);
[[nodiscard]] TemporaryName ParseTemporaryName(std::u16string_view fileName);
[[nodiscard]] TemporaryName ParseTemporaryName(std::wstring_view fileName);
[[nodiscard]] bool IsOurTemporaryName(std::string_view fileName);
[[nodiscard]] bool IsOurTemporaryName(std::u16string_view fileName);
[[nodiscard]] bool IsOurTemporaryName(std::wstring_view fileName);

}  // namespace kestrove
