#pragma once

// Internal to kestrove_core on Windows, included by *_win.cpp files only (it brings windows.h
// with it): the file calls of the Windows code, each one open to a test's injected fault
// (SystemCalls.h). Every file-system call of the Windows code goes through here. An injected
// fault takes the place of the call: the call is not made, the injected code becomes the last
// error, and the wrapper fails the way that call fails (an invalid handle, FALSE, 0, or the code
// itself for the calls that return one). Windows has no interrupted calls, so nothing is retried.

#include <windows.h>

// Needs the types windows.h declares.
#include <aclapi.h>

#include <string>

#include "SystemCalls.h"

namespace kestrove::platform::win {

// CreateFileW: a file, a stream of a file ("name:stream") or a folder.
HANDLE Open(const std::wstring& path, DWORD access, DWORD sharing, SECURITY_ATTRIBUTES* security,
            DWORD disposition, DWORD flags);
// GetFileType: FILE_TYPE_UNKNOWN with a last error other than NO_ERROR when it fails.
DWORD FileType(HANDLE file);
BOOL Read(HANDLE file, void* data, DWORD size, DWORD* got, OVERLAPPED* position);
BOOL Write(HANDLE file, const void* data, DWORD size, DWORD* written, OVERLAPPED* position);
// FlushFileBuffers, of a file, a stream or a folder.
BOOL Flush(HANDLE file);
// GetFileInformationByHandle.
BOOL Describe(HANDLE file, BY_HANDLE_FILE_INFORMATION* info);
// GetFileInformationByHandleEx and SetFileInformationByHandle; each class counts as the kind of
// call it stands for (a rename, a removal, the attributes and times, the list of streams, ...).
BOOL QueryInfo(HANDLE file, FILE_INFO_BY_HANDLE_CLASS what, void* info, DWORD size);
BOOL SetInfo(HANDLE file, FILE_INFO_BY_HANDLE_CLASS what, void* info, DWORD size);
// The size of the extended attributes (NTFS's own, not the streams) of an open file, which
// GetFileInformationByHandleEx does not tell; FALSE with a last error when it cannot be told.
BOOL ExtendedAttributesSize(HANDLE file, ULONG& size);
// GetFinalPathNameByHandleW.
DWORD FinalPathName(HANDLE file, wchar_t* path, DWORD size, DWORD flags);
// FindFirstFileExW over pattern, basic information, large fetches; FindNextFileW.
HANDLE FindFirst(const std::wstring& pattern, WIN32_FIND_DATAW* entry);
BOOL FindNext(HANDLE find, WIN32_FIND_DATAW* entry);
// GetFileAttributesW, GetFileAttributesExW.
DWORD Attributes(const std::wstring& path);
BOOL AttributesEx(const std::wstring& path, WIN32_FILE_ATTRIBUTE_DATA* data);
// GetSecurityInfo and SetSecurityInfo of an open file: the error code, ERROR_SUCCESS on success.
DWORD GetSecurity(HANDLE file, SECURITY_INFORMATION what, PSID* owner, PSID* group, PACL* dacl,
                  PACL* sacl, PSECURITY_DESCRIPTOR* descriptor);
DWORD SetSecurity(HANDLE file, SECURITY_INFORMATION what, PSID owner, PSID group, PACL dacl,
                  PACL sacl);

}  // namespace kestrove::platform::win
