#pragma once

// What the file tests need to say in this platform's own terms, so that one test can check the
// same behaviour on POSIX and on Windows.

#include <cstdint>
#include <filesystem>
#include <string>

#include "Failure.h"

namespace kestrove::testing {

// Error numbers by meaning: errno values on POSIX, GetLastError() values on Windows.
[[nodiscard]] int NotFoundError();
[[nodiscard]] int AccessDeniedError();
[[nodiscard]] int InUseError();

// What the transform says about a folder given to it as a file.
[[nodiscard]] Failure FolderAsFileFailure();

// Makes a file read-only the platform's way: no write permission bit at all on POSIX, the
// read-only attribute on Windows.
void MakeReadOnly(const std::filesystem::path& file);

// The permission bits (POSIX) or the attributes (Windows) of a file, to see that they survive.
[[nodiscard]] std::uint32_t FileModeOf(const std::filesystem::path& file);

}  // namespace kestrove::testing
