#include <string.h>

#include <cstring>
#include <cuchar>

#include "TextCodec.h"

namespace kestrove {

std::u16string SystemErrorText(int code) {
    // The system's words in the user's language and its encoding, as the program's locale says
    // (the windows set it from the environment at start); plain English in the "C" locale.
    char buffer[512];
    const char* text = ::strerror_r(code, buffer, sizeof buffer);
    std::u16string words;
    std::mbstate_t state{};
    const char* at = text;
    std::size_t left = std::strlen(text);
    while (left > 0) {
        char16_t unit = 0;
        const std::size_t used = std::mbrtoc16(&unit, at, left, &state);
        if (used == static_cast<std::size_t>(-3)) {
            words.push_back(unit);  // the second half of a surrogate pair
            continue;
        }
        if (used == 0 || used > left) {
            // Not the locale's encoding after all: read as UTF-8, which glibc writes otherwise.
            return Utf8ToUtf16(text);
        }
        words.push_back(unit);
        at += used;
        left -= used;
    }
    return words;
}

}  // namespace kestrove
