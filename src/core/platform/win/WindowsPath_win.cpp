#include <string_view>

#include "WinCalls_win.h"
#include "WindowsPath.h"

namespace kestrove::platform {

namespace {

constexpr std::wstring_view kVerbatim = L"\\\\?\\";
constexpr std::wstring_view kVerbatimUnc = L"\\\\?\\UNC\\";
constexpr std::wstring_view kDevice = L"\\\\.\\";
constexpr std::wstring_view kUnc = L"\\\\";

// CreateDirectoryW stops at MAX_PATH - 12 characters without the prefix, the other calls at
// MAX_PATH - 1; the smaller limit serves for all.
constexpr std::size_t kPlainLimit = MAX_PATH - 12;

bool StartsWith(std::wstring_view text, std::wstring_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

}  // namespace

std::wstring ApiPath(const std::filesystem::path& path, std::size_t extra) {
    const std::wstring& given = path.native();
    if (given.empty() || StartsWith(given, kVerbatim) || StartsWith(given, kDevice)) {
        return given;
    }
    // The prefix turns off the system's clean-up of a path, so the clean-up is done first.
    const DWORD needed = GetFullPathNameW(given.c_str(), 0, nullptr, nullptr);
    if (needed == 0) {
        return given;
    }
    std::wstring full(needed, L'\0');
    const DWORD written = GetFullPathNameW(given.c_str(), needed, full.data(), nullptr);
    if (written == 0 || written >= needed) {
        return given;
    }
    full.resize(written);
    if (full.size() + extra < kPlainLimit || StartsWith(full, kDevice) ||
        StartsWith(full, kVerbatim)) {
        return full;
    }
    if (StartsWith(full, kUnc)) {
        return std::wstring(kVerbatimUnc) + full.substr(kUnc.size());
    }
    return std::wstring(kVerbatim) + full;
}

std::filesystem::path DisplayPath(const std::wstring& reported) {
    std::wstring plain;
    if (StartsWith(reported, kVerbatimUnc)) {
        plain = std::wstring(kUnc) + reported.substr(kVerbatimUnc.size());
    } else if (StartsWith(reported, kVerbatim) && reported.size() >= kVerbatim.size() + 2 &&
               reported[kVerbatim.size() + 1] == L':') {
        plain = reported.substr(kVerbatim.size());
    } else {
        return reported;
    }
    return plain.size() < kPlainLimit ? std::filesystem::path(plain)
                                      : std::filesystem::path(reported);
}

namespace {

// The final path in the given form: a drive letter or a share, or the volume's GUID.
IoResult<std::wstring> FinalPathIn(HANDLE handle, DWORD form) {
    std::wstring buffer(MAX_PATH, L'\0');
    for (int attempt = 0; attempt < 4; ++attempt) {
        const DWORD length = win::FinalPathName(
            handle, buffer.data(), static_cast<DWORD>(buffer.size()), FILE_NAME_NORMALIZED | form);
        if (length == 0) {
            return {ErrorFromCode(static_cast<int>(GetLastError()))};
        }
        if (length < buffer.size()) {
            buffer.resize(length);
            return {std::nullopt, std::move(buffer)};
        }
        // Too small: length is the size needed, terminator included.
        buffer.resize(length);
    }
    return {ErrorFromCode(ERROR_FILENAME_EXCED_RANGE)};
}

}  // namespace

IoResult<std::filesystem::path> FinalPathOf(std::intptr_t handle) {
    const auto file = reinterpret_cast<HANDLE>(handle);
    IoResult<std::wstring> found = FinalPathIn(file, VOLUME_NAME_DOS);
    // A volume mounted without a drive letter has no such name; its GUID name leads there too.
    if (found.failure && found.failure->code == ERROR_PATH_NOT_FOUND) {
        found = FinalPathIn(file, VOLUME_NAME_GUID);
    }
    if (found.failure) {
        return {found.failure};
    }
    return {std::nullopt, DisplayPath(found.value)};
}

}  // namespace kestrove::platform
