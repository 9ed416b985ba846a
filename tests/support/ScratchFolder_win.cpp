#include <windows.h>

#include <string>

#include "ScratchFolder.h"

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
