// What a dropped path is, which real file it names, and the system's words for errors, on
// Windows.
#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>

#include "PathInfo.h"
#include "PlatformFile.h"
#include "TextCodec.h"
#include "TransformTestSupport.h"
#include "WinTestFiles.h"

namespace kestrove {
namespace {

namespace fs = std::filesystem;
using testing::Bytes;
using testing::kFileNotFound;
using testing::kHiddenAttribute;
using testing::kPathNotFound;
using testing::kReadOnlyAttribute;
using testing::kSystemAttribute;
using testing::LongFolderPath;
using testing::MakeFolders;
using testing::MakeHardLink;
using testing::ScratchFolder;
using testing::SetAttributes;
using testing::WriteFileAt;

TEST(ClassifyPathWindows, FilesWhateverTheirAttributesFoldersDevicesAndNothing) {
    ScratchFolder folder;
    WriteFileAt(folder / "a.txt", Bytes{1});
    WriteFileAt(folder / "locked.txt", Bytes{1});
    SetAttributes(folder / "locked.txt", kReadOnlyAttribute | kHiddenAttribute | kSystemAttribute);
    MakeFolders(folder / "sub");
    MakeFolders(folder / "hidden-sub");
    SetAttributes(folder / "hidden-sub", kHiddenAttribute | kReadOnlyAttribute);

    EXPECT_EQ(ClassifyPath(folder / "a.txt").kind, PathKind::RegularFile);
    EXPECT_EQ(ClassifyPath(folder / "locked.txt").kind, PathKind::RegularFile);
    EXPECT_EQ(ClassifyPath(folder / "sub").kind, PathKind::Folder);
    EXPECT_EQ(ClassifyPath(folder.path().native() + L"\\sub\\").kind, PathKind::Folder);
    EXPECT_EQ(ClassifyPath(folder / "hidden-sub").kind, PathKind::Folder);
    const PathInfo device = ClassifyPath(L"NUL");
    EXPECT_EQ(device.kind, PathKind::Other);
    EXPECT_EQ(device.why.type, std::filesystem::file_type::character);

    const PathInfo missing = ClassifyPath(folder / "nothing.txt");
    EXPECT_EQ(missing.kind, PathKind::Missing);
    EXPECT_EQ(missing.why.description, SystemErrorText(kFileNotFound));
    const PathInfo missingFolder = ClassifyPath(folder / "nowhere" / "a.txt");
    EXPECT_EQ(missingFolder.kind, PathKind::Missing);
    EXPECT_EQ(missingFolder.why.description, SystemErrorText(kPathNotFound));
}

TEST(ClassifyPathWindows, PathsLongerThanTheOldLimit) {
    ScratchFolder folder;
    const fs::path deep = LongFolderPath(folder.path(), 280);
    MakeFolders(deep);
    WriteFileAt(deep / "f.txt", Bytes{1, 2});
    EXPECT_EQ(ClassifyPath(deep).kind, PathKind::Folder);
    EXPECT_EQ(ClassifyPath(deep / "f.txt").kind, PathKind::RegularFile);
    EXPECT_EQ(ClassifyPath(deep / "g.txt").kind, PathKind::Missing);
    EXPECT_TRUE(IdentifyFile(deep / "f.txt").has_value());
}

TEST(IdentifyFileWindows, SameRealFileThroughAnyNameAndDistinctOtherwise) {
    ScratchFolder folder;
    WriteFileAt(folder / "a.txt", Bytes{1});
    WriteFileAt(folder / "b.txt", Bytes{1});
    MakeHardLink(folder / "hard.txt", folder / "a.txt");
    MakeFolders(folder / "sub");

    const auto a = IdentifyFile(folder / "a.txt");
    ASSERT_TRUE(a.has_value());
    EXPECT_EQ(IdentifyFile(folder / "hard.txt"), a);
    EXPECT_EQ(IdentifyFile(folder / "sub" / ".." / "a.txt"), a);
    EXPECT_EQ(IdentifyFile(folder / "A.TXT"), a);  // names compare without case
    std::wstring slashed = (folder / "a.txt").native();
    for (wchar_t& c : slashed) {
        c = c == L'\\' ? L'/' : c;
    }
    EXPECT_EQ(IdentifyFile(slashed), a);
    EXPECT_NE(IdentifyFile(folder / "b.txt"), a);
    EXPECT_EQ(IdentifyFile(folder.path().native() + L"\\sub\\"), IdentifyFile(folder / "sub"));
    EXPECT_NE(IdentifyFile(folder / "sub"), a);
    EXPECT_FALSE(IdentifyFile(folder / "nothing").has_value());
}

// Where a transform puts a file's new content and where the leftovers of its folder are looked
// for must be one folder, however the file was named: the real path OpenTarget gives and the one
// RealPathOf gives agree, and so do the identities, on a path of any length.
TEST(RealPathWindows, OpenTargetAndRealPathOfAgreeHoweverTheFileIsNamed) {
    ScratchFolder folder;
    const fs::path deep = LongFolderPath(folder.path(), 300);
    MakeFolders(folder / "sub");
    MakeFolders(deep);
    WriteFileAt(folder / "data.bin", Bytes{1, 2, 3});
    WriteFileAt(deep / "far.bin", Bytes{4});
    std::wstring slashed = (folder / "sub" / ".." / "DATA.BIN").native();
    for (wchar_t& c : slashed) {
        c = c == L'\\' ? L'/' : c;
    }
    for (const fs::path& path : {fs::path(slashed), folder / "data.bin", deep / "far.bin"}) {
        platform::TargetFile target;
        ASSERT_FALSE(platform::OpenTarget(path, target).has_value()) << path;
        const auto [resolveFailure, real] = platform::RealPathOf(path);
        ASSERT_FALSE(resolveFailure.has_value()) << path;
        EXPECT_EQ(real, target.realPath);
        const std::optional<FileId> id = IdentifyFile(path);
        ASSERT_TRUE(id.has_value());
        EXPECT_EQ(target.device, id->device);
        EXPECT_EQ(target.fileIndex, id->index);
        const auto [identityFailure, same] = platform::IdentityOf(real);
        ASSERT_FALSE(identityFailure.has_value());
        EXPECT_EQ(same, *id);
    }
    platform::TargetFile first;
    ASSERT_FALSE(platform::OpenTarget(slashed, first).has_value());
    EXPECT_EQ(first.realPath.filename(), fs::path("data.bin"));
    EXPECT_NE(first.device, 0u);
}

// The system's own words, in wide characters, without the line break the system ends them with;
// nothing for a number it has no words for (the windows say the number then).
TEST(SystemErrorTextWindows, SystemWordsWithoutLineBreakAndNothingWhereThereAreNone) {
    for (const int code :
         {kFileNotFound, kPathNotFound, testing::kAccessDenied, testing::kSharingViolation}) {
        const std::u16string text = SystemErrorText(code);
        ASSERT_FALSE(text.empty()) << code;
        EXPECT_NE(text.back(), u'\n') << code;
        EXPECT_NE(text.back(), u'\r') << code;
        EXPECT_NE(text.find_first_not_of(u" 0123456789"), std::u16string::npos) << code;
    }
    EXPECT_NE(SystemErrorText(kFileNotFound), SystemErrorText(kPathNotFound));
    EXPECT_TRUE(SystemErrorText(0x2A5F3E91).empty());
}

}  // namespace
}  // namespace kestrove
