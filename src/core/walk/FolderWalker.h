#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "FileFailure.h"
#include "FileList.h"

namespace kestrove {

class DirectorySource;

// Called by a walk: once per directory entry read (return false to stop the walk early), once
// for every folder that cannot be listed (the walk skips that folder and goes on), and once for
// every file met under one of our temporary names (TemporaryName.h), which the walk never
// selects. Any may be left empty.
struct WalkObserver {
    std::function<bool()> onEntry;
    std::function<void(const FileFailure&)> onFailure;
    std::function<void(const std::filesystem::path&)> onTemporary;
};

enum class WalkEnd { Completed, Stopped };

// Appends to results every file beneath the given folders whose name matches pattern,
// breadth-first and level by level: first the files of the given folders, folder by folder,
// then those of all their subfolders in the order found, and so on; within a folder in the
// order the platform lists it. Folders whose name begins with "." are not entered; links to
// folders are followed, but each real folder is listed once per walk. Our own temporary files
// are never selected, only reported. A given folder that does not exist as written is tried again
// without surrounding spaces. When reset is true, results is emptied first. After Stopped, results
// holds what was selected up to the stop.
WalkEnd CollectFolderFiles(const std::vector<std::filesystem::path>& folders,
                           std::u16string_view pattern, std::vector<std::filesystem::path>& results,
                           bool reset, const WalkObserver& observer = {});

// The same walk over listings from another source than the file system.
WalkEnd CollectFolderFiles(const std::vector<std::filesystem::path>& folders,
                           std::u16string_view pattern, std::vector<std::filesystem::path>& results,
                           bool reset, const WalkObserver& observer, DirectorySource& source);

// The same walks into a compact list, for walks of very many files (FileList.h).
WalkEnd CollectFolderFiles(const std::vector<std::filesystem::path>& folders,
                           std::u16string_view pattern, FileList& results, bool reset,
                           const WalkObserver& observer = {});
WalkEnd CollectFolderFiles(const std::vector<std::filesystem::path>& folders,
                           std::u16string_view pattern, FileList& results, bool reset,
                           const WalkObserver& observer, DirectorySource& source);

// Appends the selected files of one folder (never those of its subfolders). A folder that
// cannot be listed adds nothing.
void CollectFilesInFolder(const std::filesystem::path& folder, std::u16string_view pattern,
                          std::vector<std::filesystem::path>& results);

// The text after the last separator of path ("\" and "/" on Windows, "/" elsewhere); the empty
// text when path ends in a separator; the whole path when it has none.
[[nodiscard]] std::u16string FileNameOfPath(std::u16string_view path);

// Whether a file name is selected by pattern: with "*" a whole-name wildcard match, without it a
// substring match; case ignored.
[[nodiscard]] bool NameMatchesPattern(std::u16string_view name, std::u16string_view pattern);

}  // namespace kestrove
