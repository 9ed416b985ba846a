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
#include "TestPlatform.h"
#include "TextCodec.h"
#include "TransformTestSupport.h"
#include "UndoJournal.h"

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
        running.push_back(std::make_unique<StalledTransform>(folder / name, WriteStage::NewContent,
                                                             4 * kBlock, kBlock));
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
    EXPECT_EQ(blocked->problem, Problem::ChangedSinceInterrupted);
    EXPECT_EQ(blocked->note, CopyNote::OldContentKeptIn);
    EXPECT_EQ(blocked->copy, m_backup);
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
    EXPECT_EQ(result.blocks.size(), 1u);
    ExpectBackupKept();
    EXPECT_EQ(ReadBytes(m_first), half);
}

}  // namespace
}  // namespace kestrove

namespace kestrove {
namespace {

namespace fs = std::filesystem;
using testing::Bytes;
using testing::kStalledKey;
using testing::OurTemporaryNames;
using testing::RandomBytes;
using testing::ReadBytes;
using testing::ReferenceEncrypt;
using testing::ScratchFolder;
using testing::WriteBytes;

// What a crash leaves of a batch of small files written over in place: their journal, and each
// file as far as the batch got.
class CrashedJournal : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* name : {"a.txt", "b.txt", "c.txt", "d.txt"}) {
            m_files.push_back(m_folder / name);
            m_old.push_back(RandomBytes(3000, static_cast<std::uint32_t>(m_files.size() + 60)));
            WriteBytes(m_files.back(), m_old.back());
        }
    }

    fs::path WriteJournal(bool committed) {
        std::vector<JournalEntry> entries;
        for (std::size_t i = 0; i < m_files.size(); ++i) {
            entries.push_back(
                {IdentifyFile(m_files[i])->index, m_files[i].filename().native(), m_old[i]});
        }
        const std::string name = JournalNameOf(".kestrove-abcdefghijkl.1-2.new");
        const fs::path journal = m_folder / (committed ? CommittedNameOf(name) : name);
        const auto bytes = EncodeJournal({Direction::Encrypt, kStalledKey, {}}, entries);
        WriteBytes(journal, Bytes(bytes.begin(), bytes.end()));
        return journal;
    }

    Bytes New(std::size_t i) const { return ReferenceEncrypt(m_old[i], kStalledKey); }

    ScratchFolder m_folder;
    std::vector<fs::path> m_files;
    std::vector<Bytes> m_old;
};

// Not committed: the files written (a, and b torn by a power cut) get their old content back.
TEST_F(CrashedJournal, NotCommittedPutsTheOldContentBack) {
    const fs::path journal = WriteJournal(false);
    WriteBytes(m_files[0], New(0));
    Bytes torn = New(1);
    std::copy(m_old[1].begin() + 1000, m_old[1].end(), torn.begin() + 1000);
    WriteBytes(m_files[1], torn);
    fs::rename(m_files[3], m_folder / "renamed.txt");  // found again by its index
    const LeftoverResult result = CleanLeftover(journal);
    EXPECT_EQ(result.fate, LeftoverFate::Restored);
    EXPECT_TRUE(result.blocks.empty());
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(ReadBytes(m_files[i]), m_old[i]) << i;
    }
    EXPECT_EQ(ReadBytes(m_folder / "renamed.txt"), m_old[3]);
    EXPECT_TRUE(OurTemporaryNames(m_folder.path()).empty());
}

// Committed: the files hold their new content, which stays; only the journal goes.
TEST_F(CrashedJournal, CommittedLeavesTheFilesAsTheyAre) {
    const fs::path journal = WriteJournal(true);
    WriteBytes(m_files[0], New(0));
    WriteBytes(m_files[2], New(2));
    EXPECT_EQ(CleanLeftover(journal).fate, LeftoverFate::Removed);
    EXPECT_EQ(ReadBytes(m_files[0]), New(0));
    EXPECT_EQ(ReadBytes(m_files[1]), m_old[1]);
    EXPECT_EQ(ReadBytes(m_files[2]), New(2));
    EXPECT_TRUE(OurTemporaryNames(m_folder.path()).empty());
}

