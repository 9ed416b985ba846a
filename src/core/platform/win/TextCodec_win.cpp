#include <windows.h>

#include <string>

#include "TextCodec.h"

namespace kestrove {

std::u16string SystemErrorText(int code) {
    // The wide call, in the user's language: the narrow texts the C++ library offers are in the
    // ANSI code page, which is not what Utf8ToUtf16 reads.
    wchar_t* buffer = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::u16string text;
    if (length > 0 && buffer != nullptr) {
        text.assign(reinterpret_cast<const char16_t*>(buffer), length);
    }
    if (buffer != nullptr) {
        LocalFree(buffer);
    }
    // The system ends its texts with a line break, which a message box would show as a blank line.
    while (!text.empty() && (text.back() == u'\r' || text.back() == u'\n' || text.back() == u' ')) {
        text.pop_back();
    }
    // Empty for a number the system has no words for: the windows say the number then.
    return text;
}

}  // namespace kestrove
