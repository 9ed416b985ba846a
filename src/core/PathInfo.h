#pragma once

#include <compare>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace kestrove {

// What a dropped path is, following links.
enum class PathKind {
    Missing,  // cannot be examined at all (vanished, or its folder cannot be searched)
    Folder,
    RegularFile,  // whatever its permission or hidden state
    Other,        // FIFO, socket, device, ...
};

struct PathInfo {
    PathKind kind = PathKind::Missing;
    std::u16string description;  // the platform's wording when kind is Missing or Other
};

[[nodiscard]] PathInfo ClassifyPath(const std::filesystem::path& path);

// Why a path that is not a regular file is not transformed (named after its type, since the
// platform has no error wording for it; on Windows this includes a folder).
[[nodiscard]] std::u16string NotRegularFileText(std::filesystem::file_type type);

// The identity of the real file or folder behind a path (links followed), so that a drop can
// transform each real file once and a walk can visit each real folder once.
struct FileId {
    std::uint64_t device = 0;
    std::uint64_t index = 0;
    auto operator<=>(const FileId&) const = default;
};

[[nodiscard]] std::optional<FileId> IdentifyFile(const std::filesystem::path& path);

}  // namespace kestrove
