#include <system_error>

#include "TextCodec.h"

namespace kestrove {

std::u16string SystemErrorText(int code) {
    // glibc words errno values in UTF-8 (or plain ASCII), whatever the locale.
    return Utf8ToUtf16(std::system_category().message(code));
}

}  // namespace kestrove
