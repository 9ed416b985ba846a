#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "ScratchFolder.h"

#include "DirectorySource.h"
#include "FolderWalker.h"

namespace kestrove::testing {

namespace fs = std::filesystem;

// A fresh folder under the system's temporary folder, open to every user (so a child process
// that gave up root can read it), removed with everything in it at the end.
class TempTree {
  public:
    TempTree();
    TempTree(const TempTree&) = delete;
    TempTree& operator=(const TempTree&) = delete;

    [[nodiscard]] const fs::path& root() const { return m_folder.path(); }
    // Creates the folder and any missing parents; returns its full path.
    fs::path Folder(const std::string& relative) const;
    // Creates an empty file (and its parent folders); returns its full path.
    fs::path File(const std::string& relative) const;
    fs::path Link(const std::string& relative, const fs::path& target) const;

  private:
    ScratchFolder m_folder;
};

// What the folder walk must produce, worked out the long way round without any of the walker's
// code: each folder is listed once for its subfolders and, on meeting its first file, once more
// for its files, and a link counts as what a full stat says it leads to. Trees with links to
// folders would make this loop, so it is only for trees without them.
std::vector<std::string> ExpectedWalk(const std::vector<std::string>& folders,
                                      const std::function<bool(const std::string&)>& selects);

// Runs a walk and gives the results as plain strings.
std::vector<std::string> WalkPaths(const std::vector<fs::path>& folders,
                                   std::u16string_view pattern, const WalkObserver& observer = {});

std::vector<std::string> AsStrings(const std::vector<fs::path>& paths);

// Folders described entry by entry, in a chosen delivery order, and failures on demand.
class FakeDirectorySource final : public DirectorySource {
  public:
    struct Folder {
        std::vector<std::pair<std::string, EntryKind>> entries;
        std::optional<FolderIdentity> identity;
        std::u16string openFailure;        // non-empty: opening fails with these words
        std::size_t failAfter = SIZE_MAX;  // reading fails after this many entries
    };

    // Adds a folder; "name/" in entries is a subfolder, anything else a file.
    Folder& Add(const std::string& path, const std::vector<std::string>& entries);
    OpenedFolder Open(const NativeString& folder) override;

    [[nodiscard]] const std::vector<std::string>& opened() const { return m_opened; }

  private:
    std::map<std::string, Folder> m_folders;
    std::vector<std::string> m_opened;
};

}  // namespace kestrove::testing
