#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "DirectorySource.h"
#include "TextCodec.h"

namespace kestrove {

namespace {

bool IsDotOrDotDot(const char* name) {
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

class PosixFolderListing final : public FolderListing {
  public:
    explicit PosixFolderListing(DIR* dir) : m_dir(dir) {}
    ~PosixFolderListing() override { closedir(m_dir); }
    PosixFolderListing(const PosixFolderListing&) = delete;
    PosixFolderListing& operator=(const PosixFolderListing&) = delete;

    bool Next(ListedEntry& entry) override {
        errno = 0;
        const dirent* item = readdir(m_dir);
        if (item == nullptr) {
            m_error = errno;
            return false;
        }
        entry.name = NativeView(item->d_name);
        entry.kind = KindOf(*item);
        return true;
    }

    std::optional<std::u16string> Failure() const override {
        if (m_error == 0) {
            return std::nullopt;
        }
        return SystemErrorText(m_error);
    }

  private:
    // The listing already says what most entries are; only links and file systems that do not
    // fill in the type need a look at the entry itself, and that look follows links.
    EntryKind KindOf(const dirent& item) const {
        switch (item.d_type) {
            case DT_DIR:
                return EntryKind::Folder;
            case DT_LNK:
            case DT_UNKNOWN:
                break;
            default:
                return EntryKind::File;
        }
        if (IsDotOrDotDot(item.d_name)) {
            return EntryKind::Folder;
        }
        struct stat info {};
        if (fstatat(dirfd(m_dir), item.d_name, &info, 0) == 0 && S_ISDIR(info.st_mode)) {
            return EntryKind::Folder;
        }
        return EntryKind::File;
    }

    DIR* m_dir;
    int m_error = 0;
};

class PosixDirectorySource final : public DirectorySource {
  public:
    OpenedFolder Open(const NativeString& folder) override {
        OpenedFolder opened;
        const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0) {
            return Failed(errno);
        }
        struct stat info {};
        if (fstat(fd, &info) != 0) {
            const int error = errno;
            close(fd);
            return Failed(error);
        }
        DIR* dir = fdopendir(fd);
        if (dir == nullptr) {
            const int error = errno;
            close(fd);
            return Failed(error);
        }
        opened.listing = std::make_unique<PosixFolderListing>(dir);
        opened.identity = FolderIdentity{static_cast<std::uint64_t>(info.st_dev),
                                         static_cast<std::uint64_t>(info.st_ino)};
        return opened;
    }

  private:
    static OpenedFolder Failed(int error) {
        OpenedFolder opened;
        opened.notFound = error == ENOENT;
        opened.description = SystemErrorText(error);
        return opened;
    }
};

}  // namespace

DirectorySource& PlatformDirectorySource() {
    static PosixDirectorySource source;
    return source;
}

}  // namespace kestrove
