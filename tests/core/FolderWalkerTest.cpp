#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>

#include "FolderWalker.h"
#include "WalkerTestSupport.h"

namespace kestrove::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

bool HasDot(const std::string& name) {
    return name.find('.') != std::string::npos;
}

// Files and folders created in a scrambled order, so the listing order is neither the creation
// order nor sorted, with dot folders, folders without files and names without a dot.
void BuildMixedTree(const TempTree& tree) {
    for (const char* path :
         {"R/zeta.txt", "R/Makefile", "R/m/deep/x.bin", "R/b/b2.doc", "R/.profile", "R/a/a1.txt",
          "R/a/README", "R/m/m1.c", "R/.git/config.txt", "R/a/a0.TXT", "R/b/sub/.gitignore",
          "R/onlyfolders/one/o.txt", "R/onlyfolders/two/t.txt", "R/alpha.md", "R/c/.hid/h.txt",
          "R/a/deeper/still/s.txt", "R/x.y.z", "R/b/b1"}) {
        tree.File(path);
    }
    tree.Folder("R/empty");
}

TEST(FolderWalkOrder, MatchesTheLevelByLevelOrderOfTheListings) {
    TempTree tree;
    BuildMixedTree(tree);
    const std::string root = (tree.root() / "R").string();
    const auto expected = ExpectedWalk({root}, HasDot);
    ASSERT_EQ(expected.size(), 13u);
    EXPECT_EQ(WalkPaths({root}, u"*.*"), expected);
    // Another pattern goes through the decoding path rather than the dot shortcut.
    EXPECT_EQ(WalkPaths({root}, u"*.TXT"), ExpectedWalk({root}, [](const std::string& name) {
                  return name.size() >= 4 && (name.ends_with(".txt") || name.ends_with(".TXT"));
              }));
}

TEST(FolderWalkOrder, SeveralStartingFoldersComeFolderByFolderThenLevelByLevel) {
    TempTree tree;
    tree.File("P/p.txt");
    tree.File("P/sub/ps.txt");
    tree.File("Q/q.txt");
    tree.File("Q/sub/qs.txt");
    const std::string p = (tree.root() / "P").string();
    const std::string q = (tree.root() / "Q").string();
    EXPECT_THAT(WalkPaths({p, q}, u"*.*"),
                ElementsAre(p + "/p.txt", q + "/q.txt", p + "/sub/ps.txt", q + "/sub/qs.txt"));
}

// Names with a dot anywhere are taken, a leading one included; names without are not; folders
// whose name begins with a dot are not entered.
TEST(FolderWalkSelection, DottedNamesTakenUndottedNamesAndDotFoldersLeft) {
    TempTree tree;
    tree.File("F/a.txt");
    tree.File("F/b");
    tree.File("F/.hidden");
    tree.File("F/sub/c.doc");
    tree.File("F/.git/HEAD.txt");
    tree.File("F/.gitignore");
    const std::string f = (tree.root() / "F").string();
    auto paths = WalkPaths({f}, u"*.*");
    ASSERT_EQ(paths.size(), 4u);
    EXPECT_EQ(paths.back(), f + "/sub/c.doc");
    paths.pop_back();
    std::sort(paths.begin(), paths.end());
    EXPECT_THAT(paths, ElementsAre(f + "/.gitignore", f + "/.hidden", f + "/a.txt"));

    TempTree nodots;
    nodots.File("N/README");
    nodots.File("N/sub/Makefile");
    EXPECT_THAT(WalkPaths({nodots.root() / "N"}, u"*.*"), IsEmpty());
}

TEST(FolderWalkSelection, StartingFolderIsEnteredEvenWhenItsNameBeginsWithADot) {
    TempTree tree;
    tree.File(".config/k.ini");
    EXPECT_THAT(WalkPaths({tree.root() / ".config"}, u"*.*"),
                ElementsAre((tree.root() / ".config/k.ini").string()));
}

