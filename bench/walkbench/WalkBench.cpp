// kestrove-walkbench DIR                 walk DIR as a dropped folder is walked; print the paths
// kestrove-walkbench --compare DIR       time that walk against find(1), each run in a fresh
//                                        process, interleaved, best and median of 5 each; and
//                                        the memory the walk holds per file
// kestrove-walkbench --make-tree DIR [FOLDERS [FILES]]   make a test tree (default 1000, 100000)
//
// Goals: a fresh process walks in at most 0.8x the time of find; the list holds at most 64 bytes
// per file beyond the bytes of its name.

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
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
constexpr double kBytesPerFileTarget = 64;

struct Walked {
    kestrove::FileList files;
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

// Runs a program and returns its wall time from start to end, or a negative value when it could not
// be run or failed.
double TimeProgram(std::vector<std::string> args, const char* outputPath) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outputPath,
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<char*> argv;
    for (std::string& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    const auto start = Clock::now();
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        std::fprintf(stderr, "cannot run %s: %s\n", argv[0], std::strerror(spawned));
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
    for (std::size_t i = 0; i < walked.files.size(); ++i) {
        out.append(walked.files.PathAt(i).native()).push_back('\n');
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
bool SameFilesAsFind(const fs::path& dir, const kestrove::FileList& ours) {
    char listing[] = "/tmp/kestrove-walkbench-XXXXXX";
    const int fd = mkstemp(listing);
    if (fd < 0) {
        return false;
    }
    close(fd);
    const bool ran =
        TimeProgram({"find", dir.string(), "-type", "f", "-name", "*.*"}, listing) >= 0;
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
    for (std::size_t i = 0; i < ours.size(); ++i) {
        mine.push_back(ours.PathAt(i).native());
    }
    std::sort(found.begin(), found.end());
    std::sort(mine.begin(), mine.end());
    std::fprintf(stderr, "find lists %zu files, the walk %zu\n", found.size(), mine.size());
    return ran && found == mine;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// What the list of a walk holds per file beyond the bytes of the names, and the process's peak.
void ReportMemory(const Walked& walked) {
    std::size_t nameBytes = 0;
    for (std::size_t i = 0; i < walked.files.size(); ++i) {
        nameBytes += walked.files.PathAt(i).filename().native().size();
    }
    const double perFile =
        walked.files.empty()
            ? 0
            : static_cast<double>(walked.files.BytesHeld() - nameBytes) / walked.files.size();
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf(
        "list held        %.1f MiB, %.1f bytes per file beyond its name (target <= %.0f: "
        "%s); peak memory of this process %ld MiB\n",
        walked.files.BytesHeld() / 1048576.0, perFile, kBytesPerFileTarget,
        perFile <= kBytesPerFileTarget ? "met" : "missed", usage.ru_maxrss / 1024);
}

int Compare(const fs::path& dir, const char* self) {
    Walked warm = WalkDropped(dir);
    if (!SameFilesAsFind(dir, warm.files)) {
        std::fprintf(stderr, "the walk and find do not list the same files; not timing\n");
        return 1;
    }
    ReportMemory(warm);
    std::vector<double> walks;
    std::vector<double> finds;
    for (int round = 0; round < kRounds; ++round) {
        const double walk = TimeProgram({self, "--walk-quietly", dir.string()}, "/dev/null");
        const double find =
            TimeProgram({"find", dir.string(), "-type", "f", "-name", "*.*"}, "/dev/null");
        if (walk < 0 || find < 0) {
            return 1;
        }
        walks.push_back(walk);
        finds.push_back(find);
    }
    const double best = *std::min_element(walks.begin(), walks.end()) /
                        *std::min_element(finds.begin(), finds.end());
    const double median = Median(walks) / Median(finds);
    std::printf("files selected   %zu\n", warm.files.size());
    std::printf("fresh walk       best %.2f ms, median %.2f ms\n",
                *std::min_element(walks.begin(), walks.end()) * 1e3, Median(walks) * 1e3);
    std::printf("fresh find       best %.2f ms, median %.2f ms\n",
                *std::min_element(finds.begin(), finds.end()) * 1e3, Median(finds) * 1e3);
    std::printf("ratio walk/find  best %.2f, median %.2f (target <= %.2f: %s)\n", best, median,
                kTarget, best <= kTarget ? "met" : "missed");
    return 0;
}

int Usage() {
    std::fprintf(stderr,
                 "usage: kestrove-walkbench DIR\n"
                 "       kestrove-walkbench --compare DIR\n"
                 "       kestrove-walkbench --walk-quietly DIR\n"
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
        return Compare(args[1], argv[0]);
    }
    if (args.size() == 2 && args[0] == "--walk-quietly") {
        return WalkDropped(args[1]).failures == 0 ? 0 : 1;
    }
    if (args.size() >= 2 && args.size() <= 4 && args[0] == "--make-tree") {
        const std::size_t folders = args.size() > 2 ? std::stoul(args[2]) : 1000;
        const std::size_t files = args.size() > 3 ? std::stoul(args[3]) : 100000;
        return kestrove::bench::MakeTree(args[1], folders, files) ? 0 : 1;
    }
    return Usage();
}
