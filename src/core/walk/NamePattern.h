#pragma once

#include <string>
#include <string_view>

#include "DirectorySource.h"

namespace kestrove {

// Lower-case form of one UTF-16 code unit for the scripts file names commonly use (Latin,
// Greek, Cyrillic, Armenian, full-width Latin); everything else is returned unchanged.
[[nodiscard]] char16_t LowerCaseUnit(char16_t unit);

// A file-name pattern, lower-cased once for a whole walk. With "*" the whole name must match
// ("*" stands for any run of characters, every other character for itself); without "*" the
// pattern must occur somewhere in the name. Case is ignored either way.
class NamePattern {
  public:
    explicit NamePattern(std::u16string_view pattern);

    [[nodiscard]] bool Matches(std::u16string_view name) const;

    // For names straight from a listing; on POSIX they are decoded from UTF-8 only to be
    // compared.
    [[nodiscard]] bool MatchesNative(NativeView name) const;

  private:
    std::u16string m_lowered;
    bool m_wildcard = false;
    bool m_anyNameWithDot = false;  // the pattern "*.*", which needs no decoding at all
    mutable std::u16string m_scratch;
};

}  // namespace kestrove
