#include "TemporaryName.h"

#include <random>

namespace kestrove {

namespace {

constexpr std::string_view kPrefix = ".kestrove-";
constexpr std::string_view kSuffix = ".tmp";
constexpr std::size_t kRandomLength = 12;
constexpr std::string_view kAlphabet = "abcdefghijklmnopqrstuvwxyz0123456789";

template <typename Char>
bool MatchesTemporaryForm(std::basic_string_view<Char> name) {
    if (name.size() != kPrefix.size() + kRandomLength + kSuffix.size()) {
        return false;
    }
    for (std::size_t i = 0; i < kPrefix.size(); ++i) {
        if (name[i] != static_cast<Char>(kPrefix[i])) {
            return false;
        }
    }
    for (std::size_t i = 0; i < kRandomLength; ++i) {
        const Char c = name[kPrefix.size() + i];
        if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))) {
            return false;
        }
    }
    const std::size_t tail = kPrefix.size() + kRandomLength;
    for (std::size_t i = 0; i < kSuffix.size(); ++i) {
        if (name[tail + i] != static_cast<Char>(kSuffix[i])) {
            return false;
        }
    }
    return true;
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
    name.append(kSuffix);
    return name;
}

bool IsOurTemporaryName(std::string_view fileName) {
    return MatchesTemporaryForm(fileName);
}

bool IsOurTemporaryName(std::u16string_view fileName) {
    return MatchesTemporaryForm(fileName);
}

}  // namespace kestrove
