// The compact list a walk fills: every path comes back exactly as it went in, across folders and
// across the blocks its names are kept in.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "FileList.h"

namespace kestrove {
namespace {

namespace fs = std::filesystem;

NativeString Name(std::size_t i, std::size_t length) {
    NativeString name;
    for (std::size_t k = 0; k < length; ++k) {
        name.push_back(static_cast<fs::path::value_type>('a' + (i + k) % 26));
    }
    return name;
}

TEST(FileList, GivesBackEveryPathInOrderAcrossFoldersAndBlocks) {
    FileList list;
    std::vector<fs::path> expected;
    // Long names, so that they fill several of the list's blocks and meet their ends.
    for (std::size_t folder = 0; folder < 40; ++folder) {
        const fs::path prefix = fs::path("root") / ("folder" + std::to_string(folder)) / "";
        list.StartFolder(prefix.native());
        for (std::size_t file = 0; file < 30; ++file) {
            const NativeString name = Name(folder * 31 + file, 1 + (folder * 7 + file * 13) % 250);
            list.Add(name);
            expected.push_back(fs::path(prefix.native() + name));
        }
    }
    ASSERT_EQ(list.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        ASSERT_EQ(list.PathAt(i), expected[i]) << i;
    }
    EXPECT_EQ(list.Paths(), expected);
    list.Clear();
    EXPECT_TRUE(list.empty());
    list.StartFolder(fs::path("x/").native());
    list.Add(Name(0, 3));
    EXPECT_EQ(list.PathAt(0), fs::path("x/") / Name(0, 3));
}

TEST(FileList, NamesAreKeptAsTheyAreNotAsText) {
    FileList list;
    list.StartFolder(fs::path("d/").native());
#ifdef _WIN32
    const NativeString odd = {L'a', static_cast<wchar_t>(0xD800), L'b'};  // a lone surrogate
#else
    const NativeString odd = {'\xb2', '\xe2', '\xca', '\xd4', '.', 't', 'x', 't'};  // GBK bytes
#endif
    list.Add(odd);
    EXPECT_EQ(list.PathAt(0).native(), fs::path("d/").native() + odd);
}

}  // namespace
}  // namespace kestrove
