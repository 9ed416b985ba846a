#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "ChildProcess.h"
#include "FileTransform.h"
#include "PathInfo.h"
#include "TextCodec.h"
#include "TransformTestSupport.h"

namespace kestrove {
namespace {

namespace fs = std::filesystem;
using testing::Bytes;
using testing::FailureSummary;
using testing::FolderNames;
using testing::kFailedCode;
using testing::OutcomeCode;
using testing::ReadBytes;
using testing::RunInChild;
using testing::ScratchFolder;
using testing::WriteBytes;

// A listening-free UNIX socket bound at path; the descriptor stays open until the test ends.
class BoundSocket {
  public:
    explicit BoundSocket(const fs::path& path) : m_fd(::socket(AF_UNIX, SOCK_STREAM, 0)) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
        m_bound = ::bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~BoundSocket() { ::close(m_fd); }
    [[nodiscard]] bool bound() const { return m_bound; }

  private:
    int m_fd;
    bool m_bound = false;
};

TEST(ClassifyPath, TellsFilesFoldersAndEverythingElseApart) {
    ScratchFolder folder;
    WriteBytes(folder / "a.txt", Bytes{1, 2, 3});
    WriteBytes(folder / "locked.txt", Bytes{1});
    ASSERT_EQ(::chmod((folder / "locked.txt").c_str(), 0), 0);
    fs::create_directory(folder / "sub");
    fs::create_symlink("sub", folder / "to-sub");
    fs::create_symlink("a.txt", folder / "to-a");
    fs::create_symlink("gone", folder / "dangling");
    ASSERT_EQ(::mkfifo((folder / "pipe").c_str(), 0600), 0);
    const BoundSocket socket(folder / "sock");
    ASSERT_TRUE(socket.bound());

    EXPECT_EQ(ClassifyPath(folder / "a.txt").kind, PathKind::RegularFile);
    EXPECT_EQ(ClassifyPath(folder / "locked.txt").kind, PathKind::RegularFile);
    EXPECT_EQ(ClassifyPath(folder / "to-a").kind, PathKind::RegularFile);
    EXPECT_EQ(ClassifyPath(folder / "sub").kind, PathKind::Folder);
    EXPECT_EQ(ClassifyPath(folder / "to-sub").kind, PathKind::Folder);
    const PathInfo missing = ClassifyPath(folder / "nothing");
    EXPECT_EQ(missing.kind, PathKind::Missing);
    EXPECT_EQ(missing.why.description, SystemErrorText(ENOENT));
    EXPECT_EQ(ClassifyPath(folder / "dangling").kind, PathKind::Missing);
    EXPECT_EQ(ClassifyPath(folder / "a.txt" / "x").kind, PathKind::Missing);
    const PathInfo pipe = ClassifyPath(folder / "pipe");
    EXPECT_EQ(pipe.kind, PathKind::Other);
    EXPECT_EQ(pipe.why.problem, Problem::NotRegularFile);
    EXPECT_EQ(pipe.why.type, fs::file_type::fifo);
    EXPECT_EQ(ClassifyPath(folder / "sock").why.type, fs::file_type::socket);
    EXPECT_EQ(ClassifyPath("/dev/null").why.type, fs::file_type::character);
}

TEST(ClassifyPath, PathInUnsearchableFolderIsMissingWithTheReason) {
    ScratchFolder folder;
    fs::create_directory(folder / "private");
    WriteBytes(folder / "private" / "a.txt", Bytes{1});
    ASSERT_EQ(::chmod(folder.path().c_str(), 0755), 0);
    ASSERT_EQ(::chmod((folder / "private").c_str(), 0700), 0);
    if (::geteuid() != 0) {
        ASSERT_EQ(::chmod((folder / "private").c_str(), 0), 0);
    }
    const auto result = RunInChild(
        [&](std::string& text) {
            const PathInfo info = ClassifyPath(folder / "private" / "a.txt");
            text = Utf16ToUtf8(info.why.description);
            return static_cast<int>(info.kind);
        },
        true);
    EXPECT_EQ(result.exitCode, static_cast<int>(PathKind::Missing));
    EXPECT_EQ(result.text, Utf16ToUtf8(SystemErrorText(EACCES)));
}

TEST(IdentifyFile, SameRealFileThroughAnyNameAndDistinctOtherwise) {
    ScratchFolder folder;
    WriteBytes(folder / "a.txt", Bytes{1});
    WriteBytes(folder / "b.txt", Bytes{1});
    fs::create_hard_link(folder / "a.txt", folder / "hard.txt");
    fs::create_symlink("a.txt", folder / "soft.txt");
    fs::create_directory(folder / "sub");
    fs::create_directory_symlink("sub", folder / "to-sub");

    const auto a = IdentifyFile(folder / "a.txt");
    ASSERT_TRUE(a.has_value());
    EXPECT_EQ(IdentifyFile(folder / "hard.txt"), a);
    EXPECT_EQ(IdentifyFile(folder / "soft.txt"), a);
    EXPECT_EQ(IdentifyFile(folder / "sub" / ".." / "a.txt"), a);
    EXPECT_NE(IdentifyFile(folder / "b.txt"), a);
    EXPECT_EQ(IdentifyFile(folder / "to-sub"), IdentifyFile(folder / "sub"));
    EXPECT_NE(IdentifyFile(folder / "sub"), a);
    EXPECT_FALSE(IdentifyFile(folder / "nothing").has_value());
}

// Opening a FIFO for reading would wait for a writer; the child's alarm turns a hang into a
// failure.
TEST(FileTransformSpecialFiles, FifoSocketAndDeviceFailPromptlyAndStayAsTheyAre) {
    ScratchFolder folder;
    ASSERT_EQ(::mkfifo((folder / "pipe").c_str(), 0600), 0);
    const BoundSocket socket(folder / "sock");
    ASSERT_TRUE(socket.bound());
    struct Case {
        fs::path path;
        std::string description;
    };
    const Case cases[] = {
        {folder / "pipe",
         FailureSummary(FileFailure::At({}, Failure::NotRegular(fs::file_type::fifo)))},
        {folder / "sock",
         FailureSummary(FileFailure::At({}, Failure::NotRegular(fs::file_type::socket)))},
        {"/dev/zero",
         FailureSummary(FileFailure::At({}, Failure::NotRegular(fs::file_type::character)))},
    };
    for (const Case& special : cases) {
        const auto result = RunInChild(
            [&](std::string& text) { return OutcomeCode(EncryptFile(special.path, 10), text); },
            false, 20);
        EXPECT_TRUE(result.exited) << special.path << " ended by signal " << result.signal;
        EXPECT_EQ(result.exitCode, kFailedCode) << special.path;
        EXPECT_EQ(result.text, special.description) << special.path;
    }
    EXPECT_EQ(fs::status(folder / "pipe").type(), fs::file_type::fifo);
    EXPECT_EQ(fs::status("/dev/zero").type(), fs::file_type::character);
    EXPECT_EQ(FolderNames(folder.path()), (std::vector<std::string>{"pipe", "sock"}));
}

}  // namespace
}  // namespace kestrove
