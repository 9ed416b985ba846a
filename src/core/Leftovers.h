#pragma once

#include <filesystem>

namespace kestrove {

// What became of a file found under one of our temporary names (TemporaryName.h).
enum class LeftoverFate {
    Removed,   // new content that never took its file's place: a crash leftover, removed
    Restored,  // a backup: its old content was put back over its file, then it was removed
    Kept,      // a backup whose file is gone or has plainly changed since (another length, now
               // read-only), or an earlier version's temporary that may be one: left alone
    InUse,     // another running copy of the program holds it
    NotOurs,   // not a plain file of ours (a folder, a link, someone else's): left alone
};

// Deals with one file found under one of our temporary names. A backup is put back only over the
// file in its own folder whose index it carries, and only when that file has the backup's length;
// the file is synced before the backup is removed. A failure part-way keeps the backup.
LeftoverFate CleanLeftover(const std::filesystem::path& temporary);

// CleanLeftover for each of our temporary files in the folder that holds file (links resolved),
// before that file alone is transformed: the walk of a folder reports them instead.
void CleanLeftoversBeside(const std::filesystem::path& file);

}  // namespace kestrove
