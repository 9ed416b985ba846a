#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kestrove {

// The additive keystream: the offset that position i of a byte sequence receives under key k,
// ((i + 2) mod k) * ((i + 1) mod k) mod k. Files count their first byte as position 1, the
// password scrambler counts from 0. k must be at least 1.
[[nodiscard]] constexpr std::uint32_t KeystreamValue(std::uint64_t i, std::uint32_t k) {
    return static_cast<std::uint32_t>(((i + 2) % k) * ((i + 1) % k) % k);
}

// Smallest and largest key the byte transform accepts: the byte arithmetic stays within one
// wrap-around for every key up to 257.
inline constexpr std::int32_t kMinCipherKey = 1;
inline constexpr std::int32_t kMaxCipherKey = 257;

enum class Direction { Encrypt, Decrypt };

// The keystream has period k, so it is kept as a table and applied to whole blocks with a plain
// byte add (encrypt) or subtract (decrypt) that the compiler vectorises.
class KeystreamTable {
  public:
    // key must lie in kMinCipherKey..kMaxCipherKey.
    explicit KeystreamTable(std::uint32_t key);

    [[nodiscard]] std::uint32_t key() const { return m_key; }

    // Transforms data[0..size) in place; data[0] is the byte at stream position firstIndex.
    void Apply(Direction direction, std::uint8_t* data, std::size_t size,
               std::uint64_t firstIndex) const;

  private:
    std::uint32_t m_key;
    // Both tables hold the offsets of positions 0, 1, 2, ... for m_span + m_key positions, where
    // m_span is a multiple of the key near 4 KiB: a run of m_span bytes starting at any phase of
    // the period reads one contiguous window, so the inner loop is a plain byte add that stays in
    // the first-level cache. Decryption adds the negated offsets.
    std::size_t m_span = 0;
    std::vector<std::uint8_t> m_encrypt;
    std::vector<std::uint8_t> m_decrypt;
};

}  // namespace kestrove
