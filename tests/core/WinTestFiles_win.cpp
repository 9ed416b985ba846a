#include <windows.h>

#include <stdexcept>

#include "TextCodec.h"
#include "WinTestFiles.h"

namespace kestrove::testing {

namespace {

[[noreturn]] void Fail(const char* what, const std::filesystem::path& path) {
    const std::u16string error = SystemErrorText(static_cast<int>(GetLastError()));
    throw std::runtime_error(std::string(what) + " " + Utf16ToUtf8(PathText(path)) + ": " +
                             Utf16ToUtf8(error));
}

}  // namespace

std::filesystem::path ProgramFolder() {
    std::wstring program(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            GetModuleFileNameW(nullptr, program.data(), static_cast<DWORD>(program.size()));
        if (length < program.size()) {
            program.resize(length);
            return std::filesystem::path(program).parent_path();
        }
        program.resize(program.size() * 2);
    }
}

std::wstring Verbatim(const std::filesystem::path& path) {
    const DWORD needed = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    std::wstring full(needed, L'\0');
    full.resize(GetFullPathNameW(path.c_str(), needed, full.data(), nullptr));
    return full.rfind(L"\\\\?\\", 0) == 0 ? full : L"\\\\?\\" + full;
}

void MakeFolders(const std::filesystem::path& folder) {
    const std::wstring full = Verbatim(folder);
    // Every level after "\\?\C:\".
    for (std::size_t at = full.find(L'\\', 7); at != std::wstring::npos;
         at = full.find(L'\\', at + 1)) {
        CreateDirectoryW(full.substr(0, at).c_str(), nullptr);
    }
    if (!CreateDirectoryW(full.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
        Fail("cannot make folder", folder);
    }
}

std::filesystem::path MakeFolderNamedExactly(const std::filesystem::path& parent,
                                             const std::wstring& name) {
    if (!CreateDirectoryW((Verbatim(parent) + L"\\" + name).c_str(), nullptr)) {
        Fail("cannot make folder in", parent);
    }
    return parent / name;
}

void WriteFileAt(const std::filesystem::path& file, const Bytes& bytes) {
    const HANDLE handle = CreateFileW(Verbatim(file).c_str(), GENERIC_WRITE, 0, nullptr,
                                      CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        Fail("cannot create", file);
    }
    DWORD written = 0;
    const BOOL ok = bytes.empty() || WriteFile(handle, bytes.data(),
                                               static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(handle);
    if (!ok || written != bytes.size()) {
        Fail("cannot write", file);
    }
}

Bytes ReadFileAt(const std::filesystem::path& file) {
    const HANDLE handle = CreateFileW(Verbatim(file).c_str(), GENERIC_READ, FILE_SHARE_READ,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        Fail("cannot open", file);
    }
    Bytes bytes;
    std::uint8_t chunk[65536];
    DWORD got = 0;
    while (ReadFile(handle, chunk, sizeof chunk, &got, nullptr) && got > 0) {
        bytes.insert(bytes.end(), chunk, chunk + got);
    }
    CloseHandle(handle);
    return bytes;
}

std::uint32_t AttributesOf(const std::filesystem::path& path) {
    const DWORD attributes = GetFileAttributesW(Verbatim(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        Fail("no attributes for", path);
    }
    return attributes;
}

void SetAttributes(const std::filesystem::path& path, std::uint32_t attributes) {
    if (!SetFileAttributesW(Verbatim(path).c_str(), attributes)) {
        Fail("cannot set attributes of", path);
    }
}

void MakeHardLink(const std::filesystem::path& link, const std::filesystem::path& existing) {
    if (!CreateHardLinkW(Verbatim(link).c_str(), Verbatim(existing).c_str(), nullptr)) {
        Fail("cannot link", link);
    }
}

std::filesystem::path LongFolderPath(const std::filesystem::path& base, std::size_t length) {
    std::filesystem::path path = base;
    for (int level = 0; path.native().size() < length; ++level) {
        path /= L"level-" + std::to_wstring(level) + L"-abcdefghijk";
    }
    return path;
}

HeldOpen::HeldOpen(const std::filesystem::path& file, Sharing sharing)
    : m_handle(reinterpret_cast<std::intptr_t>(
          CreateFileW(Verbatim(file).c_str(), GENERIC_READ, static_cast<DWORD>(sharing), nullptr,
                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr))) {
    if (reinterpret_cast<HANDLE>(m_handle) == INVALID_HANDLE_VALUE) {
        Fail("cannot hold open", file);
    }
}

HeldOpen::~HeldOpen() {
    CloseHandle(reinterpret_cast<HANDLE>(m_handle));
}

}  // namespace kestrove::testing
