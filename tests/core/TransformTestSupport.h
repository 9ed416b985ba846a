#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "FileTransform.h"
#include "ScratchFolder.h"

namespace kestrove::testing {

using Bytes = std::vector<std::uint8_t>;

// The outcome is a failure of the system's with exactly this description, or of this kind.
void ExpectFailedWith(const FileOutcome& outcome, const std::u16string& description);
void ExpectFailedWith(const FileOutcome& outcome, const Failure& expected);

[[nodiscard]] Bytes ReadBytes(const std::filesystem::path& path);
void WriteBytes(const std::filesystem::path& path, const Bytes& bytes);
[[nodiscard]] Bytes RandomBytes(std::size_t size, std::uint32_t seed);

// A file of ten blocks of 4 KiB and a bit with three names: first.bin and second.bin in a fresh
// folder, sub/third.bin below it.
class ThreeNamedFile : public ::testing::Test {
  protected:
    void SetUp() override;

    ScratchFolder m_folder;
    std::filesystem::path m_first = m_folder / "first.bin";
    std::filesystem::path m_second = m_folder / "second.bin";
    std::filesystem::path m_third = m_folder / "sub" / "third.bin";
    Bytes m_plain = RandomBytes(10 * 4096 + 99, 21);
};

// The old content an undo file keeps, without the record after it (which must be a record).
[[nodiscard]] Bytes OldContentOf(const std::filesystem::path& undoFile);

// Names in a folder, sorted.
[[nodiscard]] std::vector<std::string> FolderNames(const std::filesystem::path& folder);
// Those of them that are our temporary names, of any form.
[[nodiscard]] std::vector<std::string> OurTemporaryNames(const std::filesystem::path& folder);

// The keystream offset of index i under key k, written out from its definition here so that the
// tests do not take it from the code they check.
[[nodiscard]] std::uint8_t ReferenceOffset(std::uint64_t i, std::uint32_t k);

// Plain bytes encrypted the slow way: byte j gets the offset of index j + 1.
[[nodiscard]] Bytes ReferenceEncrypt(const Bytes& plain, std::uint32_t k);

}  // namespace kestrove::testing
