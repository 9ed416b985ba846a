#pragma once

// Internal to kestrove_core on Windows, and included by *_win.cpp files only: what every part of
// the Windows file layer says the same way.

#include <windows.h>

#include <cstdint>
#include <filesystem>

#include "PlatformFile.h"

namespace kestrove::platform {

[[nodiscard]] inline HANDLE AsHandle(std::intptr_t handle) {
    return reinterpret_cast<HANDLE>(handle);
}

[[nodiscard]] inline HANDLE AsHandle(const NativeFile& file) {
    return AsHandle(file.handle());
}

// What a call that failed left in the thread's last error.
[[nodiscard]] inline IoError LastError() {
    return ErrorFromCode(static_cast<int>(GetLastError()));
}

// A handle the system gave, closed by the NativeFile; none for INVALID_HANDLE_VALUE.
[[nodiscard]] inline NativeFile Adopt(HANDLE handle) {
    return handle == INVALID_HANDLE_VALUE ? NativeFile()
                                          : NativeFile(reinterpret_cast<std::intptr_t>(handle));
}

// A file's index on its volume, which NTFS and ReFS give in two halves.
[[nodiscard]] inline std::uint64_t IndexOf(DWORD high, DWORD low) {
    return (std::uint64_t{high} << 32) | low;
}

[[nodiscard]] inline std::uint64_t IndexOf(const BY_HANDLE_FILE_INFORMATION& info) {
    return IndexOf(info.nFileIndexHigh, info.nFileIndexLow);
}

[[nodiscard]] inline std::uint64_t SizeOf(const BY_HANDLE_FILE_INFORMATION& info) {
    return (std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow;
}

// Renames an open file through its handle, which must have been opened with DELETE access: so
// the handle that holds one of our temporary files is the one that renames it, and never another
// file that took its name meanwhile. Beside the other temporary-file calls, in
// PlatformTemporary_win.cpp.
[[nodiscard]] IoStatus RenameOpenFile(NativeFile& file, const std::filesystem::path& to,
                                      bool replace);

}  // namespace kestrove::platform
