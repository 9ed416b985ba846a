#include "WinCalls_win.h"

#include <winternl.h>

namespace kestrove::platform::win {

namespace {

// Whether a fault is injected in place of this call; if so, it is the last error now.
bool Injected(SystemCall kind) {
    if (const int fault = InjectedFault(kind)) {
        SetLastError(static_cast<DWORD>(fault));
        return true;
    }
    return false;
}

SystemCall KindOfQuery(FILE_INFO_BY_HANDLE_CLASS what) {
    return what == FileStreamInfo ? SystemCall::Attributes : SystemCall::Inspect;
}

SystemCall KindOfChange(FILE_INFO_BY_HANDLE_CLASS what) {
    switch (what) {
        case FileRenameInfo:
            return SystemCall::Rename;
        case FileDispositionInfo:
            return SystemCall::Remove;
        case FileEndOfFileInfo:
        case FileAllocationInfo:
            return SystemCall::Control;
        default:
            return SystemCall::Mode;
    }
}

}  // namespace

HANDLE Open(const std::wstring& path, DWORD access, DWORD sharing, SECURITY_ATTRIBUTES* security,
            DWORD disposition, DWORD flags) {
    if (Injected(SystemCall::Open)) {
        return INVALID_HANDLE_VALUE;
    }
    return CreateFileW(path.c_str(), access, sharing, security, disposition, flags, nullptr);
}

DWORD FileType(HANDLE file) {
    if (Injected(SystemCall::Inspect)) {
        return FILE_TYPE_UNKNOWN;
    }
    // An unknown type is told from a failure by the last error alone.
    SetLastError(NO_ERROR);
    return GetFileType(file);
}

BOOL Read(HANDLE file, void* data, DWORD size, DWORD* got, OVERLAPPED* position) {
    if (Injected(SystemCall::Read)) {
        return FALSE;
    }
    return ReadFile(file, data, size, got, position);
}

BOOL Write(HANDLE file, const void* data, DWORD size, DWORD* written, OVERLAPPED* position) {
    if (Injected(SystemCall::Write)) {
        return FALSE;
    }
    return WriteFile(file, data, size, written, position);
}

BOOL Flush(HANDLE file) {
    if (Injected(SystemCall::Flush)) {
        return FALSE;
    }
    return FlushFileBuffers(file);
}

BOOL Describe(HANDLE file, BY_HANDLE_FILE_INFORMATION* info) {
    if (Injected(SystemCall::Inspect)) {
        return FALSE;
    }
    return GetFileInformationByHandle(file, info);
}

BOOL QueryInfo(HANDLE file, FILE_INFO_BY_HANDLE_CLASS what, void* info, DWORD size) {
    if (Injected(KindOfQuery(what))) {
        return FALSE;
    }
    return GetFileInformationByHandleEx(file, what, info, size);
}

BOOL SetInfo(HANDLE file, FILE_INFO_BY_HANDLE_CLASS what, void* info, DWORD size) {
    if (Injected(KindOfChange(what))) {
        return FALSE;
    }
    return SetFileInformationByHandle(file, what, info, size);
}

BOOL ExtendedAttributesSize(HANDLE file, ULONG& size) {
    if (Injected(SystemCall::Attributes)) {
        return FALSE;
    }
    IO_STATUS_BLOCK status{};
    FILE_EA_INFORMATION info{};
    const NTSTATUS result =
        NtQueryInformationFile(file, &status, &info, sizeof info, FileEaInformation);
    if (!NT_SUCCESS(result)) {
        SetLastError(RtlNtStatusToDosError(result));
        return FALSE;
    }
    size = info.EaSize;
    return TRUE;
}

DWORD FinalPathName(HANDLE file, wchar_t* path, DWORD size, DWORD flags) {
    if (Injected(SystemCall::Resolve)) {
        return 0;
    }
    return GetFinalPathNameByHandleW(file, path, size, flags);
}

HANDLE FindFirst(const std::wstring& pattern, WIN32_FIND_DATAW* entry) {
    if (Injected(SystemCall::List)) {
        return INVALID_HANDLE_VALUE;
    }
    return FindFirstFileExW(pattern.c_str(), FindExInfoBasic, entry, FindExSearchNameMatch, nullptr,
                            FIND_FIRST_EX_LARGE_FETCH);
}

BOOL FindNext(HANDLE find, WIN32_FIND_DATAW* entry) {
    if (Injected(SystemCall::List)) {
        return FALSE;
    }
    return FindNextFileW(find, entry);
}

DWORD Attributes(const std::wstring& path) {
    if (Injected(SystemCall::Inspect)) {
        return INVALID_FILE_ATTRIBUTES;
    }
    return GetFileAttributesW(path.c_str());
}

BOOL AttributesEx(const std::wstring& path, WIN32_FILE_ATTRIBUTE_DATA* data) {
    if (Injected(SystemCall::Inspect)) {
        return FALSE;
    }
    return GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, data);
}

DWORD GetSecurity(HANDLE file, SECURITY_INFORMATION what, PSID* owner, PSID* group, PACL* dacl,
                  PACL* sacl, PSECURITY_DESCRIPTOR* descriptor) {
    if (const int fault = InjectedFault(SystemCall::Owner)) {
        SetLastError(static_cast<DWORD>(fault));
        return static_cast<DWORD>(fault);
    }
    return GetSecurityInfo(file, SE_FILE_OBJECT, what, owner, group, dacl, sacl, descriptor);
}

DWORD SetSecurity(HANDLE file, SECURITY_INFORMATION what, PSID owner, PSID group, PACL dacl,
                  PACL sacl) {
    if (const int fault = InjectedFault(SystemCall::Owner)) {
        SetLastError(static_cast<DWORD>(fault));
        return static_cast<DWORD>(fault);
    }
    return SetSecurityInfo(file, SE_FILE_OBJECT, what, owner, group, dacl, sacl);
}

}  // namespace kestrove::platform::win
