#include "UndoJournal.h"

#include <algorithm>
#include <string_view>

// Layout, little-endian. Each entry: file index (64 bits), content length, name length in bytes
// (32 bits each), the name's bytes as the platform keeps them, the old content. Then 64 bytes: the
// mark "KSTVJRNL", format version (32 bits), direction (8 bits), a zero byte, key (16 bits), entry
// count (32 bits), four zero bytes, the entries' length and an FNV-1a check over them, the owner's
// process id and start (64 bits each), and a check over the record before it.

namespace kestrove {

namespace {

constexpr std::string_view kMark = "KSTVJRNL";
constexpr std::uint32_t kVersion = 1;
constexpr std::size_t kRecordSize = 64;
constexpr std::size_t kEntryHeader = 16;
using NameChar = NativeString::value_type;

constexpr std::uint64_t kFnvStart = 0xcbf29ce484222325ULL;

std::uint64_t Fnv(std::uint64_t hash, const std::uint8_t* data, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i) {
        hash = (hash ^ data[i]) * 0x100000001b3ULL;
    }
    return hash;
}

void Put(std::vector<std::uint8_t>& bytes, std::uint64_t value, std::size_t width) {
    for (std::size_t i = 0; i < width; ++i) {
        bytes.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    }
}

std::uint64_t Get(const std::uint8_t* at, std::size_t width) {
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < width; ++i) {
        value |= std::uint64_t{at[i]} << (8 * i);
    }
    return value;
}

void PutName(std::vector<std::uint8_t>& bytes, const NativeString& name) {
    for (const NameChar c : name) {
        Put(bytes, static_cast<std::uint64_t>(c), sizeof(NameChar));
    }
}

NativeString GetName(const std::uint8_t* at, std::size_t bytes) {
    NativeString name;
    for (std::size_t i = 0; i + sizeof(NameChar) <= bytes; i += sizeof(NameChar)) {
        name.push_back(static_cast<NameChar>(Get(at + i, sizeof(NameChar))));
    }
    return name;
}

}  // namespace

std::vector<std::uint8_t> EncodeJournal(const JournalRecord& record,
                                        const std::vector<JournalEntry>& entries) {
    std::vector<std::uint8_t> bytes;
    for (const JournalEntry& entry : entries) {
        Put(bytes, entry.fileIndex, 8);
        Put(bytes, entry.old.size(), 4);
        Put(bytes, entry.name.size() * sizeof(NameChar), 4);
        PutName(bytes, entry.name);
        bytes.insert(bytes.end(), entry.old.begin(), entry.old.end());
    }
    const std::uint64_t entriesLength = bytes.size();
    const std::uint64_t entriesCheck = Fnv(kFnvStart, bytes.data(), bytes.size());
    const std::size_t recordAt = bytes.size();
    bytes.insert(bytes.end(), kMark.begin(), kMark.end());
    Put(bytes, kVersion, 4);
    Put(bytes, record.direction == Direction::Encrypt ? 0 : 1, 1);
    Put(bytes, 0, 1);
    Put(bytes, record.key, 2);
    Put(bytes, entries.size(), 4);
    Put(bytes, 0, 4);
    Put(bytes, entriesLength, 8);
    Put(bytes, entriesCheck, 8);
    Put(bytes, record.owner.id, 8);
    Put(bytes, record.owner.start, 8);
    Put(bytes, Fnv(kFnvStart, bytes.data() + recordAt, kRecordSize - 8), 8);
    return bytes;
}

std::optional<DecodedJournal> DecodeJournal(const std::vector<std::uint8_t>& bytes) {
    if (bytes.size() < kRecordSize) {
        return std::nullopt;
    }
    const std::uint8_t* record = bytes.data() + bytes.size() - kRecordSize;
    const std::uint64_t entriesLength = Get(record + 24, 8);
    if (!std::equal(kMark.begin(), kMark.end(), record) || Get(record + 8, 4) != kVersion ||
        record[12] > 1 || record[13] != 0 || Get(record + 20, 4) != 0 ||
        Get(record + 56, 8) != Fnv(kFnvStart, record, kRecordSize - 8) ||
        entriesLength != bytes.size() - kRecordSize ||
        Get(record + 32, 8) != Fnv(kFnvStart, bytes.data(), entriesLength)) {
        return std::nullopt;
    }
    DecodedJournal journal;
    journal.record.direction = record[12] == 0 ? Direction::Encrypt : Direction::Decrypt;
    journal.record.key = static_cast<std::uint32_t>(Get(record + 14, 2));
    journal.record.owner = ProcessStamp{Get(record + 40, 8), Get(record + 48, 8)};
    if (journal.record.key < static_cast<std::uint32_t>(kMinCipherKey) ||
        journal.record.key > static_cast<std::uint32_t>(kMaxCipherKey)) {
        return std::nullopt;
    }
    const std::uint64_t count = Get(record + 16, 4);
    std::size_t at = 0;
    for (std::uint64_t i = 0; i < count; ++i) {
        if (entriesLength - at < kEntryHeader) {
            return std::nullopt;
        }
        JournalEntry entry;
        entry.fileIndex = Get(bytes.data() + at, 8);
        const std::uint64_t length = Get(bytes.data() + at + 8, 4);
        const std::uint64_t nameBytes = Get(bytes.data() + at + 12, 4);
        at += kEntryHeader;
        if (nameBytes % sizeof(NameChar) != 0 || entriesLength - at < nameBytes + length) {
            return std::nullopt;
        }
        entry.name = GetName(bytes.data() + at, nameBytes);
        at += nameBytes;
        entry.old.assign(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                         bytes.begin() + static_cast<std::ptrdiff_t>(at + length));
        at += length;
        journal.entries.push_back(std::move(entry));
    }
    if (at != entriesLength) {
        return std::nullopt;
    }
    return journal;
}

}  // namespace kestrove
