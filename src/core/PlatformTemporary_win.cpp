// Our temporary files on Windows: made, held, renamed to a backup, removed, and taken over as
// leftovers. The hold is the handle itself: the file is created and opened without any sharing,
// so while it is open nobody else can open it, and so neither rename nor delete it. Creation
// holds the file from the first moment; the holder renames and deletes it through its handle.
#include <windows.h>

#include <algorithm>
#include <cstddef>
#include <vector>

#include "FileSecurity.h"
#include "PlatformFile.h"
#include "TemporaryName.h"
#include "WindowsPath.h"

namespace kestrove::platform {

namespace {

// Exclusive creation makes a name clash harmless; this only bounds the retries.
constexpr int kTemporaryNameAttempts = 16;

HANDLE AsHandle(const NativeFile& file) {
    return reinterpret_cast<HANDLE>(file.handle());
}

IoError LastError() {
    return ErrorFromCode(static_cast<int>(GetLastError()));
}

NativeFile Adopt(HANDLE handle) {
    return handle == INVALID_HANDLE_VALUE ? NativeFile()
                                          : NativeFile(reinterpret_cast<std::intptr_t>(handle));
}

// A plain file with this one name, not a folder and not a link that took one of our names.
bool IsPlainSingleFile(HANDLE handle) {
    BY_HANDLE_FILE_INFORMATION info{};
    return GetFileType(handle) == FILE_TYPE_DISK && GetFileInformationByHandle(handle, &info) &&
           (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) ==
               0 &&
           info.nNumberOfLinks == 1;
}

}  // namespace

IoStatus RenameOpenFile(NativeFile& file, const std::filesystem::path& to, bool replace) {
    const std::wstring name = ApiPath(to);
    const std::size_t nameBytes = name.size() * sizeof(wchar_t);
    std::vector<unsigned char> buffer(offsetof(FILE_RENAME_INFO, FileName) + nameBytes +
                                      sizeof(wchar_t));
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    rename->ReplaceIfExists = replace ? TRUE : FALSE;
    rename->RootDirectory = nullptr;
    rename->FileNameLength = static_cast<DWORD>(nameBytes);
    std::copy(name.begin(), name.end(), rename->FileName);
    if (!SetFileInformationByHandle(AsHandle(file), FileRenameInfo, rename,
                                    static_cast<DWORD>(buffer.size()))) {
        return LastError();
    }
    return std::nullopt;
}

IoStatus CreateTemporaryBeside(const std::filesystem::path& besidePath, TemporaryFile& temp) {
    const std::filesystem::path folder = besidePath.parent_path();
    auto* security = static_cast<SECURITY_ATTRIBUTES*>(OwnerOnlySecurityAttributes());
    for (int attempt = 0; attempt < kTemporaryNameAttempts; ++attempt) {
        std::filesystem::path candidate = folder / MakeTemporaryName();
        // Hidden, as its leading dot would make it elsewhere, until it takes the file's place
        // and with it the file's attributes.
        NativeFile file = Adopt(CreateFileW(
            ApiPath(candidate).c_str(),
            GENERIC_READ | GENERIC_WRITE | DELETE | READ_CONTROL | WRITE_DAC | WRITE_OWNER, 0,
            security, CREATE_NEW, FILE_ATTRIBUTE_HIDDEN, nullptr));
        if (file.isOpen()) {
            temp.file = std::move(file);
            temp.path = std::move(candidate);
            return std::nullopt;
        }
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) {
            return ErrorFromCode(static_cast<int>(error));
        }
    }
    return ErrorFromCode(ERROR_FILE_EXISTS);
}

IoStatus MarkAsBackup(TemporaryFile& temp, std::uint64_t fileIndex) {
    std::filesystem::path marked =
        temp.path.parent_path() / BackupNameOf(temp.path.filename().string(), fileIndex);
    if (IoStatus failure = RenameOpenFile(temp.file, marked, false)) {
        return failure;
    }
    temp.path = std::move(marked);
    // The new name goes to the disk with the file's own metadata.
    if (!FlushFileBuffers(AsHandle(temp.file))) {
        return LastError();
    }
    return std::nullopt;
}

void RemoveTemporary(TemporaryFile& temp) {
    if (!temp.path.empty() && temp.file.isOpen()) {
        // Deleted through the holding handle, so never another file of the same name; it goes
        // when that handle closes.
        FILE_DISPOSITION_INFO disposition{};
        disposition.DeleteFile = TRUE;
        SetFileInformationByHandle(AsHandle(temp.file), FileDispositionInfo, &disposition,
                                   sizeof disposition);
    }
    temp.path.clear();
    temp.file.Close();
}

HoldResult HoldLeftover(const std::filesystem::path& path, TemporaryFile& held) {
    // No sharing: this fails while any other handle to the file is open, ours included. A link
    // that took one of our names is opened itself, not followed.
    NativeFile file = Adopt(CreateFileW(ApiPath(path).c_str(), GENERIC_READ | DELETE, 0, nullptr,
                                        OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file.isOpen()) {
        return GetLastError() == ERROR_SHARING_VIOLATION ? HoldResult::InUse : HoldResult::NotOurs;
    }
    if (!IsPlainSingleFile(AsHandle(file))) {
        return HoldResult::NotOurs;
    }
    held.file = std::move(file);
    held.path = path;
    return HoldResult::Held;
}

}  // namespace kestrove::platform