// A file changed since holds neither: it is not written and the journal stays. The others get
// their old content back where they need it, but are not written either while the journal is
// there, since it would otherwise put their old content back once they change.
TEST_F(CrashedJournal, AFileChangedSinceKeepsTheJournalAndItsFilesUnwritten) {
    const fs::path journal = WriteJournal(false);
    WriteBytes(m_files[0], New(0));
    const Bytes edited = RandomBytes(3000, 99);
    WriteBytes(m_files[2], edited);
    const LeftoverResult result = CleanLeftover(journal);
    EXPECT_EQ(result.fate, LeftoverFate::Kept);
    ASSERT_EQ(result.blocks.size(), m_files.size());
    EXPECT_EQ(result.blocks[0].fileIndex, IdentifyFile(m_files[2])->index);
    EXPECT_EQ(ReadBytes(m_files[0]), m_old[0]);
    EXPECT_EQ(ReadBytes(m_files[2]), edited);
    EXPECT_TRUE(fs::exists(journal));
    EXPECT_EQ(EncryptFile(m_files[2], kStalledKey).kind, FileOutcome::Kind::Failed);
    EXPECT_EQ(EncryptFile(m_files[1], kStalledKey).kind, FileOutcome::Kind::Failed);
    EXPECT_EQ(ReadBytes(m_files[1]), m_old[1]);
    EXPECT_EQ(ReadBytes(m_files[2]), edited);
    // Once the user has taken the journal away, they are files like any other.
    fs::remove(journal);
    EXPECT_TRUE(EncryptFile(m_files[1], kStalledKey).ok());
}

// Cut short while it was written: nothing was touched yet, and it goes.
TEST_F(CrashedJournal, OneCutShortGoesAndTouchesNothing) {
    const fs::path journal = WriteJournal(false);
    Bytes bytes = ReadBytes(journal);
    bytes.resize(bytes.size() / 2);
    WriteBytes(journal, bytes);
    WriteBytes(m_files[0], New(0));  // as if written by someone else since: left alone
    EXPECT_EQ(CleanLeftover(journal).fate, LeftoverFate::Removed);
    EXPECT_EQ(ReadBytes(m_files[0]), New(0));
    EXPECT_TRUE(OurTemporaryNames(m_folder.path()).empty());
}

TEST(UndoJournal, ReadsBackWhatWasWrittenAndRefusesAnythingElse) {
    const std::vector<JournalEntry> entries = {{7, fs::path("a.txt").native(), {1, 2, 3}},
                                               {0xFFFFFFFFFFFF, fs::path("b").native(), {}},
                                               {42, fs::path("c.txt").native(), Bytes(4096, 9)}};
    const JournalRecord record{Direction::Decrypt, 165, {5, 6}};
    const std::vector<std::uint8_t> bytes = EncodeJournal(record, entries);
    const std::optional<DecodedJournal> decoded = DecodeJournal(bytes);
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ(decoded->entries, entries);
    EXPECT_EQ(decoded->record.direction, Direction::Decrypt);
    EXPECT_EQ(decoded->record.key, 165u);
    EXPECT_EQ(decoded->record.owner, (ProcessStamp{5, 6}));
    // Every single changed byte, and every shorter journal, is noticed.
    for (std::size_t i = 0; i < bytes.size(); i += 7) {
        std::vector<std::uint8_t> damaged = bytes;
        damaged[i] ^= 0x10;
        EXPECT_FALSE(DecodeJournal(damaged)) << "byte " << i;
    }
    for (std::size_t size = 0; size < bytes.size(); size += 97) {
        EXPECT_FALSE(DecodeJournal({bytes.begin(), bytes.begin() + static_cast<long>(size)}))
            << size;
    }
}

}  // namespace
}  // namespace kestrove
