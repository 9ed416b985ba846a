#include <gtest/gtest.h>

#include <string>

#include "FolderWalker.h"
#include "NamePattern.h"
#include "TextCodec.h"

namespace kestrove {
namespace {

struct Case {
    const char16_t* name;
    const char16_t* pattern;
    bool selected;
};

void ExpectCases(std::initializer_list<Case> cases) {
    for (const Case& c : cases) {
        EXPECT_EQ(NameMatchesPattern(c.name, c.pattern), c.selected)
            << "name '" << Utf16ToUtf8(c.name) << "' pattern '" << Utf16ToUtf8(c.pattern) << "'";
    }
}

TEST(NamePattern, StarDotStarSelectsExactlyTheNamesWithADot) {
    ExpectCases({{u"a.txt", u"*.*", true},
                 {u".profile", u"*.*", true},
                 {u"x.y.z", u"*.*", true},
                 {u"trailing.", u"*.*", true},
                 {u"README", u"*.*", false},
                 {u"Makefile", u"*.*", false}});
    // Raw names take the shortcut; it must agree with the decoded comparison.
    const NamePattern pattern(u"*.*");
#ifdef _WIN32
    EXPECT_TRUE(pattern.MatchesNative(L"\xD800.bin"));  // a lone surrogate is no character
    EXPECT_FALSE(pattern.MatchesNative(L"\x4E2D"));
    EXPECT_FALSE(pattern.MatchesNative(L"README"));
    EXPECT_TRUE(NamePattern(u"*.BIN").MatchesNative(L"\x4E2D.bin"));
#else
    EXPECT_TRUE(pattern.MatchesNative("\xFF\xFE.bin"));
    EXPECT_FALSE(pattern.MatchesNative("\xE4\xB8\xAD"));
    EXPECT_FALSE(pattern.MatchesNative("README"));
#endif
}

TEST(NamePattern, WildcardIsAnchoredAtBothEndsAndOtherCharactersAreLiteral) {
    ExpectCases({{u"A.TXT", u"*.txt", true},
                 {u"a.txt.bak", u"*.txt", false},
                 {u"txt", u"*.txt", false},
                 {u"abc", u"a*", true},
                 {u"bac", u"a*", false},
                 {u"ab", u"*b", true},
                 {u"ba", u"*b", false},
                 {u"abcde", u"a*c*e", true},
                 {u"abcdef", u"a*c*e", false},
                 {u"aXbXc", u"a*b*c", true},
                 {u"a?x", u"a?*", true},
                 {u"abx", u"a?*", false},
                 {u"a#1", u"*#*", true},
                 {u"anything", u"*", true},
                 {u"anything", u"**", true}});
    const std::u16string many_a(200, u'a');
    EXPECT_FALSE(NameMatchesPattern(many_a, u"*a*a*a*a*a*a*b"));
}

TEST(NamePattern, SubstringModeAndEmptyPattern) {
    ExpectCases({{u"MyDoc.txt", u"doc", true},
                 {u"document", u"DOC", true},
                 {u"d.o.c", u"doc", false},
                 {u"README", u"", true},
                 {u"x", u"", true},
                 {u"x", u"xy", false}});
}

TEST(NamePattern, CaseIsIgnoredBeyondAscii) {
    ExpectCases({{u"ФОТО.JPG", u"*.jpg", true},
                 {u"ФОТО.jpg", u"фото", true},
                 {u"Ёлка", u"ёлка", true},
                 {u"äpfel.txt", u"ÄPFEL", true},
                 {u"łódź.txt", u"ŁÓDŹ*", true},
                 {u"αρχείο", u"ΑΡΧΕΊΟ", true},
                 {u"ế", u"Ế", true},
                 {u"բառ", u"ԲԱՌ", true},
                 {u"ａｂｃ", u"ＡＢＣ", true},
                 {u"文件.txt", u"文件", true},
                 {u"文件.txt", u"文档", false},
                 {u"\U0001F600.txt", u"*\U0001F600*", true}});
}

TEST(NamePattern, LowerCasingIsStableAndLeavesNonLettersAlone) {
    for (char32_t c = 0; c < 0x10000; ++c) {
        const char16_t unit = static_cast<char16_t>(c);
        const char16_t lower = LowerCaseUnit(unit);
        ASSERT_EQ(LowerCaseUnit(lower), lower) << std::hex << unsigned(c);
    }
    for (char16_t unit : {u'a', u'z', u'0', u'.', u'*', u'\u00D7', u'\u00DF', u'\u00FF', u'\u0131',
                          u'\u4E2D', char16_t(0xD83D), char16_t(0xDE00)}) {
        EXPECT_EQ(LowerCaseUnit(unit), unit) << std::hex << int(unit);
    }
    EXPECT_EQ(LowerCaseUnit(u'\u0130'), u'i');
    EXPECT_EQ(LowerCaseUnit(u'\u0178'), u'\u00FF');
    EXPECT_EQ(LowerCaseUnit(u'\u0401'), u'\u0451');
}

TEST(FileNameOfPath, LastComponentAfterTheSeparator) {
    EXPECT_EQ(FileNameOfPath(u"/a/b.txt"), u"b.txt");
    EXPECT_EQ(FileNameOfPath(u"/a/"), u"");
    EXPECT_EQ(FileNameOfPath(u"b.txt"), u"b.txt");
    EXPECT_EQ(FileNameOfPath(u""), u"");
    EXPECT_EQ(FileNameOfPath(u"目录/文件.txt"), u"文件.txt");
    const std::u16string longPath = std::u16string(40000, u'a') + u"/x";
    EXPECT_EQ(FileNameOfPath(longPath), u"x");
#ifdef _WIN32
    EXPECT_EQ(FileNameOfPath(u"C:\\a\\b.txt"), u"b.txt");
    EXPECT_EQ(FileNameOfPath(u"C:\\a\\"), u"");
    EXPECT_EQ(FileNameOfPath(u"C:/a\\b/c.txt"), u"c.txt");
#else
    EXPECT_EQ(FileNameOfPath(u"C:\\a\\b.txt"), u"C:\\a\\b.txt");
#endif
}

}  // namespace
}  // namespace kestrove
