#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <stop_token>
#include <thread>

#include "ChildProcess.h"
#include "FaultInjection.h"
#include "FileTransform.h"
#include "FileTransformDetail.h"
#include "Leftovers.h"
#include "TemporaryName.h"
#include "TextCodec.h"
#include "TransformTestSupport.h"

namespace kestrove {
namespace {

namespace fs = std::filesystem;
using detail::TransformFileWith;
using detail::TransformSettings;
using detail::WriteStage;
using testing::Bytes;
using testing::FolderNames;
using testing::kDoneCode;
using testing::kFailedCode;
using testing::OldContentOf;
using testing::OurTemporaryNames;
using testing::OutcomeCode;
using testing::RandomBytes;
using testing::ReadBytes;
using testing::ReferenceEncrypt;
using testing::RunAndKillWhenReady;
using testing::RunInChild;
using testing::ScratchFolder;
using testing::WriteBytes;

constexpr std::size_t kBlock = 4096;

// Failing writes of one stage from a given offset on.
TransformSettings FailFrom(WriteStage failing, std::uint64_t from) {
    TransformSettings settings;
    settings.blockSize = kBlock;
    settings.beforeWrite = [=](WriteStage stage, std::uint64_t offset) -> platform::IoStatus {
        if (stage == failing && offset >= from) {
            return platform::IoError{u"injected"};
        }
        return std::nullopt;
    };
    return settings;
}

ino_t InodeOf(const fs::path& path) {
    struct stat info {};
    EXPECT_EQ(::stat(path.c_str(), &info), 0);
    return info.st_ino;
}

class HardLinkedFile : public testing::ThreeNamedFile {
  protected:
    void ExpectAllLinksHold(const Bytes& content) {
        EXPECT_EQ(ReadBytes(m_first), content);
        EXPECT_EQ(ReadBytes(m_second), content);
        EXPECT_EQ(ReadBytes(m_third), content);
        EXPECT_EQ(fs::hard_link_count(m_first), 3u);
    }
};

TEST_F(HardLinkedFile, EveryLinkSeesTheChange) {
    const ino_t inode = InodeOf(m_first);
    ASSERT_TRUE(EncryptFile(m_first, 77).ok());
    ExpectAllLinksHold(ReferenceEncrypt(m_plain, 77));
    EXPECT_EQ(InodeOf(m_first), inode);
    EXPECT_TRUE(OurTemporaryNames(m_folder.path()).empty());
    ASSERT_TRUE(DecryptFile(m_third, 77).ok());
    ExpectAllLinksHold(m_plain);
    EXPECT_TRUE(OurTemporaryNames(m_folder / "sub").empty());
}

TEST_F(HardLinkedFile, FailureWhileRewritingPutsTheOldContentBack) {
    const FileOutcome outcome = TransformFileWith(m_second, Direction::Encrypt, 77, {},
                                                  FailFrom(WriteStage::InPlace, 5 * kBlock));
    EXPECT_EQ(outcome.kind, FileOutcome::Kind::Failed);
    EXPECT_EQ(outcome.failure->description, u"injected");
    ExpectAllLinksHold(m_plain);
    EXPECT_TRUE(OurTemporaryNames(m_folder.path()).empty());
}

TEST_F(HardLinkedFile, FailureWhileSavingTheBackupChangesNothing) {
    const FileOutcome outcome = TransformFileWith(m_first, Direction::Encrypt, 77, {},
                                                  FailFrom(WriteStage::Backup, 3 * kBlock));
    EXPECT_EQ(outcome.kind, FileOutcome::Kind::Failed);
    ExpectAllLinksHold(m_plain);
    EXPECT_TRUE(OurTemporaryNames(m_folder.path()).empty());
}

TEST_F(HardLinkedFile, StopWhileRewritingPutsTheOldContentBack) {
    std::stop_source stop;
    TransformSettings settings;
    settings.blockSize = kBlock;
    settings.beforeWrite = [&](WriteStage stage, std::uint64_t offset) -> platform::IoStatus {
        if (stage == WriteStage::InPlace && offset == 4 * kBlock) {
            stop.request_stop();
        }
        return std::nullopt;
    };
    const FileOutcome outcome =
        TransformFileWith(m_first, Direction::Encrypt, 77, stop.get_token(), settings);
    EXPECT_EQ(outcome.kind, FileOutcome::Kind::Stopped);
    ExpectAllLinksHold(m_plain);
    EXPECT_TRUE(OurTemporaryNames(m_folder.path()).empty());
}

// When even the way back fails, the backup is the only full copy: it stays, and the text says
// where.
TEST_F(HardLinkedFile, FailedRestoreKeepsTheBackupAndNamesIt) {
    TransformSettings settings = FailFrom(WriteStage::InPlace, 5 * kBlock);
    const auto failInPlace = settings.beforeWrite;
    settings.beforeWrite = [=](WriteStage stage, std::uint64_t offset) -> platform::IoStatus {
        if (stage == WriteStage::Restore) {
            return platform::IoError{u"restore failed"};
        }
        return failInPlace(stage, offset);
    };
    const FileOutcome outcome = TransformFileWith(m_first, Direction::Encrypt, 77, {}, settings);
    EXPECT_EQ(outcome.kind, FileOutcome::Kind::Failed);
    const std::vector<std::string> kept = OurTemporaryNames(m_folder.path());
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(OldContentOf(m_folder / kept.front()), m_plain);
    EXPECT_EQ(outcome.failure->description, u"injected");
    EXPECT_EQ(outcome.failure->note, CopyNote::OldContentKeptIn);
    EXPECT_EQ(outcome.failure->copy.filename(), kept.front());
}

TEST_F(HardLinkedFile, KilledWhileRewritingLeavesTheOldContentInTheBackup) {
    ASSERT_TRUE(RunAndKillWhenReady([&](const std::function<void()>& ready) {
        TransformSettings settings;
        settings.blockSize = kBlock;
        settings.beforeWrite = [&](WriteStage stage, std::uint64_t offset) -> platform::IoStatus {
            if (stage == WriteStage::InPlace && offset == 5 * kBlock) {
                ready();
            }
            return std::nullopt;
        };
        (void)TransformFileWith(m_first, Direction::Encrypt, 77, {}, settings);
    }));
    const std::vector<std::string> kept = OurTemporaryNames(m_folder.path());
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(OldContentOf(m_folder / kept.front()), m_plain);
    EXPECT_NE(ReadBytes(m_first), m_plain);  // half rewritten: the undo file is what recovers it
}

TEST(FileCrashSafety, KilledWhileWritingLeavesTheOldContentAndOneTemporaryFile) {
    ScratchFolder folder;
    const fs::path file = folder / "large.bin";
    const Bytes plain = RandomBytes(4 << 20, 5);
    WriteBytes(file, plain);
    ASSERT_TRUE(RunAndKillWhenReady([&](const std::function<void()>& ready) {
        TransformSettings settings;
        settings.blockSize = 64 << 10;
        settings.beforeWrite = [&](WriteStage, std::uint64_t offset) -> platform::IoStatus {
            if (offset == (2u << 20)) {
                ready();
            }
            return std::nullopt;
        };
        (void)TransformFileWith(file, Direction::Encrypt, 99, {}, settings);
    }));
    EXPECT_EQ(ReadBytes(file), plain);
    const std::vector<std::string> names = FolderNames(folder.path());
    ASSERT_EQ(names.size(), 2u);
    const std::vector<std::string> temporary = OurTemporaryNames(folder.path());
    ASSERT_EQ(temporary.size(), 1u);
    EXPECT_EQ(fs::status(folder / temporary.front()).permissions(), fs::perms(0600));
}

// A real write error from the system: the file size limit of a child process.
TEST(FileCrashSafety, RealWriteFailureLeavesTheOriginalAndNoTemporaryFile) {
    ScratchFolder folder;
    const fs::path file = folder / "data.bin";
    const Bytes plain = RandomBytes(256 << 10, 6);
    WriteBytes(file, plain);
    const auto result = RunInChild([&](std::string& text) {
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{64 << 10, 64 << 10};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        return OutcomeCode(EncryptFile(file, 10), text);
    });
    EXPECT_EQ(result.exitCode, kFailedCode);
    EXPECT_EQ(result.text, Utf16ToUtf8(SystemErrorText(EFBIG)));
    EXPECT_EQ(ReadBytes(file), plain);
    EXPECT_EQ(FolderNames(folder.path()), std::vector<std::string>{"data.bin"});
}

// A link, a pipe or a file with a second name under one of our names is not ours to remove.
TEST(LeftoversPosix, OnlyPlainFilesWithOneNameAreTakenForLeftovers) {
    ScratchFolder folder;
    WriteBytes(folder / "target.txt", Bytes{1, 2, 3});
    fs::create_symlink("target.txt", folder / ".kestrove-aaaaaaaaaaaa.new");
    ASSERT_EQ(::mkfifo((folder / ".kestrove-bbbbbbbbbbbb.new").c_str(), 0600), 0);
    fs::create_hard_link(folder / "target.txt", folder / ".kestrove-cccccccccccc.new");
    const std::vector<std::string> before = FolderNames(folder.path());
    for (const char* name : {".kestrove-aaaaaaaaaaaa.new", ".kestrove-bbbbbbbbbbbb.new",
                             ".kestrove-cccccccccccc.new"}) {
        EXPECT_EQ(CleanLeftover(folder / name).fate, LeftoverFate::NotOurs) << name;
    }
    EXPECT_FALSE(CleanLeftoversBeside(folder / "target.txt").has_value());
    EXPECT_EQ(FolderNames(folder.path()), before);
    EXPECT_EQ(ReadBytes(folder / "target.txt"), (Bytes{1, 2, 3}));
}

// A cleaner running all the time beside the transforms, as a second copy of the program would,
// never takes a temporary file that is being written, not even one it meets between its creation
// and its hold.
TEST(LeftoversPosix, CleanerRacingTheTransformsNeverCostsAFile) {
    ScratchFolder folder;
    constexpr int kFiles = 1000;
    const Bytes plain = RandomBytes(3000, 17);
    for (int i = 0; i < kFiles; ++i) {
        WriteBytes(folder / (std::to_string(i) + ".bin"), plain);
    }
    std::atomic<bool> done{false};
    std::thread cleaner([&] {
        while (!done) {
            (void)CleanLeftoversBeside(folder / "0.bin");
        }
    });
    std::vector<std::string> failures;
    for (int i = 0; i < kFiles; ++i) {
        const FileOutcome outcome = EncryptFile(folder / (std::to_string(i) + ".bin"), 10);
        if (!outcome.ok()) {
            failures.push_back(std::to_string(i) + ": " +
                               Utf16ToUtf8(outcome.failure ? outcome.failure->description : u""));
        }
    }
    done = true;
    cleaner.join();
    EXPECT_TRUE(failures.empty()) << failures.front();
    for (int i = 0; i < kFiles; ++i) {
        ASSERT_EQ(ReadBytes(folder / (std::to_string(i) + ".bin")), ReferenceEncrypt(plain, 10));
    }
    EXPECT_TRUE(OurTemporaryNames(folder.path()).empty());
}

TEST(FileTransformPosix, PermissionBitsAndOwnerSurvive) {
    ScratchFolder folder;
    const fs::path file = folder / "tool.sh";
    WriteBytes(file, RandomBytes(200, 2));
    ASSERT_EQ(::chmod(file.c_str(), 0751), 0);
    const bool root = ::geteuid() == 0;
    if (root) {
        ASSERT_EQ(::chown(file.c_str(), 12345, 23456), 0);
    }
    struct stat before {};
    ASSERT_EQ(::stat(file.c_str(), &before), 0);
    ASSERT_TRUE(EncryptFile(file, 10).ok());
    struct stat after {};
    ASSERT_EQ(::stat(file.c_str(), &after), 0);
    EXPECT_EQ(after.st_mode, before.st_mode);
    EXPECT_EQ(after.st_uid, before.st_uid);
    EXPECT_EQ(after.st_gid, before.st_gid);
    if (root) {
        EXPECT_EQ(after.st_uid, 12345u);
    }
}

// A large replaced file is let go of in the background: the new content is in place at once, and
// the descriptor that kept the old file alive is closed soon after, never leaked.
TEST(FileTransformPosix, LargeReplacedFileIsReleasedAfterwards) {
    ScratchFolder folder;
    const fs::path file = folder / "large.bin";
    const Bytes plain = RandomBytes((std::size_t{64} << 20) + 3, 5);
    WriteBytes(file, plain);
    const std::size_t before = testing::OpenDescriptorCount();
    struct stat old {};
    ASSERT_EQ(::stat(file.c_str(), &old), 0);
    ASSERT_TRUE(TransformFile(file, Direction::Encrypt, 99).ok());
    struct stat now {};
    ASSERT_EQ(::stat(file.c_str(), &now), 0);
    EXPECT_NE(now.st_ino, old.st_ino);
    EXPECT_EQ(ReadBytes(file), ReferenceEncrypt(plain, 99));
    EXPECT_EQ(FolderNames(folder.path()), std::vector<std::string>{"large.bin"});
    for (int wait = 0; wait < 200 && testing::OpenDescriptorCount() > before; ++wait) {
        ::usleep(50'000);
    }
    EXPECT_EQ(testing::OpenDescriptorCount(), before);
}

TEST(FileTransformPosix, SymlinkStaysALinkAndItsTargetChanges) {
    ScratchFolder folder;
    fs::create_directories(folder / "a");
    fs::create_directories(folder / "b");
    const Bytes plain = RandomBytes(700, 4);
    WriteBytes(folder / "b" / "target.txt", plain);
    fs::create_symlink("../b/target.txt", folder / "a" / "link.txt");
    fs::create_symlink("a/link.txt", folder / "chain.txt");

    ASSERT_TRUE(EncryptFile(folder / "chain.txt", 20).ok());
    EXPECT_TRUE(fs::is_symlink(folder / "a" / "link.txt"));
    EXPECT_EQ(fs::read_symlink(folder / "a" / "link.txt"), "../b/target.txt");
    EXPECT_TRUE(fs::is_symlink(folder / "chain.txt"));
    EXPECT_EQ(ReadBytes(folder / "b" / "target.txt"), ReferenceEncrypt(plain, 20));
    EXPECT_EQ(FolderNames(folder / "a"), std::vector<std::string>{"link.txt"});
    EXPECT_EQ(FolderNames(folder / "b"), std::vector<std::string>{"target.txt"});

    fs::create_symlink("b/gone.txt", folder / "dangling.txt");
    const FileOutcome dangling = EncryptFile(folder / "dangling.txt", 20);
    EXPECT_EQ(dangling.kind, FileOutcome::Kind::Failed);
    ASSERT_TRUE(dangling.failure.has_value());
    EXPECT_EQ(dangling.failure->description, SystemErrorText(ENOENT));
}

// The temporary file goes beside the file, so its folder must accept new files.
TEST(FileAccess, UnwritableFolderFailsAndChangesNothing) {
    ScratchFolder folder;
    fs::create_directory(folder / "shut");
    const fs::path file = folder / "shut" / "data.bin";
    const Bytes plain = RandomBytes(1000, 12);
    WriteBytes(file, plain);
    ASSERT_EQ(::chmod(file.c_str(), 0666), 0);
    ASSERT_EQ(::chmod((folder / "shut").c_str(), 0555), 0);
    ASSERT_EQ(::chmod(folder.path().c_str(), 0755), 0);
    const auto result = RunInChild(
        [&](std::string& text) { return OutcomeCode(EncryptFile(file, 10), text); }, true);
    EXPECT_EQ(result.exitCode, kFailedCode);
    EXPECT_EQ(result.text, Utf16ToUtf8(SystemErrorText(EACCES)));
    EXPECT_EQ(ReadBytes(file), plain);
    EXPECT_EQ(FolderNames(folder / "shut"), std::vector<std::string>{"data.bin"});
}

// A new file could not be given the owner, so the file is rewritten through its own inode instead.
TEST(FileAccess, FileOfAnotherOwnerKeepsItsOwner) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to make a file that belongs to another user";
    }
    ScratchFolder folder;
    const fs::path file = folder / "shared.bin";
    const Bytes plain = RandomBytes(3 * kBlock, 13);
    WriteBytes(file, plain);
    ASSERT_EQ(::chmod(file.c_str(), 0666), 0);
    ASSERT_EQ(::chmod(folder.path().c_str(), 0777), 0);
    const ino_t inode = InodeOf(file);
    const auto result = RunInChild(
        [&](std::string& text) { return OutcomeCode(EncryptFile(file, 10), text); }, true);
    EXPECT_EQ(result.exitCode, kDoneCode) << result.text;
    EXPECT_EQ(ReadBytes(file), ReferenceEncrypt(plain, 10));
    struct stat info {};
    ASSERT_EQ(::stat(file.c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, 0u);
    EXPECT_EQ(info.st_ino, inode);
    EXPECT_EQ(FolderNames(folder.path()), std::vector<std::string>{"shared.bin"});
}

}  // namespace
}  // namespace kestrove

