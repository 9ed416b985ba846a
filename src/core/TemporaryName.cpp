#include "TemporaryName.h"

#include <random>

namespace kestrove {

namespace {

constexpr std::string_view kPrefix = ".kestrove-";
constexpr std::size_t kRandomLength = 12;
constexpr std::string_view kAlphabet = "abcdefghijklmnopqrstuvwxyz0123456789";
constexpr std::string_view kNewContentSuffix = ".new";
constexpr std::string_view kBackupSuffix = ".old";
constexpr std::string_view kUnmarkedSuffix = ".tmp";
constexpr std::size_t kMaxIndexDigits = 16;
constexpr std::string_view kHexDigits = "0123456789abcdef";

template <typename Char>
bool HasAt(std::basic_string_view<Char> name, std::size_t at, std::string_view part) {
    if (name.size() < at + part.size()) {
        return false;
    }
    for (std::size_t i = 0; i < part.size(); ++i) {
        if (name[at + i] != static_cast<Char>(part[i])) {
            return false;
        }
    }
    return true;
}

template <typename Char>
int HexValue(Char c) {
    if (c >= '0' && c <= '9') {
        return static_cast<int>(c - '0');
    }
    if (c >= 'a' && c <= 'f') {
        return static_cast<int>(c - 'a') + 10;
    }
    return -1;
}

// The "<id in hex>.old" tail of a Backup name, from position at on.
template <typename Char>
TemporaryName ParseBackupTail(std::basic_string_view<Char> name, std::size_t at) {
    if (name.size() < at + 1 + kBackupSuffix.size()) {
        return {};
    }
    const std::size_t digits = name.size() - at - kBackupSuffix.size();
    // Exactly the form BackupNameOf writes: no leading zero.
    if (digits > kMaxIndexDigits || (digits > 1 && name[at] == static_cast<Char>('0')) ||
        !HasAt(name, name.size() - kBackupSuffix.size(), kBackupSuffix)) {
        return {};
    }
    std::uint64_t index = 0;
    for (std::size_t i = 0; i < digits; ++i) {
        const int value = HexValue(name[at + i]);
        if (value < 0) {
            return {};
        }
        index = (index << 4) | static_cast<std::uint64_t>(value);
    }
    return {TemporaryKind::Backup, index};
}

template <typename Char>
TemporaryName Parse(std::basic_string_view<Char> name) {
    if (!HasAt(name, 0, kPrefix) || name.size() < kPrefix.size() + kRandomLength + 4) {
        return {};
    }
    for (std::size_t i = 0; i < kRandomLength; ++i) {
        const Char c = name[kPrefix.size() + i];
        if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))) {
            return {};
        }
    }
    const std::size_t tail = kPrefix.size() + kRandomLength;
    const std::size_t shortLength = tail + kNewContentSuffix.size();
    if (name.size() == shortLength && HasAt(name, tail, kNewContentSuffix)) {
        return {TemporaryKind::NewContent, 0};
    }
    if (name.size() == shortLength && HasAt(name, tail, kUnmarkedSuffix)) {
        return {TemporaryKind::Unmarked, 0};
    }
    if (name[tail] == static_cast<Char>('.')) {
        return ParseBackupTail(name, tail + 1);
    }
    return {};
}

}  // namespace

std::string MakeTemporaryName() {
    // Uniqueness comes from exclusive creation; the random part only makes collisions rare.
    thread_local std::mt19937_64 generator{std::random_device{}()};
    std::uniform_int_distribution<std::size_t> pick(0, kAlphabet.size() - 1);
    std::string name(kPrefix);
    for (std::size_t i = 0; i < kRandomLength; ++i) {
        name.push_back(kAlphabet[pick(generator)]);
    }
    name.append(kNewContentSuffix);
    return name;
}

std::string BackupNameOf(std::string_view newContentName, std::uint64_t fileIndex) {
    std::string name(newContentName.substr(0, kPrefix.size() + kRandomLength));
    name.push_back('.');
    std::string digits;
    do {
        digits.insert(digits.begin(), kHexDigits[fileIndex & 0xF]);
        fileIndex >>= 4;
    } while (fileIndex != 0);
    name.append(digits).append(kBackupSuffix);
    return name;
}

TemporaryName ParseTemporaryName(std::string_view fileName) {
    return Parse(fileName);
}

TemporaryName ParseTemporaryName(std::u16string_view fileName) {
    return Parse(fileName);
}

TemporaryName ParseTemporaryName(std::wstring_view fileName) {
    return Parse(fileName);
}

bool IsOurTemporaryName(std::string_view fileName) {
    return Parse(fileName).kind != TemporaryKind::None;
}

bool IsOurTemporaryName(std::u16string_view fileName) {
    return Parse(fileName).kind != TemporaryKind::None;
}

bool IsOurTemporaryName(std::wstring_view fileName) {
    return Parse(fileName).kind != TemporaryKind::None;
}

}  // namespace kestrove
