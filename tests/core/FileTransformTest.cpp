#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <stop_token>

#include "FileTransform.h"
#include "FileTransformDetail.h"
#include "TestPlatform.h"
#include "TextCodec.h"
#include "TransformTestSupport.h"

namespace kestrove {
namespace {

namespace fs = std::filesystem;
using detail::TransformFileWith;
using detail::TransformSettings;
using detail::WriteStage;
using testing::AccessDeniedError;
using testing::Bytes;
using testing::ExpectFailedWith;
using testing::FileModeOf;
using testing::FolderAsFileFailure;
using testing::FolderNames;
using testing::InUseError;
using testing::MakeReadOnly;
using testing::NotFoundError;
using testing::RandomBytes;
using testing::ReadBytes;
using testing::ReferenceEncrypt;
using testing::ReferenceOffset;
using testing::ScratchFolder;
using testing::WriteBytes;

TransformSettings SmallBlocks(std::size_t blockSize) {
    TransformSettings settings;
    settings.blockSize = blockSize;
    return settings;
}

FileOutcome Encrypt(const fs::path& path, std::int32_t key, const TransformSettings& settings) {
    return TransformFileWith(path, Direction::Encrypt, key, {}, settings);
}

FileOutcome Decrypt(const fs::path& path, std::int32_t key, const TransformSettings& settings) {
    return TransformFileWith(path, Direction::Decrypt, key, {}, settings);
}

// Blocks of 64 bytes over 1000 bytes: every key sees block boundaries at many phases of its period.
TEST(FileTransformCipher, RoundTripsForEveryKeyAcrossBlockBoundaries) {
    ScratchFolder folder;
    const fs::path file = folder / "data.bin";
    const Bytes plain = RandomBytes(1000, 7);
    for (std::int32_t key = 10; key <= 165; ++key) {
        WriteBytes(file, plain);
        ASSERT_TRUE(Encrypt(file, key, SmallBlocks(64)).ok()) << "key " << key;
        ASSERT_EQ(ReadBytes(file), ReferenceEncrypt(plain, static_cast<std::uint32_t>(key)))
            << "key " << key;
        ASSERT_TRUE(Decrypt(file, key, SmallBlocks(64)).ok()) << "key " << key;
        ASSERT_EQ(ReadBytes(file), plain) << "key " << key;
    }
    EXPECT_EQ(FolderNames(folder.path()), std::vector<std::string>{"data.bin"});
}

TEST(FileTransformCipher, LengthsAroundTheBlockSizeKeepTheirLength) {
    ScratchFolder folder;
    const fs::path file = folder / "data.bin";
    for (const std::size_t length : {1u, 63u, 64u, 65u, 128u, 129u, 1000u}) {
        const Bytes plain = RandomBytes(length, static_cast<std::uint32_t>(length));
        WriteBytes(file, plain);
        ASSERT_TRUE(Encrypt(file, 97, SmallBlocks(64)).ok());
        EXPECT_EQ(fs::file_size(file), length);
        EXPECT_EQ(ReadBytes(file), ReferenceEncrypt(plain, 97)) << "length " << length;
        ASSERT_TRUE(Decrypt(file, 97, SmallBlocks(64)).ok());
        EXPECT_EQ(ReadBytes(file), plain) << "length " << length;
    }
}

// The first byte is index 1 (offset 6 for every key of 7 or more), never index 0 (offset 2).
TEST(FileTransformCipher, ZeroFileEncryptsToTheKeystreamFromIndexOne) {
    ScratchFolder folder;
    const fs::path file = folder / "zeros.bin";
    WriteBytes(file, Bytes(12, 0));
    ASSERT_TRUE(EncryptFile(file, 10).ok());
    EXPECT_EQ(ReadBytes(file), (Bytes{6, 2, 0, 0, 2, 6, 2, 0, 0, 2, 6, 2}));
    ASSERT_TRUE(DecryptFile(file, 10).ok());
    EXPECT_EQ(ReadBytes(file), Bytes(12, 0));
    ASSERT_TRUE(DecryptFile(file, 10).ok());  // a plain file decrypts silently into scramble
    EXPECT_EQ(ReadBytes(file), (Bytes{250, 254, 0, 0, 254, 250, 254, 0, 0, 254, 250, 254}));

    WriteBytes(file, Bytes(5000, 0));
    ASSERT_TRUE(EncryptFile(file, 165).ok());
    const Bytes stream = ReadBytes(file);
    for (std::size_t j = 0; j < stream.size(); ++j) {
        ASSERT_EQ(stream[j], ReferenceOffset(j + 1, 165)) << "offset " << j;
    }
}

TEST(FileTransformCipher, BytesWhereTheKeyDividesTheNextPositionsStayPut) {
    ScratchFolder folder;
    const fs::path file = folder / "data.bin";
    const Bytes plain = RandomBytes(3000, 11);
    WriteBytes(file, plain);
    const std::uint64_t key = 37;
    ASSERT_TRUE(EncryptFile(file, key).ok());
    const Bytes encrypted = ReadBytes(file);
    std::size_t kept = 0;
    std::size_t changed = 0;
    for (std::size_t j = 0; j < plain.size(); ++j) {
        const std::uint64_t i = j + 1;
        if ((i + 1) % key == 0 || (i + 2) % key == 0) {
            EXPECT_EQ(encrypted[j], plain[j]) << "offset " << j;
            ++kept;
        } else if (encrypted[j] != plain[j]) {
            ++changed;
        }
    }
    // 37 is prime: the offset is 0 exactly where a factor is, and every other byte changes.
    EXPECT_EQ(kept, 81u + 81u);
    EXPECT_EQ(changed, plain.size() - kept);
}

// More than two default blocks, through the public functions.
TEST(FileTransformCipher, LargeFileRoundTripsWithDefaultBlocks) {
    ScratchFolder folder;
    const fs::path file = folder / "large.bin";
    const Bytes plain = RandomBytes(2 * detail::kDefaultBlockSize + 12345, 3);
    WriteBytes(file, plain);
    ASSERT_TRUE(TransformFile(file, Direction::Encrypt, 123).ok());
    EXPECT_EQ(ReadBytes(file), ReferenceEncrypt(plain, 123));
    ASSERT_TRUE(TransformFile(file, Direction::Decrypt, 123).ok());
    EXPECT_EQ(ReadBytes(file), plain);
}

TEST(FileTransformCipher, KeysOutsideTheRangeFailWithoutTouchingTheFile) {
    ScratchFolder folder;
    const fs::path file = folder / "data.bin";
    const Bytes plain = RandomBytes(100, 5);
    WriteBytes(file, plain);
    for (const std::int32_t key : {0, -1, 258, 32768}) {
        ExpectFailedWith(EncryptFile(file, key), Failure::Of(Problem::InvalidKey));
        ExpectFailedWith(DecryptFile(file, key), Failure::Of(Problem::InvalidKey));
    }
    EXPECT_EQ(ReadBytes(file), plain);
    EXPECT_TRUE(EncryptFile(file, 1).ok());  // key 1: every offset is 0
    EXPECT_EQ(ReadBytes(file), plain);
}

TEST(FileTransformCipher, ChineseFileNameWorks) {
    ScratchFolder folder;
    const fs::path file = folder.path() / fs::path(u8"加密 文件.txt");
    const Bytes plain = RandomBytes(300, 9);
    WriteBytes(file, plain);
    ASSERT_TRUE(EncryptFile(file, 50).ok());
    EXPECT_EQ(ReadBytes(file), ReferenceEncrypt(plain, 50));
}

TEST(FileTransformInputs, EmptyFileIsLeftAloneEvenWhenReadOnly) {
    ScratchFolder folder;
    const fs::path file = folder / "empty.txt";
    WriteBytes(file, {});
    MakeReadOnly(file);
    const FileOutcome outcome = EncryptFile(file, 10);
    EXPECT_TRUE(outcome.ok());
    EXPECT_FALSE(outcome.failure.has_value());
    EXPECT_EQ(fs::file_size(file), 0u);
    EXPECT_EQ(FolderNames(folder.path()), std::vector<std::string>{"empty.txt"});
}

TEST(FileTransformInputs, MissingPathAndFolderFailWithThePlatformWording) {
    ScratchFolder folder;
    const FileOutcome missing = EncryptFile(folder / "nothing.txt", 10);
    ExpectFailedWith(missing, SystemErrorText(NotFoundError()));
    EXPECT_EQ(missing.failure->path, folder / "nothing.txt");
    fs::create_directory(folder / "sub");
    ExpectFailedWith(DecryptFile(folder / "sub", 10), FolderAsFileFailure());
    EXPECT_EQ(FolderNames(folder.path()), std::vector<std::string>{"sub"});
    EXPECT_TRUE(FolderNames(folder / "sub").empty());
}

// No write permission bit at all (the read-only attribute on Windows) is read-only, also for root
// or an administrator, who could open it for writing.
TEST(FileTransformInputs, ReadOnlyFileFailsAndStaysUnchanged) {
    ScratchFolder folder;
    const fs::path file = folder / "locked.txt";
    const Bytes plain = RandomBytes(500, 1);
    WriteBytes(file, plain);
    MakeReadOnly(file);
    const std::uint32_t mode = FileModeOf(file);
    ExpectFailedWith(EncryptFile(file, 10), SystemErrorText(AccessDeniedError()));
    EXPECT_EQ(ReadBytes(file), plain);
    EXPECT_EQ(FileModeOf(file), mode);
    EXPECT_EQ(FolderNames(folder.path()), std::vector<std::string>{"locked.txt"});
}

TEST(FileTransformFailures, InjectedWriteFailureLeavesTheOriginalAndNoTemporaryFile) {
    ScratchFolder folder;
    const fs::path file = folder / "data.bin";
    const Bytes plain = RandomBytes(1000, 8);
    WriteBytes(file, plain);
    TransformSettings settings = SmallBlocks(100);
    settings.beforeWrite = [](WriteStage stage, std::uint64_t offset) -> platform::IoStatus {
        EXPECT_EQ(stage, WriteStage::NewContent);
        if (offset >= 500) {
            return platform::IoError{u"disk full"};
        }
        return std::nullopt;
    };
    ExpectFailedWith(Encrypt(file, 10, settings), u"disk full");
    EXPECT_EQ(ReadBytes(file), plain);
    EXPECT_EQ(FolderNames(folder.path()), std::vector<std::string>{"data.bin"});
}

TEST(FileTransformFailures, RefusedRenameLeavesTheOriginalAndNoTemporaryFile) {
    ScratchFolder folder;
    const fs::path file = folder / "data.bin";
    const Bytes plain = RandomBytes(1000, 8);
    WriteBytes(file, plain);
    TransformSettings settings = SmallBlocks(100);
    settings.beforeReplace = []() -> platform::IoStatus {
        return platform::ErrorFromCode(InUseError());
    };
    ExpectFailedWith(Encrypt(file, 10, settings), SystemErrorText(InUseError()));
    EXPECT_EQ(ReadBytes(file), plain);
    EXPECT_EQ(FolderNames(folder.path()), std::vector<std::string>{"data.bin"});
}

TEST(FileTransformFailures, StopMidFileKeepsTheOriginalAndRemovesTheTemporaryFile) {
    ScratchFolder folder;
    const fs::path file = folder / "data.bin";
    const Bytes plain = RandomBytes(1000, 8);
    WriteBytes(file, plain);
    std::stop_source stop;
    TransformSettings settings = SmallBlocks(100);
    int writes = 0;
    settings.beforeWrite = [&](WriteStage, std::uint64_t offset) -> platform::IoStatus {
        ++writes;
        if (offset == 300) {
            stop.request_stop();
        }
        return std::nullopt;
    };
    const FileOutcome outcome =
        TransformFileWith(file, Direction::Encrypt, 10, stop.get_token(), settings);
    EXPECT_EQ(outcome.kind, FileOutcome::Kind::Stopped);
    EXPECT_EQ(writes, 4);  // honoured at the next block
    EXPECT_EQ(ReadBytes(file), plain);
    EXPECT_EQ(FolderNames(folder.path()), std::vector<std::string>{"data.bin"});

    EXPECT_EQ(EncryptFile(file, 10, stop.get_token()).kind, FileOutcome::Kind::Stopped);
    EXPECT_EQ(ReadBytes(file), plain);
}

// A run of files in one folder, then one in another: each folder is synced once, when the run
// leaves it or at the end, and a failed file adds nothing.
TEST(FileTransformFolderSyncs, EachFolderIsSyncedOnceWhenTheRunLeavesIt) {
    ScratchFolder folder;
    fs::create_directory(folder / "a");
    fs::create_directory(folder / "b");
    std::vector<fs::path> synced;
    FolderSyncBatch batch([&synced](const fs::path& path) { synced.push_back(path); });
    const Bytes plain = RandomBytes(300, 3);
    for (const char* name : {"a/1.bin", "a/2.bin", "a/3.bin"}) {
        WriteBytes(folder / name, plain);
        ASSERT_TRUE(TransformFile(folder / name, Direction::Encrypt, 77, {}, &batch).ok());
    }
    EXPECT_TRUE(synced.empty());
    EXPECT_FALSE(TransformFile(folder / "a/missing.bin", Direction::Encrypt, 77, {}, &batch).ok());
    WriteBytes(folder / "b/1.bin", plain);
    ASSERT_TRUE(TransformFile(folder / "b/1.bin", Direction::Encrypt, 77, {}, &batch).ok());
    ASSERT_EQ(synced.size(), 1u);
    EXPECT_TRUE(fs::equivalent(synced[0], folder / "a"));
    batch.Flush();
    ASSERT_EQ(synced.size(), 2u);
    EXPECT_TRUE(fs::equivalent(synced[1], folder / "b"));
    batch.Flush();
    EXPECT_EQ(synced.size(), 2u);
    for (const char* name : {"a/1.bin", "a/2.bin", "a/3.bin", "b/1.bin"}) {
        EXPECT_EQ(ReadBytes(folder / name), ReferenceEncrypt(plain, 77)) << name;
    }
}

TEST(FileTransformFolderSyncs, ABatchLeftPendingIsSyncedWhenItGoes) {
    ScratchFolder folder;
    std::vector<fs::path> synced;
    WriteBytes(folder / "x.bin", RandomBytes(10, 4));
    {
        FolderSyncBatch batch([&synced](const fs::path& path) { synced.push_back(path); });
        ASSERT_TRUE(TransformFile(folder / "x.bin", Direction::Decrypt, 50, {}, &batch).ok());
    }
    ASSERT_EQ(synced.size(), 1u);
    EXPECT_TRUE(fs::equivalent(synced[0], folder.path()));
}

}  // namespace
}  // namespace kestrove
