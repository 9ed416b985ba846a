#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace kestrove {

// Paths and names in the platform's own form: bytes on POSIX, UTF-16 on Windows. The walker keeps
// names in this form so that a name which is not valid text still reaches the file it names.
using NativeString = std::filesystem::path::string_type;
using NativeView = std::basic_string_view<std::filesystem::path::value_type>;

enum class EntryKind { File, Folder };

// One entry as a listing delivers it. A link counts as what it leads to: a link to a folder is a
// Folder, anything else (a link to a file, a broken link, a pipe, a device) is a File.
struct ListedEntry {
    NativeView name;  // valid until the next call to FolderListing::Next
    EntryKind kind = EntryKind::File;
    std::uint64_t index = 0;  // the entry's inode number where the listing gives it, else 0
};

// Which real folder a listing reads, however it was reached (device and inode number on POSIX,
// volume serial number and file index on Windows).
struct FolderIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;

    bool operator==(const FolderIdentity&) const = default;
};

// An open listing of one folder. Entries come in the order the platform delivers them, "." and
// ".." included where the platform delivers those.
class FolderListing {
  public:
    virtual ~FolderListing() = default;

    // Fills entry with the next entry; false when there is none, because the listing ended or
    // because reading failed (see Failure).
    [[nodiscard]] virtual bool Next(ListedEntry& entry) = 0;

    // After Next returned false: the platform's description when reading failed part-way.
    [[nodiscard]] virtual std::optional<std::u16string> Failure() const = 0;
};

struct OpenedFolder {
    std::unique_ptr<FolderListing> listing;  // null when the folder could not be opened
    std::optional<FolderIdentity> identity;  // absent when the platform cannot tell
    bool notFound = false;                   // the path names nothing at all
    std::u16string description;              // the platform's words when listing is null
};

// Where the walker gets its listings from; tests put a source of their own in front of the real
// one to make a folder fail in ways the file system will not produce on demand.
class DirectorySource {
  public:
    virtual ~DirectorySource() = default;
    [[nodiscard]] virtual OpenedFolder Open(const NativeString& folder) = 0;
};

// The platform's file system.
[[nodiscard]] DirectorySource& PlatformDirectorySource();

}  // namespace kestrove
