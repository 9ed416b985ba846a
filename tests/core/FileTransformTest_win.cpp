// The whole-file transform on Windows: what its own file system adds to the portable cases
// (attributes, files held open by other programs, long paths, names outside the ANSI code page,
// devices).
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>

#include "FileTransform.h"
#include "FileTransformDetail.h"
#include "PathInfo.h"
#include "TemporaryName.h"
#include "TextCodec.h"
#include "TransformTestSupport.h"
#include "WinTestFiles.h"

namespace kestrove {
namespace {

namespace fs = std::filesystem;
using detail::TransformFileWith;
using detail::TransformSettings;
using detail::WriteStage;
using testing::AttributesOf;
using testing::Bytes;
using testing::ExpectFailedWith;
using testing::FolderNames;
using testing::HeldOpen;
using testing::kAccessDenied;
using testing::kHiddenAttribute;
using testing::kReadOnlyAttribute;
using testing::kSharingViolation;
using testing::kSystemAttribute;
using testing::LongFolderPath;
using testing::MakeFolders;
using testing::MakeHardLink;
using testing::RandomBytes;
using testing::ReadFileAt;
using testing::ReferenceEncrypt;
using testing::ScratchFolder;
using testing::SetAttributes;
using testing::WriteFileAt;

// Windows refuses to replace a read-only file, but Wine run as root does not, nor does a process
// with restore rights: the attribute is checked again right before the new content moves in.
TEST(FileTransformWindows, FileMadeReadOnlyWhileWrittenIsNotReplaced) {
    ScratchFolder folder;
    const fs::path file = folder / "data.bin";
    const Bytes plain = RandomBytes(5000, 31);
    WriteFileAt(file, plain);
    TransformSettings settings;
    settings.blockSize = 1024;
    settings.beforeReplace = [&]() -> platform::IoStatus {
        SetAttributes(file, AttributesOf(file) | kReadOnlyAttribute);
        return std::nullopt;
    };
    ExpectFailedWith(TransformFileWith(file, Direction::Encrypt, 40, {}, settings),
                     SystemErrorText(kAccessDenied));
    EXPECT_EQ(ReadFileAt(file), plain);
    EXPECT_NE(AttributesOf(file) & kReadOnlyAttribute, 0u);
    EXPECT_EQ(FolderNames(folder.path()), std::vector<std::string>{"data.bin"});
}

// A file with several names is rewritten through its own handle, with no rename whose check could
// stop it: the attribute must stop it when it is opened for writing.
TEST(FileTransformWindows, ReadOnlyFileWithSeveralNamesIsNotRewrittenInPlace) {
    ScratchFolder folder;
    const fs::path file = folder / "shared.bin";
    const Bytes plain = RandomBytes(3000, 39);
    WriteFileAt(file, plain);
    MakeHardLink(folder / "other-name.bin", file);
    SetAttributes(file, kReadOnlyAttribute);
    ExpectFailedWith(EncryptFile(folder / "other-name.bin", 40), SystemErrorText(kAccessDenied));
    EXPECT_EQ(ReadFileAt(file), plain);
    EXPECT_EQ(FolderNames(folder.path()),
              (std::vector<std::string>{"other-name.bin", "shared.bin"}));
}

TEST(FileTransformWindows, HiddenAndSystemFilesAreTransformedAndKeepTheirAttributes) {
    ScratchFolder folder;
    const fs::path file = folder / "secret.dat";
    const Bytes plain = RandomBytes(3000, 32);
    WriteFileAt(file, plain);
    SetAttributes(file, kHiddenAttribute | kSystemAttribute);
    ASSERT_TRUE(EncryptFile(file, 77).ok());
    EXPECT_EQ(ReadFileAt(file), ReferenceEncrypt(plain, 77));
    EXPECT_EQ(AttributesOf(file) & (kHiddenAttribute | kSystemAttribute),
              kHiddenAttribute | kSystemAttribute);
    ASSERT_TRUE(DecryptFile(file, 77).ok());
    EXPECT_EQ(ReadFileAt(file), plain);
    EXPECT_EQ(FolderNames(folder.path()), std::vector<std::string>{"secret.dat"});
}

// The new content is written to a hidden temporary file beside the file, and the file's own
// attributes, not the temporary file's, are what the path has afterwards.
TEST(FileTransformWindows, TemporaryFileIsHiddenAndLeavesNoAttributeBehind) {
    ScratchFolder folder;
    const fs::path file = folder / "plain.txt";
    WriteFileAt(file, RandomBytes(4096, 33));
    std::vector<std::uint32_t> temporaryAttributes;
    TransformSettings settings;
    settings.blockSize = 1024;
    settings.beforeWrite = [&](WriteStage, std::uint64_t offset) -> platform::IoStatus {
        if (offset == 0) {
            for (const std::string& name : FolderNames(folder.path())) {
                if (IsOurTemporaryName(name)) {
                    temporaryAttributes.push_back(AttributesOf(folder / name));
                }
            }
        }
        return std::nullopt;
    };
    ASSERT_TRUE(TransformFileWith(file, Direction::Encrypt, 12, {}, settings).ok());
    ASSERT_EQ(temporaryAttributes.size(), 1u);
    EXPECT_NE(temporaryAttributes.front() & kHiddenAttribute, 0u);
    EXPECT_EQ(AttributesOf(file) & (kHiddenAttribute | kSystemAttribute | kReadOnlyAttribute), 0u);
}

// Another program's handle decides what may happen: no sharing at all stops the read, sharing
// only reading stops the write, and without delete sharing the rename is refused. The file keeps
// its content every time, and no temporary file stays behind.
TEST(FileTransformWindows, FileHeldOpenByAnotherProgramStaysAsItWas) {
    ScratchFolder folder;
    const fs::path file = folder / "busy.doc";
    const Bytes plain = RandomBytes(2500, 34);
    WriteFileAt(file, plain);
    for (const auto sharing :
         {HeldOpen::kShareNothing, HeldOpen::kShareRead, HeldOpen::kShareReadWrite}) {
        {
            const HeldOpen held(file, sharing);
            const FileOutcome outcome = EncryptFile(file, 50);
            EXPECT_EQ(outcome.kind, FileOutcome::Kind::Failed) << "sharing " << sharing;
            ASSERT_TRUE(outcome.failure.has_value());
            // The rename is refused as "in use" or as "access denied", as the system sees it.
            const std::u16string& why = outcome.failure->description;
            EXPECT_TRUE(
                why == SystemErrorText(kSharingViolation) ||
                (sharing == HeldOpen::kShareReadWrite && why == SystemErrorText(kAccessDenied)))
                << Utf16ToUtf8(why);
        }
        EXPECT_EQ(ReadFileAt(file), plain) << "sharing " << sharing;
        EXPECT_EQ(FolderNames(folder.path()), std::vector<std::string>{"busy.doc"});
    }
    ASSERT_TRUE(EncryptFile(file, 50).ok());
    EXPECT_EQ(ReadFileAt(file), ReferenceEncrypt(plain, 50));
}

TEST(FileTransformWindows, PathsLongerThanTheOldLimitWork) {
    ScratchFolder folder;
    const fs::path deep = LongFolderPath(folder.path(), 300);
    MakeFolders(deep);
    const fs::path file = deep / "long-path-file.bin";
    ASSERT_GT(file.native().size(), 300u);
    const Bytes plain = RandomBytes(7000, 35);
    WriteFileAt(file, plain);
    ASSERT_TRUE(EncryptFile(file, 99).ok());
    EXPECT_EQ(ReadFileAt(file), ReferenceEncrypt(plain, 99));
    // Several links take the other way, through the file itself.
    MakeHardLink(deep / "second-name.bin", file);
    ASSERT_TRUE(DecryptFile(deep / "second-name.bin", 99).ok());
    EXPECT_EQ(ReadFileAt(file), plain);
    EXPECT_EQ(ReadFileAt(deep / "second-name.bin"), plain);
}

TEST(FileTransformWindows, NamesOutsideTheAnsiCodePageWork) {
    ScratchFolder folder;
    const fs::path sub = folder.path() / fs::path(u8"Ωмега ق");
    MakeFolders(sub);
    const fs::path file = sub / fs::path(u8"中文 \U0001F600 ü.txt");
    const Bytes plain = RandomBytes(1200, 36);
    WriteFileAt(file, plain);
    ASSERT_TRUE(EncryptFile(file, 23).ok());
    EXPECT_EQ(ReadFileAt(file), ReferenceEncrypt(plain, 23));
    EXPECT_EQ(ClassifyPath(file).kind, PathKind::RegularFile);
}

TEST(FileTransformWindows, HardLinkedFileChangesUnderEveryName) {
    ScratchFolder folder;
    const fs::path first = folder / "first.bin";
    const Bytes plain = RandomBytes(9000, 37);
    WriteFileAt(first, plain);
    MakeFolders(folder / "sub");
    MakeHardLink(folder / "sub" / "second.bin", first);
    ASSERT_TRUE(EncryptFile(folder / "sub" / "second.bin", 61).ok());
    EXPECT_EQ(ReadFileAt(first), ReferenceEncrypt(plain, 61));
    EXPECT_EQ(ReadFileAt(folder / "sub" / "second.bin"), ReferenceEncrypt(plain, 61));
    EXPECT_EQ(IdentifyFile(first), IdentifyFile(folder / "sub" / "second.bin"));
    EXPECT_EQ(FolderNames(folder.path()), (std::vector<std::string>{"first.bin", "sub"}));
    EXPECT_EQ(FolderNames(folder / "sub"), std::vector<std::string>{"second.bin"});
}

TEST(FileTransformWindows, DevicesAreRefusedFromTheirType) {
    for (const fs::path& device : {fs::path(L"NUL"), fs::path(L"\\\\.\\NUL")}) {
        ExpectFailedWith(EncryptFile(device, 10), Failure::NotRegular(fs::file_type::character));
    }
}

TEST(FileTransformWindows, ForwardSlashesAndDotDotLeadToTheSameFile) {
    ScratchFolder folder;
    MakeFolders(folder / "a");
    const fs::path file = folder / "data.bin";
    const Bytes plain = RandomBytes(800, 38);
    WriteFileAt(file, plain);
    std::wstring slashed = (folder.path() / "a" / ".." / "data.bin").native();
    for (wchar_t& c : slashed) {
        c = c == L'\\' ? L'/' : c;
    }
    ASSERT_TRUE(EncryptFile(slashed, 45).ok());
    EXPECT_EQ(ReadFileAt(file), ReferenceEncrypt(plain, 45));
    EXPECT_EQ(FolderNames(folder.path()), (std::vector<std::string>{"a", "data.bin"}));
}

}  // namespace
}  // namespace kestrove
