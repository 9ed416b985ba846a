// The folder walk over Windows listings: hidden and system entries, names outside the ANSI code
// page, long paths, the ways a starting folder may be written, and folders that fail.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cwctype>
#include <filesystem>
#include <functional>

#include "FileTransform.h"
#include "FolderWalker.h"
#include "PathInfo.h"
#include "TextCodec.h"
#include "TransformTestSupport.h"
#include "WinTestFiles.h"

namespace kestrove {
namespace {

namespace fs = std::filesystem;
using testing::Bytes;
using ::testing::ElementsAre;
using testing::kHiddenAttribute;
using testing::kSystemAttribute;
using testing::LongFolderPath;
using testing::MakeFolderNamedExactly;
using testing::MakeFolders;
using testing::ScratchFolder;
using testing::SetAttributes;
using testing::WriteFileAt;
using Paths = std::vector<std::wstring>;

void File(const fs::path& path) {
    MakeFolders(path.parent_path());
    WriteFileAt(path, Bytes{'x'});
}

Paths Walk(const std::vector<fs::path>& folders, std::u16string_view pattern,
           const WalkObserver& observer = {}) {
    std::vector<fs::path> results;
    CollectFolderFiles(folders, pattern, results, true, observer);
    Paths paths;
    for (const fs::path& path : results) {
        paths.push_back(path.native());
    }
    return paths;
}

// What the walk must produce, from std::filesystem's listings (the same search underneath, but
// none of the walker's code): level by level, each folder's files in the order listed.
Paths ExpectedWalk(const fs::path& root, const std::function<bool(const std::wstring&)>& selects) {
    Paths results;
    std::vector<std::wstring> level{root.native()};
    while (!level.empty()) {
        std::vector<std::wstring> next;
        for (const std::wstring& folder : level) {
            for (const auto& entry : fs::directory_iterator(folder)) {
                const std::wstring name = entry.path().filename().native();
                if (entry.is_directory()) {
                    if (name[0] != L'.') {
                        next.push_back(folder + L"\\" + name);
                    }
                } else if (selects(name)) {
                    results.push_back(folder + L"\\" + name);
                }
            }
        }
        level = std::move(next);
    }
    return results;
}

bool HasDot(const std::wstring& name) {
    return name.find(L'.') != std::wstring::npos;
}

TEST(FolderWalkWindows, LevelByLevelInListingOrderHiddenAndSystemEntriesIncluded) {
    ScratchFolder scratch;
    const fs::path r = scratch / "R";
    for (const char* path : {"zeta.txt", "Makefile", ".profile", "hidden.txt", "system.dat",
                             "Hidden Folder/h.txt", ".git/config.txt", "a/a1.txt", "a/README",
                             "a/deeper/s.txt", "b/b.doc", ".kestrove-abcdefghijkl.tmp",
                             "b/.kestrove-abcdefghijkl.new", "b/.kestrove-abcdefghijkl.2a.old"}) {
        File(r / path);
    }
    MakeFolders(r / "empty");
    SetAttributes(r / "hidden.txt", kHiddenAttribute);
    SetAttributes(r / "system.dat", kHiddenAttribute | kSystemAttribute);
    SetAttributes(r / "Hidden Folder", kHiddenAttribute);

    Paths temporaries;
    WalkObserver observer;
    observer.onTemporary = [&](const fs::path& path) { temporaries.push_back(path.native()); };
    const Paths walked = Walk({r}, u"*.*", observer);
    EXPECT_EQ(walked, ExpectedWalk(r, [](const std::wstring& name) {
                  return HasDot(name) && name.rfind(L".kestrove-", 0) != 0;
              }));
    EXPECT_EQ(temporaries, ExpectedWalk(r, [](const std::wstring& name) {
                  return name.rfind(L".kestrove-", 0) == 0;
              }));
    EXPECT_EQ(temporaries.size(), 3u);
    EXPECT_EQ(walked.size(), 8u);
    for (const fs::path& wanted :
         {r / "hidden.txt", r / "system.dat", r / "Hidden Folder" / "h.txt"}) {
        EXPECT_NE(std::find(walked.begin(), walked.end(), wanted.native()), walked.end())
            << wanted.string();
    }
}

TEST(FolderWalkWindows, StartingFolderWrittenWithSeparatorsSlashesOrSpaces) {
    ScratchFolder scratch;
    File(scratch / "F" / "a.txt");
    File(scratch / "F" / "sub" / "b.txt");
    const std::wstring f = (scratch / "F").native();
    std::wstring slashed = f;
    std::replace(slashed.begin(), slashed.end(), L'\\', L'/');
    const std::vector<fs::path> plain{scratch / "F" / "a.txt", scratch / "F" / "sub" / "b.txt"};
    for (const std::wstring& variant :
         {f, f + L"\\", slashed, slashed + L"/", L"  " + f, f + L"  ", L" " + f + L"\\ "}) {
        std::vector<fs::path> results;
        CollectFolderFiles({variant}, u"*.*", results, true);
        EXPECT_EQ(results, plain) << fs::path(variant).string();
        for (const fs::path& result : results) {
            EXPECT_EQ(ClassifyPath(result).kind, PathKind::RegularFile) << result.string();
        }
    }
}

// "G " and "G" are different folders; the system's habit of dropping the spaces must not turn
// one into the other.
TEST(FolderWalkWindows, FolderWhoseNameEndsInSpacesIsWalkedAsWritten) {
    ScratchFolder scratch;
    File(scratch / "G" / "plain.txt");
    const fs::path spaced = MakeFolderNamedExactly(scratch.path(), L"G ");
    File(spaced / "spaced.txt");
    EXPECT_THAT(Walk({spaced}, u"*.*"), ElementsAre((spaced / "spaced.txt").native()));
    EXPECT_THAT(Walk({scratch / "G"}, u"*.*"), ElementsAre((scratch / "G" / "plain.txt").native()));
    EXPECT_TRUE(EncryptFile(spaced / "spaced.txt", 10).ok());
}

TEST(FolderWalkWindows, NamesOutsideTheAnsiCodePageComeBackIntact) {
    ScratchFolder scratch;
    const fs::path u = scratch / "U";
    const fs::path chinese = fs::path(u8"中文目录") / fs::path(u8"文件.txt");
    for (const fs::path& name :
         {chinese, fs::path(u8"\U0001F600.txt"), fs::path(u8"Ünïcödé.TXT"), fs::path(u8"无点")}) {
        File(u / name);
    }
    const Paths all = Walk({u}, u"*.*");
    EXPECT_EQ(all, ExpectedWalk(u, HasDot));
    EXPECT_EQ(all.size(), 3u);
    EXPECT_THAT(Walk({u}, u"文件"), ElementsAre((u / chinese).native()));
    EXPECT_THAT(Walk({u}, u"ÜNÏ"), ElementsAre((u / fs::path(u8"Ünïcödé.TXT")).native()));
    EXPECT_THAT(Walk({u}, u"*\U0001F600*"),
                ElementsAre((u / fs::path(u8"\U0001F600.txt")).native()));
    for (const std::wstring& path : all) {
        EXPECT_EQ(ClassifyPath(path).kind, PathKind::RegularFile);
    }
}

TEST(FolderWalkWindows, TreesDeeperThanTheOldPathLimitAreWalked) {
    ScratchFolder scratch;
    const fs::path deep = LongFolderPath(scratch / "L", 320);
    File(scratch / "L" / "top.txt");
    File(deep / "far.txt");
    File(deep / "sub" / "x.txt");
    const Paths walked = Walk({scratch / "L"}, u"*.*");
    EXPECT_THAT(walked,
                ElementsAre((scratch / "L" / "top.txt").native(), (deep / "far.txt").native(),
                            (deep / "sub" / "x.txt").native()));
    ASSERT_FALSE(walked.empty());
    EXPECT_TRUE(EncryptFile(walked.back(), 10).ok());
}

TEST(FolderWalkWindows, StartingFoldersThatCannotBeListedAreReportedAndTheRestIsWalked) {
    ScratchFolder scratch;
    File(scratch / "R" / "r.txt");
    File(scratch / "file.txt");
    std::vector<FileFailure> failures;
    WalkObserver observer;
    observer.onFailure = [&](const FileFailure& failure) { failures.push_back(failure); };
    const Paths walked =
        Walk({scratch / "missing", scratch / "file.txt", scratch / "R"}, u"*.*", observer);
    EXPECT_THAT(walked, ElementsAre((scratch / "R" / "r.txt").native()));
    ASSERT_EQ(failures.size(), 2u);
    EXPECT_EQ(failures[0].path, scratch / "missing");
    EXPECT_TRUE(failures[0].description == SystemErrorText(testing::kFileNotFound) ||
                failures[0].description == SystemErrorText(testing::kPathNotFound))
        << Utf16ToUtf8(failures[0].description);
    EXPECT_EQ(failures[1].path, scratch / "file.txt");
    EXPECT_FALSE(failures[1].description.empty());
}

// Names compare without case on Windows, so one folder has many spellings; it is listed once.
TEST(FolderWalkWindows, OneRealFolderIsListedOnceHoweverItIsWritten) {
    ScratchFolder scratch;
    File(scratch / "R" / "r.txt");
    File(scratch / "R" / "sub" / "s.txt");
    std::wstring upper = (scratch / "R").native();
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](wchar_t c) { return static_cast<wchar_t>(std::towupper(c)); });
    const Paths walked =
        Walk({scratch / "R", upper, (scratch / "R" / "sub" / "..").native() + L"\\"}, u"*.*");
    EXPECT_THAT(walked, ElementsAre((scratch / "R" / "r.txt").native(),
                                    (scratch / "R" / "sub" / "s.txt").native()));
}

TEST(FolderWalkWindows, EveryEntryIsReadOnceDotsIncluded) {
    ScratchFolder scratch;
    File(scratch / "R" / "a.txt");
    File(scratch / "R" / "b");
    File(scratch / "R" / "S" / "s1.txt");
    std::size_t entries = 0;
    WalkObserver observer;
    observer.onEntry = [&] { return ++entries > 0; };
    EXPECT_EQ(Walk({scratch / "R"}, u"*.*", observer).size(), 2u);
    // R: ".", "..", a.txt, b and S; S: ".", ".." and s1.txt.
    EXPECT_EQ(entries, 8u);
}

TEST(FolderWalkWindows, CollectFilesInFolderTakesOnlyItsOwnFiles) {
    ScratchFolder scratch;
    File(scratch / "C" / "a.txt");
    File(scratch / "C" / "b");
    File(scratch / "C" / "sub" / "c.txt");
    std::vector<fs::path> results;
    CollectFilesInFolder(scratch / "C", u"*.*", results);
    EXPECT_EQ(results, std::vector<fs::path>{scratch / "C" / "a.txt"});
    CollectFilesInFolder(scratch / "missing", u"", results);
    EXPECT_EQ(results.size(), 1u);
}

}  // namespace
}  // namespace kestrove