TEST(FolderWalkSelection, FolderHoldingOnlySubfoldersIsWalked) {
    TempTree tree;
    tree.File("O/one/two/deep.txt");
    EXPECT_THAT(WalkPaths({tree.root() / "O"}, u"*.*"),
                ElementsAre((tree.root() / "O/one/two/deep.txt").string()));
}

TEST(FolderWalkSelection, SubstringModeIgnoresCaseAndEmptyPatternSelectsAll) {
    TempTree tree;
    tree.File("S/MyDoc.txt");
    tree.File("S/d.o.c");
    tree.File("S/DOCUMENT");
    tree.File("S/other.txt");
    const std::string s = (tree.root() / "S").string();
    auto docs = WalkPaths({s}, u"doc");
    std::sort(docs.begin(), docs.end());
    EXPECT_THAT(docs, ElementsAre(s + "/DOCUMENT", s + "/MyDoc.txt"));
    EXPECT_EQ(WalkPaths({s}, u""), ExpectedWalk({s}, [](const std::string&) { return true; }));
    EXPECT_EQ(WalkPaths({s}, u"").size(), 4u);
}

TEST(FolderWalkStart, TrailingSeparatorAndSurroundingSpacesGiveTheSameList) {
    TempTree tree;
    tree.File("F/a.txt");
    tree.File("F/sub/b.txt");
    const std::string f = (tree.root() / "F").string();
    const auto plain = WalkPaths({f}, u"*.*");
    ASSERT_EQ(plain.size(), 2u);
    for (const std::string& variant : {f + "/", "  " + f, f + "  ", " " + f + "/ "}) {
        EXPECT_EQ(WalkPaths({variant}, u"*.*"), plain) << "'" << variant << "'";
    }
}

TEST(FolderWalkStart, FolderWhoseRealNameHasSpacesIsNotTrimmedAway) {
    TempTree tree;
    tree.File("G/plain.txt");
    tree.File("G /spaced.txt");
    tree.File(" H/lead.txt");
    EXPECT_THAT(WalkPaths({tree.root() / "G "}, u"*.*"),
                ElementsAre((tree.root() / "G /spaced.txt").string()));
    EXPECT_THAT(WalkPaths({tree.root() / "G"}, u"*.*"),
                ElementsAre((tree.root() / "G/plain.txt").string()));
    EXPECT_THAT(WalkPaths({tree.root() / " H"}, u"*.*"),
                ElementsAre((tree.root() / " H/lead.txt").string()));
}

TEST(FolderWalkNames, NonAsciiAndUndecodableNamesComeBackIntact) {
    TempTree tree;
    tree.File("U/中文目录/文件.txt");
    tree.File("U/\xF0\x9F\x98\x80.txt");  // an emoji
    tree.File("U/Ünïcödé.TXT");
    tree.File("U/\xFF\xFE.bin");  // not UTF-8 at all
    tree.File("U/无点");
    const std::string u = (tree.root() / "U").string();
    const auto all = WalkPaths({u}, u"*.*");
    EXPECT_EQ(all, ExpectedWalk({u}, HasDot));
    EXPECT_EQ(all.size(), 4u);
    EXPECT_THAT(WalkPaths({u}, u"文件"), ElementsAre(u + "/中文目录/文件.txt"));
    EXPECT_THAT(WalkPaths({u}, u"ÜNÏ"), ElementsAre(u + "/Ünïcödé.TXT"));
    EXPECT_THAT(WalkPaths({u}, u"*\U0001F600*"), ElementsAre(u + "/\xF0\x9F\x98\x80.txt"));
    // The undecodable name still matches through its readable part and keeps its bytes.
    EXPECT_THAT(WalkPaths({u}, u"*.BIN"), ElementsAre(u + "/\xFF\xFE.bin"));
}

