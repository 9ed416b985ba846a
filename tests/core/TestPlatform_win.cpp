#include <windows.h>

#include <stdexcept>

#include "FaultInjection.h"
#include "PathInfo.h"
#include "TestPlatform.h"

namespace kestrove::testing {

namespace {

void RemoveContents(const std::wstring& folder) {
    WIN32_FIND_DATAW entry{};
    const HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) {
        return;
    }
    do {
        const std::wstring name = entry.cFileName;
        if (name == L"." || name == L"..") {
            continue;
        }
        const std::wstring full = folder + L"\\" + name;
        const DWORD attributes = entry.dwFileAttributes;
        if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) {
            SetFileAttributesW(full.c_str(), attributes & ~DWORD{FILE_ATTRIBUTE_READONLY});
        }
        if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            DeleteFileW(full.c_str());
            continue;
        }
        if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
            RemoveContents(full);
        }
        RemoveDirectoryW(full.c_str());
    } while (FindNextFileW(find, &entry));
    FindClose(find);
}

}  // namespace

int NotFoundError() {
    return ERROR_FILE_NOT_FOUND;
}

int AccessDeniedError() {
    return ERROR_ACCESS_DENIED;
}

int InUseError() {
    return ERROR_SHARING_VIOLATION;
}

// Windows has no interrupted calls. A sharing violation is what a call meets when another program
// holds the file.
std::vector<InjectedError> ErrorsToInject() {
    return {{ERROR_IO_DEVICE, "IoDevice", false, false},
            {ERROR_DISK_FULL, "DiskFull", false, false},
            {ERROR_ACCESS_DENIED, "AccessDenied", false, false},
            {ERROR_SHARING_VIOLATION, "SharingViolation", false, false},
            {ERROR_IO_DEVICE, "Crash", true, false}};
}

Failure FolderAsFileFailure() {
    return Failure::NotRegular(std::filesystem::file_type::directory);
}

void MakeReadOnly(const std::filesystem::path& file) {
    const DWORD attributes = GetFileAttributesW(file.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES ||
        !SetFileAttributesW(file.c_str(), attributes | FILE_ATTRIBUTE_READONLY)) {
        throw std::runtime_error("cannot make read-only: " + file.string());
    }
}

std::uint32_t FileModeOf(const std::filesystem::path& file) {
    const DWORD attributes = GetFileAttributesW(file.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        throw std::runtime_error("no attributes: " + file.string());
    }
    return attributes;
}

void RemoveTree(const std::filesystem::path& folder) {
    // The verbatim form reaches paths of any length, which the C library under std::filesystem
    // does not.
    const DWORD needed = GetFullPathNameW(folder.c_str(), 0, nullptr, nullptr);
    std::wstring full(needed, L'\0');
    full.resize(GetFullPathNameW(folder.c_str(), needed, full.data(), nullptr));
    while (full.size() > 3 && full.back() == L'\\') {
        full.pop_back();
    }
    const std::wstring root = L"\\\\?\\" + full;
    RemoveContents(root);
    RemoveDirectoryW(root.c_str());
}

}  // namespace kestrove::testing
