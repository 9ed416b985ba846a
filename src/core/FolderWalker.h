#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "FileFailure.h"

namespace kestrove {

// Called by a walk: once per directory entry read (return false to stop the walk early), and
// once for every folder that cannot be listed (the walk skips that folder and goes on).
struct WalkObserver {
    std::function<bool()> onEntry;
    std::function<void(const FileFailure&)> onFailure;
};

enum class WalkEnd { Completed, Stopped };

// Appends to results every file beneath the given folders whose name matches pattern,
// breadth-first and level by level; see FolderWalker.cpp for the matching rules.
// When reset is true, results is emptied first.
WalkEnd CollectFolderFiles(const std::vector<std::filesystem::path>& folders,
                           std::u16string_view pattern,
                           std::vector<std::filesystem::path>& results, bool reset,
                           const WalkObserver& observer = {});

// Appends the selected files of one folder (never those of its subfolders).
void CollectFilesInFolder(const std::filesystem::path& folder, std::u16string_view pattern,
                          std::vector<std::filesystem::path>& results);

// The text after the last separator of path ("\" and "/" on Windows, "/" elsewhere); the empty
// text when path ends in a separator; the whole path when it has none.
[[nodiscard]] std::u16string FileNameOfPath(std::u16string_view path);

// Whether a file name is selected by pattern: with "*" a whole-name wildcard match, without it a
// substring match; case ignored.
[[nodiscard]] bool NameMatchesPattern(std::u16string_view name, std::u16string_view pattern);

}  // namespace kestrove
