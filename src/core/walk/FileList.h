#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <vector>

#include "DirectorySource.h"

namespace kestrove {

// The files a walk selected, in walk order, kept small: each folder's path once, each name once
// in blocks of memory that never move, and 16 bytes per file beside its name. A full path is made
// only when one is asked for, so that a walk of millions of files holds tens of MiB, not GiB.
class FileList {
  public:
    FileList() = default;
    FileList(FileList&&) noexcept = default;
    FileList& operator=(FileList&&) noexcept = default;
    FileList(const FileList&) = delete;
    FileList& operator=(const FileList&) = delete;

    void Clear();
    [[nodiscard]] std::size_t size() const { return m_files.size(); }
    [[nodiscard]] bool empty() const { return m_files.empty(); }

    // Starts a folder whose files follow; prefix ends with the separator names go after.
    void StartFolder(NativeString prefix);
    // A file of the folder started last.
    void Add(NativeView name);

    // The full path of the file at index (from 0).
    [[nodiscard]] std::filesystem::path PathAt(std::size_t index) const;
    // All of them, for callers that want them at once.
    [[nodiscard]] std::vector<std::filesystem::path> Paths() const;

    // Bytes held, for measuring: entries, names and folders, with what is reserved for them.
    [[nodiscard]] std::size_t BytesHeld() const;

  private:
    using Char = std::filesystem::path::value_type;
    struct File {
        std::uint32_t folder = 0;
        std::uint32_t length = 0;  // of the name, in characters
        std::uint64_t at = 0;      // where the name starts: block * kBlock + offset
    };
    static constexpr std::size_t kBlock = std::size_t{1} << 16;  // characters

    std::vector<NativeString> m_folders;
    std::vector<std::unique_ptr<Char[]>> m_blocks;
    std::size_t m_used = kBlock;  // characters used in the last block
    std::vector<File> m_files;
};

}  // namespace kestrove
