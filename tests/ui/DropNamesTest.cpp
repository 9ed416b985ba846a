// Drops of files whose names are bytes that are not UTF-8, or hold characters that mean something
// in a URL: the named file is transformed, and never another one. Real files, real walker and
// transform; the drags carry the URI-list bytes a file manager sends.
#include <gtest/gtest.h>

#include <string>

#include "DropFixture.h"

namespace kestrove::testing {
namespace {

const std::string kGbkHello = "\xC4\xE3\xBA\xC3";  // "你好" in GBK, which is not valid UTF-8
// What a conversion to text makes of those four bytes: four U+FFFD, in UTF-8.
const std::string kFourReplacements = "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD";

class DropNamesTest : public DropTest {
  protected:
    bool DropUriList(const QByteArray& list) { return DragAndDrop(Target(0), list); }
    void ExpectNoBoxAndCompleted(std::size_t drops) {
        EXPECT_TRUE(ui.boxes.boxes.empty());
        ASSERT_EQ(ended.size(), drops);
        for (const auto& [index, completed] : ended) {
            EXPECT_TRUE(completed) << index;
        }
    }
};

TEST_F(DropNamesTest, GbkNamedFileDroppedAloneIsTransformedBothWays) {
    Open();
    const fs::path file = MakeFile(dir.path() / (kGbkHello + ".txt"), 300);
    ASSERT_TRUE(Drop(0, {file}));
    ASSERT_TRUE(WaitForDrops(1));
    ExpectEncrypted(file);
    ASSERT_TRUE(Drop(1, {file}));
    ASSERT_TRUE(WaitForDrops(2));
    ExpectPlain(file);
    ExpectNoBoxAndCompleted(2);
}

TEST_F(DropNamesTest, TheTwinThatATextConversionWouldNameStaysUntouched) {
    Open();
    const fs::path dropped = MakeFile(dir.path() / (kGbkHello + ".txt"), 300);
    const fs::path twin = MakeFile(dir.path() / (kFourReplacements + ".txt"), 300);
    ASSERT_TRUE(Drop(0, {dropped}));
    ASSERT_TRUE(WaitForDrops(1));
    ExpectEncrypted(dropped);
    ExpectPlain(twin);
    ExpectNoBoxAndCompleted(1);
}

TEST_F(DropNamesTest, GbkNamesAtBothLevelsOfADroppedFolder) {
    Open();
    const fs::path folder = dir.path() / "folder";
    const fs::path sub = folder / (kGbkHello + "-sub");
    fs::create_directories(sub);
    const fs::path top = MakeFile(folder / (kGbkHello + ".txt"), 200);
    const fs::path deep = MakeFile(sub / ("\xD6\xD0\xCE\xC4" + kGbkHello + ".doc"), 200);
    ASSERT_TRUE(Drop(0, {folder}));
    ASSERT_TRUE(WaitForDrops(1));
    ExpectEncrypted(top);
    ExpectEncrypted(deep);
    EXPECT_EQ(widths, (std::vector<int>{1, 108, 217, 217}));
    ExpectNoBoxAndCompleted(1);
}

TEST_F(DropNamesTest, AFolderWhoseOwnNameIsNotUtf8IsWalked) {
    Open();
    const fs::path folder = dir.path() / ("\xFF\xFE" + kGbkHello);
    const fs::path twin = dir.path() / ("\xEF\xBF\xBD\xEF\xBF\xBD" + kFourReplacements);
    fs::create_directories(folder / kGbkHello);
    fs::create_directories(twin);
    const fs::path inside = MakeFile(folder / "a.txt", 100);
    const fs::path below = MakeFile(folder / kGbkHello / "b.txt", 100);
    const fs::path other = MakeFile(twin / "a.txt", 100);
    ASSERT_TRUE(Drop(0, {folder}));
    ASSERT_TRUE(WaitForDrops(1));
    ExpectEncrypted(inside);
    ExpectEncrypted(below);
    ExpectPlain(other);
    ExpectNoBoxAndCompleted(1);
}

TEST_F(DropNamesTest, NamesThatMeanSomethingInAUrlReachTheirOwnFile) {
    Open();
    const fs::path odd = dir.path() / "odd";
    fs::create_directory(odd);
    std::vector<fs::path> dropped;
    for (const char* name : {"100%.txt", "%41.txt", "#tag.txt", "why?.txt", " lead.txt",
                             "trail.txt ", "line\nbreak.txt", "-rf.txt", "a b.txt"}) {
        dropped.push_back(MakeFile(odd / name, 64));
    }
    // What a reader that trims, stops at "?" or "#", splits lines or decodes twice would reach.
    std::vector<fs::path> decoys;
    for (const char* name : {"A.txt", "lead.txt", "trail.txt", "why", "line", "break.txt"}) {
        decoys.push_back(MakeFile(odd / name, 64));
    }
    ASSERT_TRUE(Drop(0, dropped));
    ASSERT_TRUE(WaitForDrops(1));
    for (const fs::path& file : dropped) {
        ExpectEncrypted(file);
    }
    for (const fs::path& file : decoys) {
        ExpectPlain(file);
    }
    ExpectNoBoxAndCompleted(1);
}

TEST_F(DropNamesTest, NamesOfTheFullTwoHundredAndFiftyFiveBytes) {
    Open();
    std::string gbk;
    while (gbk.size() < 250) {
        gbk += "\xC4\xE3";
    }
    const std::string gbkName = gbk + "a.txt";
    const std::string plainName = std::string(251, 'n') + ".txt";
    ASSERT_EQ(gbkName.size(), 255u);
    ASSERT_EQ(plainName.size(), 255u);
    const fs::path alone = MakeFile(dir.path() / gbkName, 500);
    fs::create_directory(dir.path() / "long");
    const fs::path inFolder = MakeFile(dir.path() / "long" / plainName, 500);
    const fs::path gbkInFolder = MakeFile(dir.path() / "long" / gbkName, 500);
    ASSERT_TRUE(Drop(0, {alone, dir.path() / "long"}));
    ASSERT_TRUE(WaitForDrops(1));
    ExpectEncrypted(alone);
    ExpectEncrypted(inFolder);
    ExpectEncrypted(gbkInFolder);
    ExpectNoBoxAndCompleted(1);
}

// Each drop names the target file in a way that does not name it here; each ends with the box
// for a path that cannot be found, and the file stays as it was.
TEST_F(DropNamesTest, UrlsThatNameNoFileHereEndTheDropThereAndTouchNothing) {
    Open();
    const fs::path first = MakeFile(dir.path() / "first.txt", 80);
    const fs::path target = MakeFile(dir.path() / "target.txt", 80);
    fs::create_directory(dir.path() / "dir");
    const fs::path inDir = MakeFile(dir.path() / "dir" / "t.txt", 80);
    const fs::path last = MakeFile(dir.path() / "last.txt", 80);
    const QByteArray targetUri = FileUri(target);
    const std::string folderPath = dir.path().native();
    const std::vector<QByteArray> drops = {
        // The same path with its first folder read as a host name: another machine's file.
        "file:/" + QByteArray::fromStdString(folderPath).toPercentEncoding("/") + "/target.txt",
        targetUri + "%00.bak",
        FileUri(dir.path()) + "/dir%2Ft.txt",
        targetUri + "?version=2",
        targetUri + "#top",
        // A web address between two files: the first is done, the drop ends at the address.
        FileUri(first) + "\r\nhttp://www.brannoc.example/target.txt\r\n" + FileUri(last),
    };
    for (std::size_t i = 0; i < drops.size(); ++i) {
        SCOPED_TRACE(drops[i].toStdString());
        ASSERT_TRUE(DropUriList(drops[i] + "\r\n"));
        ASSERT_TRUE(WaitForDrops(i + 1));
        EXPECT_EQ(ended[i], std::make_pair(0, false));
        ExpectPlain(target);
        ExpectPlain(inDir);
    }
    ExpectEncrypted(first);
    ExpectPlain(last);
    ASSERT_EQ(ui.boxes.boxes.size(), drops.size());
    for (const auto& box : ui.boxes.boxes) {
        EXPECT_EQ(box.text, QStringLiteral("请拖入文件或目录！"));
    }
}

}  // namespace
}  // namespace kestrove::testing
