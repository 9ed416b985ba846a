#pragma once

// Windows file set-ups for the tests, through the wide calls and the "\\?\" form, so that they
// also reach paths longer than the C library allows.

#include <cstdint>
#include <filesystem>
#include <string>

#include "TransformTestSupport.h"

namespace kestrove::testing {

// Attribute bits as Windows numbers them.
inline constexpr std::uint32_t kReadOnlyAttribute = 0x1;
inline constexpr std::uint32_t kHiddenAttribute = 0x2;
inline constexpr std::uint32_t kSystemAttribute = 0x4;

// Error numbers as Windows numbers them.
inline constexpr int kFileNotFound = 2;
inline constexpr int kPathNotFound = 3;
inline constexpr int kAccessDenied = 5;
inline constexpr int kSharingViolation = 32;
inline constexpr int kDirectoryNameInvalid = 267;

// The folder of the running test program.
[[nodiscard]] std::filesystem::path ProgramFolder();

// path in the verbatim "\\?\" form.
[[nodiscard]] std::wstring Verbatim(const std::filesystem::path& path);

// Creates folder (and the folders above it) at any length.
void MakeFolders(const std::filesystem::path& folder);
// Creates the folder called exactly name in parent, even a name that ends in spaces, which the
// system's usual handling of paths would cut off.
[[nodiscard]] std::filesystem::path MakeFolderNamedExactly(const std::filesystem::path& parent,
                                                           const std::wstring& name);
// Writes or reads a whole file at any length of path.
void WriteFileAt(const std::filesystem::path& file, const Bytes& bytes);
[[nodiscard]] Bytes ReadFileAt(const std::filesystem::path& file);

[[nodiscard]] std::uint32_t AttributesOf(const std::filesystem::path& path);
void SetAttributes(const std::filesystem::path& path, std::uint32_t attributes);

void MakeHardLink(const std::filesystem::path& link, const std::filesystem::path& existing);

// A path below base of at least length characters, made of folders of 20 characters each.
[[nodiscard]] std::filesystem::path LongFolderPath(const std::filesystem::path& base,
                                                   std::size_t length);

// A file held open by "another program" for as long as this object lives.
class HeldOpen {
  public:
    enum Sharing : std::uint32_t { kShareNothing = 0, kShareRead = 1, kShareReadWrite = 3 };
    HeldOpen(const std::filesystem::path& file, Sharing sharing);
    ~HeldOpen();
    HeldOpen(const HeldOpen&) = delete;
    HeldOpen& operator=(const HeldOpen&) = delete;

  private:
    std::intptr_t m_handle;
};

}  // namespace kestrove::testing
