#include "TransformTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

#include "TemporaryName.h"
#include "TestPlatform.h"
#include "UndoRecord.h"

namespace kestrove::testing {

void ExpectFailedWith(const FileOutcome& outcome, const std::u16string& description) {
    ExpectFailedWith(outcome, Failure{description});
}

void ExpectFailedWith(const FileOutcome& outcome, const Failure& expected) {
    EXPECT_EQ(outcome.kind, FileOutcome::Kind::Failed);
    ASSERT_TRUE(outcome.failure.has_value());
    EXPECT_EQ(outcome.failure->problem, expected.problem);
    EXPECT_EQ(outcome.failure->type, expected.type);
    EXPECT_EQ(outcome.failure->description, expected.description);
}

Bytes ReadBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + path.string());
    }
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteBytes(const std::filesystem::path& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        throw std::runtime_error("cannot write " + path.string());
    }
}

Bytes RandomBytes(std::size_t size, std::uint32_t seed) {
    std::mt19937 generator(seed);
    Bytes bytes(size);
    for (auto& byte : bytes) {
        byte = static_cast<std::uint8_t>(generator());
    }
    return bytes;
}

std::vector<std::string> FolderNames(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

void ThreeNamedFile::SetUp() {
    std::filesystem::create_directory(m_folder / "sub");
    WriteBytes(m_first, m_plain);
    std::filesystem::create_hard_link(m_first, m_second);
    std::filesystem::create_hard_link(m_first, m_third);
}

Bytes OldContentOf(const std::filesystem::path& undoFile) {
    const Bytes bytes = ReadBytes(undoFile);
    if (bytes.size() < kUndoRecordSize) {
        ADD_FAILURE() << undoFile << " is too short for an undo file";
        return bytes;
    }
    const auto recordStart = bytes.end() - static_cast<std::ptrdiff_t>(kUndoRecordSize);
    UndoRecordBytes record{};
    std::copy(recordStart, bytes.end(), record.begin());
    EXPECT_TRUE(DecodeUndoRecord(record).has_value()) << undoFile << " ends in no record";
    return Bytes(bytes.begin(), recordStart);
}

std::vector<std::string> OurTemporaryNames(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const std::string& name : FolderNames(folder)) {
        if (IsOurTemporaryName(name)) {
            names.push_back(name);
        }
    }
    return names;
}

std::uint8_t ReferenceOffset(std::uint64_t i, std::uint32_t k) {
    const std::uint64_t a = (i + 2) % k;
    const std::uint64_t b = (i + 1) % k;
    return static_cast<std::uint8_t>(a * b % k);
}

Bytes ReferenceEncrypt(const Bytes& plain, std::uint32_t k) {
    Bytes out(plain.size());
    for (std::size_t j = 0; j < plain.size(); ++j) {
        out[j] = static_cast<std::uint8_t>((plain[j] + ReferenceOffset(j + 1, k)) % 256);
    }
    return out;
}

}  // namespace kestrove::testing
