// Leftovers on Windows: what a file under one of our names is (held by a live copy, gone, a folder,
// a file with other names, or one that cannot be opened), and the maker a temporary file names.
#include <windows.h>
// windows.h names its own EncryptFile and DecryptFile so.
#undef EncryptFile
#undef DecryptFile

#include <gtest/gtest.h>

#include <filesystem>

#include "FaultInjection.h"
#include "FileTransform.h"
#include "Leftovers.h"
#include "PathInfo.h"
#include "PlatformFile.h"
#include "StalledTransform.h"
#include "TemporaryName.h"
#include "TextCodec.h"
#include "TransformTestSupport.h"
#include "UndoRecord.h"
#include "WinTestFiles.h"

namespace kestrove {
namespace {

namespace fs = std::filesystem;
using detail::WriteStage;
using platform::LifeOf;
using platform::ProcessLife;
using testing::Bytes;
using testing::FolderNames;
using testing::HeldOpen;
using testing::kStalledKey;
using testing::MakeFolders;
using testing::MakeHardLink;
using testing::OurTemporaryNames;
using testing::RandomBytes;
using testing::ReadFileAt;
using testing::ReferenceEncrypt;
using testing::ScratchFolder;
using testing::StalledTransform;
using testing::WriteFileAt;

// The maker a transform's temporary file names runs while the transform does, and is known to
// have ended once it is killed; a process of the same id that started at another time is not it.
TEST(LeftoversWindows, TheMakerNamedInATemporaryFileIsToldRunningOrEnded) {
    const ProcessStamp self = platform::CurrentProcess();
    EXPECT_EQ(self.id, GetCurrentProcessId());
    EXPECT_NE(self.start, 0u);
    EXPECT_EQ(platform::CurrentProcess(), self);
    EXPECT_EQ(LifeOf(self), ProcessLife::Running);
    EXPECT_EQ(LifeOf({self.id, self.start + 1}), ProcessLife::Ended);
    EXPECT_EQ(LifeOf({0, self.start}), ProcessLife::Unknown);
    EXPECT_EQ(LifeOf({self.id, 0}), ProcessLife::Unknown);

    ScratchFolder folder;
    WriteFileAt(folder / "data.bin", RandomBytes(8 * 4096, 61));
    StalledTransform running(folder / "data.bin", WriteStage::NewContent, 4 * 4096, 4096);
    const std::vector<std::string> names = OurTemporaryNames(folder.path());
    ASSERT_EQ(names.size(), 1u);
    const TemporaryName name = ParseTemporaryName(names.front());
    ASSERT_EQ(name.kind, TemporaryKind::NewContent);
    ASSERT_TRUE(name.owner.has_value());
    EXPECT_NE(name.owner->id, self.id);
    EXPECT_EQ(LifeOf(*name.owner), ProcessLife::Running);
    running.Kill();
    EXPECT_EQ(LifeOf(*name.owner), ProcessLife::Ended);
}

// An undo file beside file, as an interrupted rewrite leaves it.
fs::path WriteUndoFile(const fs::path& file, const Bytes& old) {
    const std::optional<FileId> id = IdentifyFile(file);
    EXPECT_TRUE(id.has_value());
    Bytes copy = old;
    const UndoRecordBytes record =
        EncodeUndoRecord({Direction::Encrypt, kStalledKey, old.size(), id->index, {}});
    copy.insert(copy.end(), record.begin(), record.end());
    const fs::path undo =
        file.parent_path() / UndoNameOf(".kestrove-abcdefghijkl.1-1.new", id->index);
    WriteFileAt(undo, copy);
    return undo;
}

// Fails every open with access denied, as for a leftover another user's access list keeps from us.
class OpensRefused final : public platform::CallFaults {
  public:
    int Before(platform::SystemCall call) override {
        return call == platform::SystemCall::Open ? ERROR_ACCESS_DENIED : 0;
    }
};

class UndoFileLeft : public ::testing::Test {
  protected:
    void SetUp() override {
        WriteFileAt(m_file, m_plain);
        m_undo = WriteUndoFile(m_file, m_plain);
    }

    void ExpectUntouched() {
        EXPECT_EQ(ReadFileAt(m_file), m_plain);
        EXPECT_EQ(OurTemporaryNames(m_folder.path()),
                  std::vector<std::string>{m_undo.filename().string()});
    }

    ScratchFolder m_folder;
    fs::path m_file = m_folder / "data.bin";
    Bytes m_plain = RandomBytes(6000, 62);
    fs::path m_undo;
};

// Another program holds the undo file: in use, and its file is not written meanwhile.
TEST_F(UndoFileLeft, OneHeldByAnotherProgramIsInUseAndKeepsItsFileAsItIs) {
    {
        const HeldOpen held(m_undo, HeldOpen::kShareRead);
        const LeftoverResult result = CleanLeftover(m_undo);
        EXPECT_EQ(result.fate, LeftoverFate::InUse);
        EXPECT_EQ(result.blocks.size(), 1u);
        const FileOutcome outcome = EncryptFile(m_file, kStalledKey);
        EXPECT_EQ(outcome.kind, FileOutcome::Kind::Failed);
        ExpectUntouched();
    }
    // Let go, it is a copy of the file's content as it is: not needed any more.
    ASSERT_TRUE(EncryptFile(m_file, kStalledKey).ok());
    EXPECT_EQ(ReadFileAt(m_file), ReferenceEncrypt(m_plain, kStalledKey));
    EXPECT_EQ(FolderNames(m_folder.path()), std::vector<std::string>{"data.bin"});
}

// One that cannot be opened is not taken for "not ours": its file fails with the reason.
TEST_F(UndoFileLeft, OneThatCannotBeOpenedFailsItsFileWithTheReason) {
    OpensRefused refused;
    LeftoverResult result;
    {
        const testing::FaultsInPlace inPlace(refused);
        result = CleanLeftover(m_undo);
    }
    EXPECT_EQ(result.fate, LeftoverFate::Failed);
    ASSERT_EQ(result.blocks.size(), 1u);
    EXPECT_EQ(result.blocks[0].why.description, SystemErrorText(ERROR_ACCESS_DENIED));
    EXPECT_EQ(result.blocks[0].fileIndex, IdentifyFile(m_file)->index);
    ExpectUntouched();
}

// Gone, a folder under our name, or a file with a second name: none of it is ours to touch.
TEST(LeftoversWindows, WhatIsNotAPlainFileOfOursIsLeftAlone) {
    ScratchFolder folder;
    EXPECT_EQ(CleanLeftover(folder / ".kestrove-abcdefghijkl.1f.undo").fate, LeftoverFate::NotOurs);
    const fs::path named = folder / ".kestrove-abcdefghijkl.2a.undo";
    MakeFolders(named);
    EXPECT_EQ(CleanLeftover(named).fate, LeftoverFate::NotOurs);
    const fs::path linked = folder / ".kestrove-mnopqrstuvwx.1-1.new";
    WriteFileAt(folder / "kept.bin", Bytes{1, 2, 3});
    MakeHardLink(linked, folder / "kept.bin");
    EXPECT_EQ(CleanLeftover(linked).fate, LeftoverFate::NotOurs);
    EXPECT_EQ(ReadFileAt(linked), (Bytes{1, 2, 3}));
    EXPECT_TRUE(fs::is_directory(named));
}

}  // namespace
}  // namespace kestrove
