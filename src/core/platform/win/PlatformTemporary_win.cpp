// Our temporary files on Windows: made, held, marked, removed, and taken over as leftovers. The
// hold is the handle itself: the file is created and opened without any sharing, so while it is
// open nobody else can open it, and so neither rename nor delete it. Creation holds the file from
// the first moment; the holder renames and deletes it through its handle. A file system without
// locks does not exist here: no copy of the program ever needs to ask whether the maker named in
// a file still runs (LifeOf answers all the same).
#include <algorithm>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "FileSecurity.h"
#include "PlatformFile.h"
#include "TemporaryName.h"
#include "WinCalls_win.h"
#include "WinSupport_win.h"
#include "WindowsPath.h"

namespace kestrove::platform {

namespace {

// Exclusive creation makes a name clash harmless; this only bounds the retries.
constexpr int kTemporaryNameAttempts = 16;

// The name of one of our files as TemporaryName.h spells it: it is made of ASCII alone.
std::string NameOf(const std::filesystem::path& path) {
    const std::filesystem::path file = path.filename();
    std::string name;
    for (const wchar_t c : file.native()) {
        name.push_back(static_cast<char>(c));
    }
    return name;
}

// Renames the held temp within its folder and makes the new name durable: with the file's own
// metadata, and with the folder's entries.
IoStatus RenameHeld(TemporaryFile& temp, const std::string& name) {
    std::filesystem::path renamed = temp.path.parent_path() / name;
    if (IoStatus failure = RenameOpenFile(temp.file, renamed, false)) {
        return failure;
    }
    temp.path = std::move(renamed);
    if (!win::Flush(AsHandle(temp.file))) {
        return LastError();
    }
    return SyncFolderOf(temp.path);
}

// Renames the held temp within its folder, durable at the next MakeDurable.
IoStatus RenameHeldLater(TemporaryFile& temp, const std::string& name) {
    std::filesystem::path renamed = temp.path.parent_path() / name;
    if (IoStatus failure = RenameOpenFile(temp.file, renamed, false)) {
        return failure;
    }
    temp.path = std::move(renamed);
    return std::nullopt;
}

enum class Plain { Yes, No, Failed };

// Whether the open file is a plain file with this one name: not a folder, and not a link or a
// device that took one of our names.
Plain IsPlainSingleFile(HANDLE handle) {
    switch (win::FileType(handle)) {
        case FILE_TYPE_DISK:
            break;
        case FILE_TYPE_UNKNOWN:
            return GetLastError() != NO_ERROR ? Plain::Failed : Plain::No;
        default:
            return Plain::No;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (!win::Describe(handle, &info)) {
        return Plain::Failed;
    }
    return (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) ==
                       0 &&
                   info.nNumberOfLinks == 1
               ? Plain::Yes
               : Plain::No;
}

// When the process behind handle started, as the system counts time.
std::optional<std::uint64_t> StartOf(HANDLE process) {
    FILETIME created{};
    FILETIME exited{};
    FILETIME kernel{};
    FILETIME user{};
    if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) {
        return std::nullopt;
    }
    const std::uint64_t start =
        (std::uint64_t{created.dwHighDateTime} << 32) | created.dwLowDateTime;
    return start != 0 ? std::optional<std::uint64_t>(start) : std::nullopt;
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
    if (!win::SetInfo(AsHandle(file), FileRenameInfo, rename, static_cast<DWORD>(buffer.size()))) {
        return LastError();
    }
    return std::nullopt;
}

IoStatus CreateTemporaryBeside(const std::filesystem::path& besidePath, TemporaryFile& temp) {
    const std::filesystem::path folder = besidePath.parent_path();
    const ProcessStamp maker = CurrentProcess();
    auto* security = static_cast<SECURITY_ATTRIBUTES*>(OwnerOnlySecurityAttributes());
    for (int attempt = 0; attempt < kTemporaryNameAttempts; ++attempt) {
        std::filesystem::path candidate = folder / MakeTemporaryName(maker);
        // Hidden, as its leading dot would make it elsewhere, until it takes the file's place
        // and with it the file's attributes.
        NativeFile file = Adopt(win::Open(
            ApiPath(candidate),
            GENERIC_READ | GENERIC_WRITE | DELETE | READ_CONTROL | WRITE_DAC | WRITE_OWNER, 0,
            security, CREATE_NEW, FILE_ATTRIBUTE_HIDDEN));
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

IoStatus MarkAsUndo(TemporaryFile& temp, std::uint64_t fileIndex) {
    return RenameHeld(temp, UndoNameOf(NameOf(temp.path), fileIndex));
}

IoStatus MarkAsJournal(TemporaryFile& temp) {
    return RenameHeldLater(temp, JournalNameOf(NameOf(temp.path)));
}

IoStatus MarkCommitted(TemporaryFile& temp, bool durable) {
    const std::string name = CommittedNameOf(NameOf(temp.path));
    return durable ? RenameHeld(temp, name) : RenameHeldLater(temp, name);
}

IoStatus RemoveTemporary(TemporaryFile& temp) {
    IoStatus failure;
    if (!temp.path.empty() && temp.file.isOpen()) {
        // Deleted through the holding handle, so never another file of the same name; it goes
        // when that handle closes, right below.
        FILE_DISPOSITION_INFO disposition{};
        disposition.DeleteFile = TRUE;
        if (!win::SetInfo(AsHandle(temp.file), FileDispositionInfo, &disposition,
                          sizeof disposition)) {
            failure = LastError();
        }
    }
    temp.path.clear();
    temp.file.Close();
    return failure;
}

Held HoldLeftover(const std::filesystem::path& path) {
    Held held;
    // No sharing: this fails while any other handle to the file is open, ours included. A link
    // that took one of our names is opened itself, not followed, and a folder is opened too, so
    // that both are told by what they are rather than by an error.
    NativeFile file =
        Adopt(win::Open(ApiPath(path), GENERIC_READ | DELETE, 0, nullptr, OPEN_EXISTING,
                        FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS));
    if (!file.isOpen()) {
        const DWORD error = GetLastError();
        if (error == ERROR_SHARING_VIOLATION) {
            held.result = HoldResult::InUse;
        } else if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) {
            held.result = HoldResult::Failed;  // not gone meanwhile: something failed
            held.failure = ErrorFromCode(static_cast<int>(error));
        }
        return held;
    }
    switch (IsPlainSingleFile(AsHandle(file))) {
        case Plain::Yes:
            break;
        case Plain::No:
            return held;
        case Plain::Failed:
            held.result = HoldResult::Failed;
            held.failure = LastError();
            return held;
    }
    // Nobody can rename the file while it is held, so the name leads to it for as long.
    held.result = HoldResult::Held;
    held.file.file = std::move(file);
    held.file.path = path;
    return held;
}

ProcessStamp CurrentProcess() {
    static const ProcessStamp current{GetCurrentProcessId(),
                                      StartOf(GetCurrentProcess()).value_or(0)};
    return current;
}

ProcessLife LifeOf(const ProcessStamp& stamp) {
    if (stamp.id == 0 || stamp.start == 0 || stamp.id > MAXDWORD) {
        return ProcessLife::Unknown;
    }
    const HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE,
                                       static_cast<DWORD>(stamp.id));
    if (process == nullptr) {
        // No process has this id; one of another user's may still be refused to us.
        return GetLastError() == ERROR_INVALID_PARAMETER ? ProcessLife::Ended
                                                         : ProcessLife::Unknown;
    }
    const std::optional<std::uint64_t> start = StartOf(process);
    // A process that has ended lives on as an object while anybody holds a handle to it.
    const DWORD waited = WaitForSingleObject(process, 0);
    CloseHandle(process);
    if (!start || waited == WAIT_FAILED) {
        return ProcessLife::Unknown;
    }
    // Another start: the id went to a later process.
    return *start == stamp.start && waited == WAIT_TIMEOUT ? ProcessLife::Running
                                                           : ProcessLife::Ended;
}

}  // namespace kestrove::platform
