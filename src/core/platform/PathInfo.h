#pragma once

#include <compare>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "Failure.h"

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
    Failure why;  // when kind is Missing (the platform's error) or Other (what it is)
};

[[nodiscard]] PathInfo ClassifyPath(const std::filesystem::path& path);

// The identity of the real file or folder behind a path (links followed), so that a drop can
// transform each real file once and a walk can visit each real folder once.
struct FileId {
    std::uint64_t device = 0;
    std::uint64_t index = 0;
    auto operator<=>(const FileId&) const = default;
};

[[nodiscard]] std::optional<FileId> IdentifyFile(const std::filesystem::path& path);

}  // namespace kestrove
