#include "TemporaryName.h"

#include <random>

namespace kestrove {

namespace {

constexpr std::string_view kPrefix = ".kestrove-";
constexpr std::size_t kRandomLength = 12;
constexpr std::string_view kAlphabet = "abcdefghijklmnopqrstuvwxyz0123456789";
constexpr std::string_view kNewContent = "new";
constexpr std::string_view kUndo = "undo";
constexpr std::string_view kCommitted = "done";
constexpr std::string_view kLegacyBackup = "old";
constexpr std::string_view kUnmarked = "tmp";
constexpr std::size_t kMaxHexDigits = 16;
constexpr std::string_view kHexDigits = "0123456789abcdef";

template <typename Char>
bool Equals(std::basic_string_view<Char> text, std::string_view ascii) {
    if (text.size() != ascii.size()) {
        return false;
    }
    for (std::size_t i = 0; i < ascii.size(); ++i) {
        if (text[i] != static_cast<Char>(ascii[i])) {
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

// Exactly the form Hex writes: 1 to 16 digits, no leading zero.
template <typename Char>
std::optional<std::uint64_t> ParseHex(std::basic_string_view<Char> digits) {
    if (digits.empty() || digits.size() > kMaxHexDigits ||
        (digits.size() > 1 && digits.front() == static_cast<Char>('0'))) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    for (const Char c : digits) {
        const int digit = HexValue(c);
        if (digit < 0) {
            return std::nullopt;
        }
        value = (value << 4) | static_cast<std::uint64_t>(digit);
    }
    return value;
}

std::string Hex(std::uint64_t value) {
    std::string digits;
    do {
        digits.insert(digits.begin(), kHexDigits[value & 0xF]);
        value >>= 4;
    } while (value != 0);
    return digits;
}

// "<pid>-<start>", as MakeTemporaryName writes the maker of a NewContent file.
template <typename Char>
std::optional<ProcessStamp> ParseOwner(std::basic_string_view<Char> text) {
    const std::size_t dash = text.find(static_cast<Char>('-'));
    if (dash == std::basic_string_view<Char>::npos) {
        return std::nullopt;
    }
    const auto id = ParseHex(text.substr(0, dash));
    const auto start = ParseHex(text.substr(dash + 1));
    if (!id || !start) {
        return std::nullopt;
    }
    return ProcessStamp{*id, *start};
}

// What follows ".kestrove-R.": "<suffix>" or "<middle>.<suffix>".
template <typename Char>
TemporaryName ParseTail(std::basic_string_view<Char> tail) {
    const std::size_t dot = tail.rfind(static_cast<Char>('.'));
    if (dot == std::basic_string_view<Char>::npos) {
        if (Equals(tail, kNewContent)) {
            return {TemporaryKind::NewContent, 0, std::nullopt};
        }
        if (Equals(tail, kUnmarked)) {
            return {TemporaryKind::Unmarked, 0, std::nullopt};
        }
        return {};
    }
    const std::basic_string_view<Char> middle = tail.substr(0, dot);
    const std::basic_string_view<Char> suffix = tail.substr(dot + 1);
    const auto owner = ParseOwner(middle);
    if (Equals(suffix, kNewContent)) {
        if (owner) {
            return {TemporaryKind::NewContent, 0, owner};
        }
        return {};
    }
    TemporaryKind kind = TemporaryKind::None;
    if (Equals(suffix, kUndo)) {
        if (owner) {
            return {TemporaryKind::Journal, 0, owner};
        }
        kind = TemporaryKind::Undo;
    } else if (Equals(suffix, kCommitted)) {
        if (owner) {
            return {TemporaryKind::CommittedJournal, 0, owner};
        }
        kind = TemporaryKind::Committed;
    } else if (Equals(suffix, kLegacyBackup)) {
        kind = TemporaryKind::LegacyBackup;
    } else {
        return {};
    }
    const auto index = ParseHex(middle);
    if (!index) {
        return {};
    }
    return {kind, *index, std::nullopt};
}

template <typename Char>
TemporaryName Parse(std::basic_string_view<Char> name) {
    const std::size_t randomEnd = kPrefix.size() + kRandomLength;
    if (name.size() < randomEnd + 2 || !Equals(name.substr(0, kPrefix.size()), kPrefix) ||
        name[randomEnd] != static_cast<Char>('.')) {
        return {};
    }
    for (std::size_t i = kPrefix.size(); i < randomEnd; ++i) {
        const Char c = name[i];
        if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))) {
            return {};
        }
    }
    return ParseTail(name.substr(randomEnd + 1));
}

// ".kestrove-R." of a name made here.
std::string_view StemOf(std::string_view name) {
    return name.substr(0, kPrefix.size() + kRandomLength + 1);
}

}  // namespace

std::string MakeTemporaryName(const ProcessStamp& owner) {
    // Uniqueness comes from exclusive creation; the random part only makes collisions rare.
    thread_local std::mt19937_64 generator{std::random_device{}()};
    std::uniform_int_distribution<std::size_t> pick(0, kAlphabet.size() - 1);
    std::string name(kPrefix);
    for (std::size_t i = 0; i < kRandomLength; ++i) {
        name.push_back(kAlphabet[pick(generator)]);
    }
    name.push_back('.');
    name.append(Hex(owner.id)).append("-").append(Hex(owner.start)).append(".");
    name.append(kNewContent);
    return name;
}

std::string UndoNameOf(std::string_view newContentName, std::uint64_t fileIndex) {
    std::string name(StemOf(newContentName));
    name.append(Hex(fileIndex)).append(".").append(kUndo);
    return name;
}

std::string JournalNameOf(std::string_view newContentName) {
    std::string name(newContentName.substr(0, newContentName.size() - kNewContent.size()));
    name.append(kUndo);
    return name;
}

std::string CommittedNameOf(std::string_view undoName) {
    std::string name(undoName.substr(0, undoName.size() - kUndo.size()));
    name.append(kCommitted);
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
