// A file keeps everything but its bytes: its extended attributes (tags that file managers and
// browsers write, POSIX access lists), its inode flags; where the new content cannot be given
// them, the file is rewritten in place and keeps them by itself.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "FaultInjection.h"
#include "FileTransform.h"
#include "TransformTestSupport.h"

namespace kestrove {
namespace {

namespace fs = std::filesystem;
using testing::Bytes;
using testing::FolderNames;
using testing::RandomBytes;
using testing::ReadBytes;
using testing::ReferenceEncrypt;
using testing::ScratchFolder;
using testing::WriteBytes;

constexpr std::int32_t kKey = 61;

std::string Attribute(const fs::path& file, const char* name) {
    char value[512];
    const ssize_t size = ::getxattr(file.c_str(), name, value, sizeof value);
    return size < 0 ? std::string("(none: ") + std::to_string(errno) + ")"
                    : std::string(value, static_cast<std::size_t>(size));
}

void SetAttribute(const fs::path& file, const char* name, const std::string& value) {
    ASSERT_EQ(::setxattr(file.c_str(), name, value.data(), value.size(), 0), 0) << name;
}

// An access list giving user 4242 read access: POSIX's binary form of "u::rw-,u:4242:r--,
// g::r--,m::r--,o::---".
std::string ReadAccessFor4242() {
    struct Entry {
        std::uint16_t tag, permissions;
        std::uint32_t id;
    };
    const Entry entries[] = {{0x01, 6, 0xFFFFFFFF},
                             {0x02, 4, 4242},
                             {0x04, 4, 0xFFFFFFFF},
                             {0x10, 4, 0xFFFFFFFF},
                             {0x20, 0, 0xFFFFFFFF}};
    std::string value(4, '\0');
    value[0] = 2;  // version
    value.append(reinterpret_cast<const char*>(entries), sizeof entries);
    return value;
}

ino_t InodeOf(const fs::path& path) {
    struct stat info {};
    EXPECT_EQ(::stat(path.c_str(), &info), 0);
    return info.st_ino;
}

class FileMetadata : public ::testing::Test {
  protected:
    void SetUp() override {
        WriteBytes(m_file, m_plain);
        ASSERT_EQ(::chmod(m_file.c_str(), 0640), 0);
        SetAttribute(m_file, "user.xdg.origin.url", "https://example.org/report.pdf");
        SetAttribute(m_file, "user.tag", "hello");
        SetAttribute(m_file, "system.posix_acl_access", ReadAccessFor4242());
    }

    void ExpectKept() {
        EXPECT_EQ(ReadBytes(m_file), ReferenceEncrypt(m_plain, kKey));
        EXPECT_EQ(Attribute(m_file, "user.xdg.origin.url"), "https://example.org/report.pdf");
        EXPECT_EQ(Attribute(m_file, "user.tag"), "hello");
        EXPECT_EQ(Attribute(m_file, "system.posix_acl_access"), ReadAccessFor4242());
        struct stat info {};
        ASSERT_EQ(::stat(m_file.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 07777, 0640u);
        EXPECT_EQ(FolderNames(m_folder.path()), std::vector<std::string>{"report.pdf"});
    }

    ScratchFolder m_folder;
    fs::path m_file = m_folder / "report.pdf";
    Bytes m_plain = RandomBytes(20000, 31);
};

TEST_F(FileMetadata, AttributesAndAccessListGoWithTheNewContent) {
    const ino_t before = InodeOf(m_file);
    ASSERT_TRUE(EncryptFile(m_file, kKey).ok());
    ExpectKept();
    EXPECT_NE(InodeOf(m_file), before);  // replaced by a new file, which carries them
}

// The folder gives every new file an access list of its own: the new content must not keep it
// where the file had none.
TEST_F(FileMetadata, WhatTheFolderGivesANewFileIsNotAdded) {
    const fs::path plainFile = m_folder / "plain.txt";
    WriteBytes(plainFile, m_plain);
    ASSERT_EQ(::chmod(plainFile.c_str(), 0604), 0);
    std::string defaultList = ReadAccessFor4242();
    SetAttribute(m_folder.path(), "system.posix_acl_default", defaultList);
    ASSERT_TRUE(EncryptFile(plainFile, kKey).ok());
    EXPECT_EQ(Attribute(plainFile, "system.posix_acl_access"),
              "(none: " + std::to_string(ENODATA) + ")");
    struct stat info {};
    ASSERT_EQ(::stat(plainFile.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0604u);
    EXPECT_EQ(ReadBytes(plainFile), ReferenceEncrypt(m_plain, kKey));
}

// Refuses every attribute call, as a file system or a security module might for some attribute.
class AttributesRefused final : public platform::CallFaults {
  public:
    int Before(platform::SystemCall call) override {
        return call == platform::SystemCall::Attributes ? EPERM : 0;
    }
};

TEST_F(FileMetadata, WhereTheNewContentCannotTakeThemTheFileIsRewrittenInPlace) {
    const ino_t before = InodeOf(m_file);
    AttributesRefused refused;
    {
        const testing::FaultsInPlace inPlace(refused);
        ASSERT_TRUE(EncryptFile(m_file, kKey).ok());
    }
    ExpectKept();
    EXPECT_EQ(InodeOf(m_file), before);
}

TEST_F(FileMetadata, InodeFlagsKeepTheFileInPlace) {
    // "No dump" (chattr +d), which a new file would not have.
    const int fd = ::open(m_file.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    int flags = 0;
    const bool supported = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    flags |= FS_NODUMP_FL;
    const bool set = supported && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    ::close(fd);
    if (!set) {
        GTEST_SKIP() << "this file system keeps no inode flags";
    }
    const ino_t before = InodeOf(m_file);
    ASSERT_TRUE(EncryptFile(m_file, kKey).ok());
    ExpectKept();
    EXPECT_EQ(InodeOf(m_file), before);
    const int again = ::open(m_file.c_str(), O_RDONLY);
    ASSERT_GE(again, 0);
    ASSERT_EQ(::ioctl(again, FS_IOC_GETFLAGS, &flags), 0);
    ::close(again);
    EXPECT_NE(flags & FS_NODUMP_FL, 0);
}

}  // namespace
}  // namespace kestrove
