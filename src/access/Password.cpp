#include "Password.h"

#include <limits>
#include <stdexcept>
#include <string>

#include "Keystream.h"

namespace kestrove {

std::u16string ScrambleText(std::u16string_view text, std::int16_t key) {
    if (text.empty() || key < 1 || key > 255) {
        return {};
    }
    const auto k = static_cast<std::uint32_t>(key);
    std::u16string scrambled(text.size(), u'\0');
    for (std::size_t j = 0; j < text.size(); ++j) {
        // Code unit j is bytes 2j (low) and 2j + 1 (high) of the UTF-16LE form; each byte wraps
        // around on its own, with no carry into its neighbour.
        const auto low = static_cast<std::uint8_t>((text[j] & 0xFF) + KeystreamValue(2 * j, k));
        const auto high = static_cast<std::uint8_t>((text[j] >> 8) + KeystreamValue(2 * j + 1, k));
        scrambled[j] = static_cast<char16_t>(low | (high << 8));
    }
    return scrambled;
}

std::int32_t ByteSum(std::u16string_view text) {
    constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
    std::int32_t sum = 0;
    for (const char16_t unit : text) {
        for (const int byte : {unit & 0xFF, unit >> 8}) {
            if (sum > kMax - byte) {
                throw std::overflow_error("byte sum exceeds 32 bits");
            }
            sum += byte;
        }
    }
    return sum;
}

std::int16_t KeyFromSum(std::int32_t sum) {
    std::int32_t n = sum;
    if (n >= 179) {
        n %= 179;
    }
    if (n < 10) {
        n += 50;
    }
    if (n > 165) {
        n -= 50;
    }
    // Only a negative sum, which no byte sum is, can land outside 16 bits.
    if (n < std::numeric_limits<std::int16_t>::min() ||
        n > std::numeric_limits<std::int16_t>::max()) {
        throw std::overflow_error("cipher key does not fit in 16 bits");
    }
    return static_cast<std::int16_t>(n);
}

PasswordDigest DigestOfPassword(std::u16string_view password) {
    PasswordDigest digest;
    digest.sum = ByteSum(ScrambleText(password, kPasswordScrambleKey));
    for (const char digit : std::to_string(digest.sum)) {
        digest.text.push_back(static_cast<char16_t>(digit));
    }
    return digest;
}

}  // namespace kestrove
