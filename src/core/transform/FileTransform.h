#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <stop_token>

#include "FileFailure.h"
#include "Keystream.h"

namespace kestrove {

// What became of one file.
struct [[nodiscard]] FileOutcome {
    enum class Kind {
        Done,     // the path now holds the transformed content (or was empty and is untouched)
        Failed,   // nothing changed; failure says why
        Stopped,  // a stop was requested before the new content took the file's place
    };

    Kind kind = Kind::Done;
    std::optional<FileFailure> failure;
    // Failed only: the file already holds its whole new content, and what failed came after it
    // (making its new name durable, removing the copy of its old content).
    bool contentReplaced = false;

    [[nodiscard]] bool ok() const { return kind == Kind::Done; }
};

// Makes the replacements of many files durable folder by folder. Each replacement renames a file
// within its folder; passing one batch to a run of transforms syncs each folder once, when the run
// moves on to a file in another folder and at Flush(), instead of once per file. Until then a
// power cut can only bring back a file's complete old content, never a mix.
class FolderSyncBatch {
  public:
    using SyncFolder = std::function<void(const std::filesystem::path& folder)>;

    // By default a folder is synced with the platform's own call.
    explicit FolderSyncBatch(SyncFolder syncFolder = {});
    FolderSyncBatch(const FolderSyncBatch&) = delete;
    FolderSyncBatch& operator=(const FolderSyncBatch&) = delete;
    ~FolderSyncBatch() { Flush(); }

    // A file in this folder was replaced.
    void Add(const std::filesystem::path& file);
    // Syncs the folder still pending, if any.
    void Flush();

  private:
    SyncFolder m_syncFolder;
    std::optional<std::filesystem::path> m_pendingFolder;
};

// Encrypts / decrypts the file at path in place under cipherKey (the run's key, 10..165 after a
// login). The byte at file offset j is shifted by KeystreamValue(j + 1, key). The file keeps
// everything but its content: path, length, permission bits, owner, extended attributes and
// access lists (on Windows attributes, creation time, access list and alternate streams) and hard
// links; a link is followed and stays a link. The new content is written to a temporary file
// beside the real one and renamed over it, so the path holds either the whole old or the whole new
// content at every instant. A file whose extras a new file cannot carry (several hard links, an
// owner or attribute this process cannot give) is rewritten through its own inode instead, after
// a synced copy of the old content beside it (Leftovers.h); a failure or stop copies the old
// content back. Leftovers of an earlier crash in the file's folder are dealt with first, and a
// file whose own leftover cannot be dealt with is not written. A stop request is honoured between
// blocks; the original is then left as it was. Memory use is one block whatever the file's size.
// Shows nothing: failures come back as values. Done is said once the new content is durable;
// given a batch, the caller makes the folder durable through it.
[[nodiscard]] FileOutcome EncryptFile(const std::filesystem::path& path, std::int32_t cipherKey,
                                      std::stop_token stop = {},
                                      FolderSyncBatch* folderSyncs = nullptr);
[[nodiscard]] FileOutcome DecryptFile(const std::filesystem::path& path, std::int32_t cipherKey,
                                      std::stop_token stop = {},
                                      FolderSyncBatch* folderSyncs = nullptr);
[[nodiscard]] FileOutcome TransformFile(const std::filesystem::path& path, Direction direction,
                                        std::int32_t cipherKey, std::stop_token stop = {},
                                        FolderSyncBatch* folderSyncs = nullptr);

}  // namespace kestrove
