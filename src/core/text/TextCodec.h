#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace kestrove {

// UTF-8 <-> UTF-16 without locale dependence. Malformed input is replaced by U+FFFD rather
// than thrown on, because these texts are only ever shown or compared, never written back.
[[nodiscard]] std::u16string Utf8ToUtf16(std::string_view utf8);
[[nodiscard]] std::string Utf16ToUtf8(std::u16string_view utf16);

// Text of a platform error number (errno on POSIX, GetLastError() on Windows) as the system
// words it.
[[nodiscard]] std::u16string SystemErrorText(int code);

// A path as text for display, never throwing on names that are not valid UTF-8.
[[nodiscard]] std::u16string PathText(const std::filesystem::path& path);

}  // namespace kestrove
