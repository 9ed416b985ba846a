// Crash leftovers met by real drops: removed, or put back, before any file of the drop is written;
// one held by a running transform stays.
#include <gtest/gtest.h>

#include "DropFixture.h"
#include "PathInfo.h"
#include "PlatformFile.h"
#include "TemporaryName.h"
#include "UndoRecord.h"

namespace kestrove::testing {
namespace {

std::vector<std::string> OurNames(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (IsOurTemporaryName(entry.path().filename().string())) {
            names.push_back(entry.path().filename().string());
        }
    }
    return names;
}

// What a crash leaves: a file of ours that nobody holds.
fs::path MakeLeftover(const fs::path& folder, const std::string& name, std::size_t size) {
    const fs::path leftover = folder / name;
    WriteBytes(leftover, SampleBytes(size, 99));
    return leftover;
}

// What a crash half-way through encrypting a file in place leaves: the file's first half new, its
// second half old, and beside it the undo file, its whole old content and the record.
void TearWithUndoFile(const fs::path& file, const std::vector<std::uint8_t>& old) {
    const std::optional<FileId> id = IdentifyFile(file);
    ASSERT_TRUE(id.has_value());
    std::vector<std::uint8_t> undo = old;
    const UndoRecordBytes record =
        EncodeUndoRecord({Direction::Encrypt, kKey, old.size(), id->index, {}});
    undo.insert(undo.end(), record.begin(), record.end());
    WriteBytes(file.parent_path() / UndoNameOf(".kestrove-yzabcdefghij.1-2.new", id->index), undo);
    std::vector<std::uint8_t> torn = Encrypted(old, kKey);
    std::copy(old.begin() + static_cast<std::ptrdiff_t>(old.size() / 2), old.end(),
              torn.begin() + static_cast<std::ptrdiff_t>(old.size() / 2));
    WriteBytes(file, torn);
}

TEST_F(DropTest, DroppedFolderLosesItsLeftoversAndGetsItsOldContentBack) {
    Open();
    const fs::path folder = MakeFolder("F", 3);
    const fs::path sub = folder / "sub";
    fs::create_directory(sub);
    MakeLeftover(folder, ".kestrove-abcdefghijkl.new", 300);
    MakeLeftover(sub, ".kestrove-mnopqrstuvwx.new", 10);
    // A file with two names whose in-place rewrite crashed half-way: its undo file holds the
    // whole old content, the file a mix.
    const fs::path linked = MakeFile(sub / "linked.txt", 400);
    fs::create_hard_link(linked, sub / "again.txt");
    TearWithUndoFile(linked, plain.at(linked));

    ASSERT_TRUE(Drop(0, {folder}));
    ASSERT_TRUE(WaitForDrops(1));
    EXPECT_TRUE(OurNames(folder).empty());
    EXPECT_TRUE(OurNames(sub).empty());
    ExpectEncrypted(linked);  // the old content, put back, then encrypted once
    EXPECT_EQ(ReadBytes(sub / "again.txt"), ReadBytes(linked));
    for (const auto& [path, bytes] : plain) {
        ExpectEncrypted(path);
    }
    // Five names of four files, the leftovers not counted.
    EXPECT_EQ(widths, (std::vector<int>{1, 43, 87, 130, 174, 217, 217}));
    EXPECT_TRUE(ui.boxes.boxes.empty());
}

TEST_F(DropTest, DroppedFileFirstClearsItsFolderButNotWhatARunningCopyHolds) {
    Open();
    const fs::path file = MakeFile(dir.path() / "alone.txt", 700);
    const fs::path leftover = MakeLeftover(dir.path(), ".kestrove-abcdefghijkl.new", 300);
    const fs::path earlier = MakeLeftover(dir.path(), ".kestrove-abcdefghijkl.tmp", 30);
    platform::TemporaryFile held;
    ASSERT_FALSE(platform::CreateTemporaryBeside(file, held).has_value());

    ASSERT_TRUE(Drop(0, {file}));
    ASSERT_TRUE(WaitForDrops(1));
    ExpectEncrypted(file);
    EXPECT_FALSE(fs::exists(leftover));
    EXPECT_TRUE(fs::exists(earlier));  // an earlier version's: it may be a backup
    EXPECT_TRUE(fs::exists(held.path));
    EXPECT_FALSE(platform::RemoveTemporary(held).has_value());
}

}  // namespace
}  // namespace kestrove::testing
