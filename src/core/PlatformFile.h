#pragma once

// Internal to kestrove_core: the few file-system operations the whole-file transform needs.
// PlatformFile_posix.cpp implements them outside Windows, PlatformFile_win.cpp on Windows; the
// streaming, the choice of scheme and all clean-up stay in the portable FileTransform.cpp.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace kestrove::platform {

// A failed operation, worded as the platform words it (or a clear text where it has none).
struct IoError {
    std::u16string description;
};

// Empty on success.
using IoStatus = std::optional<IoError>;

[[nodiscard]] IoError ErrorFromCode(int platformCode);

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

    // Reads up to size bytes at offset; got is 0 only at the end of the file.
    [[nodiscard]] IoStatus ReadAt(std::uint64_t offset, std::uint8_t* data, std::size_t size,
                                  std::size_t& got);
    // Writes all size bytes at offset.
    [[nodiscard]] IoStatus WriteAt(std::uint64_t offset, const std::uint8_t* data,
                                   std::size_t size);
    // Returns once the content and the attributes are on the disk.
    [[nodiscard]] IoStatus Sync();

  private:
    std::intptr_t m_handle = -1;
};

// A regular file to be transformed, found by following every link.
struct TargetFile {
    NativeFile file;  // open for reading; for reading and writing after OpenTargetForWriting
    std::filesystem::path realPath;  // links resolved: where the new content must go
    std::uint64_t size = 0;
    std::uint64_t linkCount = 1;
};

// Opens the regular file behind path for reading. Folders, FIFOs, sockets and devices are refused
// from their type alone and never opened.
[[nodiscard]] IoStatus OpenTarget(const std::filesystem::path& path, TargetFile& target);

// Opens the same file again for reading and writing. Fails for a read-only file: one that cannot
// be opened for writing, or one without any write permission bit (on Windows: with the read-only
// attribute), whoever runs.
[[nodiscard]] IoStatus OpenTargetForWriting(TargetFile& target);

struct TemporaryFile {
    NativeFile file;
    std::filesystem::path path;
};

// Creates a new file with one of our temporary names in the folder of besidePath, exclusively and
// readable by its owner only.
[[nodiscard]] IoStatus CreateTemporaryBeside(const std::filesystem::path& besidePath,
                                             TemporaryFile& temp);

// Gives temp the owner of target, before any content is written. ownerKept is false when the
// platform does not let this process give a file that owner; temp is then left as it was.
[[nodiscard]] IoStatus AdoptOwner(const TargetFile& target, NativeFile& temp, bool& ownerKept);

// Gives temp the permission bits of target (on Windows: its attributes, creation time and access
// list), once its content is complete.
[[nodiscard]] IoStatus AdoptMode(const TargetFile& target, NativeFile& temp);

// Puts the (closed, synced) temporary file in the place of realPath in one step. realPath keeps
// its old content when this fails. The folder's entries are made durable by SyncFolderOf.
[[nodiscard]] IoStatus ReplaceWithTemporary(const std::filesystem::path& tempPath,
                                            const std::filesystem::path& realPath);

// Removes a file of ours; a failure leaves it behind and is not reported.
void RemoveTemporary(const std::filesystem::path& path);

// Makes the entries of the folder holding path durable (after a rename or a removal there); best
// effort.
void SyncFolderOf(const std::filesystem::path& path);

}  // namespace kestrove::platform
