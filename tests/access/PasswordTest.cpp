// The password digest and the cipher key. Expected digests are worked out by hand below from
// the bytes of each password and the offsets ((i + 2) mod 157) * ((i + 1) mod 157) mod 157.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <stdexcept>
#include <string>

#include "Password.h"

namespace kestrove {
namespace {

TEST(ScrambleText, EmptyTextOrAKeyOutside1To255GivesTheEmptyText) {
    for (const std::int16_t key : {1, 2, 157, 255}) {
        EXPECT_EQ(ScrambleText(u"", key), u"") << key;
    }
    for (const std::int16_t key : {0, -1, 256, SHRT_MIN, SHRT_MAX}) {
        EXPECT_EQ(ScrambleText(u"abc", key), u"") << key;
    }
}

TEST(ScrambleText, KeysOneAndTwoLeaveTheTextAsItIs) {
    EXPECT_EQ(ScrambleText(u"abc", 1), u"abc");
    EXPECT_EQ(ScrambleText(u"中文\uFFFF", 2), u"中文\uFFFF");
    EXPECT_NE(ScrambleText(u"abc", 3), u"abc");
}

TEST(ScrambleText, FirstByteGetsOffsetTwoForEveryKeyFromThreeAndLengthIsKept) {
    for (int key = 3; key <= 255; ++key) {
        const auto scrambled = ScrambleText(u"A\u4E2Dz", static_cast<std::int16_t>(key));
        ASSERT_EQ(scrambled.size(), 3u) << key;
        EXPECT_EQ(scrambled[0] & 0xFF, u'A' + 2) << key;
    }
}

TEST(ScrambleText, EachCodeUnitIsItsLowByteThenItsHighByte) {
    // "abc" is 61 00 62 00 63 00; the offsets for positions 0..5 are 2, 6, 12, 20, 30, 42.
    EXPECT_EQ(ScrambleText(u"abc", 157), u"\u0663\u146E\u2A81");
    // FF + 2 and FF + 6 wrap to 01 and 05 on their own: no carry into the next byte.
    EXPECT_EQ(ScrambleText(u"\uFFFF", 157), u"\u0501");
}

TEST(ByteSum, AddsEveryByteOfTheUtf16LeForm) {
    EXPECT_EQ(ByteSum(u""), 0);
    EXPECT_EQ(ByteSum(u"abc"), 294);
    EXPECT_EQ(ByteSum(u"中"), 123);  // 2D + 4E
    EXPECT_EQ(ByteSum(u"\uFFFF"), 510);
}

TEST(ByteSum, ReportsASumPast32Bits) {
    // 4210752 units of FFFF sum to 2147483520; a last unit 7F reaches INT_MAX exactly.
    std::u16string text(4210752, u'\uFFFF');
    text.push_back(u'\u007F');
    EXPECT_EQ(ByteSum(text), INT_MAX);
    text.back() = u'\u0080';
    EXPECT_THROW((void)ByteSum(text), std::overflow_error);
}

TEST(KeyFromSum, GivesTheTabulatedKeys) {
    const std::pair<std::int32_t, std::int16_t> table[] = {
        {0, 50},   {9, 59},   {10, 10},   {165, 165}, {166, 116}, {178, 128}, {179, 50},
        {188, 59}, {189, 10}, {344, 165}, {345, 116}, {357, 128}, {358, 50},  {1000, 105},
    };
    for (const auto& [sum, key] : table) {
        EXPECT_EQ(KeyFromSum(sum), key) << sum;
    }
}

TEST(KeyFromSum, EveryNonNegativeSumGivesAKeyFrom10To165) {
    for (std::int32_t sum = 0; sum < 200000; ++sum) {
        const auto key = KeyFromSum(sum);
        ASSERT_TRUE(key >= 10 && key <= 165) << sum << " -> " << key;
    }
    EXPECT_EQ(KeyFromSum(INT_MAX), 62);  // 2147483647 = 179 * 11997115 + 62
}

TEST(KeyFromSum, ANegativeSumThatDoesNotFitSixteenBitsIsReported) {
    EXPECT_EQ(KeyFromSum(-5), 45);
    EXPECT_THROW((void)KeyFromSum(INT_MIN), std::overflow_error);
}

TEST(DigestOfPassword, MatchesDigestsWorkedOutByHand) {
    // "abc": 63 06 6E 14 81 2A -> 99 + 6 + 110 + 20 + 129 + 42.
    EXPECT_EQ(DigestOfPassword(u"abc").sum, 406);
    EXPECT_EQ(DigestOfPassword(u"abc").text, u"406");
    // "password": low bytes 70 61 73 73 77 6F 72 64 take offsets 2 12 30 56 90 132 25 83
    // (1313 in all); the zero high bytes take 6 20 42 72 110 156 53 115 (574).
    EXPECT_EQ(DigestOfPassword(u"password").sum, 1887);
    EXPECT_EQ(DigestOfPassword(u"password").text, u"1887");
    // "ÿÿ": FF+2 -> 01, 00+6, FF+12 -> 0B, 00+20.
    EXPECT_EQ(DigestOfPassword(u"\u00FF\u00FF").text, u"38");
    EXPECT_EQ(DigestOfPassword(u"").text, u"0");
}

TEST(DigestOfPassword, IsDigitsOnlyWithoutLeadingZeros) {
    for (const std::u16string& password :
         {std::u16string(u"中文密码"), std::u16string(5000, u'\uFFFF'), std::u16string(u"a b")}) {
        const auto text = DigestOfPassword(password).text;
        ASSERT_FALSE(text.empty());
        EXPECT_NE(text[0], u'0');
        EXPECT_TRUE(std::all_of(text.begin(), text.end(),
                                [](char16_t c) { return c >= u'0' && c <= u'9'; }));
    }
}

TEST(DigestOfPassword, DifferentPasswordsWithTheSameSumShareDigestAndKey) {
    // Swapping "a" and "c" moves each by the same offset without a wrap, so the sum stays.
    const auto first = DigestOfPassword(u"abc");
    const auto second = DigestOfPassword(u"cba");
    EXPECT_EQ(first.text, second.text);
    EXPECT_EQ(KeyFromSum(first.sum), 48);  // 406 - 358
    EXPECT_EQ(KeyFromSum(second.sum), KeyFromSum(first.sum));
    EXPECT_NE(DigestOfPassword(u"abd").text, first.text);
}

}  // namespace
}  // namespace kestrove
