#pragma once

// Internal to kestrove_core: the few file-system operations the whole-file transform needs.
// PlatformFile_posix.cpp implements them outside Windows, PlatformFile_win.cpp on Windows; the
// streaming, the choice of scheme and all clean-up stay in the portable FileTransform.cpp.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "Failure.h"
#include "PathInfo.h"
#include "TemporaryName.h"

namespace kestrove::platform {

// A failed operation: the platform's error with its words, or one of our own kinds (Failure.h).
using IoError = Failure;

// Empty on success.
using IoStatus = std::optional<IoError>;

// A value, or the failure that kept it from being had.
template <typename T>
struct IoResult {
    IoStatus failure;
    T value{};
};

[[nodiscard]] IoError ErrorFromCode(int platformCode);

// Whether error says that the path names nothing (any more).
[[nodiscard]] bool IsNotFound(const IoError& error);

// An open file; closed when destroyed. Offsets and lengths are 64-bit everywhere.
class NativeFile {
  public:
    NativeFile() = default;
    explicit NativeFile(std::intptr_t handle) : m_handle(handle) {}
    NativeFile(NativeFile&& other) noexcept;
    NativeFile& operator=(NativeFile&& other) noexcept;
    NativeFile(const NativeFile&) = delete;
    NativeFile& operator=(const NativeFile&) = delete;
    ~NativeFile();

    [[nodiscard]] bool isOpen() const;
    [[nodiscard]] std::intptr_t handle() const { return m_handle; }
    void Close();

    // Reads up to size bytes at offset: how many, 0 only at the end of the file.
    [[nodiscard]] IoResult<std::size_t> ReadAt(std::uint64_t offset, std::uint8_t* data,
                                               std::size_t size);
    // Writes all size bytes at offset.
    [[nodiscard]] IoStatus WriteAt(std::uint64_t offset, const std::uint8_t* data,
                                   std::size_t size);
    // Returns once the content and the attributes are on the disk.
    [[nodiscard]] IoStatus Sync();

