#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kestrove {

// Fixed key used to scramble a password before its bytes are summed.
inline constexpr std::int16_t kPasswordScrambleKey = 157;

// Adds the keystream (first byte at position 0) to every byte of text's UTF-16LE form. Returns
// the empty text for an empty text or a key outside 1..255.
[[nodiscard]] std::u16string ScrambleText(std::u16string_view text, std::int16_t key);

// Sum of the bytes of text's UTF-16LE form; throws std::overflow_error past 32 bits signed.
[[nodiscard]] std::int32_t ByteSum(std::u16string_view text);

// The cipher key of a byte sum, always 10..165 for sums of 0 or more.
[[nodiscard]] std::int16_t KeyFromSum(std::int32_t sum);

// A password's digest: the byte sum of the scrambled password and its decimal text.
struct PasswordDigest {
    std::int32_t sum = 0;
    std::u16string text;  // digits only
};

[[nodiscard]] PasswordDigest DigestOfPassword(std::u16string_view password);

}  // namespace kestrove
