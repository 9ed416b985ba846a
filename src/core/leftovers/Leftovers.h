#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "PlatformFile.h"

namespace kestrove {

// What became of a file found under one of our temporary names (TemporaryName.h).
enum class LeftoverFate {
    Removed,   // new content that never took its file's place, or an undo file no longer needed
               // (its file holds its whole old content, or its committed new content): removed
    Restored,  // the undo file of an interrupted rewrite: the old content is back, it is removed
    Kept,      // left alone: an earlier version's file whose meaning is unknown, an undo file whose
               // file is gone or holds neither its old nor its new content (changed since), or
               // one that cannot be read as ours
    InUse,     // another running copy of the program holds it
    NotOurs,   // not a plain file of ours (a folder, a link, gone meanwhile): left alone
    Failed,    // it could not be dealt with: the system failed part-way
};

// A file that must not be transformed for now, and why.
struct BlockedFile {
    std::uint64_t fileIndex = 0;
    platform::IoError why;
};

struct LeftoverResult {
    LeftoverFate fate = LeftoverFate::NotOurs;
    // The files it holds old content of that cannot be written for now (Kept, InUse, Failed).
    std::vector<BlockedFile> blocks;
    // Set when it holds old content of files it cannot say: no file of its folder may be written.
    platform::IoStatus blocksFolder;
};

// Deals with one file found under one of our temporary names. An undo file (or each file of a
// journal) is put back only over the file in its own folder whose index it carries, and only while
// each byte of that file is either its old or its new byte; the file is synced before the undo
// file is removed. A failure part-way keeps the undo file.
[[nodiscard]] LeftoverResult CleanLeftover(const std::filesystem::path& temporary);

// Deals with the leftovers in the folder of file (links resolved), as a run does before it writes
// the file; what then keeps the file from being written, if anything.
platform::IoStatus CleanLeftoversBeside(const std::filesystem::path& file);

// Deals with the leftovers of each folder once, before the first file in it is written, and says
// which files must not be written: those of a folder that could not be searched for leftovers,
// and those whose own copy of the old content could not be dealt with.
class LeftoverGuard {
  public:
    // Whether the folder holding realPath (links resolved) has been dealt with.
    [[nodiscard]] bool IsSettled(const std::filesystem::path& realPath) const;
    // Deals with the leftovers in the folder holding realPath, once.
    void Settle(const std::filesystem::path& realPath);
    // Why the file at realPath with this index must not be written, once its folder is settled.
    [[nodiscard]] platform::IoStatus Blocks(const std::filesystem::path& realPath,
                                            std::uint64_t fileIndex) const;
    // Settles the folder holding a temporary met by a walk, ahead of its files.
    void SettleFolderOf(const std::filesystem::path& temporary);

  private:
    struct Folder {
        platform::IoStatus failure;  // the folder could not be searched
        std::map<std::uint64_t, platform::IoError> files;
    };
    std::map<std::filesystem::path, Folder> m_folders;
};

}  // namespace kestrove
