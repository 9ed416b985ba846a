// Crash leftovers of real, killed processes, cleaned by the next run over their folder; the same
// cases on every platform.
#include <gtest/gtest.h>

#include <fstream>
#include <memory>

#include "FileTransform.h"
#include "Leftovers.h"
#include "PathInfo.h"
#include "StalledTransform.h"
#include "TemporaryName.h"
#include "TextCodec.h"
#include "TestPlatform.h"
#include "TransformTestSupport.h"

namespace kestrove {
namespace {

namespace fs = std::filesystem;
using detail::WriteStage;
using testing::Bytes;
using testing::FolderNames;
using testing::kStalledKey;
using testing::MakeReadOnly;
using testing::OldContentOf;
using testing::OurTemporaryNames;
using testing::RandomBytes;
using testing::ReadBytes;
using testing::ReferenceEncrypt;
using testing::ScratchFolder;
using testing::StalledTransform;
using testing::WriteBytes;

constexpr std::size_t kBlock = 4096;

TEST(Leftovers, KilledTransformsLeaveLeftoversThatTheNextRunRemoves) {
    ScratchFolder folder;
    std::vector<Bytes> plain;
    // All three run at once: each would deal with the others' leftovers first, were they dead.
    std::vector<std::unique_ptr<StalledTransform>> running;
    for (const char* name : {"a.bin", "b.bin", "c.bin"}) {
        plain.push_back(RandomBytes(8 * kBlock, static_cast<std::uint32_t>(plain.size() + 1)));
        WriteBytes(folder / name, plain.back());
        running.push_back(
            std::make_unique<StalledTransform>(folder / name, WriteStage::NewContent, 4 * kBlock,
                                               kBlock));
    }
    for (auto& transform : running) {
        transform->Kill();
    }
    ASSERT_EQ(OurTemporaryNames(folder.path()).size(), 3u);
    // Names that only look like ours.
    WriteBytes(folder / "notes.new", Bytes{1});
    WriteBytes(folder / ".kestrove-short.new", Bytes{2});
    fs::create_directory(folder / ".kestrove-abcdefghijkl.new");

    EXPECT_FALSE(CleanLeftoversBeside(folder / "b.bin").has_value());

    EXPECT_EQ(FolderNames(folder.path()),
              (std::vector<std::string>{".kestrove-abcdefghijkl.new", ".kestrove-short.new",
                                        "a.bin", "b.bin", "c.bin", "notes.new"}));
    EXPECT_EQ(ReadBytes(folder / "a.bin"), plain[0]);
    EXPECT_EQ(ReadBytes(folder / "b.bin"), plain[1]);
    EXPECT_EQ(ReadBytes(folder / "c.bin"), plain[2]);
    EXPECT_EQ(ReadBytes(folder / "notes.new"), Bytes{1});
}

TEST(Leftovers, TemporaryOfALiveTransformIsLeftAloneUntilItsProcessDies) {
    ScratchFolder folder;
    const fs::path file = folder / "data.bin";
    const Bytes plain = RandomBytes(6 * kBlock, 9);
    WriteBytes(file, plain);
    StalledTransform running(file, WriteStage::NewContent, 2 * kBlock, kBlock);
    const std::vector<std::string> held = OurTemporaryNames(folder.path());
    ASSERT_EQ(held.size(), 1u);

    EXPECT_EQ(CleanLeftover(folder / held.front()).fate, LeftoverFate::InUse);
    EXPECT_FALSE(CleanLeftoversBeside(file).has_value());  // new content only: no file blocked
    EXPECT_EQ(OurTemporaryNames(folder.path()), held);

    running.Kill();
    EXPECT_EQ(CleanLeftover(folder / held.front()).fate, LeftoverFate::Removed);
    EXPECT_EQ(FolderNames(folder.path()), std::vector<std::string>{"data.bin"});
    EXPECT_EQ(ReadBytes(file), plain);
}

TEST(Leftovers, EarlierVersionsTemporariesAreKept) {
    ScratchFolder folder;
    const fs::path unmarked = folder / ".kestrove-abcdefghijkl.tmp";
    WriteBytes(unmarked, Bytes{7, 8, 9});
    EXPECT_EQ(CleanLeftover(unmarked).fate, LeftoverFate::Kept);
    (void)CleanLeftoversBeside(unmarked);
    EXPECT_EQ(ReadBytes(unmarked), (Bytes{7, 8, 9}));
}

// A file with three names, whose in-place rewrite was killed half-way: its undo file is the only
// whole copy of the old content.
class KilledInPlaceRewrite : public testing::ThreeNamedFile {
  protected:
    void SetUp() override {
        ThreeNamedFile::SetUp();
        StalledTransform(m_first, WriteStage::InPlace, 5 * kBlock, kBlock).Kill();
        const std::vector<std::string> names = OurTemporaryNames(m_folder.path());
        ASSERT_EQ(names.size(), 1u);
        ASSERT_EQ(ParseTemporaryName(names.front()).kind, TemporaryKind::Undo);
        m_backup = m_folder / names.front();
        ASSERT_EQ(OldContentOf(m_backup), m_plain);
        ASSERT_NE(ReadBytes(m_first), m_plain);
    }

