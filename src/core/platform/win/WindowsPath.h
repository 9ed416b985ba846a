#pragma once

// Internal to kestrove_core on Windows: paths as the wide file functions need them.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "PlatformFile.h"

namespace kestrove::platform {

// The absolute form of path for the wide file functions. A path that would reach the system's
// old limit of MAX_PATH characters (with extra more characters appended by the caller, such as
// "\*" for a search) gets the "\\?\" prefix, so that any length the file system allows works.
// Shorter paths keep the usual form, and with it the usual handling of "/" and of "." and "..".
[[nodiscard]] std::wstring ApiPath(const std::filesystem::path& path, std::size_t extra = 0);

// A path as the system reports it ("\\?\C:\..." or "\\?\UNC\server\..."), in the usual form when
// it is short enough to be used that way.
[[nodiscard]] std::filesystem::path DisplayPath(const std::wstring& reported);

// Where the open file or folder behind handle really is, every link resolved: under its drive
// letter or share, or under the volume's GUID name where the volume has neither.
[[nodiscard]] IoResult<std::filesystem::path> FinalPathOf(std::intptr_t handle);

}  // namespace kestrove::platform
