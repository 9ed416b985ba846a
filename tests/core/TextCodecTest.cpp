#include <gtest/gtest.h>

#include <string>

#include "FileFailure.h"
#include "TemporaryName.h"
#include "TextCodec.h"

namespace kestrove {
namespace {

TEST(TextCodec, RoundTripsChineseAndEmoji) {
    const std::u16string text = u"加密完成 a.txt \U0001F600";
    EXPECT_EQ(Utf8ToUtf16(Utf16ToUtf8(text)), text);
    EXPECT_EQ(Utf16ToUtf8(u"中"), "\xE4\xB8\xAD");
    EXPECT_EQ(Utf8ToUtf16("\xF0\x9F\x98\x80"), u"\U0001F600");
}

TEST(TextCodec, MalformedInputBecomesReplacementCharacters) {
    EXPECT_EQ(Utf8ToUtf16("a\xFF"
                          "b"),
              u"a\uFFFDb");
    EXPECT_EQ(Utf8ToUtf16("\xE4\xB8"), u"\uFFFD\uFFFD");                   // cut short
    EXPECT_EQ(Utf8ToUtf16("\xC0\xAF"), u"\uFFFD\uFFFD");                   // overlong "/"
    EXPECT_EQ(Utf8ToUtf16("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");         // surrogate
    EXPECT_EQ(Utf16ToUtf8(std::u16string(1, u'\xD800')), "\xEF\xBF\xBD");  // lone surrogate
}

TEST(FailureMessage, IsPrefixFollowedDirectlyByDescription) {
    const FileFailure failure{"/x/a.txt", u"Permission denied"};
    EXPECT_EQ(FailureMessageText(failure), u"加密时Permission denied");
    EXPECT_EQ(std::u16string(kPromptTitle), u"提示信息");
}

TEST(TemporaryName, MadeNamesAreRecognisedAndOthersAreNot) {
    for (int i = 0; i < 20; ++i) {
        const std::string name = MakeTemporaryName();
        EXPECT_TRUE(IsOurTemporaryName(name)) << name;
        EXPECT_TRUE(IsOurTemporaryName(Utf8ToUtf16(name))) << name;
    }
    EXPECT_NE(MakeTemporaryName(), MakeTemporaryName());
    EXPECT_FALSE(IsOurTemporaryName(std::string_view(".kestrove-abc.tmp")));
    EXPECT_FALSE(IsOurTemporaryName(std::string_view(".kestrove-ABCDEFGHIJKL.tmp")));
    EXPECT_FALSE(IsOurTemporaryName(std::string_view("a.kestrove-abcdefghijkl.tmp")));
    EXPECT_FALSE(IsOurTemporaryName(std::string_view(".kestrove-abcdefghijkl.tmpx")));
    EXPECT_FALSE(IsOurTemporaryName(std::string_view("report.tmp")));
}

TEST(TemporaryName, EachFormIsToldApartAndABackupKnowsItsFile) {
    const std::string made = MakeTemporaryName();
    EXPECT_EQ(ParseTemporaryName(made).kind, TemporaryKind::NewContent);
    EXPECT_EQ(made.substr(made.size() - 4), ".new");
    for (const std::uint64_t index :
         {std::uint64_t{0}, std::uint64_t{0x2a}, std::uint64_t{0xFFFFFFFFFFFFFFFF}}) {
        const std::string backup = BackupNameOf(made, index);
        EXPECT_EQ(backup.substr(0, 22), made.substr(0, 22));
        const TemporaryName parsed = ParseTemporaryName(Utf8ToUtf16(backup));
        EXPECT_EQ(parsed.kind, TemporaryKind::Backup) << backup;
        EXPECT_EQ(parsed.fileIndex, index) << backup;
    }
    EXPECT_EQ(BackupNameOf(".kestrove-abcdefghijkl.new", 0x1f), ".kestrove-abcdefghijkl.1f.old");
    EXPECT_EQ(ParseTemporaryName(std::string_view(".kestrove-abcdefghijkl.tmp")).kind,
              TemporaryKind::Unmarked);
    // Only the form written: lower-case hex without a leading zero, at most 16 digits, ".old".
    for (const char* other :
         {".kestrove-abcdefghijkl.01f.old", ".kestrove-abcdefghijkl.1F.old",
          ".kestrove-abcdefghijkl..old", ".kestrove-abcdefghijkl.10000000000000000.old",
          ".kestrove-abcdefghijkl.1f.new", ".kestrove-abcdefghijkl.1f.old.txt",
          ".kestrove-abcdefghijkl-1f.old", ".kestrove-abcdefghijk.new"}) {
        EXPECT_EQ(ParseTemporaryName(std::string_view(other)).kind, TemporaryKind::None) << other;
    }
}

}  // namespace
}  // namespace kestrove