    void ExpectBackupKept() {
        EXPECT_EQ(OurTemporaryNames(m_folder.path()),
                  std::vector<std::string>{m_backup.filename().string()});
        EXPECT_EQ(OldContentOf(m_backup), m_plain);
    }

    fs::path m_backup;
};

TEST_F(KilledInPlaceRewrite, NextRunPutsTheOldContentBack) {
    EXPECT_EQ(CleanLeftover(m_backup).fate, LeftoverFate::Restored);
    EXPECT_EQ(ReadBytes(m_first), m_plain);
    EXPECT_EQ(ReadBytes(m_second), m_plain);
    EXPECT_EQ(ReadBytes(m_third), m_plain);
    // Still one file under three names (std::filesystem's link count says 1 on Windows).
    EXPECT_EQ(IdentifyFile(m_first), IdentifyFile(m_second));
    EXPECT_EQ(IdentifyFile(m_first), IdentifyFile(m_third));
    EXPECT_TRUE(OurTemporaryNames(m_folder.path()).empty());
    // And the file can be transformed again, whole.
    ASSERT_TRUE(EncryptFile(m_third, kStalledKey).ok());
    EXPECT_EQ(ReadBytes(m_first), ReferenceEncrypt(m_plain, kStalledKey));
}

TEST_F(KilledInPlaceRewrite, BackupIsKeptWhenItsFileChangedLength) {
    {
        std::ofstream grow(m_second, std::ios::binary | std::ios::app);
        grow.put('x');
    }
    const Bytes changed = ReadBytes(m_first);
    EXPECT_EQ(CleanLeftover(m_backup).fate, LeftoverFate::Kept);
    // Kept, and the file is not written while it is.
    const platform::IoStatus blocked = CleanLeftoversBeside(m_first);
    ASSERT_TRUE(blocked.has_value());
    EXPECT_NE(blocked->description.find(PathText(m_backup)), std::u16string::npos);
    EXPECT_EQ(EncryptFile(m_second, kStalledKey).kind, FileOutcome::Kind::Failed);
    ExpectBackupKept();
    EXPECT_EQ(ReadBytes(m_first), changed);
}

TEST_F(KilledInPlaceRewrite, BackupIsKeptWhenItsFileIsNoLongerInItsFolder) {
    const Bytes half = ReadBytes(m_third);
    fs::remove(m_first);
    fs::remove(m_second);
    EXPECT_EQ(CleanLeftover(m_backup).fate, LeftoverFate::Kept);
    ExpectBackupKept();
    EXPECT_EQ(ReadBytes(m_third), half);
}

TEST_F(KilledInPlaceRewrite, BackupIsKeptWhenItsFileIsNowReadOnly) {
    const Bytes half = ReadBytes(m_first);
    MakeReadOnly(m_first);
    // It cannot be put back: kept, and the file is not written while it is.
    const LeftoverResult result = CleanLeftover(m_backup);
    EXPECT_EQ(result.fate, LeftoverFate::Failed);
    EXPECT_TRUE(result.blocksFile.has_value());
    ExpectBackupKept();
    EXPECT_EQ(ReadBytes(m_first), half);
}

}  // namespace
}  // namespace kestrove
