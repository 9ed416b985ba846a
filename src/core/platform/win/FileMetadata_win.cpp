// Everything of a file but its content, carried over to the new content that takes its place on
// Windows: its attributes, its creation time, its access list and its alternate data streams (the
// download mark Zone.Identifier that the shell and SmartScreen read among them). The owner goes
// first, in AdoptOwner, before any content is written. What a new file cannot be given by these
// calls, or what cannot be told, sends the file the in-place way, where it keeps all of it by
// itself: compression, encryption, sparseness and the like (how the blocks are stored), NTFS's
// extended attributes (where WSL keeps Unix owners and modes), an integrity label of the file's
// own, a stream of another kind than data, or any call that fails.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "FileSecurity.h"
#include "PlatformFile.h"
#include "WinCalls_win.h"
#include "WinSupport_win.h"
#include "WindowsPath.h"

namespace kestrove::platform {

namespace {

// The attributes a new file takes as they are given.
constexpr DWORD kCarried = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                           FILE_ATTRIBUTE_NOT_CONTENT_INDEXED | FILE_ATTRIBUTE_TEMPORARY;
// Not carried, and no reason to rewrite in place: a file that became read-only since it was
// opened for writing is refused by ReplaceWithTemporary; "normal" is the absence of the rest.
constexpr DWORD kLeft = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_NORMAL;

// The list of a file's streams has no fixed size; past this it is not believed.
constexpr DWORD kMostStreamListBytes = DWORD{16} << 20;

constexpr std::wstring_view kMainStream = L"::$DATA";
constexpr std::wstring_view kDataStream = L":$DATA";

// A file system without streams, or without extended attributes, (FAT, some network shares)
// answers with one of these. So does Wine, which has neither.
bool MeansUnsupported(DWORD error) {
    return error == ERROR_INVALID_FUNCTION || error == ERROR_NOT_SUPPORTED ||
           error == ERROR_INVALID_PARAMETER;
}

bool EndsWith(std::wstring_view text, std::wstring_view end) {
    return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

// The names (":name:$DATA") of the file's data streams besides its content; empty where the
// file system keeps no streams, nothing where the list cannot be read or holds a stream of
// another kind.
std::optional<std::vector<std::wstring>> NamedStreams(HANDLE file) {
    // FILE_STREAM_INFO holds 64-bit fields.
    std::vector<std::uint64_t> buffer(512);
    for (;;) {
        const auto bytes = static_cast<DWORD>(buffer.size() * sizeof(std::uint64_t));
        if (win::QueryInfo(file, FileStreamInfo, buffer.data(), bytes)) {
            break;
        }
        const DWORD error = GetLastError();
        if ((error == ERROR_MORE_DATA || error == ERROR_INSUFFICIENT_BUFFER) &&
            bytes < kMostStreamListBytes) {
            buffer.resize(buffer.size() * 2);
            continue;
        }
        // No stream at all, not even the content: nothing to carry.
        if (error == ERROR_HANDLE_EOF || MeansUnsupported(error)) {
            return std::vector<std::wstring>{};
        }
        return std::nullopt;
    }
    std::vector<std::wstring> names;
    const auto* at = reinterpret_cast<const unsigned char*>(buffer.data());
    for (;;) {
        const auto* stream = reinterpret_cast<const FILE_STREAM_INFO*>(at);
        const std::wstring name(stream->StreamName, stream->StreamNameLength / sizeof(wchar_t));
        if (name != kMainStream) {
            if (!EndsWith(name, kDataStream)) {
                return std::nullopt;
            }
            names.push_back(name);
        }
        if (stream->NextEntryOffset == 0) {
            return names;
        }
        at += stream->NextEntryOffset;
    }
}

// Whether the open stream belongs to the file with this identity: a file system that took
// "name:stream" for the name of a file of its own would otherwise get a file beside ours.
bool BelongsTo(HANDLE stream, DWORD volume, std::uint64_t index) {
    BY_HANDLE_FILE_INFORMATION info{};
    return win::Describe(stream, &info) && info.dwVolumeSerialNumber == volume &&
           IndexOf(info) == index;
}

// The stream `name` of the original, copied whole into a new stream of the same name of the
// temporary file, and flushed there.
bool CopyStream(const TargetFile& target, const TemporaryFile& temp,
                const BY_HANDLE_FILE_INFORMATION& made, const std::wstring& name) {
    NativeFile from = Adopt(win::Open(ApiPath(target.realPath, name.size()) + name, GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN));
    if (!from.isOpen() ||
        !BelongsTo(AsHandle(from), static_cast<DWORD>(target.device), target.fileIndex)) {
        return false;
    }
    const std::wstring streamPath = ApiPath(temp.path, name.size()) + name;
    NativeFile to =
        Adopt(win::Open(streamPath, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL));
    if (!to.isOpen()) {
        return false;
    }
    const std::uint64_t madeIndex = IndexOf(made);
    if (!BelongsTo(AsHandle(to), made.dwVolumeSerialNumber, madeIndex)) {
        // Not known to be a stream of ours: it goes again, and the file is rewritten in place.
        to.Close();
        const NativeFile doomed = Adopt(
            win::Open(streamPath, DELETE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_DELETE_ON_CLOSE));
        return false;
    }
    std::vector<std::uint8_t> block(std::size_t{64} << 10);
    for (std::uint64_t done = 0;;) {
        const auto [failure, got] = from.ReadAt(done, block.data(), block.size());
        if (failure) {
            return false;
        }
        if (got == 0) {
            break;
        }
        if (to.WriteAt(done, block.data(), got)) {
            return false;
        }
        done += got;
    }
    // The content is flushed by its own handle; a stream has its own.
    return !to.Sync();
}

}  // namespace

bool CarryMetadata(const TargetFile& target, TemporaryFile& temp) {
    const HANDLE from = AsHandle(target.file);
    const HANDLE to = AsHandle(temp.file);
    FILE_BASIC_INFO original{};
    if (!win::QueryInfo(from, FileBasicInfo, &original, sizeof original) ||
        (original.FileAttributes & ~(kCarried | kLeft)) != 0) {
        return false;
    }
    ULONG extendedBytes = 0;
    if (!win::ExtendedAttributesSize(from, extendedBytes) && !MeansUnsupported(GetLastError())) {
        return false;
    }
    if (extendedBytes != 0) {
        return false;
    }
    const std::optional<std::vector<std::wstring>> streams = NamedStreams(from);
    if (!streams) {
        return false;
    }
    if (!streams->empty()) {
        BY_HANDLE_FILE_INFORMATION made{};
        if (!win::Describe(to, &made)) {
            return false;
        }
        for (const std::wstring& name : *streams) {
            if (!CopyStream(target, temp, made, name)) {
                return false;
            }
        }
    }
    // After the streams: the access list given may keep this process from opening the new file
    // again, though not from using the handle it holds.
    const IoResult<bool> list = CopyAccessList(target.file.handle(), temp.file.handle());
    if (list.failure || !list.value) {
        return false;
    }
    // Last, so that no write after it changes the attributes. Zero times are left as they are:
    // the content is new, so it has a new write time.
    FILE_BASIC_INFO carried{};
    carried.CreationTime = original.CreationTime;
    carried.FileAttributes = original.FileAttributes & kCarried;
    if (carried.FileAttributes == 0) {
        carried.FileAttributes = FILE_ATTRIBUTE_NORMAL;  // zero would mean "leave them"
    }
    return win::SetInfo(to, FileBasicInfo, &carried, sizeof carried) != FALSE;
}

}  // namespace kestrove::platform