TEST(FolderWalkNames, OurTemporaryFilesAreNeverSelectedButReported) {
    TempTree tree;
    tree.File("T/.kestrove-abcdefgh1234.tmp");
    tree.File("T/.kestrove-short.tmp");
    tree.File("T/keep.txt");
    tree.File("T/sub/.kestrove-0123456789ab.new");
    tree.File("T/sub/.kestrove-0123456789ab.2f.old");
    tree.Folder("T/.kestrove-folder12345.new");
    const std::string t = (tree.root() / "T").string();
    for (const char16_t* pattern : {u"*.*", u"", u"kestrove", u"*.tmp", u"*.new", u"*.old"}) {
        for (const auto& path : WalkPaths({t}, pattern)) {
            EXPECT_EQ(path.find("0123456789ab"), std::string::npos) << path;
            EXPECT_EQ(path.find("abcdefgh1234"), std::string::npos) << path;
        }
    }
    EXPECT_EQ(WalkPaths({t}, u"*.tmp"), std::vector<std::string>{t + "/.kestrove-short.tmp"});

    std::vector<std::string> reported;
    WalkObserver observer;
    observer.onTemporary = [&](const fs::path& path) { reported.push_back(path.string()); };
    WalkPaths({t}, u"*.*", observer);
    ASSERT_EQ(reported.size(), 3u);
    std::sort(reported.begin() + 1, reported.end());  // the level order, then listing order
    EXPECT_THAT(reported, ElementsAre(t + "/.kestrove-abcdefgh1234.tmp",
                                      t + "/sub/.kestrove-0123456789ab.2f.old",
                                      t + "/sub/.kestrove-0123456789ab.new"));
}

TEST(FolderWalkNames, PipesAreListedAsFilesWithoutBeingOpened) {
    TempTree tree;
    tree.File("P/a.txt");
    const std::string fifo = (tree.root() / "P/queue.fifo").string();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    auto paths = WalkPaths({tree.root() / "P"}, u"*.*");
    std::sort(paths.begin(), paths.end());
    EXPECT_THAT(paths, ElementsAre((tree.root() / "P/a.txt").string(), fifo));
    // Given as a folder, a pipe is refused without waiting for a writer.
    std::vector<FileFailure> failures;
    WalkObserver observer;
    observer.onFailure = [&](const FileFailure& failure) { failures.push_back(failure); };
    EXPECT_THAT(WalkPaths({fifo}, u"*.*", observer), IsEmpty());
    EXPECT_EQ(failures.size(), 1u);
}

TEST(FolderWalkResults, ResetEmptiesTheListAndOtherwiseAppends) {
    TempTree tree;
    tree.File("F/a.txt");
    std::vector<fs::path> results{"earlier"};
    CollectFolderFiles({tree.root() / "F"}, u"*.*", results, false);
    EXPECT_THAT(AsStrings(results), ElementsAre("earlier", (tree.root() / "F/a.txt").string()));
    CollectFolderFiles({tree.root() / "F"}, u"*.*", results, true);
    EXPECT_THAT(AsStrings(results), ElementsAre((tree.root() / "F/a.txt").string()));
}

TEST(CollectFilesInFolder, TakesOnlyTheFolderOwnFilesInListingOrder) {
    TempTree tree;
    tree.File("C/a.txt");
    tree.File("C/b");
    tree.File("C/sub/c.txt");
    const std::string c = (tree.root() / "C").string();
    std::vector<fs::path> results;
    CollectFilesInFolder(c, u"*.*", results);
    EXPECT_THAT(AsStrings(results), ElementsAre(c + "/a.txt"));
    results.clear();
    CollectFilesInFolder(c + "/", u"", results);
    EXPECT_EQ(AsStrings(results), ExpectedWalk({c}, [](const std::string& name) {
                  return name == "a.txt" || name == "b";
              }));
    CollectFilesInFolder(tree.root() / "missing", u"", results);
    EXPECT_EQ(results.size(), 2u);
}

}  // namespace
}  // namespace kestrove::testing
