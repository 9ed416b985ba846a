// A dropped folder whose deepest paths are longer than the system takes (PATH_MAX): what can be
// reached is transformed, each file or folder beyond the limit is reported on its own, and the
// drop goes on to its end. The tree is built, read and removed through descriptors, since its
// deeper paths cannot be used whole.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "DropFixture.h"
#include "TextCodec.h"

namespace kestrove::testing {
namespace {

constexpr std::size_t kLevelNameLength = 250;
// Where the last reachable level of the chain ends: far enough below the limit that its files
// and their temporary files fit, one level name short of passing it.
constexpr std::size_t kLastReachableLength = PATH_MAX - 120;
constexpr int kLevelsBeyond = 4;

int OpenFolderAt(int parent, const std::string& name) {
    return ::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

// Removes name, in the folder open as parent, with everything in it.
void RemoveAt(int parent, const std::string& name) {
    const int fd = OpenFolderAt(parent, name);
    if (fd < 0) {
        ::unlinkat(parent, name.c_str(), 0);
        return;
    }
    std::vector<std::string> names;
    DIR* listing = ::fdopendir(fd);
    while (const dirent* entry = ::readdir(listing)) {
        const std::string entryName = entry->d_name;
        if (entryName != "." && entryName != "..") {
            names.push_back(entryName);
        }
    }
    for (const std::string& entryName : names) {
        RemoveAt(fd, entryName);
    }
    ::closedir(listing);
    ::unlinkat(parent, name.c_str(), AT_REMOVEDIR);
}

class DropLongPathTest : public DropTest {
  protected:
    ~DropLongPathTest() override {
        for (int fd : m_levels) {
            ::close(fd);
        }
        const int top = OpenFolderAt(AT_FDCWD, dir.path().native());
        RemoveAt(top, "deep");
        ::close(top);
    }

    // dir/deep, then a chain of folders below it: the first named so that the last reachable
    // level ends at kLastReachableLength, the others of kLevelNameLength bytes each, each with
    // a file f.txt. Returns dir/deep.
    fs::path MakeChain() {
        const fs::path root = dir.path() / "deep";
        fs::create_directory(root);
        const std::size_t step = kLevelNameLength + 1;
        const std::size_t start = root.native().size() + 1;
        std::size_t first = (kLastReachableLength - start) % step;
        if (first == 0) {
            first = step;
        }
        int parent = OpenFolderAt(AT_FDCWD, root.native());
        m_levels.push_back(parent);
        std::size_t length = root.native().size();
        while (length < PATH_MAX + kLevelsBeyond * step) {
            const std::string name(m_lengths.empty() ? first : kLevelNameLength, 'd');
            length += 1 + name.size();
            if (::mkdirat(parent, name.c_str(), 0700) != 0 ||
                (parent = OpenFolderAt(parent, name)) < 0) {
                throw std::runtime_error("cannot build the chain");
            }
            m_levels.push_back(parent);
            m_lengths.push_back(length);
            m_plain.push_back(SampleBytes(100 + m_lengths.size(), 7));
            WriteAt(parent, "f.txt", m_plain.back());
        }
        return root;
    }

    static void WriteAt(int folder, const std::string& name,
                        const std::vector<std::uint8_t>& bytes) {
        const int fd =
            ::openat(folder, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        const bool written = fd >= 0 && ::write(fd, bytes.data(), bytes.size()) ==
                                            static_cast<ssize_t>(bytes.size());
        ::close(fd);
        if (!written) {
            throw std::runtime_error("cannot write " + name);
        }
    }

    static std::vector<std::uint8_t> ReadAt(int folder, const std::string& name) {
        std::vector<std::uint8_t> bytes(4096);
        const int fd = ::openat(folder, name.c_str(), O_RDONLY | O_CLOEXEC);
        const ssize_t got = fd >= 0 ? ::read(fd, bytes.data(), bytes.size()) : -1;
        ::close(fd);
        bytes.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
        return bytes;
    }

    std::vector<int> m_levels;                       // the root, then each level of the chain
    std::vector<std::size_t> m_lengths;              // the length of each level's full path
    std::vector<std::vector<std::uint8_t>> m_plain;  // each level's f.txt as written
};

TEST_F(DropLongPathTest, WhatLiesBeyondTheLimitFailsOnItsOwnAndTheDropGoesOn) {
    Open();
    const fs::path root = MakeChain();
    std::size_t reachable = 0;
    while (m_lengths[reachable] <= kLastReachableLength) {
        ++reachable;
    }
    ASSERT_EQ(m_lengths[reachable - 1], kLastReachableLength);
    ASSERT_GE(m_lengths[reachable], static_cast<std::size_t>(PATH_MAX));
    ASSERT_GE(m_lengths.size() - reachable, static_cast<std::size_t>(kLevelsBeyond));
    // A file in the last reachable folder whose own full path is too long.
    const std::string longName = std::string(200, 'l') + ".txt";
    const auto longPlain = SampleBytes(300, 9);
    WriteAt(m_levels[reachable], longName, longPlain);
    const fs::path after = MakeFile(dir.path() / "after.txt", 90);

    ASSERT_TRUE(Drop(0, {root, after}));
    ASSERT_TRUE(WaitForDrops(1));
    for (std::size_t level = 0; level < m_lengths.size(); ++level) {
        const auto expected = level < reachable ? Encrypted(m_plain[level], kKey) : m_plain[level];
        EXPECT_EQ(ReadAt(m_levels[level + 1], "f.txt"), expected) << "level " << level + 1;
    }
    EXPECT_EQ(ReadAt(m_levels[reachable], longName), longPlain);
    ExpectEncrypted(after);
    // One box for the too long file, one for the first folder that cannot be opened; nothing is
    // reported about what lies below that folder.
    const QString tooLong =
        QStringLiteral("加密时") + QString::fromStdU16String(SystemErrorText(ENAMETOOLONG));
    ASSERT_EQ(ui.boxes.boxes.size(), 2u);
    EXPECT_EQ(ui.boxes.boxes[0].text, tooLong);
    EXPECT_EQ(ui.boxes.boxes[1].text, tooLong);
    EXPECT_EQ(ended, (std::vector<std::pair<int, bool>>{{0, true}}));
    EXPECT_TRUE(Tip(0)->isVisible());
}

}  // namespace
}  // namespace kestrove::testing