  private:
    std::intptr_t m_handle = -1;
};

// What the platform says about an open file.
struct FileFacts {
    FileId id;  // device and inode number; volume serial number and file index on Windows
    std::uint64_t size = 0;
    std::uint64_t linkCount = 1;
};

[[nodiscard]] IoResult<FileFacts> DescribeFile(const NativeFile& file);

// A regular file to be transformed, found by following every link.
struct TargetFile {
    NativeFile file;  // open for reading; for reading and writing after OpenTargetForWriting
    std::filesystem::path realPath;  // links resolved: where the new content must go
    std::uint64_t size = 0;
    std::uint64_t linkCount = 1;
    std::uint64_t fileIndex = 0;   // inode number; file index on Windows
    std::uint64_t device = 0;      // device number; volume serial number on Windows
    std::uint32_t attributes = 0;  // permission bits and type; attributes on Windows
};

// Finds the regular file behind path, following every link, and fills target from what the
// system says of it, without opening it. Folders, FIFOs, sockets and devices are refused.
[[nodiscard]] IoStatus ExamineTarget(const std::filesystem::path& path, TargetFile& target);

// Opens the regular file behind path for reading. Folders, FIFOs, sockets and devices are refused
// from their type alone and never opened.
[[nodiscard]] IoStatus OpenTarget(const std::filesystem::path& path, TargetFile& target);

// Opens the file examined or opened as target for reading and writing, checking that the name
// still leads to that file. Fails for a read-only file: one that cannot be opened for writing, or
// one without any write permission bit (on Windows: with the read-only attribute), whoever runs.
[[nodiscard]] IoStatus OpenTargetForWriting(TargetFile& target);

// One of our temporary files (TemporaryName.h), held: while it stays open, no other copy of the
// program takes it for a crash leftover. On POSIX the hold is an exclusive lock on the file, which
// every copy of the program takes before it deals with a leftover, and on a file system without
// locks the maker named in the file (its name, or the record of an undo file) is asked whether it
// still runs; on Windows the file is open without any sharing, so that nobody at all can open,
// rename or delete it meanwhile.
struct TemporaryFile {
    NativeFile file;
    std::filesystem::path path;  // empty once the file no longer carries one of our names
};

// This process, as our temporary files name their maker.
[[nodiscard]] ProcessStamp CurrentProcess();

enum class ProcessLife { Running, Ended, Unknown };
// Whether the process that stamp names still runs.
[[nodiscard]] ProcessLife LifeOf(const ProcessStamp& stamp);

// Creates a new file with a name of the NewContent form in the folder of besidePath, exclusively,
// readable by its owner only, and holds it. A leftover cleaner of another copy that removed the
// file in the moment before the hold was taken is noticed, and another name is tried.
[[nodiscard]] IoStatus CreateTemporaryBeside(const std::filesystem::path& besidePath,
                                             TemporaryFile& temp);

// Gives the held temp the Undo name for the file with fileIndex, in the same folder, and makes the
// new name durable before returning: from then on a crash leaves a file that is known to hold
// the complete old content of that file. Its content, record included, must be durable first.
[[nodiscard]] IoStatus MarkAsUndo(TemporaryFile& temp, std::uint64_t fileIndex);

// Gives the held temp, complete, its Journal name; durable only at the next MakeDurable.
[[nodiscard]] IoStatus MarkAsJournal(TemporaryFile& temp);

// Gives the held undo file or journal its Committed name: what it guarded is complete, and it is
// no longer a copy to put back. With durable, the new name is on the disk before this returns;
// otherwise at the next MakeDurable.
[[nodiscard]] IoStatus MarkCommitted(TemporaryFile& temp, bool durable = true);

// Makes everything written and renamed so far in the folders of these paths durable: their file
// systems' whole unwritten content where the system can do that in one go (one call instead of
// one per file), each file and folder otherwise.
[[nodiscard]] IoStatus MakeDurable(const std::vector<const NativeFile*>& files,
                                   const std::vector<std::filesystem::path>& folders);

// Gives temp the owner of target, before any content is written: true when it did, false when the
// platform does not let this process give a file that owner (temp is then left as it was).
[[nodiscard]] IoResult<bool> AdoptOwner(const TargetFile& target, NativeFile& temp);

// Gives temp everything of target but its content, once its content is complete: permission bits,
// extended attributes with the access lists among them, and inode flags on Linux; attributes,
// creation time, access list and alternate data streams on Windows. False when any of it cannot be
// carried over (or not be told): the file must then be rewritten in place, where it keeps all of
// it by itself.
[[nodiscard]] bool CarryMetadata(const TargetFile& target, TemporaryFile& temp);

// Puts the held, synced temporary file in the place of realPath in one step; it stays open and is
// no longer ours (temp.path is emptied). realPath keeps its old content when this fails. The
// folder's entries are made durable by SyncFolderOf. Given replaced, the file that was replaced,
// when it had no other name, is handed back open on POSIX, so that its space is freed when the
// caller closes it rather than during the rename.
[[nodiscard]] IoStatus ReplaceWithTemporary(TemporaryFile& temp,
                                            const std::filesystem::path& realPath,
                                            NativeFile* replaced = nullptr);

// Removes a held temporary file of ours while still holding it, then closes it. Only closes it
// when it no longer carries our name, or when the name now leads to another file.
[[nodiscard]] IoStatus RemoveTemporary(TemporaryFile& temp);

enum class HoldResult {
    Held,     // no process held it; held now, as CreateTemporaryBeside holds a new one
    NoLocks,  // open, but the file system takes no locks: whoever made it may still use it
    InUse,    // another process holds it
    NotOurs,  // not a regular file with this one name, or gone: left alone
    Failed,   // could not be told (the system failed): failure says why
};

struct Held {
    HoldResult result = HoldResult::NotOurs;
    TemporaryFile file;  // for Held and NoLocks
    IoError failure;     // for Failed
};

// Takes the hold on a file found under one of our temporary names, if nobody holds it, and checks
// that the name still leads to the very file held.
[[nodiscard]] Held HoldLeftover(const std::filesystem::path& path);

// The identity of the file or folder behind path, links followed.
[[nodiscard]] IoResult<FileId> IdentityOf(const std::filesystem::path& path);

// The real path of an existing file (every link followed), as OpenTarget gives it.
[[nodiscard]] IoResult<std::filesystem::path> RealPathOf(const std::filesystem::path& path);

// How many files this process may have open at once.
[[nodiscard]] std::size_t OpenFilesAllowed();

// Makes the entries of the folder holding path durable (after a rename or a removal there).
[[nodiscard]] IoStatus SyncFolderOf(const std::filesystem::path& path);

}  // namespace kestrove::platform
