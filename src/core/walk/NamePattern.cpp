#include "NamePattern.h"

#include <algorithm>

#include "TextCodec.h"

namespace kestrove {

namespace {

bool InRange(char16_t unit, char16_t first, char16_t last) {
    return unit >= first && unit <= last;
}

// Blocks where capital and small letters alternate: capital at even code points.
bool IsEvenCapitalPair(char16_t unit) {
    return InRange(unit, 0x0100, 0x012F) || InRange(unit, 0x0132, 0x0137) ||
           InRange(unit, 0x014A, 0x0177) || InRange(unit, 0x01DE, 0x01EF) ||
           InRange(unit, 0x01F8, 0x021F) || InRange(unit, 0x0222, 0x0233) ||
           InRange(unit, 0x03D8, 0x03EF) || InRange(unit, 0x0460, 0x0481) ||
           InRange(unit, 0x048A, 0x04BF) || InRange(unit, 0x04D0, 0x052F) ||
           InRange(unit, 0x1E00, 0x1E95) || InRange(unit, 0x1EA0, 0x1EFF);
}

// Blocks where the capital sits at the odd code point.
bool IsOddCapitalPair(char16_t unit) {
    return InRange(unit, 0x0139, 0x0148) || InRange(unit, 0x0179, 0x017E) ||
           InRange(unit, 0x01CD, 0x01DC) || InRange(unit, 0x04C1, 0x04CE);
}

char16_t LowerGreek(char16_t unit) {
    if (InRange(unit, 0x0391, 0x03AB) && unit != 0x03A2) {
        return static_cast<char16_t>(unit + 0x20);
    }
    switch (unit) {
        case 0x0386:
            return 0x03AC;
        case 0x0388:
        case 0x0389:
        case 0x038A:
            return static_cast<char16_t>(unit + 0x25);
        case 0x038C:
            return 0x03CC;
        case 0x038E:
        case 0x038F:
            return static_cast<char16_t>(unit + 0x3F);
        default:
            return unit;
    }
}

bool WildcardMatch(std::u16string_view name, std::u16string_view pattern) {
    // Greedy match with one back-tracking point: the last "*" seen absorbs one more character
    // whenever the rest fails. Linear for the patterns a walk uses, never exponential.
    std::size_t n = 0;
    std::size_t p = 0;
    std::size_t star = std::u16string_view::npos;
    std::size_t resume = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == u'*') {
            star = p++;
            resume = n;
        } else if (p < pattern.size() && pattern[p] == name[n]) {
            ++p;
            ++n;
        } else if (star != std::u16string_view::npos) {
            p = star + 1;
            n = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == u'*') {
        ++p;
    }
    return p == pattern.size();
}

}  // namespace

char16_t LowerCaseUnit(char16_t unit) {
    if (unit < 0x80) {
        return InRange(unit, u'A', u'Z') ? static_cast<char16_t>(unit + 0x20) : unit;
    }
    if (InRange(unit, 0x00C0, 0x00DE) && unit != 0x00D7) {
        return static_cast<char16_t>(unit + 0x20);
    }
    if (IsEvenCapitalPair(unit)) {
        return static_cast<char16_t>(unit | 1);
    }
    if (IsOddCapitalPair(unit)) {
        return (unit & 1) != 0 ? static_cast<char16_t>(unit + 1) : unit;
    }
    if (unit == 0x0130) {
        return u'i';
    }
    if (unit == 0x0178) {
        return 0x00FF;
    }
    if (InRange(unit, 0x0386, 0x03AB)) {
        return LowerGreek(unit);
    }
    if (InRange(unit, 0x0400, 0x040F)) {
        return static_cast<char16_t>(unit + 0x50);
    }
    if (InRange(unit, 0x0410, 0x042F)) {
        return static_cast<char16_t>(unit + 0x20);
    }
    if (InRange(unit, 0x0531, 0x0556)) {
        return static_cast<char16_t>(unit + 0x30);
    }
    if (InRange(unit, 0xFF21, 0xFF3A)) {
        return static_cast<char16_t>(unit + 0x20);
    }
    return unit;
}

NamePattern::NamePattern(std::u16string_view pattern) : m_lowered(pattern) {
    std::transform(m_lowered.begin(), m_lowered.end(), m_lowered.begin(), LowerCaseUnit);
    m_wildcard = m_lowered.find(u'*') != std::u16string::npos;
    m_anyNameWithDot = m_lowered == u"*.*";
}

bool NamePattern::Matches(std::u16string_view name) const {
    m_scratch.assign(name);
    std::transform(m_scratch.begin(), m_scratch.end(), m_scratch.begin(), LowerCaseUnit);
    if (m_wildcard) {
        return WildcardMatch(m_scratch, m_lowered);
    }
    return m_scratch.find(m_lowered) != std::u16string::npos;
}

bool NamePattern::MatchesNative(NativeView name) const {
    // A '.' byte in UTF-8 is always the character '.', even in malformed names, so "*.*" can be
    // answered from the raw name.
    if (m_anyNameWithDot) {
        return name.find('.') != NativeView::npos;
    }
#ifdef _WIN32
    return Matches(
        std::u16string_view(reinterpret_cast<const char16_t*>(name.data()), name.size()));
#else
    return Matches(Utf8ToUtf16(name));
#endif
}

}  // namespace kestrove
