#include <utility>

#include "PlatformFile.h"
#include "TextCodec.h"

// The parts of the file layer that read the same on every platform.

namespace kestrove::platform {

IoError ErrorFromCode(int platformCode) {
    return IoError{SystemErrorText(platformCode), platformCode};
}

NativeFile::NativeFile(NativeFile&& other) noexcept : m_handle(std::exchange(other.m_handle, -1)) {}

NativeFile& NativeFile::operator=(NativeFile&& other) noexcept {
    if (this != &other) {
        Close();
        m_handle = std::exchange(other.m_handle, -1);
    }
    return *this;
}

NativeFile::~NativeFile() {
    Close();
}

}  // namespace kestrove::platform
