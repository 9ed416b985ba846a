#include "DirectorySource.h"
#include "TextCodec.h"
#include "WinCalls_win.h"
#include "WinSupport_win.h"
#include "WindowsPath.h"

namespace kestrove {

namespace {

class WinFolderListing final : public FolderListing {
  public:
    // find is INVALID_HANDLE_VALUE for a folder without any entry (the root of an empty drive).
    WinFolderListing(HANDLE find, const WIN32_FIND_DATAW& first)
        : m_find(find), m_data(first), m_pending(find != INVALID_HANDLE_VALUE) {}
    ~WinFolderListing() override {
        if (m_find != INVALID_HANDLE_VALUE) {
            FindClose(m_find);
        }
    }
    WinFolderListing(const WinFolderListing&) = delete;
    WinFolderListing& operator=(const WinFolderListing&) = delete;

    bool Next(ListedEntry& entry) override {
        if (!m_pending) {
            if (m_find == INVALID_HANDLE_VALUE || m_ended) {
                return false;
            }
            if (!platform::win::FindNext(m_find, &m_data)) {
                const DWORD error = GetLastError();
                m_error = error == ERROR_NO_MORE_FILES ? ERROR_SUCCESS : error;
                m_ended = true;
                return false;
            }
        }
        m_pending = false;
        entry.name = NativeView(m_data.cFileName);
        // Junctions and links to folders carry the directory bit and count as the folders they
        // lead to; the walk lists each real folder once, however it is reached.
        entry.kind = (m_data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? EntryKind::Folder
                                                                               : EntryKind::File;
        return true;
    }

    std::optional<std::u16string> Failure() const override {
        if (m_error == ERROR_SUCCESS) {
            return std::nullopt;
        }
        return SystemErrorText(static_cast<int>(m_error));
    }

  private:
    HANDLE m_find;
    WIN32_FIND_DATAW m_data;
    bool m_pending;
    bool m_ended = false;
    DWORD m_error = ERROR_SUCCESS;
};

class WinDirectorySource final : public DirectorySource {
  public:
    OpenedFolder Open(const NativeString& folder) override {
        if (folder.empty()) {
            return Failed(ERROR_PATH_NOT_FOUND);
        }
        // With a separator after it the folder's name is taken as written: the system drops
        // spaces at the end of a path's last name, so "F  " would open "F", while the paths
        // built on "F  " would lead nowhere.
        NativeString named = folder;
        if (named.back() != L'\\' && named.back() != L'/') {
            named.push_back(L'\\');
        }
        const std::wstring api = platform::ApiPath(std::filesystem::path(named), 1);
        // The folder itself, reached through any link, says which real folder this is.
        const HANDLE handle = platform::win::Open(
            api, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
            nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS);
        if (handle == INVALID_HANDLE_VALUE) {
            return Failed(GetLastError());
        }
        BY_HANDLE_FILE_INFORMATION info{};
        const bool known = platform::win::Describe(handle, &info) != FALSE;
        const DWORD infoError = GetLastError();
        CloseHandle(handle);
        if (!known) {
            return Failed(infoError);
        }
        if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            return Failed(ERROR_DIRECTORY);
        }
        const std::wstring pattern = api + (api.back() == L'\\' ? L"*" : L"\\*");
        WIN32_FIND_DATAW first{};
        const HANDLE find = platform::win::FindFirst(pattern, &first);
        // The folder was just opened, so "not found" here means it has no entries at all.
        if (find == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_NOT_FOUND) {
            return Failed(GetLastError());
        }
        OpenedFolder opened;
        opened.listing = std::make_unique<WinFolderListing>(find, first);
        opened.identity = FolderIdentity{info.dwVolumeSerialNumber, platform::IndexOf(info)};
        return opened;
    }

  private:
    static OpenedFolder Failed(DWORD error) {
        OpenedFolder opened;
        // An invalid name (" C:\..." read as a relative path) names nothing either.
        opened.notFound = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
                          error == ERROR_INVALID_NAME;
        opened.description = SystemErrorText(static_cast<int>(error));
        return opened;
    }
};

}  // namespace

DirectorySource& PlatformDirectorySource() {
    static WinDirectorySource source;
    return source;
}

}  // namespace kestrove
