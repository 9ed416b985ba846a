// Junctions and links to folders on Windows: they are listed as folders with a reparse point, and
// the walk visits each real folder once, however many ways lead to it and whatever cycles they
// form. The tree is made beside this program when it is built (MakeLinkTree.cmake).
#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "DirectorySource.h"
#include "FolderWalker.h"
#include "PathInfo.h"
#include "WinTestFiles.h"

namespace kestrove {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;

fs::path LinkTree() {
    return testing::ProgramFolder() / "link-tree" / "R";
}

class FolderLinks : public ::testing::Test {
  protected:
    void SetUp() override {
        // Made when the tests were built; without it these cases would check nothing.
        ASSERT_EQ(ClassifyPath(m_root / "A").kind, PathKind::Folder)
            << "no link tree at " << m_root.string();
    }

    fs::path m_root = LinkTree();
};

TEST_F(FolderLinks, LinksAreListedAsFoldersAndLeadToTheRealFolder) {
    for (const char* link : {"loop", "L"}) {
        const DWORD attributes = GetFileAttributesW((m_root / link).c_str());
        ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES) << link;
        EXPECT_NE(attributes & FILE_ATTRIBUTE_REPARSE_POINT, 0u) << link;
        EXPECT_NE(attributes & FILE_ATTRIBUTE_DIRECTORY, 0u) << link;
    }
    OpenedFolder opened = PlatformDirectorySource().Open(m_root.native());
    ASSERT_NE(opened.listing, nullptr);
    std::vector<std::wstring> folders;
    ListedEntry entry;
    while (opened.listing->Next(entry)) {
        if (entry.kind == EntryKind::Folder && entry.name.front() != L'.') {
            folders.emplace_back(entry.name);
        }
    }
    std::sort(folders.begin(), folders.end());
    EXPECT_THAT(folders, ElementsAre(L"A", L"B", L"L", L"loop"));
    EXPECT_EQ(PlatformDirectorySource().Open((m_root / "loop").native()).identity, opened.identity);
    EXPECT_EQ(IdentifyFile(m_root / "loop"), IdentifyFile(m_root));
    EXPECT_EQ(IdentifyFile(m_root / "B" / "L2"), IdentifyFile(m_root / "A" / "deep"));
    EXPECT_EQ(ClassifyPath(m_root / "A" / "up").kind, PathKind::Folder);
}

TEST_F(FolderLinks, CyclesEndAndEachRealFileIsFoundOnce) {
    std::size_t entries = 0;
    WalkObserver observer;
    observer.onEntry = [&] { return ++entries < 100000; };
    std::vector<fs::path> results;
    EXPECT_EQ(CollectFolderFiles({m_root}, u"*.*", results, true, observer), WalkEnd::Completed);
    std::vector<std::wstring> names;
    for (const fs::path& path : results) {
        names.push_back(path.filename().native());
    }
    std::sort(names.begin(), names.end());
    EXPECT_THAT(names, ElementsAre(L"x.txt", L"y.txt", L"z.txt"));
    // R, A, B and A\deep, each listed once: its entries, "." and ".." included, and nothing more.
    EXPECT_EQ(entries, 6u + 6u + 4u + 3u);
    // A folder and a link to itself, given together, are one folder.
    CollectFolderFiles({m_root / "B", m_root / "B" / "self"}, u"*.*", results, true);
    EXPECT_THAT(results, ElementsAre(m_root / "B" / "y.txt", m_root / "B" / "L2" / "z.txt"));
}

}  // namespace
}  // namespace kestrove
