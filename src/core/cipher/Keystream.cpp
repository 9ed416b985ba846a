#include "Keystream.h"

#include <stdexcept>

namespace kestrove {

namespace {

// Long enough that the per-run overhead vanishes, short enough that both tables stay in the
// first-level cache next to the data streaming through.
constexpr std::size_t kTargetSpan = 4096;

// This file is built with the vectorising flags: the loop below must become packed byte adds.
// restrict lets the compiler skip its overlap check; a block never overlaps the table.
void AddOffsets(std::uint8_t* __restrict data, const std::uint8_t* __restrict offsets,
                std::size_t size) {
    for (std::size_t i = 0; i < size; ++i) {
        data[i] = static_cast<std::uint8_t>(data[i] + offsets[i]);
    }
}

}  // namespace

KeystreamTable::KeystreamTable(std::uint32_t key) : m_key(key) {
    if (key < static_cast<std::uint32_t>(kMinCipherKey) ||
        key > static_cast<std::uint32_t>(kMaxCipherKey)) {
        throw std::out_of_range("cipher key outside the supported range");
    }
    m_span = (kTargetSpan + key - 1) / key * key;
    const std::size_t length = m_span + key;
    m_encrypt.resize(length);
    m_decrypt.resize(length);
    for (std::size_t i = 0; i < length; ++i) {
        const auto offset = static_cast<std::uint8_t>(KeystreamValue(i, key));
        m_encrypt[i] = offset;
        m_decrypt[i] = static_cast<std::uint8_t>(0u - offset);
    }
}

void KeystreamTable::Apply(Direction direction, std::uint8_t* data, std::size_t size,
                           std::uint64_t firstIndex) const {
    const std::vector<std::uint8_t>& table =
        direction == Direction::Encrypt ? m_encrypt : m_decrypt;
    // The keystream depends on the index only through index mod key, and every full run is a
    // whole number of periods, so all runs of this block start at the same place in the table.
    const std::uint8_t* window = table.data() + firstIndex % m_key;
    while (size >= m_span) {
        AddOffsets(data, window, m_span);
        data += m_span;
        size -= m_span;
    }
    AddOffsets(data, window, size);
}

}  // namespace kestrove
