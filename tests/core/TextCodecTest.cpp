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

}  // namespace
}  // namespace kestrove
