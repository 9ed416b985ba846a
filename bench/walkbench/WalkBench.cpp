// kestrove-walkbench DIR                 walk DIR as a dropped folder is walked; print the paths
// kestrove-walkbench --compare DIR       time that walk against find(1), best of 5 each
// kestrove-walkbench --make-tree DIR [FOLDERS [FILES]]   make a test tree (default 1000, 100000)

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "FolderWalker.h"
#include "TextCodec.h"
#include "WalkTree.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

constexpr int kRounds = 5;
constexpr double kTarget = 0.8;

struct Walked {
    std::vector<fs::path> files;
    std::size_t failures = 0;
    double seconds = 0;
};

// Exactly what a folder dropped on the window goes through.
Walked WalkDropped(const fs::path& dir) {
    Walked walked;
    kestrove::WalkObserver observer;
    observer.onFailure = [&](const kestrove::FileFailure& failure) {
        ++walked.failures;
        std::fprintf(stderr, "cannot list %s: %s\n", failure.path.c_str(),
                     kestrove::Utf16ToUtf8(failure.description).c_str());
    };
    const auto start = Clock::now();
    kestrove::CollectFolderFiles({dir}, u"*.*", walked.files, true, observer);
    walked.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return walked;
}

// Runs find over dir with its output sent to outputPath; returns the wall time, or a negative
// value when find could not be run or failed.
double TimeFind(const fs::path& dir, const char* outputPath) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outputPath,
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::string dirText = dir.string();
    char find[] = "find", type[] = "-type", f[] = "f", name[] = "-name", pattern[] = "*.*";
    char* argv[] = {find, dirText.data(), type, f, name, pattern, nullptr};
    const auto start = Clock::now();
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, "find", &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        std::fprintf(stderr, "cannot run find: %s\n", std::strerror(spawned));
        return -1;
    }
    int status = 0;
    waitpid(pid, &status, 0);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? seconds : -1;
}

int PrintWalk(const fs::path& dir) {
    const Walked walked = WalkDropped(dir);
    std::string out;
    for (const auto& file : walked.files) {
        out.append(file.native()).push_back('\n');
        if (out.size() > (1u << 20)) {
            std::fwrite(out.data(), 1, out.size(), stdout);
            out.clear();
        }
    }
    std::fwrite(out.data(), 1, out.size(), stdout);
    std::fflush(stdout);
    std::fprintf(stderr, "%zu files selected in %.2f ms; %zu folders could not be listed\n",
                 walked.files.size(), walked.seconds * 1e3, walked.failures);
    return walked.failures == 0 ? 0 : 1;
}

// The same files as find reports, in any order: otherwise the timing compares different work.
bool SameFilesAsFind(const fs::path& dir, const std::vector<fs::path>& ours) {
    char listing[] = "/tmp/kestrove-walkbench-XXXXXX";
    const int fd = mkstemp(listing);
    if (fd < 0) {
        return false;
    }
    close(fd);
    const bool ran = TimeFind(dir, listing) >= 0;
    std::vector<std::string> found;
    if (FILE* in = std::fopen(listing, "r")) {
        char line[8192];
        while (std::fgets(line, sizeof line, in) != nullptr) {
            found.emplace_back(line, std::strcspn(line, "\n"));
        }
        std::fclose(in);
    }
    unlink(listing);
    std::vector<std::string> mine;
    for (const auto& path : ours) {
        mine.push_back(path.native());
    }
    std::sort(found.begin(), found.end());
    std::sort(mine.begin(), mine.end());
    std::fprintf(stderr, "find lists %zu files, the walk %zu\n", found.size(), mine.size());
    return ran && found == mine;
}

int Compare(const fs::path& dir) {
    Walked warm = WalkDropped(dir);
    if (!SameFilesAsFind(dir, warm.files)) {
        std::fprintf(stderr, "the walk and find do not list the same files; not timing\n");
        return 1;
    }
    double bestWalk = 1e30;
    double bestFind = 1e30;
    for (int round = 0; round < kRounds; ++round) {
        bestWalk = std::min(bestWalk, WalkDropped(dir).seconds);
        const double find = TimeFind(dir, "/dev/null");
        if (find < 0) {
            return 1;
        }
        bestFind = std::min(bestFind, find);
    }
    const double ratio = bestWalk / bestFind;
    std::printf("files selected   %zu\n", warm.files.size());
    std::printf("walk, best of %d %.2f ms\n", kRounds, bestWalk * 1e3);
    std::printf("find, best of %d %.2f ms\n", kRounds, bestFind * 1e3);
    std::printf("ratio walk/find  %.2f (target <= %.2f: %s)\n", ratio, kTarget,
                ratio <= kTarget ? "met" : "missed");
    return 0;
}

int Usage() {
    std::fprintf(stderr,
                 "usage: kestrove-walkbench DIR\n"
                 "       kestrove-walkbench --compare DIR\n"
                 "       kestrove-walkbench --make-tree DIR [FOLDERS [FILES]]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 1 && args[0].rfind("--", 0) != 0) {
        return PrintWalk(args[0]);
    }
    if (args.size() == 2 && args[0] == "--compare") {
        return Compare(args[1]);
    }
    if (args.size() >= 2 && args.size() <= 4 && args[0] == "--make-tree") {
        const std::size_t folders = args.size() > 2 ? std::stoul(args[2]) : 1000;
        const std::size_t files = args.size() > 3 ? std::stoul(args[3]) : 100000;
        return kestrove::bench::MakeTree(args[1], folders, files) ? 0 : 1;
    }
    return Usage();
}
