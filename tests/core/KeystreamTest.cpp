#include <gtest/gtest.h>

#include <cstdint>
#include <stdexcept>
#include <vector>

#include "Keystream.h"
#include "TransformTestSupport.h"

namespace kestrove {
namespace {

using testing::Bytes;
using testing::RandomBytes;
using testing::ReferenceOffset;

TEST(KeystreamValue, MatchesHandComputedValues) {
    const std::vector<std::uint32_t> key10 = {6, 2, 0, 0, 2, 6, 2, 0, 0, 2, 6, 2};
    for (std::uint64_t i = 1; i <= key10.size(); ++i) {
        EXPECT_EQ(KeystreamValue(i, 10), key10[i - 1]) << "index " << i;
    }
    EXPECT_EQ(KeystreamValue(0, 10), 2u);  // never used for files
    const std::vector<std::pair<std::uint64_t, std::uint32_t>> key165 = {
        {1, 6}, {2, 12}, {3, 20}, {5, 42}, {162, 2}, {163, 0}, {164, 0}, {165, 2}, {166, 6}};
    for (const auto& [index, value] : key165) {
        EXPECT_EQ(KeystreamValue(index, 165), value) << "index " << index;
    }
    for (std::uint32_t k = 7; k <= 165; ++k) {
        EXPECT_EQ(KeystreamValue(1, k), 6u) << "key " << k;
    }
}

// Every key the transform accepts, blocks starting at any phase of the period and at indices past
// 32 bits, sizes on both sides of the table's internal run length.
TEST(KeystreamTable, MatchesTheDefinitionForEveryKeyAndPosition) {
    const std::vector<std::size_t> sizes = {1, 17, 4111, 9000};
    for (std::uint32_t k = kMinCipherKey; k <= kMaxCipherKey; ++k) {
        const KeystreamTable table(k);
        const std::vector<std::uint64_t> starts = {1, k + 3, (std::uint64_t{1} << 32) + 7};
        for (const std::uint64_t start : starts) {
            for (const std::size_t size : sizes) {
                const Bytes plain = RandomBytes(size, k * 31 + static_cast<std::uint32_t>(size));
                Bytes data = plain;
                table.Apply(Direction::Encrypt, data.data(), data.size(), start);
                for (std::size_t j = 0; j < size; ++j) {
                    const auto expected =
                        static_cast<std::uint8_t>(plain[j] + ReferenceOffset(start + j, k));
                    ASSERT_EQ(data[j], expected)
                        << "key " << k << " start " << start << " byte " << j;
                }
                table.Apply(Direction::Decrypt, data.data(), data.size(), start);
                ASSERT_EQ(data, plain) << "key " << k << " start " << start << " size " << size;
            }
        }
    }
}

TEST(KeystreamTable, EmptyBlockIsNoOp) {
    const KeystreamTable table(10);
    std::uint8_t guard = 0x5A;
    table.Apply(Direction::Encrypt, &guard, 0, 1);
    EXPECT_EQ(guard, 0x5A);
}

TEST(KeystreamTable, RefusesKeysOutsideTheSupportedRange) {
    EXPECT_THROW(KeystreamTable(0), std::out_of_range);
    EXPECT_THROW(KeystreamTable(258), std::out_of_range);
    EXPECT_NO_THROW(KeystreamTable(257));
}

}  // namespace
}  // namespace kestrove
