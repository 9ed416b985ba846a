#include "WalkTree.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <system_error>
#include <vector>

namespace kestrove::bench {

namespace {

constexpr std::size_t kTopFolders = 10;

std::filesystem::path FolderPath(const std::filesystem::path& dir, std::size_t index) {
    char name[32];
    std::snprintf(name, sizeof name, "d%zu", index % kTopFolders);
    std::filesystem::path path = dir / name;
    if (index >= kTopFolders) {
        std::snprintf(name, sizeof name, "s%zu", index);
        path /= name;
    }
    return path;
}

bool MakeFile(const std::filesystem::path& path) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        std::perror(path.c_str());
        return false;
    }
    close(fd);
    return true;
}

}  // namespace

bool MakeTree(const std::filesystem::path& dir, std::size_t folders, std::size_t files) {
    if (folders == 0) {
        std::fprintf(stderr, "a tree needs at least one folder\n");
        return false;
    }
    std::vector<std::filesystem::path> made;
    made.reserve(folders);
    for (std::size_t i = 0; i < folders; ++i) {
        std::error_code error;
        made.push_back(FolderPath(dir, i));
        std::filesystem::create_directories(made.back(), error);
        if (error) {
            std::fprintf(stderr, "%s: %s\n", made.back().c_str(), error.message().c_str());
            return false;
        }
    }
    for (std::size_t i = 0; i < files; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, i % 10 == 9 ? "plain%07zu" : "file%07zu.dat", i);
        if (!MakeFile(made[i % folders] / name)) {
            return false;
        }
    }
    std::fprintf(stderr, "made %zu folders with %zu files in %s\n", folders, files, dir.c_str());
    return true;
}

}  // namespace kestrove::bench
