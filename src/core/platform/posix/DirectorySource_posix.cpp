#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "DirectorySource.h"
#include "PosixCalls.h"
#include "TextCodec.h"

namespace kestrove {

namespace {

bool IsDotOrDotDot(const char* name) {
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

#ifdef __linux__

// Reads the raw entries of an open folder straight from the kernel into a buffer that is kept
// for the next folder: readdir would allocate and free a buffer per folder and take a lock per
// entry, which on a walk of many small folders costs as much as the names themselves.
class EntryReader {
  public:
    explicit EntryReader(int fd) : m_fd(fd), m_buffer(std::move(t_spare)) {
        if (!m_buffer) {
            m_buffer = std::make_unique<char[]>(kBufferSize);
        }
    }
    ~EntryReader() {
        platform::posix::Close(m_fd);
        t_spare = std::move(m_buffer);
    }
    EntryReader(const EntryReader&) = delete;
    EntryReader& operator=(const EntryReader&) = delete;

    [[nodiscard]] int fd() const { return m_fd; }

    // False at the end of the folder, or on failure with error set.
    bool Next(const char*& name, unsigned char& type, std::uint64_t& index, int& error) {
        if (m_offset >= m_filled) {
            const ssize_t filled = platform::posix::Getdents(m_fd, m_buffer.get(), kBufferSize);
            if (filled <= 0) {
                error = filled < 0 ? errno : 0;
                return false;
            }
            m_filled = static_cast<std::size_t>(filled);
            m_offset = 0;
        }
        const auto* item = reinterpret_cast<const dirent64*>(m_buffer.get() + m_offset);
        m_offset += item->d_reclen;
        name = item->d_name;
        type = item->d_type;
        index = item->d_ino;
        return true;
    }

  private:
    static constexpr std::size_t kBufferSize = 32 * 1024;
    static thread_local std::unique_ptr<char[]> t_spare;

    int m_fd;
    std::unique_ptr<char[]> m_buffer;
    std::size_t m_filled = 0;
    std::size_t m_offset = 0;
};

thread_local std::unique_ptr<char[]> EntryReader::t_spare;

#else

class EntryReader {
  public:
    explicit EntryReader(int fd) : m_dir(fdopendir(fd)) {
        if (m_dir == nullptr) {
            close(fd);
        }
    }
    ~EntryReader() {
        if (m_dir != nullptr) {
            closedir(m_dir);
        }
    }
    EntryReader(const EntryReader&) = delete;
    EntryReader& operator=(const EntryReader&) = delete;

    [[nodiscard]] int fd() const { return m_dir != nullptr ? dirfd(m_dir) : -1; }

    bool Next(const char*& name, unsigned char& type, std::uint64_t& index, int& error) {
        if (m_dir == nullptr) {
            error = EBADF;
            return false;
        }
        errno = 0;
        const dirent* item = readdir(m_dir);
        if (item == nullptr) {
            error = errno;
            return false;
        }
        name = item->d_name;
        type = item->d_type;
        index = item->d_ino;
        return true;
    }

  private:
    DIR* m_dir;
};

#endif

class PosixFolderListing final : public FolderListing {
  public:
    explicit PosixFolderListing(int fd) : m_reader(fd) {}

    bool Next(ListedEntry& entry) override {
        const char* name = nullptr;
        unsigned char type = DT_UNKNOWN;
        std::uint64_t index = 0;
        if (!m_reader.Next(name, type, index, m_error)) {
            return false;
        }
        entry.name = NativeView(name);
        entry.kind = KindOf(name, type);
        entry.index = index;
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
    EntryKind KindOf(const char* name, unsigned char type) const {
        switch (type) {
            case DT_DIR:
                return EntryKind::Folder;
            case DT_LNK:
            case DT_UNKNOWN:
                break;
            default:
                return EntryKind::File;
        }
        if (IsDotOrDotDot(name)) {
            return EntryKind::Folder;
        }
        struct stat info {};
        if (platform::posix::FstatAt(m_reader.fd(), name, &info, 0) == 0 && S_ISDIR(info.st_mode)) {
            return EntryKind::Folder;
        }
        return EntryKind::File;
    }

    EntryReader m_reader;
    int m_error = 0;
};

class PosixDirectorySource final : public DirectorySource {
  public:
    OpenedFolder Open(const NativeString& folder) override {
        const int fd = platform::posix::Open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0) {
            return Failed(errno);
        }
        struct stat info {};
        if (platform::posix::Fstat(fd, &info) != 0) {
            const int error = errno;
            platform::posix::Close(fd);
            return Failed(error);
        }
        OpenedFolder opened;
        opened.listing = std::make_unique<PosixFolderListing>(fd);
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
