#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "FileTransform.h"

namespace kestrove::testing {

using Bytes = std::vector<std::uint8_t>;

// The outcome is a failure with exactly this description.
void ExpectFailedWith(const FileOutcome& outcome, const std::u16string& description);

// A fresh folder under the system's temporary folder, removed with everything in it (read-only
// files and closed folders included).
class ScratchFolder {
  public:
    ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    ~ScratchFolder();

    [[nodiscard]] const std::filesystem::path& path() const { return m_path; }
    [[nodiscard]] std::filesystem::path operator/(const std::string& name) const {
        return m_path / name;
    }

  private:
    std::filesystem::path m_path;
};

[[nodiscard]] Bytes ReadBytes(const std::filesystem::path& path);
void WriteBytes(const std::filesystem::path& path, const Bytes& bytes);
[[nodiscard]] Bytes RandomBytes(std::size_t size, std::uint32_t seed);

// Names in a folder, sorted.
[[nodiscard]] std::vector<std::string> FolderNames(const std::filesystem::path& folder);

// The keystream offset of index i under key k, written out from its definition here so that the
// tests do not take it from the code they check.
[[nodiscard]] std::uint8_t ReferenceOffset(std::uint64_t i, std::uint32_t k);

// Plain bytes encrypted the slow way: byte j gets the offset of index j + 1.
[[nodiscard]] Bytes ReferenceEncrypt(const Bytes& plain, std::uint32_t k);

}  // namespace kestrove::testing
