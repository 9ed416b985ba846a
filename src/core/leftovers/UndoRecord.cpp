#include "UndoRecord.h"

#include <algorithm>
#include <string_view>

// Layout, little-endian: the mark "KSTVUNDO", format version (32 bits), direction (8 bits, 0
// encrypt, 1 decrypt), a zero byte, key (16 bits), old length, file index, owner's process id,
// owner's start (64 bits each), eight zero bytes, and a check over everything before it.

namespace kestrove {

namespace {

constexpr std::string_view kMark = "KSTVUNDO";
constexpr std::uint32_t kVersion = 1;
constexpr std::size_t kCheckAt = kUndoRecordSize - 8;

void Put(UndoRecordBytes& bytes, std::size_t at, std::uint64_t value, std::size_t width) {
    for (std::size_t i = 0; i < width; ++i) {
        bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

std::uint64_t Get(const UndoRecordBytes& bytes, std::size_t at, std::size_t width) {
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < width; ++i) {
        value |= std::uint64_t{bytes[at + i]} << (8 * i);
    }
    return value;
}

// FNV-1a over the record before its check.
std::uint64_t CheckOf(const UndoRecordBytes& bytes) {
    std::uint64_t hash = 0xcbf29ce484222325ULL;
    for (std::size_t i = 0; i < kCheckAt; ++i) {
        hash = (hash ^ bytes[i]) * 0x100000001b3ULL;
    }
    return hash;
}

}  // namespace

UndoRecordBytes EncodeUndoRecord(const UndoRecord& record) {
    UndoRecordBytes bytes{};
    std::copy(kMark.begin(), kMark.end(), bytes.begin());
    Put(bytes, 8, kVersion, 4);
    Put(bytes, 12, record.direction == Direction::Encrypt ? 0 : 1, 1);
    Put(bytes, 14, record.key, 2);
    Put(bytes, 16, record.length, 8);
    Put(bytes, 24, record.fileIndex, 8);
    Put(bytes, 32, record.owner.id, 8);
    Put(bytes, 40, record.owner.start, 8);
    Put(bytes, kCheckAt, CheckOf(bytes), 8);
    return bytes;
}

std::optional<UndoRecord> DecodeUndoRecord(const UndoRecordBytes& bytes) {
    if (!std::equal(kMark.begin(), kMark.end(), bytes.begin()) || Get(bytes, 8, 4) != kVersion ||
        Get(bytes, kCheckAt, 8) != CheckOf(bytes) || bytes[12] > 1 || bytes[13] != 0 ||
        Get(bytes, 48, 8) != 0) {
        return std::nullopt;
    }
    UndoRecord record;
    record.direction = bytes[12] == 0 ? Direction::Encrypt : Direction::Decrypt;
    record.key = static_cast<std::uint32_t>(Get(bytes, 14, 2));
    record.length = Get(bytes, 16, 8);
    record.fileIndex = Get(bytes, 24, 8);
    record.owner = ProcessStamp{Get(bytes, 32, 8), Get(bytes, 40, 8)};
    if (record.key < static_cast<std::uint32_t>(kMinCipherKey) ||
        record.key > static_cast<std::uint32_t>(kMaxCipherKey)) {
        return std::nullopt;
    }
    return record;
}

}  // namespace kestrove