namespace kestrove {
namespace {

// A file system that takes no locks (some network and FUSE ones) answers every lock so.
class NoLocks final : public platform::CallFaults {
  public:
    int Before(platform::SystemCall call) override {
        return call == platform::SystemCall::Lock ? ENOLCK : 0;
    }
};

// A process that surely ran once and has ended: a child that was started and waited for.
ProcessStamp EndedProcess() {
    const int pid = testing::StartChild([] {});
    ProcessStamp stamp{static_cast<std::uint64_t>(pid), 0};
    // Its start as the system counted it is gone with it; any start tells it from a later one.
    stamp.start = platform::CurrentProcess().start;
    (void)testing::KillChild(pid);
    return stamp;
}

// Without locks the maker named in a leftover is asked: one still running keeps it, one that
// ended lets it go, and one that cannot be named (an earlier version's) keeps it too.
TEST(LeftoversWithoutLocks, TheMakerNamedInTheLeftoverDecides) {
    ScratchFolder folder;
    const fs::path file = folder / "data.bin";
    const Bytes plain = RandomBytes(5000, 41);
    WriteBytes(file, plain);
    const ProcessStamp ended = EndedProcess();
    ASSERT_EQ(platform::LifeOf(ended), platform::ProcessLife::Ended);
    ASSERT_EQ(platform::LifeOf(platform::CurrentProcess()), platform::ProcessLife::Running);
    const fs::path dead = folder / MakeTemporaryName(ended);
    const fs::path alive = folder / MakeTemporaryName(platform::CurrentProcess());
    const fs::path unnamed = folder / ".kestrove-abcdefghijkl.new";
    for (const fs::path& leftover : {dead, alive, unnamed}) {
        WriteBytes(leftover, Bytes{1, 2, 3});
    }
    NoLocks noLocks;
    {
        const testing::FaultsInPlace inPlace(noLocks);
        EXPECT_EQ(CleanLeftover(alive).fate, LeftoverFate::InUse);
        EXPECT_EQ(CleanLeftover(unnamed).fate, LeftoverFate::InUse);
        // A transform there works as anywhere, and deals with the dead maker's leftover first.
        ASSERT_TRUE(EncryptFile(file, 10).ok());
    }
    EXPECT_EQ(ReadBytes(file), ReferenceEncrypt(plain, 10));
    EXPECT_FALSE(fs::exists(dead));
    EXPECT_TRUE(fs::exists(alive));
    EXPECT_TRUE(fs::exists(unnamed));
}

// The undo file of a rewrite killed half-way, on a file system without locks: its record names
// the maker, which has ended, so the next run puts the old content back.
TEST(LeftoversWithoutLocks, AnUndoFileOfAnEndedMakerIsPutBack) {
    ScratchFolder folder;
    const fs::path file = folder / "linked.bin";
    const Bytes plain = RandomBytes(10 * 4096 + 7, 42);
    WriteBytes(file, plain);
    fs::create_hard_link(file, folder / "again.bin");
    NoLocks noLocks;
    const testing::FaultsInPlace inPlace(noLocks);
    ASSERT_TRUE(RunAndKillWhenReady([&](const std::function<void()>& ready) {
        TransformSettings settings;
        settings.blockSize = 4096;
        settings.beforeWrite = [&](WriteStage stage, std::uint64_t offset) -> platform::IoStatus {
            if (stage == WriteStage::InPlace && offset == 5 * 4096) {
                ready();
            }
            return std::nullopt;
        };
        (void)TransformFileWith(file, Direction::Encrypt, 77, {}, settings);
    }));
    ASSERT_EQ(OurTemporaryNames(folder.path()).size(), 1u);
    ASSERT_NE(ReadBytes(file), plain);
    ASSERT_TRUE(EncryptFile(folder / "again.bin", 77).ok());
    EXPECT_EQ(ReadBytes(file), ReferenceEncrypt(plain, 77));
    EXPECT_TRUE(OurTemporaryNames(folder.path()).empty());
}

}  // namespace
}  // namespace kestrove
